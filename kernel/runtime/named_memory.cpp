// Named memory blocks kept in step with the version manager.
#include "kernel/runtime/named_memory.h"

#include <memory>

#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"

using t_shareMemorySink = t_versionManagerEventSink<t_shareMemory*, bool (t_shareMemory::*)(int),
                                                    bool (t_shareMemory::*)(const wchar_t*)>;

t_shareMemory::~t_shareMemory() {
    Detach();
}

void t_shareMemory::Detach() {
    // At shut-down the version manager may be gone already; it is not
    // brought back only to forget this block.
    if (!m_versionName.empty() && t_singleton<t_versionManager>::Exists())
        t_singleton<t_versionManager>::Get().Unregister(m_versionName.c_str());
    m_memory.Release();
    m_versionName.clear();
    m_lock.Close();
}

void t_shareMemory::Register(const wchar_t* base) {
    MakeSafeFileName(base, L"_Event", m_versionName);
    m_versionName += L'_';
    m_versionName += m_suffix;
    t_versionManager& vm = t_singleton<t_versionManager>::Get();
    int version = 0;
    const int index = vm.FindOrAdd(m_versionName.c_str(), &version);
    std::unique_ptr<t_versionManagerEventSinkBase> sink(
        new t_shareMemorySink(this, &t_shareMemory::OnVersionChanged, &t_shareMemory::OnNameEvent));
    // Without a sink the block still opens; it is just not reloaded.
    vm.RegisterSink(m_versionName.c_str(), m_mask, index, version, sink);
}

bool t_shareMemory::CreateLock(const std::wstring& name) {
    const bool made = m_lock.Create(name.c_str(), 5);
    m_lockFailure = made ? std::string() : m_lock.GetFailure();
    return made;
}

bool t_shareMemory::OpenFileMap(const wchar_t* path) {
    if (!path) return false;
    Register(path);
    if (!m_lock.IsCreated()) {
        std::wstring lockName;
        MakeSafeFileName(t_pathName(path).GetFileName().c_str(), L"_FileLocker", lockName);
        if (!CreateLock(lockName)) return false;
    }
    if (m_versionInName &&
        t_singleton<t_versionManager>::Get().GetLocalVersion(m_versionName.c_str()) == -1)
        return false;
    bool ok;
    {
        t_processLock::t_locker guard(m_lock);  // the open goes on without it
        m_memory.Release();
        ok = m_memory.MapFileByName(path);
    }
    if (ok)
        m_attachedName = path;
    else
        m_attachedName.clear();
    m_size = -1;
    return ok;
}

bool t_shareMemory::OpenMemory(const wchar_t* name, int32_t size) {
    if (!name) return false;
    Register(name);
    if (!m_lock.IsCreated()) {
        std::wstring lockName;
        MakeSafeFileName(name, L"_MemLocker", lockName);
        if (!CreateLock(lockName)) return false;
    }
    if (m_versionInName &&
        t_singleton<t_versionManager>::Get().GetLocalVersion(m_versionName.c_str()) == -1)
        return false;
    bool ok;
    {
        t_processLock::t_locker guard(m_lock);
        ok = m_memory.OpenExisting(name) || (size > 0 && m_memory.CreatePrivate(name, size));
    }
    if (ok) {
        m_attachedName = name;
        m_size = size;
    } else {
        m_attachedName.clear();
        m_size = -1;
    }
    return ok;
}

bool t_shareMemory::OnVersionChanged(int) {
    const std::wstring name = m_attachedName;
    if (m_size == -1) {
        Detach();
        return !name.empty() && OpenFileMap(name.c_str());
    }
    // A private block is the only copy of its data: dropping it would lose
    // the data, so only the registration is renewed.
    const int32_t size = m_size;
    if (!m_versionName.empty() && t_singleton<t_versionManager>::Exists())
        t_singleton<t_versionManager>::Get().Unregister(m_versionName.c_str());
    m_versionName.clear();
    return !name.empty() && OpenMemory(name.c_str(), size);
}

bool t_shareMemory::OnNameEvent(const wchar_t*) {
    return true;
}
