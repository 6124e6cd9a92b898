#include "core/CheckerLayout.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarn {
namespace {

struct LayoutCase {
    int ppi;
    std::vector<bool> shown;
    bool round;
    int width, height;
    std::vector<int> lefts; // of the shown fields, in order
    int fieldW, fieldH, top;
    CheckerRegion region;
};

TEST(CheckerLayout, DefaultMetricsAtBothDensities) {
    const CheckerMetrics m; // 26, 18, 8, 9
    const std::vector<LayoutCase> cases = {
        {96, {true, true}, true, 77, 27, {14, 42}, 20, 14, 6, {true, 77, 27, 29, 27}},
        {120, {true, true}, true, 97, 34, {18, 53}, 26, 18, 8, {true, 97, 34, 35, 34}},
        {96, {true}, true, 49, 27, {14}, 20, 14, 6, {true, 49, 27, 29, 27}},
        {96, {false, false}, true, 21, 27, {}, 20, 14, 6, {true, 21, 27, 29, 27}},
        {96, {true, false, true}, false, 77, 27, {14, 42}, 20, 14, 6, {false, 77, 27, 0, 0}},
        {120,
         {false, true, true, true},
         false,
         132,
         34,
         {18, 53, 88},
         26,
         18,
         8,
         {false, 132, 34, 0, 0}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.ppi << " ppi, " << c.shown.size() << " accounts");
        const CheckerLayout l = computeCheckerLayout(m, c.ppi, c.shown, c.round);
        EXPECT_EQ(l.width, c.width);
        EXPECT_EQ(l.height, c.height);
        EXPECT_EQ(l.region, c.region);
        ASSERT_EQ(l.fields.size(), c.shown.size());
        std::vector<int> lefts;
        for (std::size_t i = 0; i < l.fields.size(); ++i) {
            EXPECT_EQ(l.fields[i].visible, c.shown[i]);
            if (!l.fields[i].visible)
                continue;
            lefts.push_back(l.fields[i].rect.left);
            EXPECT_EQ(l.fields[i].rect.top, c.top);
            EXPECT_EQ(l.fields[i].rect.width, c.fieldW);
            EXPECT_EQ(l.fields[i].rect.height, c.fieldH);
        }
        EXPECT_EQ(lefts, c.lefts);
    }
}

TEST(CheckerLayout, ScalingTruncatesTowardZero) {
    EXPECT_EQ(scaleMetric(96, 26), 20); // 20.8
    EXPECT_EQ(scaleMetric(144, 9), 10); // 10.8
    EXPECT_EQ(scaleMetric(120, 37), 37);
    EXPECT_EQ(scaleMetric(96, 0), 0);
}

TEST(CheckerLayout, PanelBevels) {
    EXPECT_TRUE(panelHasBevels(true, true));
    EXPECT_TRUE(panelHasBevels(true, false));
    EXPECT_TRUE(panelHasBevels(false, false));
    EXPECT_FALSE(panelHasBevels(false, true));
}

TEST(CheckerLayout, AddedAccountMovesLeftOnlyPastTheRightEdge) {
    const CheckerMetrics m;
    // 20 (field) + 77 (window) + 700 + 7 (space) = 804 > 800: moves left by 27.
    EXPECT_EQ(addedAccountCurrentX(m, 96, 77, 700, 700, 800), 673);
    // 20 + 77 + 696 + 7 = 800: stays.
    EXPECT_EQ(addedAccountCurrentX(m, 96, 77, 696, 696, 800), 696);
    // The move starts from the window's left edge, not from currentX.
    EXPECT_EQ(addedAccountCurrentX(m, 96, 77, 650, 760, 800), 623);
}

} // namespace
} // namespace tarn
