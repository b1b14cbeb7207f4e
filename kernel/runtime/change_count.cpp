// The count of changes shared through a lock file.
//
// Each process adds its own changes to the shared count and to a count of
// its own; the difference is what the others did. Any value of the file is
// a valid count: a damaged one only makes a call noted before refuse.
#include "kernel/runtime/change_count.h"

#include <atomic>
#include <string>

#include "kernel/runtime/dir_settings.h"

namespace {

std::atomic_ref<uint64_t> SharedCount(void* bytes) {
    return std::atomic_ref<uint64_t>(*static_cast<uint64_t*>(bytes));
}

}  // namespace

bool t_changeCount::Create(const wchar_t* name) {
    if (m_lock.IsCreated()) return true;
    return m_lock.Create(name, 6, sizeof(uint64_t));
}

uint64_t t_changeCount::Others() const {
    void* bytes = m_lock.GetSharedBytes();
    if (!bytes) return 0;
    // Both counts at once: this process's change half-counted would pass
    // for another's.
    std::lock_guard<std::mutex> guard(m_ownLock);
    return SharedCount(bytes).load() - m_own;
}

void t_changeCount::Add() {
    void* bytes = m_lock.GetSharedBytes();
    if (!bytes) return;
    std::lock_guard<std::mutex> guard(m_ownLock);
    ++m_own;
    SharedCount(bytes).fetch_add(1);
}

t_changeCount& GetUsrDictChangeCount() {
    static t_changeCount count;
    return count;
}

bool CreateUsrDictChangeCount() {
    std::wstring name;
    MakeSafeFileName(L"ImeKernel", L"_UsrDictChanges", name);
    return GetUsrDictChangeCount().Create(name.c_str());
}

void ReleaseUsrDictChangeCount() {
    t_changeCount& count = GetUsrDictChangeCount();
    if (count.IsCreated()) count.Close();
}
