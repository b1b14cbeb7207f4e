// The dictionary manager: registry, attach with recovery, flush, backups
// and the loader threads.
#include "kernel/runtime/dict_manager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/os_helpers.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/unsaved_changes.h"
#include "kernel/runtime/version_manager.h"

namespace {

// Results of PrepareEntryFile.
enum : int {
    kFileReady = 0,
    kFileFromBackup = 1,
    kFileFromSystem = 2,
    kFileNone = 3,  // build the default image
    kFileFailed = 4,
};

// Results of FlushEntryImpl.
enum : int {
    kFlushWriteFailed = -1,
    kFlushRefused = -2,  // the data changed elsewhere: not written
    kFlushSkipped = 0,
    kFlushDone = 1,
};

constexpr size_t kStampChars = 14;
constexpr const wchar_t* kRefusedTag = L".refused.";
constexpr int kMaxRefusedSerial = 99;

using t_managerSink = t_versionManagerEventSink<t_dictManager*, bool (t_dictManager::*)(int),
                                                bool (t_dictManager::*)(const wchar_t*)>;

t_versionManager& Versions() {
    return t_singleton<t_versionManager>::Get();
}

// stat without the error print of the path helpers: a missing file is an
// expected case here.
bool StatQuiet(const t_pathName& path, struct stat* st) {
    char mb[kPathBufBytes];
    return !path.IsEmpty() && path.ToBytes(mb, sizeof mb) && stat(mb, st) == 0;
}

bool IsRegularFile(const t_pathName& path) {
    struct stat st;
    return StatQuiet(path, &st) && S_ISREG(st.st_mode);
}

bool CanOpenForReading(const t_pathName& path) {
    char mb[kPathBufBytes];
    if (!path.ToBytes(mb, sizeof mb)) return false;
    const int fd = OpenRegularFile(mb, O_RDONLY, INT64_MAX, nullptr);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// The whole file, which must be non-empty and below 2 GiB; every byte is
// checked to have been read.
bool ReadWholeFile(const t_pathName& path, std::vector<uint8_t>& out) {
    out.clear();
    t_fdFile file;
    if (!file.OpenPath(path, kOpenRead)) return false;
    const int64_t size = file.GetSize();
    if (size <= 0 || size > INT32_MAX) return false;
    out.resize(static_cast<size_t>(size));
    if (!file.ReadExact(out.data(), out.size())) {
        out.clear();
        return false;
    }
    return true;
}

// Copies through the dictionary layer's safe write, so a failed copy leaves
// the target as it was.
bool CopyFileSafely(const t_pathName& source, const t_pathName& target) {
    std::vector<uint8_t> bytes;
    return ReadWholeFile(source, bytes) && DictWriteFileSafely(target, bytes.data(), bytes.size());
}

bool AllDigits(const std::wstring& s, size_t from, size_t count) {
    if (from + count > s.size()) return false;
    for (size_t i = from; i < from + count; ++i)
        if (s[i] < L'0' || s[i] > L'9') return false;
    return true;
}

// The file-name part of an entry's file (a full path for kStoragePrivate).
std::wstring EntryBaseName(const t_dictEntry* entry) {
    const std::wstring base = t_pathName(entry->file.c_str()).GetFileName();
    return base.empty() ? entry->file : base;
}

bool BackupDir(t_pathName& out) {
    return GetBackupDir(out, false);
}

// "<base>.<14 digits>" and nothing else is a backup of base: temporaries,
// refused files and stray names such as "<base>.bak" are not.
bool IsBackupName(const std::wstring& name, const std::wstring& base) {
    return name.size() == base.size() + 1 + kStampChars &&
           name.compare(0, base.size(), base) == 0 && name[base.size()] == L'.' &&
           AllDigits(name, base.size() + 1, kStampChars);
}

// The newest backup of the entry whose stamp lies in [from, to] (either
// bound may be null).
bool LatestBackupBetween(const t_dictEntry* entry, const wchar_t* from, const wchar_t* to,
                         t_pathName& path, std::wstring& stamp) {
    if (!entry || entry->file.empty()) return false;
    t_pathName dir;
    if (!BackupDir(dir)) return false;
    struct stat st;
    if (!StatQuiet(dir, &st) || !S_ISDIR(st.st_mode)) return false;
    const std::wstring base = EntryBaseName(entry);
    bool found = false;
    t_dirList list(dir.GetFull(), false);
    for (int i = 0; i < list.GetCount(); ++i) {
        const t_pathName candidate(list.GetAt(i));
        const std::wstring name = candidate.GetFileName();
        if (!IsBackupName(name, base)) continue;
        const std::wstring text = name.substr(base.size() + 1);
        if ((from && text < from) || (to && text > to)) continue;
        if (!found || text > stamp) {
            stamp = text;
            path.AssignRaw(candidate);
            found = true;
        }
    }
    return found;
}

// "<base>.refused.<14 digits>" optionally followed by ".<serial>"; the
// stamp and serial order the kept copies.
bool ParseRefusedName(const std::wstring& name, const std::wstring& base, std::wstring& stamp,
                      int& serial) {
    const std::wstring head = base + kRefusedTag;
    if (name.size() < head.size() + kStampChars || name.compare(0, head.size(), head) != 0 ||
        !AllDigits(name, head.size(), kStampChars))
        return false;
    stamp = name.substr(head.size(), kStampChars);
    const size_t rest = head.size() + kStampChars;
    serial = 1;
    if (rest == name.size()) return true;
    const size_t digits = name.size() - rest - 1;
    if (name[rest] != L'.' || digits == 0 || digits > 2 || !AllDigits(name, rest + 1, digits))
        return false;
    serial = static_cast<int>(wcstol(name.c_str() + rest + 1, nullptr, 10));
    return true;
}

// Keeps the newest kRefusedFilesKept refused copies of base.
void PruneRefused(const t_pathName& dir, const std::wstring& base) {
    struct t_item {
        std::wstring stamp;
        int serial;
        std::wstring path;
    };
    std::vector<t_item> items;
    t_dirList list(dir.GetFull(), false);
    for (int i = 0; i < list.GetCount(); ++i) {
        const t_pathName path(list.GetAt(i));
        t_item item;
        if (ParseRefusedName(path.GetFileName(), base, item.stamp, item.serial)) {
            item.path = path.Str();
            items.push_back(std::move(item));
        }
    }
    if (items.size() <= static_cast<size_t>(kRefusedFilesKept)) return;
    std::sort(items.begin(), items.end(), [](const t_item& a, const t_item& b) {
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.serial > b.serial;
    });
    for (size_t i = kRefusedFilesKept; i < items.size(); ++i)
        PathRemoveFile(t_pathName(items[i].path.c_str()));
}

// True, told, when path lies in the system data folder, the folders
// compared themselves whatever names reach them (a link, "..", a bind
// mount). A user folder that is that folder or lies in it makes a system
// file look like a user file of the same name: it is never set aside,
// renamed or removed, which would take it from every user of the data.
bool IsSystemDataFile(const t_pathName& path) {
    char sysDir[kPathBufBytes];
    if (!WidePathToBytes(GetConfiguredSysDir(), sysDir, sizeof sysDir) ||
        !PathIsWithinDir(path, sysDir))
        return false;
    fprintf(stderr, "%ls: a file of the system data folder, left where it is\n", path.GetFull());
    return true;
}

std::atomic<bool> g_tellRefused{true};

// Moves a file its dictionary refused (`why`: what was wrong with it) into
// the Backup folder as "<file>.refused.<stamp>[.<n>]", so the user can still
// recover it, and tells it (SetTellRefusedFiles), or leaves that line in
// `told` for the caller to finish. False (the file stays where it is) when
// no such place can be made, or when the file lies in the system data folder.
bool MoveAside(const t_dictEntry* entry, const t_pathName& path, const char* why,
               std::string* told = nullptr) {
    if (IsSystemDataFile(path)) return false;
    t_pathName dir;
    wchar_t stamp[15];
    if (!GetBackupDir(dir, true) || !FormatDictStamp(DictNow(), stamp)) return false;
    const std::wstring base = EntryBaseName(entry);
    const std::wstring head = base + kRefusedTag + stamp;
    t_pathName target;
    bool found = false;
    for (int serial = 1; serial <= kMaxRefusedSerial && !found; ++serial) {
        std::wstring name = head;
        if (serial > 1) name += L"." + std::to_wstring(serial);
        if (!target.InitJoin(dir.GetFull(), name.c_str())) return false;
        struct stat st;
        found = !StatQuiet(target, &st);
    }
    if (!found) return false;
    char from[kPathBufBytes];
    char to[kPathBufBytes];
    if (!path.ToBytes(from, sizeof from) || !target.ToBytes(to, sizeof to)) return false;
    if (rename(from, to) != 0) {
        // Another file system (the kind-4 directory): copy, then remove.
        if (errno != EXDEV || !CopyFileSafely(path, target)) {
            perror(from);
            return false;
        }
        if (unlink(from) != 0) {
            perror(from);
            return false;
        }
    }
    SyncParentDir(from);
    SyncParentDir(to);
    PruneRefused(dir, base);
    if (told)
        *told = std::string(from) + ": " + why + ", set aside as " + to;
    else if (g_tellRefused.load())
        fprintf(stderr, "%s: %s, set aside as %s\n", from, why, to);
    return true;
}

// Ends the line that tells a damaged file taken away when the words held in
// memory took its place.
constexpr const char* kWrittenFromMemory = "; written again from the words in memory";

// Another process replaced the words wholesale since the entry's last
// attach; unlike ReplacedSinceLastAttach, notes nothing.
bool ReplacementsMoved(const t_dictEntry* entry) {
    return entry->replacements &&
           t_changeCount::Replacements(entry->replacements->Others()) != entry->replacementsSeen;
}

bool IsUserDirKind(uint32_t dirKind) {
    return dirKind == kDirUser || dirKind == kDirUserOrSystem || dirKind == kDirUserSeeded ||
           dirKind == kDirSmartInfo;
}

// Removes the temporaries that killed writers left of the entry's file:
// "<file>.vetra-tmp-XXXXXX" and "<file>.temp.vetra-tmp-XXXXXX" beside it,
// and those of its backups and refused copies in "Backup". Runs under the
// global lock; only temporaries last written before this hold began and
// locked by no live writer go, so a save running elsewhere keeps its file.
// A user's own "<file>.backup" is never taken for one.
void RemoveAbandonedTemps(const t_dictEntry* entry, const t_pathName& path,
                          const t_processLock& lock) {
    struct timespec since;
    if (!IsUserDirKind(entry->dirKind) || path.IsEmpty() || !lock.GetHeldSince(&since)) return;
    const std::wstring base = EntryBaseName(entry);
    const std::wstring work = base + L".temp";
    const auto sweep = [&](const std::wstring& dir, auto isTarget) {
        struct stat st;
        if (dir.empty() || !StatQuiet(t_pathName(dir.c_str()), &st) || !S_ISDIR(st.st_mode)) return;
        t_dirList list(dir.c_str(), false);
        std::wstring stem;
        for (int i = 0; i < list.GetCount(); ++i) {
            const t_pathName temp(list.GetAt(i));
            if (SplitWriterTempName(temp.GetFileName(), &stem) && isTarget(stem))
                RemoveAbandonedTemp(temp, since);
        }
    };
    sweep(path.GetDir(), [&](const std::wstring& stem) {
        return stem == base || stem == work || IsUnsavedFileName(stem, base);
    });
    t_pathName backups;
    if (!BackupDir(backups)) return;
    sweep(backups.Str(), [&](const std::wstring& stem) {
        std::wstring stamp;
        int serial = 0;
        return IsBackupName(stem, base) || ParseRefusedName(stem, base, stamp, serial);
    });
}

// Guards the entries' disk stamps and saved-change marks: the update-check
// hook reads them under the local lock only, a re-attach writes them under
// the global one, and so does a snapshot's write on the saving thread.
std::mutex g_stampLock;

const char* Plural(size_t n) {
    return n == 1 ? "" : "s";
}

// Prints a line once per process: what is left alone is looked at again at
// every attach or save.
void TellOnce(const std::string& line) {
    static std::mutex lock;
    static std::set<std::string> told;
    std::lock_guard<std::mutex> guard(lock);
    if (told.insert(line).second) fprintf(stderr, "%s\n", line.c_str());
}

std::string Narrow(const std::wstring& wide) {
    char mb[kPathBufBytes];
    return WidePathToBytes(wide.c_str(), mb, sizeof mb) ? std::string(mb) : std::string("?");
}

t_fileStamp StampOf(const t_pathName& path) {
    t_fileStamp stamp;
    struct stat st;
    if (!StatQuiet(path, &st) || !S_ISREG(st.st_mode)) return stamp;
    stamp.present = true;
    stamp.device = uint64_t(st.st_dev);
    stamp.inode = uint64_t(st.st_ino);
    stamp.size = int64_t(st.st_size);
    stamp.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

}  // namespace

// ---------------------------------------------------------------------------
// The entry's block.

bool t_managedShareMemory::OnVersionChanged(int) {
    if (!m_entry) return false;
    if (!m_entry->manager) {
        // Nothing re-attaches it: the dictionary lets go of the image.
        t_dictManager::DropImage(m_entry);
        return false;
    }
    return m_entry->manager->RebaseEntry(m_entry);
}

bool t_managedShareMemory::OnNameEvent(const wchar_t*) {
    if (!m_entry) return false;
    if (m_entry->dirKind == kDirSystem) return true;
    if (!m_versionName.empty()) Versions().IncreaseVersion(m_versionName.c_str());
    // No image is held to write back: its words were just saved into the
    // folder they were learned in, and a damaged file of the folder now in
    // use is no copy of them.
    t_dictManager::DropImage(m_entry);  // as above
    return m_entry->manager && m_entry->manager->AttachEntry(m_entry);
}

// ---------------------------------------------------------------------------
// Set-up and registry.

t_dictManager::~t_dictManager() {
    if (t_singleton<t_versionManager>::Exists()) Versions().RemoveCheckHooks(this);
    m_loader1.Join();
    m_loader2.Join();
    if (!m_eventName.empty() && t_singleton<t_versionManager>::Exists())
        Versions().Unregister(m_eventName.c_str());
    if (m_localLock.IsInitialised()) {
        t_recursiveLock::t_locker guard(m_localLock);
        for (t_dictEntry* entry : m_entries) {
            KeepUnsavedChanges(entry);
            ReleaseEntry(entry);
        }
        for (t_dictEntry* entry : m_standalone) ReleaseEntry(entry);
        m_entries.clear();
        m_standalone.clear();
    }
    m_localLock.Destroy();
    m_globalLock.Close();
}

void t_dictManager::ReleaseEntry(t_dictEntry* entry) {
    if (!entry) return;
    if (entry->dict) {
        // The image goes with the entry: the dictionary must not use it.
        entry->dict->SetReady(false);
        if (entry->dict->GetEntry() == entry) entry->dict->SetEntry(nullptr);
        entry->dict = nullptr;
    }
    delete entry;
}

bool t_dictManager::Init() {
    if (m_localLock.IsInitialised() && m_globalLock.IsCreated()) return true;
    std::wstring globalName;
    MakeSafeFileName(L"DictManager", L"_GlobalLocker", globalName);
    if ((!m_globalLock.IsCreated() && !m_globalLock.Create(globalName.c_str(), 3)) ||
        !m_localLock.Init(L"DictManager_LocalLocker", 2)) {
        m_lastError = kDictErrCreate;
        return false;
    }
    m_eventName = L"DictManager";
    m_eventName += L"_Event";
    t_versionManager& vm = Versions();
    int version = 0;
    const int index = vm.FindOrAdd(m_eventName.c_str(), &version);
    std::unique_ptr<t_versionManagerEventSinkBase> sink(
        new t_managerSink(this, &t_dictManager::LoadPhase2, &t_dictManager::OnNameEvent));
    const bool registered =
        vm.RegisterSink(m_eventName.c_str(), kVersionMaskManager, index, version, sink);
    m_loader1.InitAttr();
    m_loader2.InitAttr();
    if (registered)
        vm.AddCheckHook(
            this, [](void* self) { static_cast<t_dictManager*>(self)->NoticeChangedFiles(); });
    if (!registered) {
        m_lastError = vm.GetLastError();
        return false;
    }
    m_lastError = nullptr;
    return true;
}

t_dictEntry* t_dictManager::FindEntry(const wchar_t* name) {
    if (!name || !m_localLock.IsInitialised()) return nullptr;
    t_recursiveLock::t_locker guard(m_localLock);
    for (t_dictEntry* entry : m_entries)
        if (entry->name == name) return entry;
    return nullptr;
}

bool t_dictManager::CallReady(bool argsOk) {
    if (!m_localLock.IsInitialised()) {
        m_lastError = kDictErrNotInit;
        return false;
    }
    if (!argsOk) {
        m_lastError = kDictErrBadArg;
        return false;
    }
    return true;
}

bool t_dictManager::Register(const wchar_t* name, t_dictStorageBase* dict, uint32_t policy,
                             uint32_t storageKind, uint32_t dirKind, const wchar_t* file,
                             uint32_t backupFlags, uint32_t mask) {
    if (!CallReady(name && dict)) return false;
    t_recursiveLock::t_locker guard(m_localLock);
    if (FindEntry(name)) {
        m_lastError = kDictErrExists;
        return true;
    }
    // One dictionary object belongs to one entry: a second one would leave
    // the first pointing at it after it is gone.
    if (dict->GetEntry()) {
        m_lastError = kDictErrBadArg;
        return false;
    }
    auto* entry = new t_dictEntry;
    entry->name = name;
    entry->dict = dict;
    entry->loadPolicy = policy;
    entry->storageKind = storageKind;
    entry->dirKind = dirKind;
    entry->file = file ? file : L"";
    entry->backupFlags = backupFlags;
    entry->manager = this;
    entry->block.SetVersionMask(mask);
    entry->block.SetEntry(entry);
    dict->SetEntry(entry);
    m_entries.push_back(entry);
    m_lastError = nullptr;
    return true;
}

// ---------------------------------------------------------------------------
// Load phases and loader threads.

bool t_dictManager::LoadPhase1(int flag) {
    if (!CallReady()) return false;
    if (flag == 0) return true;
    t_recursiveLock::t_locker guard(m_localLock);
    if (m_phase1Done) return true;
    if (!m_globalLock.IsCreated()) {
        m_lastError = kDictErrNotInit;
        return false;
    }
    int deferred = 0;
    {
        t_processLock::t_locker global(m_globalLock);
        for (t_dictEntry* entry : m_entries) {
            if (entry->loadPolicy == kLoadPhase1) AttachEntry(entry);
            if (entry->loadPolicy == kLoadThread1) ++deferred;
        }
    }
    if (deferred) m_loader1.Start(&t_dictManager::LoaderThread1, this);
    m_phase1Done = true;
    m_lastError = nullptr;
    return true;
}

bool t_dictManager::LoadPhase2(int) {
    if (!CallReady()) return false;
    t_recursiveLock::t_locker guard(m_localLock);
    if (m_phase2Done) return true;
    int deferred = 0;
    for (t_dictEntry* entry : m_entries) {
        if (entry->loadPolicy == kLoadPhase2) AttachEntry(entry);
        if (entry->loadPolicy == kLoadThread2) ++deferred;
    }
    if (deferred) m_loader2.Start(&t_dictManager::LoaderThread2, this);
    m_phase2Done = true;
    m_lastError = nullptr;
    return true;
}

bool t_dictManager::NotifyEvent() {
    Versions().IncreaseVersion(m_eventName.c_str());
    return true;
}

bool t_dictManager::OnNameEvent(const wchar_t*) {
    m_lastError = nullptr;
    return true;
}

void t_dictManager::LoaderThread1(t_thread* self) {
    if (auto* manager = static_cast<t_dictManager*>(self->GetOwner()))
        manager->LoadPolicyEntries(self, kLoadThread1, 1);
}

void t_dictManager::LoaderThread2(t_thread* self) {
    if (auto* manager = static_cast<t_dictManager*>(self->GetOwner()))
        manager->LoadPolicyEntries(self, kLoadThread2, 10);
}

void t_dictManager::LoadPolicyEntries(t_thread* self, uint32_t policy, uint32_t delayMs) {
    if (!CallReady()) return;
    SleepMs(delayMs);
    if (self->IsStopRequested()) {
        m_lastError = kDictErrStopped;
        return;
    }
    t_recursiveLock::t_locker guard(m_localLock);
    for (t_dictEntry* entry : m_entries) {
        if (self->IsStopRequested()) {
            m_lastError = kDictErrStopped;
            return;
        }
        if (entry->loadPolicy == policy) AttachEntry(entry);
    }
}

// ---------------------------------------------------------------------------
// Loading and saving by name.

bool t_dictManager::LoadDict(const wchar_t* name) {
    if (!CallReady(name != nullptr)) return false;
    t_recursiveLock::t_locker guard(m_localLock);
    t_dictEntry* entry = FindEntry(name);
    m_lastError = nullptr;
    if (!entry || !entry->dict) return false;
    if (entry->dict->IsReady()) return true;
    return AttachEntry(entry);
}

bool t_dictManager::SaveAll() {
    if (!CallReady()) return false;
    t_recursiveLock::t_locker guard(m_localLock);
    bool failed = false;
    for (t_dictEntry* entry : m_entries)
        if (const int r = FlushEntryImpl(entry); r == kFlushWriteFailed || r == kFlushRefused)
            failed = true;
    m_lastError = failed ? kDictErrWrite : nullptr;
    return !failed;
}

// ---------------------------------------------------------------------------
// Saving in steps.

std::unique_ptr<t_dictSaveSnapshot> t_dictManager::NewSaveSnapshot() {
    std::unique_ptr<t_dictSaveSnapshot> snapshot(new t_dictSaveSnapshot(this));
    std::vector<size_t> sizes;
    {
        std::lock_guard<std::mutex> guard(m_copySizesLock);
        sizes = m_copySizes;
    }
    // Filled once here, so every page is in place before the copy.
    for (size_t size : sizes) snapshot->m_spare.emplace_back(size);
    return snapshot;
}

bool t_dictManager::TakeSaveSnapshot(t_dictSaveSnapshot& snapshot) {
    if (!CallReady()) return false;
    if (snapshot.m_manager != this || snapshot.m_written || snapshot.m_finished ||
        !snapshot.m_jobs.empty()) {
        m_lastError = kDictErrBadArg;
        return false;
    }
    t_recursiveLock::t_locker guard(m_localLock);
    for (t_dictEntry* entry : m_entries)
        if (const int r = CopyEntry(entry, snapshot); r == kFlushWriteFailed || r == kFlushRefused)
            snapshot.m_failed = true;
    std::vector<size_t> sizes;
    for (const t_dictSaveSnapshot::t_job& job : snapshot.m_jobs) sizes.push_back(job.image.size());
    std::lock_guard<std::mutex> sizesGuard(m_copySizesLock);
    m_copySizes = std::move(sizes);
    return true;
}

std::unique_ptr<t_dictSaveSnapshot> t_dictManager::TakeSaveSnapshot() {
    std::unique_ptr<t_dictSaveSnapshot> snapshot = NewSaveSnapshot();
    return TakeSaveSnapshot(*snapshot) ? std::move(snapshot) : nullptr;
}

int t_dictManager::CopyEntry(t_dictEntry* entry, t_dictSaveSnapshot& snapshot) {
    if (!entry || !entry->dict || !entry->dict->IsReady()) return kFlushSkipped;
    if (entry->name == L"AbbrUsrDict" || entry->name == L"ExtDict") return kFlushSkipped;
    if (!SharesFile(entry)) return FlushEntryImpl(entry);
    t_processLock::t_locker global(m_globalLock);
    if (global.Refused()) return kFlushWriteFailed;
    t_pathName path;
    BuildEntryPath(entry, path);
    t_managedShareMemory& block = entry->block;
    if (!block.IsValid() || path.IsEmpty()) return FlushEntryImpl(entry);
    RemoveAbandonedTemps(entry, path, m_globalLock);
    // A file another process saved is taken up now, as a flush would.
    if (FileReplaced(entry, path) && !RebaseEntry(entry)) return kFlushWriteFailed;
    if (!block.IsValid()) return kFlushWriteFailed;
    t_dictStorageBase* dict = entry->dict;
    t_dictSaveSnapshot::t_job job;
    const void* image = nullptr;
    int32_t size = 0;
    if (!ImageToSave(entry, &image, &size, &job.dictState))
        return entry->storageKind == kStorageMemCopy ? kFlushWriteFailed : FlushEntryImpl(entry);
    job.entry = entry;
    job.dict = dict;
    job.storageKind = entry->storageKind;
    job.path = path;
    const auto* data = static_cast<const uint8_t*>(image);
    // A prepared buffer large enough takes the copy without new pages.
    std::vector<std::vector<uint8_t>>& spare = snapshot.m_spare;
    const auto fits = std::find_if(spare.begin(), spare.end(), [&](const std::vector<uint8_t>& b) {
        return b.capacity() >= size_t(size);
    });
    if (fits != spare.end()) {
        job.image = std::move(*fits);
        spare.erase(fits);
    }
    job.image.assign(data, data + size);
    job.changes = dict->MarkChanges();
    {
        std::lock_guard<std::mutex> stamps(g_stampLock);
        job.base = entry->diskStamp;
    }
    snapshot.m_jobs.push_back(std::move(job));
    return kFlushDone;
}

size_t t_dictSaveSnapshot::CopiedBytes() const {
    size_t n = 0;
    for (const t_job& job : m_jobs) n += job.image.size();
    return n;
}

bool t_dictSaveSnapshot::Write() {
    if (m_written || m_finished) return false;
    m_written = true;
    bool ok = true;
    for (t_job& job : m_jobs) {
        m_manager->WriteJob(job);
        if (job.state == t_state::kWriteFailed || job.state == t_state::kBackupFailed) ok = false;
    }
    return ok;
}

bool t_dictManager::ImageToSave(const t_dictEntry* entry, const void** image, int32_t* size,
                                uint32_t* state) {
    const t_managedShareMemory& block = entry->block;
    *image = block.GetData();
    *size = block.GetDataSize();
    if (entry->storageKind == kStorageMemCopy) {
        if (entry->reserved > uint32_t(*size)) return false;
        *size -= int32_t(entry->reserved);
        entry->dict->GetLiveImage(image, size);  // a grown table not passed on yet
        return true;
    }
    // The block may lag behind the dictionary's image (after a growth):
    // only what the dictionary hands out is copied.
    return entry->dict->PrepareImageCopy(state) && entry->dict->GetLiveImage(image, size);
}

bool t_dictManager::WriteImageCopy(uint32_t storageKind, const t_dictStorageBase* dict,
                                   const std::vector<uint8_t>& image, const t_pathName& path) {
    return storageKind == kStorageMemCopy
               ? DictWriteFileSafely(path, image.data(), image.size())
               : dict->WriteImageCopy(image.data(), int32_t(image.size()), path.GetFull());
}

void t_dictManager::WriteJob(t_dictSaveSnapshot::t_job& job) {
    using t_state = t_dictSaveSnapshot::t_state;
    t_dictEntry* entry = job.entry;
    t_processLock::t_locker global(m_globalLock);
    if (global.Refused()) {
        job.state = t_state::kWriteFailed;  // the changes stay for the next save
        return;
    }
    // Checked and written in one hold of the global lock, as a flush does:
    // a file saved since the copy (by another process, or here) is not
    // overwritten; the finish takes it up.
    bool replaced;
    {
        const t_fileStamp now = StampOf(job.path);
        std::lock_guard<std::mutex> stamps(g_stampLock);
        replaced = !(entry->diskStamp == job.base) || (now.present && !(now == job.base));
    }
    if (replaced) {
        job.state = t_state::kReplaced;
        return;
    }
    const int32_t size = int32_t(job.image.size());
    if (!WriteImageCopy(job.storageKind, job.dict, job.image, job.path)) {
        job.state = t_state::kWriteFailed;
        return;
    }
    {
        // From here the file holds the copy: an update check must not take
        // it for another writer's, nor an attach replay what it holds.
        const t_fileStamp now = StampOf(job.path);
        std::lock_guard<std::mutex> stamps(g_stampLock);
        entry->diskStamp = now;
        entry->savedChanges = job.changes;
        entry->savedChangesPending = true;
    }
    job.state = t_state::kWritten;
    if (entry->backupFlags != 0 && !BackUpEntry(entry, job.path, job.image.data(), size))
        job.state = t_state::kBackupFailed;
}

void t_dictManager::ForgetSavedChanges(t_dictEntry* entry) {
    t_dictStorageBase::t_changeMark mark;
    {
        std::lock_guard<std::mutex> stamps(g_stampLock);
        if (!entry->savedChangesPending) return;
        entry->savedChangesPending = false;
        mark = entry->savedChanges;
    }
    if (entry->dict) entry->dict->ForgetChangesUpTo(mark);
}

bool t_dictManager::FinishSave(t_dictSaveSnapshot& snapshot) {
    using t_state = t_dictSaveSnapshot::t_state;
    if (!CallReady()) return false;
    if (snapshot.m_manager != this || snapshot.m_finished) {
        m_lastError = kDictErrBadArg;
        return false;
    }
    t_recursiveLock::t_locker guard(m_localLock);
    bool failed = snapshot.m_failed;
    for (t_dictSaveSnapshot::t_job& job : snapshot.m_jobs) {
        t_dictEntry* entry = job.entry;
        switch (job.state) {
            case t_state::kWritten:
            case t_state::kBackupFailed: {
                t_processLock::t_locker global(m_globalLock);
                ForgetSavedChanges(entry);
                if (entry->dict == job.dict) {
                    if (job.storageKind == kStorageMemCopy)
                        job.dict->OnFileWritten(job.path.GetFull());
                    else
                        job.dict->OnImageCopyWritten(job.dictState);
                }
                if (job.state == t_state::kBackupFailed) failed = true;
                break;
            }
            case t_state::kWriteFailed:
                failed = true;  // the changes stay for the next save
                break;
            case t_state::kCopied:
            case t_state::kReplaced:
                if (const int r = FlushEntryImpl(entry);
                    r == kFlushWriteFailed || r == kFlushRefused)
                    failed = true;
                break;
        }
    }
    // The copies go with the snapshot, outside the caller's lock.
    snapshot.m_finished = true;
    m_lastError = failed ? kDictErrWrite : nullptr;
    return !failed;
}

bool t_dictManager::SaveDict(const wchar_t* name) {
    if (!CallReady(name != nullptr)) return false;
    t_recursiveLock::t_locker guard(m_localLock);
    t_dictEntry* entry = FindEntry(name);
    if (!entry || !entry->dict || !entry->dict->IsReady()) {
        m_lastError = kDictErrNotLoaded;
        return false;
    }
    m_lastError = nullptr;
    return FlushEntry(entry);
}

t_dictEntry* t_dictManager::MakeStandalone(const wchar_t* name, t_dictStorageBase* dict) {
    t_dictEntry* old = dict->GetEntry();
    auto standalone = std::find(m_standalone.begin(), m_standalone.end(), old);
    if (old && standalone == m_standalone.end())
        return nullptr;  // a registered one keeps its entry
    if (old) {
        m_standalone.erase(standalone);
        ReleaseEntry(old);
    }
    auto* entry = new t_dictEntry;
    entry->name = name;
    entry->dict = dict;
    entry->storageKind = kStoragePrivate;
    entry->dirKind = kDirUser;
    entry->manager = this;
    entry->block.SetEntry(entry);
    dict->SetEntry(entry);
    m_standalone.push_back(entry);
    return entry;
}

bool t_dictManager::AttachBuffer(const wchar_t* name, t_dictStorageBase* dict, const void* data,
                                 int32_t size) {
    if (!name || !dict || (!data && size > 0) || size < 0 || !m_localLock.IsInitialised()) {
        m_lastError = kDictErrBadArg;
        return false;
    }
    std::unique_ptr<uint8_t[]> copy;
    if (size > 0) {
        copy.reset(new (std::nothrow) uint8_t[size]);
        if (!copy) {
            m_lastError = kDictErrCreate;
            return false;
        }
        memcpy(copy.get(), data, static_cast<size_t>(size));
    }
    t_recursiveLock::t_locker guard(m_localLock);
    t_dictEntry* entry = MakeStandalone(name, dict);
    if (!entry) {
        m_lastError = kDictErrBadArg;
        return false;
    }
    entry->buffer = std::move(copy);
    entry->bufferSize = size;
    m_lastError = nullptr;
    return AttachEntry(entry);
}

bool t_dictManager::AttachFile(const wchar_t* name, t_dictStorageBase* dict, const wchar_t* path) {
    if (!name || !dict || !path || !path[0] || !m_localLock.IsInitialised()) {
        m_lastError = kDictErrBadArg;
        return false;
    }
    t_recursiveLock::t_locker guard(m_localLock);
    t_dictEntry* entry = MakeStandalone(name, dict);
    if (!entry) {
        m_lastError = kDictErrBadArg;
        return false;
    }
    entry->file = path;
    m_lastError = nullptr;
    return AttachEntry(entry);
}

// ---------------------------------------------------------------------------
// Paths and backups.

void t_dictManager::SetTellRefusedFiles(bool tell) {
    g_tellRefused.store(tell);
}

bool t_dictManager::BuildEntryPath(const t_dictEntry* entry, t_pathName& out) {
    if (!entry) return false;
    out.InitEmpty();
    if (entry->storageKind == kStoragePrivate)
        return entry->file.empty() || out.InitFromString(entry->file.c_str());
    if (entry->storageKind == kStorageNoFile || entry->file.empty()) return true;
    const wchar_t* dir = nullptr;
    switch (entry->dirKind) {
        case kDirUser:
        case kDirUserOrSystem:
        case kDirUserSeeded:
            dir = GetConfiguredUserDir();
            break;
        case kDirSystem:
            dir = GetConfiguredSysDir();
            break;
        case kDirSmartInfo:
            dir = GetConfiguredSmartInfoDir();
            break;
        default:
            return true;
    }
    // An unset directory would put the file at the root of the file system.
    if (!dir[0]) return true;
    if (!out.InitJoin(dir, entry->file.c_str())) {
        out.InitEmpty();
        return false;
    }
    return true;
}

bool t_dictManager::FindLatestBackup(const t_dictEntry* entry, t_pathName& path,
                                     std::wstring& stamp) {
    return LatestBackupBetween(entry, nullptr, nullptr, path, stamp);
}

// ---------------------------------------------------------------------------
// Attaching.

int t_dictManager::PrepareEntryFile(t_dictEntry* entry, const t_pathName& path, t_pathName& alt) {
    if (!entry) return kFileFailed;
    if (entry->storageKind == kStorageNoFile) return kFileNone;
    if (entry->storageKind == kStoragePrivate || IsRegularFile(path)) return kFileReady;
    // A missing system file is an error; so is a user file with no place.
    if (entry->dirKind == kDirSystem || path.IsEmpty()) return kFileFailed;

    t_pathName systemCopy;
    const wchar_t* sysDir = GetConfiguredSysDir();
    const bool hasSystemCopy =
        sysDir[0] && systemCopy.InitJoin(sysDir, entry->file.c_str()) && IsRegularFile(systemCopy);

    t_pathName backup;
    std::wstring stamp;
    if (entry->backupFlags != 0 && FindLatestBackup(entry, backup, stamp)) {
        if (!(entry->backupFlags & kBackupByDict)) {
            // A restore that fails (a full disk) must not fall back to an
            // empty dictionary that a later save would back up over the
            // user's real backup.
            return CopyFileSafely(backup, path) ? kFileFromBackup : kFileFailed;
        }
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(backup, bytes)) return kFileNone;
        if (entry->dict && entry->dict->Import(bytes.data(), static_cast<int32_t>(bytes.size())))
            return kFileFromBackup;
        if ((entry->dirKind == kDirUserSeeded || entry->dirKind == kDirSmartInfo) && hasSystemCopy)
            return CopyFileSafely(systemCopy, path) ? kFileFromSystem : kFileFailed;
        return kFileNone;
    }
    switch (entry->dirKind) {
        case kDirUserSeeded:
        case kDirSmartInfo:
            if (!hasSystemCopy) return kFileNone;
            if (CopyFileSafely(systemCopy, path)) return kFileFromSystem;
            // A user folder that takes no file (read-only): the system's
            // copy serves, and what changes stays in memory.
            alt.AssignRaw(systemCopy);
            return kFileReady;
        case kDirUserOrSystem:
            if (!hasSystemCopy) return kFileNone;
            alt.AssignRaw(systemCopy);
            return kFileReady;
        default:
            return kFileNone;
    }
}

int t_dictManager::CheckEntryFile(t_dictEntry* entry, const t_pathName& path, t_pathName& alt) {
    if (entry && entry->dirKind != kDirSystem && !path.IsEmpty()) {
        struct stat st;
        if (StatQuiet(path, &st) && !S_ISREG(st.st_mode)) {
            // A FIFO, a device or a folder in the file's place is damage
            // like any other: set aside, and the file restored.
            SetAsideDamaged(entry, path, "not a regular file");
        } else if (StatQuiet(path, &st)) {
            if (st.st_size < 1) {
                // Nothing to lose in an empty file; it is restored as missing
                // (or written again from the words a re-attach holds).
                if (!IsSystemDataFile(path) && PathRemoveFile(path))
                    fprintf(stderr, "%ls: empty, removed%s\n", path.GetFull(),
                            WriteHeldImage(entry, path) ? kWrittenFromMemory : "");
            } else if (!CanOpenForReading(path)) {
                SetAsideDamaged(entry, path, "unreadable");
            }
        }
    }
    return PrepareEntryFile(entry, path, alt);
}

bool t_dictManager::AttachStandalone(t_dictEntry* entry) {
    t_dictStorageBase* dict = entry->dict;
    if (!entry->file.empty()) {
        std::vector<uint8_t> bytes;
        t_pathName path;
        if (!BuildEntryPath(entry, path) || !ReadWholeFile(path, bytes)) {
            dict->SetReady(false);
            return false;
        }
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes.size()]);
        if (!buffer) {
            dict->SetReady(false);
            return false;
        }
        memcpy(buffer.get(), bytes.data(), bytes.size());
        entry->buffer = std::move(buffer);
        entry->bufferSize = static_cast<int32_t>(bytes.size());
    }
    if (!entry->buffer || entry->bufferSize < 1) {
        dict->SetReady(false);
        return false;
    }
    const bool ready = dict->Load(entry->buffer.get(), entry->bufferSize);
    dict->SetReady(ready);
    return ready;
}

// Step of one attempt: makes the entry's block valid (or fails). The image
// is not handed to the dictionary here.
bool t_dictManager::AttachOnce(t_dictEntry* entry, const t_pathName& path) {
    t_dictStorageBase* dict = entry->dict;
    t_managedShareMemory& block = entry->block;
    const wchar_t* name = entry->name.c_str();
    t_pathName alt;
    switch (entry->storageKind) {
        case kStorageFileMap:
            return !path.IsEmpty() && block.OpenFileMap(path.GetFull());
        case kStorageNoFile:
            if (block.OpenMemory(name, -1)) return true;
            if (PrepareEntryFile(entry, path, alt) == kFileFailed) return false;
            dict->Save(nullptr, 0);
            return true;
        case kStorageSource: {
            if (block.OpenMemory(name, -1)) return true;
            if (CheckEntryFile(entry, path, alt) == kFileFailed) return false;
            const bool useAlt =
                entry->dirKind == kDirUserOrSystem && !IsRegularFile(path) && IsRegularFile(alt);
            dict->LoadFromFile(useAlt ? alt.GetFull() : path.GetFull());
            return true;
        }
        case kStorageMemCopy:
        case kStorageBuilt:
        case kStorageReserved: {
            if (block.OpenMemory(name, -1)) return true;
            const int status = CheckEntryFile(entry, path, alt);
            if (status == kFileFailed) return false;
            if (status == kFileNone) {
                dict->Save(nullptr, 0);
                return true;
            }
            const t_pathName& source = !IsRegularFile(path) && !alt.IsEmpty() ? alt : path;
            if (entry->storageKind == kStorageMemCopy) return ReadIntoBlock(entry, source);
            // The file is read and checked whole before any block is made,
            // so a short or vanished file never leaves a half-filled block.
            std::vector<uint8_t> bytes;
            if (!ReadWholeFile(source, bytes)) return false;
            const auto size = static_cast<int32_t>(bytes.size());
            if (entry->storageKind == kStorageBuilt) {
                dict->Save(bytes.data(), size);
                return true;
            }
            const uint32_t reserved = entry->storageKind == kStorageReserved
                                          ? dict->GetReservedSize(bytes.data(), size)
                                          : 0;
            const uint64_t total = uint64_t(bytes.size()) + reserved;
            if (total > uint64_t(INT32_MAX)) return false;
            if (!block.OpenMemory(name, static_cast<int32_t>(total))) return false;
            if (uint64_t(block.GetDataSize()) < total) {
                block.Drop();
                return false;
            }
            // The fresh block is zero: its reserved room is not written.
            CopyIntoZeroed(block.GetData(), bytes.data(), bytes.size());
            entry->reserved = reserved;
            return true;
        }
        default:
            return false;
    }
}

// A copied image read straight into its fresh block, a piece at a time, so
// that neither a second whole copy nor the image's empty room (zero pages)
// ever becomes resident. A short or vanished file drops the block: no
// half-filled block is ever kept.
bool t_dictManager::ReadIntoBlock(t_dictEntry* entry, const t_pathName& source) {
    t_fdFile file;
    if (!file.OpenPath(source, kOpenRead)) return false;
    const int64_t size = file.GetSize();
    if (size <= 0 || size > INT32_MAX) return false;
    t_managedShareMemory& block = entry->block;
    if (!block.OpenMemory(entry->name.c_str(), static_cast<int32_t>(size))) return false;
    if (block.GetDataSize() < size) {
        block.Drop();
        return false;
    }
    auto* dst = static_cast<uint8_t*>(block.GetData());
    std::vector<uint8_t> piece(size_t(64) * 1024);
    for (int64_t at = 0; at < size;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(size - at, int64_t(piece.size())));
        if (!file.ReadExact(piece.data(), n)) {
            block.Drop();
            return false;
        }
        CopyIntoZeroed(dst + at, piece.data(), n);
        at += int64_t(n);
    }
    entry->reserved = 0;
    return true;
}

bool t_dictManager::AttachEntry(t_dictEntry* entry) {
    if (!entry || !entry->dict) return false;
    t_dictStorageBase* dict = entry->dict;
    if (entry->storageKind != kStoragePrivate && entry->block.IsValid()) return dict->IsReady();
    if (!m_globalLock.IsCreated()) {
        m_lastError = kDictErrNotInit;
        return false;
    }
    t_processLock::t_locker global(m_globalLock);
    // Another thread may have attached it while this one waited.
    if (entry->storageKind != kStoragePrivate && entry->block.IsValid()) return dict->IsReady();
    if (entry->storageKind == kStoragePrivate) return AttachStandalone(entry);

    t_pathName path;
    if (!BuildEntryPath(entry, path)) {
        dict->SetReady(false);
        return false;
    }
    RemoveAbandonedTemps(entry, path, m_globalLock);
    bool retried = false;
    for (;;) {
        if (!AttachOnce(entry, path) || !entry->block.IsValid()) {
            dict->SetReady(false);
            return false;
        }
        NoteFile(entry, path);
        const bool ready = dict->Load(entry->block.GetData(), entry->block.GetDataSize());
        // Checking a mapped system file reads most of it; those pages go
        // back to the page cache, and a lookup maps again only what it reads.
        entry->block.Memory().DropResidentPages();
        // Changes not saved yet survive the new image; those a snapshot
        // already wrote are in the file, and those made before another
        // process replaced the words are gone with them.
        if (ready) {
            ForgetSavedChanges(entry);
            if (ReplacedSinceLastAttach(entry))
                dict->ForgetChanges();
            else
                dict->ReplayChanges();
        }
        dict->SetReady(ready);
        if (ready) {
            // What other processes could not save is taken in by the one
            // that holds the lock.
            if (global.IsHeld()) TakeInUnsaved(entry, path);
            return dict->IsReady();
        }
        if (retried) return false;
        retried = true;
        entry->block.Drop();
        if (IsUserDirKind(entry->dirKind) && IsRegularFile(path)) {
            // The refused file is kept aside for the user, never deleted
            // (the start-up report names it and what took its place);
            // without a place for it the dictionary stays not ready.
            if (!SetAsideDamaged(entry, path, "damaged")) return false;
        }
    }
}

// ---------------------------------------------------------------------------
// Flushing.

bool t_dictManager::FlushEntry(t_dictEntry* entry) {
    const int result = FlushEntryImpl(entry);
    if (result == kFlushWriteFailed || result == kFlushRefused) m_lastError = kDictErrWrite;
    return result == kFlushDone;
}

int t_dictManager::FlushEntryImpl(t_dictEntry* entry) {
    if (!entry || !entry->dict) return kFlushSkipped;
    if (entry->name == L"AbbrUsrDict" || entry->name == L"ExtDict") return kFlushSkipped;
    // An image the dictionary refused (or never got) is not written back
    // or backed up.
    if (!entry->dict->IsReady()) return kFlushSkipped;

    t_processLock::t_locker global(m_globalLock);
    if (global.Refused()) return kFlushWriteFailed;
    t_pathName path;
    BuildEntryPath(entry, path);
    RemoveAbandonedTemps(entry, path, m_globalLock);
    t_managedShareMemory& block = entry->block;
    const bool writable = entry->dirKind != kDirSystem && !path.IsEmpty();
    if (SharesFile(entry)) {
        // The check and the write are one step under the global lock: a
        // file another process (or writer) saved since is taken up first,
        // with this process's unsaved changes replayed onto it.
        if (block.IsValid() && writable && FileReplaced(entry, path) && !RebaseEntry(entry))
            return kFlushWriteFailed;
    } else {
        // The data changed after this process attached it: writing would
        // undo another writer's change.
        t_versionManager& vm = Versions();
        const wchar_t* versionName = block.GetVersionName().c_str();
        if (vm.GetLocalVersion(versionName) < vm.GetVersion(versionName)) return kFlushRefused;
    }
    switch (entry->storageKind) {
        case kStorageMemCopy:
        case kStorageReserved:
            if (writable && WriteSharedFile(entry, path) == kFlushWriteFailed)
                return kFlushWriteFailed;
            break;
        case kStorageBuilt:
        case kStorageSource:
            if (block.IsValid()) entry->dict->OnFlush(block.GetData(), block.GetDataSize());
            break;
        default:
            break;
    }
    if (entry->backupFlags == 0) return kFlushDone;
    // A dictionary grown since the attach edits an image of its own.
    const void* image = block.GetData();
    int32_t size = block.IsValid() ? block.GetDataSize() : 0;
    if (block.IsValid()) entry->dict->GetLiveImage(&image, &size);
    return BackUpEntry(entry, path, image, size) ? kFlushDone : kFlushWriteFailed;
}

int t_dictManager::WriteSharedFile(t_dictEntry* entry, const t_pathName& path) {
    t_managedShareMemory& block = entry->block;
    if (!block.IsValid() || path.IsEmpty() || entry->dirKind == kDirSystem) return kFlushSkipped;
    if (entry->storageKind == kStorageMemCopy) {
        int32_t size = block.GetDataSize();
        if (entry->reserved > uint32_t(size)) return kFlushWriteFailed;
        size -= int32_t(entry->reserved);
        // A table grown since the attach whose new image could not be
        // passed on edits that image, not the block: the block lacks every
        // change made since, and the file must take them.
        const void* image = block.GetData();
        entry->dict->GetLiveImage(&image, &size);
        if (!DictWriteFileSafely(path, image, size_t(size))) return kFlushWriteFailed;
        NoteFile(entry, path);
        entry->dict->ForgetChanges();
        entry->dict->OnFileWritten(path.GetFull());
        return kFlushDone;
    }
    if (entry->storageKind != kStorageReserved) return kFlushSkipped;
    if (!entry->dict->OnFileWritten(path.GetFull())) return kFlushWriteFailed;
    NoteFile(entry, path);
    entry->dict->ForgetChanges();
    return kFlushDone;
}

// Makes a dated backup when the newest one is old enough. True when none
// was due or the new one is complete; the previous newest is removed only
// then, and never when it is the one just written (same second).
bool t_dictManager::BackUpEntry(t_dictEntry* entry, const t_pathName& path, const void* image,
                                int32_t size) {
    const time_t now = DictNow();
    wchar_t stamp[15];
    if (!FormatDictStamp(now, stamp)) return false;
    t_pathName previous;
    std::wstring previousStamp;
    const bool hasPrevious = FindLatestBackup(entry, previous, previousStamp);
    if (hasPrevious) {
        const time_t then = ParseTimestamp14(previousStamp.c_str());
        if (then != -1 && then < now) {
            const int64_t days = (int64_t(now) - int64_t(then)) / 86400;
            const bool due = ((entry->backupFlags & kBackupDaily) && days >= 1) ||
                             ((entry->backupFlags & kBackupWeekly) && days >= 7);
            if (!due) return true;
        }
    }
    t_pathName dir;
    if (!GetBackupDir(dir, true)) return false;
    bool written;
    if (entry->backupFlags & kBackupByDict) {
        written = image && size > 0 && entry->dict->Export(image, size);
    } else {
        const std::wstring name = EntryBaseName(entry) + L"." + stamp;
        t_pathName target;
        written = !path.IsEmpty() && target.InitJoin(dir.GetFull(), name.c_str()) &&
                  CopyFileSafely(path, target);
    }
    if (!written) return false;
    // The backup just written carries a stamp from this call's time span
    // (the dictionary's Export takes its own); only when it is a different
    // file than the previous newest does that one go.
    wchar_t stampAfter[15];
    t_pathName fresh;
    std::wstring freshStamp;
    if (hasPrevious && FormatDictStamp(DictNow(), stampAfter) &&
        LatestBackupBetween(entry, stamp, stampAfter, fresh, freshStamp) &&
        fresh.Str() != previous.Str())
        PathRemoveFile(previous);
    return true;
}

// ---------------------------------------------------------------------------
// Saves of other processes.

bool t_dictManager::SharesFile(const t_dictEntry* entry) {
    return entry &&
           (entry->storageKind == kStorageMemCopy || entry->storageKind == kStorageReserved) &&
           IsUserDirKind(entry->dirKind);
}

// Only a file that is there counts. One that vanished (set aside as damaged
// by another process, deleted by hand) is no newer save: the image in memory
// is the only copy of the words and is written back. A removal by the user
// leaves an empty dictionary in the file's place, which is taken up as any
// other save.
bool t_dictManager::FileReplaced(const t_dictEntry* entry, const t_pathName& path) {
    const t_fileStamp now = StampOf(path);
    std::lock_guard<std::mutex> guard(g_stampLock);
    return now.present && !(now == entry->diskStamp);
}

void t_dictManager::NoteFile(t_dictEntry* entry, const t_pathName& path) {
    if (!SharesFile(entry)) return;
    const t_fileStamp now = StampOf(path);
    std::lock_guard<std::mutex> guard(g_stampLock);
    entry->diskStamp = now;
}

void t_dictManager::DropImage(t_dictEntry* entry) {
    if (entry->dict) {
        // Readers stop using the image, and the dictionary lets go of the
        // block before it goes: should the new attach fail, nothing is left
        // pointing into freed memory.
        entry->dict->SetReady(false);
        entry->dict->Load(nullptr, 0);
    }
    entry->block.Drop();
}

bool t_dictManager::KeepsChangeFiles(const t_dictEntry* entry) {
    return SharesFile(entry) && entry->name != L"AbbrUsrDict" && entry->name != L"ExtDict";
}

void t_dictManager::KeepUnsavedChanges(t_dictEntry* entry) {
    if (!entry || !entry->dict) return;
    ForgetSavedChanges(entry);  // what a written snapshot held is in the file
    if (!entry->dict->HasUnsavedChanges()) return;
    const std::vector<uint8_t> changes = entry->dict->TakeChanges();
    size_t records = 0;
    CountChangeRecords(changes, &records);
    t_pathName path, kept;
    std::string why = "the dictionary saves its file itself";
    if (!BuildEntryPath(entry, path) || path.IsEmpty()) {
        why = "it has no file";
    } else if (KeepsChangeFiles(entry)) {
        // The words they were made on go with them: the next holder takes
        // them in only when no removal or restore came between.
        if (WriteUnsavedFile(path, changes, entry->replacementMark, &kept, &why)) {
            fprintf(stderr, "%ls: %zu unsaved change%s kept in %ls for the next start\n",
                    path.GetFull(), records, Plural(records), kept.GetFull());
            return;
        }
        // A folder that takes no new file was told so once (what changes
        // stays in memory): no more is said.
        char dir[kPathBufBytes];
        if (WidePathToBytes(path.GetDir().c_str(), dir, sizeof dir) && FolderRefusesFiles(dir))
            return;
    }
    fprintf(stderr, "%ls: %zu unsaved change%s lost: %s\n",
            path.IsEmpty() ? entry->name.c_str() : path.GetFull(), records, Plural(records),
            why.c_str());
}

void t_dictManager::TakeInUnsaved(t_dictEntry* entry, const t_pathName& path) {
    if (m_takingIn || m_replacing || !KeepsChangeFiles(entry) || path.IsEmpty()) return;
    // Under the global lock, as every replacement is counted: a file made
    // on the words before a replacement holds nothing of the words now.
    const t_replacementMark now =
        entry->replacements ? entry->replacements->Mark() : t_replacementMark();
    struct t_taken {
        t_unsavedFile file;
        std::wstring name;  // as found, before the claim
    };
    std::vector<t_taken> files;
    bool removed = false;
    for (const t_pathName& found : FindUnsavedFiles(path)) {
        t_taken taken;
        std::string why;
        const std::string name = Narrow(found.Str());
        switch (ReadUnsavedFile(found, &taken.file, &why)) {
            case t_unsavedRead::kGone:
                continue;
            case t_unsavedRead::kLeft:
                TellOnce(name + ": " + why + ", left where it is");
                continue;
            case t_unsavedRead::kDamaged: {
                // Kept for the user, never replayed: a damaged record could
                // say anything.
                t_pathName aside;
                if (SetAsideUnsavedFile(found, &aside))
                    fprintf(stderr, "%s: damaged (%s), set aside as %ls\n", name.c_str(),
                            why.c_str(), aside.GetFull());
                else
                    TellOnce(name + ": damaged (" + why + "), left where it is");
                continue;
            }
            case t_unsavedRead::kWhole:
                break;
        }
        if (t_changeCount::ReplacedBetween(taken.file.mark, now)) {
            // Its words were removed or restored away with the others.
            if (PathRemoveFile(found)) {
                removed = true;
                fprintf(stderr, "%s: %zu change%s made before the words were replaced, removed\n",
                        name.c_str(), taken.file.records, Plural(taken.file.records));
            } else {
                TellOnce(name + ": made before the words were replaced, cannot be removed");
            }
            continue;
        }
        int err = 0;
        if (!ClaimUnsavedFile(taken.file.path, &err)) {
            if (err != ENOENT)
                TellOnce(name + ": cannot be removed once taken in (" + strerror(err) +
                         "), so it is left where it is");
            continue;
        }
        taken.name = found.Str();
        files.push_back(std::move(taken));
    }
    char mb[kPathBufBytes];
    if (files.empty()) {
        if (removed && path.ToBytes(mb, sizeof mb)) SyncParentDir(mb);
        return;
    }
    // In the order they were written: a later learning is replayed after an
    // earlier deletion, whatever the process ids.
    std::stable_sort(files.begin(), files.end(), [](const t_taken& a, const t_taken& b) {
        return a.file.writtenNs < b.file.writtenNs;
    });
    t_dictStorageBase* dict = entry->dict;
    std::vector<uint8_t> own = dict->TakeChanges();
    dict->RestoreChanges(own);
    std::vector<size_t> taken, refused(files.size());
    for (size_t i = 0; i < files.size(); ++i)
        taken.push_back(dict->AdoptChanges(files[i].file.changes, &refused[i]));
    if (WriteSharedFile(entry, path) != kFlushDone) {
        // The image goes back to the file and this process's own changes;
        // the change files stay for a later holder.
        dict->RestoreChanges(std::move(own));
        DropImage(entry);
        m_takingIn = true;
        AttachEntry(entry);
        m_takingIn = false;
        fprintf(stderr, "%ls: cannot be written now; %zu change file%s beside it left for later\n",
                path.GetFull(), files.size(), Plural(files.size()));
        return;
    }
    // The write synced the folder; the removals are synced once after.
    for (size_t i = 0; i < files.size(); ++i) {
        const wchar_t* name = files[i].name.c_str();
        if (!PathRemoveFile(files[i].file.path))
            fprintf(stderr, "%ls: taken into %ls but cannot be removed\n", name, path.GetFull());
        else if (refused[i])
            fprintf(stderr, "%ls: %zu change%s taken into %ls, %zu refused by it\n", name, taken[i],
                    Plural(taken[i]), path.GetFull(), refused[i]);
        else
            fprintf(stderr, "%ls: %zu change%s taken into %ls\n", name, taken[i], Plural(taken[i]),
                    path.GetFull());
    }
    if (path.ToBytes(mb, sizeof mb)) SyncParentDir(mb);
}

bool t_dictManager::WordsReplaced(const wchar_t* name) {
    t_dictEntry* entry = FindEntry(name);
    if (!entry || !m_globalLock.IsCreated()) return false;
    t_processLock::t_locker global(m_globalLock);
    // Changes made from now on are made on the new words.
    if (entry->replacements) entry->replacementMark = entry->replacements->Mark();
    t_pathName path;
    if (!KeepsChangeFiles(entry) || !BuildEntryPath(entry, path) || path.IsEmpty()) return true;
    std::vector<std::string> left;
    const size_t removed = RemoveUnsavedFiles(path, &left);
    if (removed)
        fprintf(stderr, "%ls: %zu change file%s of words from before removed with them\n",
                path.GetFull(), removed, Plural(removed));
    for (const std::string& line : left) fprintf(stderr, "%s\n", line.c_str());
    return true;
}

bool t_dictManager::RebaseEntry(t_dictEntry* entry) {
    HoldImage(entry);
    DropImage(entry);
    const bool ready = AttachEntry(entry);
    std::vector<uint8_t>().swap(entry->heldImage);
    return ready;
}

void t_dictManager::HoldImage(t_dictEntry* entry) {
    std::vector<uint8_t>().swap(entry->heldImage);
    t_dictStorageBase* dict = entry->dict;
    const t_managedShareMemory& block = entry->block;
    t_pathName path;
    // The file the image came from cannot be refused (a damaged one has
    // another size or time): only a re-attach to another file pays the copy.
    if (!KeepsChangeFiles(entry) || !dict || !dict->IsReady() || !block.IsValid() ||
        !BuildEntryPath(entry, path) || path.IsEmpty() || !FileReplaced(entry, path))
        return;
    const void* image = nullptr;
    int32_t size = 0;
    uint32_t state = 0;
    if (!ImageToSave(entry, &image, &size, &state)) return;
    const auto* bytes = static_cast<const uint8_t*>(image);
    entry->heldImage.assign(bytes, bytes + size);
}

bool t_dictManager::WriteHeldImage(t_dictEntry* entry, const t_pathName& path) {
    std::vector<uint8_t> image;
    image.swap(entry->heldImage);
    if (image.empty() || !entry->dict || ReplacementsMoved(entry)) return false;
    const bool written = WriteImageCopy(entry->storageKind, entry->dict, image, path);
    if (written) entry->dict->ForgetChanges();
    return written;
}

bool t_dictManager::SetAsideDamaged(t_dictEntry* entry, const t_pathName& path, const char* why) {
    std::string told;
    if (!MoveAside(entry, path, why, &told)) return false;
    const bool rewritten = WriteHeldImage(entry, path);
    if (g_tellRefused.load())
        fprintf(stderr, "%s%s\n", told.c_str(), rewritten ? kWrittenFromMemory : "");
    return true;
}

bool t_dictManager::ResetEntry(t_dictEntry* entry) {
    if (!CallReady(entry && entry->dict)) return false;
    if (entry->storageKind != kStorageMemCopy || !IsUserDirKind(entry->dirKind) ||
        entry->backupFlags != 0 || !m_globalLock.IsCreated()) {
        m_lastError = kDictErrBadArg;
        return false;
    }
    t_recursiveLock::t_locker guard(m_localLock);
    t_processLock::t_locker global(m_globalLock);
    if (global.Refused()) return false;
    m_lastError = kDictErrWrite;
    t_pathName path, aside;
    if (!BuildEntryPath(entry, path) || path.IsEmpty() ||
        !aside.InitFromString((path.Str() + L".reset").c_str()))
        return false;
    // The old file is set aside rather than removed, so a failure below can
    // put it back.
    struct stat st;
    const bool present = StatQuiet(path, &st);
    if (present && (!S_ISREG(st.st_mode) || IsSystemDataFile(path) || !PathRename(path, aside)))
        return false;
    t_dictStorageBase* dict = entry->dict;
    // The image as it is, unsaved changes included (a memory copy holds the
    // dictionary's whole state, or a grown table not passed on yet does), to
    // be put back should the reset fail.
    t_managedShareMemory& block = entry->block;
    const bool wasReady = dict->IsReady() && block.IsValid();
    const void* live = block.GetData();
    int32_t liveSize = wasReady ? block.GetDataSize() : 0;
    if (wasReady) dict->GetLiveImage(&live, &liveSize);
    const auto* held = static_cast<const uint8_t*>(live);
    const std::vector<uint8_t> image(held, held + liveSize);
    std::vector<uint8_t> changes = dict->TakeChanges();
    DropImage(entry);
    bool ok = AttachEntry(entry) && block.IsValid();
    ok = ok && DictWriteFileSafely(path, block.GetData(), size_t(block.GetDataSize()));
    if (!ok) {
        DropImage(entry);
        if (present)
            PathRename(aside, path);
        else if (PathIsFile(path))
            PathRemoveFile(path);
        dict->RestoreChanges(std::move(changes));
        if (wasReady && !image.empty() &&
            block.OpenMemory(entry->name.c_str(), int32_t(image.size())) &&
            size_t(block.GetDataSize()) >= image.size()) {
            memcpy(block.GetData(), image.data(), image.size());
            dict->SetReady(dict->Load(block.GetData(), block.GetDataSize()));
            NoteFile(entry, path);
        } else {
            AttachEntry(entry);
        }
        return false;
    }
    if (present) PathRemoveFile(aside);
    NoteFile(entry, path);
    m_lastError = nullptr;
    return true;
}

bool t_dictManager::WriteEntryImage(t_dictEntry* entry, const void* data, int32_t size) {
    if (!entry || !entry->dict || !data || size < 0 || !m_globalLock.IsCreated()) return false;
    t_processLock::t_locker global(m_globalLock);
    if (global.Refused()) return false;
    t_pathName path;
    if (!BuildEntryPath(entry, path) || path.IsEmpty() || entry->dirKind == kDirSystem)
        return false;
    if (SharesFile(entry) && FileReplaced(entry, path)) return false;
    if (!DictWriteFileSafely(path, data, size_t(size))) return false;
    NoteFile(entry, path);
    entry->dict->ForgetChanges();
    return true;
}

bool t_dictManager::SaveEntryWith(t_dictEntry* entry, const std::function<bool()>& write) {
    if (!entry || !entry->dict || !write || !m_globalLock.IsCreated()) return false;
    t_processLock::t_locker global(m_globalLock);
    if (global.Refused()) return false;
    t_pathName path;
    if (!BuildEntryPath(entry, path) || path.IsEmpty()) return false;
    if (SharesFile(entry) && entry->block.IsValid() && FileReplaced(entry, path) &&
        !RebaseEntry(entry))
        return false;
    if (!write()) return false;
    NoteFile(entry, path);
    entry->dict->ForgetChanges();
    return true;
}

bool t_dictManager::MarkEntry(t_dictEntry* entry, t_entryMark& mark) {
    if (!entry || !entry->dict || !SharesFile(entry) || !m_globalLock.IsCreated()) return false;
    t_recursiveLock::t_locker guard(m_localLock);
    t_processLock::t_locker global(m_globalLock);
    if (global.Refused()) return false;
    t_pathName path;
    if (!BuildEntryPath(entry, path) || path.IsEmpty() || !entry->block.IsValid()) return false;
    if (FileReplaced(entry, path) && !RebaseEntry(entry)) return false;
    if (!entry->block.IsValid() || !entry->dict->IsReady()) return false;
    mark.changes = entry->dict->MarkChanges();
    std::lock_guard<std::mutex> stamps(g_stampLock);
    mark.base = entry->diskStamp;
    return true;
}

int t_dictManager::WriteMarkedEntry(t_dictEntry* entry, const t_entryMark& mark, const void* data,
                                    size_t size) {
    if (!entry || !data || size == 0 || !m_globalLock.IsCreated()) return -1;
    t_processLock::t_locker global(m_globalLock);
    if (global.Refused()) return -1;
    t_pathName path;
    if (!BuildEntryPath(entry, path) || path.IsEmpty()) return -1;
    {
        const t_fileStamp now = StampOf(path);
        std::lock_guard<std::mutex> stamps(g_stampLock);
        if (!(entry->diskStamp == mark.base) || (now.present && !(now == mark.base))) return 0;
    }
    if (!DictWriteFileSafely(path, data, size)) return -1;
    // The recorded stamp stays the old file's, so nobody takes the new one
    // for the image in memory; the marked changes are in it.
    std::lock_guard<std::mutex> stamps(g_stampLock);
    entry->savedChanges = mark.changes;
    entry->savedChangesPending = true;
    return 1;
}

bool t_dictManager::WatchReplacements(const wchar_t* name, const t_changeCount& count) {
    t_dictEntry* entry = FindEntry(name);
    if (!entry || !m_globalLock.IsCreated()) return false;
    t_processLock::t_locker global(m_globalLock);
    entry->replacements = &count;
    entry->replacementsSeen = t_changeCount::Replacements(count.Others());
    entry->replacementMark = count.Mark();
    return true;
}

bool t_dictManager::ReplacedSinceLastAttach(t_dictEntry* entry) {
    if (!entry->replacements) return false;
    entry->replacementMark = entry->replacements->Mark();
    const uint32_t now = t_changeCount::Replacements(entry->replacements->Others());
    return std::exchange(entry->replacementsSeen, now) != now;
}

void t_dictManager::NoticeChangedFiles() {
    if (!m_localLock.IsInitialised()) return;
    t_recursiveLock::t_locker guard(m_localLock);
    for (t_dictEntry* entry : m_entries) {
        if (!SharesFile(entry) || !entry->dict || !entry->dict->IsReady() ||
            !entry->block.IsValid())
            continue;
        t_pathName path;
        if (!BuildEntryPath(entry, path) || path.IsEmpty() || !FileReplaced(entry, path)) continue;
        const std::wstring& versionName = entry->block.GetVersionName();
        if (!versionName.empty()) Versions().IncreaseVersion(versionName.c_str());
    }
}

t_entryFileLock::t_entryFileLock(const t_dictStorageBase& dict) {
    const t_dictEntry* entry = dict.GetEntry();
    if (!entry || !entry->manager) return;
    t_processLock& lock = entry->manager->GetGlobalLocker();
    if (!lock.IsCreated()) return;
    if (lock.Lock())
        m_lock = &lock;
    else
        m_refused = true;
}

t_entryFileLock::~t_entryFileLock() {
    if (m_lock) m_lock->Unlock();
}

namespace {

// Why the backup folder is left alone, told once per folder and reason:
// every save and backup asks for the folder again.
void TellBackupDirRefused(const char* dir, const char* why) {
    TellOnce(std::string(dir) + ": " + why + ", left alone");
}

}  // namespace

bool GetBackupDir(t_pathName& out, bool make) {
    const wchar_t* userDir = GetConfiguredUserDir();
    char mb[kPathBufBytes];
    if (!userDir[0] || !out.InitJoin(userDir, L"Backup") || !out.ToBytes(mb, sizeof mb))
        return false;
    if (make && mkdir(mb, 0700) != 0 && errno != EEXIST) {
        TellBackupDirRefused(mb, strerror(errno));
        return false;
    }
    // Opened without following a link, and judged on what was opened.
    const int fd = open(mb, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return !make;
        // A link or a file stands where the folder belongs; anything else
        // (no permission, say) is told as it is.
        TellBackupDirRefused(mb,
                             errno == ENOTDIR || errno == ELOOP ? "not a folder" : strerror(errno));
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
    if (!ok) TellBackupDirRefused(mb, "not a folder of this user");
    // Private like the user directory, whatever the umask made it.
    else if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0)
        ok = false;
    close(fd);
    return ok;
}
