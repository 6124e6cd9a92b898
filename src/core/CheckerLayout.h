#pragma once

#include <vector>

namespace tarn {

struct LayoutRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const LayoutRect&) const = default;
};

// The window's shape: a rounded rectangle (corner ellipse ellipseWidth x ellipseHeight) or a
// plain rectangle, both from (0, 0) to (width, height).
struct CheckerRegion {
    bool round = false;
    int width = 0;
    int height = 0;
    int ellipseWidth = 0;
    int ellipseHeight = 0;
    bool operator==(const CheckerRegion&) const = default;
};

struct CheckerMetrics {
    int CheckerWidth = 26;
    int CheckerHeight = 18;
    int VSpace = 8;
    int HSpace = 9;
};

struct CheckerLayout {
    // fields[a - 1] belongs to account a; a hidden field keeps an empty rectangle.
    struct Field {
        bool visible = false;
        LayoutRect rect;
    };
    std::vector<Field> fields;
    int width = 0;
    int height = 0;
    CheckerRegion region;
};

// Metrics are in 1/120 inch: ppi * x / 120 pixels, truncated toward zero.
int scaleMetric(int ppi, int x);

// Field and window geometry for the accounts' Show flags (shown[a - 1] for account a).
CheckerLayout computeCheckerLayout(const CheckerMetrics& metrics, int ppi,
                                   const std::vector<bool>& shown, bool round);

// Whether the background panel carries its two bevels: with the blue set, or when not round.
bool panelHasBevels(bool blueSetInUse, bool round);

// The current X position after an account was added: moved left by one field and one space
// when the window would reach past the screen's right edge.
int addedAccountCurrentX(const CheckerMetrics& metrics, int ppi, int windowWidth, int windowLeft,
                         int currentX, int screenWidth);

} // namespace tarn
