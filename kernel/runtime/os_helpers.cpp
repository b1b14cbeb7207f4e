// Clock, sleep and the run-once flag helper.
#include "kernel/runtime/os_helpers.h"

#include <sys/time.h>
#include <unistd.h>

int64_t TickMsFromUnix(int64_t seconds, int64_t microseconds) {
    return (seconds - kKernelEpochUnixSeconds) * 1000 + microseconds / 1000;
}

int64_t GetTickMs() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return TickMsFromUnix(tv.tv_sec, tv.tv_usec);
}

void SleepMs(uint32_t ms) {
    usleep(static_cast<useconds_t>(ms) * 1000);
}

int CompareAndSet(int* target, int value, int expected) {
    if (!target) return 0;
    const int old = *target;
    if (old == expected) *target = value;
    return old;
}
