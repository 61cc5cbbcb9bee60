// The clock as the programs pass it into the code that needs "now".
//
// The scheduling core never reads a clock; the log writer and the schedulers take a TClock so
// that tests can hold time still or move it by hand.
#pragma once

#include "shared/Time.h"

namespace tarvok {

class TClock {
public:
    virtual ~TClock() = default;
    // The current local date and time, milliseconds included.
    virtual TDateTime Now() const = 0;
};

// The wall clock of the machine, in local time.
class TSystemClock final : public TClock {
public:
    TDateTime Now() const override;
};

// A clock that shows what it is told; for tests and replays.
class TFixedClock final : public TClock {
public:
    explicit TFixedClock(TDateTime now = 0) : now_(now) {}
    TDateTime Now() const override { return now_; }
    void Set(TDateTime now) { now_ = now; }

private:
    TDateTime now_;
};

} // namespace tarvok
