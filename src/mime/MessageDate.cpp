#include "mime/MessageDate.h"

#include "core/AsciiText.h"

#include <optional>
#include <string>

namespace tarn {

namespace {

// Takes the text up to the separator (or all of it) off the front of s; leading blanks of
// what is left are dropped.
std::string_view takeWord(std::string_view& s, char sep) {
    const std::size_t p = s.find(sep);
    std::string_view word = s.substr(0, p);
    s = p == std::string_view::npos ? std::string_view{} : trimLeftSpaceTab(s.substr(p + 1));
    return word;
}

// A decimal number with an optional sign; nothing else may stand in the text.
std::optional<long> toNumber(std::string_view s) {
    const std::optional<std::int64_t> v =
        parseSignedDecimal(trimSpaceTab(s), -999999999, 999999999);
    if (!v)
        return std::nullopt;
    return static_cast<long>(*v);
}

int monthOf(std::string_view word) {
    static const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                    "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    for (int m = 0; m < 12; ++m)
        if (equalsNoCase(word, kMonths[m]))
            return m + 1;
    return 0;
}

bool startsWithWeekday(std::string_view s) {
    static const char* kDays[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
    if (s.size() < 3)
        return false;
    for (const char* d : kDays)
        if (equalsNoCase(s.substr(0, 3), d))
            return true;
    return false;
}

// Offset of a "+hhmm" / "-hhmm" zone in minutes; anything else is UTC.
int zoneOffsetMinutes(std::string_view zone) {
    zone = trimSpaceTab(zone);
    if (zone.size() < 5)
        return 0;
    const char sign = zone[0];
    if (sign != '+' && sign != '-')
        return 0;
    for (int i = 1; i < 5; ++i)
        if (zone[i] < '0' || zone[i] > '9')
            return 0;
    const int hours = (zone[1] - '0') * 10 + (zone[2] - '0');
    const int minutes = (zone[3] - '0') * 10 + (zone[4] - '0');
    if (hours > 23 || minutes > 59)
        return 0;
    const int total = hours * 60 + minutes;
    return sign == '-' ? -total : total;
}

// The calendar and clock part in the message's own zone; nullopt when unreadable. zone gets
// the text after the time.
std::optional<double> readDateTime(std::string_view s, std::string_view& zone) {
    if (startsWithWeekday(s))
        takeWord(s, ' ');

    char sep = ' ';
    const std::size_t space = s.find(' ');
    const std::size_t dash = s.find('-', 1);
    if (dash != std::string_view::npos && (space == std::string_view::npos || dash < space))
        sep = '-';

    int day = 1;
    int month = 0;
    const std::string_view first = takeWord(s, sep);
    if (monthOf(first) != 0) {
        month = monthOf(first);
        day = static_cast<int>(toNumber(takeWord(s, sep)).value_or(1));
    } else {
        day = static_cast<int>(toNumber(first).value_or(1));
        month = monthOf(takeWord(s, sep));
    }

    const std::string_view yearWord = takeWord(s, ' ');
    std::optional<long> year = toNumber(yearWord);
    std::string_view rest = s;
    if (!year || *year == 1900) {
        // Time before the year: the rest is the year, the word read is the time.
        year = toNumber(s).value_or(1900);
        rest = yearWord;
    }
    if (*year < 80)
        *year += 2000;
    else if (*year >= 80 && *year <= 99)
        *year += 1900;
    if (*year < 1 || *year > 9999)
        return std::nullopt;

    double date = 0;
    if (!encodeDateTime(static_cast<int>(*year), month, day, 0, 0, 0, date))
        return std::nullopt;

    int hour = 0, minute = 0, second = 0;
    if (rest.find(':') != std::string_view::npos) {
        std::string_view time = takeWord(rest, ' ');
        long parts[3] = {0, 0, 0};
        for (int i = 0; i < 3 && !time.empty(); ++i)
            parts[i] = toNumber(takeWord(time, ':')).value_or(0);
        if (parts[0] < 0 || parts[0] > 23 || parts[1] < 0 || parts[1] > 59 || parts[2] < 0 ||
            parts[2] > 59)
            return std::nullopt;
        hour = static_cast<int>(parts[0]);
        minute = static_cast<int>(parts[1]);
        second = static_cast<int>(parts[2]);
    }
    zone = rest;
    return date + (hour * 3600 + minute * 60 + second) / 86400.0;
}

} // namespace

double MessageDate::decode(std::string_view value, int localOffsetMinutes) {
    // Whatever cannot be read counts as day 0 in UTC, which still gets the local offset.
    const double local0 = localOffsetMinutes / 1440.0;
    value = trimSpaceTab(value);
    if (value.empty())
        return local0;
    std::string_view zone;
    const std::optional<double> local = readDateTime(value, zone);
    if (!local)
        return local0;
    return *local - zoneOffsetMinutes(zone) / 1440.0 + local0;
}

double MessageDate::decode(std::string_view value, const Clock& clock) {
    return decode(value, clock.utcOffsetMinutes(clock.now()));
}

} // namespace tarn
