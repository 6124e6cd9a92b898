#include "core/CheckerLayout.h"

namespace tarn {

int scaleMetric(int ppi, int x) {
    return static_cast<int>(static_cast<long long>(ppi) * x / 120);
}

CheckerLayout computeCheckerLayout(const CheckerMetrics& m, int ppi, const std::vector<bool>& shown,
                                   bool round) {
    CheckerLayout out;
    const int w = scaleMetric(ppi, m.CheckerWidth);
    const int h = scaleMetric(ppi, m.CheckerHeight);
    const int t = scaleMetric(ppi, m.VSpace);
    int k = 0;
    out.fields.resize(shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (!shown[i])
            continue;
        ++k;
        const int left = scaleMetric(ppi, 2 * m.HSpace + (m.CheckerWidth + m.HSpace) * (k - 1));
        out.fields[i] = {true, {left, t, w, h}};
    }
    out.width = scaleMetric(ppi, 3 * m.HSpace + k * (m.CheckerWidth + m.HSpace));
    out.height = scaleMetric(ppi, 2 * m.VSpace + m.CheckerHeight);
    out.region.round = round;
    out.region.width = out.width;
    out.region.height = out.height;
    if (round) {
        // The corner's width adds the unscaled space, as the window always has.
        out.region.ellipseWidth = w + m.HSpace;
        out.region.ellipseHeight = out.height;
    }
    return out;
}

bool panelHasBevels(bool blueSetInUse, bool round) {
    return blueSetInUse || !round;
}

int addedAccountCurrentX(const CheckerMetrics& m, int ppi, int windowWidth, int windowLeft,
                         int currentX, int screenWidth) {
    const int cw = scaleMetric(ppi, m.CheckerWidth);
    const int hs = scaleMetric(ppi, m.HSpace);
    if (cw + windowWidth + currentX + hs > screenWidth)
        return windowLeft - cw - hs;
    return currentX;
}

} // namespace tarn
