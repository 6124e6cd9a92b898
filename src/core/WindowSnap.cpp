#include "core/WindowSnap.h"

namespace tarn {

WindowGeometry WindowSnap::snap(WindowGeometry p, const WorkArea& a, bool quitting,
                                bool snapWindow) {
    if (quitting || !snapWindow)
        return p;

    if (p.x <= a.left + Threshold) {
        p.x = a.left;
        m_snapped = true;
    }
    if (p.x + p.cx >= a.right - Threshold) {
        p.x = a.right - p.cx;
        m_snapped = true;
    }
    if (p.y <= a.top + Threshold) {
        p.y = a.top;
        m_snapped = true;
    }
    if (p.y + p.cy >= a.bottom - Threshold) {
        p.y = a.bottom - p.cy;
        m_snapped = true;
    }

    if (m_snapped) {
        if (p.x < a.left)
            p.x = a.left;
        if (p.x + p.cx > a.right)
            p.x = a.right - p.cx;
        if (p.y < a.top)
            p.y = a.top;
        if (p.y + p.cy > a.bottom)
            p.y = a.bottom - p.cy;
    }
    return p;
}

bool shouldFloatOnMouseMove(bool ctrlHeld, bool floating) {
    return floating && !ctrlHeld;
}

ScreenPoint floatingJumpTarget(ScreenPoint current, ScreenPoint defaultPos,
                               ScreenPoint alternativePos) {
    return current == defaultPos ? alternativePos : defaultPos;
}

bool shouldFloatBack(bool quitting, ScreenPoint current, ScreenPoint defaultPos) {
    return !quitting && !(current == defaultPos);
}

ResetPositions resetWindowPositions(int screenWidth, int screenHeight, int windowWidth,
                                    int windowHeight) {
    ResetPositions r;
    r.defaultPos = {screenWidth - windowWidth, screenHeight - windowHeight - 30};
    r.alternativePos = {1, screenHeight - windowHeight - 30};
    r.currentPos = r.defaultPos;
    return r;
}

ScreenPoint centredOnScreen(int screenWidth, int screenHeight, int width, int height) {
    // Integer division truncates toward zero, also for a window larger than the screen.
    return {(screenWidth - width) / 2, (screenHeight - height) / 2};
}

const char* makeDefaultPositionWarning(ScreenPoint defaultPos, ScreenPoint alternativePos) {
    return defaultPos == alternativePos ? "Warning: Default and Alternative Positions are the Same!"
                                        : "";
}

const char* makeAlternativePositionWarning(ScreenPoint defaultPos, ScreenPoint alternativePos) {
    return defaultPos == alternativePos ? "Warning: Default and Alternative Positions Are the Same!"
                                        : "";
}

WindowGeometry placeClearOf(WindowGeometry window, WindowGeometry obstacle, const WorkArea& area,
                            int gap) {
    const bool overlap = window.x < obstacle.x + obstacle.cx && obstacle.x < window.x + window.cx &&
                         window.y < obstacle.y + obstacle.cy && obstacle.y < window.y + window.cy;
    if (!overlap || obstacle.cx <= 0 || obstacle.cy <= 0)
        return window;
    auto clampTo = [](int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); };
    const int maxX = area.right - window.cx;
    const int maxY = area.bottom - window.cy;
    const WindowGeometry candidates[] = {
        {obstacle.x - gap - window.cx, clampTo(window.y, area.top, maxY), window.cx, window.cy},
        {obstacle.x + obstacle.cx + gap, clampTo(window.y, area.top, maxY), window.cx, window.cy},
        {clampTo(window.x, area.left, maxX), obstacle.y - gap - window.cy, window.cx, window.cy},
        {clampTo(window.x, area.left, maxX), obstacle.y + obstacle.cy + gap, window.cx, window.cy},
    };
    const WindowGeometry* best = nullptr;
    long long bestDistance = 0;
    for (const WindowGeometry& c : candidates) {
        if (c.x < area.left || c.y < area.top || c.x + c.cx > area.right ||
            c.y + c.cy > area.bottom)
            continue;
        const long long dx = c.x - window.x, dy = c.y - window.y;
        const long long distance = dx * dx + dy * dy;
        if (!best || distance < bestDistance) {
            best = &c;
            bestDistance = distance;
        }
    }
    return best ? *best : window;
}

} // namespace tarn
