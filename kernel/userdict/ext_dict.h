// t_usrDictExtCore: the user extension dictionary, words imported from
// word-list text files and tagged with the kinds of source they came from,
// offered beside the user dictionary. A read-only table image; new words
// are written as a separate image and merged into the file. One thread at a
// time (the kernel's dictionary lock); lookups answer 0 / -1 until attached.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"
#include "kernel/storage/table_builder.h"
#include "kernel/storage/table_file.h"
#include "kernel/userdict/usr_text_io.h"

inline constexpr const wchar_t* kUsrDictExtFileName = L"qzim_usr_v3_ext.bin";
inline constexpr uint32_t kUsrDictExtVersion = 20141201;
inline constexpr int32_t kUsrDictExtBuckets = 500;
// Fields of an item: reading (the key), word text, frequency, flags, stamp,
// checksum, extra count, reserved.
inline constexpr size_t kUsrDictExtFields = 8;
enum : int { kExtFieldFreq = 2, kExtFieldFlags = 3 };
// Source-kind flag bits of imported words.
inline constexpr uint16_t kExtSourceFlagsMask = 0x0FC0;

class t_usrDictExtCore : public t_dictStorageBase {
public:
    t_usrDictExtCore();
    ~t_usrDictExtCore() override;

    // Attaches the image in place (it must outlive the attachment). False,
    // not ready, for an image of another version or layout.
    bool Load(void* data, int32_t size) override;

    // The reading's group index (its key row's byte offset in the key table),
    // or -1. *hasLonger (may be null) = 1 when the row at the reading's place
    // (its insertion place when absent) or the next one holds a longer
    // reading that starts with it. Only the bucket's used rows are read.
    int32_t Find(const t_lstr* reading, int* hasLonger) const;
    // The groups and keys of the rows after the reading's own row (or its
    // insertion place) whose readings are longer and start with it, up to
    // max. False when not ready or the reading has no bucket.
    bool FindAll(const t_lstr* reading, int32_t* ids, const t_lstr** keys, int max,
                 int* count) const;
    // Copies up to max rows of a group's chain into the parallel arrays (any
    // may be null). Returns the number copied; 0 for a bad group.
    int GetEntries(int32_t group, uint32_t* textIds, uint16_t* flags, uint16_t* freqs,
                   uint32_t* stamps, int max) const;
    // Copies the word text stored at textId (u16 byte count and units) into
    // out, which holds `capacity` bytes. False, out untouched, when not
    // ready, the text is missing or empty, or it does not fit.
    bool GetString(uint32_t textId, t_lstr* out, uint32_t capacity) const;
    // True with *textId when the word is stored under the reading.
    bool FindWordId(const t_lstr* reading, const t_lstr* word, uint32_t* textId) const;
    // *n = the number of words; true when there is at least one.
    bool GetCount(int32_t* n) const;

    // The table layout of the image, shared with its writers.
    static void Describe(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
                         std::vector<uint32_t>& datas);
    // Sets up a builder for the image; false when the layout is refused.
    static bool InitBuilder(t_tableFileBuilder& builder);

private:
    bool Ready() const;
    const uint8_t* GroupRow(int32_t group) const;
    // Calls fn(attriRow) for each row of a group's chain, at most the table's
    // row count of steps; fn returns false to stop.
    template <class Fn>
    void WalkChain(const uint8_t* keyRow, Fn fn) const;

    t_tableFile m_table;
    uint32_t m_off[kUsrDictExtFields] = {};  // attri-row offsets of fields 1..7
    uint32_t m_keyLink = 0;
    uint32_t m_attriLink = 0;
};

// The merge rule of the extension file: for a word present in both images,
// the stored item is kept with the incoming source flags ORed into its own.
// Items of another field count keep the stored item (0).
int ExtMergeRecord(int32_t keyTable, const std::vector<uint8_t*>& incoming,
                   const std::vector<const uint8_t*>& stored);

// Merges the extension image at newPath into the one at path: the result is
// built in path + ".merge" and renamed over path. 1 on success; 0 when a file
// cannot be read, an image is refused or the result cannot be written, with
// the file at path left as it was and no work file left behind.
int MergeExtFiles(const wchar_t* path, const wchar_t* newPath);

// Writes an extension image holding the records (those cut short are left
// out) to path, through a temporary file. 1 / 0 (path untouched).
int WriteExtImage(const wchar_t* path, const t_usrWordRecords& records);

// Adds the records to the extension file at path: written straight there
// when there is no file yet, else written to path + ".temp" and merged in
// with MergeExtFiles. 1 / 0; on failure the existing file is left as it
// was and no work file stays behind.
int MergeUsrDictExtFile(const wchar_t* path, const t_usrWordRecords& records);
