// The singleton registry.
#include "kernel/runtime/singleton.h"

#include <cstdlib>
#include <mutex>

namespace {

struct t_managerHolder {
    t_singletonManager* manager = nullptr;
    bool owned = true;
};

t_managerHolder& Holder() {
    static t_managerHolder holder;
    return holder;
}

}  // namespace

t_singletonManager::t_singletonManager() {
    m_lock.Init(L"cs_singletonManager", 5);
}

t_singletonManager::~t_singletonManager() {
    DestroyAll();
    m_lock.Destroy();
}

int t_singletonManager::Register(t_singletonBase* singleton) {
    t_recursiveLock::t_locker guard(m_lock);
    m_items.push_back(singleton);
    return 1;
}

size_t t_singletonManager::GetCount() {
    t_recursiveLock::t_locker guard(m_lock);
    return m_items.size();
}

int t_singletonManager::DestroyAll() {
    std::vector<t_singletonBase*> taken;
    {
        t_recursiveLock::t_locker guard(m_lock);
        taken.swap(m_items);
    }
    for (auto it = taken.rbegin(); it != taken.rend(); ++it)
        if (*it) (*it)->DestroyInstance();
    return 1;
}

t_singletonManager* t_singletonManagerPtr::Get() {
    static std::once_flag once;
    std::call_once(once, [] {
        Holder().manager = new t_singletonManager();
        atexit(&t_singletonManagerPtr::Release);
    });
    return Holder().manager;
}

void t_singletonManagerPtr::SetOwned(bool owned) {
    Holder().owned = owned;
}

void t_singletonManagerPtr::Release() {
    t_managerHolder& holder = Holder();
    t_singletonManager* manager = holder.manager;
    if (!manager || !holder.owned) {
        holder.manager = nullptr;
        return;
    }
    // A service's destructor may bring up another one; those register again
    // and are destroyed by the next round. The rounds are bounded in case
    // two services keep recreating each other.
    for (int round = 0; round < 8 && manager->GetCount() > 0; ++round) manager->DestroyAll();
    holder.manager = nullptr;  // nothing may reach a dying manager
    delete manager;
}

void SetSingletonCleanupFlag(bool flag) {
    t_singletonManagerPtr::SetOwned(flag);
}
