// Editable string dictionaries: the English words and web addresses the user
// committed, each string with its last-use time and use count, over an
// editable table file that doubles and, past 80000 rows, trims the least
// used strings. One thread at a time per dictionary (the kernel call's
// thread, under the kernel dictionary lock).
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/lexicon/string_dict.h"
#include "kernel/storage/editable_table.h"

// One row of a listing, in the caller's arena.
struct t_strUsrEntry {
    const t_lstr* stored;
    uint32_t time;
    uint32_t count;
};

class t_strUsrDict {
public:
    // Rows a growth may reach before the dictionary trims instead.
    static constexpr int32_t kMaxKeyRows = 80000;
    // Strings longer than this are refused by DeleteWord / DeleteUrl.
    static constexpr uint32_t kMaxDeleteUnits = 499;
    static constexpr uint32_t kDefaultRows = 10000;
    static constexpr uint32_t kDefaultTextBytes = 100000;

    t_strUsrDict();
    virtual ~t_strUsrDict();
    t_strUsrDict(const t_strUsrDict&) = delete;
    t_strUsrDict& operator=(const t_strUsrDict&) = delete;

    // Receives the image after the editable file was rebuilt (a growth or a
    // trim). The base accepts it and does nothing.
    virtual bool ReceiveImage(const void* data, int32_t size);

    // Writes an empty image with room for n rows and 10 x n bytes of text
    // to path; false when it cannot be built or written.
    static bool BuildImageToFile(const wchar_t* path, uint32_t n);
    // The empty image the dictionary starts from (10000 rows, 100000 bytes
    // of text); false when it cannot be built.
    static bool BuildDefaultImage(std::vector<uint8_t>& out);

protected:
    // Attaches a writable image (plain image + extra size word).
    bool AttachUserImage(void* data, int32_t size);
    // New string: (time, count); existing: merge(time, count) decides.
    enum t_addMode { kAddUse, kAddMerge };
    int AddString(const t_lstr* s, uint32_t time, uint32_t count, t_addMode mode);
    int DeleteString(const t_lstr* s);
    int ListAllStrings(t_scopeHeap& heap, t_strUsrEntry*** out, uint32_t* count) const;
    bool SaveTo(const wchar_t* path) const;
    // Hands a rebuilt image that lives in this object's buffer to
    // ReceiveImage; the buffer is dropped once the table left it. When that
    // fails (say the disk is full) the table stays on the buffer, and the
    // next change or flush tries again, so no word is lost. False only then.
    bool PassOnRebuilt();
    // The image the table edits when it is this object's buffer (a growth
    // not passed on yet); false when the table is on the caller's image.
    bool GetOwnImage(const void** image, int32_t* size) const;

    t_editableTableFile m_table;

private:
    static uint8_t* OnGrown(const t_grownImage& img, void* context);
    bool OnOwnBuffer() const { return !m_grown.empty() && m_table.GetImage() == m_grown.data(); }

    std::vector<uint8_t> m_grown;    // the image after a growth, until saved
    std::vector<uint8_t> m_retired;  // the previous growth buffer, kept during a notice
};

// A string dictionary that the dictionary manager holds: the storage side
// and the lookups the English words and the web addresses share.
class t_strUsrStoredDict : public t_strUsrDict, public t_dictStorageBase {
public:
    // Passes a rebuilt image to SaveAndNotify.
    bool ReceiveImage(const void* data, int32_t size) override;
    // After the manager wrote the file: a grown image not passed on yet is
    // saved now and the table goes back to the manager's block; false when
    // that failed (the file holds the image all the same, see GetLiveImage).
    bool OnFileWritten(const wchar_t* path) override;
    // The grown image while it could not be passed on: the block lags
    // behind it, so saves and backups take this one.
    bool GetLiveImage(const void** image, int32_t* size) const override;
    // No file yet: commits the empty default image; true when it was built.
    bool Save(const void* data, int32_t size) override;
    // Attaches (version 20140219, string order); the result is the ready flag.
    bool Load(void* data, int32_t size) override;

    int Search(t_scopeHeap& heap, const t_lstr* input, int minLength, t_strResult*** out,
               uint32_t* fullCount, int32_t* total);
    // Every row in storage order (deleted ones included).
    int ListAll(t_scopeHeap& heap, t_strUsrEntry*** out, uint32_t* count);
    // Writes the image to path (temporary file renamed over it).
    bool SaveToFile(const wchar_t* path);
    // Replays a recorded use, merge or deletion.
    bool ApplyChange(t_changeReader& change) override;

protected:
    // The changes the English words and the web addresses share, recorded
    // for the manager; 0 when not ready, else as AddString / DeleteString.
    int UseString(const t_lstr* s, uint32_t now);
    int MergeString(const t_lstr* s, uint32_t time, uint32_t count);
    int RemoveString(const t_lstr* s);

private:
    enum : uint8_t { kChangeUse = 1, kChangeMerge = 2, kChangeDelete = 3 };
};

class t_engUsrDict : public t_strUsrStoredDict {
public:
    // A new word gets (now, 1); a stored one counts one more use (a count
    // of 1 stays 1 once 86400 s have passed since its time) and takes the
    // time now. 1 when stored, 0 when not ready or the table is full.
    int AddWord(const t_lstr* s, uint32_t now);
    // A new word gets (time, count); a stored one keeps the larger of each.
    int MergeWord(const t_lstr* s, uint32_t time, uint32_t count);
    // Marks the word deleted (time 0, count 0). 0 when not ready, absent,
    // or longer than 499 units.
    int DeleteWord(const t_lstr* s);
    // 1 with the count of the row whose string equals s exactly.
    int GetWordFreq(const t_lstr* s, uint32_t* count);
    int GetPrefixWords(t_scopeHeap& heap, const t_lstr* key, t_strResult*** out, int32_t* count);
};

// The web addresses the user committed; every operation works as its
// English counterpart above.
class t_urlUsrDict : public t_strUsrStoredDict {
public:
    int AddUrl(const t_lstr* s, uint32_t now);
    int MergeUrl(const t_lstr* s, uint32_t time, uint32_t count);
    int DeleteUrl(const t_lstr* s);
};
