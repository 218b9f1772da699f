#include "system_clock.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace bbs {

int64_t SystemClock::monotonic_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t SystemClock::local_seconds() {
    time_t t = time(nullptr);
    struct tm local;
    localtime_r(&t, &local);
    return static_cast<int64_t>(t) + local.tm_gmtoff;
}

bool SystemClock::set_system_time(int64_t local, std::string &error) {
    time_t t = time(nullptr);
    struct tm now_local;
    localtime_r(&t, &now_local);
    struct timespec ts = {static_cast<time_t>(local - now_local.tm_gmtoff), 0};
    if (clock_settime(CLOCK_REALTIME, &ts) == 0) return true;
    error = std::strerror(errno);
    return false;
}

}  // namespace bbs
