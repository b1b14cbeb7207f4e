// t_shareMemory: the memory of one named data set (a read-only dictionary
// file mapping or a private block) with its lock and its registration with
// the version manager, reopened when the data set's version changes.
// Opened and re-attached on the kernel's thread; readers take no lock.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/mapped_memory.h"

class t_shareMemory {
public:
    t_shareMemory() = default;
    virtual ~t_shareMemory();
    t_shareMemory(const t_shareMemory&) = delete;
    t_shareMemory& operator=(const t_shareMemory&) = delete;

    // Called (through the version manager) when the data set's version
    // changed: a file mapping is replaced by a fresh mapping of the same
    // path; a private block is kept (it has no other source) and registered
    // again. Returns the result of the reopen.
    virtual bool OnVersionChanged(int version);
    virtual bool OnNameEvent(const wchar_t* name);

    // Registers "<safe path>_Event_<suffix>" with the version manager (a
    // failed registration is tolerated), creates the lock
    // "<safe file name>_FileLocker" and maps the file read-only. False when
    // the lock cannot be made, the version-in-name flag is set and the name
    // has no sink, or the file cannot be mapped; the attached name is then
    // empty. The size becomes -1.
    bool OpenFileMap(const wchar_t* path);
    // The same for a private block: lock "<safe name>_MemLocker"; the block
    // already held is kept, else a zeroed block of `size` bytes is made
    // (size <= 0 then fails). The size asked for is remembered.
    bool OpenMemory(const wchar_t* name, int32_t size);

    bool IsValid() const { return m_memory.IsValid(); }
    void* GetData() const { return m_memory.GetData(); }
    int32_t GetDataSize() const { return m_memory.GetSize(); }
    t_mappedMemory& Memory() { return m_memory; }
    const std::wstring& GetVersionName() const { return m_versionName; }
    const std::wstring& GetAttachedName() const { return m_attachedName; }
    // Why the last open made no lock (the lock's own words); empty when it
    // had one.
    const std::string& GetLockFailure() const { return m_lockFailure; }
    int32_t GetOpenSize() const { return m_size; }

    void SetVersionMask(uint32_t mask) { m_mask = mask; }
    void SetVersionInName(bool on) { m_versionInName = on; }
    void SetNameSuffix(const wchar_t* suffix) { m_suffix = suffix ? suffix : L""; }

protected:
    // Unregisters, releases the memory, forgets the version name and closes
    // the lock.
    void Detach();
    // Builds the version name and registers this object's sink.
    void Register(const wchar_t* base);
    // Creates the lock; why it could not, kept for GetLockFailure.
    bool CreateLock(const std::wstring& name);

    t_mappedMemory m_memory;
    t_processLock m_lock;  // taken only around an open
    std::wstring m_versionName;
    std::wstring m_suffix;
    uint32_t m_mask = 2;
    bool m_versionInName = false;
    std::wstring m_attachedName;  // path or block name last opened
    std::string m_lockFailure;    // see GetLockFailure
    int32_t m_size = -1;          // -1 for a file mapping
};
