// The renewable memory block: attach by version, rebuild from the owner,
// grow by moving into a new block. Main thread only.
#include "userenv/renewable_memory.h"

#include <cstdlib>
#include <cstring>

namespace n_userenv {

using n_porting::t_str;

namespace {

// Blocks of many holders share a version slot, and a resize bumps it so that
// holders of the grown block attach the new one. Here every block is private
// to its holder, so a bump made by another block's resize changes nothing in
// this one: each slot keeps its latest unbroken run of such bumps, and a
// holder whose version lies in that run keeps its data (values merged but
// not yet saved among them) instead of rebuilding from the file. Any other
// bump still rebuilds. Main thread only.
struct t_resizeRun {
    uint32_t from = 0;  // the version before the first resize of the run
    uint32_t to = 0;    // the version the last one made
};

t_resizeRun& ResizeRun(int slot) {
    static t_resizeRun runs[n_porting::t_versionReg::kSlots];
    static t_resizeRun none;
    if (slot < 0 || slot >= n_porting::t_versionReg::kSlots) {
        none = t_resizeRun();
        return none;
    }
    return runs[slot];
}

void NoteResize(int slot, uint32_t version) {
    t_resizeRun& run = ResizeRun(slot);
    if (version == 0) return;
    if (run.to == 0 || run.to != version - 1) run.from = version - 1;
    run.to = version;
}

bool OnlyResizedSince(int slot, uint32_t attached, uint32_t version) {
    const t_resizeRun& run = ResizeRun(slot);
    return attached != 0 && run.to != 0 && attached < version && version == run.to &&
           attached >= run.from;
}

}  // namespace

t_renewableMemory::t_renewableMemory(i_renewable* owner, const char16_t* base, int slot,
                                     const uint32_t* id)
    : t_interface(slot), m_owner(owner) {
    if (!base) {
        m_baseName.Assign(u"???");
        return;
    }
    m_baseName.Assign(base);
    if (id && *id != 0xFFFFFFFF) {
        static const char16_t kDigits[] = u"0123456789abcdef";
        char16_t hex[9];
        int n = 0;
        for (int shift = 28; shift >= 0; shift -= 4)
            if (n || ((*id >> shift) & 15) || shift == 0) hex[n++] = kDigits[(*id >> shift) & 15];
        hex[n] = 0;
        m_baseName.Append(hex);
    }
}

bool t_renewableMemory::BlockName(t_str& out, uint32_t version) const {
    return out.Format(u"%s.v%d.filemap.vetraime", m_baseName.GetStr(), int(version));
}

uint32_t t_renewableMemory::GetSize() const {
    const uint32_t size = m_block.GetSize();
    return size >= kTrailerBytes ? size - kTrailerBytes : 0;
}

bool t_renewableMemory::Create(t_errorContext& ctx, t_block& block, uint32_t version,
                               uint32_t capacity) {
    t_str name;
    t_lockerMemSharable locker;
    if (uint64_t(capacity) + kTrailerBytes > 0xFFFFFFFFu - t_block::kHeaderBytes ||
        !BlockName(name, version) ||
        !block.Create(ctx, locker, name.GetStr(), capacity + kTrailerBytes))
        return false;
    std::memset(block.GetData() + capacity, 0, kTrailerBytes);
    return true;
}

bool t_renewableMemory::Load(t_errorContext& ctx, uint32_t version) {
    if (!m_owner) {
        ctx.SetError(u"共享内存不合法！");
        return false;
    }
    if (m_block.IsOpen() && version == m_attached) return true;
    if (m_block.IsOpen() && OnlyResizedSince(m_slot, m_attached, version)) {
        m_attached = version;
        m_stamp = version;
        return true;
    }
    if (!m_owner->Prepare(ctx)) {
        ctx.SetError(u"加载用户数据失败");
        return false;
    }
    uint8_t* image = nullptr;
    uint32_t size = 0;
    if (!m_owner->LoadImage(ctx, &image, &size)) {
        std::free(image);
        ctx.SetError(u"加载文件失败");
        return false;
    }
    t_block fresh;
    const bool made = Create(ctx, fresh, version, size);
    if (made && size) std::memcpy(fresh.GetData(), image, size);
    std::free(image);
    if (!made) {
        ctx.SetError(u"新建共享内存失败");
        return false;
    }
    // Stamps only grow, so a store that saw the old block sees a change; a
    // first block starts at 1, never the 0 of a store that read nothing.
    fresh.SetFlag(m_block.IsOpen() ? m_block.GetFlag() : 0);
    fresh.IncrementFlag();
    if (!m_block.IsOpen()) fresh.SetFlag(1);
    m_block.Swap(fresh);
    m_attached = version;
    m_stamp = version;
    return true;
}

bool t_renewableMemory::Reserve(t_errorContext& ctx, uint8_t** data, uint32_t minimum) {
    *data = nullptr;
    if (!m_block.IsOpen() || !IsLatest()) {
        uint32_t version = n_porting::t_versionReg::GetVersion(m_slot);
        if (version == 0) version = 1;  // a registry not set up: one fixed version
        if (!Load(ctx, version)) return false;
    }
    const uint32_t capacity = GetSize();
    if ((minimum == 0 || capacity >= minimum) &&
        !m_owner->NeedsGrowth(m_block.GetData(), capacity)) {
        m_dirty = true;
        *data = m_block.GetData();
        return true;
    }
    uint64_t grown = capacity ? uint64_t(capacity) * 2 : minimum;
    while (grown < minimum) grown += capacity;
    if (grown + kTrailerBytes > 0xFFFFFFFFu - t_block::kHeaderBytes ||
        !Resize(ctx, uint32_t(grown))) {
        ctx.SetError(u"扩容失败");
        return false;
    }
    m_dirty = true;
    *data = m_block.GetData();
    return true;
}

bool t_renewableMemory::Resize(t_errorContext& ctx, uint32_t capacity) {
    const uint32_t version = n_porting::t_versionReg::UpdateVersion(m_slot);
    NoteResize(m_slot, version);
    const uint32_t next = version ? version : m_attached + 1;
    t_block fresh;
    if (!Create(ctx, fresh, next, capacity)) {
        ctx.SetError(u"创建内存失败");
        return false;
    }
    if (!m_owner->MoveData(m_block.GetData(), GetSize(), fresh.GetData(), capacity)) {
        ctx.SetError(u"为用户数据扩展空间时重整内存失败");
        return false;
    }
    fresh.SetFlag(m_block.GetFlag());
    m_block.Swap(fresh);
    m_attached = next;
    m_stamp = next;
    return true;
}

void t_renewableMemory::Close() {
    m_block.Close();
    m_attached = 0;
}

bool t_renewableMemory::HasTrailerData() const {
    if (!m_block.IsOpen()) return false;
    const uint8_t* trailer = m_block.GetData() + GetSize();
    for (uint32_t i = 0; i < kTrailerBytes; ++i)
        if (trailer[i]) return true;
    return false;
}

}  // namespace n_userenv
