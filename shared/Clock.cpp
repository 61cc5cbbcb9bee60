#include "shared/Clock.h"

#include "platform/Clock.h"

namespace tarvok {

TDateTime TSystemClock::Now() const {
    const platform::TLocalTime t = platform::LocalNow();
    return EncodeDate(t.Year, t.Month, t.Day) +
           EncodeTime(t.Hour, t.Minute, t.Second, t.Millisecond);
}

} // namespace tarvok
