#include "platform/Clock.h"

#include <chrono>
#include <clocale>
#include <ctime>
#include <langinfo.h>
#include <mutex>
#include <thread>

namespace tarvok::platform {

TLocalTime LocalNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return TLocalTime{local.tm_year + 1900,
                      local.tm_mon + 1,
                      local.tm_mday,
                      local.tm_hour,
                      local.tm_min,
                      local.tm_sec,
                      static_cast<int>(ts.tv_nsec / 1'000'000)};
}

std::string LongTimeFormat() {
    // The process locale is global state: take the user's LC_TIME once, from one thread.
    static std::once_flag once;
    std::call_once(once, [] { std::setlocale(LC_TIME, ""); });
    const char* format = nl_langinfo(T_FMT);
    return (format != nullptr && *format != '\0') ? format : "%H:%M:%S";
}

void SleepFor(int milliseconds) {
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

} // namespace tarvok::platform
