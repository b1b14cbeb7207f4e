// The user manager: start-up over acc.dat (a damaged file is set aside, never
// deleted), accounts, login and the user folders. Main thread only.
#include "userenv/user_manager.h"

#include <dirent.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <new>
#include <string>

#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"
#include "porting3/runtime_env.h"
#include "porting3/str16.h"

namespace n_userenv {

using n_porting::t_path;
using n_porting::t_str;

namespace {

constexpr size_t kPathBytes = 4096;

void Fail(t_errorContext& ctx, const char16_t* text, const char16_t* detail = nullptr) {
    t_str message(text);
    if (detail) message.Append(detail);
    ctx.SetError(message.GetStr());
}

// A 16-bit text as the kernel's wide text (surrogate pairs joined).
std::wstring Wide(const char16_t* s) {
    std::wstring out;
    for (; s && *s; ++s) {
        char32_t c = *s;
        if (c >= 0xD800 && c < 0xDC00 && s[1] >= 0xDC00 && s[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(s[1]) - 0xDC00);
            ++s;
        }
        out.push_back(wchar_t(c));
    }
    return out;
}

// Removes the temporaries that killed saves of these files left in the
// folder ("<name>.vetra-tmp-XXXXXX"), only those no live writer holds and
// last written before `since` (see RemoveAbandonedTemp).
void RemoveAbandonedSaves(const t_path& dir, std::initializer_list<const wchar_t*> names,
                          const struct timespec& since) {
    if (!dir.IsDirectory()) return;
    const std::wstring wide = Wide(dir.GetStr());
    t_dirList list(wide.c_str(), false);
    std::wstring stem;
    for (int i = 0; i < list.GetCount(); ++i) {
        const t_pathName temp(list.GetAt(i));
        if (!SplitWriterTempName(temp.GetFileName(), &stem)) continue;
        for (const wchar_t* name : names)
            if (stem == name) RemoveAbandonedTemp(temp, since);
    }
}

}  // namespace

bool IsPlainFileName(const char16_t* name) {
    if (!name || !name[0] || n_porting::WcsCmp16(name, u".") == 0 ||
        n_porting::WcsCmp16(name, u"..") == 0)
        return false;
    for (const char16_t* p = name; *p; ++p)
        if (*p == u'/') return false;
    return true;
}

// ---- UserCurrentDataFile ----

UserCurrentDataFile::UserCurrentDataFile(UserManager* manager)
    : t_interface(n_porting::kVersionSlotCurrentUser), m_manager(manager) {}

int UserCurrentDataFile::BindCurrentUser(t_errorContext& ctx, const char16_t* operation) {
    // The id as loaded, without a version check: this runs inside one (a
    // reload), and checking again from here would recurse without end.
    uint32_t id = m_manager ? m_manager->AccFile().m_currentId : UserManager::kInvalidId;
    if (id == UserManager::kInvalidId) id = 0;  // as GetCurrentUserId reports it
    if (id == 0 && m_manager) return 2;
    const VarUserAcc* account =
        m_manager && id != UserManager::kInvalidId ? m_manager->AccFile().FindById(id) : nullptr;
    t_path dir;
    if (!account || !m_manager->GetUserDir(id, &dir)) {
        Fail(ctx, operation, u" 用户id非法");
        return 0;
    }
    Bind((dir + u"user.dat").GetStr(), account->GetKey());
    return 1;
}

bool UserCurrentDataFile::Load(t_errorContext& ctx) {
    const int bound = BindCurrentUser(ctx, u"UserCurrentDataFile::Load");
    if (bound == 2) {
        FreeContent();
        Reset();
    }
    m_loaded = bound == 2 || (bound == 1 && UserDataFile::Load(ctx));
    return m_loaded;
}

bool UserCurrentDataFile::Save(t_errorContext& ctx) {
    const int bound = BindCurrentUser(ctx, u"UserCurrentDataFile::Save");
    if (bound != 1) return bound == 2;
    if (!UserDataFile::Save(ctx)) return false;
    n_porting::t_versionReg::UpdateVersion(m_slot);
    SyncVersion();
    return true;
}

bool UserCurrentDataFile::Reload(t_errorContext& ctx, uint32_t, bool) {
    m_stale = true;
    if (!m_loaded) {
        ctx.SetError(u"UserCurrentDataFile::UpdateVersion 未初始化");
        return false;
    }
    return Load(ctx);
}

// ---- UserManager ----

UserManager& UserManager::GetInstance() {
    static UserManager instance;
    return instance;
}

bool UserManager::Init(t_errorContext& ctx) {
    if (m_inited) return true;
    n_porting::t_runtime& runtime = n_porting::t_runtime::GetInstance();
    if (!runtime.Init(ctx)) {
        ctx.SetError(u"UserManager初始化失败");
        return false;
    }
    m_modulePath.Assign(runtime.GetModuleFilePath());
    return InitAt(ctx, runtime.GetUserDataDir());
}

bool UserManager::InitAt(t_errorContext& ctx, const char16_t* userDataDir) {
    if (m_inited) return true;
    if (!userDataDir || !userDataDir[0]) {
        ctx.SetError(u"UserManager初始化失败");
        return false;
    }
    if (!m_section.Create(ctx, u"Local\\vetraime_user_lock_proc") ||
        !m_mutex.Create(ctx, u"Local\\vetraime_user_lock")) {
        ctx.SetError(u"UserManager初始化失败");
        return false;
    }
    struct timespec since;
    clock_gettime(CLOCK_REALTIME, &since);
    m_productDir = t_path(userDataDir, u"VetraPY");
    m_usersDir = t_path(userDataDir, u"VetraPY.users");
    MakePrivateDir(m_productDir);  // user 0's folder
    const bool accLoaded = LoadAccFile(ctx, true);
    if (accLoaded) TidyUserFolders(since);
    if (!accLoaded || !LoadCurrentUser(ctx)) {
        t_str reason(u"UserManager初始化失败:");
        reason.Append(ctx.GetError());
        ctx.SetError(reason.GetStr());
        return false;
    }
    m_inited = true;
    return true;
}

void UserManager::TidyUserFolders(const struct timespec& since) {
    RemoveAbandonedSaves(m_usersDir, {L"acc.dat"}, since);
    std::vector<uint32_t> ids{0};
    for (uint32_t i = 0; m_accLoaded && i < m_acc.GetCount(); ++i)
        ids.push_back(m_acc.GetAt(i)->GetId());
    for (const uint32_t id : ids) {
        t_path dir;
        if (!GetUserDir(id, &dir) || !dir.IsDirectory()) continue;
        MakePrivateDir(dir);
        MakePrivateFile((dir + u"user.dat").Str());
        RemoveAbandonedSaves(dir, {L"user.dat", L"env.ini"}, since);
    }
}

bool UserManager::PrepareAccFile(t_errorContext& ctx, const t_path& path) {
    if (!MakePrivateDir(m_usersDir)) {
        ctx.SetError(u"账户目录创建失败:无法创建上级目录");
        return false;
    }
    char bytes[kPathBytes];
    struct stat st;
    if (!path.ToBytes(bytes, sizeof bytes) || lstat(bytes, &st) == 0) return true;
    UserAccFile fresh;  // last id 0, current id 0, no accounts
    fresh.Bind(path.GetStr(), kAccFileKey);
    if (!fresh.UserFile::Save(ctx)) {
        ctx.SetError(u"UserManager::PrepareAccFile");
        return false;
    }
    return true;
}

// Moves the file to <users>/Backup/<name>_YYYYMMDD_hhmmss[_N]<ext>; an
// earlier copy is never replaced.
bool UserManager::MoveAside(const t_path& path) {
    const t_path backup(m_usersDir.GetStr(), u"Backup");
    if (!MakePrivateDir(backup)) return false;
    t_str title, stamp;
    path.GetFileTitle(title);
    if (!stamp.FormatTime(std::time(nullptr), u"_%Y%M%D_%h%m%s")) return false;
    title.Append(stamp);
    const char16_t* ext = path.GetExtension();
    char from[kPathBytes], to[kPathBytes];
    if (!path.ToBytes(from, sizeof from)) return false;
    for (int n = 0; n < 1000; ++n) {
        t_str name(title);
        if (n) name << u"_" << n;
        if (ext) name.Append(ext);
        t_path dest(backup.GetStr(), name.GetStr());
        if (!dest.ToBytes(to, sizeof to)) return false;
        if (link(from, to) == 0) return unlink(from) == 0;
        if (errno != EEXIST) return false;
    }
    return false;
}

bool UserManager::LoadAccFile(t_errorContext& ctx, bool retry) {
    m_accLoaded = false;
    m_acc.m_loaded = false;
    const t_path path = GetAccFilePath();
    if (!PrepareAccFile(ctx, path)) {
        Fail(ctx, u"用户账户文件创建失败：", ctx.GetError());
        return false;
    }
    m_acc.Bind(path.GetStr(), kAccFileKey);
    if (m_acc.Load(ctx)) {
        m_accLoaded = m_acc.m_loaded = true;
        m_acc.SyncVersion();
        MakePrivateFile(m_acc.GetPath());
        return true;
    }
    t_str reason(u"用户账户文件加载失败：");
    reason.Append(ctx.GetError());
    ctx.SetError(reason.GetStr());
    if (!m_acc.WasReadWhole()) return true;  // left alone: user 0 in memory, nothing written
    if (!retry || !MoveAside(path)) return false;
    return LoadAccFile(ctx, false);
}

bool UserManager::LoadCurrentUser(t_errorContext& ctx) {
    if (m_current.Load(ctx)) {
        m_current.SyncVersion();
        return true;
    }
    // Back to the default user, which keeps no data file.
    m_acc.m_currentId = 0;
    if (m_accLoaded) {
        t_errorContext ignored;
        m_acc.Save(ignored);
    }
    ctx.SetError(u"当前用户数据加载失败");
    if (!m_current.Load(ctx)) return false;
    m_current.SyncVersion();
    return true;
}

bool UserManager::CheckVersions(t_errorContext& ctx) {
    if (m_accLoaded && !m_acc.IsLatest()) m_acc.CheckVersion(ctx, false);
    if (m_current.m_loaded && !m_current.IsLatest()) m_current.CheckVersion(ctx, false);
    return true;
}

bool UserManager::GetCurrentUserId(t_errorContext& ctx, uint32_t* id) {
    CheckVersions(ctx);
    const uint32_t current = m_acc.m_currentId;
    if (current == kInvalidId) {
        ctx.SetError(u"账户文件错误:非法的当前用户名");
        *id = 0;
        return false;
    }
    *id = current;
    return true;
}

VarUserAcc* UserManager::LoggableAccount(t_errorContext& ctx, VarUserAcc* account) {
    if (!account) ctx.SetError(u"用户不存在: ");
    return account;
}

bool UserManager::Login(t_errorContext& ctx, uint32_t id, const uint8_t key[kUserKeyBytes]) {
    CheckVersions(ctx);
    if (!m_accLoaded) {
        ctx.SetError(u"用户账户文件加载不成功");
        return false;
    }
    const VarUserAcc* account = LoggableAccount(ctx, m_acc.FindById(id));
    if (!account) return false;
    if (!key || CRYPTO_memcmp(account->GetKey(), key, kUserKeyBytes) != 0) {
        ctx.SetError(u"用户名密码不匹配");
        return false;
    }
    return true;
}

bool UserManager::LoginWithPassword(t_errorContext& ctx, uint32_t id, const char16_t* password) {
    uint8_t key[kUserKeyBytes];
    if (!DerivePasswordKey(password, key)) {
        ctx.SetError(u"用户名密码不匹配");
        return false;
    }
    return Login(ctx, id, key);
}

bool UserManager::LoginByName(t_errorContext& ctx, const char16_t* name,
                              const uint8_t key[kUserKeyBytes]) {
    uint32_t id;
    return FindUserId(ctx, &id, name) && Login(ctx, id, key);
}

bool UserManager::LoginByNameWithPassword(t_errorContext& ctx, const char16_t* name,
                                          const char16_t* password) {
    uint32_t id;
    return FindUserId(ctx, &id, name) && LoginWithPassword(ctx, id, password);
}

bool UserManager::FindUserId(t_errorContext& ctx, uint32_t* id, const char16_t* name) {
    CheckVersions(ctx);
    if (!m_accLoaded) {
        ctx.SetError(u"用户账户文件加载失败");
        return false;
    }
    const VarUserAcc* account = m_acc.FindByName(name);
    if (!account) {
        Fail(ctx, u"用户账户不存在: ", name);
        return false;
    }
    *id = account->GetId();
    return true;
}

bool UserManager::CreateAccount(t_errorContext& ctx, UserAccountInfo* info, bool copySettings) {
    CheckVersions(ctx);
    if (!m_accLoaded) {
        ctx.SetError(u"用户账户文件加载不成功");
        return false;
    }
    // Appended records live in the file's arena: a failure below leaves the
    // account in memory, so it is reloaded from the file then.
    // An id whose folder already holds a user.dat (an account of a set-aside
    // account file) is not free either: its data would be overwritten.
    const int64_t added = m_acc.AddAccount(info->name, info->second, info->key, [&](uint32_t id) {
        t_path dir;
        char bytes[kPathBytes];
        struct stat st;
        return GetUserDir(id, &dir) && (dir + u"user.dat").ToBytes(bytes, sizeof bytes) &&
               lstat(bytes, &st) == 0;
    });
    if (added < 0) {
        ctx.SetError(added == -1 ? u"无法创建账户,用户账户已存在"
                                 : u"无法创建账户,用户账户达到上限");
        return false;
    }
    const uint32_t id = uint32_t(added);
    auto undo = [&](const char16_t* message) {
        t_errorContext ignored;
        m_acc.Load(ignored);
        ctx.SetError(message);
        return false;
    };
    t_path dir;
    UserDataFile data;
    if (!GetUserDir(id, &dir) || !MakePrivateDir(dir)) return undo(u"用户目录生成出错");
    data.Bind((dir + u"user.dat").GetStr(), info->key);
    if (!data.FillForNewAccount(*info)) return undo(u"用户文件保存出错");
    (void)copySettings;  // the current user's settings are not copied: nothing is defined to copy
    if (!data.Save(ctx)) return undo(u"用户文件保存出错");
    if (!m_acc.Save(ctx)) return undo(u"账户文件保存出错");
    info->id = id;
    return true;
}

bool UserManager::OpenUserData(t_errorContext& ctx, UserDataFile& data, uint32_t id) {
    t_path dir;
    if (!GetUserDir(id, &dir)) {
        ctx.SetError(u"获取用户目录失败: ");
        return false;
    }
    const VarUserAcc* account = m_accLoaded ? m_acc.FindById(id) : nullptr;
    if (!account) {
        ctx.SetError(u"获取用户本地密码失败");
        return false;
    }
    data.Bind((dir + u"user.dat").GetStr(), account->GetKey());
    if (!data.Load(ctx)) {
        Fail(ctx, u"用户账户文件加载失败: ", ctx.GetError());
        return false;
    }
    return true;
}

bool UserManager::SetAccountKey(t_errorContext& ctx, uint32_t id,
                                const uint8_t key[kUserKeyBytes]) {
    VarUserAcc* account = m_accLoaded ? m_acc.FindById(id) : nullptr;
    if (!account) {
        ctx.SetError(u"账户不存在");
        return false;
    }
    uint8_t copy[kUserKeyBytes], old[kUserKeyBytes];
    std::memcpy(copy, key, kUserKeyBytes);
    std::memcpy(old, account->GetKey(), kUserKeyBytes);
    account->m_key.Set(copy);
    if (!m_acc.Save(ctx)) {
        account->m_key.Set(old);
        ctx.SetError(u"保存账户文件失败");
        return false;
    }
    return true;
}

bool UserManager::ChangePasswordNoLock(t_errorContext& ctx, uint32_t id,
                                       const char16_t* newPassword) {
    uint8_t key[kUserKeyBytes];
    UserDataFile data;
    if (!DerivePasswordKey(newPassword, key) || !OpenUserData(ctx, data, id)) {
        ctx.SetError(u"加载用户数据失败");
        return false;
    }
    // The account takes the new key first and goes back to the old one when
    // the data cannot be written under it, so a failed write leaves them matching.
    uint8_t oldKey[kUserKeyBytes];
    std::memcpy(oldKey, m_acc.FindById(id)->GetKey(), kUserKeyBytes);
    if (!SetAccountKey(ctx, id, key)) return false;
    data.SetKey(key);
    if (!data.Save(ctx)) {
        t_errorContext ignored;
        SetAccountKey(ignored, id, oldKey);
        ctx.SetError(u"保存用户数据失败");
        return false;
    }
    if (id == m_acc.m_currentId) m_current.Load(ctx);
    return true;
}

bool UserManager::UpdateAccountTextsNoLock(t_errorContext& ctx, uint32_t id,
                                           const UserAccountInfo& info) {
    VarUserAcc* account = m_accLoaded ? m_acc.FindById(id) : nullptr;
    if (!account) {
        ctx.SetError(u"账户不存在");
        return false;
    }
    if (!account->m_name.Set(info.name) || !account->m_second.Set(info.second) ||
        !m_acc.Save(ctx)) {
        ctx.SetError(u"保存账户文件失败");
        return false;
    }
    return true;
}

bool UserManager::UpdateUserSettingsNoLock(t_errorContext& ctx, uint32_t id, uint32_t mask,
                                           const UserAccountInfo& info) {
    UserDataFile data;
    if (!OpenUserData(ctx, data, id) || !CopyUserSettings(ctx, &data, mask, info)) {
        t_str message(u"加载用户数据失败:");
        message.Append(info.name ? info.name : u"");
        message.Append(u"(");
        message.Append(info.second ? info.second : u"");
        message.Append(u")");
        ctx.SetError(message.GetStr());
        return false;
    }
    if (id == m_acc.m_currentId) m_current.Load(ctx);
    return true;
}

bool UserManager::UpdateAccountNoLock(t_errorContext& ctx, uint32_t id, const UserAccountInfo& info,
                                      uint32_t flags, const char16_t* newPassword) {
    if ((flags & kUpdatePassword) && !ChangePasswordNoLock(ctx, id, newPassword)) return false;
    return UpdateAccountTextsNoLock(ctx, id, info) && UpdateUserSettingsNoLock(ctx, id, ~0u, info);
}

UserAccountInfo* UserManager::GetAccountInfo(n_porting::t_heap& arena, const VarUserAcc& account) {
    void* at = arena.Alloc(sizeof(UserAccountInfo));
    if (!at) return nullptr;
    auto* info = new (at) UserAccountInfo();
    VarStringW name(&arena), second(&arena);
    if (!name.Set(account.m_name.GetText()) || !second.Set(account.m_second.GetText()))
        return nullptr;
    info->id = account.GetId();
    info->name = name.GetText();
    info->second = second.GetText();
    std::memcpy(info->key, account.GetKey(), kUserKeyBytes);
    return info;
}

bool UserManager::GetAccountInfoByIdNoLock(t_errorContext& ctx, n_porting::t_heap& arena,
                                           uint32_t id, UserAccountInfo* out) {
    if (!m_accLoaded) {
        ctx.SetError(u"获取账户信息失败：用户账户文件加载失败");
        return false;
    }
    const VarUserAcc* account = m_acc.FindById(id);
    if (!account) {
        ctx.SetError(u"获取账户信息失败：账户不存在");
        return false;
    }
    UserDataFile loaded;
    const UserDataFile* data = &m_current;
    if (id != m_acc.m_currentId) {
        if (!OpenUserData(ctx, loaded, id)) {
            ctx.SetError(u"获取账户信息失败");
            return false;
        }
        data = &loaded;
    }
    const UserAccountInfo* record = GetAccountInfo(arena, *account);
    if (!record) {
        ctx.SetError(u"获取账户信息失败");
        return false;
    }
    data->ReadInto(out);
    // The byte array lives in the data file's arena: copy it too.
    out->bytes3 =
        out->bytes3Length
            ? static_cast<const uint8_t*>(CopyToArena(&arena, out->bytes3, out->bytes3Length, 0))
            : nullptr;
    out->id = record->id;
    out->name = record->name;
    out->second = record->second;
    std::memcpy(out->key, record->key, kUserKeyBytes);
    return true;
}

bool UserManager::ReloadCurrentUserNoLock(t_errorContext& ctx) {
    if (!m_current.Load(ctx)) {
        ctx.SetError(u"加载当前用户数据失败");
        return false;
    }
    m_current.SyncVersion();
    return true;
}

bool UserManager::SaveCurrentUserNoLock(t_errorContext& ctx) {
    if (!m_current.Save(ctx)) {
        ctx.SetError(u"保存当前用户数据失败");
        return false;
    }
    return true;
}

bool UserManager::SwitchUserNoLock(t_errorContext& ctx, uint32_t id) {
    if (!m_accLoaded || (id != 0 && !m_acc.FindById(id))) {
        ctx.SetError(u"账户不存在");
        return false;
    }
    if (!SaveCurrentUserNoLock(ctx)) return false;
    const uint32_t old = m_acc.m_currentId;
    m_acc.m_currentId = id;
    if (!ReloadCurrentUserNoLock(ctx)) {
        m_acc.m_currentId = old;
        m_current.Load(ctx);
        return false;
    }
    // The account's settings of the switch mask, as its record holds them
    // (the user's data read back), so nothing of the user's is lost. The
    // default user keeps no data file.
    if (id != 0) {
        n_porting::t_heap arena(1024);
        UserAccountInfo info;
        if (!GetAccountInfoByIdNoLock(ctx, arena, id, &info) ||
            !CopyUserSettings(ctx, &m_current, kSwitchSettingsMask, info)) {
            ctx.SetError(u"加载当前用户数据失败");
            return false;
        }
    }
    if (!m_acc.Save(ctx)) {
        ctx.SetError(u"保存账户文件失败");
        return false;
    }
    return true;
}

bool UserManager::WithLocks(t_errorContext& ctx, bool (*callback)(void*), void* argument) {
    n_porting::t_mutex::t_locker proc, named;
    if (!proc.Lock(ctx, &m_section) || !named.Lock(ctx, &m_mutex)) return false;
    CheckVersions(ctx);
    return callback && callback(argument);
}

bool UserManager::GetUserDir(uint32_t id, t_path* out) const {
    if (m_productDir.Str().GetLength() == 0) return false;
    if (id == 0) {
        *out = m_productDir;
        return true;
    }
    char16_t hex[9];
    static const char16_t kDigits[] = u"0123456789abcdef";
    for (int i = 0; i < 8; ++i) hex[i] = kDigits[(id >> (28 - 4 * i)) & 15];
    hex[8] = 0;
    *out = t_path(m_usersDir.GetStr(), hex);
    return true;
}

bool UserManager::FindUserFileNoLock(t_errorContext& ctx, uint32_t id, const char16_t* name,
                                     t_path* out) {
    t_path dir;
    if (!IsPlainFileName(name) || !GetUserDir(id, &dir) || !(dir + name).IsFile()) {
        Fail(ctx, u"找不到文件: ", name);
        return false;
    }
    *out = dir + name;
    return true;
}

bool UserManager::GetUserFilePathNoLock(uint32_t id, const char16_t* name, t_path* out,
                                        bool fromModule) {
    if (!IsPlainFileName(name)) return false;
    t_path dir;
    if (fromModule) {
        if (!m_modulePath.GetParentDir(dir)) return false;
    } else if (!GetUserDir(id, &dir)) {
        return false;
    }
    *out = dir + name;
    return true;
}

bool UserManager::CopyUserFileNoLock(t_errorContext& ctx, uint32_t id, const char16_t* source,
                                     const char16_t* name) {
    t_path dir;
    if (!GetUserDir(id, &dir) || !MakePrivateDir(dir)) {
        ctx.SetError(u"拷贝文件失败：无法获取用户目录");
        return false;
    }
    if (!IsPlainFileName(name) || !source || !t_path(source).CopyTo(ctx, dir + name, false)) {
        ctx.SetError(u"拷贝文件失败");
        return false;
    }
    return true;
}

bool UserManager::CreateUserSubdirNoLock(t_errorContext& ctx, uint32_t id, const char16_t* name) {
    t_path dir;
    if (!GetUserDir(id, &dir) || !MakePrivateDir(dir)) {
        ctx.SetError(u"拷贝文件失败：无法获取用户目录");
        return false;
    }
    if (!IsPlainFileName(name) || !MakePrivateDir(dir + name)) {
        Fail(ctx, u"创建用户目录失败：", name);
        return false;
    }
    return true;
}

// ---- the user's files ----

bool UserManager::ListUserFilesNoLock(t_errorContext& ctx, uint32_t id, std::vector<t_path>* out) {
    out->clear();
    t_path dir;
    char bytes[kPathBytes];
    DIR* d = GetUserDir(id, &dir) && dir.ToBytes(bytes, sizeof bytes) ? opendir(bytes) : nullptr;
    if (!d) {
        Fail(ctx, u"获取用户目录失败: ", dir.GetStr());
        return false;
    }
    while (const struct dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        char16_t* name = n_porting::PathBytesToStr16Alloc(e->d_name);
        if (name) out->push_back(dir + name);
        std::free(name);
    }
    closedir(d);
    std::sort(out->begin(), out->end(), [](const t_path& a, const t_path& b) {
        return n_porting::WcsCmp16(a.GetStr(), b.GetStr()) < 0;
    });
    return true;
}

// ---- the forms that take the locks ----

template <class F>
bool UserManager::UnderLocks(t_errorContext& ctx, F&& body) {
    n_porting::t_mutex::t_locker proc, named;
    if (!proc.Lock(ctx, &m_section) || !named.Lock(ctx, &m_mutex)) return false;
    CheckVersions(ctx);
    return body();
}

bool UserManager::ChangePassword(t_errorContext& ctx, uint32_t id, const char16_t* newPassword) {
    return UnderLocks(ctx, [&] { return ChangePasswordNoLock(ctx, id, newPassword); });
}

bool UserManager::UpdateAccountTexts(t_errorContext& ctx, uint32_t id,
                                     const UserAccountInfo& info) {
    return UnderLocks(ctx, [&] { return UpdateAccountTextsNoLock(ctx, id, info); });
}

bool UserManager::UpdateUserSettings(t_errorContext& ctx, uint32_t id, uint32_t mask,
                                     const UserAccountInfo& info) {
    return UnderLocks(ctx, [&] { return UpdateUserSettingsNoLock(ctx, id, mask, info); });
}

bool UserManager::UpdateAccount(t_errorContext& ctx, uint32_t id, const UserAccountInfo& info,
                                uint32_t flags, const char16_t* newPassword) {
    return UnderLocks(ctx, [&] { return UpdateAccountNoLock(ctx, id, info, flags, newPassword); });
}

bool UserManager::GetAccountInfoById(t_errorContext& ctx, n_porting::t_heap& arena, uint32_t id,
                                     UserAccountInfo* out) {
    return UnderLocks(ctx, [&] { return GetAccountInfoByIdNoLock(ctx, arena, id, out); });
}

bool UserManager::ReloadCurrentUser(t_errorContext& ctx) {
    return UnderLocks(ctx, [&] { return ReloadCurrentUserNoLock(ctx); });
}

bool UserManager::SaveCurrentUser(t_errorContext& ctx) {
    return UnderLocks(ctx, [&] { return SaveCurrentUserNoLock(ctx); });
}

bool UserManager::SwitchUser(t_errorContext& ctx, uint32_t id) {
    return UnderLocks(ctx, [&] { return SwitchUserNoLock(ctx, id); });
}

bool UserManager::FindUserFile(t_errorContext& ctx, uint32_t id, const char16_t* name,
                               t_path* out) {
    return UnderLocks(ctx, [&] { return FindUserFileNoLock(ctx, id, name, out); });
}

bool UserManager::GetUserFilePath(uint32_t id, const char16_t* name, t_path* out, bool fromModule) {
    t_errorContext ctx;
    return UnderLocks(ctx, [&] { return GetUserFilePathNoLock(id, name, out, fromModule); });
}

bool UserManager::CopyUserFile(t_errorContext& ctx, uint32_t id, const char16_t* source,
                               const char16_t* name) {
    return UnderLocks(ctx, [&] { return CopyUserFileNoLock(ctx, id, source, name); });
}

bool UserManager::CreateUserSubdir(t_errorContext& ctx, uint32_t id, const char16_t* name) {
    return UnderLocks(ctx, [&] { return CreateUserSubdirNoLock(ctx, id, name); });
}

bool UserManager::ListUserFiles(t_errorContext& ctx, uint32_t id, std::vector<t_path>* out) {
    return UnderLocks(ctx, [&] { return ListUserFilesNoLock(ctx, id, out); });
}

}  // namespace n_userenv
