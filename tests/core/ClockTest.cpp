#include "core/Clock.h"

#include <gtest/gtest.h>

using namespace tarn;

TEST(ClockTest, DateValuesCountDaysFrom30December1899) {
    struct Case {
        int y, m, d, hh, mm, ss;
        double expected;
    } cases[] = {
        {1899, 12, 30, 0, 0, 0, 0.0},   {1900, 1, 1, 12, 0, 0, 2.5},
        {1970, 1, 1, 0, 0, 0, 25569.0}, {2000, 2, 29, 6, 0, 0, 36585.25},
        {1902, 9, 26, 0, 0, 0, 1000.0},
    };
    for (const auto& c : cases) {
        double v = -1;
        ASSERT_TRUE(encodeDateTime(c.y, c.m, c.d, c.hh, c.mm, c.ss, v)) << c.y;
        EXPECT_DOUBLE_EQ(v, c.expected) << c.y << "-" << c.m << "-" << c.d;
    }
}

TEST(ClockTest, InvalidCalendarDatesAreRejected) {
    double v = 0;
    EXPECT_FALSE(encodeDateTime(2001, 2, 29, 0, 0, 0, v));
    EXPECT_FALSE(encodeDateTime(2000, 13, 1, 0, 0, 0, v));
    EXPECT_FALSE(encodeDateTime(2000, 1, 1, 24, 0, 0, v));
    EXPECT_TRUE(encodeDateTime(2000, 2, 29, 23, 59, 59, v));
}

TEST(ClockTest, FixedClockAppliesItsOffset) {
    using namespace std::chrono;
    FixedClock clock(system_clock::time_point(seconds(0)), 120);
    EXPECT_DOUBLE_EQ(clock.localDateTime(), 25569.0 + 2.0 / 24.0);
    EXPECT_DOUBLE_EQ(clock.localToday(), 25569.0);
    clock.setOffset(-60);
    EXPECT_DOUBLE_EQ(clock.localToday(), 25568.0);
}
