// t_contactsDict: names from the user's contacts as words keyed by their
// syllables, each with a weight; a negative weight keeps the name but
// disables it. Filled by its callers; saves through a temporary file.
// One thread at a time: callers hold the kernel dictionary lock for changes.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/lstr.h"
#include "kernel/userdict/phrase_dict_store.h"

// Load, Save (an empty image), AttachFile, AttachCopy, GetCount (disabled
// names included) and SetRowLimit come from t_userStoreBase.
class t_contactsDict : public t_userStoreBase {
public:
    static constexpr uint32_t kFormatVersion = 20151123;
    static constexpr int32_t kBucketCount = 512;
    static constexpr uint32_t kRows = 10000, kDataBytes = 80000;
    static constexpr int32_t kRowLimit = 80000;

    t_contactsDict();

    static bool BuildImage(std::vector<uint8_t>& out, uint32_t rows, uint32_t dataBytes);
    // Writes the empty image to path; 1/0.
    static int BuildImageToFile(const wchar_t* path);

    // Every operation answers 0 (or -1 where noted) while not loaded, and for
    // null or over-long (beyond 32767 bytes) strings.
    //
    // Inserts the name; an existing disabled record takes the weight, an
    // enabled one keeps its own. When the store is full the disabled and
    // the lowest-weighted names go first. 1 when accepted.
    int AddItem(const t_lstr* key, const t_lstr* word, int32_t weight);
    // Negates a positive weight; 1 also when absent or already disabled.
    int DisableItem(const t_lstr* key, const t_lstr* word);
    // Negates every positive weight; the number disabled, -1 when not loaded
    // or the rows cannot be listed.
    int DisableAll();
    // The handle of the key's row, or -1; *extends = 1 when the next used row
    // of the bucket (after the key's row, or at its place) holds a longer key
    // that starts with it.
    int32_t Find(const t_lstr* key, int* extends) const;
    // The handles and keys of the rows after the key (or from its place)
    // whose keys extend it, up to maximum; 1 (0 for null arguments).
    int FindExtending(const t_lstr* key, int32_t* handles, const t_lstr** keys, int maximum,
                      int* count) const;
    // Looks at up to maximum records of the key behind handle, in chain
    // order, and copies those with a weight of 0 or more (word reference and
    // weight). Returns the number copied; 0 for maximum < 1 or a bad handle.
    int GetEntries(int32_t handle, uint32_t* words, int32_t* weights, int maximum) const;
    // The word behind a reference; null when out of range.
    const t_lstr* GetWord(uint32_t ref) const;

    // Writes the store to path + "_temp_contacts_dict" and renames it over
    // path; 1 when both succeeded (the work file is removed otherwise).
    int SaveToFile(const wchar_t* path) const {
        return SaveWithSuffix(path, L"_temp_contacts_dict");
    }

private:
    bool WriteWeight(const t_editRow& row, int32_t weight);
};
