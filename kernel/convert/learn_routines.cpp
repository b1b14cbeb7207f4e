// Raw-input and cloud-cache records, learning and small lookups (see the
// header). Kernel thread only.
#include "kernel/convert/learn_routines.h"

#include <atomic>
#include <cstdio>
#include <cwchar>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/custom_cands.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/lexicon/small_dicts_numeric.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/lexicon/trad_dict.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/deleted_words.h"
#include "kernel/userdict/keymap_merge.h"
#include "kernel/userdict/recent_cache.h"

namespace {

std::atomic<uint8_t> g_continuingInput{0};

constexpr int kCloudEntries = 64;
constexpr int kMaxReadings = 16;

// Holds the kernel dictionary lock for a scope when it exists.
class t_dictLockScope {
public:
    t_dictLockScope() : m_held(GetDictLocker().IsCreated() && GetDictLocker().Lock()) {}
    ~t_dictLockScope() {
        if (m_held) GetDictLocker().Unlock();
    }
    t_dictLockScope(const t_dictLockScope&) = delete;
    t_dictLockScope& operator=(const t_dictLockScope&) = delete;

private:
    bool m_held;
};

// Characters of a UTF-16 text, a surrogate pair counting once.
uint32_t CharCount(const t_lstr* s) {
    const uint32_t n = LstrGetLength(s);
    uint32_t chars = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint16_t u = LstrGetUnit(s, i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const uint16_t t = LstrGetUnit(s, i + 1);
            if (t >= 0xDC00 && t <= 0xDFFF) ++i;
        }
        ++chars;
    }
    return chars;
}

bool UpdateFlags(t_usrDictV3Core& user, const t_lstr* ids, const t_lstr* word, uint16_t flags) {
    t_dictLockScope lock;
    return user.UpdateWordFlags(ids, word, flags) != 0;
}

}  // namespace

// ---------------------------------------------------------------- records

t_candWord* MakeRawInputCandidate(t_scopeHeap& pool, const wchar_t* input, int length, bool debug) {
    if (!input || length <= 0 || size_t(length) > std::wcslen(input)) return nullptr;
    const wchar_t* copy = pool.DupWideN(input, size_t(length));
    const t_lstr* text = copy ? WideToLstr16(pool, copy) : nullptr;
    t_candWord* w = text ? t_candWord::NewSpecial(pool) : nullptr;
    if (!w) return nullptr;
    w->text = text;
    w->coveredLength = uint32_t(length);
    w->kind = kCandKindScored;
    w->sourceType = kCandSourceRawInput;
    w->rank = kCandRawInputRank;
    w->score = 1.0;
    if (debug) w->debugText = pool.WideToLstr(L"-输入串原样");
    return w;
}

void AddRawInputCandidate(t_scopeHeap& pool, t_arrayWord* array, const wchar_t* input, bool debug) {
    if (!array || !input) return;
    t_candWord* w = MakeRawInputCandidate(pool, input, int(std::wcslen(input)), debug);
    if (w) array->Add(w, nullptr);
}

t_candWord* AddCloudCacheCandidates(t_scopeHeap& pool, const wchar_t* input, t_arrayWord* array,
                                    bool* found, bool debug) {
    if (found) *found = false;
    if (!input || !*input || !array) return nullptr;
    const uint32_t n = uint32_t(std::wcslen(input));
    t_cloudCacheDict& cache = t_singleton<t_cloudCacheDict>::Get();
    const t_lstr* key = WideToLstr16(pool, input);
    int extends = 0, count = 0;
    const int32_t group = key ? cache.Find(key, &extends, &count) : -1;
    if (group < 0) return nullptr;
    uint32_t texts[kCloudEntries], values[kCloudEntries], seconds[kCloudEntries],
        thirds[kCloudEntries];
    uint8_t classes[kCloudEntries];
    const int got = cache.GetEntries(group, count < kCloudEntries ? count : kCloudEntries, texts,
                                     values, classes, seconds, thirds);
    if (got <= 0) return nullptr;
    if (found) *found = true;
    for (int i = 0; i < got; ++i) {
        const t_lstr *second = nullptr, *third = nullptr;
        const t_lstr* text = cache.GetStrings(texts[i], seconds[i], thirds[i], &second, &third);
        if (!text || array->FindWord(text)) continue;
        int flag = 0;
        if (array->IsFilteredOut(text, kCandSourceCloud, &flag)) continue;
        t_candWord* w = t_candWord::NewSpecial(pool);
        if (!w) return nullptr;
        w->text = pool.DupLstr(text);
        w->syllableIds = second ? pool.DupLstr(second) : nullptr;
        // The segment ends stop at the input's end.
        if (third && LstrGetLength(third) > 0) {
            t_lstr* ends = pool.DupLstr(third);
            if (ends) {
                for (uint32_t k = 0; k < LstrGetLength(ends); ++k) {
                    if (LstrGetUnit(ends, k) < n) continue;
                    LstrSetUnit(ends, k, uint16_t(n));
                    LstrSetByteLength(ends, uint16_t(2 * (k + 1)));
                    break;
                }
            }
            w->segmentList = ends;
        }
        if (!w->text) return nullptr;
        w->coveredLength = n;
        w->kind = kCandKindPinned;
        w->wantedPlace = 2;
        w->sourceType = kCandSourceCloud;
        w->cloudMark = kCandCloudMark;
        w->multiChar = 1;
        w->score = 1.0;
        w->nameMark = kCandNameMarkFixed;
        w->rank = kCandCloudCacheRank;
        w->orderNumber = int32_t(values[i] > INT32_MAX ? INT32_MAX : values[i]);
        if (debug) {
            wchar_t label[96];
            std::swprintf(label, 96, L"-云长词&云纠错Cache|词性:%u|原始词频:%u",
                          unsigned(classes[i]), unsigned(values[i]));
            w->debugText = pool.WideToLstr(label);
        }
        return w;
    }
    return nullptr;
}

// ---------------------------------------------------------------- learning

void SetContinuingInput(uint8_t value) {
    g_continuingInput.store(value);
}
uint8_t GetContinuingInput() {
    return g_continuingInput.load();
}

bool SetUserWordFlags(const t_lstr* ids, const t_lstr* word, uint8_t mode, bool flag4,
                      bool flag32) {
    t_usrDictV3Core& user = t_singleton<t_usrDictV3Core>::Get();
    if (!user.IsLoaded() || !ids || !word || LstrGetLength(word) == 0) return false;
    const uint16_t flags = uint16_t((flag4 ? kUsrFlagJoined : 0) | (flag32 ? kUsrFlagNoAge : 0));
    if (LstrGetByteLength(ids) != kNoSyllablesBytes) {
        // A reading that does not give each character one syllable would
        // file the word where no lookup finds it.
        if (LstrGetLength(ids) != CharCount(word)) return false;
        uint16_t wordClass = mode;
        if (mode == 1)
            wordClass = t_singleton<t_sysDict>::Get().CheckWordComposition(ids, word) ? 2 : 0;
        return UpdateFlags(user, ids, word, uint16_t(flags | wordClass));
    }
    // No syllables: a single character under each of its readings.
    uint32_t ch = LstrGetUnit(word, 0);
    if (CharCount(word) != 1) return false;
    if (LstrGetLength(word) == 2)
        ch = 0x10000u + ((ch - 0xD800u) << 10) + (uint32_t(LstrGetUnit(word, 1)) - 0xDC00u);
    uint16_t readings[kMaxReadings];
    const int count = t_singleton<t_hzDict>::Get().GetCharPinyinIds(ch, readings, kMaxReadings);
    if (count <= 0) return false;
    for (int i = 0; i < count; ++i) {
        const uint8_t key[4] = {2, 0, uint8_t(readings[i] & 0xFF), uint8_t(readings[i] >> 8)};
        if (!UpdateFlags(user, reinterpret_cast<const t_lstr*>(key), word, uint16_t(flags | mode)))
            return false;
    }
    return true;
}

bool LearnUserWord(const t_lstr* ids, const wchar_t* word, uint8_t mode, uint8_t weighting) {
    t_usrDictV3Core& user = t_singleton<t_usrDictV3Core>::Get();
    if (!user.IsLoaded() || !ids || !word || !*word) return false;
    t_scopeHeap scratch;
    const t_lstr* text = WideToLstr16(scratch, word);
    if (!text || !SetUserWordFlags(ids, text, mode, false, weighting != 0)) return false;
    // The continuations held were those of the word before this one, and
    // the user dictionary they were read from has just changed.
    t_singleton<t_CAStringCache>::Get().Clear();
    t_submittedUsrWord& ring = t_singleton<t_submittedUsrWord>::Get();
    if (LstrGetByteLength(ids) == kNoSyllablesBytes) {
        ring.Clear();
        return true;
    }
    if (LstrGetLength(ids) >= 2) {
        t_usrInputCache& inputs = t_singleton<t_usrInputCache>::Get();
        // Add fails only before the cache has its container.
        if (!inputs.Add(word) && (inputs.Init(), !inputs.Add(word))) return false;
    }
    if (std::wcslen(word) < 256) {
        uint32_t index = 0, offset = 0, gram = 0;
        const int inSystem =
            t_singleton<t_sysDict>::Get().FindWord(ids, text, &index, &offset, &gram);
        t_singleton<t_Numeric>::Get().RecordNumber(text, inSystem ? int32_t(index) : -1);
    }
    const t_lstr *prevKey = nullptr, *prevText = nullptr;
    ring.Get(0, &prevKey, &prevText);
    if (prevKey && prevText) {
        const t_lstr* joinedText = scratch.ConcatLstr(prevText, text);
        const t_lstr* joinedKey = scratch.ConcatLstr(prevKey, ids);
        if (joinedText && joinedKey && CharCount(joinedText) <= kJoinedWordMaxChars &&
            LstrGetByteLength(joinedKey) <= kJoinedKeyMaxBytes &&
            !SetUserWordFlags(joinedKey, joinedText, mode, true, false))
            return false;
    }
    if (GetContinuingInput())
        ring.Add(ids, word);
    else
        ring.Clear();
    return true;
}

// ---------------------------------------------------------------- lookups

bool LookupUserWord(const t_lstr* ids, const t_lstr* word, t_usrWordAttr* attr) {
    return t_singleton<t_usrDictV3Core>::Get().GetWordRecord(ids, word, attr);
}

bool UndeleteWord(const t_lstr* word) {
    t_dictLockScope lock;
    return t_singleton<t_delWordDict>::Get().ClearWord(word) != 0;
}

bool TraDictMatchSuffix(const t_lstr* text, wchar_t* out, size_t capacity) {
    const t_traDict& tra = t_singleton<t_traDict>::Get();
    const uint32_t n = LstrGetLength(text);
    if (!tra.IsReady() || !out || capacity <= n) return false;
    for (uint32_t i = 0; i < n; ++i) out[i] = wchar_t(LstrGetUnit(text, i));
    out[n] = 0;
    t_scopeHeap scratch;
    uint32_t remaining = n;
    while (remaining > 1) {
        const t_lstr* rest = scratch.MakeLstr(LstrGetUnits(text), size_t(remaining) * 2);
        t_lstr* replacement = nullptr;
        const int matched = rest ? tra.MatchSuffix(&scratch, &replacement, rest) : 0;
        if (matched <= 0 || uint32_t(matched) > remaining) {
            --remaining;
            continue;
        }
        const uint32_t at = remaining - uint32_t(matched);
        // The replacement takes the ending's own places, never more.
        const uint32_t m = replacement ? LstrGetLength(replacement) : 0;
        for (uint32_t k = 0; k < m && k < uint32_t(matched); ++k)
            out[at + k] = wchar_t(LstrGetUnit(replacement, k));
        remaining = at;
    }
    return true;
}

bool ReloadKeymapFile(std::wstring* notes) {
    return ReloadKeymapFileInSteps([](const std::function<void()>& step) { step(); }, notes);
}

bool ReloadKeymapFileInSteps(const std::function<void(const std::function<void()>&)>& locked,
                             std::wstring* notes) {
    t_keyPyMap& live = t_singleton<t_keyPyMap>::Get();
    wchar_t path[kMaxPathChars + 1];
    bool ok = false;
    locked([&] {
        if (!live.IsReady() || !live.GetFilePath(path, kMaxPathChars + 1)) return;
        // Through the manager, so the learned counts it writes are not
        // replayed again onto the merged map at the re-attach.
        t_dictEntry* entry = live.GetEntry();
        ok = entry && entry->manager &&
             entry->manager->SaveEntryWith(entry, [&] { return live.SaveFile(path); });
    });
    if (!ok) return false;
    locked([&] {
        t_keymapMergeContext* context = InitKeymapMergeContext();
        ok = context && MergeKeymapDict(context, path, notes) == 1;
        FreeKeymapMergeContext(context);
    });
    if (!ok) return false;
    locked([&] {
        ok = live.IncreaseVersion();
        if (ok) t_singleton<t_versionManager>::Get().CheckUpdateAll();
    });
    return ok;
}
