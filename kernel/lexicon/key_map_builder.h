// t_keyPyMapBuilder: produces the content of the key-to-pinyin map from the
// syllable inventory and the user's input-scheme settings (full pinyin or
// shuangpin, abbreviations, partial spellings, corrections, fuzzy and
// smart-fuzzy spellings). Created per build and used on one thread.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "kernel/lexicon/scheme_config.h"
#include "kernel/runtime/scope_heap.h"

class t_configuration;

// Flag bits of a key-to-syllable mapping.
enum : uint16_t {
    kKeyFlagFuzzy = 0x01,        // fuzzy spelling
    kKeyFlagAbbrev = 0x02,       // initials only or first letter
    kKeyFlagPartial = 0x04,      // a prefix of the syllable that is no syllable itself
    kKeyFlagCorrection = 0x08,   // spelling correction
    kKeyFlagSmartOnly = 0x10,    // used only in the smart-fuzzy pass
    kKeyFlagZeroInitial = 0x20,  // first letter of a syllable without initial (with 0x02)
};

// The flags of a mapping added again with flags (kKeyFlagSmartOnly set for
// a smart-only add): of the same kind, it keeps the low three bits both
// adds have; a plain add replaces a smart-only mapping; a smart-only add
// leaves a plain one as it is.
inline uint16_t MergeMappingFlags(uint16_t stored, uint16_t flags) {
    const uint16_t kLow = kKeyFlagFuzzy | kKeyFlagAbbrev | kKeyFlagPartial;
    const bool storedSmart = stored & kKeyFlagSmartOnly, smart = flags & kKeyFlagSmartOnly;
    if (storedSmart == smart) return uint16_t((stored & ~kLow) | (stored & flags & kLow));
    return storedSmart ? flags : stored;
}

// Where the builder's keys go (the key-to-pinyin map, or a test's model).
class i_keyMapSink {
public:
    virtual ~i_keyMapSink() = default;
    // Adds (key, id) with the flags, merging with an existing mapping of the
    // same pair. 0 when the mapping could not be stored.
    virtual int AddMapping(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly) = 0;
    // AddMapping of a pair the caller has not added before (a sink may save
    // the look for an existing mapping).
    virtual int AddNewMapping(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly) {
        return AddMapping(key, id, flags, smartOnly);
    }
    // The two options the conversion reads from the finished map.
    virtual void SetExtraFlagA(uint8_t value) = 0;
    virtual void SetExtraFlagB(uint8_t value) = 0;
};

// The builder's option bytes.
struct t_keyMapOptions {
    bool fullPinyin = true;  // full-pinyin keys and the fixed pair so -> sou
    bool shuangPin =
        false;  // shuangpin keys; no abbreviations, partials or corrections of full pinyin
    bool superSpJp = false;   // first shuangpin key of a syllable without initial
    bool correction = false;  // mistyped spellings
    bool zcs = false;         // z, c, s for zh, ch, sh; first letter of a syllable without initial
    bool smartFuzzy = false;  // switched-off built-in fuzzy pairs as smart-fuzzy-only keys
};

// The options as the configuration store holds them.
t_keyMapOptions ReadKeyMapOptions(t_configuration& store);
// Why the options map no key at all, naming the settings a user changes;
// null when they leave a way to type.
const wchar_t* KeyMapOptionsLeaveNoWay(const t_keyMapOptions& options);

class t_keyPyMapBuilder {
public:
    // Letters of a spelling part and of a whole key (a slot's worth).
    static constexpr size_t kPartChars = 8;
    static constexpr size_t kMaxKeyLetters = 7;
    // Alternatives taken for one initial or final.
    static constexpr int kMaxAlternatives = 5;

    t_keyPyMapBuilder() = default;
    ~t_keyPyMapBuilder() { Clear(); }
    t_keyPyMapBuilder(const t_keyPyMapBuilder&) = delete;
    t_keyPyMapBuilder& operator=(const t_keyPyMapBuilder&) = delete;

    // Builds a complete map image: an empty map (see t_keyPyMap) filled with
    // every key of the options and settings, grown when they need more room.
    // *buffer (in arena) and *size receive the image; false, outputs null /
    // 0, when any step fails or the options give no key at all. messages
    // gains the loaders' texts and Notes(), one line each.
    static bool Build(t_scopeHeap& arena, uint8_t** buffer, uint32_t* size,
                      const t_keyMapOptions& options, const t_schemeLoadSettings& settings,
                      std::wstring* messages);

    // Loads the three configurations (their failures only add messages) and
    // writes the two options into the target: A = zcs when shuangpin is off
    // and no fuzzy rule is on, else 0; B = 1 when a fuzzy rule is on. False
    // for a null target.
    bool Initialise(const t_keyMapOptions& options, const t_schemeLoadSettings& settings,
                    i_keyMapSink* target, std::wstring* messages);
    // Emits every key of every syllable id in ascending order, then so ->
    // sou with full pinyin and the committed whole-syllable pairs. False
    // when not initialised. A mapping the target refuses (a key it cannot
    // hold, or no room left) is left out and told in Notes(); the rest of
    // the keys still go in.
    bool AddAll();
    // Emits the keys of one syllable. False for an id that is no syllable or
    // a syllable that cannot be split.
    bool AddSyllable(int id);
    // Drops the configurations, the arena and the notes.
    void Clear();
    // What the build left out, one line each (empty when nothing).
    std::wstring Notes() const;

    t_schemeConfigs& Configs() { return m_configs; }

private:
    // One candidate spelling of a syllable.
    struct t_spellingNode {
        wchar_t initial[kPartChars];
        wchar_t final[kPartChars];
        uint8_t fuzzy;  // 0 own spelling, 1 derived
        uint8_t smart;  // 1 from the smart-fuzzy set
        t_spellingNode* next;
    };

    // The alternatives of a spelling part in the "Fuzzy" or the "Gray" set.
    struct t_partners {
        int count = 0;
        t_ruleSlot slots[kMaxAlternatives];
    };

    t_spellingNode* NewNode(const wchar_t* initial, const wchar_t* final, uint8_t fuzzy,
                            uint8_t smart);
    // Asked of the configuration once per part and set: every syllable of
    // an initial asks again, and a long rule list is slow to walk.
    const t_partners& Partners(const wchar_t* part, bool gray);
    void AppendFuzzyNodes(t_spellingNode* base, t_spellingNode**& tail, bool gray);
    void EmitFullPinyin(const t_spellingNode& node, uint16_t id);
    void EmitShuangPin(const t_spellingNode& node, uint16_t id);
    // Adds the mapping; one the target refuses is counted for Notes(). The
    // keys of one syllable wait in m_pending, repeats merged, until Flush.
    void Emit(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly);
    void Flush();
    void Refused(const wchar_t* key, uint16_t id);
    void AddFixedPairs();

    // A syllable's keys in the order they were first made, with their merged
    // flags (kKeyFlagSmartOnly included).
    struct t_pendingKey {
        wchar_t key[kPartChars];
        uint16_t flags;
    };
    std::unordered_map<std::wstring, t_partners> m_partners;  // by set mark + part
    std::vector<t_pendingKey> m_pending;
    uint16_t m_pendingId = 0;
    bool m_collecting = false;                                // inside AddSyllable
    std::unordered_map<std::wstring, size_t> m_pendingIndex;  // key -> place in m_pending

    t_keyMapOptions m_options;
    t_schemeConfigs m_configs;
    i_keyMapSink* m_target = nullptr;
    // Mappings the target refused: how many, and the first few (key, syllable).
    int m_refused = 0;
    std::wstring m_refusedShown;
    t_scopeHeap m_heap{t_scopeHeap::kDefaultBlockSize};
    bool m_ready = false;
};
