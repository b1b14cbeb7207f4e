// The dictionary-save worker: one thread, one pending job, newest wins.
// Post, Drain and the destructor from one thread; Run on the worker.
#include "src/fcitx/save_worker.h"

#include <system_error>

t_saveWorker::~t_saveWorker() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_hurry = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void t_saveWorker::Post(t_job job, bool now) {
    if (!job) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto at = std::chrono::steady_clock::now();
        // The due time of a waiting job stays: a newer one only takes its place.
        if (m_pending)
            ++m_superseded;
        else
            m_due = at + m_deadline;
        if (now) m_due = at;
        m_pending = std::move(job);
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread(&t_saveWorker::Run, this);
            } catch (const std::system_error&) {
                // No thread: the save still happens, here.
                t_job now = std::move(m_pending);
                m_pending = nullptr;
                now();
                ++m_completed;
                return;
            }
        }
    }
    m_wake.notify_one();
}

void t_saveWorker::Drain() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_hurry = true;
    m_wake.notify_all();
    m_idle.wait(lock, [this] { return !m_pending && !m_running; });
    m_hurry = false;
}

uint64_t t_saveWorker::Completed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_completed;
}

uint64_t t_saveWorker::Superseded() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_superseded;
}

void t_saveWorker::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_pending; });
        if (!m_pending) break;  // stopping with nothing left
        // Wait for the due time; a newer post keeps it (or brings it forward).
        while (m_pending && !m_hurry) {
            const auto due = m_due;
            if (std::chrono::steady_clock::now() >= due) break;
            m_wake.wait_until(lock, due);
        }
        if (!m_pending) continue;
        t_job job = std::move(m_pending);
        m_pending = nullptr;
        m_running = true;
        lock.unlock();
        job();
        lock.lock();
        m_running = false;
        ++m_completed;
        m_idle.notify_all();
    }
    m_idle.notify_all();
}
