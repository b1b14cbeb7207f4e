// The candidate generator: one run per conversion, every source in its
// fixed order into one candidate array. Engine thread only.
#include "kernel/convert/cand_generator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>

#include "kernel/convert/association.h"
#include "kernel/convert/cand_array.h"
#include "kernel/convert/cand_collector.h"
#include "kernel/convert/cand_filter.h"
#include "kernel/convert/cloud_request.h"
#include "kernel/convert/correction_cands.h"
#include "kernel/convert/custom_cands.h"
#include "kernel/convert/english_cands.h"
#include "kernel/convert/freq_adjust.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/convert/name_lattice.h"
#include "kernel/convert/name_marks.h"
#include "kernel/convert/post_process.h"
#include "kernel/convert/spell_variants.h"
#include "kernel/convert/word_finder.h"
#include "kernel/convert/word_lattice.h"
#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/privilege_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/recent_cache.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

// Hands the word finder's weak-top level to the gate.
class t_weakTopSink : public i_wordFinderSink {
public:
    explicit t_weakTopSink(WeakTopGate* gate) : m_gate(gate) {}
    void SetWeakTopLevel(int level, bool partial) override {
        WeakTopGate::SetLevel(m_gate, level, partial);
    }

private:
    WeakTopGate* m_gate;
};

// Enters the name words the name readers meet as pieces of the name
// lattice: a surname only as the first piece, from the start; a given-name
// character only after it. A given-name character costs by how often names
// use it (class byte 1), so that the characters names favour come first; a
// surname costs its word cost in steps of 8. With lastReadings the pieces
// are entered as a last reading: the surname as the first piece of a
// two-piece name.
class t_pieceSink : public i_nameContext {
public:
    t_pieceSink(PieceLattice* pieces, const t_sysDict* sys, bool lastReadings)
        : m_pieces(pieces), m_sys(sys), m_lastReadings(lastReadings) {}
    void OnNameWord(t_segWordNode* node, uint32_t attribute) override {
        uint8_t cls[n_sysDict::kClassSize];
        if (!node || !node->arc || !m_sys || !m_sys->GetWordClassInfo(node->index, cls)) return;
        const int start = node->arc->start, end = node->arc->end;
        const int32_t ref = int32_t(node->index);
        if (cls[4] == kClassSurname && start == 0) {
            const uint8_t cost = uint8_t(std::min<uint32_t>(node->cost >> 3, 255));
            if (m_lastReadings)
                m_pieces->AddLastReading(0, end, attribute | kLastReadingFirst, cost, node, ref);
            else
                m_pieces->AddReading(0, end, attribute, cost, node, ref);
        } else if ((cls[4] == kClassGivenName || cls[4] == kClassSurname) && start > 0) {
            // After the surname a surname character is a given-name piece
            // too (德 of 刘德华, 龙 of 成龙), at any place of the given name
            // and as the rarest of them, since names counted none.
            const bool surname = cls[4] == kClassSurname;
            const uint8_t cost = uint8_t(255 - std::max<int>(surname ? 0 : cls[1], 1));
            const uint32_t places = surname ? kAnyGivenPlace : 0;
            if (m_lastReadings)
                m_pieces->AddLastReading(start, end, attribute | places, cost, node, ref);
            else
                m_pieces->AddReading(start, end, attribute | places, cost, node, ref);
        }
    }

private:
    // Class bytes 4 of the system data's name classes.
    static constexpr uint8_t kClassSurname = 1;
    static constexpr uint8_t kClassGivenName = 2;
    // The attribute bit that makes a last reading from the start a first piece.
    static constexpr uint32_t kLastReadingFirst = 16;
    // The place bits of a given-name character: alone, first and last of two.
    static constexpr uint32_t kAnyGivenPlace = 8 | 16 | 32;
    PieceLattice* m_pieces;
    const t_sysDict* m_sys;
    bool m_lastReadings;
};

// Probability of the scratch record of leading capitals.
constexpr double kCapitalsProb = 0.998001;
// Places of the smart-fuzzy pass's own array.
constexpr uint32_t kSmartFuzzyPlaces = 25;
// The place of the long words and of the pick of the smart-fuzzy pass.
constexpr int16_t kSmartFuzzyPosition = 2;
// English words that begin with the input, at most.
constexpr int kMaxEnglishPrefixWords = 8;
// Added to the rank of a composed reading of corrected letters.
constexpr int kComposedCorrectionExtra = 25;
// First context bytes of the name-oriented generation: names of a surname
// and one given-name character, or no names at all; with the first, a
// two-syllable input that reads almost surely is taken as sure.
constexpr uint8_t kContextTwoPartNames = 2;
constexpr uint8_t kContextNoNames = 16;
// Answers of the cloud cache taken for the whole input.
constexpr uint32_t kCloudCachePlaces = 3;
// A word of the whole input read below this share of how surely the keys
// read takes a vowel typed last as begun (at half its own syllable's weight).
constexpr double kBegunWordShare = 0.75;
// Abbreviated inputs up to this many keys get the secondary collection.
constexpr int kMaxSecondaryKeys = 11;
// Identical keys in a row that ask for the repeated-key candidate.
constexpr int kRepeatedKeyRun = 5;
// Inputs up to this length place their English completion by the list of
// English inputs.
constexpr int kEnglishListLimit = 8;
// The key-tip threshold before any tip was given.
constexpr int32_t kNoTipYet = 1000000;
// The key-tip threshold over all pages of one input: the first page starts
// it again, and so does a smart-fuzzy pick.
int32_t g_tipThreshold = kNoTipYet;
// A composed name costing more than the best word by over this is not
// offered; by over the second, not even noted as a name input.
constexpr int32_t kNameOfferMargin = 699;
constexpr int32_t kNameNoteMargin = 849;
// Weight of a word that leaves letters unconverted, low enough for every
// word of the whole input to come first. The system words carry
// unigram costs, so at equal probability a character would outrank every
// word of the whole input that contains it; a user expects the whole input
// first and its parts after. Among the parts, each letter left over halves
// the weight once more: a word covering more of the input comes before the
// characters of its first syllable, as in 今天天气, 今天, 今. Powers of two,
// so that composition gets the probabilities back exactly; the halving
// stops after 16 letters to keep the products clear of the float's floor.
// A whole input of many initials reads below that weight (each initial
// alone weighs a tenth): the weight then drops under its least likely word,
// down to the last that keeps the halved products clear of the floor.
constexpr int kPartialEndShift = 14;
constexpr int kPartialEndShiftMost = 48;
constexpr int kPartialLetterShifts = 16;

// The weight (a power of two) of the arcs from the start that end before n.
int PartialEndShift(const t_inputLattice& lattice, int n) {
    float least = 1.0f;
    for (const t_wordArcNode* node = lattice.NodesEndingAt(n); node; node = node->next)
        if (node->start == 0)
            for (const t_wordArc* a = node->arcs; a; a = a->next)
                if (a->prob > 0) least = std::min(least, a->prob);
    int exponent = 0;
    std::frexp(least, &exponent);  // least >= 2^(exponent - 1)
    return std::clamp(1 - exponent, kPartialEndShift, kPartialEndShiftMost);
}

// Scales the arcs from the start that end before n down by their weight,
// or (restore) back up.
void WeighPartialArcs(const t_inputLattice& lattice, int n, int endShift, bool restore) {
    for (int e = 1; e < n; ++e) {
        const int shift = endShift + std::min(n - e, kPartialLetterShifts);
        const float factor = std::ldexp(1.0f, restore ? shift : -shift);
        for (const t_wordArcNode* node = lattice.NodesEndingAt(e); node; node = node->next)
            if (node->start == 0)
                for (t_wordArc* a = node->arcs; a; a = a->next) a->prob *= factor;
    }
}

template <typename T>
T* IfReady() {
    T& d = t_singleton<T>::Get();
    return d.IsReady() ? &d : nullptr;
}

bool IsAsciiUpper(wchar_t c) {
    return c >= L'A' && c <= L'Z';
}

bool IsPinyinVowel(wchar_t c) {
    return c == L'a' || c == L'e' || c == L'i' || c == L'o' || c == L'u' || c == L'v';
}

// Whether the input's last syllable may be cut: 2 when a live arc into the
// end reads a cut syllable (or no syllable reads the end), 1 when the
// likeliest one reads a syllable that a further key makes another (dia of
// dian, yo of you), else 0.
int EndsCut(const t_pyLattice& syllables, const t_pyDict* py, const wchar_t* input,
            int* lastStart) {
    *lastStart = syllables.GetLength();
    if (syllables.GetLastReachable() != syllables.GetLength()) return 0;
    if (syllables.LacksPlainSyllable()) return 2;
    const int n = syllables.GetLength();
    const t_pyArc* likeliest = nullptr;
    double best = 0;
    for (const t_pyArcLink* l = syllables.In(n); l; l = l->next) {
        const t_pyArc* a = l->arc;
        if (!a || (a->flags & kPyArcDead)) continue;
        if (a->flags & kPyArcPartialMask) return 2;
        const double p = syllables.GetForward(a->start) * double(a->prob);
        if (p > best) {
            best = p;
            likeliest = a;
        }
    }
    if (!py || !likeliest) return 0;
    *lastStart = likeliest->start;
    constexpr int kLongestSyllable = 6;
    wchar_t longer[kLongestSyllable + 1] = {};
    const int keys = likeliest->keys;
    if (keys < 1 || keys >= kLongestSyllable) return 0;
    std::wmemcpy(longer, input + likeliest->start, size_t(keys));
    for (wchar_t c = L'a'; c <= L'z'; ++c) {
        longer[keys] = c;
        if (py->GetSyllableId(longer) >= 0) return 1;
    }
    return 0;
}

// Ranked records looked at for a reading of the whole input.
constexpr int kInitialsLook = 64;

// Whether the input reads as initials: one of the leading ranked records
// covers the whole input with at least `least` syllables typed as their
// initial alone (no vowel among their keys), as in "nh", "bjdx" or, with
// one, "jjue". A composed reading counts only when all its syllables but
// one are initials ("aftd"), and never for wordsOnly: a slip often leaves
// a reading of a few stray consonants among whole syllables.
bool ReadsAsInitials(const t_arrayWord& array, const wchar_t* input, int n, int least = 2,
                     bool wordsOnly = false) {
    for (int i = 0; i < kInitialsLook; ++i) {
        const t_candWord* w = array.RankedAt(i);
        if (!w) break;
        if (w->coveredLength != uint32_t(n) || !w->multiChar) continue;
        const uint16_t source = w->sourceType & ~(kCandSourceFlag | kCandSourceMerged);
        const bool composed = source == kCandSourceComposed || source == kCandSourceComposedName;
        if (composed && wordsOnly) continue;
        int count = 0, initials = 0;
        if (w->segmentList) {
            count = int(LstrGetLength(w->segmentList));
            for (int k = 0, start = 0; k < count; ++k) {
                const int end = std::min<int>(LstrGetUnit(w->segmentList, size_t(k)), n);
                if (end <= start) continue;
                initials += std::none_of(input + start, input + end, IsPinyinVowel);
                start = end;
            }
        } else if (w->syllableIds && LstrGetLength(w->syllableIds) == uint32_t(n)) {
            // A word of the short-key table: one key per syllable.
            count = n;
            initials =
                int(std::count_if(input, input + n, [](wchar_t c) { return !IsPinyinVowel(c); }));
        }
        if (initials >= least && (!composed || initials + 1 >= count)) return true;
    }
    return false;
}

}  // namespace

namespace {

// The character a record's text has most often over the run [start, end) of
// input positions, when each of them takes exactly one position and the
// character has more than half of them or more than 5; 0 otherwise.
uint16_t RepeatedChar(const t_candWord* w, int start, int end) {
    const uint32_t chars = LstrGetLength(w->text);
    if (chars == 0 || LstrGetLength(w->segmentList) != chars) return 0;
    uint16_t seen[kMaxInputChars];
    int counts[kMaxInputChars] = {};
    int kinds = 0, inside = 0;
    uint32_t from = 0;
    for (uint32_t i = 0; i < chars; ++i) {
        const uint32_t to = LstrGetUnit(w->segmentList, i);
        if (int(from) >= start && int(from) < end) {
            if (to != from + 1) return 0;
            const uint16_t c = LstrGetUnit(w->text, i);
            int k = 0;
            while (k < kinds && seen[k] != c) ++k;
            if (k == kinds) {
                if (kinds == kMaxInputChars) return 0;
                seen[kinds++] = c;
            }
            ++counts[k];
            ++inside;
        }
        from = to;
    }
    int best = -1;
    for (int k = 0; k < kinds; ++k)
        if (best < 0 || counts[k] > counts[best]) best = k;
    if (best < 0 || !(2 * counts[best] > inside || counts[best] > 5)) return 0;
    return seen[best];
}

}  // namespace

int AddRepeatedKeyCandidate(t_arrayWord* array, t_scopeHeap* arena, const wchar_t* input,
                            int length) {
    if (!array || !arena || !input || length < 2) return 0;
    int start = -1, run = 0;
    for (int i = 0, r = 1; i < length && start < 0; ++i) {
        r = (i > 0 && input[i] == input[i - 1]) ? r + 1 : 1;
        if (r >= kRepeatedKeyRun) {
            start = i - r + 1;
            run = r;
            while (start + run < length && input[start + run] == input[start]) ++run;
        }
    }
    if (start < 0) return 0;
    t_candWord** lists[2] = {};
    const int counts[2] = {array->CopyRanked(arena, &lists[0]),
                           array->CopyPinned(arena, &lists[1])};
    for (int l = 0; l < 2; ++l)
        for (int i = 0; i < counts[l]; ++i) {
            const t_candWord* w = lists[l][i];
            const uint16_t type = w->sourceType & uint16_t(~(kCandSourceFlag | kCandSourceMerged));
            if (w->coveredLength < uint32_t(length) || !w->segmentList || !w->text ||
                type == kCandSourceCustomPhrase || type == kCandSourceCharArt ||
                type == kCandSourceUserPhrase)
                continue;
            const uint16_t c = RepeatedChar(w, start, start + run);
            if (!c) continue;
            t_candWord* r = t_candWord::New(*arena);
            t_lstr* text = r ? arena->DupLstr(w->text) : nullptr;
            const t_lstr* segments = text ? arena->DupLstr(w->segmentList) : nullptr;
            if (!segments) return 0;
            uint32_t from = 0;
            for (uint32_t k = 0; k < LstrGetLength(text); ++k) {
                if (int(from) >= start && int(from) < start + run) LstrSetUnit(text, k, c);
                from = LstrGetUnit(segments, k);
            }
            t_candWord::Clear(r);
            r->text = text;
            r->segmentList = segments;
            r->syllableIds = w->syllableIds;
            r->coveredLength = w->coveredLength;
            r->multiChar = LstrGetLength(text) > 1;
            r->score = 1.0;
            r->kind = kCandKindPinned;
            r->wantedPlace = 1;
            r->rank = kCandNoPower;
            r->sourceType = kCandSourceGenerator;
            int filtered = 0;
            return array->AddChecked(r, &filtered) == 1 && !filtered ? 1 : 0;
        }
    return 0;
}

namespace {

// Ranked records the first-page layout looks at, and the places it fills.
constexpr int kPageLook = 48;
constexpr int kPagePlaces = 5;
// Other whole readings on the first page, at most, and how far above the
// first one's cost they may be.
constexpr int kPageReadings = 2;
constexpr int32_t kPageReadingMargin = 300;
// How close to the first an other whole reading must be for the word it
// reads the first word's keys as to join the page.
constexpr int32_t kPageWordReadingMargin = 150;

uint16_t PlainSource(const t_candWord* w) {
    return w->sourceType & uint16_t(~(kCandSourceFlag | kCandSourceMerged));
}

bool IsDictionaryWord(const t_candWord* w) {
    const uint16_t s = PlainSource(w);
    return s == kCandSourceSystem || s == kCandSourceUser || s == kCandSourceCell ||
           s == kCandSourceExternalUser;
}

// A word the statistics count among the common ones (it has a gram id), or
// one of the user's own.
bool IsCommonWord(const t_candWord* w) {
    return PlainSource(w) == kCandSourceSystem ? w->frequency > 0 : IsDictionaryWord(w);
}

// A sentence or a name composed over the input.
bool IsComposedReading(const t_candWord* w) {
    const uint16_t s = PlainSource(w);
    return s == kCandSourceComposed || s == kCandSourceComposedName;
}

// A first reading as sure as a reading gets: a word, or a short sentence
// whose lone characters the statistics pair with their neighbours (in a
// longer one the last character decides less, and its homophones stay).
bool IsSureReading(const t_candWord* w) {
    return IsDictionaryWord(w) ||
           (PlainSource(w) == kCandSourceComposed && (w->adjustFlags & kCandAdjustPiecesJoined));
}

// Whether w's text is top's with another last character.
bool OnlyLastDiffers(const t_candWord* w, const t_candWord* top) {
    const uint32_t chars = LstrGetLength(w->text);
    if (chars < 2 || chars != LstrGetLength(top->text)) return false;
    for (uint32_t i = 0; i + 1 < chars; ++i)
        if (LstrGetUnit(w->text, i) != LstrGetUnit(top->text, i)) return false;
    return true;
}

// A reading of the whole input a user may want instead of the first (top):
// a common word, a sentence or a name; beside a sure first reading, no name
// that only glues a character onto its words (明天健 beside 明天见; 刘强
// beside 六强 stays) and no sentence that ends in a character the
// statistics do not pair with the word before unless it costs about as much
// (明天键 beside 明天见; 发送命令至 beside 发送命令只 stays).
bool IsRealReading(const t_candWord* w, const t_candWord* top) {
    switch (PlainSource(w)) {
        case kCandSourceComposed:
            return !(w->adjustFlags & kCandAdjustStrayChar) || !IsSureReading(top) ||
                   int32_t(w->rank) - top->rank <= kPageReadingMargin;
        case kCandSourceComposedName:
            return !IsSureReading(top) || !OnlyLastDiffers(w, top);
        default:
            return IsCommonWord(w);
    }
}

// Whether w's text starts top's and w's keys end where that part of top's
// reading ends.
bool StartsReading(const t_candWord* w, const t_candWord* top) {
    const uint32_t chars = LstrGetLength(w->text);
    if (chars == 0 || chars >= LstrGetLength(top->text) || !top->segmentList ||
        LstrGetLength(top->segmentList) <= chars - 1 ||
        LstrGetUnit(top->segmentList, chars - 1) != w->coveredLength)
        return false;
    for (uint32_t i = 0; i < chars; ++i)
        if (LstrGetUnit(w->text, i) != LstrGetUnit(top->text, i)) return false;
    return true;
}

}  // namespace

int ArrangeFirstPage(t_arrayWord* array, const wchar_t* input, int n, int firstWordEnd) {
    if (!array || !input || n < 1) return 0;
    t_candWord* head[kPageLook];
    int held = 0;
    for (const t_candWord* w; held < kPageLook && (w = array->RankedAt(held)); ++held)
        head[held] = const_cast<t_candWord*>(w);
    // Merged corrections and records held off the first places keep their
    // places; the others are laid out around them.
    const auto keeps = [](const t_candWord* w) {
        return (w->sourceType & kCandSourceMerged) || w->positionFloor > 1 || !w->text;
    };
    int movable[kPageLook];
    int count = 0;
    for (int i = 0; i < held; ++i)
        if (!keeps(head[i])) movable[count++] = i;
    if (count < 2) return 0;
    const t_candWord* top = head[movable[0]];
    if (top->coveredLength < uint32_t(n)) return 0;
    t_candWord* order[kPageLook];
    bool taken[kPageLook] = {};
    int placed = 0;
    const auto take = [&](int k) {
        taken[k] = true;
        order[placed++] = head[movable[k]];
    };
    take(0);
    // Other whole readings close to the first.
    for (int k = 1, readings = 0; k < count && readings < kPageReadings; ++k) {
        const t_candWord* w = head[movable[k]];
        if (w->coveredLength < uint32_t(n) || !IsRealReading(w, top)) continue;
        const bool own = PlainSource(w) != kCandSourceSystem && IsDictionaryWord(w);
        if (!own && int32_t(w->rank) - top->rank > kPageReadingMargin) continue;
        take(k);
        ++readings;
    }
    // The first word of the best reading, then the longest word starting
    // the first record; a lone initial read as a character is no word.
    int first = -1, longest = -1;
    for (int k = 1; k < count; ++k) {
        const t_candWord* w = head[movable[k]];
        if (taken[k] || w->coveredLength >= uint32_t(n) || !StartsReading(w, top) ||
            std::none_of(input, input + w->coveredLength, IsPinyinVowel))
            continue;
        if (first < 0 && firstWordEnd > 0 && w->coveredLength == uint32_t(firstWordEnd)) first = k;
        if (longest < 0 || LstrGetLength(w->text) > LstrGetLength(head[movable[longest]]->text))
            longest = k;
    }
    const int readingsEnd = placed;
    if (first >= 0) take(first);
    if (longest >= 0 && longest != first) take(longest);
    // A close reading that reads the first word's keys as another word
    // (它们可以 beside 他们可以) brings that word along: it mends the first
    // word of the first reading where the other one was meant.
    for (int r = 1; r < readingsEnd && firstWordEnd > 0 && placed < kPagePlaces; ++r) {
        if (int32_t(order[r]->rank) - top->rank > kPageWordReadingMargin) continue;
        for (int k = 1; k < count; ++k) {
            const t_candWord* w = head[movable[k]];
            if (!taken[k] && w->coveredLength == uint32_t(firstWordEnd) &&
                StartsReading(w, order[r]) && !StartsReading(w, top)) {
                take(k);
                break;
            }
        }
    }
    // The common words of the whole input.
    for (int k = 1; k < count && placed < kPagePlaces; ++k)
        if (!taken[k] && head[movable[k]]->coveredLength >= uint32_t(n) &&
            IsCommonWord(head[movable[k]]))
            take(k);
    // The rest of the page: no composed reading of the whole input that
    // is no real one.
    for (int k = 1; k < count && placed < kPagePlaces; ++k) {
        const t_candWord* w = head[movable[k]];
        if (!taken[k] &&
            !(w->coveredLength >= uint32_t(n) && IsComposedReading(w) && !IsRealReading(w, top)))
            take(k);
    }
    for (int k = 1; k < count; ++k)
        if (!taken[k]) order[placed++] = head[movable[k]];
    t_candWord* laid[kPageLook];
    for (int i = 0, k = 0; i < held; ++i) laid[i] = keeps(head[i]) ? head[i] : order[k++];
    return array->ReorderRankedHead(laid, held) ? 1 : 0;
}

int DecideComposedName(int32_t cost, int32_t best) {
    if (cost - kNameOfferMargin <= best) return kNameOffered;
    return best >= cost - kNameNoteMargin ? kNameNoted : kNameDropped;
}

// The product of the weights the syllable lattice gave the record's
// spellings: a smart-fuzzy spelling weighs less than a plain one, so this
// is the score a reading as sure as a plain one has. 1.0 when a syllable of
// the record is not among the lattice's arcs.
double SpellingWeight(const t_pyLattice& syllables, const t_candWord* w) {
    const t_lstr* ids = w->syllableIds;
    const t_lstr* ends = w->segmentList;
    if (!ids || !ends || LstrGetLength(ids) != LstrGetLength(ends)) return 1.0;
    double weight = 1.0;
    int start = 0;
    for (uint32_t i = 0; i < LstrGetLength(ids); ++i) {
        const int end = int(LstrGetUnit(ends, i));
        const uint16_t id = LstrGetUnit(ids, i);
        const t_pyArc* arc = nullptr;
        for (const t_pyArcLink* l = syllables.Out(start); l && !arc; l = l->next)
            if (l->arc->end == end && l->arc->id == id) arc = l->arc;
        if (!arc || !(arc->prob > 0)) return 1.0;
        weight *= double(arc->prob);
        start = end;
    }
    return weight;
}

int IsGameKeyInput(const wchar_t* text) {
    if (!text) return 0;
    const size_t n = std::wcslen(text);
    if (n < 4) return 0;
    size_t keys = 0, run = 0;
    for (size_t i = 0; i < n; ++i) {
        run = (i > 0 && text[i] == text[i - 1]) ? run + 1 : 1;
        if (run >= 4) return 1;
        if (std::wcschr(L"wqerasd", text[i]) && text[i]) ++keys;
    }
    return double(keys) / double(n) > 0.9 ? 1 : 0;
}

t_candGenerator::t_candGenerator() = default;

void t_candGenerator::SetOptions(int32_t forecast, int32_t position, int32_t maxLongWords,
                                 int32_t gate) {
    m_options.forecast = forecast;
    m_options.longWordPosition = (position >= 1 && position <= 5) ? position : 2;
    m_options.maxLongWords = maxLongWords < 1 ? 1 : (maxLongWords > 20 ? 20 : maxLongWords);
    m_options.longWordGate = (gate >= 1 && gate <= 5) ? gate : 4;
}

t_convertDicts t_candGenerator::RunDicts() const {
    if (m_fixedDicts) return *m_fixedDicts;
    t_convertDicts d;
    d.py = IfReady<t_pyDict>();
    d.keyMap = IfReady<t_keyPyMap>();
    d.sys = IfReady<t_sysDict>();
    d.cell = IfReady<t_extDict>();
    d.tip = IfReady<t_pyTip>();
    d.privilege = IfReady<t_privilegeDictCore>();
    d.userExt = IfReady<t_usrDictExtCore>();
    d.cloudCache = IfReady<t_cloudCacheDict>();
    t_usrDictV3Core& user = t_singleton<t_usrDictV3Core>::Get();
    d.user = user.IsLoaded() ? &user : nullptr;
    return d;
}

void t_candGenerator::CollectCandidates(t_convertRequest* request, const t_pyLattice& syllables,
                                        t_inputLattice* lattice, t_candCollector* collector,
                                        t_arrayWord* target, const wchar_t* input, int n,
                                        i_wordFinderSink* weakTop,
                                        i_wordFinderSink* cloudCollector) {
    lattice->Reset(syllables.GetLength());
    lattice->SetShuangPin(request->shuangPin != 0);
    t_wordFinder finder(m_dicts, lattice, &syllables, input, &m_arena);
    finder.SetWideLookup(request->allLowerCase != 0,
                         request->pageStart + request->pageSize >= 20 || request->pinnedCount > 0);
    t_findSwitches on;
    on.cell = request->cellDict != 0;
    on.user = !request->userWeightingOff;
    on.privilege = true;
    on.cloudCache = request->noCloudCache == 0 && request->cloudCache != 0;
    finder.SetWeakTopGate(weakTop);
    on.cloudCollector = on.cloudCache ? cloudCollector : nullptr;

    // Longer words that begin with the whole input, offered at the long-word
    // places.
    const uint32_t forecastPlaces = uint32_t(m_options.maxLongWords);
    t_candWord** forecastOut = nullptr;
    if (m_options.forecast)
        forecastOut = static_cast<t_candWord**>(
            m_arena.AllocAligned(sizeof(t_candWord*) * forecastPlaces, 8));
    t_arrayWord forecast(forecastOut, 0, forecastOut ? forecastPlaces : 0, 0, m_runAuxFilter,
                         &m_arena);
    t_candCollector forecaster(&m_arena, m_dicts, lattice, &forecast);
    if (forecastOut && forecast.IsValid()) {
        forecaster.SetFilters(m_runOuterFilter, nullptr);
        forecaster.SetCharReadings(IfReady<t_hzDict>());
        forecaster.SetDebugMode(m_debug);
        // The user's own longer words are forecast as well as the system's.
        forecaster.SetAssociationSources(on.user, on.cell, on.privilege, on.user);
        on.forecast = &forecaster;
        on.forecastGate = m_options.longWordGate;
    }
    // A short tail of initials reads as the short-key table's words.
    lattice->AddAbbreviationArcs(0, input, m_dicts.sys);
    finder.FindWordsAt(0, on);
    const int partialShift = PartialEndShift(*lattice, syllables.GetLength());
    WeighPartialArcs(*lattice, syllables.GetLength(), partialShift, false);

    // Leading capitals are offered as typed.
    int capitals = 0;
    while (capitals < n && IsAsciiUpper(input[capitals])) ++capitals;
    if (capitals > 0 && m_dicts.py) {
        t_candWord* w = t_candWord::New(m_arena);
        uint16_t* ids =
            static_cast<uint16_t*>(m_arena.AllocAligned(sizeof(uint16_t) * size_t(capitals), 2));
        if (w && ids) {
            uint16_t units[kMaxInputChars];
            for (int i = 0; i < capitals; ++i) {
                units[i] = uint16_t(input[i]);
                const wchar_t letter[2] = {wchar_t(input[i] - L'A' + L'a'), 0};
                ids[i] = uint16_t(m_dicts.py->GetSyllableId(letter));
            }
            w->text = m_arena.MakeLstr(units, 2 * size_t(capitals));
            w->syllableIds = m_arena.MakeLstr(ids, 2 * size_t(capitals));
            w->score = kCapitalsProb;
            w->coveredLength = uint32_t(capitals);
            w->multiChar = capitals > 1 ? 1 : 0;
            w->rank = 32767;
            if (m_debug) w->debugText = m_arena.WideToLstr(L"输入串首段大写");
            int filtered = 0;
            if (w->text) target->Add(w, &filtered);
        }
    }
    if (lattice->GetArcCount() > 0) {
        collector->SetFilters(m_runOuterFilter, nullptr);
        collector->SetDebugMode(m_debug);
        double probs[kMaxPositions] = {};
        for (int e = 0; e <= syllables.GetLength(); ++e) probs[e] = syllables.GetForward(e);
        collector->CollectAll(probs, capitals > 1);
    }
    // Composition prices the arcs by their own probabilities.
    WeighPartialArcs(*lattice, syllables.GetLength(), partialShift, true);
    if (on.forecast) PlaceForecast(&forecast, forecastOut, target);
}

void t_candGenerator::SecondaryCollection(t_convertRequest* request, t_arrayWord* array,
                                          const t_inputCaseMap* caseMap, int n) {
    const wchar_t* input = request->input;
    for (int i = 0; i < n; ++i)
        if (input[i] < L'a' || input[i] > L'z') return;
    t_pyLattice keys;
    if (!keys.BuildByKeys(&m_arena, m_dicts.keyMap, m_dicts.py, input, n)) return;
    t_inputLattice lattice(&m_arena, &m_arena);
    t_candCollector collector(&m_arena, m_dicts, &lattice, array, caseMap);
    collector.SetCharReadings(IfReady<t_hzDict>());
    const int32_t forecast = m_options.forecast;
    m_options.forecast = 0;
    m_secondaryLength = n;
    CollectCandidates(request, keys, &lattice, &collector, array, input, n);
    m_secondaryLength = 0;
    m_options.forecast = forecast;
}

void t_candGenerator::PlaceForecast(t_arrayWord* forecast, t_candWord** out, t_arrayWord* target) {
    const int count = forecast->Arrange();
    int placed = 0;
    for (int i = 0; i < count; ++i) {
        t_candWord* w = out[i];
        if (!w || w->kind == kCandKindPinned) continue;
        w->kind = kCandKindPinned;
        w->wantedPlace = m_options.longWordPosition + placed;
        w->rank = 0;
        int refused = 0;
        // A refused word leaves its place to the next one.
        if (target->AddChecked(w, &refused) && !refused) ++placed;
    }
}

void t_candGenerator::ComposePass(t_convertRequest* request, const t_pyLattice& syllables,
                                  t_inputLattice* lattice, t_arrayWord* target,
                                  const wchar_t* input, int n, int32_t fullLength, bool cloudFlag,
                                  bool holdSwapped, const t_candWord* begun) {
    t_wordFinder finder(m_dicts, lattice, &syllables, input, &m_arena);
    finder.SetWideLookup(request->allLowerCase != 0,
                         request->pageStart + request->pageSize > 19 || request->pinnedCount > 0);
    finder.SetGameKeys(request->gameKeys != 0);
    t_findSwitches on;
    on.cell = !request->gameKeys;
    on.user = !request->gameKeys && !request->userWeightingOff;
    for (int p = 1; p < n; ++p) {
        if (!(syllables.GetForward(p) > 0)) continue;
        lattice->AddAbbreviationArcs(p, input, m_dicts.sys);
        finder.FindWordsAt(p, on);
    }
    lattice->FinaliseWordCounts();
    t_composeRequest compose;
    compose.dicts = m_dicts;
    compose.lattice = lattice;
    compose.arena = &m_arena;
    compose.n = n;
    compose.fullLengthWords = begun ? 0 : fullLength;
    compose.begun = begun;
    compose.gameKeys = request->gameKeys != 0;
    compose.hasCapitals = request->hasCapitals != 0;
    compose.debug = m_debug;
    compose.cloudFlag = cloudFlag ? 1 : 0;
    t_segmentNodes segments;
    t_wordLattice words;
    t_composeOutcome out;
    ComposeWords(compose, &segments, &words, target, &out);
    if (holdSwapped) m_firstWordEnd = out.firstWordEnd;
    for (int i = 0; i < out.swappedCount; ++i) {
        if (holdSwapped && m_swappedCount < int(std::size(m_swapped))) {
            m_swapped[m_swappedCount++] = out.swapped[i];
        } else if (!holdSwapped) {
            int filtered = 0;
            target->Add(out.swapped[i], &filtered);
        }
    }
    if (request->names && fullLength == 0) NamePass(lattice, target, n, out.plain);
    // Capitals that no path reads are offered as typed.
    if (request->hasCapitals && !out.plain) AddRawInputCandidate(m_arena, target, input, m_debug);
}

void t_candGenerator::NamePass(const t_inputLattice* lattice, t_arrayWord* target, int n,
                               const t_candWord* reading) {
    t_nameNode nodes[3];
    int16_t value = 0, plain = 0;
    const int count = FindSurnameName(lattice, m_dicts.sys, nodes, &value, &plain);
    if (count == 0) return;
    m_namePathFound = true;
    // The name's characters against the usual ones of the same syllables,
    // per character: a name of far rarer characters is only noted, not
    // offered.
    const int decision = DecideComposedName(value / count, plain / count);
    if (decision != kNameOffered) {
        if (decision == kNameNoted) m_personName = true;
        return;
    }
    // Beside a composed reading the name comes right after it.
    const int32_t rank = reading ? reading->rank + 1 : value;
    AddComposedNames(target, &m_arena, m_dicts.sys, uint32_t(n), nodes, count,
                     int16_t(std::clamp<int32_t>(rank, 0, kCandNoPower - 1)), m_debug);
    m_personName = true;
}

int t_candGenerator::RunFuzzyPass(t_convertRequest* request, t_arrayWord* main, int n) {
    t_keyPyMap* keyMap = m_dicts.keyMap;
    if (keyMap->IsSmartFuzzyMode()) return SmartFuzzyPass(request, main, n);
    keyMap->SetSmartFuzzyMode(true);
    const int result = SmartFuzzyPass(request, main, n);
    keyMap->SetSmartFuzzyMode(false);
    return result;
}

int t_candGenerator::SmartFuzzyPass(t_convertRequest* request, t_arrayWord* main, int n) {
    SmartFuzzyCounters counters;
    SmartFuzzyCounters::Init(&counters);
    t_candWord** pinned = nullptr;
    t_candWord** ranked = nullptr;
    const int pinnedCount = main->CopyPinned(&m_arena, &pinned);
    const int rankedCount = main->CopyRanked(&m_arena, &ranked);
    if (!ShouldRunSmartFuzzy(&counters, pinned, pinnedCount) ||
        !ShouldRunSmartFuzzy(&counters, ranked, rankedCount))
        return 0;
    // A plain request: no other pass runs inside this one, and of the tips
    // only the typed keys of a fuzzy spelling.
    t_convertRequest fuzzy = *request;
    fuzzy.customPhrases = fuzzy.fixFirst = fuzzy.charArt = fuzzy.correction = fuzzy.smartFuzzy = 0;
    fuzzy.cloudCache = fuzzy.names = fuzzy.secondaryCollection = fuzzy.longWordHint = 0;
    fuzzy.strokeLookup = 0;
    fuzzy.firstTip = 0;
    fuzzy.secondTip = 1;
    fuzzy.pageStart = 0;
    fuzzy.pageSize = kSmartFuzzyPlaces;
    fuzzy.pinnedCount = 0;
    t_pyLattice syllables;
    if (!syllables.Build(&m_arena, m_dicts.keyMap, m_dicts.py, request->input, n, false,
                         request->shuangPin != 0))
        return 0;
    auto** out =
        static_cast<t_candWord**>(m_arena.AllocAligned(sizeof(t_candWord*) * kSmartFuzzyPlaces, 8));
    if (!out) return 0;
    t_arrayWord array(out, 0, kSmartFuzzyPlaces, 0, nullptr, &m_arena);
    if (!array.IsValid()) return 0;
    t_inputLattice lattice(&m_arena, &m_arena);
    t_candCollector collector(&m_arena, m_dicts, &lattice, &array);
    collector.SetCharReadings(IfReady<t_hzDict>());
    // The words committed before weigh the fuzzy readings as they weigh the
    // typed ones.
    t_freqAdjust adjust;
    if (PrepareAdjust(fuzzy, &adjust)) collector.SetAdjust(&adjust);
    // No forecast inside this pass.
    const t_generatorOptions options = m_options;
    m_options.forecast = 0;
    m_options.longWordPosition = kSmartFuzzyPosition;
    m_options.maxLongWords = 1;
    m_options.longWordGate = 4;
    CollectCandidates(&fuzzy, syllables, &lattice, &collector, &array, request->input, n);
    m_options = options;
    t_candWord** found = nullptr;
    const int foundCount = array.CopyRanked(&m_arena, &found);
    auto* weights =
        static_cast<double*>(m_arena.AllocAligned(sizeof(double) * size_t(foundCount + 1), 8));
    if (!weights) return 0;
    for (int i = 0; i < foundCount; ++i) weights[i] = SpellingWeight(syllables, found[i]);
    t_candWord* pick[1] = {PickSmartFuzzyCandidate(&counters, found, foundCount, weights)};
    if (!pick[0]) return 0;
    if (m_debug) AppendTrace(&m_arena, pick[0], L"-智能模糊音");
    pick[0]->smartFuzzy = 1;
    // A reading of keys the user may have meant differently: never before
    // what the keys spell as typed.
    pick[0]->positionFloor = kSmartFuzzyPosition;
    // The pick shows the keys it read differently.
    g_tipThreshold = kNoTipYet;
    AddPinyinTips(m_dicts, &m_arena, fuzzy.firstTip != 0, fuzzy.secondTip != 0, pick, 1, 0,
                  &g_tipThreshold, request->input, n);
    int filtered = 0;
    main->Add(pick[0], &filtered);
    return 1;
}

bool t_candGenerator::PrepareAdjust(const t_convertRequest& request, t_freqAdjust* adjust) const {
    if (!request.context || !request.context->on) return false;
    adjust->src = {m_dicts.sys, m_dicts.py, IfReady<t_hzDict>(),
                   &t_singleton<t_CAStringCache>::Get(), &t_singleton<t_usrInputCache>::Get()};
    adjust->src.user = m_dicts.user;
    PrepareContextAdjust(adjust, *request.context);
    const int32_t userWords = m_dicts.user ? m_dicts.user->GetWordCount() : 0;
    const uint32_t average = m_dicts.user ? m_dicts.user->GetWeightCurve().average : 1;
    adjust->Init(adjust->src, userWords, int32_t(std::min<uint32_t>(average, INT32_MAX)));
    return true;
}

int t_candGenerator::CorrectionPass(t_convertRequest* request, const t_pyLattice& syllables,
                                    t_arrayWord* main, int n, const t_correctionMode* mode) {
    const wchar_t* input = request->input;
    t_spellModels models;
    models.py = m_dicts.py;
    models.keyMap = m_dicts.keyMap;
    t_spellCorrector corrector(&m_arena, models);
    if (!corrector.MakeVariants(input, n)) return 0;
    const t_candWord* top = main->GetFirstRanked();
    const bool composedTop =
        mode ? mode->composedTop
             : top && (top->sourceType & ~kCandSourceMerged) == kCandSourceComposed;
    const t_admissionParams params = mode ? AdmissionFor(*mode) : t_admissionParams();
    t_spellChoice choice;
    if (!corrector.ChooseBest(syllables.GetForward(n), syllables.BestBigramPathCost(m_dicts.py),
                              composedTop, mode ? &params : nullptr, &choice) ||
        !choice.variant || !choice.lattice)
        return 0;
    if (mode && !ShowsCorrection(*mode, choice)) return 0;
    const wchar_t* letters = choice.variant->letters;
    const int length = choice.variant->length;

    // The corrected letters go through collection and composition of their own.
    const uint32_t places = (input[0] == L'i' && request->pinnedCount == 0) ? 5 : 3;
    auto** out = static_cast<t_candWord**>(m_arena.AllocAligned(sizeof(t_candWord*) * places, 8));
    if (!out) return 0;
    t_commonCharFilter common;
    t_arrayWord corrections(out, 0, places, 0, mode && mode->readsAsTyped ? &common : nullptr,
                            &m_arena);
    if (!corrections.IsValid()) return 0;
    t_inputLattice lattice(&m_arena, &m_arena);
    t_candCollector collector(&m_arena, m_dicts, &lattice, &corrections);
    collector.SetCharReadings(IfReady<t_hzDict>());
    // Only ranked corrections are merged: no forecast for them.
    const int32_t forecast = m_options.forecast;
    m_options.forecast = 0;
    CollectCandidates(request, *choice.lattice, &lattice, &collector, &corrections, letters,
                      length);
    m_options.forecast = forecast;
    if (lattice.GetArcCount() == 0) return 0;
    if (collector.GetFirstAddedEnd() < uint32_t(length) && !request->noPhrase) {
        // Corrected letters are not read as a name.
        const uint8_t names = request->names;
        request->names = 0;
        ComposePass(request, *choice.lattice, &lattice, &corrections, letters, length,
                    collector.GetFullLengthAdded());
        request->names = names;
    }
    t_candWord** ranked = nullptr;
    const int count = corrections.CopyRanked(&m_arena, &ranked);
    if (count == 0) return 0;
    // A composed reading of the corrected letters is less sure than a word.
    for (int i = 0; i < count && ranked[i]->score >= 1.0; ++i)
        if ((ranked[i]->sourceType & ~kCandSourceMerged) == kCandSourceComposed)
            ranked[i]->rank = int16_t(std::min(ranked[i]->rank + kComposedCorrectionExtra, 32767));
    ShiftSegmentEnds(&m_arena, ranked, count, choice.variant->kind, choice.variant->position);
    const int merged = main->MergeCorrections(&corrections, false, choice.score, params);
    if (merged) {
        // The corrected letters travel with each record as its further text:
        // the second text is what a front end shows instead of the word, and
        // a correction must still show the word it commits.
        const t_lstr* corrected = WideToLstr16(m_arena, letters);
        const wchar_t* label =
            m_debug ? FormatCorrectionLabel(&m_arena, letters, choice.score) : nullptr;
        const t_lstr* trace = label ? m_arena.WideToLstr(label) : nullptr;
        for (int i = 0; i < count; ++i) {
            ranked[i]->furtherText = corrected;
            if (trace) ranked[i]->debugText = trace;
        }
    }
    return merged;
}

int t_candGenerator::Generate(t_convertRequest* request, t_candWord** results,
                              const t_cloudRequestParams* cloud, t_cloudAsked* asked) {
    m_arena.FreeAll();
    m_bestPower = 10000;
    m_personName = m_namePathFound = false;
    m_swappedCount = 0;
    m_firstWordEnd = 0;
    if (asked) asked->asked = 0;
    // Without a buffer there is nowhere to write a request.
    if (cloud && !cloud->buffer) asked = nullptr;
    if (!request || !results || !request->input || request->pageSize == 0) return 0;
    request->correctionUsed = 0;
    m_dicts = RunDicts();
    if (!m_dicts.py || !m_dicts.keyMap || !m_dicts.sys) return 0;
    const wchar_t* input = request->input;
    const int length = request->inputLength > 0 ? request->inputLength : int(std::wcslen(input));
    const int l = request->segmentLength > 0 ? request->segmentLength : length;
    // A longer input converts its first characters.
    const int n = std::min(l, kMaxInputChars);

    // The auxiliary code typed after the input keeps only the candidates
    // whose characters it names.
    t_auxCodeServices services = t_auxCodeServices::Kernel();
    services.keyMap = m_dicts.keyMap;
    t_partionedZiFilter auxFilter(services);
    if (!ParseAuxCode(&auxFilter, nullptr, &m_arena, request->auxCode)) return 0;
    i_candidateFilter* aux = auxFilter.IsReady() ? &auxFilter : nullptr;
    m_runAuxFilter = aux;
    m_runOuterFilter = m_outerFilter ? m_outerFilter : &t_singleton<t_outterCandFilter>::Get();

    t_arrayWord array(results, request->pageStart, request->pageSize,
                      uint32_t(request->pinnedCount), aux, &m_arena);
    if (!array.IsValid()) return 0;
    array.SetCandFilter(m_runOuterFilter);
    array.EnableDelWordFilter();
    t_inputCaseMap caseMap;
    caseMap.Init(&m_arena, input, n);
    t_candCollector collector(&m_arena, m_dicts, &m_lattice, &array, &caseMap);
    collector.SetCharReadings(IfReady<t_hzDict>());
    if (!request->userWeightingOff && m_dicts.user)
        m_dicts.user->SetupWeightCurve(uint32_t(request->weightCurve));
    // The words committed before, the recent inputs and the continuations
    // of the last commit adjust the scores.
    t_freqAdjust adjust;
    if (PrepareAdjust(*request, &adjust)) collector.SetAdjust(&adjust);
    // The collector's context: the caller's two bytes, and whether a person
    // name read over the whole input.
    t_nameMarkState nameContext;
    std::copy(std::begin(request->contextBytes), std::end(request->contextBytes),
              std::begin(nameContext.context));
    collector.SetNameMarker(&nameContext, request->names != 0);

    // English words that begin with the input, added after the Chinese ones.
    t_candWord* english[kMaxEnglishPrefixWords] = {};
    int englishCount = 0;
    if (length == n && request->noCloudCache == 0)
        AddEnglishPrefixCandidates(m_arena, input, n, english, kMaxEnglishPrefixWords,
                                   &englishCount, m_debug);

    int customAdded = 0, fixedAdded = 0;
    if (request->customPhrases) customAdded = AddCustomPhraseCandidatesEx(input, &array, &m_arena);
    if (request->fixFirst) fixedAdded = AddFixFirstCandidates(input, &array, &m_arena, m_debug);

    t_pyLattice syllables;
    if (!syllables.Build(&m_arena, m_dicts.keyMap, m_dicts.py, input, n, request->noCloudCache == 0,
                         request->shuangPin != 0))
        return 0;
    const double endProb = syllables.GetForward(syllables.GetLength());
    request->gameKeys = (IsGameKeyInput(input) && endProb < double(0.1f)) ? 1 : 0;

    // The English word the whole input begins, when the settings hint at one.
    t_engPredictRequest englishRequest;
    englishRequest.input = input;
    englishRequest.englishLimit = kEnglishListLimit;
    englishRequest.wholeTextProb = endProb;
    englishRequest.debug = m_debug;
    t_engPredictor englishCompletion;
    englishCompletion.Init(&m_arena, &array, englishRequest);
    const bool englishMade = length == n && request->longWordHint && englishCompletion.Run();

    // Abbreviated input: every key read as the syllables it begins.
    if (request->secondaryCollection && n <= kMaxSecondaryKeys)
        SecondaryCollection(request, &array, &caseMap, n);

    // The weak-top gate hears how far the system words go on beyond the input.
    WeakTopGate gate;
    WeakTopGate::Init(&gate, &m_arena, n);
    WeakTopGate::SetOptions(&gate, m_options.forecast != 0 && m_options.forecastMode != 0,
                            m_options.longWordPosition, m_options.maxLongWords,
                            m_options.longWordGate);
    t_weakTopSink weakTop(&gate);
    // The cloud cache's answers for the whole input gather apart, at most 3.
    t_candWord* cloudOut[kCloudCachePlaces] = {};
    t_arrayWord cloudArray(cloudOut, 0, kCloudCachePlaces, 0, aux, &m_arena);
    t_candCollector cloudCollector(&m_arena, m_dicts, &m_lattice, &cloudArray);
    cloudCollector.SetFilters(m_runOuterFilter, nullptr);
    cloudCollector.SetDebugMode(m_debug);
    CollectCandidates(request, syllables, &m_lattice, &collector, &array, input, n,
                      gate.enabled ? &weakTop : nullptr,
                      cloudArray.IsValid() ? &cloudCollector : nullptr);
    const uint32_t longest = uint32_t(collector.GetLongestArcValue());
    const uint32_t firstWordEnd = collector.GetFirstWordEnd();
    const int32_t fullLength = collector.GetFullLengthAdded();
    m_bestPower = int16_t(std::min<int32_t>(m_bestPower, collector.GetLowestPower()));
    // A stroke code after its first letter gives the characters it spells
    // and no composition.
    if (request->strokeLookup && length > 1 &&
        AddStrokeDictWords(array, m_arena, int(request->pageStart + request->pageSize), input + 1,
                           0, uint32_t(length - 1), services) > 0)
        request->noPhrase = 1;

    const uint8_t* trusted = m_trustedPairs ? m_trustedPairs : KernelTrustedPairs();
    t_cloudTrigger trigger(&syllables, &array, n, trusted);
    const bool whole = request->segmentLength == 0 || request->segmentLength == length;
    bool confident = false;
    if (m_lattice.GetArcCount() == 0) {
        if (n > 1 && request->correction && CorrectionPass(request, syllables, &array, n))
            request->correctionUsed = 1;
        if (englishMade) {
            englishCompletion.GetRecord()->wantedPlace = 1;
            int filtered = 0;
            array.AddChecked(englishCompletion.GetRecord(), &filtered);
        }
    } else {
        if (englishMade) englishCompletion.DecidePlace();
        if ((!request->auxCode || !*request->auxCode) && whole) trigger.SetRequest(asked);
        confident = endProb > double(0.97f);
        const bool sure =
            (endProb >= 0.009 && (longest == 3 || longest == 4)) ||
            (longest == 2 && endProb >= 0.998 && request->contextBytes[0] == kContextTwoPartNames);
        // A person name of the list read over the whole input marks the run.
        if (request->names && nameContext.found &&
            collector.GetFirstAddedEnd() >= uint32_t(syllables.GetLastReachable()))
            m_personName = true;
        // An English word the letters begin leaves out composition only
        // where they do not read as pinyin: dale is 打了 before it is dale.
        const bool english = englishCompletion.HasCandidate() && !ReadsAsPinyinSyllables(input);
        // Words of the whole input that read its last vowel only as the
        // start of a syllable (性爱 for xinga) leave the vowel's own syllable
        // unread: the input is composed beside them (行啊), and the costs
        // decide which comes first.
        const t_candWord* top = array.GetTopWord();
        const t_candWord* begun = firstWordEnd == uint32_t(n) && syllables.EndsInBegunVowel() &&
                                          top && top->coveredLength == uint32_t(n) &&
                                          top->score < kBegunWordShare * endProb
                                      ? top
                                      : nullptr;
        const bool compose =
            !request->noPhrase && !english && (!(firstWordEnd == uint32_t(n) && !sure) || begun);
        // Composition goes on beside whole-input words when the cloud may be
        // asked and nothing but letters reads the whole input.
        const bool cloudFlag =
            trigger.HasRequest() && cloud && !cloud->compositionOff &&
            collector.GetFirstAddedEnd() < uint32_t(syllables.GetLastReachable()) &&
            firstWordEnd != uint32_t(n);
        if (compose && n == 2 && IsAsciiUpper(input[0]) && input[1] >= L'a' && input[1] <= L'z')
            AddRawInputCandidate(m_arena, &array, input, m_debug);
        else if (compose) {
            // A longer input's pair queries mostly repeat the last pass's.
            const t_serialBigramPass serial(n > 5);
            ComposePass(request, syllables, &m_lattice, &array, input, n, fullLength, cloudFlag,
                        true, begun);
        }
    }
    // The cached answers join the page, the first of them marked.
    const int cached = cloudArray.IsValid() ? cloudArray.Arrange() : 0;
    for (int i = 0; i < cached; ++i) {
        cloudOut[i]->cloudPriority = i == 0 ? 1 : 0;
        int filtered = 0;
        if (array.Add(cloudOut[i], &filtered) == kArrayNotAdded) break;
    }
    bool askCloud = trigger.HasRequest() && trigger.ShouldRequest(&m_arena) == 1;
    if (askCloud && cloud) {
        t_cloudSources sources;
        sources.py = m_dicts.py;
        sources.user = m_dicts.user;
        sources.sys = m_dicts.sys;
        sources.hz = IfReady<t_hzDict>();
        sources.trustedPairs = trusted;
        BuildCloudRequestData(&syllables, &m_lattice, input, &array, &m_arena, sources, cloud,
                              asked);
        askCloud = asked && asked->asked;
    }
    // The homophone readings join once the cloud has been decided on: it is
    // asked only while one local reading of the whole input stands alone.
    for (int i = 0; i < m_swappedCount; ++i) {
        int filtered = 0;
        array.Add(m_swapped[i], &filtered);
    }
    m_swappedCount = 0;
    // A weak lead may be joined by a word that continues the input.
    if (m_lattice.GetArcCount() > 0 &&
        WeakTopGate::Accept(&gate, customAdded, fixedAdded, &array)) {
        t_predictRequest predict;
        predict.dicts = m_dicts;
        predict.hz = IfReady<t_hzDict>();
        predict.syllables = &syllables;
        predict.arena = &m_arena;
        predict.filter = m_runOuterFilter;
        predict.strict = gate.strict != 0;
        predict.debug = m_debug;
        AddPredictedWord(predict, &array);
    }
    // Spelling correction when the typed letters read poorly.
    if (request->correction && !request->hasCapitals && !request->shuangPin && n >= 2 &&
        customAdded == 0 && fixedAdded == 0 && whole && m_lattice.GetArcCount() > 0) {
        t_correctionMode mode;
        // Words of the whole input after a leading o or i, or beside the
        // input's English word, and game keys are not corrected; nor are
        // initials that read as a word: a variant with a key fewer always
        // reads likelier and would push the word of the initials down.
        const bool wholeWord = firstWordEnd == uint32_t(n);
        const bool hint =
            request->gameKeys != 0 || ReadsAsInitials(array, input, n) ||
            ((input[0] == L'o' || input[0] == L'i') && wholeWord && fullLength >= 2) ||
            (n > 4 && englishCompletion.HasCandidate() && wholeWord);
        // Input on the way, read as pinyin up to a last initial or a
        // syllable that may be cut, is most likely being typed, not
        // mistyped: a correction never comes first there.
        const bool decided = DecideCorrectionMode(syllables, input, n, &array, hint, &mode) > 0;
        const int cut = EndsCut(syllables, m_dicts.py, input, &mode.lastStart);
        mode.onTheWay = cut > 0;
        mode.cutEnd = cut == 2;
        // Initials and whole syllables that reach a word (jjue: 解决) are
        // typed as meant: a correction (绝) comes after that word.
        mode.readsAsWord = ReadsAsInitials(array, input, n, 1, true);
        const t_candWord* english =
            englishCompletion.HasCandidate() ? englishCompletion.GetRecord() : nullptr;
        mode.readsAsTyped =
            mode.mode == 4 || (english && LstrGetLength(english->text) == uint32_t(n));
        mode.wholeSyllable = m_dicts.py->GetSyllableId(std::wstring(input, size_t(n)).c_str()) >= 0;
        if (decided && CorrectionPass(request, syllables, &array, n, &mode))
            request->correctionUsed = 1;
    }
    // A learned English word covers only the start of the input: it never
    // stands before a reading of the whole input.
    double wholeLowest = 0;
    bool wholeRead = false;
    for (int i = 0; englishCount > 0 && array.RankedAt(i); ++i) {
        const t_candWord* w = array.RankedAt(i);
        if (w->coveredLength < uint32_t(n)) continue;
        wholeLowest = wholeRead ? std::min(wholeLowest, w->score) : w->score;
        wholeRead = true;
    }
    for (int i = 0; i < englishCount; ++i) {
        if (!english[i]) continue;
        english[i]->score = syllables.GetBackward(int(english[i]->coveredLength));
        if (wholeRead && english[i]->score >= wholeLowest)
            english[i]->score = std::nextafter(wholeLowest, -1.0);
        int filtered = 0;
        array.Add(english[i], &filtered);
    }
    bool cloudAnswer = false;
    if (request->noCloudCache == 0 && request->cloudCache) {
        bool found = false;
        t_candWord* answer = AddCloudCacheCandidates(m_arena, input, &array, &found, m_debug);
        if (answer) {
            int filtered = 0;
            array.AddChecked(answer, &filtered);
            cloudAnswer = true;
        }
    }
    if (!request->hasCapitals && request->smartFuzzy && m_lattice.GetArcCount() > 0)
        RunFuzzyPass(request, &array, n);
    // An unsure correction, a cached answer or any later page asks nothing.
    if (askCloud &&
        ((request->correctionUsed && !confident) || request->pageStart > 0 || cloudAnswer))
        asked->asked = 0;
    if (request->charArt)
        AddCharArtCandidates(&array, &m_arena, uint32_t(length), int(request->pageSize));
    if (m_repeatKey && !request->noPhrase) AddRepeatedKeyCandidate(&array, &m_arena, input, n);
    if (whole) ArrangeFirstPage(&array, input, n, m_firstWordEnd);
    const int count = array.Arrange();
    Finish(request, results, count, n);
    return count;
}

void t_candGenerator::Finish(t_convertRequest* request, t_candWord** results, int count, int n) {
    // One key tip over all pages: the first page starts the count again.
    if (request->pageStart == 0) g_tipThreshold = kNoTipYet;
    if (request->firstTip || request->secondTip)
        AddPinyinTips(m_dicts, &m_arena, request->firstTip != 0, request->secondTip != 0, results,
                      count, int(request->pageStart), &g_tipThreshold, request->input, n);
    if (m_dicts.cell && m_dicts.cell->HasWords())
        for (int i = 0; i < count; ++i)
            if (results[i] && results[i]->text && !results[i]->attachedData)
                results[i]->attachedData =
                    const_cast<uint8_t*>(m_dicts.cell->FindSortedEntry(results[i]->text));
    request->mergedMask = 0;
    if (request->correctionUsed) CollectMergedMask(results, count, &request->mergedMask);
}

int t_candGenerator::GenerateAlt(t_convertRequest* request, t_candWord** results) {
    m_arena.FreeAll();
    m_bestPower = 10000;
    m_personName = m_namePathFound = false;
    if (!request || !results || !request->input || request->pageSize == 0) return 0;
    m_dicts = RunDicts();
    if (!m_dicts.py || !m_dicts.keyMap || !m_dicts.sys) return 0;
    const wchar_t* input = request->input;
    const int length = request->inputLength > 0 ? request->inputLength : int(std::wcslen(input));
    const int n =
        std::min(request->segmentLength > 0 ? request->segmentLength : length, kMaxInputChars);
    t_auxCodeServices services = t_auxCodeServices::Kernel();
    services.keyMap = m_dicts.keyMap;
    t_partionedZiFilter auxFilter(services);
    if (!ParseAuxCode(&auxFilter, nullptr, &m_arena, request->auxCode)) return 0;
    t_arrayWord array(results, request->pageStart, request->pageSize,
                      uint32_t(request->pinnedCount), auxFilter.IsReady() ? &auxFilter : nullptr,
                      &m_arena);
    if (!array.IsValid()) return 0;
    t_pyLattice syllables;
    if (!syllables.Build(&m_arena, m_dicts.keyMap, m_dicts.py, input, n, true,
                         request->shuangPin != 0))
        return 0;
    m_lattice.Reset(syllables.GetLength());
    t_wordFinder finder(m_dicts, &m_lattice, &syllables, input, &m_arena);
    const t_findSwitches systemOnly;
    finder.FindWordsAt(0, systemOnly);
    for (int p = 1; p < n; ++p)
        if (syllables.GetForward(p) > 0) finder.FindWordsAt(p, systemOnly);
    m_lattice.FinaliseWordCounts();
    if (request->contextBytes[0] != kContextNoNames) {
        t_segmentNodes segments;
        segments.Init(kMaxInputChars, &m_arena);
        segments.Reset(n);
        PieceLattice pieces;
        pieces.Bind(&m_arena);
        const bool twoPart = request->contextBytes[0] == kContextTwoPartNames;
        // Three pieces make the three-character names.
        pieces.Reset(n, twoPart ? 2 : 3);
        t_pieceSink sink(&pieces, m_dicts.sys, twoPart);
        t_wordReader reader;
        reader.Bind(m_dicts, &segments, &m_lattice, &sink);
        for (int p = 1; p <= n; ++p) reader.NameStep(p, p == n);
        t_pieceChain chains[PieceLattice::kBestChains];
        int count = 0;
        if (twoPart)
            pieces.BestChainsFromSixteen(chains, &count);
        else
            pieces.BestChains(chains, &count);
        for (int c = 0; c < count; ++c) AddChainName(chains[c], &array, n);
    }
    return array.Arrange();
}

void t_candGenerator::AddChainName(const t_pieceChain& chain, t_arrayWord* array, int n) {
    t_nameNode nodes[3];
    const int count = int(std::min<uint32_t>(chain.kindCount, 3));
    for (int i = 0; i < count; ++i) {
        const auto* node =
            chain.pieces[i] ? static_cast<const t_segWordNode*>(chain.pieces[i]->word) : nullptr;
        uint32_t offset = 0, gram = 0;
        uint16_t cost = 0;
        uint8_t more = 0;
        if (!node || !node->arc ||
            !m_dicts.sys->GetWordRecord(node->index, &offset, &cost, &gram, &more))
            return;
        nodes[i] = {node->arc->ids, node->arc->positions, offset};
    }
    m_namePathFound = true;
    AddComposedNames(array, &m_arena, m_dicts.sys, uint32_t(n), nodes, count,
                     int16_t(std::clamp<int32_t>(chain.cost, 0, kCandNoPower - 1)), m_debug);
}
