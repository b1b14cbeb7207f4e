// t_usrDictV3Core: the dictionary of words the user has committed, filed
// under their readings (PinyinId strings) in an editable table file with a
// 76-byte header of counters, and t_usrWeightCurve, which turns a word's
// frequency and age into its weight. One thread at a time per dictionary:
// callers hold the kernel dictionary lock around every operation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"
#include "kernel/storage/editable_table.h"

class t_scopeHeap;

// The user dictionary's file and image format.
inline constexpr const wchar_t* kUsrDictFileName = L"qzim_usr_v3new.bin";
inline constexpr uint32_t kUsrDictVersion = 20141107;
inline constexpr int32_t kUsrHeaderBytes = 76;
inline constexpr int32_t kUsrBucketCount = 500;
inline constexpr uint32_t kUsrDefaultCapacity = 10000;
inline constexpr uint32_t kUsrMaxCapacity = 320000;
// The largest file a user dictionary can be, in any of its formats: at most
// kUsrMaxCapacity words, whose table at that capacity takes 16 MB before
// its texts, plus a reading and a word of at most 130 bytes each per word,
// under 100 MB in all (the older formats hold the same words in fewer
// bytes). A larger file is refused before it is read.
inline constexpr uint64_t kUsrDictFileMaxBytes = 128ull << 20;
inline constexpr int32_t kUsrChangeLogRecords = 50;
// Bytes of each data table (readings, word texts) per word of capacity.
inline constexpr uint32_t kUsrDataBytesPerWord = 10;
// The point where the largest dictionary starts trimming: the add that
// makes this many words trims.
inline constexpr uint32_t kUsrTrimPoint = kUsrMaxCapacity * 9 / 10;
// An import stops taking new words this many words below that point, so
// that learning goes on for a while before the first trim.
inline constexpr uint32_t kUsrImportMargin = kUsrMaxCapacity / 20;
// A restore keeps words up to one short of that point.
inline constexpr uint32_t kUsrRestoreMargin = 1;
// The largest dictionary a rebuild writes (a file of the previous release
// held more words than the largest capacity).
inline constexpr uint32_t kUsrRebuildCapacity = kUsrMaxCapacity * 2;
// A file holding more than a rebuild writes (crafted or damaged) keeps this
// many of its most used words as it is attached: what learning's trim leaves
// of the largest dictionary (it runs at the trim point and takes a tenth or
// more). The words then fit that dictionary below its trim point, so a word
// learned in one session is not trimmed by the next session's first word.
inline constexpr uint32_t kUsrOversizeKeep = kUsrTrimPoint - kUsrTrimPoint / 10;
// The usage clock stops here instead of wrapping to 0 (which would make
// every word look brand new or infinitely old).
inline constexpr uint32_t kUsrClockMax = 0xFFFFFF00u;
// Stamp of a word without age.
inline constexpr uint32_t kUsrNoAge = 2;

// Header words (u32 each) of the 76-byte header.
enum : int {
    kUsrHdrBuckets = 2,   // 500 at creation
    kUsrHdrKeys = 3,      // readings
    kUsrHdrWords = 4,     // attribute rows, deleted ones included
    kUsrHdrSize = 5,      // 76 at creation
    kUsrHdrClock = 9,     // usage clock, starts at 2
    kUsrHdrTotal = 10,    // sum of the frequencies
    kUsrHdrChanges = 11,  // changes since the last reorganisation or save check
    kUsrHdrParam1 = 14,   // scrambling parameters, drawn at creation
    kUsrHdrParam2 = 15,
    kUsrHdrWordCount = 19,
};

// Set on a word learned from two commits in a row (dropped when the word is
// learned whole).
inline constexpr uint16_t kUsrFlagJoined = 0x04;
// Flag bits that hide a word from GetWords.
inline constexpr uint16_t kUsrFlagHidden = 0x10;
inline constexpr uint16_t kUsrFlagNoAge = 0x20;

// One word's attribute row, as copied out.
struct t_usrWordAttr {
    uint32_t textId = 0;  // offset of the scrambled text in data table 1
    uint16_t freq = 0;    // 0: deleted
    uint16_t flags = 0;
    uint32_t stamp = 0;     // usage clock at the last use; 2: no age
    uint16_t checksum = 0;  // sum of the plain text's units: the scrambling key
    uint16_t extra = 0;     // secondary count
    uint16_t reserved = 0;
};

// The weight of a word from its frequency and age on the usage clock.
struct t_usrWeightCurve {
    uint32_t now = 1;
    uint32_t average = 1;
    uint32_t top = 1;
    uint32_t span = 1;
    double base = 0.25;
    double oneMinusBase = 0.75;
    uint8_t boost = 0;
    int32_t age = 0;
    double factor = 0;
    uint32_t target = 0;
    uint32_t lastWeight = 0;
    double ageLimit = 8192.0;
    double baseAgain = 0.25;
    double ellipse = 65028096.0;  // 8064 squared
    double halfRest = 0.375;      // 0.5 - 0.5 x base

    void Init(uint32_t now, uint32_t average, uint32_t top, uint32_t k);
    // Sets factor and target for the current age.
    void Prepare();
    // f + trunc((target - f) x factor); kept in lastWeight.
    uint32_t Eval(uint32_t f);
    void RaiseTop(uint32_t f);
};

// A record of CollectWordContinuations: the rest of a word after a prefix.
struct t_usrContinuation {
    uint8_t rest[10] = {};  // t_lstr of at most 8 bytes of units
    uint16_t weight = 0;
    uint8_t marker = 0;  // 0x40, or 0x80 for a word with flag 0x04
    uint8_t zero = 0;
};

class t_usrDictV3Core : public t_dictStorageBase {
public:
    t_usrDictV3Core();
    ~t_usrDictV3Core() override;

    // ---- the dictionary manager's operations ----
    // Attaches (and validates) the image; false leaves the dictionary not loaded.
    bool Load(void* data, int32_t size) override;
    // Commits a fresh empty image of capacity 10000; true when committed.
    bool Save(const void* data, int32_t size) override;
    // Expands a compact backup, validates it and writes it as the file.
    bool Import(const void* data, int32_t size) override;
    // Writes a compact copy of the image as a dated backup.
    bool Export(const void* data, int32_t size) override;
    // Saves the dictionary to path (rebuilt) and raises its version.
    bool OnFileWritten(const wchar_t* path) override;
    // The same save from a copy of the image: the copy is rebuilt into the
    // file on any thread; afterwards the live dictionary drops its in-place
    // state, keeps the changes counted since the copy, and raises its version.
    bool PrepareImageCopy(uint32_t* state) const override;
    bool WriteImageCopy(const void* image, int32_t size, const wchar_t* path) const override;
    void OnImageCopyWritten(uint32_t state) override;
    // The attached image: after a growth it is no longer the manager's block.
    bool GetLiveImage(const void** image, int32_t* size) const override;
    // No room is kept after the image: the change log lives in the dictionary.
    uint32_t GetReservedSize(const void* data, int32_t size) override;
    // Replays one recorded learn, delete, merge, restore or count change.
    bool ApplyChange(t_changeReader& change) override;

    // ---- images owned by the dictionary (file operations, tests) ----
    // A fresh empty image of `capacity` words with new scrambling parameters.
    // False (nothing changed) when no random source or memory is available.
    bool CreateEmpty(uint32_t capacity);
    // Reads the whole file and attaches a copy. False, not loaded, for a
    // missing or unreadable file or a refused image.
    bool AttachFile(const wchar_t* path);
    // Attaches a copy of `size` bytes; false (not loaded) when refused.
    bool AttachCopy(const void* data, uint64_t size);
    // The attached image (plain image, extra size, header); false when not loaded.
    bool GetImageBytes(const uint8_t** data, uint64_t* size) const;

    // ---- reading ----
    bool IsLoaded() const { return m_loaded; }
    // How many images the dictionary has attached so far: what was read of
    // its words holds only while this stays (an import, restore, removal or
    // another process's change attaches a new one).
    uint64_t GetAttachCount() const { return m_attachCount; }
    // The 76 header bytes (19 little-endian u32, maybe unaligned) or null.
    const uint8_t* GetHeader() const;
    // Header word i (0..18); 0 when not loaded or out of range.
    uint32_t GetHeaderWord(int i) const;
    int32_t GetWordCount() const;
    int32_t GetTotalFreq() const;
    int32_t GetAverageFreq() const;
    // The reading's group index (its key row's byte offset in the key table)
    // or -1. *hasLonger (may be null) = 1 when the row at the reading's place,
    // or the next one, holds a longer reading that starts with it. Rows past
    // the bucket's used rows are never read.
    int32_t Find(const t_lstr* reading, int* hasLonger) const;
    // Prefix search: the groups and keys of the rows after the reading's own
    // row (or its insertion place) whose readings are longer and start with
    // it, up to max. False when not loaded or the reading has no bucket.
    bool FindAll(const t_lstr* reading, int32_t* ids, const t_lstr** keys, int max,
                 int* count) const;
    // The reading stored at offset `textId` of data table 0, or null.
    const t_lstr* GetKeyText(uint32_t textId) const;
    // Copies the stored text (1..129 bytes) into out (at least 131 bytes)
    // and unscrambles it. False, out untouched, otherwise.
    bool GetWordText(uint32_t textId, uint32_t checksum, t_lstr* out) const;
    // True when the word is stored under the reading (deleted ones too);
    // *attr (may be null) receives its row.
    bool GetWordRecord(const t_lstr* reading, const t_lstr* word, t_usrWordAttr* attr) const;
    // Copies up to max rows of a group's chain into the parallel arrays
    // (any may be null). Returns the number copied; 0 for a bad group.
    int GetEntries(int32_t group, uint32_t* textIds, uint16_t* flags, uint16_t* checksums,
                   uint16_t* freqs, uint32_t* stamps, uint16_t* extras, int max) const;
    // Every (key row, attribute row) pair, bucket by bucket.
    bool CollectItems(std::vector<std::pair<const uint8_t*, const uint8_t*>>& pairs) const;
    // Reading and row of a collected pair; false for a damaged pair.
    bool ReadPair(const std::pair<const uint8_t*, const uint8_t*>& pair, const t_lstr** reading,
                  t_usrWordAttr* attr) const;

    // ---- learning ----
    // Results: 0 failure (nothing changed), 1 done, 2 the tables were doubled,
    // 3 the store was trimmed. Every one refuses, before changing anything,
    // a reading failing IsValidPyIdString or a word failing IsValidWordString.
    int LearnWord(const t_lstr* reading, const t_lstr* word, uint16_t flags);
    int UpdateWordFlags(const t_lstr* reading, const t_lstr* word, uint16_t flags) {
        return LearnWord(reading, word, flags);
    }
    // Frequency 0 and stamp 2; 1 also when the word is absent, 0 on failure.
    int DeleteWord(const t_lstr* reading, const t_lstr* word);
    // Keeps the larger frequency and stamp. Stamps are clamped below the
    // clock's end, so the clock saturates instead of wrapping.
    int MergeWord(const t_lstr* reading, const t_lstr* word, uint16_t freq, uint16_t flags,
                  uint32_t stamp);
    // Carries a word with all its fields into this dictionary.
    int RestoreWord(const t_lstr* reading, const t_lstr* word, uint16_t freq, uint16_t flags,
                    uint32_t stamp, uint16_t extra);
    // Raises a word's secondary count by `by`, capped at 65535; false when absent.
    bool AddExtraCount(const t_lstr* reading, const t_lstr* word, uint16_t by);
    // As MergeWord, but freq is added to the stored frequency (capped at
    // 65535) and the flags are replaced. Results as LearnWord.
    int AddWordFreq(const t_lstr* reading, const t_lstr* word, uint16_t freq, uint16_t flags,
                    uint32_t stamp);
    // As MergeWord for a word of another dictionary whose clock stood at
    // otherNow: its age is kept, so the stamp becomes now - (otherNow -
    // stamp), at least 2 (2 for flag 0x20).
    int MergeWordRebased(const t_lstr* reading, const t_lstr* word, uint16_t freq, uint16_t flags,
                         uint32_t stamp, uint32_t otherNow);

    // ---- imports ----
    // While on, no trim removes a stored word: an import never trades the
    // words held for incoming ones.
    void SetNoEviction(bool on) { m_noEviction = on; }
    // True when the word is stored, or when adding it keeps the dictionary
    // `margin` words (and their bytes) below kUsrTrimPoint. Readings and
    // words the dictionary would refuse get true: refusing them is the
    // merge's.
    bool HasImportRoom(const t_lstr* reading, const t_lstr* word,
                       uint32_t margin = kUsrImportMargin) const;
    // While held, no add trims the store (a copy keeps every word; an add
    // is refused only when no row or byte is left). Learning, which trims
    // as designed, runs with the trims released.
    void HoldTrims(bool held) { m_store.HoldTrims(held); }

    // ---- weighted lookup ----
    void SetupWeightCurve(uint32_t k);
    // Rows of a group with non-zero frequency and without flag 0x10 or 0x20;
    // optional arrays may be null. Returns the number written.
    int GetWords(int mode, int32_t group, uint32_t* textIds, uint16_t* flags, uint16_t* checksums,
                 uint16_t* freqs, uint32_t* stamps, uint32_t* weights, uint16_t* extras, int max);
    const t_usrWeightCurve& GetWeightCurve() const { return m_curve; }
    // True when part1 + part2 (at most 10 bytes) is exactly one word of the
    // reading and no other word extends part1; writes its group, flags and
    // secondary count.
    bool FindUsrDictWordForAssoc(const t_lstr* reading, const t_lstr* part1, const t_lstr* part2,
                                 int32_t* group, uint16_t* flags, uint16_t* extra);
    // Appends the rests of the words of reading1 + reading2 that start with
    // prefix; true when one was added.
    bool CollectWordContinuations(const t_lstr* reading1, const t_lstr* prefix,
                                  const t_lstr* reading2, std::vector<t_usrContinuation>& out);

    // ---- saving and reorganisation ----
    // Writes the dictionary to path. With force 0, and when nothing moved
    // since the file was attached, only the changed parts are patched in
    // (through a temporary copy). Otherwise a clean image is rebuilt. Either
    // way the file is replaced by one rename of a synced temporary file made
    // beside it, then the directory is synced: a failure at any step leaves
    // the old file whole. The change log is restarted on success.
    bool SaveToFile(const wchar_t* path, int force);
    // A clean, compacted image of every valid word with non-zero frequency:
    // a copy, which never trims. Its capacity is the smallest of the usual
    // sizes that holds every word, larger than kUsrMaxCapacity only for more
    // words than that holds. False when not loaded or a word cannot be
    // carried over.
    bool RebuildImage(std::vector<uint8_t>& out) const;
    // The rebuilt image written to path (temporary beside it, synced,
    // renamed); false with path untouched on failure.
    bool RebuildToFile(const wchar_t* path) const;
    // Writes an empty dictionary of `capacity` words to path, safely as
    // above; false with path untouched on failure.
    static bool CreateEmptyFile(const wchar_t* path, uint32_t capacity);
    // Validation of the attached image (as Load does); soft-deletes rows
    // with an unacceptable text, and when the words are more than a rebuild
    // writes, all but the kUsrOversizeKeep most used (then most recent),
    // telling how many went. False when the image must be refused.
    bool Validate();
    bool IsNearlyFull() const;
    int HandleFull();
    // Trims the words to `limit`; header counts follow. False on failure.
    bool TrimToLimit(int32_t limit);
    // 1 (and the change count cleared) when a save is due.
    int TakeSaveDue();
    void ClearFixedCapacityState();
    const char* GetLastError() const { return m_lastError; }
    // Trims the words by the store's ranking (rows of frequency 2 or less
    // go first); header counts follow. False, nothing trimmed, on failure.
    bool TrimAll();
    // Forwards to the store: region bytes for `capacity` change records
    // (-1 when not loaded), and the change log's state (false when off).
    int64_t GetFixedStateSize(int32_t capacity) const;
    bool GetFixedCapacityState(t_fixedState* out) const;

    // ---- compact images ----
    // Expands and attaches a compact image, validated as Load does. With a
    // region (the caller's; it must outlive the attachment), changes are
    // logged into it (50 records; GetFixedStateSize gives its size). False,
    // not loaded, for a refused image or a region that is too small.
    bool LoadCompact(const void* image, uint64_t size, uint8_t* region, uint64_t regionSize);
    // Writes the compact image to path + ".temp" (synced), renames that over
    // path and syncs the directory. False on failure, with path as it was and
    // no ".temp" left behind.
    bool SaveCompactTemp(const wchar_t* path) const;

private:
    struct t_wordLoc;
    static uint8_t* OnGrown(const t_grownImage& img, void* context);
    static bool RankLess(const uint8_t* a, const uint8_t* b);
    static int RemoveRow(uint8_t* row, uint8_t* extra, void* context, int index);
    static int EvictRow(uint8_t* row, uint8_t* extra, void* context, int index);
    static int RowState(const uint8_t* row, void* context);
    static int AllocCompact(uint8_t** buffer, uint32_t size, void* context);

    // Codes of the recorded changes.
    enum : uint8_t {
        kUsrChangeLearn = 1,
        kUsrChangeDelete = 2,
        kUsrChangeMerge = 3,
        kUsrChangeRestore = 4,
        kUsrChangeExtra = 5,
    };
    int DeleteWordHere(const t_lstr* reading, const t_lstr* word);
    // The live rows of pairs beyond `keep` words (the most used, then the
    // most recent, kept while their rows and bytes fit) when the live words
    // are more than a dictionary of `fit` words holds; none otherwise.
    std::vector<const uint8_t*> RowsBeyond(
        const std::vector<std::pair<const uint8_t*, const uint8_t*>>& pairs, uint64_t fit,
        uint64_t keep) const;
    // Soft-deletes an attached row (written past the change log).
    void HideRow(uint8_t* row);
    bool AttachImage(uint8_t* data, uint64_t size);
    bool FinishAttach();
    int MergeWithRule(const t_lstr* reading, const t_lstr* word, uint16_t freq, uint16_t flags,
                      uint32_t stamp, bool add);
    bool CheckLayout();
    void SetWord(int i, uint32_t v);
    uint32_t Word(int i) const;
    bool LocateWord(const t_lstr* reading, const t_lstr* word, t_wordLoc* loc) const;
    // LocateWord for a change: false as well when not loaded or the reading
    // or the word could never be stored.
    bool LocateChange(const t_lstr* reading, const t_lstr* word, t_wordLoc* loc) const;
    bool WriteAttr(const t_wordLoc& loc, const t_usrWordAttr& a);
    bool ReadAttr(const uint8_t* row, t_usrWordAttr* a) const;
    const uint8_t* GroupRow(int32_t group) const;
    int WalkChain(const uint8_t* keyRow, std::vector<const uint8_t*>& rows, int max) const;
    int AddNewWord(const t_lstr* reading, const t_lstr* word, const t_usrWordAttr& a, bool newKey);
    // AddNewWord for the word loc did not find, counting it, its frequency
    // and (when new) its key in the header; a clock other than 0 becomes the
    // header's clock and countChange counts a change. The header is put back
    // when nothing was added (0).
    int AddLocatedWord(const t_lstr* reading, const t_wordLoc& loc, const t_usrWordAttr& a,
                       uint32_t clock, bool countChange);
    // Restarts the change log once the store is full.
    void RestartLogIfFull();
    int AfterChange(int result);
    void SaveIfFull();
    bool FixedOn() const;  // the store logs changes
    bool Refuse(const char* why);

    t_editableTableFile m_store;
    t_usrWeightCurve m_curve;
    bool m_loaded = false;
    uint64_t m_attachCount = 0;
    const char* m_lastError = nullptr;
    std::unique_ptr<uint8_t[]> m_own;      // the image when the dictionary holds it
    std::unique_ptr<uint8_t[]> m_retired;  // the previous one, freed at the next change of image
    std::vector<uint8_t> m_region;         // the change log of in-place saves
    bool m_inPlaceOk = false;              // m_basePath + the change log = the attached image
    std::wstring m_basePath;               // the file the attached image equals
    bool m_unloggedChange = false;         // validation changed rows of the attached image
    std::wstring m_sourcePath;             // the file AttachFile read; saved to when the log fills
    bool m_noEviction = false;             // SetNoEviction
    int64_t m_addingRow = -1;              // byte offset of the attri row an add is placing
};

// A reading's place in a user dictionary, with a value of the caller's.
struct UsrWordCursor {
    const t_lstr* reading = nullptr;
    int32_t group = -1;  // from Find; -1 when the reading is absent
    intptr_t value = 0;
    // Sets the cursor on reading; returns 1 when longer readings start with
    // it (Find's flag), else 0.
    int Init(const t_usrDictV3Core& dict, const t_lstr* reading, intptr_t callerValue);
};

// Capacity of a rebuilt image: 10000 for fewer than 10000 words (or a limit
// of at most 10000); else 10000 doubled until it exceeds count, stopping at
// the first value not below limit.
uint32_t ComputeCapacity(uint32_t count, uint32_t limit);
