#include "core/WindowSnap.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarn;

namespace {

// 1024 x 768 screen with a 30 pixel task bar at the bottom.
const WorkArea kArea{0, 0, 1024, 738};

struct SnapCase {
    const char* name;
    WindowGeometry proposal;
    bool quitting;
    bool snapWindow;
    WindowGeometry expected;
    bool snappedAfter;
};

class WindowSnapTable : public ::testing::TestWithParam<SnapCase> {};

TEST_P(WindowSnapTable, FreshWindow) {
    const SnapCase& c = GetParam();
    WindowSnap snap;
    EXPECT_EQ(snap.snap(c.proposal, kArea, c.quitting, c.snapWindow), c.expected);
    EXPECT_EQ(snap.snapped(), c.snappedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowSnapTable,
    ::testing::Values(
        // 950 + 77 >= 1024 - 15, so the right edge is met.
        SnapCase{"NearRight", {950, 300, 77, 27}, false, true, {947, 300, 77, 27}, true},
        SnapCase{"NearLeft", {10, 300, 77, 27}, false, true, {0, 300, 77, 27}, true},
        SnapCase{"ExactlyThresholdLeft", {15, 300, 77, 27}, false, true, {0, 300, 77, 27}, true},
        SnapCase{"JustOutsideThreshold", {16, 300, 77, 27}, false, true, {16, 300, 77, 27}, false},
        SnapCase{"RightJustOutside", {931, 300, 77, 27}, false, true, {931, 300, 77, 27}, false},
        SnapCase{"RightAtThreshold", {932, 300, 77, 27}, false, true, {947, 300, 77, 27}, true},
        SnapCase{"NearTop", {500, 12, 77, 27}, false, true, {500, 0, 77, 27}, true},
        // 700 + 27 >= 738 - 15: onto the task bar's edge.
        SnapCase{"NearBottom", {500, 700, 77, 27}, false, true, {500, 711, 77, 27}, true},
        SnapCase{"Corner", {1000, 730, 77, 27}, false, true, {947, 711, 77, 27}, true},
        SnapCase{"Middle", {500, 300, 77, 27}, false, true, {500, 300, 77, 27}, false},
        SnapCase{"OffLeftSnapsBack", {-40, 300, 77, 27}, false, true, {0, 300, 77, 27}, true},
        SnapCase{
            "SnapOffKeepsOffScreen", {-40, 760, 77, 27}, false, false, {-40, 760, 77, 27}, false},
        SnapCase{
            "SnapOffKeepsNearEdge", {950, 300, 77, 27}, false, false, {950, 300, 77, 27}, false},
        SnapCase{
            "QuittingPassesThrough", {950, 300, 77, 27}, true, true, {950, 300, 77, 27}, false},
        // Wider than the work area: it is aligned to the right edge.
        SnapCase{"WiderThanArea", {100, 300, 1100, 27}, false, true, {-76, 300, 1100, 27}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WindowSnap, SnappedFlagStaysAndKeepsWindowOnScreen) {
    WindowSnap snap;
    EXPECT_EQ(snap.snap({10, 300, 77, 27}, kArea, false, true).x, 0);
    ASSERT_TRUE(snap.snapped());

    // A move into the middle does not clear the flag.
    EXPECT_EQ(snap.snap({400, 300, 77, 27}, kArea, false, true),
              (WindowGeometry{400, 300, 77, 27}));
    EXPECT_TRUE(snap.snapped());

    // Dragged far past the edges: the window stays inside the work area.
    const WindowGeometry g = snap.snap({2000, -500, 77, 27}, kArea, false, true);
    EXPECT_EQ(g, (WindowGeometry{947, 0, 77, 27}));

    // Quitting and switching snapping off bypass it even after a snap.
    EXPECT_EQ(snap.snap({2000, -500, 77, 27}, kArea, true, true).x, 2000);
    EXPECT_EQ(snap.snap({2000, -500, 77, 27}, kArea, false, false).x, 2000);
    EXPECT_TRUE(snap.snapped());
}

TEST(WindowSnap, WorkAreaNotAtOrigin) {
    // A second screen or a task bar on the left shifts the work area.
    const WorkArea area{60, 20, 1084, 788};
    WindowSnap snap;
    EXPECT_EQ(snap.snap({70, 30, 77, 27}, area, false, true), (WindowGeometry{60, 20, 77, 27}));
    EXPECT_EQ(snap.snap({1000, 750, 77, 27}, area, false, true),
              (WindowGeometry{1007, 761, 77, 27}));
}

TEST(Floating, MouseMoveRule) {
    struct {
        bool ctrl, floating, expected;
    } cases[] = {
        {false, true, true}, {true, true, false}, {false, false, false}, {true, false, false}};
    for (const auto& c : cases)
        EXPECT_EQ(shouldFloatOnMouseMove(c.ctrl, c.floating), c.expected)
            << "ctrl=" << c.ctrl << " floating=" << c.floating;
}

TEST(Floating, JumpTargets) {
    const ScreenPoint def{947, 711};
    const ScreenPoint alt{1, 711};
    struct {
        const char* name;
        ScreenPoint current, def, alt, expected;
    } cases[] = {
        {"AtDefaultGoesToAlternative", def, def, alt, alt},
        {"AtAlternativeGoesToDefault", alt, def, alt, def},
        {"ElsewhereGoesToDefault", {500, 300}, def, alt, def},
        // Only x matching is not "at the default position".
        {"SameXOtherY", {947, 500}, def, alt, def},
        {"SameYOtherX", {500, 711}, def, alt, def},
        {"EqualPositionsStayPut", def, def, def, def},
        {"EqualPositionsFromElsewhere", {3, 4}, def, def, def},
    };
    for (const auto& c : cases)
        EXPECT_EQ(floatingJumpTarget(c.current, c.def, c.alt), c.expected) << c.name;
}

TEST(Floating, FloatBackRule) {
    const ScreenPoint def{947, 711};
    EXPECT_TRUE(shouldFloatBack(false, {1, 711}, def));
    EXPECT_FALSE(shouldFloatBack(false, def, def));
    EXPECT_FALSE(shouldFloatBack(true, {1, 711}, def));
}

TEST(Floating, ResetPositions) {
    const ResetPositions r = resetWindowPositions(1024, 768, 77, 27);
    EXPECT_EQ(r.defaultPos, (ScreenPoint{947, 711}));
    EXPECT_EQ(r.alternativePos, (ScreenPoint{1, 711}));
    EXPECT_EQ(r.currentPos, r.defaultPos);

    EXPECT_EQ(centredOnScreen(1024, 768, 425, 167), (ScreenPoint{299, 300}));
    // Larger than the screen: truncated toward zero, not floored.
    EXPECT_EQ(centredOnScreen(800, 600, 803, 605), (ScreenPoint{-1, -2}));
}

TEST(Floating, PositionWarnings) {
    EXPECT_STREQ(makeDefaultPositionWarning({5, 6}, {5, 6}),
                 "Warning: Default and Alternative Positions are the Same!");
    EXPECT_STREQ(makeAlternativePositionWarning({5, 6}, {5, 6}),
                 "Warning: Default and Alternative Positions Are the Same!");
    EXPECT_STREQ(makeDefaultPositionWarning({5, 6}, {5, 7}), "");
    EXPECT_STREQ(makeAlternativePositionWarning({4, 6}, {5, 6}), "");
}

} // namespace
