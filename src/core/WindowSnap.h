#pragma once

namespace tarn {

// A window's top-left corner and size, in screen pixels.
struct WindowGeometry {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
    bool operator==(const WindowGeometry&) const = default;
};

// The usable part of the screen; right and bottom are exclusive edges (left + width).
struct WorkArea {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct ScreenPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

// Where a window goes so that an always-on-top window (the checker) does not cover it: where
// it is when they do not overlap; else the nearest place beside the obstacle (left, right,
// above or below it) that lies wholly in the work area; where it is when none does.
WindowGeometry placeClearOf(WindowGeometry window, WindowGeometry obstacle, const WorkArea& area,
                            int gap = 4);

// Snaps every proposed position of the checker window to the edges of the work area.
// Once a snap has happened the window is also kept inside the work area for the rest of
// the process, so a snapped window cannot be dragged off the screen afterwards.
class WindowSnap {
public:
    static constexpr int Threshold = 15;

    // Returns the position to use instead of the proposal. With quitting set or snapWindow
    // off the proposal passes unchanged.
    WindowGeometry snap(WindowGeometry proposal, const WorkArea& area, bool quitting,
                        bool snapWindow);

    bool snapped() const { return m_snapped; }

private:
    bool m_snapped = false;
};

// Mouse movement over the window background makes it float away, unless Ctrl is held or
// floating is off.
bool shouldFloatOnMouseMove(bool ctrlHeld, bool floating);

// Where a floating jump goes: to the alternative position when the window sits exactly at
// the default position, else to the default position.
ScreenPoint floatingJumpTarget(ScreenPoint current, ScreenPoint defaultPos,
                               ScreenPoint alternativePos);

// The float-back tick jumps (back to the default position) only when not quitting and the
// window is away from the default position.
bool shouldFloatBack(bool quitting, ScreenPoint current, ScreenPoint defaultPos);

// "Reset Window Positions": the default position in the lower right corner above a 30 pixel
// task bar, the alternative one at the left edge; the current position is the default one.
struct ResetPositions {
    ScreenPoint defaultPos;
    ScreenPoint alternativePos;
    ScreenPoint currentPos;
};
ResetPositions resetWindowPositions(int screenWidth, int screenHeight, int windowWidth,
                                    int windowHeight);

// Where the mail list window goes on a reset: centred with its present size (rounded toward
// zero); its size then becomes MailListResetWidth x MailListResetHeight.
ScreenPoint centredOnScreen(int screenWidth, int screenHeight, int width, int height);
inline constexpr int MailListResetWidth = 425;
inline constexpr int MailListResetHeight = 167;

// Warning texts of "Make Default Position" and "Make Alternative Position" when the two
// positions end up equal; empty when they differ.
const char* makeDefaultPositionWarning(ScreenPoint defaultPos, ScreenPoint alternativePos);
const char* makeAlternativePositionWarning(ScreenPoint defaultPos, ScreenPoint alternativePos);

} // namespace tarn
