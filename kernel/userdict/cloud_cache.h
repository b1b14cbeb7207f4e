// t_cloudCacheDict: answers of the cloud-candidate service kept in memory,
// keyed by the syllables of the input, so later input can offer them
// without a new request; t_cloudCacheDictLongWord holds long-word answers
// under a registration of its own. Nothing is written to disk.
// One thread at a time: used from the kernel's thread under the callers' locking.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/lstr.h"
#include "kernel/userdict/phrase_dict_store.h"

inline constexpr const wchar_t* kCloudCacheDictName = L"CloudCachecDict";
inline constexpr const wchar_t* kCloudCacheLongWordDictName = L"CloudCachecDictLongWord";

// Load, Save (an empty image; the manager calls it at start), AttachCopy
// (tests), GetCount (reset records included) and SetRowLimit come from
// t_userStoreBase.
class t_cloudCacheDict : public t_userStoreBase {
public:
    static constexpr uint32_t kFormatVersion = 20150514;
    static constexpr int32_t kBucketCount = 500;
    static constexpr uint32_t kRows = 10000, kDataBytes = 100000;
    static constexpr int32_t kRowLimit = 10000;

    t_cloudCacheDict();

    // An empty image with room for rows records and dataBytes bytes in each
    // data table.
    static bool BuildImage(std::vector<uint8_t>& out, uint32_t rows, uint32_t dataBytes);

    // Every operation answers 0 (Find: -1) while not loaded, for null or
    // over-long (beyond 32767 bytes) strings.
    //
    // Inserts the record; an existing key and text keeps its fields and its
    // hit count rises by 1. When the store is full the least-hit answers go.
    // 1 when accepted.
    int AddEntry(const t_lstr* key, const t_lstr* text, uint32_t hits, uint8_t flag,
                 const t_lstr* second, const t_lstr* third);
    // Hit count 0 for the record (dropped by the next trim); 1 also when absent.
    int ResetEntry(const t_lstr* key, const t_lstr* text);
    // Raises the record's hit count by 1; 1 when it was there.
    int IncreaseHit(const t_lstr* key, const t_lstr* text);
    // The handle of the key's row, or -1. *count = the key's records;
    // *extends = 1 when the neighbouring stored key (at the key's place, or
    // after its row) is longer and starts with it. Rows past the bucket's
    // used rows are never read.
    int32_t Find(const t_lstr* key, int* extends, int* count) const;
    // Copies up to maximum records of the key behind handle, in chain order,
    // into the parallel arrays (any may be null): text references, hit
    // counts, flags, second and third references. Returns the number copied
    // (0 for a stale or bad handle).
    int GetEntries(int32_t handle, int maximum, uint32_t* texts, uint32_t* hits, uint8_t* flags,
                   uint32_t* seconds, uint32_t* thirds) const;
    // The text behind a reference; null when out of range.
    const t_lstr* GetString(uint32_t ref) const;
    // The three texts of one record; the first is the result.
    const t_lstr* GetStrings(uint32_t text, uint32_t second, uint32_t third,
                             const t_lstr** secondOut, const t_lstr** thirdOut) const;

private:
    bool Locate(const t_lstr* key, const t_lstr* text, t_editLocation* loc) const;
    bool WriteHits(const t_editRow& row, uint32_t hits);
    bool CountHit(const t_editRow& row);
};

// The long-word cache: the same store under its own registration.
class t_cloudCacheDictLongWord : public t_cloudCacheDict {};
