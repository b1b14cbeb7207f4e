// The version table in one private block of 24 slots.
#include "porting3/version_reg.h"

namespace n_porting {

namespace {

struct t_registry {
    t_mutex mutex;
    t_shareMem_t<t_versionReg::t_locker> block;
    bool initialised = false;
    bool attempted = false;
};

// Never destroyed: holders may ask for versions while the process ends.
t_registry& Registry() {
    static auto* registry = new t_registry;
    return *registry;
}

// The slot's cell, or null for a slot outside the table or before Init.
uint32_t* Slot(int slot) {
    t_registry& r = Registry();
    if (!r.initialised || slot < 0 || slot >= t_versionReg::kSlots) return nullptr;
    return reinterpret_cast<uint32_t*>(r.block.GetData()) + slot;
}

}  // namespace

bool t_versionReg::Init(t_errorContext& ctx) {
    t_registry& r = Registry();
    t_errorContext inner;
    if (!r.mutex.Create(inner, u"Local\\qzfmPyVRMutex")) {
        ctx.SetError(u"创建Message filemap mutex失败:");
        return false;
    }
    t_locker locker;
    if (!locker.Lock(inner, &r.mutex)) {
        ctx.SetError(u"VersionReg初始化失败");
        return false;
    }
    if (r.initialised) return true;
    if (r.attempted) {
        ctx.SetError(u"failled load version reg before");
        return false;
    }
    r.attempted = true;
    if (!r.block.Create(ctx, locker, u"Local\\Filemap_VersionReg", kSlots * 4)) return false;
    auto* slots = reinterpret_cast<uint32_t*>(r.block.GetData());
    const bool existing = r.block.GetFlag() != 0;
    for (int i = 0; i < kSlots; ++i)
        if (!existing || slots[i] < 1) slots[i] = 1;
    if (!existing) r.block.SetFlag(1);
    r.initialised = true;
    return true;
}

uint32_t t_versionReg::UpdateVersion(int slot) {
    uint32_t* cell = Slot(slot);
    return cell ? ++*cell : 0;
}

uint32_t t_versionReg::GetVersion(int slot) {
    const uint32_t* cell = Slot(slot);
    return cell ? *cell : 0;
}

bool t_versionReg::IsVersion(int slot, uint32_t value) {
    const uint32_t* cell = Slot(slot);
    return cell && *cell == value;
}

bool t_versionReg::t_interface::CheckVersion(t_errorContext& ctx, bool force) {
    uint32_t current = GetVersion(m_slot);
    if (m_stamp == current) {
        if (current != 0) return true;
        current = UpdateVersion(m_slot);
    }
    if (current == 0 || !Reload(ctx, current, force)) {
        ctx.SetError(u"检查数据更新失败（t_versionReg::t_interface::CheckVersion）");
        return false;
    }
    m_stamp = current;
    return true;
}

uint32_t t_versionReg::t_interface::SetStamp(uint32_t value) {
    const uint32_t old = m_stamp;
    m_stamp = value;
    return old;
}

}  // namespace n_porting
