// Custom-phrase, char-art and fixed-first records. One conversion thread.
#include "kernel/convert/custom_cands.h"

#include <cwchar>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/phrase_time.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/fixed_words.h"
#include "kernel/userdict/phrase_dict.h"

namespace {

constexpr uint16_t kEllipsis = 0x2026;
// Records of this source type never carry char art.
constexpr uint16_t kNoCharArtSource = 11;

bool IsLead(uint16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

const t_lstr* Label(t_scopeHeap& pool, const wchar_t* text) {
    return pool.WideToLstr(text);
}

// The phrase as shown and stored in the record: "#" phrases expanded.
const t_lstr* ExpandPhrase(t_scopeHeap& pool, const t_lstr* phrase, bool* expanded) {
    *expanded = false;
    const uint32_t n = LstrGetLength(phrase);
    if (n < 2 || LstrGetUnit(phrase, 0) != '#') return phrase;
    const wchar_t* rest = Utf16ToWidePool(pool, LstrGetUnits(phrase) + 1, int(n - 1));
    if (!rest) return phrase;
    t_phraseTimeExpr expr;
    const wchar_t* text = ExpandPhraseTimeExpr(expr, pool, rest);
    if (!text || !*text) return phrase;
    const t_lstr* out = WideToLstr16(pool, text);
    if (!out) return phrase;
    *expanded = true;
    return out;
}

t_candWord* MakePhraseRecord(t_scopeHeap& pool, const t_lstr* phrase, int16_t position,
                             uint32_t covered, int order, bool user) {
    t_candWord* w = t_candWord::NewSpecial(pool);
    if (!w) return nullptr;
    bool expanded = false;
    const t_lstr* text = ExpandPhrase(pool, phrase, &expanded);
    t_candWord::SetText(w, text, MakePhraseShownText(pool, text));
    w->coveredLength = covered;
    w->multiChar = LstrGetLength(phrase) > 1 ? 1 : 0;
    w->wantedPlace = position;
    w->kind = kCandKindPinned;
    w->sourceType = user && !expanded ? kCandSourceUserPhrase : kCandSourceCustomPhrase;
    w->rank = kCandCustomPhraseRank;
    w->orderNumber = order;
    return w;
}

}  // namespace

const t_lstr* MakePhraseShownText(t_scopeHeap& pool, const t_lstr* text) {
    const uint32_t n = LstrGetLength(text);
    if (n == 0) return nullptr;
    uint32_t cut = n;
    for (uint32_t k = 0; k < n; ++k) {
        const uint16_t u = LstrGetUnit(text, k);
        if (u == 10 || u == 13) {
            cut = k;
            break;
        }
        if (k == kPhraseShownUnits) {
            cut = k;
            break;
        }
    }
    if (cut == n) return nullptr;
    // Half a surrogate pair would break the later conversion to UTF-8.
    if (cut > 0 && cut < n && IsLead(LstrGetUnit(text, cut - 1))) --cut;
    uint16_t units[kPhraseShownUnits + 1];
    for (uint32_t k = 0; k < cut; ++k) units[k] = LstrGetUnit(text, k);
    units[cut] = kEllipsis;
    return pool.MakeLstr(units, size_t(cut + 1) * 2);
}

int AddCustomPhraseCandidatesEx(const wchar_t* input, t_arrayWord* array, t_scopeHeap* pool) {
    if (!input || !*input || !array || !pool) return 0;
    const uint32_t covered = uint32_t(std::wcslen(input));
    t_scopeHeap scratch;
    const t_lstr* key = WideToLstr16(scratch, input);
    if (!key) return 0;

    int userCount = 0;
    t_phraseHit** hits = nullptr;
    int n = 0;
    if (t_singleton<t_abbrUsrDict>::Get().Lookup(scratch, key, &hits, &n) && hits) {
        for (int i = 0; i < n; ++i) {
            if (!hits[i] || !hits[i]->phrase) continue;
            ++userCount;
            // The phrase text lives in scratch: the record keeps a copy.
            const t_lstr* phrase = pool->DupLstr(hits[i]->phrase);
            t_candWord* w =
                phrase ? MakePhraseRecord(*pool, phrase, hits[i]->position, covered, i, true)
                       : nullptr;
            if (w) array->AddChecked(w, nullptr);
        }
    }

    int systemCount = 0;
    if (t_singleton<t_configurationImpl>::Get().GetByte(n_config::SystemUserPhrase)) {
        t_abbrPhrase** phrases = nullptr;
        uint32_t m = 0;
        if (t_singleton<t_abbrSysDict>::Get().Lookup(scratch, key, &phrases, &m) && phrases) {
            for (uint32_t i = 0; i < m; ++i) {
                if (!phrases[i] || !phrases[i]->phrase) continue;
                ++systemCount;
                t_candWord* w = MakePhraseRecord(*pool, phrases[i]->phrase, phrases[i]->position,
                                                 covered, int(i), false);
                if (w) array->AddChecked(w, nullptr);
            }
        }
    }
    return userCount + systemCount;
}

int AddCharArtCandidates(t_arrayWord* array, t_scopeHeap* pool, uint32_t inputLength, int count) {
    if (!array || !pool || count <= 0) return 0;
    t_candWord** lists[2] = {nullptr, nullptr};
    const int lengths[2] = {array->CopyPinned(pool, &lists[0]), array->CopyRanked(pool, &lists[1])};
    if (lengths[0] == 0 && lengths[1] == 0) return 0;
    t_quickSysDict& quick = t_singleton<t_quickSysDict>::Get();
    const t_lstr* label = nullptr;
    int counted = 0, added = 0;
    for (int l = 0; l < 2; ++l) {
        for (int i = 0; i < count && i < lengths[l]; ++i) {
            const t_candWord* c = lists[l][i];
            if (!c) continue;
            if ((c->kind == kCandKindPinned && c->wantedPlace > 10) ||
                (c->sourceType & ~(kCandSourceFlag | kCandSourceMerged)) == kNoCharArtSource)
                continue;
            if (++counted > 10) return added;
            if (c->coveredLength != inputLength || !c->text) continue;
            t_quickEntry** entries = nullptr;
            uint32_t n = 0;
            if (!quick.Lookup(*pool, c->text, &entries, &n) || !entries) continue;
            for (uint32_t e = 0; e < n; ++e) {
                if (!entries[e] || !entries[e]->text) continue;
                t_candWord* w = t_candWord::NewSpecial(*pool);
                if (!w) break;
                const t_lstr* second = nullptr;
                if (entries[e]->b == 2) {
                    if (!label) label = Label(*pool, L"字符画：");
                    second = label ? pool->ConcatLstr(label, c->text) : nullptr;
                }
                t_candWord::SetText(w, entries[e]->text, second);
                w->coveredLength = c->coveredLength;
                w->multiChar = LstrGetLength(entries[e]->text) > 2 ? 1 : 0;
                w->wantedPlace = int16_t(entries[e]->a);
                w->kind = kCandKindPinned;
                w->sourceType = kCandSourceCharArt;
                w->rank = kCandCharArtRank;
                w->orderNumber = entries[e]->b;
                array->AddChecked(w, nullptr);
                ++added;
            }
            if (added > 0) return added;
        }
    }
    return added;
}

int AddFixFirstCandidates(const wchar_t* input, t_arrayWord* array, t_scopeHeap* pool, bool debug) {
    if (!input || !*input || !array || !pool) return 0;
    const t_lstr* key = WideToLstr16(*pool, input);
    t_fixedWord fixed{};
    if (!key || !t_singleton<t_fixFirstDict>::Get().GetFixedWord(*pool, key, &fixed) || !fixed.word)
        return 0;
    t_candWord* w = t_candWord::NewSpecial(*pool);
    if (!w) return 0;
    t_candWord::SetText(w, fixed.word, nullptr);
    w->syllableIds = fixed.second;
    w->segmentList = fixed.third;
    w->coveredLength = uint32_t(std::wcslen(input));
    w->multiChar = LstrGetLength(fixed.word) > 1 ? 1 : 0;
    w->wantedPlace = 1;
    w->kind = kCandKindPinned;
    w->sourceType = kCandSourceFixedFirst;
    w->rank = kCandFixedFirstRank;
    w->nameMark = kCandNameMarkFixed;
    if (debug) w->debugText = Label(*pool, L"-固首词");
    array->AddChecked(w, nullptr);
    return 1;
}
