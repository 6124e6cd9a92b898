#include "core/WindowSnap.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

// A window the checker window would cover moves beside it, as little as it can, and stays on
// the screen; a window that is clear, or that fits nowhere beside it, stays.
TEST(PlaceClearOf, NearestPlaceBesideTheCheckerOnTheScreen) {
    const WorkArea screen{0, 0, 1280, 1024};
    struct {
        const char* what;
        WindowGeometry window, checker, expected;
    } cases[] = {
        {"clear stays", {100, 100, 600, 400}, {1200, 0, 80, 40}, {100, 100, 600, 400}},
        {"touching edge is clear", {100, 100, 600, 400}, {700, 100, 80, 40}, {100, 100, 600, 400}},
        {"checker at the bottom right corner over the Close button",
         {640, 580, 600, 400},
         {1150, 950, 120, 60},
         {640, 546, 600, 400}},
        {"checker at the top right: left of it is nearest",
         {900, 10, 300, 200},
         {1180, 0, 100, 40},
         {876, 10, 300, 200}},
        {"checker in the middle of a small window: below",
         {400, 300, 400, 300},
         {580, 310, 40, 20},
         {400, 334, 400, 300}},
        {"fits nowhere stays", {0, 0, 1280, 1024}, {600, 500, 80, 40}, {0, 0, 1280, 1024}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const WindowGeometry got = placeClearOf(c.window, c.checker, screen);
        EXPECT_EQ(got, c.expected) << got.x << "," << got.y;
        // Whatever moved no longer overlaps and is on the screen.
        if (!(got == c.window)) {
            EXPECT_TRUE(got.x + got.cx <= c.checker.x || c.checker.x + c.checker.cx <= got.x ||
                        got.y + got.cy <= c.checker.y || c.checker.y + c.checker.cy <= got.y);
            EXPECT_GE(got.x, 0);
            EXPECT_GE(got.y, 0);
            EXPECT_LE(got.x + got.cx, 1280);
            EXPECT_LE(got.y + got.cy, 1024);
        }
    }
}

} // namespace
} // namespace tarn
