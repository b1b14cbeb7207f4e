// Named version counters and change notification.
#include "kernel/runtime/version_manager.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "kernel/runtime/dir_settings.h"

// Version table layout (little-endian, in a private block):
//   0   magic "VMTS"   4   format 1   8   count of used entries
//   12  300 entries of { name: 1025 wchar_t, version: i32 }
struct t_versionManager::t_tableHeader {
    uint32_t magic;
    uint32_t format;
    int32_t count;
};
struct t_versionManager::t_tableEntry {
    wchar_t name[kMaxNameChars + 1];
    int32_t version;
};
static_assert(sizeof(wchar_t) == 4, "table names are 32-bit units");

namespace {
constexpr size_t kHeaderBytes = 12;
constexpr size_t kEntryBytes = 4104;
}  // namespace

t_versionManager::~t_versionManager() {
    m_sinkLock.Destroy();
    m_tableLock.Close();
    m_table.Release();
    m_sinks.clear();
}

bool t_versionManager::Init() {
    static_assert(sizeof(t_tableHeader) == kHeaderBytes && sizeof(t_tableEntry) == kEntryBytes);
    if (m_ready) return true;
    if (!m_sinkLock.Init(L"cs_versionManager", 5)) {
        m_lastError = kVmErrCreateLock;
        return false;
    }
    std::wstring lockName;
    MakeSafeFileName(L"VetraIme_VersionManagerSharedTable_", L"_Lock", lockName);
    if (!m_tableLock.IsCreated() && !m_tableLock.Create(lockName.c_str(), 4)) {
        m_lastError = kVmErrCreateGlobalLock;
        return false;
    }
    std::wstring blockName;
    MakeSafeFileName(L"VetraIme_VersionManagerSharedTable_", L"_FileMap", blockName);
    blockName += L"_u";
    blockName += GetConfiguredUserId();
    {
        t_processLock::t_locker guard(m_tableLock);
        if (!m_table.OpenExisting(blockName.c_str()) &&
            !m_table.CreatePrivate(blockName.c_str(), kTableBytes)) {
            m_lastError = kVmErrOpenTable;
            return false;
        }
        if (m_table.IsCreated()) *Header() = {kTableMagic, kTableFormat, 0};
    }
    {
        t_recursiveLock::t_locker guard(m_sinkLock);
        m_sinks.assign(kMaxEntries, t_sinkRecord());
    }
    m_ready = true;
    m_lastError = nullptr;
    return true;
}

bool t_versionManager::TableUsable() const {
    return m_table.IsValid() && m_table.GetSize() >= kTableBytes && m_tableLock.IsCreated();
}

t_versionManager::t_tableHeader* t_versionManager::Header() const {
    return static_cast<t_tableHeader*>(m_table.GetData());
}

t_versionManager::t_tableEntry* t_versionManager::Entry(int index) const {
    auto* base = static_cast<uint8_t*>(m_table.GetData()) + kHeaderBytes;
    return reinterpret_cast<t_tableEntry*>(base + static_cast<size_t>(index) * kEntryBytes);
}

int t_versionManager::EntryCount() const {
    const int32_t count = Header()->count;
    if (count < 0) return 0;
    return count > kMaxEntries ? kMaxEntries : count;
}

int t_versionManager::FindLocked(const wchar_t* name) const {
    const int count = EntryCount();
    for (int i = 0; i < count; ++i)
        if (wcscmp(Entry(i)->name, name) == 0) return i;
    return -1;
}

int t_versionManager::FindOrAdd(const wchar_t* name, int* version) {
    if (!TableUsable() || !name) {
        m_lastError = kVmErrNotReady;
        return -1;
    }
    t_processLock::t_locker guard(m_tableLock);
    int index = FindLocked(name);
    if (index < 0) {
        const int count = EntryCount();
        if (count >= kMaxEntries) {
            m_lastError = kVmErrTableFull;
            return -1;
        }
        t_tableEntry* entry = Entry(count);
        wcsncpy(entry->name, name, kMaxNameChars);
        entry->name[kMaxNameChars] = 0;
        entry->version = 1;
        Header()->count = count + 1;
        index = count;
    }
    if (version) *version = Entry(index)->version;
    m_lastError = nullptr;
    return index;
}

int t_versionManager::GetVersion(const wchar_t* name) {
    if (!TableUsable() || !name) {
        m_lastError = kVmErrNotReady;
        return -1;
    }
    t_processLock::t_locker guard(m_tableLock);
    const int index = FindLocked(name);
    m_lastError = nullptr;
    return index < 0 ? -1 : Entry(index)->version;
}

bool t_versionManager::IncreaseVersion(const wchar_t* name) {
    if (!TableUsable() || !name) {
        m_lastError = kVmErrNotReady;
        return false;
    }
    t_processLock::t_locker guard(m_tableLock);
    const int index = FindLocked(name);
    if (index >= 0) ++Entry(index)->version;
    m_lastError = nullptr;
    return true;
}

int t_versionManager::GetLocalVersion(const wchar_t* name) {
    if (!m_sinkLock.IsInitialised() || !name) {
        m_lastError = kVmErrNotReadyOrBadName;
        return -1;
    }
    t_recursiveLock::t_locker guard(m_sinkLock);
    m_lastError = nullptr;
    for (const t_sinkRecord& r : m_sinks)
        if (r.inUse && wcscasecmp(r.name.c_str(), name) == 0) return r.lastVersion;
    return -1;
}

t_versionManager::t_sinkRecord* t_versionManager::ClaimRecord(int index, const wchar_t* name,
                                                              int lastVersion, uint32_t mask,
                                                              uint32_t kind) {
    t_sinkRecord& r = m_sinks[static_cast<size_t>(index)];
    const std::wstring key(name, wcsnlen(name, kMaxNameChars));
    if (r.inUse && r.name != key) {
        m_lastError = kVmErrIndexTaken;
        return nullptr;
    }
    r.lastVersion = lastVersion;
    r.inUse = true;
    r.name = key;
    r.mask = mask;
    r.kind = kind;
    return &r;
}

bool t_versionManager::RegisterSink(const wchar_t* name, uint32_t mask, int index, int lastVersion,
                                    std::unique_ptr<t_versionManagerEventSinkBase>& sink) {
    if (index < 0 || index >= kMaxEntries) {
        m_lastError = kVmErrBadIndex;
        return false;
    }
    if (!m_sinkLock.IsInitialised() || !name || m_sinks.size() != kMaxEntries) {
        m_lastError = kVmErrLockUnusable;
        return false;
    }
    t_recursiveLock::t_locker guard(m_sinkLock);
    t_sinkRecord* r = ClaimRecord(index, name, lastVersion, mask, 1);
    if (!r) return false;
    r->callback = nullptr;
    // The old sink, if it is being called right now, lives on in the
    // caller's queue until its call returns.
    r->sink = std::shared_ptr<t_versionManagerEventSinkBase>(sink.release());
    m_lastError = nullptr;
    return true;
}

bool t_versionManager::RegisterCallback(const wchar_t* name, uint32_t mask,
                                        t_versionCallback callback) {
    int version = 0;
    const int index = FindOrAdd(name, &version);
    if (index < 0) return false;
    if (!m_sinkLock.IsInitialised()) {
        m_lastError = kVmErrLockUnusable;
        return false;
    }
    t_recursiveLock::t_locker guard(m_sinkLock);
    t_sinkRecord* r = ClaimRecord(index, name, version, mask, 0);
    if (!r) return false;
    r->callback = callback;
    r->sink.reset();
    m_lastError = nullptr;
    return true;
}

bool t_versionManager::Unregister(const wchar_t* name) {
    if (!name || !m_sinkLock.IsInitialised()) {
        m_lastError = kVmErrNotReadyOrBadName;
        return false;
    }
    t_recursiveLock::t_locker guard(m_sinkLock);
    for (t_sinkRecord& r : m_sinks) {
        if (r.inUse && r.name == name) {
            r.inUse = false;
            r.callback = nullptr;
            r.sink.reset();  // a running call keeps its own reference
        }
    }
    m_lastError = nullptr;
    return true;
}

// True when record `index` still holds `target` (it may have been
// unregistered or replaced by an earlier callback of the same round).
bool t_versionManager::StillRegistered(int index, uint32_t kind, const void* target) {
    t_recursiveLock::t_locker guard(m_sinkLock);
    const t_sinkRecord& r = m_sinks[static_cast<size_t>(index)];
    if (!r.inUse || r.kind != kind) return false;
    return kind == 0 ? reinterpret_cast<const void*>(r.callback) == target : r.sink.get() == target;
}

bool t_versionManager::AddCheckHook(void* owner, t_checkHook hook) {
    if (!owner || !hook || !m_sinkLock.IsInitialised()) {
        m_lastError = kVmErrNotReady;
        return false;
    }
    t_recursiveLock::t_locker guard(m_sinkLock);
    for (t_hook& h : m_hooks) {
        if (h.fn) continue;
        h = {owner, hook};
        m_lastError = nullptr;
        return true;
    }
    m_lastError = kVmErrTableFull;
    return false;
}

void t_versionManager::RemoveCheckHooks(void* owner) {
    if (!m_sinkLock.IsInitialised()) return;
    t_recursiveLock::t_locker guard(m_sinkLock);
    for (t_hook& h : m_hooks)
        if (h.owner == owner) h = t_hook();
}

bool t_versionManager::CheckUpdate(uint32_t mask) {
    if (!TableUsable() || !m_sinkLock.IsInitialised() || m_sinks.size() != kMaxEntries) {
        m_lastError = kVmErrNotReady;
        return false;
    }
    t_hook hooks[kMaxHooks];
    {
        t_recursiveLock::t_locker guard(m_sinkLock);
        std::copy(std::begin(m_hooks), std::end(m_hooks), hooks);
    }
    for (const t_hook& h : hooks)
        if (h.fn) h.fn(h.owner);
    // Runs before every dictionary operation: no allocation unless a sink
    // has something to hear.
    struct t_pending {
        int index;
        int version;
    };
    t_pending pending[kMaxEntries];
    size_t pendingCount = 0;
    {
        t_recursiveLock::t_locker guard(m_sinkLock);
        for (int i = 0; i < kMaxEntries; ++i) {
            const t_sinkRecord& r = m_sinks[static_cast<size_t>(i)];
            if (r.inUse && (r.mask & mask)) pending[pendingCount++] = {i, r.lastVersion};
        }
    }
    {
        t_processLock::t_locker guard(m_tableLock);
        const int count = EntryCount();
        size_t kept = 0;
        for (size_t k = 0; k < pendingCount; ++k) {
            const t_pending p = pending[k];
            if (p.index >= count) return false;  // a sink without a table entry
            const int now = Entry(p.index)->version;
            if (now != p.version) pending[kept++] = {p.index, now};
        }
        pendingCount = kept;
    }
    if (pendingCount == 0) {
        m_lastError = nullptr;
        return true;
    }
    struct t_call {
        int index;
        int version;
        uint32_t kind;
        t_versionCallback callback;
        std::shared_ptr<t_versionManagerEventSinkBase> sink;  // alive during the call
    };
    std::vector<t_call> calls;
    {
        t_recursiveLock::t_locker guard(m_sinkLock);
        for (size_t k = 0; k < pendingCount; ++k) {
            const t_pending& p = pending[k];
            t_sinkRecord& r = m_sinks[static_cast<size_t>(p.index)];
            if (!r.inUse) continue;
            r.lastVersion = p.version;
            if (r.kind == 0 ? r.callback != nullptr : r.sink != nullptr)
                calls.push_back({p.index, p.version, r.kind, r.callback, r.sink});
        }
    }
    for (const t_call& c : calls) {
        const void* target = c.kind == 0 ? reinterpret_cast<const void*>(c.callback)
                                         : static_cast<const void*>(c.sink.get());
        if (!StillRegistered(c.index, c.kind, target)) continue;
        if (c.kind == 0)
            c.callback(c.version);
        else
            c.sink->OnVersion(c.version);
    }
    m_lastError = nullptr;
    return true;
}

bool t_versionManager::NotifyAll(const wchar_t* name) {
    if (!TableUsable() || !m_sinkLock.IsInitialised() || m_sinks.size() != kMaxEntries) {
        m_lastError = kVmErrNotReady;
        return false;
    }
    std::vector<std::pair<int, std::shared_ptr<t_versionManagerEventSinkBase>>> targets;
    {
        t_recursiveLock::t_locker guard(m_sinkLock);
        for (int i = 0; i < kMaxEntries; ++i) {
            const t_sinkRecord& r = m_sinks[static_cast<size_t>(i)];
            if (r.inUse && r.kind == 1 && r.sink) targets.emplace_back(i, r.sink);
        }
    }
    for (const auto& [index, sink] : targets)
        if (StillRegistered(index, 1, sink.get())) sink->OnName(name);
    m_lastError = nullptr;
    return true;
}
