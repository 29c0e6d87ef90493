#pragma once
// Runs a stretch of a test in another time zone (TZ, read again by the C
// library at once) and puts the previous zone back afterwards.
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* previous = std::getenv("TZ"))
            previous_ = previous;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (previous_)
            setenv("TZ", previous_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

// The clock-change nights the tests cross: one zone that shifts by an hour,
// one that shifts by half an hour. `repeated*` is a reading the autumn night
// shows twice, `skipped*` one the spring night never shows (its first
// half hour is skipped in both zones), `afterSkip*` the reading after the skip.
struct ClockChangeZone {
    const char* name;
    int autumnMonth, autumnDay, repeatedHour, repeatedMinute;
    int springMonth, springDay, skippedHour, skippedMinute, afterSkipHour, afterSkipMinute;
};
inline constexpr ClockChangeZone kClockChangeZones[] = {
    {"Europe/Berlin", 10, 27, 2, 0, 3, 31, 2, 0, 3, 0},
    {"Australia/Lord_Howe", 4, 7, 1, 30, 10, 6, 2, 0, 2, 30},
};
