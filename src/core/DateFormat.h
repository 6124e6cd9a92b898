#pragma once

#include <string>

namespace tarn {

// Display of date values (days since 30 December 1899, local time, time of day as fraction),
// shared by the mail list and the deletion log so both show dates alike.

// The date in the user's short date format: the locale's "%x" for LC_TIME as the environment
// sets it (LC_ALL, LC_TIME, LANG), read once per process; the C locale when that locale is
// not installed.
std::string formatShortDate(double date);
// The same for a named locale ("C", "de_DE.UTF-8", ...); the C locale when it is unknown.
std::string formatShortDate(double date, const std::string& localeName);

// The time of day as "hh:mm", 24-hour, two digits each.
std::string formatTimeOfDay(double date);

// Short date, a blank and "hh:mm", midnight included.
std::string formatDateTime(double date);

} // namespace tarn
