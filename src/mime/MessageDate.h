#pragma once

#include <string_view>

#include "core/Clock.h"

namespace tarn {

// Reads the date of a message ("Date" field or IMAP4 envelope date) into local time.
class MessageDate {
public:
    // Days since 30 December 1899 in local time, using the local offset from UTC that the
    // clock reports for its current moment. Unreadable dates never fail: an empty value or an
    // invalid date or time gives just the local offset (a value below 1), an unreadable zone
    // counts as UTC. Understands "Tue, 5 Mar 2024 10:00:00 +0100", "05-Mar-2024 10:00:00 -0500",
    // "Mar 5 2024 10:00:00 GMT" and "Mar 5 10:00:00 2024" and two-digit years.
    static double decode(std::string_view value, const Clock& clock);

    // The same with the local offset given in minutes (east positive).
    static double decode(std::string_view value, int localOffsetMinutes);
};

} // namespace tarn
