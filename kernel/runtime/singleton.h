// Process-wide kernel services: each is created on first use through
// t_singleton<T>::Get and destroyed by t_singletonManager in reverse order of
// registration. Getters take no lock: services are first used on the
// kernel's set-up thread; registration itself is locked.
#pragma once

#include <vector>

#include "kernel/runtime/kernel_lock.h"

class t_singletonBase {
public:
    virtual ~t_singletonBase() = default;
    // Destroys the held object and clears the holder's static pointer.
    virtual void DestroyInstance() = 0;
};

class t_singletonManager {
public:
    t_singletonManager();
    ~t_singletonManager();
    t_singletonManager(const t_singletonManager&) = delete;
    t_singletonManager& operator=(const t_singletonManager&) = delete;

    // Appends under the lock; returns 1.
    int Register(t_singletonBase* singleton);
    // Empties the registry under the lock, then destroys the taken entries
    // from the last registered to the first with no lock held (a destructor
    // may use another service, which is then created anew). Returns 1.
    int DestroyAll();
    size_t GetCount();

private:
    std::vector<t_singletonBase*> m_items;  // guarded by m_lock
    t_recursiveLock m_lock;
};

// The process-wide manager. Created on first use; Release runs at process
// exit and destroys the manager (and so every service) when owned.
class t_singletonManagerPtr {
public:
    // Null once Release has run.
    static t_singletonManager* Get();
    static void SetOwned(bool owned);
    static void Release();
};

// Sets whether the manager destroys the services at process exit.
void SetSingletonCleanupFlag(bool flag);

template <class T>
class t_singleton final : public t_singletonBase {
public:
    // The one T, created (and registered) on first use.
    static T& Get() {
        if (!s_holder) {
            s_holder = new t_singleton<T>();
            // After the manager's release at process exit nothing registers.
            if (t_singletonManager* manager = t_singletonManagerPtr::Get())
                manager->Register(s_holder);
        }
        return s_holder->m_object;
    }
    static bool Exists() { return s_holder != nullptr; }

    void DestroyInstance() override {
        if (s_holder == this) s_holder = nullptr;
        delete this;
    }

private:
    t_singleton() = default;
    T m_object;
    static inline t_singleton<T>* s_holder = nullptr;
};
