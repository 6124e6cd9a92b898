#include "core/DateFormat.h"
#include "core/Clock.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

double at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    double v = 0;
    EXPECT_TRUE(encodeDateTime(y, mo, d, h, mi, s, v));
    return v;
}

TEST(DateFormatTest, ShortDateInTheCLocale) {
    struct Case {
        double date;
        const char* text;
    } cases[] = {
        {at(2024, 6, 15, 14, 5), "06/15/24"},     {at(2024, 2, 29), "02/29/24"},
        {at(2000, 1, 1, 23, 59, 59), "01/01/00"}, {0.0, "12/30/99"},
        {at(1999, 12, 31, 12), "12/31/99"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatShortDate(c.date, "C"), c.text) << c.date;
}

TEST(DateFormatTest, UnknownLocaleFallsBackToC) {
    EXPECT_EQ(formatShortDate(at(2024, 6, 15), "xx_NOWHERE.UTF-8"), "06/15/24");
}

TEST(DateFormatTest, TimeOfDayIsHoursAndMinutes) {
    EXPECT_EQ(formatTimeOfDay(at(2024, 6, 15, 14, 5, 59)), "14:05");
    EXPECT_EQ(formatTimeOfDay(at(2024, 6, 15, 9, 0)), "09:00");
    EXPECT_EQ(formatTimeOfDay(at(2024, 6, 15)), "00:00");
    EXPECT_EQ(formatTimeOfDay(at(2024, 6, 15, 23, 59, 59)), "23:59");
}

TEST(DateFormatTest, DateTimeAlwaysShowsTheTime) {
    const double midnight = at(2024, 6, 15);
    EXPECT_EQ(formatDateTime(midnight), formatShortDate(midnight) + " 00:00");
    EXPECT_EQ(formatDateTime(midnight + 30.0 / 86400), formatShortDate(midnight) + " 00:00");
    EXPECT_EQ(formatDateTime(at(2024, 6, 15, 14, 5)), formatShortDate(midnight) + " 14:05");
    // 86 microseconds before midnight rounds to the next day rather than showing 24:00.
    const double nextDay = at(2024, 6, 16);
    EXPECT_EQ(formatDateTime(nextDay - 0.000000001), formatShortDate(nextDay) + " 00:00");
}

} // namespace
} // namespace tarn
