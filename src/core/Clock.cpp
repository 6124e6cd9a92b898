#include "core/Clock.h"

#include <cmath>
#include <ctime>

namespace tarn {

namespace {

// Days from 0001-01-01 style civil algorithm (Howard Hinnant), relative to 1970-01-01.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

constexpr long long kEpochOffsetDays = 25569; // 1899-12-30 to 1970-01-01

class SystemClock : public Clock {
public:
    TimePoint now() const override { return std::chrono::system_clock::now(); }
    int utcOffsetMinutes(TimePoint t) const override {
        std::time_t tt = std::chrono::system_clock::to_time_t(t);
        std::tm local{};
        localtime_r(&tt, &local);
        return static_cast<int>(local.tm_gmtoff / 60);
    }
};

} // namespace

double Clock::localDateTime() const {
    TimePoint t = now();
    return toDateTime(t, utcOffsetMinutes(t));
}

double Clock::localToday() const {
    return std::floor(localDateTime());
}

const Clock& systemClock() {
    static const SystemClock clock;
    return clock;
}

double toDateTime(Clock::TimePoint t, int offsetMinutes) {
    using namespace std::chrono;
    const double secs =
        duration_cast<duration<double>>(t.time_since_epoch()).count() + offsetMinutes * 60.0;
    return secs / 86400.0 + static_cast<double>(kEpochOffsetDays);
}

bool encodeDateTime(int year, int month, int day, int hour, int minute, int second,
                    double& result) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int maxDay = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day > maxDay || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59)
        return false;
    const long long days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kEpochOffsetDays;
    result = static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
    return true;
}

} // namespace tarn
