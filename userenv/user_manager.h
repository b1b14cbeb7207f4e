// The user manager: local accounts in acc.dat, the current user's data file,
// login by password key, and the user folders (0700) with their file helpers.
// One per process; main thread only.
#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

#include "porting3/named_objects.h"
#include "porting3/path16.h"
#include "userenv/user_file.h"

namespace n_userenv {

class UserManager;

// The current user's user.dat: bound to that user on every load and save.
class UserCurrentDataFile : public UserDataFile, public n_porting::t_versionReg::t_interface {
public:
    explicit UserCurrentDataFile(UserManager* manager);
    // User 0 keeps no data file: 1 without touching any.
    bool Load(t_errorContext& ctx) override;
    bool Save(t_errorContext& ctx) override;
    bool Reload(t_errorContext& ctx, uint32_t version, bool force) override;
    bool m_loaded = false;
    bool m_stale = false;

private:
    // 0 fail, 1 bound to a user's file, 2 the default user (nothing to do).
    int BindCurrentUser(t_errorContext& ctx, const char16_t* operation);
    UserManager* m_manager;
};

class UserManager {
public:
    static constexpr uint32_t kInvalidId = UserAccFile::kInvalidId;

    static UserManager& GetInstance();
    UserManager() : m_current(this) {}
    UserManager(const UserManager&) = delete;
    UserManager& operator=(const UserManager&) = delete;

    // Once per process: the folders under the runtime's user data folder,
    // the account file and the current user. Later calls return 1.
    bool Init(t_errorContext& ctx);
    // The same under a given user data folder.
    bool InitAt(t_errorContext& ctx, const char16_t* userDataDir);
    bool IsInit() const { return m_inited; }

    // A file that is refused (damaged, whatever its size) is moved into
    // Backup and a fresh one written; one that cannot be opened or read is left alone and
    // the process goes on with user 0 in memory.
    bool LoadAccFile(t_errorContext& ctx, bool retry);
    bool LoadCurrentUser(t_errorContext& ctx);

    bool GetCurrentUserId(t_errorContext& ctx, uint32_t* id);
    bool Login(t_errorContext& ctx, uint32_t id, const uint8_t key[kUserKeyBytes]);
    bool LoginWithPassword(t_errorContext& ctx, uint32_t id, const char16_t* password);
    bool LoginByName(t_errorContext& ctx, const char16_t* name, const uint8_t key[kUserKeyBytes]);
    bool LoginByNameWithPassword(t_errorContext& ctx, const char16_t* name,
                                 const char16_t* password);
    bool FindUserId(t_errorContext& ctx, uint32_t* id, const char16_t* name);
    // A new account from the record (its key field is the local password
    // key); the record's id receives the new id.
    bool CreateAccount(t_errorContext& ctx, UserAccountInfo* info, bool copySettings);

    // Binds a data file to the user's user.dat and key and loads it.
    bool OpenUserData(t_errorContext& ctx, UserDataFile& data, uint32_t id);
    bool SetAccountKey(t_errorContext& ctx, uint32_t id, const uint8_t key[kUserKeyBytes]);

    // The record of an account (id, name, second text, key) in the caller's
    // arena, the texts copied there too; the user-data fields are zero. Null
    // when the arena has no room.
    static UserAccountInfo* GetAccountInfo(n_porting::t_heap& arena, const VarUserAcc& account);

    // Each operation below comes twice: the plain form takes both locks and
    // checks the versions of the account file and the current data itself;
    // the NoLock form expects the caller to hold the locks (WithLocks) with
    // the versions checked.

    // Re-keys the account and its user.dat with the key of the new password.
    bool ChangePassword(t_errorContext& ctx, uint32_t id, const char16_t* newPassword);
    bool ChangePasswordNoLock(t_errorContext& ctx, uint32_t id, const char16_t* newPassword);
    bool UpdateAccountTexts(t_errorContext& ctx, uint32_t id, const UserAccountInfo& info);
    bool UpdateAccountTextsNoLock(t_errorContext& ctx, uint32_t id, const UserAccountInfo& info);
    bool UpdateUserSettings(t_errorContext& ctx, uint32_t id, uint32_t mask,
                            const UserAccountInfo& info);
    bool UpdateUserSettingsNoLock(t_errorContext& ctx, uint32_t id, uint32_t mask,
                                  const UserAccountInfo& info);
    static constexpr uint32_t kUpdatePassword = 8;
    // kUpdatePassword: the password first; then the texts and the settings.
    bool UpdateAccount(t_errorContext& ctx, uint32_t id, const UserAccountInfo& info,
                       uint32_t flags, const char16_t* newPassword);
    bool UpdateAccountNoLock(t_errorContext& ctx, uint32_t id, const UserAccountInfo& info,
                             uint32_t flags, const char16_t* newPassword);
    // The account and its user data; the texts are copied into `arena`.
    bool GetAccountInfoById(t_errorContext& ctx, n_porting::t_heap& arena, uint32_t id,
                            UserAccountInfo* out);
    bool GetAccountInfoByIdNoLock(t_errorContext& ctx, n_porting::t_heap& arena, uint32_t id,
                                  UserAccountInfo* out);
    bool ReloadCurrentUser(t_errorContext& ctx);
    bool ReloadCurrentUserNoLock(t_errorContext& ctx);
    bool SaveCurrentUser(t_errorContext& ctx);
    bool SaveCurrentUserNoLock(t_errorContext& ctx);
    // Saves the current user's data, makes the id current, loads its data,
    // applies the account's settings of mask 0x200 to it (saving its
    // user.dat) and saves the account file.
    static constexpr uint32_t kSwitchSettingsMask = 0x200;
    bool SwitchUser(t_errorContext& ctx, uint32_t id);
    bool SwitchUserNoLock(t_errorContext& ctx, uint32_t id);
    // Runs the callback with the locks held and the versions checked.
    bool WithLocks(t_errorContext& ctx, bool (*callback)(void*), void* argument);

    // <data>/VetraPY for user 0, else <data>/VetraPY.users/%08x.
    bool GetUserDir(uint32_t id, n_porting::t_path* out) const;
    bool FindUserFile(t_errorContext& ctx, uint32_t id, const char16_t* name,
                      n_porting::t_path* out);
    bool FindUserFileNoLock(t_errorContext& ctx, uint32_t id, const char16_t* name,
                            n_porting::t_path* out);
    bool GetUserFilePath(uint32_t id, const char16_t* name, n_porting::t_path* out,
                         bool fromModule);
    bool GetUserFilePathNoLock(uint32_t id, const char16_t* name, n_porting::t_path* out,
                               bool fromModule);
    bool CopyUserFile(t_errorContext& ctx, uint32_t id, const char16_t* source,
                      const char16_t* name);
    bool CopyUserFileNoLock(t_errorContext& ctx, uint32_t id, const char16_t* source,
                            const char16_t* name);
    bool CreateUserSubdir(t_errorContext& ctx, uint32_t id, const char16_t* name);
    bool CreateUserSubdirNoLock(t_errorContext& ctx, uint32_t id, const char16_t* name);
    // The entries of the user's folder ("." and ".." left out) sorted by
    // path, 16-bit units compared as numbers. False ("获取用户目录失败: ")
    // when the folder cannot be read; an entry whose name does not convert
    // is left out.
    bool ListUserFiles(t_errorContext& ctx, uint32_t id, std::vector<n_porting::t_path>* out);
    bool ListUserFilesNoLock(t_errorContext& ctx, uint32_t id, std::vector<n_porting::t_path>* out);

    const n_porting::t_path& GetProductDir() const { return m_productDir; }
    const n_porting::t_path& GetUsersDir() const { return m_usersDir; }
    n_porting::t_path GetAccFilePath() const { return m_usersDir + u"acc.dat"; }
    UserAccFile& AccFile() { return m_acc; }
    UserCurrentDataFile& CurrentData() { return m_current; }

private:
    bool PrepareAccFile(t_errorContext& ctx, const n_porting::t_path& path);
    bool MoveAside(const n_porting::t_path& path);
    bool CheckVersions(t_errorContext& ctx);
    // Runs body with both locks held and the versions checked; false when a
    // lock cannot be taken.
    template <class F>
    bool UnderLocks(t_errorContext& ctx, F&& body);
    // At start-up: the existing user folders and user.dat files made
    // private, and the temporaries of killed saves removed.
    void TidyUserFolders(const struct timespec& since);
    VarUserAcc* LoggableAccount(t_errorContext& ctx, VarUserAcc* account);

    UserAccFile m_acc;
    bool m_accLoaded = false;
    UserCurrentDataFile m_current;
    n_porting::t_path m_productDir;
    n_porting::t_path m_usersDir;
    n_porting::t_path m_modulePath;
    n_porting::t_criticalSection m_section;
    n_porting::t_mutex m_mutex;
    bool m_inited = false;
};

// A plain file name: not empty, not "." or "..", no "/".
bool IsPlainFileName(const char16_t* name);

}  // namespace n_userenv
