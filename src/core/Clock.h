#pragma once

#include <chrono>

namespace tarn {

// Everything that depends on "now" (message dates, filter ages, log lines) asks a Clock, so
// tests can fix the time and the local offset from UTC.
class Clock {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    // Offset of local time from UTC, in minutes (east positive), in effect at moment t.
    virtual int utcOffsetMinutes(TimePoint t) const = 0;

    // Local time of now() as days since 30 December 1899 with the time of day as fraction.
    double localDateTime() const;
    // Local midnight of today in the same unit (a whole number).
    double localToday() const;
};

// The real clock: the system time and the local time zone of the process.
const Clock& systemClock();

// A clock whose time and offset are set by hand (tests, tools).
class FixedClock : public Clock {
public:
    FixedClock(TimePoint t, int offsetMinutes) : m_now(t), m_offset(offsetMinutes) {}
    TimePoint now() const override { return m_now; }
    int utcOffsetMinutes(TimePoint) const override { return m_offset; }
    void set(TimePoint t) { m_now = t; }
    void setOffset(int minutes) { m_offset = minutes; }

private:
    TimePoint m_now;
    int m_offset;
};

// Days since 30 December 1899 for a UTC moment shifted by an offset in minutes.
double toDateTime(Clock::TimePoint t, int offsetMinutes);
// Builds the date value for a calendar date and time; false when the date is not valid.
bool encodeDateTime(int year, int month, int day, int hour, int minute, int second, double& result);

} // namespace tarn
