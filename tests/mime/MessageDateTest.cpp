#include "mime/MessageDate.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

constexpr int kLocalOffset = 60; // one hour east of UTC
constexpr double kMinute = 1.0 / 1440.0;

double at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    double v = 0;
    EXPECT_TRUE(encodeDateTime(y, mo, d, h, mi, s, v));
    return v;
}

struct DateCase {
    const char* name;
    std::string value;
    double expected; // local time
};

class DateCases : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateCases, Decodes) {
    EXPECT_NEAR(MessageDate::decode(GetParam().value, kLocalOffset), GetParam().expected, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DateCases,
    ::testing::Values(
        DateCase{"SameZoneAsLocal", "Tue, 5 Mar 2024 10:00:00 +0100", at(2024, 3, 5, 10)},
        DateCase{"WestZone", "Tue, 5 Mar 2024 10:00:00 -0500", at(2024, 3, 5, 16)},
        DateCase{"HalfHourZone", "5 Mar 2024 10:00 +0130", at(2024, 3, 5, 9, 30)},
        DateCase{"ZoneNameIsUtc", "5 Mar 2024 10:00:00 EST", at(2024, 3, 5, 11)},
        DateCase{"InvalidOffsetIsUtc", "5 Mar 2024 10:00:00 +9960", at(2024, 3, 5, 11)},
        DateCase{"ShortOffsetIsUtc", "5 Mar 2024 10:00:00 +010", at(2024, 3, 5, 11)},
        DateCase{"WeekdayAnyCase", "tue, 5 mar 2024 10:00:05 +0000", at(2024, 3, 5, 11, 0, 5)},
        DateCase{"DashSeparated", "05-Mar-2024 10:00:00 +0000", at(2024, 3, 5, 11)},
        DateCase{"MonthFirst", "Mar 5 2024 10:00:00 +0000", at(2024, 3, 5, 11)},
        DateCase{"TimeBeforeYear", "Tue Mar  5 10:20:30 2024", at(2024, 3, 5, 11, 20, 30)},
        DateCase{"Year79", "1 Jan 79 00:00:00 +0000", at(2079, 1, 1, 1)},
        DateCase{"Year80", "1 Jan 80 00:00:00 +0000", at(1980, 1, 1, 1)},
        DateCase{"Year1900", "5 Mar 1900", at(1900, 3, 5, 1)},
        DateCase{"NoTime", "5 Mar 2024", at(2024, 3, 5, 1)},
        DateCase{"MissingSeconds", "5 Mar 2024 10:07 +0000", at(2024, 3, 5, 11, 7)},
        DateCase{"DayNotANumberIsFirst", "x Mar 2024 10:00:00 +0000", at(2024, 3, 1, 11)},
        DateCase{"InvalidCalendarDate", "31 Feb 2024 10:00:00 +0000", kLocalOffset* kMinute},
        DateCase{"UnknownMonth", "5 Foo 2024 10:00:00 +0000", kLocalOffset* kMinute},
        DateCase{"InvalidTime", "5 Mar 2024 24:00:00 +0000", kLocalOffset* kMinute},
        DateCase{"Empty", "   ", kLocalOffset* kMinute},
        DateCase{"Garbage", "::::", kLocalOffset* kMinute}),
    [](const auto& info) { return std::string(info.param.name); });

// Offset 60 minutes in "summer" (after the switch), 0 before it; now() is in summer.
class SwitchingClock : public Clock {
public:
    SwitchingClock(TimePoint now, TimePoint switchAt) : m_now(now), m_switch(switchAt) {}
    TimePoint now() const override { return m_now; }
    int utcOffsetMinutes(TimePoint t) const override { return t >= m_switch ? 60 : 0; }

private:
    TimePoint m_now;
    TimePoint m_switch;
};

TEST(MessageDate, UsesTheOffsetInEffectNowNotAtTheMessageDate) {
    using namespace std::chrono;
    const auto switchAt = system_clock::time_point(seconds(1711846800)); // 2024-03-31 01:00Z
    const SwitchingClock summer(switchAt + hours(24 * 30), switchAt);
    // A winter message still gets today's summer offset.
    EXPECT_NEAR(MessageDate::decode("15 Jan 2024 12:00:00 +0000", summer), at(2024, 1, 15, 13),
                1e-6);
    const FixedClock west(system_clock::now(), -300);
    EXPECT_NEAR(MessageDate::decode("15 Jan 2024 12:00:00 +0000", west), at(2024, 1, 15, 7), 1e-6);
}

} // namespace
} // namespace tarn
