// Kernel start-up, user-directory changes and shut-down over the registration
// table. Engine thread only, never beside a conversion.
#include "kernel/api/kernel_startup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <set>
#include <string>

#include "kernel/api/kernel_dict_ops.h"
#include "kernel/api/kernel_registry.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/convert/phrase_time.h"
#include "kernel/convert/post_process.h"
#include "kernel/lexicon/key_map_builder.h"
#include "kernel/runtime/change_count.h"
#include "kernel/runtime/codepage.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/path.h"

namespace {

// Set by the first InitDictionaries; start-up happens on one thread before
// any conversion, so a plain flag is enough.
bool g_started = false;
std::wstring g_report;

std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 4 + 1, '\0');
    size_t capacity = out.size() - 1;
    if (!WideToBytesUtf8(text.c_str(), out.data(), capacity)) return "?";
    out.resize(capacity);
    return out;
}

void Report(const std::wstring& line) {
    g_report += line;
    g_report += L'\n';
    fprintf(stderr, "vetra kernel: %s\n", Utf8(line).c_str());
}

// Each line of text, behind prefix.
void ReportLines(const std::wstring& prefix, const std::wstring& text) {
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find(L'\n', from);
        if (end == std::wstring::npos) end = text.size();
        if (end > from) Report(prefix + text.substr(from, end - from));
        from = end + 1;
    }
}

std::wstring Text(const wchar_t* text) {
    return text ? text : L"(unknown)";
}

// The refused user files kept aside in "<user dir>/Backup", folders too
// (a folder in a file's place is set aside as well).
std::set<std::wstring> RefusedFiles() {
    std::set<std::wstring> names;
    const std::wstring dir = std::wstring(GetConfiguredUserDir()) + L"/Backup";
    char bytes[kPathBufBytes];
    DIR* d = WidePathToBytes(dir.c_str(), bytes, sizeof bytes) ? opendir(bytes) : nullptr;
    if (!d) return names;
    while (const dirent* e = readdir(d)) {
        std::wstring name;
        if (std::strstr(e->d_name, ".refused.") && BytesPathToWide(e->d_name, name))
            names.insert(dir + L"/" + name);
    }
    closedir(d);
    return names;
}

// ": <why>" when the settings map no key at all (the map then cannot be
// built whatever the files hold), else empty.
std::wstring NoKeyMapReason() {
    const wchar_t* why = KeyMapOptionsLeaveNoWay(ReadKeyMapOptions(GetConfiguration()));
    return why ? L": " + std::wstring(why) : std::wstring();
}

// The name of the user file a refused copy was, from
// "<file>.refused.<stamp>[.<n>]"; empty for any other name.
std::wstring RefusedFileName(const std::wstring& aside) {
    const size_t slash = aside.rfind(L'/');
    const std::wstring name = slash == std::wstring::npos ? aside : aside.substr(slash + 1);
    const size_t tag = name.rfind(L".refused.");
    return tag == std::wstring::npos ? std::wstring() : name.substr(0, tag);
}

// The row whose user file bears that name.
const t_kernelDictRow* UserRowOf(const std::wstring& file) {
    if (file.empty()) return nullptr;
    for (const t_kernelDictRow& row : kKernelDicts)
        if (row.file && row.dir != kDirSystem && file == row.file) return &row;
    return file == kKeyMapRow.file ? &kKeyMapRow : nullptr;
}

// What the set-aside copy says of why its file was refused.
std::wstring WhyRefused(const std::wstring& aside) {
    char bytes[kPathBufBytes];
    struct stat st;
    if (WidePathToBytes(aside.c_str(), bytes, sizeof bytes) && lstat(bytes, &st) == 0) {
        if (!S_ISREG(st.st_mode)) return L"not a regular file";
        if (access(bytes, R_OK) != 0) return L"unreadable";
    }
    return L"damaged";
}

// Whether both paths are regular files holding the same bytes.
bool SameBytes(const t_pathName& a, const t_pathName& b) {
    char pa[kPathBufBytes], pb[kPathBufBytes];
    if (!a.ToBytes(pa, sizeof pa) || !b.ToBytes(pb, sizeof pb)) return false;
    constexpr int64_t kMaxCompared = int64_t(1) << 31;
    int64_t sa = 0, sb = 0;
    const int fa = OpenRegularFile(pa, O_RDONLY, kMaxCompared, &sa);
    const int fb = fa < 0 ? -1 : OpenRegularFile(pb, O_RDONLY, kMaxCompared, &sb);
    bool same = fb >= 0 && sa == sb;
    char ba[1 << 14], bb[1 << 14];
    for (int64_t at = 0; same && at < sa;) {
        const size_t n = size_t(std::min<int64_t>(sa - at, int64_t(sizeof ba)));
        same = pread(fa, ba, n, at) == ssize_t(n) && pread(fb, bb, n, at) == ssize_t(n) &&
               std::memcmp(ba, bb, n) == 0;
        at += int64_t(n);
    }
    if (fa >= 0) close(fa);
    if (fb >= 0) close(fb);
    return same;
}

// What the dictionary of a file set aside holds in its place, read back
// from what the attach left before anything was saved: a restored backup
// and a copied system file are written in the file's place at once, a new
// image only at the next save (the system's copy may also serve where the
// file cannot be written).
std::wstring StartedFrom(const t_kernelDictRow& row, const t_pathName& path) {
    if (!row.dict().IsReady()) return L"left not ready";
    const wchar_t* sysDir = GetConfiguredSysDir();
    t_pathName system;
    const bool hasSystem =
        row.dir != kDirUser && sysDir[0] && system.InitJoin(sysDir, row.file) && PathIsFile(system);
    if (hasSystem && (!PathIsFile(path) || SameBytes(path, system)))
        return L"started from the system's copy " + std::wstring(system.GetFull());
    t_dictEntry* entry = GetDictManager().FindEntry(row.name);
    t_pathName backup;
    std::wstring stamp;
    if (PathIsFile(path) && entry && row.backupFlags &&
        t_dictManager::FindLatestBackup(entry, backup, stamp))
        return L"restored from its backup " + std::wstring(backup.GetFull());
    return &row == &kKeyMapRow ? L"built anew from the settings" : L"started empty";
}

// While the report tells the user files set aside, with what took their
// place, the dictionary manager does not tell them as well.
class t_toldByReport {
public:
    t_toldByReport() { t_dictManager::SetTellRefusedFiles(false); }
    ~t_toldByReport() { t_dictManager::SetTellRefusedFiles(true); }
    t_toldByReport(const t_toldByReport&) = delete;
    t_toldByReport& operator=(const t_toldByReport&) = delete;
};

// Reports the refused user files set aside since `before` was taken, one
// line each: the file, why, where its copy is and what took its place.
// Their dictionaries' names go into `told` (ReportAttachResults then leaves
// out their not-ready lines).
void ReportSetAside(const std::set<std::wstring>& before, std::set<std::wstring>* told = nullptr) {
    for (const std::wstring& aside : RefusedFiles()) {
        if (before.count(aside)) continue;
        const t_kernelDictRow* row = UserRowOf(RefusedFileName(aside));
        t_dictEntry* entry = row ? GetDictManager().FindEntry(row->name) : nullptr;
        t_pathName path;
        if (!entry || !t_dictManager::BuildEntryPath(entry, path)) {
            Report(L"damaged user file set aside: " + aside);
            continue;
        }
        Report(std::wstring(row->name) + L": " + path.GetFull() + L": " + WhyRefused(aside) +
               L", set aside as " + aside + L"; " + StartedFrom(*row, path));
        if (told) told->insert(row->name);
    }
}

// Makes the user directory (and missing parents, private to the user) so
// that what the user teaches the kernel can be saved; reports when it
// cannot be made or written.
void PrepareUserDir() {
    const wchar_t* dir = GetConfiguredUserDir();
    if (!dir[0]) return;
    char bytes[kPathBufBytes];
    if (!WidePathToBytes(dir, bytes, sizeof bytes)) {
        Report(L"user directory unusable: " + std::wstring(dir));
        return;
    }
    for (char* p = bytes + 1;; ++p) {
        if (*p != '/' && *p != '\0') continue;
        const char keep = *p;
        *p = '\0';
        const bool made = mkdir(bytes, 0700) == 0 || errno == EEXIST;
        *p = keep;
        if (!made || keep == '\0') break;
    }
    struct stat st;
    if (stat(bytes, &st) != 0 || !S_ISDIR(st.st_mode)) {
        Report(L"user directory unusable: " + std::wstring(dir));
    } else if (access(bytes, W_OK) != 0) {
        // Said here once: the saves that fail there later say no more.
        NoteUnwritableFolder(bytes);
        Report(L"user directory not writable, changes stay in memory: " + std::wstring(dir));
    }
}

void CheckUserDataDir() {
    char dir[kPathBufBytes];
    std::string reason;
    if (!GetUserDataDir(dir, sizeof dir, &reason)) {
        std::wstring why;
        if (!BytesPathToWide(reason.c_str(), why)) why = L"?";
        Report(L"no usable user data directory (" + why +
               L"): the kernel's locks guard this process only");
    }
}

// The system dictionaries conversion cannot go without (syllables,
// characters, words): without one only the typed letters could be offered.
bool IsCoreDict(const t_kernelDictRow& row) {
    return row.dir == kDirSystem &&
           (wcscmp(row.name, L"pydict") == 0 || wcscmp(row.name, L"hzdict") == 0 ||
            wcscmp(row.name, L"SysDict") == 0);
}

// Lists the first-phase dictionaries left not ready (a missing or damaged
// system file, a seed that could not be copied, a user file refused and not
// set aside) and the user files set aside since `before`. False when a
// core dictionary is among them.
bool ReportAttachResults(const std::set<std::wstring>& before, uint8_t policy) {
    t_dictManager& manager = GetDictManager();
    std::set<std::wstring> setAside;
    ReportSetAside(before, &setAside);
    bool core = true;
    for (const t_kernelDictRow& row : kKernelDicts) {
        if (KernelDictLoadPolicy(row, policy) != kLoadPhase1) continue;
        // A file read in spite of damage (a text file's undecodable bytes)
        // is told with its name; one that left the dictionary unready is
        // told below, with the same note.
        const std::wstring note = row.dict().LoadNote();
        const std::wstring why = note.empty() ? std::wstring() : L": " + note;
        if (row.dict().IsReady() && why.empty()) continue;
        t_dictEntry* entry = manager.FindEntry(row.name);
        t_pathName path;
        const bool named = entry && t_dictManager::BuildEntryPath(entry, path);
        // Without a user copy the system copy is the one read.
        if (named && row.dir == kDirUserOrSystem && !PathIsFile(path))
            path.InitJoin(GetConfiguredSysDir(), row.file);
        if (row.dict().IsReady()) {
            if (named) Report(std::wstring(row.name) + L": " + path.GetFull() + why);
            continue;
        }
        if (!named) {
            core = core && !IsCoreDict(row);
            continue;
        }
        if (IsCoreDict(row)) {
            core = false;
            // The file was not read at all when its lock could not be made:
            // the lock's own cause is told, not the file's.
            std::wstring lock;
            if (!entry->block.GetLockFailure().empty() &&
                !BytesPathToWide(entry->block.GetLockFailure().c_str(), lock))
                lock = L"?";
            if (!lock.empty())
                Report(L"lock of a system data file could not be made, no conversion without it: " +
                       std::wstring(path.GetFull()) + L": " + lock);
            else
                Report(L"system data file missing or damaged, no conversion without it: " +
                       std::wstring(path.GetFull()));
            continue;
        }
        // A user-only dictionary without a file has nothing installed yet.
        if (row.dir == kDirUser && !PathIsFile(path)) continue;
        if (setAside.count(row.name)) continue;  // told with its file set aside
        Report(std::wstring(row.name) + L": not ready: " + path.GetFull() + why);
    }
    return core;
}

// The smart-fuzzy tuning of the user directory: the defaults when it holds
// none, and when its file is refused (then reported).
void LoadSmartFuzzyParams() {
    t_smartFuzzyParams& params = t_singleton<t_smartFuzzyParams>::Get();
    params.Reset();
    if (params.LoadDefaultFile()) return;
    t_pathName path;
    const wchar_t* dir = GetConfiguredUserDir();
    if (dir[0] && path.InitJoin(dir, t_smartFuzzyParams::kFileName) && PathIsFile(path))
        Report(L"smart-fuzzy tuning refused, defaults kept: " + std::wstring(path.GetFull()));
}

bool SaveAllLocked() {
    if (!t_singleton<t_dictManager>::Exists()) return true;
    t_processLock::t_locker lock(GetDictLocker());
    return GetDictManager().SaveAll();
}

}  // namespace

int InitDictionaries(const wchar_t* title, const wchar_t* userDir, const wchar_t* sysDir,
                     const wchar_t* smartInfoDir, const wchar_t* buildTime, const wchar_t*,
                     uint8_t loadNow, uint8_t policy, const wchar_t* reservedPath) {
    if (g_started) return 1;
    g_started = true;
    g_report.clear();
    // Text conversions go through iconv: the host's locale is left alone.
    tzset();
    SetInfoTitle(title);
    SetConfiguredSysDir(sysDir);
    SetConfiguredUserDir(userDir);
    SetBuildTimeText(buildTime);
    SetConfiguredReservedPath(reservedPath);
    SetConfiguredSmartInfoDir(smartInfoDir);
    CheckUserDataDir();
    PrepareUserDir();
    InstallDictVersionSource();

    t_versionManager& versions = GetVersionManager();
    if (!versions.Init()) Report(L"version manager: " + Text(versions.GetLastError()));
    GetConfiguration().Init();
    t_dictManager& manager = GetDictManager();
    if (!manager.Init()) Report(L"dictionary manager: " + Text(manager.GetLastError()));
    if (!CreateDictLocker()) Report(L"dictionary lock could not be created");
    if (!CreateUsrDictChangeCount()) Report(L"user dictionary change count could not be created");

    for (const t_kernelDictRow& row : kKernelDicts) {
        t_dictStorageBase& dict = row.dict();
        if (!manager.Register(row.name, &dict, KernelDictLoadPolicy(row, policy), row.storage,
                              row.dir, row.file, row.backupFlags, row.mask))
            Report(std::wstring(row.name) + L": not registered: " + Text(manager.GetLastError()));
    }
    // A restore or a removal in another process replaces the user
    // dictionary's words: words learned here before it are not put back.
    // Both files a removal empties: neither takes back, or writes back from
    // memory, words from before another process's removal.
    for (const wchar_t* name : {L"UsrDict", L"UsrExtDict"})
        manager.WatchReplacements(name, GetUsrDictChangeCount());
    const t_toldByReport told;
    const std::set<std::wstring> refusedBefore = RefusedFiles();
    manager.LoadPhase1(loadNow);
    manager.NotifyEvent();
    const bool core = !loadNow || ReportAttachResults(refusedBefore, policy);
    LoadSmartFuzzyParams();
    return core ? 1 : 0;
}

int RegisterKeyPyMap(uint8_t policy) {
    const t_kernelDictRow& row = kKeyMapRow;
    t_dictManager& manager = GetDictManager();
    manager.Register(row.name, &row.dict(), KernelDictLoadPolicy(row, policy), row.storage, row.dir,
                     row.file, row.backupFlags, row.mask);
    if (policy) return 1;
    const t_toldByReport told;
    const std::set<std::wstring> refusedBefore = RefusedFiles();
    const bool ready = manager.LoadDict(row.name);
    ReportLines(std::wstring(row.name) + L": ", GetKeyPyMap().BuildNotes());
    if (!ready)
        Report(std::wstring(row.name) + L": key map could not be attached or built" +
               NoKeyMapReason());
    ReportSetAside(refusedBefore);
    return ready ? 1 : 0;
}

void ReportKeyMapRebuild(bool rebuilt, const std::wstring& notes) {
    g_report.clear();
    const std::wstring name = kKeyMapRow.name;
    ReportLines(name + L": ", notes);
    if (!rebuilt)
        Report(name + L": could not be rebuilt for the changed settings" + NoKeyMapReason() +
               L"; the map in use stays");
}

int SetUserDirAndCheckUpdate(const wchar_t* dir) {
    SetConfiguredUserDir(dir);
    if (dir) LoadSmartFuzzyParams();
    GetVersionManager().CheckUpdate2();
    return 1;
}

int KernelCheckUpdate4() {
    GetVersionManager().CheckUpdate4();
    return 1;
}

int ChangeUserDir(const wchar_t* dir) {
    g_report.clear();
    // What was learned belongs to the directory it was learned in.
    if (!SaveAllLocked())
        Report(L"could not save into " + std::wstring(GetConfiguredUserDir()) + L": " +
               Text(GetDictManager().GetLastError()));
    SetConfiguredUserDir(dir);
    PrepareUserDir();
    const t_toldByReport told;
    const std::set<std::wstring> refusedBefore = RefusedFiles();
    GetVersionManager().NotifyAll(GetConfiguredUserDir());
    LoadSmartFuzzyParams();
    ReportSetAside(refusedBefore);
    return 1;
}

int ShutdownDictionaries() {
    const bool saved = SaveAllLocked();
    if (!saved) Report(L"shut-down could not save every dictionary");
    SetDictVersionSource(nullptr);
    if (t_singletonManager* singletons = t_singletonManagerPtr::Get()) singletons->DestroyAll();
    ReleaseDictLocker();
    ReleaseUsrDictChangeCount();
    return saved ? 1 : 0;
}

const wchar_t* GetKernelStartReport() {
    return g_report.c_str();
}

void ResetKernelStartForTesting() {
    g_started = false;
    g_report.clear();
}
