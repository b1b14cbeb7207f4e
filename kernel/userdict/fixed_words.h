// t_fixFirstDict: per typed input key, the word the user pinned to the
// first place of the candidate list. A key keeps its earlier pins as
// deleted records; at most one record of a key is active.
// One thread at a time: callers hold the kernel dictionary lock.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/lstr.h"
#include "kernel/userdict/phrase_dict_store.h"

class t_scopeHeap;

inline constexpr const wchar_t* kFixFirstDictName = L"FixFirstDict";
inline constexpr const wchar_t* kFixFirstDictFile = L"qzim_fix_first.bin";

// Record states.
enum : uint8_t { kFixPlain = 0, kFixActive = 1, kFixDeleted = 2 };

// The pinned word of a key; texts in the caller's arena.
struct t_fixedWord {
    const t_lstr* word;
    const t_lstr* second;
    const t_lstr* third;
};
struct t_fixedRecord {
    const t_lstr* key;
    const t_lstr* word;
    const t_lstr* second;
    const t_lstr* third;
    uint8_t state;
};

// Load, Save (an empty image), AttachFile, AttachCopy, GetCount (deleted
// records included) and SetRowLimit come from t_userStoreBase.
class t_fixFirstDict : public t_userStoreBase {
public:
    static constexpr uint32_t kFormatVersion = 20150730;
    static constexpr uint32_t kRows = 10000;
    static constexpr int32_t kRowLimit = 10000;
    // Key, word and texts with their counts must fit this many bytes.
    static constexpr uint32_t kMaxRecordBytes = 1000;

    t_fixFirstDict();

    // Every operation answers 0 while not loaded, for a null argument, or when
    // key, word and texts with their counts exceed 1000 bytes.
    //
    // Pins word for key: its record becomes active and every other record of
    // the key deleted; a new word is added active. 1/0.
    int SetFixedWord(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                     const t_lstr* third);
    // Folds in a record of another copy with its state (see the source for
    // the rules); a word arriving active while another word of the key is
    // active is stored deleted. 1/0.
    int MergeFixedWord(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                       const t_lstr* third, uint8_t state);
    // The first record of the key, in chain order, that is not deleted; 0
    // when there is none or a text cannot be reached.
    int GetFixedWord(t_scopeHeap& arena, const t_lstr* key, t_fixedWord* result) const;
    // Marks the record deleted; 1 also when it is absent.
    int RemoveItem(const t_lstr* key, const t_lstr* word);
    // Every record with its state; 1/0.
    int GetAllItems(t_scopeHeap& arena, t_fixedRecord*** items, int* count) const;
    // The image's check number (changes with every change of its counts); 0
    // when not loaded.
    uint32_t GetCheckNumber() const;
    // Replays a recorded pin, merge or removal.
    bool ApplyChange(t_changeReader& change) override;

    // Writes the store to path + ".temp" and renames it over path; 1/0.
    int SaveToFile(const wchar_t* path) const { return SaveWithSuffix(path, L".temp"); }
    static int BuildImageToFile(const wchar_t* path);
    // An empty image of rows records; byte counts of 0 give 10 and 30 bytes a row.
    static bool BuildImage(std::vector<uint8_t>& out, uint32_t rows, uint32_t keyBytes = 0,
                           uint32_t textBytes = 0);

private:
    enum : uint8_t { kChangeSet = 1, kChangeMerge = 2, kChangeRemove = 3 };
    int SetFixedWordHere(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                         const t_lstr* third);
    int MergeFixedWordHere(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                           const t_lstr* third, uint8_t state);
    int RemoveItemHere(const t_lstr* key, const t_lstr* word);
    static bool Fits(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                     const t_lstr* third);
    int Append(const t_lstr* key, const t_lstr* word, const t_lstr* second, const t_lstr* third,
               uint8_t state);
    bool WriteState(const uint8_t* row, uint8_t state);
    bool IsWord(const uint8_t* row, const t_lstr* word) const;
};

// Reads a fixed-first file into a local dictionary and returns its record
// count (0 when it cannot be read).
int GetFixFirstFileCount(const wchar_t* path);
