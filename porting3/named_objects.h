// Named kernel objects of the platform layer, realised inside the process:
// mutexes and critical sections that exclude nothing, private "shared"
// memory blocks, and data files loaded once and shared within the process.
// Main thread only: nothing here takes a real lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "porting3/path16.h"
#include "porting3/runtime_env.h"
#include "porting3/str_class.h"

namespace n_porting {

class t_mutex {
public:
    static constexpr size_t kMaxNameUnits = 1024;

    t_mutex() = default;
    virtual ~t_mutex() = default;
    t_mutex(const t_mutex&) = delete;
    t_mutex& operator=(const t_mutex&) = delete;

    // True at once when created. The name gets the prefix "Local\" (a
    // doubled prefix keeps one); no name gives "Local\Mutex_NoName". False
    // ("互斥量创建失败：") for a name longer than 1024 units.
    virtual bool Create(t_errorContext& ctx, const char16_t* name);
    virtual void Close() {}
    virtual bool IsCreated() const { return m_handle != 0; }
    // True without a handle; else waits through the shim.
    virtual bool Acquire(t_errorContext& ctx);
    virtual void Unlock();
    // Fails ("t_mutex::Lock 未初始化") unless created; else Acquire.
    bool Lock(t_errorContext& ctx);
    const char16_t* GetName() const { return m_name.GetStr(); }

    // Unlocks the mutex it locked when it goes.
    class t_locker {
    public:
        t_locker() = default;
        virtual ~t_locker() { Unlock(); }
        t_locker(const t_locker&) = delete;
        t_locker& operator=(const t_locker&) = delete;
        bool Lock(t_errorContext& ctx, t_mutex* mutex);
        void Unlock();

    private:
        t_mutex* m_mutex = nullptr;
    };

protected:
    // The name as stored: "Local\" once in front.
    static bool NormaliseName(t_str& out, const char16_t* name);

    uint64_t m_handle = 0;  // 0 until created; the shims give 1
    t_str m_name;
};

class t_criticalSection : public t_mutex {
public:
    ~t_criticalSection() override { Close(); }
    // True when created; else initialises it ("创建CriticalSection失败:%s, %d").
    bool Create(t_errorContext& ctx, const char16_t* name) override;
    void Close() override;
    bool IsCreated() const override { return m_created; }
    bool Acquire(t_errorContext& ctx) override;
    void Unlock() override;

private:
    t_criticalSectionShim m_section;
    bool m_created = false;
};

// A mutex named after a path: "Local\mutex_file_0x%08x" over the path's
// case-folded units.
class t_path::t_mutex : public n_porting::t_mutex {
public:
    // Refused ("创建文件对象锁失败：不支持"): only CreateFromPath names it.
    bool Create(t_errorContext& ctx, const char16_t* name) override;
    virtual bool CreateFromPath(t_errorContext& ctx, const t_path& path);
};

// A block of memory under a name. Here every block is private to its holder,
// except that holders of one data file share its loaded bytes.
class t_memSharableBase {
public:
    t_memSharableBase() = default;
    virtual ~t_memSharableBase() { Close(); }
    t_memSharableBase(const t_memSharableBase&) = delete;
    t_memSharableBase& operator=(const t_memSharableBase&) = delete;

    // Fails when already open. Without a data file: a new zeroed block of
    // `size` bytes ("not create of faking share mem" for 0, so no block can
    // be opened by name alone). With a data file: its bytes, loaded on first
    // use and kept for the process (the loader's text on failure).
    bool Open(t_errorContext& ctx, bool create, const char16_t* name, uint64_t size,
              const char16_t* dataFile);
    // Frees a private block; a data file's bytes stay with the registry.
    void Close();
    bool IsOpen() const { return m_open; }
    uint8_t* GetBlock() const { return m_block; }
    uint64_t GetBlockSize() const { return m_blockSize; }
    void Swap(t_memSharableBase& other);

protected:
    int64_t m_handle = 0;  // -1 while open
    uint8_t* m_block = nullptr;
    uint64_t m_blockSize = 0;
    bool m_open = false;
    bool m_owned = false;  // a private block, freed on Close
};

template <class TLocker>
class t_memSharable_t : public t_memSharableBase {};

// A block with a header: u32 data size at offset 0, u32 flag word at 4, the
// data from 8.
template <class TLocker>
class t_shareMem_t : public t_memSharable_t<TLocker> {
public:
    static constexpr uint32_t kHeaderBytes = 8;

    bool Create(t_errorContext& ctx, TLocker&, const char16_t* name, uint32_t size) {
        if (!t_memSharableBase::Open(ctx, true, name, uint64_t(size) + kHeaderBytes, nullptr))
            return false;
        Header()[0] = size;
        return true;
    }
    // Opening an existing block by name: never possible here.
    bool Open(t_errorContext& ctx, TLocker&, const char16_t* name) {
        return t_memSharableBase::Open(ctx, false, name, 0, nullptr);
    }

    // Every accessor is safe on a holder that is not open: null data, 0 values.
    uint8_t* GetData() const { return HasHeader() ? this->m_block + kHeaderBytes : nullptr; }
    uint8_t* GetDataOrNull() const { return GetData(); }
    uint32_t GetSize() const { return HasHeader() ? Header()[0] : 0; }
    uint32_t GetFlag() const { return HasHeader() ? Header()[1] : 0; }
    void SetFlag(uint32_t v) {
        if (HasHeader()) Header()[1] = v;
    }
    bool TestFlag(uint32_t v) const { return HasHeader() && Header()[1] == v; }
    // A flag of 0 becomes 1 first; returns the new value.
    uint32_t IncrementFlag() {
        if (!HasHeader()) return 0;
        if (Header()[1] == 0) Header()[1] = 1;
        return ++Header()[1];
    }
    // Sets the flag (1 for 0); returns the old value.
    uint32_t ExchangeFlag(uint32_t v) {
        if (!HasHeader()) return 0;
        const uint32_t old = Header()[1];
        Header()[1] = v ? v : 1;
        return old;
    }
    void Swap(t_shareMem_t& other) { t_memSharableBase::Swap(other); }

private:
    bool HasHeader() const {
        return this->m_open && this->m_owned && this->m_blockSize >= kHeaderBytes;
    }
    uint32_t* Header() const { return reinterpret_cast<uint32_t*>(this->m_block); }
};

// The process-wide registry of loaded data files.
class t_filemap {
public:
    // Creates the registry's mutex; later calls return true at once.
    static bool Init(t_errorContext& ctx);
};

}  // namespace n_porting
