// The per-user settings keeper: containers per user id, reads, writes and
// merges of the shared copy, env.ini saves. Main thread only.
#include "userenv/user_env.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "userenv/user_manager.h"

namespace n_userenv {

using n_porting::t_path;

void GetEnvFilePath(t_path* out, uint32_t id, const UserManager* manager) {
    const UserManager& m = manager ? *manager : UserManager::GetInstance();
    t_path dir;
    *out = m.GetUserDir(id, &dir) ? dir + u"env.ini" : t_path(u"env.ini");
}

// ---- loader ----

bool UserEnv::t_envContainer::t_loader::Prepare(t_errorContext&) {
    GetEnvFilePath(&m_path, m_id, m_manager);
    return true;
}

bool UserEnv::t_envContainer::t_loader::LoadImage(t_errorContext& ctx, uint8_t** data,
                                                  uint32_t* size) {
    t_env store;
    t_errorContext ignored;  // a missing or unreadable file gives an empty store
    store.Load(ignored, m_path.GetStr(), 1);
    const uint64_t bytes = store.GetImageSize();
    *data = bytes <= 0xFFFF0000u ? static_cast<uint8_t*>(std::malloc(size_t(bytes))) : nullptr;
    if (!*data || !store.WriteImage(*data, bytes)) {
        ctx.SetError(u"读取环境信息失败");
        return false;
    }
    *size = uint32_t(bytes);
    return true;
}

bool UserEnv::t_envContainer::t_loader::MoveData(const uint8_t* from, uint32_t fromSize,
                                                 uint8_t* to, uint32_t toSize) {
    const uint32_t n = fromSize < toSize ? fromSize : toSize;
    if (n) std::memcpy(to, from, n);
    std::memset(to + n, 0, toSize - n);
    return true;
}

// ---- container ----

namespace {
const char16_t kBlockBase[] = u"Local\\vetraime_env_fm";

void Trace(t_errorContext& ctx, const char16_t* format, uint32_t id) {
    n_porting::t_str text;
    text.Format(format, int(id));
    ctx.SetError(text.GetStr());
}
}  // namespace

UserEnv::t_envContainer::t_envContainer(uint32_t id, const UserManager* manager)
    : m_id(id),
      m_loader(id, manager),
      m_memory(&m_loader, kBlockBase, n_porting::kVersionSlotSettings, &m_id) {}

bool UserEnv::t_envContainer::ReadShared(t_errorContext& ctx, t_env& store) {
    uint8_t* data = nullptr;
    if (!m_memory.Reserve(ctx, &data, 0) || !store.ReadImage(data, m_memory.GetSize())) {
        ctx.SetError(u"读取环境信息失败");
        return false;
    }
    store.SetStamp(m_memory.GetStamp());
    store.ClearDirty();
    return true;
}

bool UserEnv::t_envContainer::WriteShared(t_errorContext& ctx, const t_env& store) {
    const uint64_t size = store.GetImageSize();
    uint8_t* data = nullptr;
    if (size > 0xFFFF0000u || !m_memory.Reserve(ctx, &data, uint32_t(size)) ||
        !store.WriteImage(data, m_memory.GetSize())) {
        ctx.SetError(u"拷贝环境信息失败");
        return false;
    }
    return true;
}

bool UserEnv::t_envContainer::GetEnv(t_errorContext& ctx, t_env& store) {
    t_lockerMemSharable lock;
    return ReadShared(ctx, store);
}

bool UserEnv::t_envContainer::CopyFrom(t_errorContext& ctx, const t_env& store) {
    t_lockerMemSharable lock;
    return WriteShared(ctx, store);
}

bool UserEnv::t_envContainer::MergeIntoShared(t_errorContext& ctx, t_env& merged, t_env& store,
                                              bool bump) {
    return ReadShared(ctx, merged) && t_env::Merge(merged, ctx, store, bump) &&
           WriteShared(ctx, merged);
}

bool UserEnv::t_envContainer::MergeFrom(t_errorContext& ctx, t_env& store, bool bumpGroups) {
    t_env merged;
    t_lockerMemSharable lock;
    if (!MergeIntoShared(ctx, merged, store, bumpGroups)) {
        ctx.SetError(u"UserEnv::t_envContainer::MergeFrom 失败");
        return false;
    }
    m_memory.IncreaseStamp();
    merged.ClearDirty();
    return true;
}

bool UserEnv::t_envContainer::MergeSave(t_errorContext& ctx, t_env& store, const char16_t* path,
                                        bool bumpGroups) {
    t_env merged;
    {
        t_lockerMemSharable lock;
        if (!MergeIntoShared(ctx, merged, store, bumpGroups)) {
            ctx.SetError(u"UserEnv::t_envContainer::MergeSave 失败");
            return false;
        }
    }
    if (!merged.Save(ctx, path)) {
        ctx.SetError(u"UserEnv::t_envContainer::MergeSave 失败");
        return false;
    }
    m_memory.IncreaseStamp();
    merged.ClearDirty();
    store.ClearDirty();
    return true;
}

bool UserEnv::t_envContainer::MergeEnv(t_errorContext& ctx, t_env& store, bool bumpGroups) {
    const bool modified = store.IsModified();
    if (m_memory.IsLatest() && m_memory.IsReady()) {
        // A store that never read the block holds stamp 0, which no block has.
        if (store.GetStamp() != 0 && m_memory.IsStamp(store.GetStamp()) && !modified) return true;
    } else if (!m_memory.CheckVersion(ctx, false)) {
        return false;
    }
    t_env merged;
    t_lockerMemSharable lock;
    if (!MergeIntoShared(ctx, merged, store, bumpGroups)) return false;
    if (modified) m_memory.IncreaseStamp();
    store.SetStamp(m_memory.GetStamp());
    if (!store.CopyFrom(merged)) return false;
    merged.ClearDirty();
    store.ClearDirty();
    return true;
}

// ---- UserEnv ----

UserEnv& UserEnv::GetInstance() {
    static UserEnv instance;
    return instance;
}

UserEnv::UserEnv(const UserManager* manager) : m_manager(manager) {}

UserEnv::~UserEnv() {
    for (auto* n = m_containers.First(); n; n = m_containers.Next(n)) delete n->value;
}

bool UserEnv::Init(t_errorContext& ctx) {
    if (m_inited) return true;
    m_inited = true;
    if (!m_mutex.Create(ctx, u"Local\\userenv.mutex.vetraime")) {
        ctx.SetError(u"UserEnv::Init mutex失败：0");
        return false;
    }
    if (!m_section.Create(ctx, u"Local\\userenv.mutex.vetraime.proc")) {
        ctx.SetError(u"UserEnv::Init cs失败：0");
        return false;
    }
    return true;
}

UserEnv::t_envContainer* UserEnv::Container(uint32_t id) {
    if (auto* found = m_containers.Find(id)) return found->value;
    auto* made = new (std::nothrow) t_envContainer(id, m_manager);
    if (made && !m_containers.Insert(id, made)) {
        delete made;
        return nullptr;
    }
    return made;
}

bool UserEnv::GetEnv(t_errorContext& ctx, t_env& store, uint32_t id) {
    n_porting::t_mutex::t_locker lock;
    if (!lock.Lock(ctx, &m_section)) {
        Trace(ctx, u"UserEnv::GetEnv失败:uid=%d", id);
        return false;
    }
    if (!(Container(id) && Container(id)->GetEnv(ctx, store))) {
        Trace(ctx, u"UserEnv::GetEnv 失败:uid = %d", id);
        return false;
    }
    return true;
}

bool UserEnv::CopyFrom(t_errorContext& ctx, uint32_t id, const t_env& store) {
    n_porting::t_mutex::t_locker lock;
    if (!lock.Lock(ctx, &m_section) || !(Container(id) && Container(id)->CopyFrom(ctx, store))) {
        Trace(ctx, u"UserEnv::CopyFrom 失败: uid = %d", id);
        return false;
    }
    return true;
}

bool UserEnv::MergeFrom(t_errorContext& ctx, uint32_t id, t_env& store, bool bumpGroups) {
    n_porting::t_mutex::t_locker lock;
    if (!lock.Lock(ctx, &m_section) ||
        !(Container(id) && Container(id)->MergeFrom(ctx, store, bumpGroups))) {
        Trace(ctx, u"UserEnv::MergeFrom 失败: uid = %d", id);
        return false;
    }
    return true;
}

bool UserEnv::MergeSave(t_errorContext& ctx, uint32_t id, t_env& store, bool bumpGroups) {
    n_porting::t_mutex::t_locker lock;
    t_path path;
    GetEnvFilePath(&path, id, m_manager);
    if (!lock.Lock(ctx, &m_section) ||
        !(Container(id) && Container(id)->MergeSave(ctx, store, path.GetStr(), bumpGroups))) {
        Trace(ctx, u"UserEnv::MergeSave 失败: uid = %d", id);
        return false;
    }
    return true;
}

bool UserEnv::MergeGet(t_errorContext& ctx, uint32_t id, t_env& store, bool bumpGroups) {
    n_porting::t_mutex::t_locker lock;
    if (!lock.Lock(ctx, &m_section) ||
        !(Container(id) && Container(id)->MergeEnv(ctx, store, bumpGroups))) {
        Trace(ctx, u"UserEnv::MergeGet 失败: uid = %d", id);
        return false;
    }
    return true;
}

bool UserEnv::SaveCurrent(t_errorContext& ctx, uint32_t id) {
    t_env store;
    if (!GetEnv(ctx, store, id)) {
        ctx.SetError(u"无法保存当前ENV");
        return false;
    }
    t_path path;
    GetEnvFilePath(&path, id, m_manager);
    if (!store.Save(ctx, path.GetStr())) {
        Trace(ctx, u"无法保存当前ENV：uid = %d", id);
        return false;
    }
    return true;
}

bool MergeGetUserEnv(t_errorContext& ctx, t_env& store, const uint32_t* id) {
    return id && UserEnv::GetInstance().MergeGet(ctx, *id, store, true);
}

}  // namespace n_userenv
