#include "core/DateFormat.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <locale.h>

namespace tarn {

namespace {

constexpr long long kMsPerDay = 86400000;
constexpr long long kEpochOffsetDays = 25569; // 1899-12-30 to 1970-01-01

struct Split {
    long long days;    // whole days since 1899-12-30
    long long msOfDay; // milliseconds into that day
};

// Rounds to the millisecond first so that 23:59:59.9996 becomes the next midnight, not
// a day with a time of 24:00.
Split split(double date) {
    const long long total = std::llround(date * static_cast<double>(kMsPerDay));
    long long days = total / kMsPerDay;
    long long ms = total % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --days;
    }
    return {days, ms};
}

// Calendar date from days since 1970-01-01 (Howard Hinnant's civil_from_days).
void civilFromDays(long long z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yy + (m <= 2));
}

std::tm toTm(double date) {
    const Split s = split(date);
    int y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(s.days - kEpochOffsetDays, y, m, d);
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = static_cast<int>(m) - 1;
    tm.tm_mday = static_cast<int>(d);
    tm.tm_hour = static_cast<int>(s.msOfDay / 3600000);
    tm.tm_min = static_cast<int>(s.msOfDay / 60000 % 60);
    tm.tm_sec = static_cast<int>(s.msOfDay / 1000 % 60);
    // 30 December 1899 was a Saturday.
    tm.tm_wday = static_cast<int>(((s.days + 6) % 7 + 7) % 7);
    static const int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    tm.tm_yday = kBefore[tm.tm_mon] + tm.tm_mday - 1 + (leap && tm.tm_mon > 1 ? 1 : 0);
    tm.tm_isdst = -1;
    return tm;
}

locale_t openTimeLocale(const char* name) {
    locale_t loc = newlocale(LC_TIME_MASK, name, static_cast<locale_t>(nullptr));
    if (!loc)
        loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

std::string shortDate(double date, locale_t loc) {
    const std::tm tm = toTm(date);
    char buffer[128];
    const size_t n = loc ? strftime_l(buffer, sizeof buffer, "%x", &tm, loc)
                         : std::strftime(buffer, sizeof buffer, "%x", &tm);
    return std::string(buffer, n);
}

} // namespace

std::string formatShortDate(double date) {
    // Kept for the whole run, as the program reads its formats once at start.
    static const locale_t userLocale = openTimeLocale("");
    return shortDate(date, userLocale);
}

std::string formatShortDate(double date, const std::string& localeName) {
    locale_t loc = openTimeLocale(localeName.c_str());
    std::string out = shortDate(date, loc);
    if (loc)
        freelocale(loc);
    return out;
}

std::string formatTimeOfDay(double date) {
    const Split s = split(date);
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", static_cast<int>(s.msOfDay / 3600000),
                  static_cast<int>(s.msOfDay / 60000 % 60));
    return buffer;
}

std::string formatDateTime(double date) {
    // Midnight shows as 00:00 too: a date without a time reads as a date that lost it.
    return formatShortDate(date) + ' ' + formatTimeOfDay(date);
}

} // namespace tarn
