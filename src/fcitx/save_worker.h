// Dictionary saves off fcitx's main thread: the main thread takes a
// consistent copy of what is to be written (the snapshot) and a worker
// thread writes it. A newer save supersedes one still waiting; nothing
// posted is lost: Drain and the destructor run what is pending.
// Post, Drain and the destructor from one thread (fcitx's main thread).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class t_saveWorker {
public:
    // A save prepared on the main thread; it owns its copy of the data.
    using t_job = std::function<void()>;

    t_saveWorker() = default;
    ~t_saveWorker();  // runs the pending job, then joins the thread
    t_saveWorker(const t_saveWorker&) = delete;
    t_saveWorker& operator=(const t_saveWorker&) = delete;

    // Hands a job to the worker (started on first use); a job that has not
    // started yet is dropped for this newer one. When no thread can be
    // started the job runs here.
    void Post(t_job job);
    // Returns once nothing is pending or running.
    void Drain();

    uint64_t Completed() const;
    uint64_t Superseded() const;

private:
    void Run();

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
