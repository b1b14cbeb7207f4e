// Dictionary saves off fcitx's main thread. A job starts once no newer job
// came for the quiet period (typing goes on undisturbed; a burst of commits
// costs one save), and a newer job supersedes one still waiting. Nothing
// posted is lost: Drain and the destructor run what is pending at once.
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

    explicit t_saveWorker(std::chrono::milliseconds quiet = std::chrono::milliseconds(0))
        : m_quiet(quiet) {}
    ~t_saveWorker();  // runs the pending job, then joins the thread
    t_saveWorker(const t_saveWorker&) = delete;
    t_saveWorker& operator=(const t_saveWorker&) = delete;

    // Hands a job to the worker (started on first use); a job that has not
    // started yet is dropped for this newer one. When no thread can be
    // started the job runs here.
    void Post(t_job job);
    // Runs what is pending now; returns once nothing is pending or running.
    void Drain();

    uint64_t Completed() const;
    uint64_t Superseded() const;

private:
    void Run();

    const std::chrono::milliseconds m_quiet;
    std::chrono::steady_clock::time_point m_postedAt;
    bool m_hurry = false;  // Drain or stop: no quiet period
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
