// t_keyPyMap: the key-to-pinyin map. Typed letter keys (full spellings,
// abbreviations, partial, fuzzy and corrected spellings, shuangpin pairs)
// map to syllable ids with flags, usage counts and states; per-syllable
// counters weigh the syllables of an ambiguous key.
// One thread at a time (the kernel's dictionary lock); lookups return 0 or
// -1 until an image is attached.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kernel/lexicon/key_map_builder.h"
#include "kernel/runtime/dict_base.h"
#include "kernel/storage/editable_table.h"

class t_scopeHeap;

// One mapping as listed by GetAllItems; key lives in the caller's arena.
struct t_keyMapItem {
    const wchar_t* key;
    uint16_t id;
    uint16_t flags;
    int32_t count;
    uint8_t state;
};

// States of a mapping.
enum : uint8_t {
    kKeyStateNormal = 0,
    kKeyStateNew = 1,
    kKeyStateDisabled = 2,
    kKeyStateConflict = 3
};

class t_keyPyMap : public t_dictStorageBase, public i_keyMapSink {
public:
    static constexpr uint32_t kFormatVersion = 20150817;
    static constexpr int32_t kExtraSize = 1908;
    static constexpr int kCounterCount = 450;       // u32 counters at the start of the extra block
    static constexpr uint32_t kCounterStart = 100;  // every counter of a new map
    static constexpr uint32_t kOptionAOffset = 1800;
    static constexpr uint32_t kOptionBOffset = 1804;
    static constexpr uint32_t kKeyRows = 10000, kAttriRows = 10000, kKeyBytes = 100000;
    // Mappings GetPinyinIds looks at for IsKeyMappedToPy.
    static constexpr int kMaxListed = 80;
    // Longest key (characters) the map stores or looks up.
    static constexpr size_t kMaxKeyChars = 63;

    // Room of a map that grows (builds and merges): about 16 times the
    // default, some 140000 mappings. No mix of settings comes near it.
    static constexpr uint32_t kMaxGrownBytes = uint32_t(8) << 20;

    t_keyPyMap();
    // A map for builds and merges: its tables double when they fill up, up
    // to kMaxGrownBytes, the grown image then held by the map itself. Past
    // that it takes no new mapping (AddMapping and the others answer 0).
    struct t_growing {};
    explicit t_keyPyMap(t_growing);
    ~t_keyPyMap() override;

    // Attaches the image (plain image, extra size, extra block) in place; the
    // result is the ready flag. False for an image of another layout.
    bool Attach(void* image, int64_t size);
    // Attaches an empty map image (BuildEmptyImage) held by the map itself,
    // for a build. The adds into an image made here skip the check for a
    // damaged one. False when it cannot be made.
    bool StartEmpty();
    bool Load(void* data, int32_t size) override { return Attach(data, size); }
    // Builds the default map from the configuration store's options and the
    // kernel directories and commits it; true when committed. BuildNotes
    // then holds what the build had to say.
    using t_dictStorageBase::Save;
    bool Save(const void* data, int32_t size) override;
    // The messages of the last default build (files refused, keys left
    // out), one line each; empty when it had none or none ran.
    const std::wstring& BuildNotes() const { return m_buildNotes; }

    // ---- editing ----
    // Adds {id, flags (| 0x10 when smartOnly), count 0, state 1} under key.
    // An existing (key, id) mapping is merged: same smart-only bit: its low
    // three flag bits are ANDed with the new ones; stored smart-only and new
    // not: the new flags replace them; otherwise unchanged. Returns the add
    // code: 1 already present, 4 added, 2/3 added and grown/trimmed, 0 failed.
    int AddMapping(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly) override;
    // AddMapping without the look for an existing (key, id): when there is
    // one after all, it is left as it was (1).
    int AddNewMapping(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly) override;
    // Adds the mapping as given; an existing one takes a larger count (the
    // id's counter grows by the difference) and, when its state is 0, a
    // non-zero state with the new flags.
    int AddEntry(const wchar_t* key, uint16_t id, uint16_t flags, int32_t count, uint8_t state);
    // As AddEntry for an existing mapping, but differing flags set state 3
    // and state 0 turns a stored state 1 into 0; an unknown mapping is added
    // disabled (state 2).
    int MergeEntry(const wchar_t* key, uint16_t id, uint16_t flags, int32_t count, uint8_t state);
    // State 2 for (key, id); false when absent.
    bool DisableEntry(const wchar_t* key, uint16_t id);

    // ---- lookups ----
    // Byte offset of the key's row in the key table, or -1. *longerFollows
    // tells whether a stored key continues the given one.
    int32_t FindKey(const wchar_t* key, bool* longerFollows) const;
    // Up to max mappings of the key at keyIndex (ids, weights, flags; any
    // output may be null). Normal mode skips state 2 and smart-only rows;
    // smart-fuzzy mode lists all but state 2 (weight 0.5 for smart-only).
    int GetPinyinIds(int32_t keyIndex, uint16_t* ids, float* weights, uint16_t* flags,
                     int max) const;
    // The smart-fuzzy listing regardless of the mode.
    int GetAllPinyinIds(int32_t keyIndex, uint16_t* ids, float* weights, uint16_t* flags,
                        int max) const;
    // Whether key reaches syllable id by a fuzzy mapping (flag 0x10 in
    // smart-fuzzy mode). False for an id that is no syllable or an absent key.
    bool IsKeyMappedToPy(const wchar_t* key, int id) const;
    // The weight of a mapping: 1 unless an abbreviation, partial or smart
    // spelling; counters below 100 count as 100.
    static float MappingWeight(uint16_t flags, int32_t count, uint32_t counter);

    // ---- usage ----
    // Counter of id + 1, and the count of the key's mapping of id + 1. False
    // when the key holds no such mapping or id is outside the counters.
    bool IncreaseUsage(int32_t keyIndex, int id);
    // delta to the id's counter and to the key's mapping of id; false when
    // the key or mapping is absent or id is outside the counters.
    bool AddUsage(const wchar_t* key, int id, int32_t delta);
    uint32_t GetCounter(int id) const;
    // Replays a recorded use or disabled mapping.
    bool ApplyChange(t_changeReader& change) override;

    void SetSmartFuzzyMode(bool on) { m_smartFuzzy = on; }
    bool IsSmartFuzzyMode() const { return m_smartFuzzy; }
    uint8_t GetExtraFlagA() const;
    uint8_t GetExtraFlagB() const;
    void SetExtraFlagA(uint8_t value) override;
    void SetExtraFlagB(uint8_t value) override;
    // Copies kCounterCount counters (1800 bytes, little-endian) in.
    bool SetCounters(const uint8_t* counters);

    // Every (key, mapping) into arena arrays; *extra, when given, points at
    // the extra block. False when not ready or the arena is short.
    bool GetAllItems(t_scopeHeap& arena, t_keyMapItem** items, int* count,
                     const uint8_t** extra) const;

    // ---- files ----
    // Writes the image to path + ".temp", synced, then renames it over path,
    // so path always holds either the old or the new map. False (path
    // untouched, no ".temp" left) on failure.
    bool SaveFile(const wchar_t* path) const;
    // The empty map image: 10000 key rows, 10000 mappings, 100000 bytes of
    // keys, counters at 100. False when it cannot be built.
    static bool BuildEmptyImage(std::vector<uint8_t>& out);
    // Writes the empty map image to path (through a temporary file).
    static bool WriteImage(const wchar_t* path);

    const t_editableTableFile& Table() const { return m_table; }
    const uint8_t* GetImage() const { return m_table.GetImage(); }
    int64_t GetTotalSize() const { return m_table.GetTotalSize(); }

private:
    enum : uint8_t { kChangeUsage = 1, kChangeDisable = 2 };
    struct t_keyItem;
    bool Ready() const;
    uint8_t* Extra() const;
    bool Locate(const wchar_t* key, uint16_t id, t_keyItem& item, t_editLocation& loc) const;
    bool WriteAttri(const t_editLocation& loc, uint32_t offset, const void* value, uint32_t len);
    void AddToCounter(int id, int64_t delta);
    // Raises the located mapping's count to count (never lowers it), with the
    // id's counter. False when the write fails.
    bool RaiseCount(const t_editLocation& loc, uint16_t id, int32_t count);
    // Adds the mapping of item's key (set by Locate) to id; the table's
    // result, 0 when the key could not be set.
    int AddLocatedMapping(t_keyItem& item, uint16_t id, uint16_t flags, int32_t count,
                          uint8_t state);
    // The adds without their check; the public ones answer Found's result.
    int AddMappingUnchecked(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly);
    int AddEntryUnchecked(const wchar_t* key, uint16_t id, uint16_t flags, int32_t count,
                          uint8_t state);
    int MergeEntryUnchecked(const wchar_t* key, uint16_t id, uint16_t flags, int32_t count,
                            uint8_t state);
    // result, or 0 when it reports an add but (key, id) is not found after
    // it by both lookups (a damaged image).
    int Found(const wchar_t* key, uint16_t id, int result) const;
    int List(int32_t keyIndex, uint16_t* ids, float* weights, uint16_t* flags, int max,
             bool smart) const;
    int ListUncached(int32_t keyIndex, uint16_t* ids, float* weights, uint16_t* flags, int max,
                     bool smart, bool* whole) const;
    int32_t FindKeyUncached(const wchar_t* key, bool* longerFollows) const;
    // The growth notice of a growing map: the doubled image goes into a
    // buffer of the map's own; null (growth refused) past kMaxGrownBytes.
    static uint8_t* OnGrown(const t_grownImage& image, void* context);
    // Any change that can alter a key's row or its mappings' weights.
    void Changed() { ++m_stamp; }

    // Answers already given: the lattice builder asks the same keys again
    // for every spelling variant of a keystroke. An answer is good while
    // neither the map nor the table has changed since.
    struct t_keyMemo {
        uint64_t key = 0;  // the packed key; 0 = empty
        uint64_t stamp = 0, generation = 0;
        int32_t row = -1;
        bool longer = false;
    };
    static constexpr int kListMemoIds = 80;
    struct t_listMemo {
        int32_t keyIndex = -1;
        bool smart = false;
        uint8_t count = 0;
        uint64_t stamp = 0, generation = 0;
        uint16_t ids[kListMemoIds];
        uint16_t flags[kListMemoIds];
        float weights[kListMemoIds];
    };
    static constexpr size_t kKeyMemoSlots = 1024, kListMemoSlots = 256;

    // The image the map holds itself: an empty one it started on, or one it
    // grew into. Declared first, so that it outlives the table over it.
    std::unique_ptr<uint8_t[]> m_ownImage;
    t_editableTableFile m_table;
    bool m_ownMade = false;  // the image attached was made here (StartEmpty)
    bool m_full = false;     // a growing map refused to grow further
    std::wstring m_buildNotes;
    bool m_smartFuzzy = false;
    uint64_t m_stamp = 1;
    mutable std::unique_ptr<t_keyMemo[]> m_keyMemo;
    mutable std::unique_ptr<t_listMemo[]> m_listMemo;
};
