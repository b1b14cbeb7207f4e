// t_renewableMemory: one data image (a user's settings) in a named,
// versioned memory block that is rebuilt from its owner's file when another
// writer bumps the version, and moved into a larger block when it must grow.
// Main thread only.
#pragma once

#include <cstdint>

#include "porting3/named_objects.h"
#include "porting3/version_reg.h"

namespace n_userenv {

using n_porting::t_errorContext;

// The producer of a renewable block's data.
class i_renewable {
public:
    virtual ~i_renewable() = default;
    // A new malloc'd image of the data and its size.
    virtual bool LoadImage(t_errorContext& ctx, uint8_t** data, uint32_t* size) = 0;
    // Whether the owner can produce an image now (its path resolved).
    virtual bool Prepare(t_errorContext& ctx) = 0;
    // True when the data no longer fit their block.
    virtual bool NeedsGrowth(const uint8_t* data, uint32_t capacity) = 0;
    // Moves the data from the old area into the new one.
    virtual bool MoveData(const uint8_t* from, uint32_t fromSize, uint8_t* to, uint32_t toSize) = 0;
};

class t_lockerMemSharable : public n_porting::t_mutex::t_locker {};

class t_renewableMemory : public n_porting::t_versionReg::t_interface {
public:
    static constexpr uint32_t kTrailerBytes = 64;
    // The block name's base: `base` alone for the id 0xFFFFFFFF, else base
    // followed by the id in lower-case hexadecimal; "???" without a base.
    t_renewableMemory(i_renewable* owner, const char16_t* base, int slot, const uint32_t* id);
    ~t_renewableMemory() override { Close(); }

    // Attaches the block of `version`: the one attached already returns 1 at
    // once; another is built from the owner's image in a second holder and
    // swapped in, the old block staying attached when that fails.
    bool Load(t_errorContext& ctx, uint32_t version);
    bool Reload(t_errorContext& ctx, uint32_t version, bool) override { return Load(ctx, version); }
    // Makes the block current and at least `minimum` bytes of data; out = data.
    bool Reserve(t_errorContext& ctx, uint8_t** data, uint32_t minimum);
    // Moves the data into a new block of `capacity` bytes under a new version.
    bool Resize(t_errorContext& ctx, uint32_t capacity);
    uint32_t GetSize() const;
    bool IsReady() const { return m_owner && m_block.IsOpen(); }
    void Close();
    uint32_t GetStamp() const { return m_block.GetFlag(); }
    bool IsStamp(uint32_t v) const { return m_block.IsOpen() && m_block.TestFlag(v); }
    uint32_t IncreaseStamp() { return m_block.IncrementFlag(); }
    bool HasTrailerData() const;
    const n_porting::t_str& GetBaseName() const { return m_baseName; }
    uint32_t GetAttachedVersion() const { return m_attached; }

private:
    typedef n_porting::t_shareMem_t<t_lockerMemSharable> t_block;
    bool BlockName(n_porting::t_str& out, uint32_t version) const;
    bool Create(t_errorContext& ctx, t_block& block, uint32_t version, uint32_t capacity);

    t_block m_block;
    n_porting::t_str m_baseName;
    bool m_dirty = false;
    i_renewable* m_owner;
    uint32_t m_attached = 0;  // the version of the attached block; 0 for none
};

}  // namespace n_userenv
