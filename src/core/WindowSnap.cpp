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

} // namespace tarn
