// Stress of the process-shared lock against killed lock users: worker
// processes count through a shared file under the lock while another user
// of the lock is killed at a random moment. Runs VETRA_LOCK_STRESS_RUNS
// rounds (a few by default; scripts/lock-stress runs many). One test thread.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "kernel/runtime/kernel_lock.h"
#include "tests/kernel/runtime/runtime_support.h"

namespace {

using t_clock = std::chrono::steady_clock;

constexpr int kWorkers = 4;
// Workers count for this long, so the kill always lands while they contend,
// and a round lasts about as long whatever the load of the machine.
constexpr int kWorkMs = 80;
constexpr int kKillWindowMs = 50;
// A worker still running this long after its round began is stuck.
constexpr int kRoundLimitMs = 10000;

int RunsWanted() {
    const char* text = getenv("VETRA_LOCK_STRESS_RUNS");
    const long n = text ? strtol(text, nullptr, 10) : 0;
    return n > 0 ? static_cast<int>(n) : 20;
}

// Counts through the file at `path`, one locked read-modify-write at a
// time (the yield widens the window an overlap would need), and writes how
// many it made to `report`.
int CountUnderLock(const std::string& path, int report) {
    t_processLock lock;
    if (!lock.Create(L"StressLock", 5)) return 1;
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return 2;
    const auto end = t_clock::now() + std::chrono::milliseconds(kWorkMs);
    uint64_t made = 0;
    while (t_clock::now() < end) {
        if (!lock.Lock()) return 3;
        uint64_t v = 0;
        if (pread(fd, &v, sizeof v, 0) != sizeof v) return 4;
        sched_yield();
        ++v;
        if (pwrite(fd, &v, sizeof v, 0) != sizeof v) return 5;
        if (!lock.Unlock()) return 6;
        ++made;
    }
    close(fd);
    return write(report, &made, sizeof made) == sizeof made ? 0 : 7;  // one atomic pipe write
}

// Takes and releases the lock until killed, so that the kill finds it
// waiting, holding or just woken.
int UseLockUntilKilled(const std::string&, int) {
    t_processLock lock;
    if (!lock.Create(L"StressLock", 5)) return 1;
    for (;;) {
        if (!lock.Lock()) return 3;
        sched_yield();
        lock.Unlock();
    }
}

uint64_t ReadCounter(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    uint64_t v = 0;
    if (bytes.size() == sizeof v) memcpy(&v, bytes.data(), sizeof v);
    return v;
}

using ProcessLockStressTest = TempHomeTest;

TEST_F(ProcessLockStressTest, KilledLockUserNeverStrandsTheOthers) {
    const int runs = RunsWanted();
    const std::string counter = home.At("counter");
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> killAfterMs(0, kKillWindowMs);
    long slowestMs = 0;
    for (int run = 0; run < runs; ++run) {
        const auto started = t_clock::now();
        ASSERT_TRUE(WriteFileBytes(counter, std::string(sizeof(uint64_t), '\0')));
        int gate[2], report[2];
        ASSERT_EQ(0, pipe(gate));
        ASSERT_EQ(0, pipe(report));
        const auto afterGate = [&](int (*body)(const std::string&, int)) {
            return ForkChild(
                [&, body] {
                    close(gate[1]);
                    close(report[0]);
                    char c;
                    if (read(gate[0], &c, 1) != 0) return 9;  // opens when the gate closes
                    return body(counter, report[1]);
                },
                kRoundLimitMs / 1000 + 5);
        };
        std::vector<pid_t> workers;
        for (int w = 0; w < kWorkers; ++w) workers.push_back(afterGate(&CountUnderLock));
        const pid_t victim = afterGate(&UseLockUntilKilled);
        close(gate[0]);
        close(report[1]);
        close(gate[1]);  // everybody starts together
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(random)));
        kill(victim, SIGKILL);
        EXPECT_EQ(128 + SIGKILL, WaitChild(victim, kRoundLimitMs));

        const auto deadline = started + std::chrono::milliseconds(kRoundLimitMs);
        int stuck = 0;
        for (size_t w = 0; w < workers.size(); ++w) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - t_clock::now());
            const int status =
                WaitChild(workers[w], std::max<int>(1, static_cast<int>(left.count())));
            if (status == -1)
                ++stuck;
            else
                EXPECT_EQ(0, status) << "round " << run << ", worker " << w;
        }
        uint64_t reported = 0, made = 0;
        while (read(report[0], &made, sizeof made) == sizeof made) reported += made;
        close(report[0]);
        ASSERT_EQ(0, stuck) << "round " << run << ": workers still waiting for the lock after "
                            << kRoundLimitMs << " ms";
        ASSERT_GT(reported, 0u) << "round " << run;
        ASSERT_EQ(reported, ReadCounter(counter)) << "round " << run;
        slowestMs = std::max<long>(slowestMs, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  t_clock::now() - started)
                                                  .count());
    }
    printf("%d rounds, slowest %ld ms\n", runs, slowestMs);
}

}  // namespace
