// The wall clock, read in local time.
//
// Honours TZ and libfaketime, since both act on the C library underneath. Nothing else in the
// system reads the clock: programs read it here and pass "now" to the pure core.
#pragma once

#include <string>

namespace tarvok::platform {

// A local calendar reading; Month 1-12, Day 1-31, Millisecond 0-999.
struct TLocalTime {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

TLocalTime LocalNow();

// The user's long time format as strftime directives; "%H:%M:%S" in the C locale.
std::string LongTimeFormat();

// Blocks the calling thread for at least the given time; 0 or less returns at once.
void SleepFor(int milliseconds);

} // namespace tarvok::platform
