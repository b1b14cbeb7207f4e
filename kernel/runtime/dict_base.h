// t_dictStorageBase: the base of every dictionary and its contract with the
// dictionary manager (image hand-over, safe writes, backups, change notice).
// The ready flag may be read from any thread; the rest runs on the thread of
// the kernel call or of a loader thread, under the manager's locks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

class t_pathName;
struct t_lstr;
struct t_dictEntry;

// Storage kinds of a registered dictionary: how its image is held.
enum : uint32_t {
    kStorageFileMap = 0,   // read-only mapping of the file
    kStorageMemCopy = 1,   // memory block holding a copy of the file
    kStorageBuilt = 2,     // block built by the dictionary from the file's bytes
    kStorageNoFile = 3,    // block built by the dictionary, no file
    kStorageReserved = 4,  // as kStorageMemCopy, plus reserved room after the image
    kStorageSource = 5,    // block built by the dictionary from a source file
    kStoragePrivate = 6,   // private buffer owned by the entry
};

// Directory kinds: where a dictionary's file lives.
enum : uint32_t {
    kDirUser = 0,
    kDirSystem = 1,        // read-only: never written, never removed
    kDirUserOrSystem = 2,  // user copy, else the system copy read in place
    kDirUserSeeded = 3,    // user copy, seeded from the system directory
    kDirSmartInfo = 4,     // the smart-info directory given at start-up
};

// Backup flags of a registration.
enum : uint32_t {
    kBackupDaily = 0x1,     // back up when the newest backup is >= 1 day old
    kBackupWeekly = 0x2,    // ... >= 7 days old
    kBackupByDict = 0x100,  // backups are written and read by Export / Import
};

// One recorded change of a user store: an operation code and its fields in
// a flat byte record. The reader checks every length against the record, so
// a damaged record reads as failure, never past its end.
class t_changeRecord {
public:
    explicit t_changeRecord(uint8_t op) { m_bytes.push_back(op); }
    t_changeRecord& Put16(uint16_t v) { return Put(&v, 2); }
    t_changeRecord& Put32(uint32_t v) { return Put(&v, 4); }
    // The whole string, count included; a null string is stored empty.
    t_changeRecord& PutLstr(const t_lstr* s);
    // A wide string up to its terminator (null stored empty).
    t_changeRecord& PutText(const wchar_t* s);
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    t_changeRecord& Put(const void* data, size_t n);
    std::vector<uint8_t> m_bytes;
};

class t_changeReader {
public:
    t_changeReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t Op() const { return m_size ? m_data[0] : 0; }
    bool Get16(uint16_t* v) { return Get(v, 2); }
    bool Get32(uint32_t* v) { return Get(v, 4); }
    // Points into the record; false when the string would pass its end.
    bool GetLstr(const t_lstr** s);
    // Copies a wide string written by PutText.
    bool GetText(std::vector<wchar_t>& out);

private:
    bool Get(void* out, size_t n);
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 1;
};

class t_dictStorageBase {
public:
    t_dictStorageBase() = default;
    // Unlinks this dictionary from its manager entry (freeing the private
    // buffer of a storage-kind-6 entry), so neither side is left pointing
    // at a destroyed object. Changes no save took are first handed to the
    // manager (t_dictManager::KeepUnsavedChanges).
    virtual ~t_dictStorageBase();
    t_dictStorageBase(const t_dictStorageBase&) = delete;
    t_dictStorageBase& operator=(const t_dictStorageBase&) = delete;

    // Operations the manager calls. Sizes are in bytes; the base versions of
    // all but Load do nothing and return 0.
    //
    // After every successful attach; the result becomes the ready flag. For
    // kStorageReserved `size` includes the reserved room after the image.
    virtual bool Load(void* data, int32_t size) = 0;
    // The block had to be built: (file bytes, size) for kStorageBuilt, or
    // (null, 0) when no file exists. Builds an image and commits it with
    // CommitImage; true when the image was committed.
    virtual bool Save(const void* data, int32_t size);
    // Flushing an entry of kStorageBuilt or kStorageSource.
    virtual bool OnFlush(void* data, int32_t size);
    // Restoring from a backup when the backup flags hold kBackupByDict: the
    // dictionary checks the bytes and writes its file itself (WriteFile);
    // true only when the file was written.
    virtual bool Import(const void* data, int32_t size);
    // Backing up when the backup flags hold kBackupByDict: the dictionary
    // writes its own backup (normally with Backup); true only when the
    // backup was written completely.
    virtual bool Export(const void* data, int32_t size);
    // Attaching an entry of kStorageSource: parse the source file and commit
    // an image with CommitImage.
    virtual bool LoadFromFile(const wchar_t* path);
    // What was wrong with the text file the last LoadFromFile parsed, for
    // the start-up report to tell in one line with the file's name (the
    // reader itself prints nothing); empty when nothing was.
    virtual std::wstring LoadNote() const { return std::wstring(); }
    // kStorageMemCopy: the manager has written the image to `path` (the
    // block's, or GetLiveImage's when it gives one); the result is not used.
    // kStorageReserved: the dictionary writes its own file here, and must
    // return true only when it was written.
    virtual bool OnFileWritten(const wchar_t* path);
    // kStorageReserved: bytes of room kept after the image in the block.
    // `data` is the image about to be placed (never null).
    virtual uint32_t GetReservedSize(const void* data, int32_t size);

    bool IsReady() const { return m_ready.load(std::memory_order_acquire); }
    void SetReady(bool ready) { m_ready.store(ready, std::memory_order_release); }

    // Changes since the file last took them. A user store records each of
    // its changes while it belongs to a registered entry; the manager
    // replays them onto every image it attaches (so a re-attach to a file
    // another process saved keeps them) and forgets them once a save wrote
    // them. Replaying an operation rather than merging two images keeps a
    // deletion deleted and adds counts.
    bool HasUnsavedChanges() const { return !m_changes.empty(); }
    // Applies every recorded change to the attached image, in order; a
    // change the image refuses is dropped. False when one was refused.
    bool ReplayChanges();
    void ForgetChanges() {
        m_changes.clear();
        ++m_changeEpoch;
    }
    // Hands the recorded changes over (the store keeps none), and takes such
    // a list back; a reset sets them aside and restores them when it fails.
    std::vector<uint8_t> TakeChanges() {
        ++m_changeEpoch;
        return std::exchange(m_changes, {});
    }
    void RestoreChanges(std::vector<uint8_t> changes) {
        m_changes = std::move(changes);
        ++m_changeEpoch;
    }
    // Applies a change list another process recorded (as TakeChanges hands
    // it out) to the attached image; each change the image takes becomes
    // one of this store's own, for the next save to write. Returns how many
    // were taken; *refused (may be null) counts those the image refused.
    size_t AdoptChanges(const std::vector<uint8_t>& changes, size_t* refused);
    // The changes recorded so far, for a save that writes a copy of the
    // image and forgets them only once the copy is the file: changes made
    // meanwhile stay. A mark goes stale once the list was forgotten, taken
    // or replayed since.
    struct t_changeMark {
        uint64_t epoch = 0;
        size_t bytes = 0;
    };
    t_changeMark MarkChanges() const { return {m_changeEpoch, m_changes.size()}; }
    // Forgets the changes up to the mark; a stale mark forgets nothing.
    void ForgetChangesUpTo(const t_changeMark& mark);

    // Saving from a copy of the image (kStorageReserved), so that the write
    // runs without the kernel's locks. Under the manager's locks as the copy
    // is taken: false when this dictionary cannot write from a copy (it is
    // then saved the usual way); *state is handed to OnImageCopyWritten.
    // The copy is of GetLiveImage's image; without one, the usual save runs.
    virtual bool PrepareImageCopy(uint32_t* state) const;
    // Any thread, no kernel lock: writes the file at path from the copy
    // (as OnFileWritten would from the image), touching nothing of the live
    // dictionary. True only when the file was written.
    virtual bool WriteImageCopy(const void* image, int32_t size, const wchar_t* path) const;
    // Under the manager's locks once the copy is the file.
    virtual void OnImageCopyWritten(uint32_t state);
    // The image a save (whole or from a copy), a backup, or a failed reset's
    // way back is taken from, for a dictionary whose edits can go to a buffer
    // of its own rather than the manager's block (a grown table); false, with
    // the arguments untouched, when the block holds it.
    virtual bool GetLiveImage(const void** image, int32_t* size) const;

    // Manager only.
    void SetEntry(t_dictEntry* entry) { m_entry = entry; }
    t_dictEntry* GetEntry() const { return m_entry; }
    // The entry's storage kind; -1 when not registered.
    int GetStorageKind() const;

    // Places an image in the entry's memory block (reserved room after it
    // for kStorageReserved, zeroed). False without entry or data, when the
    // block cannot be made, or when the entry already holds a block too
    // small for it (the held block is then left untouched).
    bool CommitImage(const void* data, int32_t size);
    // Raises the version of the entry's block; false without entry.
    bool IncreaseVersion();
    // The version this process last saw for the entry's block; -1 when none.
    int GetLocalVersion() const;
    // Copies the entry's file path, terminated. False when capacity is 0,
    // without entry or path, or when the path does not fit (the buffer then
    // holds an empty string).
    bool GetFilePath(wchar_t* buffer, size_t capacity) const;

    // Stores a new image. kStoragePrivate: the private buffer is replaced by
    // a copy and Load decides the ready flag; true. Other kinds: the image
    // replaces the file (never in the system directory) through a synced
    // temporary renamed over it; only when that succeeded is the version
    // raised and every changed block re-attached. False without entry or
    // data, or when the write failed: the old file and the attached image
    // then stay as they were.
    bool SaveAndNotify(const void* data, int32_t size);
    // Replaces the entry's file with the bytes (temporary, sync, rename,
    // directory sync). False without entry or data, for a system-directory
    // entry, or when any step failed (the old file is then untouched).
    bool WriteFile(const void* data, int32_t size);
    // WriteFile, then OnFileWritten (path) when the write succeeded. The
    // result is the write's.
    bool WriteFileAndNotify(const void* data, int32_t size);
    // Writes the bytes as "<user dir>/Backup/<file>.<YYYYMMDDhhmmss>" (local
    // time), safely as WriteFile; a backup of the same second is replaced
    // whole. False without entry or data or when the write failed.
    bool Backup(const void* data, int32_t size);

protected:
    // True while changes are to be recorded: the store belongs to a
    // registered entry with a file and is not replaying.
    bool IsRecordingChanges() const;
    void RecordChange(const t_changeRecord& record);
    // Applies one recorded change to the attached image; the base refuses.
    virtual bool ApplyChange(t_changeReader& change);

private:
    // Applies each record of `changes` to the attached image as a replay;
    // those it takes are appended to `kept` (never `changes` itself). How
    // many were taken; *refused: how many not (a record cut short counts).
    size_t ApplyRecords(const std::vector<uint8_t>& changes, std::vector<uint8_t>& kept,
                        size_t* refused);

    std::atomic<bool> m_ready{false};
    t_dictEntry* m_entry = nullptr;  // owned by the manager
    // Records one after another, each as a u32 byte count and its bytes.
    std::vector<uint8_t> m_changes;
    uint64_t m_changeEpoch = 0;  // raised whenever the list is cut or replaced
    bool m_replaying = false;
};

// Writes `size` bytes to `fd`; true only when all were written. The
// dictionary layer sends every byte of every image, copy and backup through
// the function set here, so tests can simulate a full disk. Null restores
// the plain write loop.
using t_dictWriteFn = bool (*)(int fd, const void* data, size_t size);
void SetDictWriteFunction(t_dictWriteFn fn);
// Clock of backup stamps and ages (seconds since the Unix epoch); null
// restores time(). For tests.
using t_dictClockFn = time_t (*)();
void SetDictClockFunction(t_dictClockFn fn);
time_t DictNow();

// Replaces `target` with `size` bytes of `data`: a temporary beside it is
// written, synced and renamed over it, then the directory is synced. On
// failure the target is untouched and no temporary is left. Size 0 is
// allowed (an empty file).
bool DictWriteFileSafely(const t_pathName& target, const void* data, size_t size);
// "YYYYMMDDhhmmss" of a time in local time; false when it cannot be
// converted. `out` holds at least 15 characters.
bool FormatDictStamp(time_t when, wchar_t out[15]);
