// Context scoring of system and user words and the syllable check of user
// words. One conversion on one thread.
#include "kernel/convert/freq_adjust.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "kernel/convert/input_lattice.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/recent_cache.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

constexpr int kMaxCheckedId = 440;
constexpr int32_t kFarStart = 99999;
// How the data build prices a path step from a to b (tools/lexicon_build):
// b's unigram record, the pair (stored: kPairBase + cost(b | a) - cost(b),
// kShortPair lower for two one-character words; else a's cap), kShortPair
// back for two one-character words, and the step.
constexpr int64_t kPairBase = n_gram::kNeutral - 150;
constexpr int64_t kShortPair = 175;
constexpr int64_t kPathStep = 100;

// An order number on the scale of costs keeps its sign.
int32_t ClampOrder(int64_t order) {
    return int32_t(std::clamp<int64_t>(order, INT32_MIN, INT32_MAX));
}

bool NearOne(double p, double eps) {
    return std::fabs(p - 1.0) <= eps;
}

const t_gramInfo* GramOf(const t_sysDict* sys) {
    return sys && sys->IsReady() ? sys->GetGram() : nullptr;
}

// The word before and a word joined into one (its syllables and its text),
// with room for `Ids` syllables and `Units` text units; Join is false when
// a part is missing or the two do not fit.
template <size_t Ids, size_t Units>
struct t_joinedWord {
    uint8_t idBuf[2 + 2 * Ids];
    uint8_t textBuf[2 + 2 * Units];
    const t_lstr* ids() const { return reinterpret_cast<const t_lstr*>(idBuf); }
    const t_lstr* text() const { return reinterpret_cast<const t_lstr*>(textBuf); }
    bool Join(const t_lstr* beforeIds, const t_lstr* beforeText, const t_lstr* wordIds,
              const t_lstr* wordText) {
        return beforeIds && beforeText && wordIds && wordText &&
               LstrConcatBounded(reinterpret_cast<t_lstr*>(idBuf), sizeof idBuf, beforeIds,
                                 wordIds) &&
               LstrConcatBounded(reinterpret_cast<t_lstr*>(textBuf), sizeof textBuf, beforeText,
                                 wordText);
    }
};

uint32_t EntryGram(const t_sysDict* sys, uint32_t entry) {
    uint32_t off = 0, gram = 0;
    uint8_t more = 0;
    uint16_t cost = 0;
    if (!sys || !sys->GetWordRecord(entry, &off, &cost, &gram, &more)) gram = 0;
    return gram;
}

// The common one-character words whose pairs say little about what follows
// a few words later: their gram ids, through each character's first reading.
bool IsCommonChar(const t_sysDict* sys, const t_hzDict* hz, int32_t gramId) {
    static const wchar_t kChars[] =
        L"的了在他我和是她有你就不地也很被要到上都这那还会去来为用人给能中个对里说又做把";
    static const t_sysDict* builtFor = nullptr;
    static const t_hzDict* builtWith = nullptr;
    static uint32_t grams[64];
    static int count = 0;
    if (builtFor != sys || builtWith != hz) {  // the set follows the dictionaries it was built from
        builtFor = sys;
        builtWith = hz;
        count = 0;
        for (const wchar_t* c = kChars; *c && sys && hz && count < 64; ++c) {
            uint16_t readings[16];
            const int n = hz->GetCharPinyinIds(uint32_t(*c), readings, 16);
            for (int r = 0; r < n; ++r) {
                const uint16_t idUnits[2] = {2, readings[r]};
                const uint16_t textUnits[2] = {2, uint16_t(*c)};
                uint32_t gram = 0;
                if (sys->FindWord(reinterpret_cast<const t_lstr*>(idUnits),
                                  reinterpret_cast<const t_lstr*>(textUnits), nullptr, nullptr,
                                  &gram) &&
                    gram) {
                    grams[count++] = gram;
                    break;
                }
            }
        }
    }
    for (int i = 0; i < count; ++i)
        if (grams[i] == uint32_t(gramId)) return true;
    return false;
}

}  // namespace

void t_freqAdjust::Init(const t_adjustSources& sources, int32_t userWords, int32_t scale) {
    src = sources;
    const t_gramInfo* g = GramOf(src.sys);
    for (int i = 0; i < 2; ++i)
        contextUnigrams[i] =
            ids[i] > 0 && ids[i] != kNumberContextId ? GramGetUnigramFreq(g, uint32_t(ids[i])) : 0;
    contextNet = -1;
    uint32_t off = 0, gram = 0;
    uint16_t cost = 0;
    if (g && contextIds && contextText &&
        src.sys->FindWordEx(contextIds, contextText, nullptr, &off, &cost, &gram))
        contextNet = int32_t(src.sys->ListCost(cost, gram, LstrGetLength(contextText))) -
                     src.sys->GetNetOfPath();
    userSize = userWords;
    userScale = userWords <= 999 ? 1048576 : (scale < 1 ? 1 : scale);
    userAverage = scale < 1 ? 1 : scale;
    systemBudget = userBudget = 0;
}

bool t_freqAdjust::HasContext() const {
    if (contextText) return true;
    for (int32_t id : ids)
        if (id > 0) return true;
    return false;
}

void t_freqAdjust::ComputeSystem(const t_wordArc& arc, uint32_t firstGram) {
    systemBudget = userBudget = 0;
    if (!HasContext()) return;
    threshold = contextUnigrams[0] + GramGetUnigramFreq(GramOf(src.sys), firstGram) + 250;
    plainOrder = UnpairedOrder(firstGram);  // until the caller names the likeliest word
    const uint32_t bytes = LstrGetByteLength(contextText) + LstrGetByteLength(arc.ids);
    userBudget = contextText && bytes < 11 ? kBudget : 0;
    bool anyId = false;
    for (int32_t id : ids) anyId |= id >= 1;
    systemBudget = anyId && (arc.syllables != 1 || NearOne(arc.prob, 0.0001)) ? kBudget : 0;
}

int64_t t_freqAdjust::CostAlone(uint32_t gram, int32_t listCost) const {
    const t_gramInfo* g = GramOf(src.sys);
    const int64_t net = src.sys ? src.sys->GetNetOfPath() : 0;
    if (gram && g) return GramGetUnigramFreq(g, gram) + net;
    return listCost < kCandNoPower ? int64_t(listCost) : n_gram::kMissingFreq + net;
}

void t_freqAdjust::SetPlainWord(const t_lstr* wordIds, const t_lstr* text, uint32_t gram,
                                int32_t listCost) {
    const int64_t wordNet = CostAlone(gram, listCost) - (src.sys ? src.sys->GetNetOfPath() : 0);
    plainOrder = -(PairCap() + wordNet);
    int64_t parts = 0, read = 0;
    if (ComposedCost(wordIds, text, &parts) && ImpliedOrder(parts, wordNet, &read))
        plainOrder = std::max(plainOrder, read);
}

int t_freqAdjust::ComputeCacheAdjust(const t_lstr* wordIds, const t_lstr* text, bool allowBigram,
                                     bool exact, int32_t* value, uint8_t* direct,
                                     t_adjustOrigin* origin) const {
    *value = 0;
    *direct = 0;
    t_adjustOrigin none;
    if (!origin) origin = &none;
    *origin = t_adjustOrigin::kNone;
    if (!contextText || !src.sys) return 0;
    t_caValue hit;
    if (Continuation(wordIds, text, &hit)) {
        *value = hit.weight;
        *origin = t_adjustOrigin::kCache;
        switch (hit.source) {
            case 16:
            case t_CAStringCache::kSourceSystem:
                // The word before and this one make a system word.
                if (exact) return 0;
                *value = int32_t(hit.weight) - src.sys->GetNetOfPath();
                *direct = hit.flag;
                *origin = t_adjustOrigin::kJoined;
                return 1;
            case 64:
                return 32;
            case 128:
                return 64;
            default:
                return 0;
        }
    }
    const uint32_t units = LstrGetLength(contextText) + LstrGetLength(text);
    if (units >= 6) return 0;
    if (allowBigram) {
        const t_gramInfo* g = GramOf(src.sys);
        uint32_t off = 0, gram = 0;
        uint16_t cost = 0;
        if (ids[0] > 0 && ids[0] != kNumberContextId && wordIds &&
            src.sys->FindWordEx(wordIds, text, nullptr, &off, &cost, &gram) && gram) {
            uint8_t found = 0, flag1 = 0;
            const int32_t b =
                GramGetBigramScore(g, uint32_t(ids[0]), gram, &found, true, false, nullptr, &flag1);
            if (b != n_gram::kNoScore) {
                *value = b;
                *origin = t_adjustOrigin::kPair;
                return (flag1 & 0x10) ? 64 : 32;
            }
        }
    }
    // Filled continuations already hold every system word the two make.
    if (exact || src.continuations || !JoinedWordCost(wordIds, text, value)) return 0;
    *origin = t_adjustOrigin::kJoined;
    return 1;
}

bool t_freqAdjust::Continuation(const t_lstr* wordIds, const t_lstr* text, t_caValue* hit) const {
    if (!src.continuations || !contextText || !contextIds || !wordIds) return false;
    src.continuations->FillFor(contextText, contextIds, wordIds, src.sys, src.user);
    return src.continuations->Lookup(text, hit) != 0;
}

bool t_freqAdjust::JoinedWordCost(const t_lstr* wordIds, const t_lstr* text, int32_t* cost) const {
    if (!src.sys || !contextText) return false;
    // The filled continuations hold every system word the two make, unless
    // the user's own word of the same text took its place.
    t_caValue hit;
    if (src.continuations && !Continuation(wordIds, text, &hit)) return false;
    if (src.continuations && hit.source <= t_CAStringCache::kSourceSystem) {
        *cost = int32_t(hit.weight) - src.sys->GetNetOfPath();
        return true;
    }
    t_joinedWord<12, 12> joined;
    if (!joined.Join(contextIds, contextText, wordIds, text)) return false;
    uint32_t off = 0, gram = 0;
    uint16_t stored = 0;
    if (!src.sys->FindWordEx(joined.ids(), joined.text(), nullptr, &off, &stored, &gram))
        return false;
    *cost = int32_t(src.sys->ListCost(stored, gram, LstrGetLength(joined.text()))) -
            src.sys->GetNetOfPath();
    return true;
}

bool t_freqAdjust::ComposedCost(const t_lstr* wordIds, const t_lstr* text, int64_t* cost) const {
    const t_gramInfo* g = GramOf(src.sys);
    const int32_t before = PairId();
    const uint32_t n = LstrGetLength(text);
    if (!g || before <= 0 || !wordIds || n < 2 || n > kComposedChars || LstrGetLength(wordIds) != n)
        return false;
    // piece[i][j]: the gram id of the characters i..j-1 read as one system
    // word, 0 when they are none (the whole word is not a piece).
    uint32_t piece[kComposedChars][kComposedChars + 1] = {};
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t j = i + 1; j <= n; ++j) {
            if (i == 0 && j == n) continue;
            uint8_t idBuf[2 + 2 * kComposedChars], textBuf[2 + 2 * kComposedChars];
            auto* partIds = reinterpret_cast<t_lstr*>(idBuf);
            auto* partText = reinterpret_cast<t_lstr*>(textBuf);
            LstrSetByteLength(partIds, uint16_t(2 * (j - i)));
            LstrSetByteLength(partText, uint16_t(2 * (j - i)));
            for (uint32_t k = i; k < j; ++k) {
                LstrSetUnit(partIds, k - i, LstrGetUnit(wordIds, k));
                LstrSetUnit(partText, k - i, LstrGetUnit(text, k));
            }
            uint32_t gram = 0;
            if (src.sys->FindWord(partIds, partText, nullptr, nullptr, &gram)) piece[i][j] = gram;
        }
    // A step as a sentence pays it (GramGetWordPairScore, without the
    // unigram flags the data leaves clear).
    const auto step = [&](int32_t left, bool leftOne, uint32_t right, bool rightOne) {
        uint8_t found = 0;
        const int32_t b =
            GramGetBigramScore(g, uint32_t(left), right, &found, false, false, nullptr, nullptr);
        const int64_t pair = found ? b : GramGetPairCap(g, uint32_t(left));
        return pair + (leftOne && rightOne ? kShortPair : 0) + GramGetUnigramFreq(g, right) +
               kPathStep;
    };
    const bool beforeOne = ids[1] <= 0 && contextText && LstrGetLength(contextText) == 1;
    // best[j][i]: the cheapest path over characters 0..j-1 ending in piece i..j-1.
    int64_t best[kComposedChars + 1][kComposedChars];
    for (auto& row : best) std::fill(std::begin(row), std::end(row), INT64_MAX);
    for (uint32_t j = 1; j <= n; ++j)
        for (uint32_t i = 0; i < j; ++i) {
            if (!piece[i][j]) continue;
            if (i == 0) {
                best[j][0] = step(before, beforeOne, piece[0][j], j == 1);
                continue;
            }
            for (uint32_t k = 0; k < i; ++k)
                if (best[i][k] != INT64_MAX)
                    best[j][i] =
                        std::min(best[j][i], best[i][k] + step(int32_t(piece[k][i]), i - k == 1,
                                                               piece[i][j], j - i == 1));
        }
    *cost = INT64_MAX;
    for (uint32_t i = 1; i < n; ++i) *cost = std::min(*cost, best[n][i]);
    return *cost != INT64_MAX;
}

bool t_freqAdjust::ImpliedOrder(int64_t follow, int64_t wordNet, int64_t* order,
                                bool unseen) const {
    if (!GramOf(src.sys)) return false;
    const int64_t cap = PairCap();
    // A continuation the model's pairs never saw (it keeps the joined word
    // as one unit) lies within what its back-off leaves for such: it reads
    // as the cap does, refined by how much likelier the joined word makes
    // this word than its unigram does, at that price, not a class's.
    const int64_t score = (unseen ? cap : kPairBase) + follow - (wordNet + src.sys->GetNetOfPath());
    int64_t nearest = n_gram::kClassScores[0];
    if (unseen)
        nearest = std::max<int64_t>(score, nearest);
    else
        for (int32_t c : n_gram::kClassScores)
            if (std::llabs(score - c) < std::llabs(score - nearest)) nearest = c;
    // As the data build stores a pair: above the lowest class, read under
    // the cap, and left out when the cap alone is as near. So the word is
    // never raised beyond the strongest pair by how common the word it
    // makes is.
    const int64_t stored = std::min(cap, nearest);
    if (std::llabs(score - stored) >= std::llabs(score - cap)) return false;
    *order = -(stored + wordNet);
    return true;
}

bool t_freqAdjust::ReadingOrder(const t_lstr* text, int64_t wordNet, const int32_t* joined,
                                int64_t* order) const {
    bool any = false;
    int64_t found = 0;
    if (joined && contextNet >= 0) {
        const int64_t follow = int64_t(*joined) - contextNet;
        // Two characters typed one by one that make a word (跳舞, 注意):
        // pairs of two one-character words are stored kShortPair lower and
        // many of them sit on the classes' floor, where they no longer say
        // how strong they are; the word prices the second character as the
        // model does, by its cost beyond the first. (Measured on the
        // phrases' neighbouring characters, the classes lost 1.9 points of
        // the second character first, the classes without their floor 0.9.)
        if (LstrGetLength(contextText) == 1 && LstrGetLength(text) == 1) {
            *order = -follow;
            any = true;
        } else if (ImpliedOrder(follow, wordNet, &found, true)) {
            *order = found;
            any = true;
        }
    }
    return any;
}

int32_t t_freqAdjust::PairId() const {
    return ids[1] > 0 ? ids[1] : (ids[0] != kNumberContextId ? ids[0] : 0);
}

int64_t t_freqAdjust::PairCap() const {
    const t_gramInfo* g = GramOf(src.sys);
    const int32_t pairId = PairId();
    return pairId > 0 && g ? GramGetPairCap(g, uint32_t(pairId)) : n_gram::kNeutral;
}

int64_t t_freqAdjust::UnpairedOrder(uint32_t gram) const {
    return -PairCap() - GramGetUnigramFreq(GramOf(src.sys), gram);
}

int64_t t_freqAdjust::BackoffOrder(uint32_t gram) const {
    return gram && PairId() > 0 && GramOf(src.sys) ? UnpairedOrder(gram) : kUnpairedOrder;
}

int64_t t_freqAdjust::FollowOrder(const t_lstr* wordIds, const t_lstr* text, uint32_t gram) const {
    const t_gramInfo* g = GramOf(src.sys);
    if (!gram || !g) return kUnpairedOrder;
    int64_t order = BackoffOrder(gram);
    uint8_t found = 0;
    const int32_t b = PairId() > 0 ? GramGetBigramScore(g, uint32_t(PairId()), gram, &found, false,
                                                        false, nullptr, nullptr)
                                   : 0;
    if (found) order = -int64_t(b) - GramGetUnigramFreq(g, gram);
    int32_t joined = 0;
    int64_t read = 0;
    if (JoinedWordCost(wordIds, text, &joined) &&
        ReadingOrder(text, GramGetUnigramFreq(g, gram), &joined, &read))
        order = std::max(order, read);
    return order;
}

int64_t t_freqAdjust::LearnedBonus(int64_t uses, int64_t cost) const {
    if (uses <= 0) return 0;
    const double expected = std::exp(-double(cost) * kNatsPerCostUnit);
    const double total = src.user && src.user->IsLoaded() ? double(src.user->GetTotalFreq())
                                                          : double(userAverage) * userSize;
    // (uses + prior x expected) / (total + prior), over expected.
    const double ratio =
        (double(uses) / expected + kPriorUses) / (std::max(total, double(uses)) + kPriorUses);
    return ratio > 1 ? int64_t(std::log(ratio) / kNatsPerCostUnit) : 0;
}

bool t_freqAdjust::UserTypedAfter(const t_lstr* wordIds, const t_lstr* text) const {
    // Joined commits are learned up to kJoinedWordMaxChars characters (two
    // units each at most).
    t_joinedWord<kJoinedWordMaxChars, 2 * kJoinedWordMaxChars> joined;
    if (!src.user || !src.user->IsLoaded() || !joined.Join(contextIds, contextText, wordIds, text))
        return false;
    t_usrWordAttr attr;
    return src.user->GetWordRecord(joined.ids(), joined.text(), &attr) && attr.freq > 0 &&
           (attr.flags & kUsrFlagJoined) && !(attr.flags & kUsrFlagHidden);
}

bool t_freqAdjust::DemoteRecent(t_candWord* w) const {
    if (!recentText || recentLength <= 0 || !w->text) return false;
    const size_t have = std::wcslen(recentText);
    const size_t n = LstrGetLength(w->text);
    if (n == 0 || n > have || n > size_t(recentLength)) return false;
    const wchar_t* tail = recentText + have - n;
    for (size_t i = 0; i < n; ++i)
        if (uint32_t(tail[i]) != LstrGetUnit(w->text, i)) return false;
    w->sourceType = kCandSourceSystem;
    w->rank = int16_t(std::min<int32_t>(w->rank + 100, kCandNoPower));
    return true;
}

int t_freqAdjust::ComputeInputHistory(t_candWord* w, int32_t f, int32_t s, double p, int32_t uses) {
    if (DemoteRecent(w)) return 1;
    const int syllables = LstrGetLength(w->syllableIds);
    const int64_t h = s / 2;
    const uint32_t bytes = LstrGetByteLength(contextText) + LstrGetByteLength(w->syllableIds);
    // After a word, a user word stands on the scale of the system words that
    // word raises (how well it follows the word, minus a cost). Its use
    // lifts it where the word before leaves it to its unigram (its
    // back-off); a stored pair or joined word keeps its own price, so a
    // word chosen alone does not outweigh what the word before says for
    // another (可能 then xiang stays 想 after 向 was chosen once alone).
    // Without a word before, its use alone orders it.
    const bool scaled = HasContext();
    int64_t learned = int64_t(f) + s;
    if (scaled) {
        const uint32_t gram = uint32_t(w->frequency);
        // Its frequency, not its weight: the weight curve lifts a word just
        // used towards many times the average, and one choice is one. It is
        // weighed against the word's cost alone.
        const int64_t chosen = int64_t(uses >= 0 ? uses : f) + s;
        learned = std::max(FollowOrder(w->syllableIds, w->text, gram),
                           BackoffOrder(gram) + LearnedBonus(chosen, CostAlone(gram, w->rank)));
    }
    // A word the user typed right after this word before follows it as the
    // user writes, above the words the statistics raise (工作 then 是,
    // chosen once, is first after 工作 the next time).
    if (scaled && !singleLock && UserTypedAfter(w->syllableIds, w->text)) {
        w->adjustFlags = kAdjustComposedUser;
        w->orderNumber = ClampOrder(learned + kTypedRaise);
        return 1;
    }
    bool done = false;
    if (contextText && !singleLock && !exactLock && bytes < 11) {
        int32_t value = 0;
        uint8_t direct = 0;
        t_adjustOrigin origin = t_adjustOrigin::kNone;
        const int r = ComputeCacheAdjust(w->syllableIds, w->text, true, exactLock != 0, &value,
                                         &direct, &origin);
        if (r == 32 || r == 64) {
            // A continuation the user typed (a cache hit) outweighs the
            // statistics; a stored pair is already part of the scale.
            w->orderNumber =
                origin == t_adjustOrigin::kCache || !scaled
                    ? SaturatedOrderSum(int64_t(f * 0.2), int64_t(10) * value + kTypedRaise)
                    : ClampOrder(learned);
            w->adjustFlags = uint32_t(r);
            done = true;
        }
    }
    if (!done && syllables > 1 && !singleLock && t_usrInputCache::IsCachedLength(syllables) &&
        src.recentInputs) {
        if (src.recentInputs->Contains(w->text)) {
            w->adjustFlags = kAdjustUserCache;
            w->orderNumber = scaled ? ClampOrder(learned + kTypedRaise)
                                    : SaturatedOrderSum(learned, kTypedRaise);
            return 1;
        }
    }
    if (!done) {
        w->orderNumber = scaled               ? ClampOrder(learned)
                         : (f == 0 && s == 0) ? -1000
                                              : SaturatedOrderSum(f, s);
        w->adjustFlags = kAdjustPlainUser;
        if (contextIds && syllables == 1 && NearOne(p, 0.0001) &&
            int64_t(f) > 3 * int64_t(userScale)) {
            w->adjustFlags = kAdjustFrequentUser;
            w->orderNumber = ClampOrder(int64_t(w->orderNumber) + h + 2500);
            return 1;
        }
        return 0;
    }
    if (int64_t(f) > 6 * int64_t(userScale)) {
        w->orderNumber = ClampOrder(int64_t(w->orderNumber) + h + 2500);
        w->adjustFlags |= kAdjustFrequentUser;
    }
    return 1;
}

int t_freqAdjust::ScoreAssociationWord(t_candWord* w, uint32_t entry, int32_t power,
                                       int32_t extra) {
    if (DemoteRecent(w)) {
        w->kind = kCandKindScored;
        return 0;
    }
    const t_gramInfo* g = GramOf(src.sys);
    const uint8_t attr = src.sys ? src.sys->GetWordFlags(entry) : 0;
    const uint32_t gram = EntryGram(src.sys, entry);
    const int32_t u = GramGetUnigramFreq(g, gram);
    const int syllables = LstrGetLength(w->syllableIds);
    const bool gatesOk = (syllables == 1 ? extra == 0 : !singleLock) && !(exactLock && extra != 0);
    // A raised word's order number is mostly negative (minus the pair's and
    // the word's costs): kept as it is, so that the word before decides
    // between the words it raises.
    auto raise = [&](uint32_t flags, int64_t order) {
        w->kind = kCandKindUser;
        w->adjustFlags |= flags;
        w->orderNumber = ClampOrder(order);
        return 1;
    };
    if (ids[0] == kNumberContextId && systemBudget > 0 && extra == 0 &&
        (attr & n_sysDict::kFlagNumber)) {
        --systemBudget;
        return raise(kAdjustNumber, 3);
    }
    // The pair with the nearest context word: the two last committed words
    // joined when they make a system word, else the word just before.
    const int32_t pairId = PairId();
    bool paired = false;
    int64_t pairOrder = 0;
    if (pairId > 0 && systemBudget > 0 && gatesOk && gram) {
        uint8_t found = 0;
        // Only stored pairs count: a pair guessed by back-off says too little
        // to move a word above those with a stored pair.
        const int32_t b =
            GramGetBigramScore(g, uint32_t(pairId), gram, &found, false, false, nullptr, nullptr);
        paired = found != 0;
        pairOrder = -int64_t(b) - u;
    }
    // Where the statistics hold no pair because the word before and this
    // one make a word (特别是), that word stands for the pair, priced as the
    // pair the data build would store. Such a reading goes above the words
    // left where they are only when it follows better than the likeliest
    // of them would (plainOrder), and better than its own pair.
    int32_t joined = 0;
    bool makesWord = false;
    if (contextText && userBudget > 0 && gatesOk) {
        uint8_t direct = 0;
        t_adjustOrigin origin = t_adjustOrigin::kNone;
        const int r = ComputeCacheAdjust(w->syllableIds, w->text, false, exactLock != 0, &joined,
                                         &direct, &origin);
        if ((r == 32 || r == 64) && !paired) {
            --userBudget;
            return raise(kAdjustComposedUser, int64_t(joined) + kTypedRaise);
        }
        makesWord = r == 1 ? origin == t_adjustOrigin::kJoined
                           : r != 0 && JoinedWordCost(w->syllableIds, w->text, &joined);
    }
    const int64_t wordNet = gram ? u : int64_t(power) - (src.sys ? src.sys->GetNetOfPath() : 0);
    int64_t read = 0;
    if (gatesOk && makesWord && ReadingOrder(w->text, wordNet, &joined, &read) &&
        read > plainOrder && (!paired || read > pairOrder)) {
        --(userBudget > 0 ? userBudget : systemBudget);
        return raise(kAdjustComposedSystem, read);
    }
    // A stored pair raises the word only where it follows better than the
    // likeliest word left where it is would (plainOrder): the weak pair of
    // a rare character (所以 试, 我 不时) does not put it over the common
    // one the statistics prefer there (是, 不是).
    if (paired && pairOrder >= plainOrder) {
        --systemBudget;
        return raise(kAdjustPairBigram, pairOrder);
    }
    if (!singleLock && !exactLock && systemBudget > 0 && gram) {
        int64_t best = kFarStart, bestPair = 0;
        for (int i = 0; i < 3; ++i) {
            const int32_t id = ids[2 + i];
            if (id <= 0 || IsCommonChar(src.sys, src.hz, id)) continue;
            uint8_t found = 0;
            const int32_t b =
                GramGetBigramScore(g, uint32_t(id), gram, &found, false, false, nullptr, nullptr);
            if (!found) continue;
            const int64_t sum = int64_t(b) + distanceTerms[i] + u;
            if (sum < best) {
                best = sum;
                bestPair = b;
            }
        }
        if (best < threshold) {
            --systemBudget;
            return raise(kAdjustLastWordBigram, -bestPair - u);
        }
    }
    w->kind = kCandKindScored;
    return 0;
}

namespace {

int32_t GramIdOf(const t_sysDict* sys, const t_lstr* ids, const t_lstr* text) {
    uint32_t gram = 0;
    if (!sys || !sys->IsReady() || !ids || !text ||
        !sys->FindWord(ids, text, nullptr, nullptr, &gram))
        return 0;
    return int32_t(gram);
}

}  // namespace

void PrepareContextAdjust(t_freqAdjust* adjust, const t_adjustRequest& request) {
    adjust->contextText = adjust->contextIds = nullptr;
    for (int32_t& id : adjust->ids) id = 0;
    adjust->recentText = nullptr;
    adjust->recentLength = 0;
    if (!request.on) return;
    adjust->contextText = request.wordText;
    adjust->contextIds = request.wordIds;
    adjust->recentText = request.recentText;
    adjust->recentLength = request.recentLength;
    const t_sysDict* sys = adjust->src.sys;
    if (request.number) {
        adjust->ids[0] = kNumberContextId;
    } else if (request.wordId > 0) {
        adjust->ids[0] = request.wordId;
    } else if (request.wordText && request.wordIds) {
        adjust->ids[0] = GramIdOf(sys, request.wordIds, request.wordText);
    } else if (request.recentLength > 0 && request.recentText && request.submitted &&
               size_t(request.recentLength) >= std::wcslen(request.recentText)) {
        // The recent text is compared whole: the newest committed word precedes.
        const t_lstr *key = nullptr, *text = nullptr;
        request.submitted->Get(0, &key, &text);
        if (key && text) {
            adjust->contextText = text;
            adjust->contextIds = key;
            adjust->ids[0] = GramIdOf(sys, key, text);
        }
    } else if (request.recentLength > 0 && request.recentText && request.submitted) {
        // Only the tail of the recent text is compared: when the newest commit
        // reads it one syllable a character, its last syllables and the text's
        // last characters make the preceding word.
        const size_t chars = std::wcslen(request.recentText);
        const size_t tail = size_t(request.recentLength);
        const t_lstr *key = nullptr, *text = nullptr;
        request.submitted->Get(0, &key, &text);
        if (key && size_t(LstrGetByteLength(key)) == 2 * chars &&
            tail <= t_freqAdjust::kTailUnits) {
            auto* ids = reinterpret_cast<t_lstr*>(adjust->tailIds);
            auto* words = reinterpret_cast<t_lstr*>(adjust->tailText);
            LstrSetByteLength(ids, uint16_t(2 * tail));
            LstrSetByteLength(words, uint16_t(2 * tail));
            bool bmp = true;
            for (size_t i = 0; i < tail; ++i) {
                const wchar_t c = request.recentText[chars - tail + i];
                bmp = bmp && uint32_t(c) <= 0xFFFF;
                LstrSetUnit(ids, i, LstrGetUnit(key, chars - tail + i));
                LstrSetUnit(words, i, uint16_t(c));
            }
            if (bmp) {
                adjust->contextText = words;
                adjust->contextIds = ids;
                adjust->ids[0] = GramIdOf(sys, ids, words);
            }
        }
    }
    for (int i = 0; i < 3; ++i) {
        adjust->ids[2 + i] = request.earlierIds[i];
        adjust->distanceTerms[i] = request.distanceTerms[i];
    }
    if (request.pair && request.submitted) {
        const t_lstr *key0 = nullptr, *text0 = nullptr, *key1 = nullptr, *text1 = nullptr;
        request.submitted->Get(1, &key0, &text0);  // the older one comes first
        request.submitted->Get(0, &key1, &text1);
        constexpr uint32_t kBytes = 2 + 2 * 22;
        uint8_t ids[kBytes], text[kBytes];
        if (key0 && text0 && key1 && text1 &&
            LstrConcatBounded(reinterpret_cast<t_lstr*>(ids), kBytes, key0, key1) &&
            LstrConcatBounded(reinterpret_cast<t_lstr*>(text), kBytes, text0, text1))
            adjust->ids[1] =
                GramIdOf(sys, reinterpret_cast<t_lstr*>(ids), reinterpret_cast<t_lstr*>(text));
    }
}

namespace {

int ReadsAs(const t_pyDict* py, const t_hzDict* hz, const t_lstr* ids, const t_lstr* text) {
    const int n = LstrGetLength(ids);
    if (!ids || !text || n == 0 || n != LstrGetLength(text)) return 0;
    uint16_t readings[64];
    for (int i = 0; i < n; ++i) {
        const uint16_t id = LstrGetUnit(ids, size_t(i));
        const uint16_t ch = LstrGetUnit(text, size_t(i));
        if (id > kMaxCheckedId) return 0;
        if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')) {
            if (!py || py->GetLetterId(ch) != id) return 0;
            continue;
        }
        if (!hz) continue;  // no character readings to check against
        const int count = hz->GetCharPinyinIds(ch, readings, 64);
        bool has = false;
        for (int k = 0; k < count && !has; ++k) has = readings[k] == id;
        if (!has) return 0;
    }
    return 1;
}

}  // namespace

int CheckWordPinyin(const t_pyDict* py, const t_hzDict* hz, const t_lstr* ids, const t_lstr* text,
                    int mode) {
    if (ReadsAs(py, hz, ids, text)) return 1;
    if (mode == 1 || mode == 2) {
        t_configurationImpl& config = t_singleton<t_configurationImpl>::Get();
        const t_configItem& counter =
            mode == 1 ? n_config::PinyinMismatchCount1 : n_config::PinyinMismatchCount2;
        const int32_t count = config.GetInt(counter);
        if (count < INT32_MAX) config.SetInt(counter, count + 1);  // a full counter stays full
    }
    return 0;
}

void FormatAdjustFlags(std::wstring& out, uint32_t flags) {
    static const struct {
        uint32_t bit;
        const wchar_t* label;
    } kLabels[] = {{0x1, L"合成系统词 "},       {0x2, L"合成二元 "},
                   {0x4, L"与前两字合成二元 "}, {0x8, L"单纯用户词 "},
                   {0x10, L"高频用户词 "},      {0x20, L"合成用户词 "},
                   {0x40, L"用户二元 "},        {0x80, L"用户cache "},
                   {0x100, L"数字调频 "},       {0x200, L"组词上文末尾元词二元调频 "},
                   {0x800, L"系统远距离调频 "}, {0x1000, L"用户远距离调频 "}};
    const size_t before = out.size();
    for (const auto& l : kLabels)
        if (flags & l.bit) out += l.label;
    if (out.size() == before) out += L"未知调频 ";
}
