// t_dictManager: the registry of the kernel's dictionaries. It attaches
// their images (restoring missing user files from backups or the system
// directory), writes them back and keeps dated backups. Operations may be
// called from any thread: registry changes take the local lock, file work
// the global (per-user, cross-process) lock, in that order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/runtime/change_count.h"
#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/file_stream.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/named_memory.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/thread.h"

class t_dictManager;

inline constexpr const wchar_t* kDictErrNotInit = L"尚未初始化";
inline constexpr const wchar_t* kDictErrNotLoaded = L"词库还未加载";
inline constexpr const wchar_t* kDictErrBadArg = L"参数错误";
inline constexpr const wchar_t* kDictErrStopped = L"用户主动终止";
inline constexpr const wchar_t* kDictErrExists = L"同名词库已存在";
inline constexpr const wchar_t* kDictErrCreate = L"创建错误";
inline constexpr const wchar_t* kDictErrWrite = L"写文件失败";

// Load policies: when an entry is attached.
enum : uint32_t {
    kLoadPhase1 = 0,   // synchronously in LoadPhase1
    kLoadPhase2 = 1,   // synchronously in LoadPhase2
    kLoadThread1 = 2,  // on loader thread 1, started by LoadPhase1
    kLoadThread2 = 3,  // on loader thread 2, started by LoadPhase2
};

// How many refused user files are kept aside per file.
inline constexpr int kRefusedFilesKept = 3;

// The memory block of one registered dictionary: a version change or a
// change of the user directory re-attaches the whole entry (restoring its
// file when needed) instead of only reopening the memory.
class t_managedShareMemory final : public t_shareMemory {
public:
    t_managedShareMemory() {
        m_mask = 2;
        m_versionInName = true;
        m_size = -1;
    }
    void SetEntry(t_dictEntry* entry) { m_entry = entry; }
    // Drops the memory and the registration (the entry is kept).
    void Drop() { Detach(); }

    bool OnVersionChanged(int version) override;
    bool OnNameEvent(const wchar_t* name) override;

private:
    t_dictEntry* m_entry = nullptr;
};

// Which saved version of a file is on disk. Every save renames a new file
// over the old one, so a save by any process changes the stamp (a new inode
// and time); a second name or a mode change does not.
struct t_fileStamp {
    bool present = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const t_fileStamp&) const = default;
};

// One registered dictionary; owned by its manager.
struct t_dictEntry {
    std::wstring name;
    t_dictStorageBase* dict = nullptr;  // not owned; cleared when either side goes
    uint32_t loadPolicy = 0;
    uint32_t storageKind = 0;
    uint32_t dirKind = 0;
    std::wstring file;  // full path for kStoragePrivate
    uint32_t backupFlags = 0;
    t_managedShareMemory block;
    t_fileStream stream;                // for the dictionary's own use: the manager never opens it
    std::unique_ptr<uint8_t[]> buffer;  // kStoragePrivate
    int32_t bufferSize = 0;
    uint32_t reserved = 0;  // room after the image (kStorageReserved)
    t_dictManager* manager = nullptr;
    t_fileStamp diskStamp;  // the file the image was last attached from or saved to
    // Changes a snapshot's write put in the file and the finish has not yet
    // forgotten: an attach meanwhile must not replay them onto that file.
    // Both guarded with diskStamp.
    t_dictStorageBase::t_changeMark savedChanges;
    bool savedChangesPending = false;
    // The count of the changes other processes make that replace the file's
    // words wholesale (a restore, a removal), when the entry has one, and
    // its value at the last attach; under the global lock. An attach that
    // finds it moved drops the dictionary's unsaved changes instead of
    // replaying them: they were made on the words the change replaced, as
    // that process's own were.
    const t_changeCount* replacements = nullptr;
    uint32_t replacementsSeen = 0;
    // The same at the last attach, in the form a change file carries to
    // other processes (invalid when the entry follows no count).
    t_replacementMark replacementMark;
    // The image a re-attach dropped, kept for that attach only (memory, never
    // a file): the freshest good copy of the words should it find the file
    // damaged. Empty when none is held.
    std::vector<uint8_t> heldImage;
};

// A save in three steps, so that the disk work runs without the kernel's
// locks: t_dictManager::TakeSaveSnapshot copies the images to be written
// (under the caller's kernel lock, as SaveAll runs), Write writes them (any
// thread, no kernel lock held; the manager's global lock is taken around
// each file as every writer takes it), and t_dictManager::FinishSave, again
// under the kernel lock, forgets only the changes the copies held. The
// registered dictionaries must outlive the snapshot; one snapshot at a time.
class t_dictSaveSnapshot {
public:
    t_dictSaveSnapshot(const t_dictSaveSnapshot&) = delete;
    t_dictSaveSnapshot& operator=(const t_dictSaveSnapshot&) = delete;
    // Writes every copy (temporary, sync, rename) and the backups due.
    // False when a write failed; once only, before the finish.
    bool Write();
    // Bytes of the images copied.
    size_t CopiedBytes() const;

private:
    friend class t_dictManager;
    enum class t_state { kCopied, kWritten, kWriteFailed, kBackupFailed, kReplaced };
    struct t_job {
        t_dictEntry* entry = nullptr;
        t_dictStorageBase* dict = nullptr;
        uint32_t storageKind = 0;
        t_pathName path;
        std::vector<uint8_t> image;
        uint32_t dictState = 0;  // PrepareImageCopy's
        t_fileStamp base;        // the file the image came from
        t_dictStorageBase::t_changeMark changes;
        t_state state = t_state::kCopied;
    };
    explicit t_dictSaveSnapshot(t_dictManager* manager) : m_manager(manager) {}

    t_dictManager* m_manager;
    std::vector<t_job> m_jobs;
    // Buffers made and touched before the kernel lock is taken, so the copy
    // under it does not wait for fresh pages.
    std::vector<std::vector<uint8_t>> m_spare;
    bool m_failed = false;  // a flush done while copying failed
    bool m_written = false;
    bool m_finished = false;
};

// The "Backup" folder of the user directory. It is never followed through a
// symbolic link: what stands there must be a real folder of this user (made
// 0700 when missing and `make` is set; a wider mode is narrowed to 0700).
// True with `out` set when it is such a folder, or when it is missing and
// `make` is not set; false (printed) for anything else in its place, so
// that nothing is written into or removed from another folder.
bool GetBackupDir(t_pathName& out, bool make);

// Holds, for a scope, the global lock of the manager a dictionary is
// registered with (nothing for one that is not registered): a writer that
// reads a user file, changes it and writes it back then never runs between
// another process's read and write of it.
class t_entryFileLock {
public:
    explicit t_entryFileLock(const t_dictStorageBase& dict);
    ~t_entryFileLock();
    t_entryFileLock(const t_entryFileLock&) = delete;
    t_entryFileLock& operator=(const t_entryFileLock&) = delete;
    // The lock exists but another process held it past the wait: the file
    // must not be written now.
    bool Refused() const { return m_refused; }

private:
    t_processLock* m_lock = nullptr;  // held when set
    bool m_refused = false;
};

class t_dictManager {
public:
    t_dictManager() = default;
    // Joins the loader threads, leaves the version manager and frees every
    // entry; dictionaries still alive are unlinked, not destroyed.
    ~t_dictManager();
    t_dictManager(const t_dictManager&) = delete;
    t_dictManager& operator=(const t_dictManager&) = delete;

    // Creates the locks and registers the manager's event with the version
    // manager (which must be initialised). False with "创建错误" when a lock
    // cannot be made, or with the version manager's error when the event
    // cannot be registered. True when already initialised.
    bool Init();

    // Adds a dictionary. False with "尚未初始化" before Init, "参数错误" for
    // a null name or dictionary. An existing name is kept: true with
    // "同名词库已存在".
    bool Register(const wchar_t* name, t_dictStorageBase* dict, uint32_t policy,
                  uint32_t storageKind, uint32_t dirKind, const wchar_t* file, uint32_t backupFlags,
                  uint32_t mask);

    // Attaches every policy-0 entry in order and starts loader thread 1 for
    // the policy-2 entries. Flag 0 does nothing. Runs once; false with
    // "尚未初始化" before Init. Failed attaches leave their dictionaries not
    // ready and do not fail the phase.
    bool LoadPhase1(int flag);
    // The event's version sink: attaches the policy-1 entries and starts
    // loader thread 2 for the policy-3 entries, once.
    bool LoadPhase2(int version);
    // Raises the event, so that the next CheckUpdate8 runs LoadPhase2.
    bool NotifyEvent();
    bool OnNameEvent(const wchar_t* name);

    // True when the dictionary is (now) ready. False for an unknown name (no
    // error), or when attaching failed.
    bool LoadDict(const wchar_t* name);
    // Flushes every entry in order. False with "写文件失败" when an image or a
    // backup could not be written (the other entries are still flushed).
    bool SaveAll();
    // SaveAll in steps (see t_dictSaveSnapshot). Any thread, no lock: an
    // empty snapshot holding buffers the size of the last save's copies.
    std::unique_ptr<t_dictSaveSnapshot> NewSaveSnapshot();
    // The user files held in memory are copied into the snapshot (one not
    // taken yet); every other entry is flushed here as SaveAll does. False
    // with "尚未初始化" before Init, "参数错误" for a used snapshot.
    bool TakeSaveSnapshot(t_dictSaveSnapshot& snapshot);
    // NewSaveSnapshot and TakeSaveSnapshot at once; null when the take failed.
    std::unique_ptr<t_dictSaveSnapshot> TakeSaveSnapshot();
    // Under the kernel lock after Write: the saved changes are forgotten,
    // the dictionaries told, a file another process saved since the copy
    // is taken up and saved here as SaveAll does (an unwritten snapshot is
    // saved here whole). False with "写文件失败" as SaveAll; a failed write
    // keeps the changes for the next save. Once per snapshot ("参数错误").
    bool FinishSave(t_dictSaveSnapshot& snapshot);
    // Flushes one entry; false with "词库还未加载" for an unknown or not
    // ready dictionary, with "写文件失败" when a write failed.
    bool SaveDict(const wchar_t* name);

    // Attach a dictionary to a stand-alone (unregistered) private buffer:
    // a copy of the bytes, or the whole file at `path`. The manager keeps
    // the entry until it is destroyed or the dictionary is attached again.
    // False with "参数错误" for null arguments, else the attach result.
    bool AttachBuffer(const wchar_t* name, t_dictStorageBase* dict, const void* data, int32_t size);
    bool AttachFile(const wchar_t* name, t_dictStorageBase* dict, const wchar_t* path);

    // Attaches an entry: maps or reads its file into the entry's block and
    // hands the image to the dictionary's Load. A missing user file is first
    // restored from the newest backup, else copied from the system
    // directory, else the dictionary builds its default image. A user file
    // the dictionary refuses is moved into "Backup" as
    // "<file>.refused.<stamp>" (the newest few are kept) and the attach is
    // retried once; a re-attach first writes the image it dropped in its
    // place (WriteHeldImage). True when the dictionary is ready; for a block
    // that is already attached, the dictionary's current state. False (not
    // ready) for a missing system file or a file that cannot be read whole.
    bool AttachEntry(t_dictEntry* entry);
    // Writes an entry back and backs it up when due. False when nothing was
    // written because the data changed elsewhere or the entry saves itself,
    // or with "写文件失败" when a write failed: the file and the previous
    // backup are then left as they were.
    bool FlushEntry(t_dictEntry* entry);

    // The entry's file: directory of its kind + "/" + file; the file itself
    // for kStoragePrivate; empty (still true) for kStorageNoFile, an unknown
    // directory kind, no file, or an unset directory. False for null.
    static bool BuildEntryPath(const t_dictEntry* entry, t_pathName& out);
    // The newest backup of the entry: a file in "<user dir>/Backup" named
    // exactly "<file>.<14 digits>". False when there is none.
    static bool FindLatestBackup(const t_dictEntry* entry, t_pathName& path, std::wstring& stamp);
    // A user file the manager sets aside or removes as refused is told on
    // standard error in one line naming it, except while a caller that
    // tells such files itself (the kernel's start-up report, which also
    // says what took their place) has turned this off.
    static void SetTellRefusedFiles(bool tell);

    // Writes an image the dictionary built as the entry's file, under the
    // global lock and only when the file is still the one the image came
    // from; the dictionary's recorded changes are then forgotten. False
    // when another process saved since (nothing written: the caller keeps
    // its image, and the next flush merges) or the write failed.
    bool WriteEntryImage(t_dictEntry* entry, const void* data, int32_t size);
    // For a dictionary that writes its own file (the custom phrases): under
    // the global lock, takes up a file another process saved since the
    // attach (replaying the unsaved changes onto it), then runs write; when
    // that succeeded the file is noted and the changes forgotten. False when
    // the take-up or the write failed.
    bool SaveEntryWith(t_dictEntry* entry, const std::function<bool()>& write);
    // Starts a user file afresh: the file is taken away, the dictionary
    // attaches its default image (a seeded file its system copy), unsaved
    // changes are dropped, and the fresh image is written as the file, so
    // a later save or another process cannot bring the old data back. Only
    // for user files held as a memory copy and kept without backups (a
    // backup would be restored in place of the default). False with
    // "参数错误" for another entry, with "写文件失败" when the old file
    // cannot be taken away, the default cannot be attached or the fresh
    // file cannot be written: the file, the image and the unsaved changes
    // are then as they were.
    bool ResetEntry(t_dictEntry* entry);
    // An image built apart from the dictionary, without the kernel's locks
    // (an import), replacing a user file held in memory. MarkEntry, under
    // the kernel lock, takes up a file another process saved and notes the
    // file the image now comes from and the changes it holds; false when
    // the entry is not such a file or the take-up failed.
    struct t_entryMark {
        t_fileStamp base;
        t_dictStorageBase::t_changeMark changes;
    };
    bool MarkEntry(t_dictEntry* entry, t_entryMark& mark);
    // Any thread, no kernel lock: under the global lock, writes the bytes as
    // the entry's file when it is still the marked one. The file then counts
    // as another writer's: the next update check, flush or attach takes it
    // up (replaying only the changes made after the mark) instead of
    // writing the old image over it. 1 written, 0 saved by another writer
    // since the mark (nothing written), -1 the write failed.
    int WriteMarkedEntry(t_dictEntry* entry, const t_entryMark& mark, const void* data,
                         size_t size);
    // At a close (the dictionary or the manager going away with changes no
    // save took): the changes are written to a change file beside the
    // dictionary's file (unsaved_changes.h), which the next process to
    // attach it under the global lock takes in, and one line on standard
    // error names that file; when none can be written, the line says how
    // many changes are lost. The file carries the mark of the words the
    // changes were made on (t_dictEntry::replacementMark), so that none is
    // taken in after a removal or restore. Uses only the dictionary's base,
    // so that its destructor may call it.
    void KeepUnsavedChanges(t_dictEntry* entry);
    // Under the global lock, once the words of the entry `name` were
    // replaced wholesale (a removal, a restore) and the replacement
    // counted: its change files, and those set aside as damaged, are
    // removed, since every change they hold was made before, and the
    // changes this process makes from now on are marked as made on the new
    // words. One line tells how many files went, one each file that could
    // not be removed. False for an unknown name.
    bool WordsReplaced(const wchar_t* name);
    // While set (under the global lock), from a replacement's write of the
    // new words to its count, no change file is taken in: until counted,
    // the count cannot tell which files the replacement ends.
    void HoldChangeFiles(bool hold) { m_replacing = hold; }
    // The entry `name` follows `count` from now on (see
    // t_dictEntry::replacements). False for an unknown name.
    bool WatchReplacements(const wchar_t* name, const t_changeCount& count);
    // For every attached user file another writer replaced, raises the
    // version of the entry's block, so the update check that follows
    // re-attaches it (keeping the unsaved changes). Run by every update
    // check of the version manager.
    void NoticeChangedFiles();

    const wchar_t* GetLastError() const { return m_lastError.load(); }
    t_processLock& GetGlobalLocker() { return m_globalLock; }
    // Null when unknown. The entry stays valid while the manager lives.
    t_dictEntry* FindEntry(const wchar_t* name);
    bool IsPhase1Done() const { return m_phase1Done.load(); }
    bool IsPhase2Done() const { return m_phase2Done.load(); }

private:
    friend class t_dictSaveSnapshot;
    friend class t_managedShareMemory;
    static void LoaderThread1(t_thread* self);
    static void LoaderThread2(t_thread* self);
    void LoadPolicyEntries(t_thread* self, uint32_t policy, uint32_t delayMs);
    // False, with the last error, when the manager is not initialised or
    // argsOk is false (a missing argument).
    bool CallReady(bool argsOk = true);

    int CheckEntryFile(t_dictEntry* entry, const t_pathName& path, t_pathName& alt);
    int PrepareEntryFile(t_dictEntry* entry, const t_pathName& path, t_pathName& alt);
    bool AttachOnce(t_dictEntry* entry, const t_pathName& path);
    bool ReadIntoBlock(t_dictEntry* entry, const t_pathName& source);
    bool AttachStandalone(t_dictEntry* entry);
    // A fresh stand-alone entry for dict (replacing its previous one); null
    // when dict belongs to a registered entry. Under m_localLock.
    t_dictEntry* MakeStandalone(const wchar_t* name, t_dictStorageBase* dict);
    int FlushEntryImpl(t_dictEntry* entry);
    // A snapshot's copy of the entry, or the entry flushed in place (the
    // kFlush* result; kFlushDone when copied).
    int CopyEntry(t_dictEntry* entry, t_dictSaveSnapshot& snapshot);
    // The image a save of a shared entry copies (*state: PrepareImageCopy's).
    // False when there is none to copy: a kStorageMemCopy block shorter than
    // its reserved room, or a dictionary that cannot write from a copy.
    static bool ImageToSave(const t_dictEntry* entry, const void** image, int32_t* size,
                            uint32_t* state);
    // Writes a copy ImageToSave gave as the file at path, as a save does.
    static bool WriteImageCopy(uint32_t storageKind, const t_dictStorageBase* dict,
                               const std::vector<uint8_t>& image, const t_pathName& path);
    void WriteJob(t_dictSaveSnapshot::t_job& job);
    // image/size: what Export backs up for kBackupByDict.
    bool BackUpEntry(t_dictEntry* entry, const t_pathName& path, const void* image, int32_t size);
    // Forgets the changes a snapshot saved, once (under the global lock).
    static void ForgetSavedChanges(t_dictEntry* entry);
    // Entries whose file is merged with other processes' saves: the user
    // copies held in memory blocks.
    static bool SharesFile(const t_dictEntry* entry);
    // True when a file at path is there and is no longer the one recorded
    // for the entry. A file that vanished is no newer save: writing the
    // image back is right (a removal leaves an empty file, which counts).
    static bool FileReplaced(const t_dictEntry* entry, const t_pathName& path);
    static void NoteFile(t_dictEntry* entry, const t_pathName& path);
    // Under the global lock, at an attach: the entry's count of
    // replacements moved since the last (and the new value is noted).
    static bool ReplacedSinceLastAttach(t_dictEntry* entry);
    // Re-attaches the entry to the newest file (AttachEntry takes the global
    // lock) and replays the dictionary's unsaved changes onto it.
    bool RebaseEntry(t_dictEntry* entry);
    // Before a re-attach drops the image: a copy of the image a save would
    // write, when the file is no longer the one it came from.
    static void HoldImage(t_dictEntry* entry);
    // In place of a damaged file just taken away, on a re-attach: writes the
    // held image as the file (used once); its unsaved changes are then in
    // the file and forgotten. False when none is held, another process
    // replaced the words wholesale since the last attach (the image holds
    // words it removed), or the write failed.
    static bool WriteHeldImage(t_dictEntry* entry, const t_pathName& path);
    // MoveAside, then WriteHeldImage; one line tells both.
    static bool SetAsideDamaged(t_dictEntry* entry, const t_pathName& path, const char* why);
    // The dictionary lets go of the entry's image and the block goes.
    static void DropImage(t_dictEntry* entry);
    // Entries whose file the manager writes itself (a shared file, not one
    // the dictionary saves on its own): those whose changes a change file
    // may keep.
    static bool KeepsChangeFiles(const t_dictEntry* entry);
    // Writes a shared entry's image as its file; a kFlush* result.
    int WriteSharedFile(t_dictEntry* entry, const t_pathName& path);
    // Under the global lock, once an entry that keeps change files is
    // attached: the change files beside its file are replayed onto the
    // image in the order they were written and the file is written in the
    // same hold; only then are they removed, so that no two processes take
    // one in and no failure loses one. Each is first moved to a name of
    // this process: one that cannot be moved could not be removed either,
    // and is left untaken rather than taken in at every attach. A damaged
    // one is set aside as "<name>.damaged[.n]", unread; one made before
    // the words were replaced is removed unread; another user's, or one
    // this user may not read, is left where it is, told once.
    void TakeInUnsaved(t_dictEntry* entry, const t_pathName& path);

    void ReleaseEntry(t_dictEntry* entry);

    std::vector<t_dictEntry*> m_entries;     // guarded by m_localLock
    std::vector<t_dictEntry*> m_standalone;  // guarded by m_localLock
    std::mutex m_copySizesLock;
    std::vector<size_t> m_copySizes;  // of the last snapshot's copies
    std::wstring m_eventName;
    t_processLock m_globalLock;   // file work, shared by processes
    t_recursiveLock m_localLock;  // the registry
    std::atomic<const wchar_t*> m_lastError{nullptr};
    std::atomic<bool> m_phase1Done{false};  // written under m_localLock
    std::atomic<bool> m_phase2Done{false};
    t_thread m_loader1;
    t_thread m_loader2;
    bool m_takingIn = false;   // under the global lock
    bool m_replacing = false;  // under the global lock: see HoldChangeFiles
};
