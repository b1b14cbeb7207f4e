// The engine's road into the kernel: start-up with the user's settings,
// thin forwards to the entry API and the user-dictionary file operations
// the engine carries out itself. fcitx main thread only.
#include "src/engine/kernel_facade.h"

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <utility>

#include "kernel/api/convert_dispatch.h"
#include "kernel/api/kernel_dict_extras.h"
#include "kernel/api/kernel_dict_ops.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/runtime/change_count.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/phrase_dict.h"
#include "kernel/userdict/recent_cache.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "porting3/str16.h"
#include "porting3/version_reg.h"
#include "userenv/user_env.h"
#include "userenv/user_manager.h"

namespace {

constexpr const wchar_t* kExtDictFile = L"qzim_usr_v3_ext.bin";
constexpr const wchar_t* kPhraseFile = L"qzim_phrases.bin";
// The longest shuangpin scheme name handed to the kernel, in UTF-16 units.
constexpr size_t kSchemeNameUnits = 1023;

bool UserFile(const wchar_t* name, t_pathName& out) {
    const wchar_t* dir = GetConfiguredUserDir();
    return dir && *dir && out.InitJoin(dir, name);
}

// The last commit of the running typing run, the context of the next
// conversions (units 0: none).
struct t_lastCommit {
    uint16_t text[kScratchWordMaxUnits];
    uint16_t ids[kScratchWordMaxUnits];
    size_t units = 0;
};
t_lastCommit g_lastCommit;

// A commit's context: the whole word up to four characters, else its last
// two (a sentence mostly ends in a two-character word); nothing without
// one syllable for each character.
void KeepLastCommit(const wchar_t* text, const t_lstr* pinyin) {
    g_lastCommit.units = 0;
    const size_t chars = text ? std::wcslen(text) : 0;
    if (!pinyin || chars == 0 || LstrGetLength(pinyin) != chars) return;
    const size_t keep = chars <= 4 ? chars : 2;
    for (size_t i = 0; i < keep; ++i) {
        const wchar_t c = text[chars - keep + i];
        if (uint32_t(c) > 0xFFFF) return;
        g_lastCommit.text[i] = uint16_t(c);
        g_lastCommit.ids[i] = LstrGetUnit(pinyin, uint32_t(chars - keep + i));
    }
    g_lastCommit.units = keep;
}

// The registry entry of a setting the start-up reads; the table is
// compiled in, so a missing name is a build fault, not a user's.
const n_userenv::t_envEntryBase& Setting(const char16_t* name) {
    return *n_userenv::FindEnvEntryExact(name);
}

t_symbolSettings g_symbols;

}  // namespace

bool KernelInit(const wchar_t* version, const wchar_t* userDataDir, const wchar_t* sysDir,
                const wchar_t* dictDir, const wchar_t* buildDate) {
    if (!InitDictionaries(version, userDataDir, sysDir, dictDir, buildDate, nullptr, 1, 0, nullptr))
        return false;
    n_porting::t_errorContext ctx;
    n_userenv::UserManager& users = n_userenv::UserManager::GetInstance();
    if (!users.IsInit() && !users.Init(ctx)) return false;
    if (!n_userenv::UserEnv::GetInstance().Init(ctx)) return false;
    KernelStartup();
    return RegisterKeyPyMap(0) != 0;
}

bool KernelStartup() {
    n_porting::t_versionReg::UpdateVersion(2);
    n_porting::t_errorContext ctx;
    uint32_t id = 0;
    if (!n_userenv::UserManager::GetInstance().GetCurrentUserId(ctx, &id)) return false;
    n_userenv::t_env env;
    if (!n_userenv::MergeGetUserEnv(ctx, env, &id)) return false;

    t_kernelOptions options;
    options.LongWordCandPos = env.GetInt(Setting(u"LongWordCandPos"));
    options.MaxLongWord = env.GetInt(Setting(u"MaxLongWord"));
    options.LongWordNumGate = env.GetInt(Setting(u"LongWordNumGate"));
    const struct {
        uint8_t* field;
        const char16_t* name;
    } switches[] = {
        {&options.ForecastLongWord, u"ForecastLongWord"},
        {&options.Correction, u"Correction"},
        {&options.LearnFreq, u"LearnFreq"},
        {&options.LearnNewWord, u"LearnNewWord"},
        {&options.NoPhrase, u"NoPhrase"},
        {&options.EnableCloudRequest, u"EnableCloudRequest"},
        {&options.QuanPin, u"QuanPin"},
        {&options.ZCSForZhChSh, u"ZCSForZhChSh"},
        {&options.ShuangPin, u"ShuangPin"},
        {&options.AllowQuanPin, u"AllowQuanPin"},
        {&options.SuperSPJP, u"SuperSPJP"},
        {&options.UserPhrase, u"UserPhrase"},
        {&options.SystemUserPhrase, u"SystemUserPhrase"},
    };
    for (const auto& s : switches) *s.field = env.GetBool(Setting(s.name)) ? 1 : 0;
    g_symbols.fullWidth = env.GetBool(Setting(u"DefaultSymbol"));
    g_symbols.pointAfterDigit = env.GetBool(Setting(u"SmartSymbolsAfterNum"));

    // A name too long for the kernel's buffer names no scheme: the default
    // one is used rather than a cut name.
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const char16_t* name = env.GetString(Setting(u"ShuangPinName"));
    if (name) {
        const size_t units = n_porting::WcsNLen16(name, kSchemeNameUnits + 1);
        if (units > 0 && units <= kSchemeNameUnits)
            options.ShuangPinName = arena.MakeLstr(name, units * 2);
    }
    SetKernelOptions(&options);
    return true;
}

const t_symbolSettings& KernelSymbolSettings() {
    return g_symbols;
}

const wchar_t* KernelPunctuationText(uint32_t key) {
    return key < 0x80 ? GetPunctuationText(key, g_symbols.fullWidth, true) : nullptr;
}

bool KernelReadsShuangPin() {
    return GetConfiguration().GetByte(n_config::ShuangPin) != 0;
}

bool KernelStart() {
    const bool started = KernelStartup();
    if (started) {
        std::wstring notes;
        const bool rebuilt = ReloadKeymapFile(&notes);
        ReportKeyMapRebuild(rebuilt, notes);
    }
    return started;
}

bool KernelStartInSteps(const std::function<void(const std::function<void()>&)>& locked) {
    bool started = false;
    locked([&] { started = KernelStartup(); });
    if (started) {
        std::wstring notes;
        const bool rebuilt = ReloadKeymapFileInSteps(locked, &notes);
        locked([&] { ReportKeyMapRebuild(rebuilt, notes); });
    }
    return started;
}

int KernelConvert(wchar_t* input, uint8_t english, uint8_t url, t_candWord** results,
                  uint32_t capacity, uint8_t* cloudExtra, uint8_t /*flag*/,
                  const t_cloudRequestParams* params, t_cloudAsked* asked, uint8_t plain) {
    TakeUpUsrDictChanges();
    uint8_t scratch[kConvertScratchBytes] = {};
    if (g_lastCommit.units > 0)
        WriteScratchWord(scratch, g_lastCommit.text, g_lastCommit.ids, g_lastCommit.units);
    return ConvertInput(input, results, scratch, 0, capacity, params, asked, plain, english, url,
                        cloudExtra);
}

uint32_t KernelLearnWord(const wchar_t* text, const t_lstr* pinyin) {
    // A word learned after another process's removal stays: the removal is
    // taken up first.
    TakeUpUsrDictChanges();
    const uint32_t learned = LearnCommittedText(text, pinyin, 0);
    if (GetContinuingInput())
        KeepLastCommit(text, pinyin);
    else
        g_lastCommit.units = 0;
    return learned;
}

void KernelSetContinuingInput(bool on) {
    SetContinuingInput(on ? 1 : 0);
    if (on) return;
    g_lastCommit.units = 0;
    t_singleton<t_submittedUsrWord>::Get().Clear();
}

bool KernelReloadExtDict() {
    NotifyExtDictChanged();
    return true;
}

const t_lstr* KernelGetPinyinIds(int32_t id) {
    return GetSyllableSpelling(id);
}

bool KernelIsAccountsTarget(const wchar_t* path) {
    if (!path) return false;
    std::unique_ptr<char, decltype(&free)> dir(
        n_porting::Str16ToUtf8Alloc(n_userenv::UserManager::GetInstance().GetUsersDir().GetStr()),
        &free);
    return dir && PathIsWithinDir(t_pathName(path), dir.get());
}

uint64_t KernelBackupUsrDictV3(const wchar_t* path, int32_t* status) {
    if (status) *status = 0;
    return KernelIsAccountsTarget(path) ? 0 : BackupUsrDictV3(path, status);
}

bool KernelSaveDicts() {
    t_processLock::t_locker lock(GetDictLocker());
    return GetDictManager().SaveAll();
}

std::unique_ptr<t_dictSaveSnapshot> KernelNewSaveSnapshot() {
    return GetDictManager().NewSaveSnapshot();
}

bool KernelTakeSaveSnapshot(t_dictSaveSnapshot& snapshot) {
    t_processLock::t_locker lock(GetDictLocker());
    return GetDictManager().TakeSaveSnapshot(snapshot);
}

bool KernelFinishSave(t_dictSaveSnapshot& snapshot) {
    t_processLock::t_locker lock(GetDictLocker());
    return GetDictManager().FinishSave(snapshot);
}

bool KernelReplaceUsrDict(const wchar_t* path, bool restore, int32_t* count,
                          const t_lockedStep& locked, const uint64_t* since) {
    if (count) *count = 0;
    if (!path || !*path) return false;
    const int mode = restore ? 1 : 0;
    t_changeCount& changes = GetUsrDictChangeCount();
    // Another process's change since the call was sent came from a call
    // sent after it: landing now would undo that one.
    const auto overtaken = [&] { return since && !changes.Unmoved(*since); };
    t_usrDictReplace job;
    if (!job.Read(path, mode) || overtaken()) return false;
    // Another process saving between the copy and the write makes the
    // build start again from its file; one that keeps saving gets the
    // whole operation under the lock.
    constexpr int kTries = 3;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        bool taken = false;
        locked([&] {
            t_processLock::t_locker lock(GetDictLocker());
            taken = job.Take();
        });
        if (!taken) break;
        if (!job.Build()) return false;
        t_usrDictReplace::t_built built;
        {
            // Checked, written and counted in one step against the other
            // processes' changes; the count in the same hold of the file
            // lock as the write, so that a process taking the file up sees
            // its count too.
            t_processLock::t_locker order(changes.Lock());
            if (overtaken() || order.Refused()) return false;
            t_processLock::t_locker files(GetDictManager().GetGlobalLocker());
            if (files.Refused()) return false;
            built = job.Write();
            if (built == t_usrDictReplace::t_built::kWritten) CountUsrDictChange(restore);
        }
        if (built == t_usrDictReplace::t_built::kFailed) return false;
        if (built == t_usrDictReplace::t_built::kReplaced) continue;
        int takenWords = 0;
        locked([&] {
            t_processLock::t_locker lock(GetDictLocker());
            takenWords = job.Finish();
        });
        if (count) *count = takenWords;
        return true;
    }
    uint64_t r = 0;
    locked([&] { r = ReplaceUsrDictSince(path, mode, count, since); });
    return r != 0;
}

bool KernelImportUsrAbbrList(const t_apiPhrase* records, int32_t count) {
    return records && count > 0 && ReplaceUsrPhrases(records, count) != 0;
}

bool KernelSavePhrases() {
    t_pathName image;
    if (!UserFile(kPhraseFile, image)) return false;
    t_processLock::t_locker lock(GetDictLocker());
    t_abbrUsrDict& live = t_singleton<t_abbrUsrDict>::Get();
    // Through the manager, so that its record of the file stays true and a
    // copy another process saved meanwhile is taken up, not overwritten.
    const auto save = [&] { return live.SaveToFile(image.GetFull()) != 0; };
    t_dictEntry* entry = live.GetEntry();
    return entry && entry->manager ? entry->manager->SaveEntryWith(entry, save) : save();
}

bool KernelSaveUsrDict() {
    t_pathName file;
    if (!UserFile(kUsrDictFileName, file)) return false;
    t_processLock::t_locker lock(GetDictLocker());
    // Through the manager: a file another process saved since is taken up,
    // not overwritten.
    return SaveLiveUsrDict(GetUsrDictInstance(), file.GetFull());
}

bool KernelNeedFullUsrDictUpload() {
    t_pathName current, last;
    if (!UserFile(kUsrDictFileName, current) || !UserFile(kLastUploadedName, last)) return true;
    const int c = GetUsrDictWordCount(current.GetFull(), 1);
    const int u = GetUsrDictWordCount(last.GetFull(), 0);
    if (c < 0 || int64_t(u) > 10 * int64_t(c)) return true;
    return u == 0 || c == 0;
}

bool KernelDropEmptyUsrExtDict() {
    t_pathName ext;
    if (!UserFile(kExtDictFile, ext)) return false;
    if (!PathIsFile(ext)) return true;
    t_usrDictExtCore& dict = t_singleton<t_usrDictExtCore>::Get();
    const auto drop = [&] {
        int32_t n = 0;
        if (dict.IsReady() && dict.GetCount(&n) && n > 0) return false;
        return !PathIsFile(ext) || PathRemoveFile(ext);
    };
    // Through the manager: words another process saved since are taken up
    // and counted first.
    t_dictEntry* entry = dict.GetEntry();
    return entry && entry->manager ? entry->manager->SaveEntryWith(entry, drop) : drop();
}

bool KernelCommitUsrDictUpload() {
    t_pathName upload, last;
    if (!UserFile(kUploadCopyName, upload) || !UserFile(kLastUploadedName, last) ||
        !PathIsFile(upload))
        return false;
    PathRemoveFile(last);
    return PathRename(upload, last);
}

uint64_t KernelUsrDictChangeMark() {
    return GetUsrDictChangeCount().Others();
}

bool KernelRemoveUsrDict(const uint64_t* since) {
    static const wchar_t* const kFiles[] = {kExtDictFile,       L"qzim_usr.bin",
                                            L"qzim_usr_v1.bin", L"qzim_usr_v2new.bin",
                                            L"qzim_usr_v2.bin", kUsrDictFileName};
    t_changeCount& changes = GetUsrDictChangeCount();
    t_processLock::t_locker order(changes.Lock());
    if (order.Refused() || (since && !changes.Unmoved(*since))) return false;
    t_processLock::t_locker lock(GetDictLocker());
    t_entryFileLock fileLock(GetUsrDictInstance());
    if (fileLock.Refused()) return false;
    // The backups go with the dictionaries: a link or a stranger's folder in
    // their place is found before anything is deleted.
    t_pathName backup;
    if (!GetBackupDir(backup, false)) return false;
    // Counted on every way out from here, a removal stopped half-way
    // included (it has changed the dictionary too), and while the file
    // lock is still held: a process taking the files up sees the count.
    struct t_countOnLeaving {
        bool done = false;
        void Count() {
            if (!std::exchange(done, true)) CountUsrDictChange(true);
        }
        ~t_countOnLeaving() { Count(); }
    } counted;
    for (const wchar_t* name : kFiles) {
        t_pathName file;
        if (!UserFile(name, file)) return false;
        if (!PathIsFile(file)) continue;
        // The two dictionaries other processes hold in memory are emptied in
        // place: they take an empty file up as a newer save, whereas a file
        // that is simply gone is written back from their memory.
        bool done;
        if (wcscmp(name, kExtDictFile) == 0)
            done = WriteExtImage(file.GetFull(), {}) != 0;
        else if (wcscmp(name, kUsrDictFileName) == 0)
            done = t_usrDictV3Core::CreateEmptyFile(file.GetFull(), kUsrDefaultCapacity);
        else
            done = PathRemoveFile(file);
        if (!done) return false;
    }
    if (PathIsDir(backup) && !PathRemoveDirTree(backup)) return false;
    t_usrDictExtCore& ext = t_singleton<t_usrDictExtCore>::Get();
    t_usrDictV3Core& user = GetUsrDictInstance();
    // Words learned since the last save would be replayed onto the empty
    // dictionaries at the re-attach and written back by the next save.
    ext.ForgetChanges();
    user.ForgetChanges();
    // Before the re-attach, which would otherwise take in the change files
    // the removal ends.
    counted.Count();
    ext.IncreaseVersion();
    user.IncreaseVersion();
    GetVersionManager().CheckUpdate2();
    return true;
}
