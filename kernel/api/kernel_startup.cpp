// Kernel start-up, user-directory changes and shut-down over the registration
// table. Engine thread only, never beside a conversion.
#include "kernel/api/kernel_startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

// The refused user files kept aside in "<user dir>/Backup".
std::set<std::wstring> RefusedFiles() {
    std::set<std::wstring> names;
    const std::wstring dir = std::wstring(GetConfiguredUserDir()) + L"/Backup";
    t_dirList list(dir.c_str(), false);
    for (int i = 0; i < list.GetCount(); ++i) {
        const std::wstring path = list.GetAt(i);
        if (path.find(L".refused.") != std::wstring::npos) names.insert(path);
    }
    return names;
}

// ": <why>" when the settings map no key at all (the map then cannot be
// built whatever the files hold), else empty.
std::wstring NoKeyMapReason() {
    const wchar_t* why = KeyMapOptionsLeaveNoWay(ReadKeyMapOptions(GetConfiguration()));
    return why ? L": " + std::wstring(why) : std::wstring();
}

// Reports the refused user files set aside since `before` was taken.
void ReportSetAside(const std::set<std::wstring>& before) {
    for (const std::wstring& name : RefusedFiles())
        if (!before.count(name)) Report(L"damaged user file set aside: " + name);
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
            Report(L"system data file missing or damaged, no conversion without it: " +
                   std::wstring(path.GetFull()));
            continue;
        }
        // A user-only dictionary without a file has nothing installed yet.
        if (row.dir == kDirUser && !PathIsFile(path)) continue;
        Report(std::wstring(row.name) + L": not ready: " + path.GetFull() + why);
    }
    ReportSetAside(before);
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
    manager.WatchReplacements(L"UsrDict", GetUsrDictChangeCount());
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
