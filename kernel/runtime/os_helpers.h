// Clock, sleep and the run-once flag helper of the kernel. Thread-safe
// except CompareAndSet, which is a plain (non-atomic) test and set.
#pragma once

#include <cstdint>

// Seconds from the Unix epoch to 2009-12-22 00:00:00 UTC, the kernel
// clock's zero.
inline constexpr int64_t kKernelEpochUnixSeconds = 1261440000;

// Milliseconds since the kernel epoch (stored by dictionaries as stamps).
int64_t GetTickMs();
// The same for a given Unix time in seconds and microseconds.
int64_t TickMsFromUnix(int64_t seconds, int64_t microseconds);
void SleepMs(uint32_t ms);
// When *target equals expected it becomes value; returns the old value
// (0 for a null target). Not atomic: only for single-threaded set-up.
int CompareAndSet(int* target, int value, int expected);
