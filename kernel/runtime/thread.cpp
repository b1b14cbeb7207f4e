// Joinable kernel threads.
#include "kernel/runtime/thread.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

struct t_startRecord {
    t_thread::t_body body;
    t_thread* self;
};

}  // namespace

t_thread::~t_thread() {
    Join();
    if (m_attrReady) pthread_attr_destroy(&m_attr);
}

bool t_thread::InitAttr() {
    if (m_attrReady) return true;
    const int r = pthread_attr_init(&m_attr);
    if (r != 0) {
        fprintf(stderr, "pthread_attr_init: %s\n", strerror(r));
        return false;
    }
    m_attrReady = true;
    return true;
}

void* t_thread::Trampoline(void* record) {
    t_startRecord start = *static_cast<t_startRecord*>(record);
    delete static_cast<t_startRecord*>(record);
    start.body(start.self);
    return nullptr;
}

bool t_thread::Start(t_body body, void* owner) {
    if (!body || m_started || !InitAttr()) return false;
    m_stop.store(false, std::memory_order_release);
    m_owner = owner;
    auto* record = new (std::nothrow) t_startRecord{body, this};
    if (!record) return false;
    const int r = pthread_create(&m_id, &m_attr, &Trampoline, record);
    if (r != 0) {
        fprintf(stderr, "pthread_create: %s\n", strerror(r));
        delete record;
        return false;
    }
    m_started = true;
    return true;
}

int t_thread::Join() {
    m_stop.store(true, std::memory_order_release);
    if (m_started) {
        pthread_join(m_id, nullptr);
        m_started = false;
        if (m_attrReady) {
            pthread_attr_destroy(&m_attr);
            m_attrReady = false;
        }
        m_owner = nullptr;
    }
    return 1;
}

bool t_thread::Cancel() {
    if (!m_started) return false;
    return pthread_cancel(m_id) == 0;
}
