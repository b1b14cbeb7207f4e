// t_thread: a joinable thread with a cooperative stop flag, for background
// loading. Start/Join from the owning thread; the body polls the stop flag.
#pragma once

#include <pthread.h>

#include <atomic>

class t_thread {
public:
    using t_body = void (*)(t_thread* self);

    t_thread() = default;
    virtual ~t_thread();
    t_thread(const t_thread&) = delete;
    t_thread& operator=(const t_thread&) = delete;

    // Prepares the thread attribute; false (printed) when pthread refuses.
    bool InitAttr();
    // Clears the stop flag, keeps owner and runs body(this) on a new thread.
    // False when a thread is already running, the attribute is missing and
    // cannot be made, or the thread cannot be created.
    virtual bool Start(t_body body, void* owner);
    // Sets the stop flag; when a thread was started, waits for it, then
    // forgets it and the owner. A second Join only sets the flag. Returns 1.
    int Join();
    bool IsStopRequested() const { return m_stop.load(std::memory_order_acquire); }
    void* GetOwner() const { return m_owner; }
    // Asks pthread to cancel the running thread; false when none runs.
    bool Cancel();

private:
    static void* Trampoline(void* record);

    pthread_t m_id{};
    bool m_started = false;
    pthread_attr_t m_attr;
    bool m_attrReady = false;
    void* m_owner = nullptr;
    std::atomic<bool> m_stop{false};
};
