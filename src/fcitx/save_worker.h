// Dictionary saves off fcitx's main thread. A newer job supersedes one still
// waiting, so a burst of commits costs one save, but a job starts at the
// latest a deadline after the first post that has not run yet: learning
// that goes on never holds a save back for long. Nothing posted is lost:
// Drain and the destructor run what is pending at once.
// Post, Drain and the destructor from one thread (fcitx's main thread).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class t_saveWorker {
public:
    // A save prepared on the main thread; it owns its copy of the data.
    using t_job = std::function<void()>;

    explicit t_saveWorker(std::chrono::milliseconds deadline = std::chrono::milliseconds(0))
        : m_deadline(deadline) {}
    ~t_saveWorker();  // runs the pending job, then joins the thread
    t_saveWorker(const t_saveWorker&) = delete;
    t_saveWorker& operator=(const t_saveWorker&) = delete;

    // Hands a job to the worker (started on first use); a job that has not
    // started yet is dropped for this newer one. When no thread can be
    // started the job runs here. `now`: the job starts without waiting for
    // the deadline (a close), yet Post returns at once.
    void Post(t_job job, bool now = false);
    // Runs what is pending now; returns once nothing is pending or running.
    void Drain();

    uint64_t Completed() const;
    uint64_t Superseded() const;

private:
    void Run();

    const std::chrono::milliseconds m_deadline;
    std::chrono::steady_clock::time_point m_due;  // of the pending job
    bool m_hurry = false;                         // Drain or stop: no waiting for the due time
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    t_job m_pending;
    bool m_running = false;
    bool m_stop = false;
    uint64_t m_completed = 0;
    uint64_t m_superseded = 0;
    std::thread m_thread;
};
