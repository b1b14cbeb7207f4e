// One-edit variants of the typed letters, their prices, the choice among
// them and the mapping of corrected syllable ends. One conversion's thread.
#include "kernel/convert/spell_variants.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <new>

#include "kernel/convert/cand_array.h"
#include "kernel/lexicon/letter_tables.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/lexicon/spell_model.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

namespace {

constexpr int32_t kBaseCost[5] = {0, 200, -20, -20, -100};  // by kind: sub, del, ins, swap
constexpr int32_t kVowelEndBonus = 100;
constexpr int32_t kSureBonus = 500;
constexpr double kSure = 0.98;
constexpr double kNoReading = 1e-8;
// How much worse than the keys as typed a correction of input on the way,
// or of a sure reading, may read and still be shown.
constexpr int64_t kNearReading = 500;
constexpr const wchar_t* kInsertedFirst = L"abcdefghijklmnopqrstwxyz";

// Corrections taken from the adjustment cache, process-wide.
std::atomic<uint32_t> g_cacheCorrections{0};

bool IsLetter(wchar_t c) {
    return c >= L'a' && c <= L'z';
}
bool IsVowel(wchar_t c) {
    return c == L'a' || c == L'e' || c == L'i' || c == L'o' || c == L'u';
}

}  // namespace

t_spellCorrector::t_spellCorrector(t_scopeHeap* arena, const t_spellModels& models,
                                   bool singleAnswer)
    : m_arena(arena), m_models(models), m_single(singleAnswer) {}

int32_t t_spellCorrector::Prior(const wchar_t* typed, int length, int32_t kind, int32_t position,
                                wchar_t letter) const {
    const wchar_t first = typed[0];
    if (position == 0) {
        if (kind == kEditSubstitute && first == L'e') return 0;
        if (kind == kEditDelete && first == L'e') return 200;
        if (kind == kEditDelete && (first == L'i' || first == L'o')) return 250;
    }
    const t_pyDict* py = m_models.py;
    if (!py) return 0;
    const wchar_t prev = position > 0 ? typed[position - 1] : kEditGap;
    const wchar_t at = position < length ? typed[position] : kEditGap;
    switch (kind) {
        case kEditSubstitute:
            return py->GetLetterTrigramValue(at, letter, prev);
        case kEditDelete:
            return py->GetLetterTrigramValue(at, kEditGap, prev);
        case kEditInsert:
            return py->GetLetterTrigramValue(kEditGap, letter, prev);
        case kEditSwap:
            return py->GetLetterXposValue(at, typed[position + 1], prev);
        default:
            return 0;
    }
}

int32_t t_spellCorrector::UserScore(const wchar_t* typed, int32_t kind, int32_t position,
                                    wchar_t letter) const {
    const t_userSpellModelDict* user = m_models.user;
    if (!user) return 0;
    const wchar_t prev = position > 0 ? typed[position - 1] : kEditGap;
    switch (kind) {
        case kEditSubstitute:
            return user->GetInsDelSubScore(typed[position], letter, prev);
        case kEditDelete:
            return user->GetInsDelSubScore(typed[position], kEditGap, prev);
        case kEditInsert:
            return user->GetInsDelSubScore(kEditGap, letter, prev);
        case kEditSwap:
            return user->GetXposScore(typed[position], typed[position + 1], prev);
        default:
            return 0;
    }
}

bool t_spellCorrector::Add(const wchar_t* letters, int length, int32_t kind, int32_t position) {
    if (!m_arena || !letters || length < 1 || length > kMaxInputChars || kind < kEditSubstitute ||
        kind > kEditSwap || !m_letters)
        return false;
    // The letter the edit puts in (substitute, insert).
    const wchar_t letter = kind == kEditSubstitute || kind == kEditInsert ? letters[position] : 0;
    int32_t prior = Prior(m_letters, m_length, kind, position, letter) + kBaseCost[kind];
    const int32_t user = UserScore(m_letters, kind, position, letter);
    const bool atEnd = kind == kEditInsert ? position >= m_length : position >= m_length - 1;
    if (IsVowel(m_letters[0]) && atEnd) prior -= kVowelEndBonus;
    const int32_t cost = prior + user;
    if (m_first && cost > m_first->cost + kDropAbove) return false;
    if (m_single && m_first && cost >= m_first->cost) return false;
    // One entry per spelling: the cheaper edit stays.
    for (t_spellVariant** v = &m_first; *v; v = &(*v)->next) {
        if ((*v)->length == length && std::wmemcmp((*v)->letters, letters, size_t(length)) == 0) {
            if ((*v)->cost <= cost) return false;
            *v = (*v)->next;
            --m_count;
            break;
        }
    }
    auto* text = static_cast<wchar_t*>(
        m_arena->AllocAligned(sizeof(wchar_t) * size_t(length + 1), alignof(wchar_t)));
    auto* node = static_cast<t_spellVariant*>(ArenaAllocAligned(*m_arena, sizeof(t_spellVariant)));
    if (!text || !node) return false;
    std::wmemcpy(text, letters, size_t(length));
    text[length] = 0;
    *node = {text, length, kind, position, prior, user, cost, nullptr};
    if (m_single) {
        m_first = node;
        m_count = 1;
        return true;
    }
    t_spellVariant** at = &m_first;
    while (*at && (*at)->cost <= cost) at = &(*at)->next;
    node->next = *at;
    *at = node;
    ++m_count;
    return true;
}

bool t_spellCorrector::Make(int32_t kind, int32_t position, wchar_t letter) {
    wchar_t out[kMaxPositions + 2];
    const int n = m_length;
    int len = n;
    switch (kind) {
        case kEditSubstitute:
            std::wmemcpy(out, m_letters, size_t(n));
            out[position] = letter;
            break;
        case kEditDelete:
            std::wmemcpy(out, m_letters, size_t(position));
            std::wmemcpy(out + position, m_letters + position + 1, size_t(n - position - 1));
            len = n - 1;
            break;
        case kEditInsert:
            if (n >= kMaxInputChars) return false;
            std::wmemcpy(out, m_letters, size_t(position));
            out[position] = letter;
            std::wmemcpy(out + position + 1, m_letters + position, size_t(n - position));
            len = n + 1;
            break;
        case kEditSwap:
            std::wmemcpy(out, m_letters, size_t(n));
            std::swap(out[position], out[position + 1]);
            break;
        default:
            return false;
    }
    if (len < 1) return false;
    out[len] = 0;
    return Add(out, len, kind, position);
}

void t_spellCorrector::Generate() {
    const wchar_t* a = m_letters;
    const int n = m_length;
    auto letterAt = [&](int i) { return i >= 0 && i < n && IsLetter(a[i]) ? a[i] : wchar_t(0); };
    // Position 0: a leading i, o or e is often a slip of the finger.
    if (!m_blocked[0] && (a[0] == L'i' || a[0] == L'o' || a[0] == L'e')) {
        if (a[0] == L'i' && n > 1) Make(kEditDelete, 0, 0);
        if (a[0] == L'e') {
            Make(kEditSubstitute, 0, L'w');
            Make(kEditSubstitute, 0, L'r');
        }
        for (const wchar_t* c = kInsertedFirst; *c; ++c)
            if (!IsVowel(*c) && *c != a[0]) Make(kEditInsert, 0, *c);
    }
    for (int p = 0; p < n; ++p) {
        if (m_blocked[p] || !letterAt(p)) continue;
        // Swap with the next letter when both new neighbouring triples occur.
        const wchar_t next = letterAt(p + 1);
        if (next && !m_blocked[p + 1] && next != a[p]) {
            const wchar_t before = letterAt(p - 1), after = letterAt(p + 2);
            if ((!before || LetterTrigramExists(before, next, a[p])) &&
                (!after || LetterTrigramExists(next, a[p], after)))
                Make(kEditSwap, p, 0);
        }
        if (p == 0) continue;
        const wchar_t left = letterAt(p - 1);
        if (!left) continue;
        t_letterTrigramIter it;
        if (next) {
            LetterTrigramMiddleIterInit(&it, left, next);
            for (wchar_t c; (c = LetterTrigramMiddleIterNext(&it)) != 0;)
                if (c != a[p]) Make(kEditSubstitute, p, c);
            const wchar_t after = letterAt(p + 2), left2 = letterAt(p - 2);
            if (after ? LetterTrigramExists(left, next, after)
                      : (!left2 || LetterTrigramExists(left2, left, next)))
                Make(kEditDelete, p, 0);
        } else if (const wchar_t left2 = letterAt(p - 2); left2) {
            LetterTrigramThirdIterInit(&it, left2, left);
            for (wchar_t c; (c = LetterTrigramThirdIterNext(&it)) != 0;)
                if (c != a[p]) Make(kEditSubstitute, p, c);
        }
        if (p == n - 1) {
            Make(kEditDelete, p, 0);
            LetterTrigramThirdIterInit(&it, left, a[p]);
            for (wchar_t c; (c = LetterTrigramThirdIterNext(&it)) != 0;) Make(kEditInsert, n, c);
        }
    }
}

bool t_spellCorrector::Begin(const wchar_t* letters, int length) {
    m_first = nullptr;
    m_count = 0;
    m_usedCache = false;
    m_letters = nullptr;
    if (!m_arena || !letters || length < 1 || length > kMaxInputChars) return false;
    bool anyLetter = false;
    for (int i = 0; i < length; ++i) {
        if (letters[i] == L'\'') continue;
        if (!IsLetter(letters[i])) return false;
        anyLetter = true;
    }
    if (!anyLetter) return false;
    m_letters = letters;
    m_length = length;
    // Apostrophes are never edited, nor the two letters either side.
    std::fill(std::begin(m_blocked), std::end(m_blocked), false);
    for (int i = 0; i < length; ++i)
        if (letters[i] == L'\'')
            for (int k = std::max(0, i - 2); k <= std::min(length - 1, i + 2); ++k)
                m_blocked[k] = true;
    return true;
}

bool t_spellCorrector::MakeVariants(const wchar_t* letters, int length) {
    if (!Begin(letters, length)) return false;
    if (m_models.cache) {
        uint16_t units[kMaxPositions];
        for (int i = 0; i < length; ++i) units[i] = uint16_t(letters[i]);
        const t_lstr* key = m_arena->MakeLstr(units, size_t(length) * 2);
        uint8_t code[2];
        wchar_t out[kMaxPositions + 2];
        int size = kMaxPositions + 1, kind = 0, position = 0;
        if (key && m_models.cache->GetBestAdjust(key, &code[0], &code[1]) &&
            ApplyEditCode(code, letters, length, out, &size, &kind, &position) &&
            IsAllLowerAscii(out) && Add(out, size, kind, position)) {
            m_usedCache = true;
            g_cacheCorrections.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
    }
    Generate();
    return m_count > 0;
}

bool t_spellCorrector::ChooseBest(double typedProb, int32_t typedPathCost, bool composedTop,
                                  const t_admissionParams* params, t_spellChoice* out) {
    if (!out || !m_first || !m_arena || !m_models.py || !m_models.keyMap) return false;
    *out = t_spellChoice();
    int look = kLookAt;
    if (typedProb > kSure && !composedTop) look = 1;
    int64_t bestTotal = INT64_MAX;
    int i = 0;
    for (const t_spellVariant* v = m_first; v && i < look; v = v->next, ++i) {
        void* room = ArenaAllocAligned(*m_arena, sizeof(t_pyLattice));
        if (!room) break;
        auto* lattice = new (room) t_pyLattice();
        if (!lattice->Build(m_arena, m_models.keyMap, m_models.py, v->letters, v->length, false,
                            false))
            continue;
        // A variant that cannot be read to its end is no likelier pinyin,
        // however cheap the part that can.
        if (lattice->GetLastReachable() < lattice->GetLength()) continue;
        const double p = lattice->GetForward(lattice->GetLength());
        const int32_t path = lattice->BestBigramPathCost(m_models.py);
        const int64_t total = int64_t(path) + v->prior + v->user - (p > kSure ? kSureBonus : 0);
        if (total >= bestTotal) continue;
        bestTotal = total;
        out->variant = v;
        out->lattice = lattice;
        out->sure = p > kSure;
        out->atEnd = v->kind == kEditInsert ? v->position >= m_length : v->position >= m_length - 1;
        out->score.corrected = path;
        out->score.general = v->prior;
        out->score.personal = v->user;
        out->score.total = int32_t(
            std::clamp<int64_t>(total + (p > kSure ? kSureBonus : 0), INT32_MIN, INT32_MAX));
        out->score.typed = typedPathCost;
        out->score.kind = v->kind;
    }
    if (!out->variant) return false;
    if (params && IsLaterCorrectionRejected(out->score, *params)) {
        *out = t_spellChoice();
        return false;
    }
    return true;
}

int DecideCorrectionMode(const t_pyLattice& lattice, const wchar_t* letters, int length,
                         const t_arrayWord* array, bool blocked, t_correctionMode* out) {
    if (!out || !letters || length < 1) return 0;
    *out = t_correctionMode();
    const int n = lattice.GetLength();
    if (blocked || n < 1) return 0;
    // An input whose syllables stop short is worth correcting as it is.
    if (lattice.GetLastReachable() < n && length > 1) return 1;
    const double p = lattice.GetForward(n);
    if (p <= kNoReading) return 0;
    const t_candWord* top = array ? array->GetTopWord() : nullptr;
    if (!top) return 0;
    const t_candWord* first = array->GetFirstRanked();
    out->wholeWord = first && first->coveredLength >= uint32_t(length);
    out->composedTop = (top->sourceType & 0xFF) == kCandSourceComposed;
    if (p > kSure) {
        out->mode = 4;
        out->mustTry = true;
        return 1;
    }
    if (lattice.IsEndAmbiguous())
        out->mode = 3;
    else if (lattice.IsNearEndWeak() && !IsVowel(letters[length - 1]) &&
             (length < 2 || !IsVowel(letters[length - 2])))
        out->mode = 2;
    else
        out->mode = 1;
    if (std::none_of(letters, letters + length, IsVowel)) out->mustTry = true;
    return 1;
}

bool ShowsCorrection(const t_correctionMode& mode, const t_spellChoice& choice) {
    if (!choice.variant) return false;
    const int64_t worse = int64_t(choice.score.total) - choice.score.typed;
    const int32_t kind = choice.variant->kind;
    if (mode.wholeSyllable && kind != kEditInsert) return false;
    if (!mode.onTheWay) return mode.mode != 4 || worse <= kNearReading;
    if (!mode.cutEnd && choice.variant->position < mode.lastStart) return worse <= kNearReading;
    // The end of input being typed: a missing letter is the key still to
    // come, and any other edit there must read better than the keys as
    // typed; in a syllable a further key would lengthen only a stray
    // letter dropped counts.
    if (kind == kEditInsert || worse > 0) return false;
    return mode.cutEnd || kind == kEditDelete;
}

t_admissionParams AdmissionFor(const t_correctionMode& mode) {
    t_admissionParams params;
    params.level = std::clamp(mode.mode, 0, 4);
    params.strict = mode.mustTry ? 1 : 0;
    params.neverFirst = (mode.onTheWay || mode.readsAsWord) ? 1 : 0;
    params.joinHeld = (mode.readsAsWord && !mode.onTheWay) ? 1 : 0;
    return params;
}

int ShiftSegmentEnds(t_scopeHeap* arena, t_candWord** records, int n, int32_t kind,
                     int32_t position) {
    if (!arena || !records || (kind != kEditInsert && kind != kEditDelete) || position < 0)
        return 0;
    auto moved = [&](uint32_t end) -> uint32_t {
        if (kind == kEditInsert) return end > uint32_t(position) && end > 0 ? end - 1 : end;
        return end >= uint32_t(position) && (end > 0 || position == 0) ? end + 1 : end;
    };
    int changed = 0;
    for (int i = 0; i < n; ++i) {
        t_candWord* r = records[i];
        if (!r || !r->segmentList) continue;
        const int count = LstrGetLength(r->segmentList);
        uint16_t ends[kMaxPositions];
        if (count > kMaxPositions) continue;
        bool any = false;
        for (int k = 0; k < count; ++k) {
            const uint16_t e = LstrGetUnit(r->segmentList, size_t(k));
            ends[k] = uint16_t(moved(e));
            any |= ends[k] != e;
        }
        if (!any) continue;
        const t_lstr* copy = arena->MakeLstr(ends, size_t(count) * 2);
        if (!copy) continue;
        r->segmentList = copy;
        r->coveredLength = moved(r->coveredLength);
        ++changed;
    }
    return changed;
}
