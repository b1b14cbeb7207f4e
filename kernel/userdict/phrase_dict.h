// t_abbrUsrDict: the user's custom phrases, a typed key of ASCII letters with
// one or more phrases (any text, several lines allowed) shown at a chosen
// place of the candidate list. Records are never dropped by an edit: a
// deletion marks the record, so that a merge can tell it from an absent one.
// One thread at a time: callers hold the kernel dictionary lock.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/lstr.h"
#include "kernel/userdict/phrase_dict_store.h"

class t_scopeHeap;

inline constexpr const wchar_t* kPhraseDictName = L"AbbrUsrDict";
inline constexpr const wchar_t* kPhraseDictFile = L"qzim_phrases.bin";

// Record states.
enum : uint8_t {
    kPhrasePlain = 0,
    kPhraseAdded = 1,  // added or changed by the user or an import
    kPhraseDeleted = 2,
    kPhraseMoved = 3,  // position changed during a merge
};

// Listing records; they and their texts live in the caller's arena.
struct t_phraseItem {
    const t_lstr* key;
    const t_lstr* phrase;
    int16_t position;
};
struct t_phraseRecord {
    const t_lstr* key;
    const t_lstr* phrase;
    int16_t position;
    uint8_t state;
};
struct t_phraseHit {
    const t_lstr* phrase;
    int16_t position;
};

// AttachFile and AttachCopy (temporary dictionaries of imports and merges),
// GetCount (deleted records included) and SetRowLimit (smaller limits make
// the store trim sooner) come from t_userStoreBase.
class t_abbrUsrDict : public t_userStoreBase {
public:
    static constexpr uint32_t kFormatVersion = 20150730;
    static constexpr int32_t kBucketCount = 53;
    static constexpr int32_t kRowLimit = 160000;
    static constexpr uint32_t kKeyRows = 10000, kAttriRows = 10000;
    static constexpr uint32_t kKeyBytes = 100000, kPhraseBytes = 5000000;

    t_abbrUsrDict();

    // ---- the dictionary manager's operations ----
    // Load (from t_userStoreBase) attaches the image in place; the result
    // becomes the ready flag. False for an image of another layout.
    //
    // Commits a new, empty image (the data arguments are ignored); true when
    // the image was built.
    using t_userStoreBase::Save;
    bool Save(const void* data, int32_t size) override;

    // ---- images ----
    // The empty image in an arena buffer; false when it cannot be built.
    static bool BuildImage(t_scopeHeap& arena, uint8_t** buffer, uint32_t* size);
    // An empty image of the given room (tests and small stores use less).
    static bool BuildImageWithRoom(std::vector<uint8_t>& out, uint32_t rows, uint32_t keyBytes,
                                   uint32_t phraseBytes);
    // Writes the empty image to path (temporary and rename); false on failure.
    static bool BuildImageToFile(const wchar_t* path);

    // ---- editing ----
    // Every edit returns 0 when not loaded, for a null key or phrase, or for
    // a key or phrase longer than 32767 bytes (a table item's limit).
    //
    // Inserts, or gives an existing record (same key and phrase) the position
    // and state. Non-zero on success: 1 when the record existed, otherwise
    // the store's insert code.
    int AddItem(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state);
    // Inserts a missing record; an existing one changes only from state 0 to
    // a non-zero state (taking that state and position).
    int MergeItem(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state);
    // Folds in a record of another copy: an existing record in state 1 becomes
    // 3 when its position differs, else 0 when state 0 is given; a missing
    // record is inserted and, unless given deleted, marked deleted at once.
    int UpdateItemState(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state);
    // State 2 for the record; 1 also when it is absent.
    int MarkDeleted(const t_lstr* key, const t_lstr* phrase, int16_t position);
    // Replays one of the four edits above.
    bool ApplyChange(t_changeReader& change) override;

    // ---- reading ----
    // The phrases of a key in chain order, without deleted records and
    // positions below 1. 1 with count 0 for an absent key; 0 when not
    // loaded, a text cannot be reached or the arena fails.
    int Lookup(t_scopeHeap& arena, const t_lstr* key, t_phraseHit*** items, int* count) const;
    // Every record not deleted; 1/0.
    int GetVisibleItems(t_scopeHeap& arena, t_phraseItem*** items, int* count) const;
    // Every record with its state, deleted ones included; 1/0.
    int GetAllItems(t_scopeHeap& arena, t_phraseRecord*** items, int* count) const;

    // Writes the store to path + ".temp" and renames it over path; 1/0. A
    // failure leaves the old file as it was.
    int SaveToFile(const wchar_t* path) const { return SaveWithSuffix(path, L".temp"); }

    // The bucket of a key: 'a'-'z' 0-25, 'A'-'Z' 26-51, anything else 52.
    static int BucketOf(const t_lstr* key);

private:
    enum : uint8_t { kChangeAdd = 1, kChangeMerge = 2, kChangeUpdate = 3, kChangeDelete = 4 };
    // Records a successful edit (r != 0) and passes r on.
    int Recorded(uint8_t op, int r, const t_lstr* key, const t_lstr* phrase, int16_t position,
                 uint8_t state);
    int AddItemHere(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state);
    int MergeItemHere(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state);
    int UpdateItemStateHere(const t_lstr* key, const t_lstr* phrase, int16_t position,
                            uint8_t state);
    int MarkDeletedHere(const t_lstr* key, const t_lstr* phrase);
    bool Find(const t_lstr* key, const t_lstr* phrase, t_editLocation* loc) const;
    int Insert(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state,
               t_editLocation* where);
    bool WriteState(const t_editLocation& loc, uint8_t state);
    bool WritePosition(const t_editLocation& loc, int16_t position);
};
