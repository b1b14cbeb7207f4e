// t_delWordDict: the words the user removed from the candidate list, so
// that candidate sources can hide them. A word counts as deleted while its
// value (the time of the deletion) is not 0; restoring writes 0.
// One thread at a time: callers hold the kernel dictionary lock for changes.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/lstr.h"
#include "kernel/userdict/phrase_dict_store.h"

inline constexpr const wchar_t* kDelWordDictName = L"DelWordDict";
inline constexpr const wchar_t* kDelWordDictFile = L"qzim_del_word.bin";

// Load, Save (an empty image of 10000 rows), AttachFile, AttachCopy,
// GetCount (restored words included) and SetRowLimit (beyond which the
// store trims instead of doubling) come from t_userStoreBase.
class t_delWordDict : public t_userStoreBase {
public:
    static constexpr uint32_t kFormatVersion = 20150518;
    static constexpr int32_t kBucketCount = 512;
    static constexpr uint32_t kRows = 10000;
    static constexpr int32_t kRowLimit = 10000;

    t_delWordDict();

    // Every operation answers 0 while not loaded, and for a null or
    // over-long (beyond 32767 bytes) word.
    //
    // Inserts the word with the value, or gives an existing word the value.
    // When the store is full the oldest deletions are dropped. 1/0.
    int AddWord(const t_lstr* word, uint32_t value);
    // Writes 0 into the word's value; 1 also when the word is absent.
    int ClearWord(const t_lstr* word);
    // 1 when the word is present with a non-zero value.
    int IsDeleted(const t_lstr* word) const;
    // Replays a recorded AddWord or ClearWord.
    bool ApplyChange(t_changeReader& change) override;

    // An empty image with room for n rows and 10 x n bytes of text; 1/0.
    static int BuildImageToFile(const wchar_t* path, uint32_t n);
    // textBytes 0 gives 10 x n.
    static bool BuildImage(std::vector<uint8_t>& out, uint32_t n, uint32_t textBytes = 0);
    // Writes the store to path + ".temp" and renames it over path; 1/0.
    int SaveToFile(const wchar_t* path) const { return SaveWithSuffix(path, L".temp"); }

private:
    enum : uint8_t { kChangeAdd = 1, kChangeClear = 2 };
    int AddWordHere(const t_lstr* word, uint32_t value);
    int ClearWordHere(const t_lstr* word);
};
