// t_versionManager: named version counters and the change sinks registered
// on them. Writers raise a counter; CheckUpdate later calls each sink whose
// data changed. Any thread; sinks are called with no lock of the manager
// held, so a sink may register, unregister or raise versions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/mapped_memory.h"

inline constexpr const wchar_t* kVmErrNotReady = L"还没准备好";
inline constexpr const wchar_t* kVmErrNotReadyOrBadName = L"还没准备好或事件名错误";
inline constexpr const wchar_t* kVmErrCreateLock = L"创建锁失败";
inline constexpr const wchar_t* kVmErrCreateGlobalLock = L"创建全局锁失败";
inline constexpr const wchar_t* kVmErrOpenTable = L"打开或创建versiontable失败";
inline constexpr const wchar_t* kVmErrTableFull = L"索引越界";
inline constexpr const wchar_t* kVmErrIndexTaken = L"相同索引已被注册，且事件名不同";
inline constexpr const wchar_t* kVmErrBadIndex = L"索引超出合法范围";
inline constexpr const wchar_t* kVmErrLockUnusable = L"锁不可用";

// Event masks of the kernel's sinks.
enum : uint32_t {
    kVersionMaskDict = 2,     // dictionary blocks and the configuration block
    kVersionMaskManager = 8,  // the dictionary manager's event, the user dictionary
    kVersionMaskAll = 255,
};

class t_versionManagerEventSinkBase {
public:
    virtual ~t_versionManagerEventSinkBase() = default;
    virtual bool OnVersion(int newVersion) = 0;
    virtual bool OnName(const wchar_t* name) = 0;
};

// Binds an owner and two of its members: one for a version change, one for
// a name event. Both calls report true.
template <class Owner, class OnVersionFn, class OnNameFn>
class t_versionManagerEventSink final : public t_versionManagerEventSinkBase {
public:
    t_versionManagerEventSink(Owner owner, OnVersionFn onVersion, OnNameFn onName)
        : m_owner(owner), m_onVersion(onVersion), m_onName(onName) {}
    bool OnVersion(int newVersion) override {
        (m_owner->*m_onVersion)(newVersion);
        return true;
    }
    bool OnName(const wchar_t* name) override {
        (m_owner->*m_onName)(name);
        return true;
    }

private:
    Owner m_owner;
    OnVersionFn m_onVersion;
    OnNameFn m_onName;
};

using t_versionCallback = bool (*)(int newVersion);
// Run at the start of every update check; it may raise versions.
using t_checkHook = void (*)(void* owner);

class t_versionManager {
public:
    static constexpr int kMaxEntries = 300;
    static constexpr int kMaxNameChars = 1024;
    static constexpr uint32_t kTableMagic = 0x53544D56;  // "VMTS"
    static constexpr uint32_t kTableFormat = 1;
    static constexpr int32_t kTableBytes = 12 + kMaxEntries * 4104;

    t_versionManager() = default;
    ~t_versionManager();
    t_versionManager(const t_versionManager&) = delete;
    t_versionManager& operator=(const t_versionManager&) = delete;

    // Creates the locks and the version table once; true when ready. False
    // with the last error set when a lock or the table cannot be made.
    bool Init();
    bool IsReady() const { return m_ready; }
    const wchar_t* GetLastError() const { return m_lastError; }

    // Index of `name` in the table, adding it at version 1 when new; the
    // version goes to *version (may be null). -1 when not ready or the table
    // holds 300 names already ("索引越界").
    int FindOrAdd(const wchar_t* name, int* version);
    // -1 when not ready or the name is unknown (exact comparison).
    int GetVersion(const wchar_t* name);
    // Adds 1 to the version of `name`; an unknown name changes nothing and
    // still succeeds. False only when not ready.
    bool IncreaseVersion(const wchar_t* name);
    // The version last seen by the first sink registered under `name`
    // (case-insensitive); -1 when none.
    int GetLocalVersion(const wchar_t* name);

    // Registers `sink` in record `index` (0..299) under `name` with the
    // version last seen. On success the record owns the sink (the pointer is
    // taken from `sink`) and a sink it held before is released. On failure
    // (bad index, record used by another name, not ready) `sink` is left to
    // the caller.
    bool RegisterSink(const wchar_t* name, uint32_t mask, int index, int lastVersion,
                      std::unique_ptr<t_versionManagerEventSinkBase>& sink);
    // FindOrAdd, then registers a plain function at the current version.
    bool RegisterCallback(const wchar_t* name, uint32_t mask, t_versionCallback callback);
    // Frees every record registered exactly under `name`. A sink that is
    // running (or queued) in a CheckUpdate stays alive until that call ends
    // and is not called any more.
    bool Unregister(const wchar_t* name);

    // Adds a hook that every CheckUpdate runs first, with no lock of the
    // manager held (an owner notices changes the version table cannot see,
    // such as a file another process replaced). At most kMaxHooks; false
    // when full, not ready or null.
    static constexpr int kMaxHooks = 8;
    bool AddCheckHook(void* owner, t_checkHook hook);
    // Removes the owner's hooks; a hook running in another thread's update
    // check may still finish.
    void RemoveCheckHooks(void* owner);

    // Runs the hooks, then calls, in index order, every sink whose mask
    // shares a bit with `mask` and whose version changed since it last saw
    // it. False when not ready.
    bool CheckUpdate(uint32_t mask);
    bool CheckUpdate1() { return CheckUpdate(1); }
    bool CheckUpdate2() { return CheckUpdate(2); }
    bool CheckUpdate4() { return CheckUpdate(4); }
    bool CheckUpdate8() { return CheckUpdate(8); }
    bool CheckUpdateAll() { return CheckUpdate(kVersionMaskAll); }
    // Calls OnName(name) on every registered sink object. False when not
    // ready.
    bool NotifyAll(const wchar_t* name);

private:
    struct t_sinkRecord {
        std::wstring name;
        int lastVersion = 0;
        bool inUse = false;
        uint32_t mask = 0;
        uint32_t kind = 0;  // 0 plain function, 1 sink object
        t_versionCallback callback = nullptr;
        std::shared_ptr<t_versionManagerEventSinkBase> sink;
    };
    struct t_tableHeader;
    struct t_tableEntry;

    bool TableUsable() const;
    t_tableHeader* Header() const;
    t_tableEntry* Entry(int index) const;
    int EntryCount() const;  // clamped to 0..kMaxEntries
    int FindLocked(const wchar_t* name) const;
    bool StillRegistered(int index, uint32_t kind, const void* target);
    // Under m_sinkLock: the record at index, taken for name with the version,
    // mask and kind; null (last error set) when another name holds it.
    t_sinkRecord* ClaimRecord(int index, const wchar_t* name, int lastVersion, uint32_t mask,
                              uint32_t kind);

    t_mappedMemory m_table;      // the version table; guarded by m_tableLock
    t_recursiveLock m_sinkLock;  // guards m_sinks
    t_processLock m_tableLock;
    std::vector<t_sinkRecord> m_sinks;
    struct t_hook {
        void* owner = nullptr;
        t_checkHook fn = nullptr;
    };
    t_hook m_hooks[kMaxHooks];  // guarded by m_sinkLock
    bool m_ready = false;
    const wchar_t* m_lastError = nullptr;
};
