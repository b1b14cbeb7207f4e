// The sentence lattice over the word nodes and the composition driver.
// One conversion on one thread.
#include "kernel/convert/word_lattice.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "kernel/convert/cand_array.h"
#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

bool IsTypedExtra(const t_segWordNode* w) {
    return w->type == kSegWordCell || w->type == kSegWordUser;
}

uint32_t GramIdOf(const t_segWordNode* w) {
    return (w->type == kSegWordSystem || w->type == kSegWordAbbreviation) ? w->value : 0;
}

t_gramArc GramArcOf(const t_segWordNode* w, const t_segWordNode* before) {
    t_gramArc a;
    a.syllableCount = w->length;
    a.gramId = int32_t(GramIdOf(w));
    a.ownFreq = w->cost;
    a.prevGramId = before ? int32_t(GramIdOf(before)) : 0;
    a.sourceType = w->type == kSegWordCell ? 3 : 0;
    return a;
}

// Whether a's cost beats the held one's.
bool Cheaper(int32_t cost, const t_segWordNode* held, bool typed) {
    return !held || cost < (typed ? held->pathCost : held->bestPlainCost);
}

}  // namespace

int16_t ComposedRank(int32_t pathCost) {
    return int16_t(std::clamp<int32_t>(pathCost, 0, kCandNoPower - 1));
}

void t_wordLattice::Init(const t_convertDicts& dicts, t_segmentNodes* segments, int n) {
    m_dicts = dicts;
    m_segments = segments;
    m_n = std::clamp(n, 0, kMaxInputChars);
    for (auto& b : m_best) b[0] = b[1] = nullptr;
    m_complete[0] = m_complete[1] = t_endPath();
}

int32_t t_wordLattice::WordChars(const t_segWordNode* w) const {
    return std::max(w->length, 1);
}

int32_t t_wordLattice::Transition(const t_segWordNode* v, const t_segWordNode* w, bool last,
                                  uint32_t* bits) const {
    const t_gramInfo* gram =
        m_dicts.sys && m_dicts.sys->IsReady() ? m_dicts.sys->GetGram() : nullptr;
    t_gramArc right = GramArcOf(w, v);
    uint8_t flag0 = 0, found = 0;
    uint32_t b = 0;
    int32_t hint = -1;
    int32_t cost;
    if (v) {
        const t_gramArc left = GramArcOf(v, v->prev[0]);
        cost = GramGetWordPairScore(gram, &left, &right, &flag0, &found, &b, &hint, 0);
    } else {
        const t_gramArc none;
        cost = GramGetWordPairScore(gram, &none, &right, &flag0, &found, &b, &hint, 0);
    }
    if (last && (b & 64)) cost -= kPreferenceBonus;
    if (w->arc) cost += w->arc->power;
    if (bits) *bits = b;
    return cost;
}

bool t_wordLattice::Joined(const t_segWordNode* v, const t_segWordNode* w) const {
    const t_gramInfo* gram =
        m_dicts.sys && m_dicts.sys->IsReady() ? m_dicts.sys->GetGram() : nullptr;
    const uint32_t left = GramIdOf(v), right = GramIdOf(w);
    if (!gram || left == 0 || right == 0) return false;
    int32_t hint = -1;
    const int32_t score = gram->CachedQuery(left, right, nullptr, nullptr, &hint, 0);
    // Two characters are stored as a pair even where the first makes the
    // second little likelier (了 马); a word and a character are not.
    return score != n_gram::kNeutral &&
           (WordChars(v) > 1 || WordChars(w) > 1 || score < kShortPairJoined);
}

void t_wordLattice::NoteComplete(t_segWordNode* w, t_segWordNode* v, int32_t cost,
                                 uint8_t transition) {
    t_endPath p{w, v, cost, transition};
    if (cost < m_complete[0].cost) {
        m_complete[1] = m_complete[0];
        m_complete[0] = p;
    } else if (cost < m_complete[1].cost) {
        m_complete[1] = p;
    }
}

void t_wordLattice::FindBestPath(int p) {
    if (!m_segments || p < 1 || p > m_n) return;
    const bool last = p == m_n;
    for (t_segWordNode* w = const_cast<t_segWordNode*>(m_segments->At(p)); w; w = w->next) {
        if (!w->arc) continue;
        const int s = w->arc->start;
        if (s < 0 || s >= p || (last && s == 0)) continue;
        w->bestPlainCost = w->pathCost = kNoCost;
        w->prev[0] = w->prev[1] = nullptr;
        const bool single = WordChars(w) == 1;
        if (s == 0) {
            uint32_t bits = 0;
            const int32_t t = Transition(nullptr, w, last, &bits);
            w->bestPlainCost = t + kStepCost;
            w->pathCost = w->bestPlainCost + (IsTypedExtra(w) ? kTypedExtra : 0);
            w->singleRun[0] = w->singleRun[1] = single ? 1 : 0;
            w->transition = uint8_t(bits);
            if (w->type == kSegWordUser) w->pathFlags |= kPathThroughUser;
        } else {
            if (!m_best[s][0]) continue;
            for (t_segWordNode* v = const_cast<t_segWordNode*>(m_segments->At(s)); v; v = v->next) {
                if (!v->arc || v->bestPlainCost >= kNoCost) continue;
                // A predecessor well above the best way found to p cannot lead there.
                if (const t_segWordNode* b = m_best[p][0];
                    b && v->bestPlainCost >
                             b->bestPlainCost +
                                 ((b->pathFlags & kPathWideMargin) ? kWideMargin : kMargin))
                    continue;
                const bool plainOk = !single || v->singleRun[0] < kMaxSingleRun;
                const bool typedOk =
                    v->pathCost < kNoCost && (!single || v->singleRun[1] < kMaxSingleRun);
                if (!plainOk && !typedOk) continue;
                uint32_t bits = 0;
                const int32_t t = Transition(v, w, last, &bits);
                if (plainOk) {
                    const int32_t plain = v->bestPlainCost + t + kStepCost;
                    if (plain < w->bestPlainCost) {
                        w->bestPlainCost = plain;
                        w->prev[0] = v;
                        w->singleRun[0] = uint8_t(single ? v->singleRun[0] + 1 : 0);
                        w->transition = uint8_t(bits);
                    }
                    if (last) NoteComplete(w, v, plain, uint8_t(bits));
                }
                if (typedOk) {
                    const bool extra = IsTypedExtra(w) || IsTypedExtra(v);
                    const int32_t typed = v->pathCost + t + kStepCost + (extra ? kTypedExtra : 0);
                    if (typed < w->pathCost) {
                        w->pathCost = typed;
                        w->prev[1] = v;
                        w->singleRun[1] = uint8_t(single ? v->singleRun[1] + 1 : 0);
                        if (w->type == kSegWordUser || (v->pathFlags & kPathThroughUser))
                            w->pathFlags |= kPathThroughUser;
                    }
                }
            }
        }
        if (w->bestPlainCost < kNoCost && Cheaper(w->bestPlainCost, m_best[p][0], false))
            m_best[p][0] = w;
        if (w->pathCost < kNoCost && Cheaper(w->pathCost, m_best[p][1], true)) m_best[p][1] = w;
    }
}

t_segWordNode* t_wordLattice::BestAt(int p, bool typed) const {
    return p >= 0 && p <= m_n ? m_best[p][typed ? 1 : 0] : nullptr;
}

int t_wordLattice::FarthestBest(bool typed) const {
    for (int p = m_n; p > 0; --p)
        if (m_best[p][typed ? 1 : 0]) return p;
    return 0;
}

bool t_wordLattice::AppendNode(const t_segWordNode* w, uint16_t* ids, int* nIds, uint16_t* pos,
                               int* nPos, uint16_t* text, int* nText) const {
    const t_lstr* wordText = nullptr;
    const t_lstr* wordIds = w->arc->ids;
    const t_lstr* wordPos = w->arc->positions;
    uint8_t userText[160];
    switch (w->type) {
        case kSegWordSystem: {
            uint32_t off = 0, gram = 0;
            uint16_t cost = 0;
            uint8_t more = 0;
            if (!m_dicts.sys || !m_dicts.sys->GetWordRecord(w->index, &off, &cost, &gram, &more))
                return false;
            wordText = m_dicts.sys->GetTextAt(off);
            break;
        }
        case kSegWordAbbreviation: {
            const uint8_t* item = m_dicts.sys ? m_dicts.sys->GetShortKeyItem(w->index) : nullptr;
            if (!item) return false;
            wordText = reinterpret_cast<const t_lstr*>(item + n_sysDict::kShortItemText);
            wordIds = reinterpret_cast<const t_lstr*>(item + n_sysDict::kShortItemIds);
            wordPos = nullptr;
            break;
        }
        case kSegWordUser:
            if (!m_dicts.user || !m_dicts.user->GetWordText(w->index, w->flagWord,
                                                            reinterpret_cast<t_lstr*>(userText)))
                return false;
            wordText = reinterpret_cast<const t_lstr*>(userText);
            break;
        case kSegWordCell: {
            const t_cellRecord* records = nullptr;
            if (!m_dicts.cell) return false;
            const uint32_t n = m_dicts.cell->GetItem(int32_t(w->arc->value), &records);
            if (!records || w->index >= n) return false;
            wordText = m_dicts.cell->GetWordText(records[w->index].wordOffset);
            break;
        }
        default:
            return false;
    }
    if (!wordText || !wordIds) return false;
    const int ni = LstrGetLength(wordIds), nt = LstrGetLength(wordText);
    if (*nIds + ni > kTextCapacity || *nText + nt > kTextCapacity || *nPos + ni > kTextCapacity)
        return false;
    for (int i = 0; i < ni; ++i) ids[(*nIds)++] = LstrGetUnit(wordIds, size_t(i));
    for (int i = 0; i < nt; ++i) text[(*nText)++] = LstrGetUnit(wordText, size_t(i));
    // Syllable ends: the arc's own, or (short-key words) one position per
    // syllable from the start with the last at the arc's end.
    for (int i = 0; i < ni; ++i) {
        int end;
        if (wordPos && i < int(LstrGetLength(wordPos)))
            end = LstrGetUnit(wordPos, size_t(i));
        else
            end = i + 1 == ni ? w->arc->end : std::min(w->arc->start + i + 1, w->arc->end);
        pos[(*nPos)++] = uint16_t(end);
    }
    return true;
}

bool t_wordLattice::ScorePath(t_scopeHeap* arena, const t_segWordNode* node,
                              const t_segWordNode* prev, bool typed, t_path* out) const {
    if (!arena || !node || !out) return false;
    *out = t_path();
    const t_segWordNode* chain[kMaxPositions];
    int n = 0;
    chain[n++] = node;
    for (const t_segWordNode* v = prev ? prev : node->prev[typed ? 1 : 0]; v && n < kMaxPositions;
         v = v->prev[typed ? 1 : 0])
        chain[n++] = v;
    return ScoreChain(arena, chain, n, out);
}

bool t_wordLattice::ScoreChain(t_scopeHeap* arena, const t_segWordNode* const* chain, int n,
                               t_path* out) const {
    if (!arena || !chain || n < 1 || !out) return false;
    *out = t_path();
    uint16_t ids[kTextCapacity], pos[kTextCapacity], text[kTextCapacity];
    int nIds = 0, nPos = 0, nText = 0, run = 0;
    for (int k = n - 1; k >= 0; --k) {
        const t_segWordNode* w = chain[k];
        if (!AppendNode(w, ids, &nIds, pos, &nPos, text, &nText)) return false;
        ++out->steps;
        out->transitions += w->transition;
        run = WordChars(w) == 1 ? run + 1 : 0;
        out->singleRun = std::max(out->singleRun, run);
        out->types |= w->type == kSegWordCell ? 4u : w->type == kSegWordUser ? 2u : 1u;
        out->prob *= w->arc->prob;
        if (w->arc->forecast) out->forecast = true;
    }
    // A lone character counts as read, not glued on, only where the
    // statistics pair it with its neighbour; asked of short readings only
    // (the pair queries of every long path would cost the keystroke).
    out->joined = n > 1 && nText <= kJoinedChars;
    for (int k = 0; k + 1 < n && out->joined; ++k)
        if ((WordChars(chain[k]) == 1 || WordChars(chain[k + 1]) == 1) &&
            !Joined(chain[k + 1], chain[k]))
            out->joined = false;
    out->ids = arena->MakeLstr(ids, size_t(nIds) * 2);
    out->positions = arena->MakeLstr(pos, size_t(nPos) * 2);
    out->text = arena->MakeLstr(text, size_t(nText) * 2);
    return out->ids && out->positions && out->text;
}

namespace {

// A composed record of a gathered path.
t_candWord* MakeRecord(t_scopeHeap* arena, const t_wordLattice::t_path& path,
                       const t_segWordNode* end, int covered, int32_t cost, bool debug) {
    t_candWord* r = t_candWord::New(*arena);
    if (!r) return nullptr;
    r->text = path.text;
    r->syllableIds = path.ids;
    r->segmentList = path.positions;
    r->sourceType = kCandSourceComposed;
    r->kind = kCandKindScored;
    r->coveredLength = uint32_t(covered);
    r->frequency = int32_t(end->value);
    r->rank = ComposedRank(cost);
    r->score = 1.0;
    r->multiChar = LstrGetLength(path.text) > 1;
    r->adjustFlags = path.types | (path.joined ? kCandAdjustPiecesJoined : 0);
    r->cloudMark = path.forecast ? kArcForecast : 0;
    if (debug) {
        std::u16string label = u"-组词(词频" + std::u16string();
        for (char c : std::to_string(r->rank)) label.push_back(char16_t(c));
        if (path.steps > 1) {
            label += u"&keymap ";
            for (char c : std::to_string(path.prob)) label.push_back(char16_t(c));
            if (path.joined) label += u"&joined";
        }
        label.push_back(u')');
        r->debugText = arena->MakeLstr(label.data(), label.size() * 2);
    }
    return r;
}

// What the word of the whole input that reads the last vowel begun costs
// as a reading of its own, priced as the sentence lattice prices a word
// (its unigram, the power of its keys, the step): the scale its readings
// of the whole input are weighed on. kNoCost when the system words do not
// hold it or the user's own words do: nothing is weighed against it.
int32_t BegunWordCost(const t_composeRequest& request, const t_wordLattice& lattice, int n) {
    const t_candWord* w = request.begun;
    uint32_t index = 0, offset = 0, gram = 0;
    uint16_t cost = 0;
    if (!w || w->kind == kCandKindUser ||
        !request.dicts.sys->FindWordEx(w->syllableIds, w->text, &index, &offset, &cost, &gram))
        return t_wordLattice::kNoCost;
    t_wordArc arc{};
    arc.end = n;
    arc.prob = float(w->score);
    arc.power = ArcPower(arc.prob);
    t_segWordNode node{};
    node.arc = &arc;
    node.type = kSegWordSystem;
    node.value = gram;
    node.cost = cost;
    node.length = int32_t(LstrGetLength(w->syllableIds));
    return lattice.Transition(nullptr, &node, true, nullptr) + t_wordLattice::kStepCost;
}

// A record of the whole input (ending in the word end, of the given cost)
// beside a word with a begun last vowel. It comes first where the
// statistics price it below the word: a reading that gives the vowel its
// own syllable (行啊), or one that splits the keys elsewhere (他那 for
// tana) whose pieces they pair; never one that reads the vowel begun too.
// Else the cheapest reading of the vowel's own syllable comes right after
// the word, and the others take the word's score and a rank on its scale,
// so that the statistics order them among the words of the whole input.
void WeighAgainstBegunWord(const t_composeRequest& request, int32_t begunCost, t_candWord* r,
                           const t_segWordNode* end, int32_t cost, int n, bool cheapest) {
    if (!r || !request.begun || r->coveredLength != uint32_t(n)) return;
    const bool own = end && end->arc && !(end->arc->flags & kPyArcPartialMask);
    const bool vowel = own && end->arc->start == n - 1;
    const bool weighed = begunCost < t_wordLattice::kNoCost;
    if (weighed && own && cost < begunCost && (vowel || (r->adjustFlags & kCandAdjustPiecesJoined)))
        return;
    r->score = std::min(r->score, request.begun->score);
    if (vowel && cheapest)
        r->rank = ComposedRank(request.begun->rank + 1);
    else if (weighed)
        r->rank = ComposedRank(cost - (begunCost - request.begun->rank));
    // Reading the vowel begun too, it is the word's own syllables composed
    // of other words (和而 for 赫尔): as where the syllable is typed out,
    // the word of the dictionary stands before its composition.
    if (!own) r->rank = std::max(r->rank, ComposedRank(request.begun->rank + 1));
}

int AddRecord(t_arrayWord* array, t_candWord* r) {
    if (!r) return 6;
    if (!array) return kArrayAdded;
    int filtered = 0;
    return array->Add(r, &filtered);
}

// Readings of the whole input that differ from the best one in one word:
// at most this many, each at most this much costlier, from the cheapest
// few words of each span.
constexpr int kSwappedReadings = t_composeOutcome::kMaxSwapped;
constexpr int32_t kSwapMargin = 600;
constexpr int kSwapWordsPerSpan = 6;

struct t_swap {
    int at = -1;  // index in the chain (0 = the last word)
    const t_segWordNode* word = nullptr;
    int32_t delta = 0;
};

// Makes the best reading with one of its words exchanged for another word
// of the same keys, cheapest first: the homophone a user most often
// looks for after the first candidate.
void MakeSwappedReadings(const t_composeRequest& request, const t_segmentNodes& segments,
                         const t_wordLattice& lattice, t_segWordNode* end, int n, int32_t bestCost,
                         int32_t begunCost, t_composeOutcome* out) {
    const t_segWordNode* chain[kMaxPositions];
    int count = 0;
    for (const t_segWordNode* v = end; v && count < kMaxPositions; v = v->prev[0])
        chain[count++] = v;
    if (count == 0 || !chain[count - 1]->arc || chain[count - 1]->arc->start != 0) return;
    // A reading of initials or cut syllables is a guess already: its
    // homophones would only bury the words of the keys.
    for (int i = 0; i < count; ++i)
        if (!chain[i]->arc || (chain[i]->arc->flags & kPyArcPartialMask)) return;
    t_swap best[kSwappedReadings];
    for (int i = 0; i < count; ++i) {
        const t_segWordNode* w = chain[i];
        const t_segWordNode* v = i + 1 < count ? chain[i + 1] : nullptr;
        const t_segWordNode* x = i > 0 ? chain[i - 1] : nullptr;
        const int32_t chars = lattice.WordChars(w);
        // The cheapest few other words of the same keys.
        const t_segWordNode* words[kSwapWordsPerSpan];
        int found = 0;
        for (const t_segWordNode* s = segments.At(int(w->arc->end)); s; s = s->next) {
            if (s == w || !s->arc || s->arc->start != w->arc->start || s->arc->end != w->arc->end ||
                int32_t(s->cost) > int32_t(w->cost) + kSwapMargin || lattice.WordChars(s) != chars)
                continue;
            int k = found < kSwapWordsPerSpan ? found++ : kSwapWordsPerSpan;
            if (k == kSwapWordsPerSpan && s->cost >= words[k - 1]->cost) continue;
            if (k == kSwapWordsPerSpan) --k;
            while (k > 0 && words[k - 1]->cost > s->cost) {
                words[k] = words[k - 1];
                --k;
            }
            words[k] = s;
        }
        if (found == 0) continue;
        const int32_t own = lattice.Transition(v, w, i == 0, nullptr) +
                            (x ? lattice.Transition(w, x, i == 1, nullptr) : 0);
        for (int k = 0; k < found; ++k) {
            const t_segWordNode* s = words[k];
            const int32_t delta = lattice.Transition(v, s, i == 0, nullptr) +
                                  (x ? lattice.Transition(s, x, i == 1, nullptr) : 0) - own;
            if (delta > kSwapMargin) continue;
            int slot = kSwappedReadings - 1;
            if (best[slot].word && best[slot].delta <= delta) continue;
            while (slot > 0 && (!best[slot - 1].word || best[slot - 1].delta > delta)) {
                best[slot] = best[slot - 1];
                --slot;
            }
            best[slot] = {i, s, delta};
        }
    }
    for (const t_swap& swap : best) {
        if (!swap.word) break;
        const t_segWordNode* swapped[kMaxPositions];
        std::copy(chain, chain + count, swapped);
        swapped[swap.at] = swap.word;
        t_wordLattice::t_path path;
        if (!lattice.ScoreChain(request.arena, swapped, count, &path)) continue;
        // Never before the best reading, whatever the pair scores say.
        const int32_t cost = bestCost + std::max<int32_t>(swap.delta, 1);
        t_candWord* r = MakeRecord(request.arena, path, swapped[0], n, cost, request.debug);
        if (!r) continue;
        WeighAgainstBegunWord(request, begunCost, r, swapped[0], cost, n, false);
        // A last character the statistics do not pair with the word before
        // is glued on, not read (明天键 beside 明天见).
        if (swap.at == 0 && count > 1 && lattice.WordChars(swap.word) == 1 &&
            !lattice.Joined(chain[1], swap.word))
            r->adjustFlags |= kCandAdjustStrayChar;
        out->swapped[out->swappedCount++] = r;
    }
}

}  // namespace

bool ComposeWords(const t_composeRequest& request, t_segmentNodes* segments, t_wordLattice* lattice,
                  t_arrayWord* array, t_composeOutcome* out) {
    if (!request.lattice || !request.arena || !segments || !lattice || !out || !request.dicts.sys ||
        !request.dicts.sys->IsReady())
        return false;
    *out = t_composeOutcome();
    const int n = std::clamp(request.n > 0 ? request.n : request.lattice->GetLength(), 0,
                             request.lattice->GetLength());
    segments->Init(kMaxInputChars, request.arena);
    segments->Reset(n);
    t_wordReader reader;
    reader.Bind(request.dicts, segments, request.lattice, request.names);
    reader.SetNamesWanted(request.namesWanted);
    reader.SetGameKeys(request.gameKeys);
    lattice->Init(request.dicts, segments, n);
    for (int p = 1; p <= n; ++p) {
        out->nodes += reader.Step(p, p == n);
        lattice->FindBestPath(p);
    }
    if (request.fullLengthWords > 0 && (request.cloudFlag == 0 || out->nodes == 0)) return true;
    const int32_t begunCost = BegunWordCost(request, *lattice, n);

    t_wordLattice::t_path path;
    for (int typed = 0; typed < 2; ++typed) {
        const int p = lattice->FarthestBest(typed != 0);
        t_segWordNode* end = lattice->BestAt(p, typed != 0);
        if (!end) continue;
        if (!lattice->ScorePath(request.arena, end, nullptr, typed != 0, &path)) continue;
        const int32_t cost = typed ? end->pathCost : end->bestPlainCost;
        t_candWord* r = MakeRecord(request.arena, path, end, p, cost, request.debug);
        WeighAgainstBegunWord(request, begunCost, r, end, cost, n, true);
        if (typed) {
            out->typed = r;
            out->typedResult = AddRecord(array, r);
        } else {
            out->plain = r;
            out->bestCost = cost;
            const t_segWordNode* first = end;
            while (first->prev[0]) first = first->prev[0];
            out->firstWordEnd = first->arc ? first->arc->end : 0;
            out->plainResult = AddRecord(array, r);
            if (p == n && out->plainResult == kArrayAdded)
                MakeSwappedReadings(request, *segments, *lattice, end, n, cost, begunCost, out);
        }
    }
    // The short complete paths: the best, and the runner-up when the best
    // was filtered or merged (or the input is short and typed-path poor).
    const bool allowLong = (request.fullLengthWords < 2 && request.lattice->FewestWords(n) < 4) ||
                           out->plainResult == kArrayFiltered || out->plainResult == kArrayMerged;
    const t_wordLattice::t_endPath& best = lattice->BestComplete();
    if (!allowLong || !best.node) return true;
    out->cloudFlag = 1;
    bool tryAlternative = out->typedResult != kArrayAdded && request.fullLengthWords == 0 &&
                          request.lattice->FewestSyllables(n) < 5;
    bool firstOfTwo = false;
    auto composeLong = [&](const t_wordLattice::t_endPath& end) -> int {
        if (end.cost - 300 > out->bestCost ||
            !lattice->ScorePath(request.arena, end.node, end.prev, false, &path))
            return 6;
        const uint32_t chars = LstrGetLength(path.text);
        if (&end == &best) firstOfTwo = chars == 2;
        if (chars > 5 || chars == 2) return 6;
        t_candWord* r = MakeRecord(request.arena, path, end.node, n, end.cost, request.debug);
        WeighAgainstBegunWord(request, begunCost, r, end.node, end.cost, n, &end == &best);
        return AddRecord(array, r);
    };
    out->longResult = composeLong(best);
    if (out->longResult == kArrayFiltered || out->longResult == kArrayMerged) tryAlternative = true;
    const t_wordLattice::t_endPath& alt = lattice->Alternative();
    if (tryAlternative && alt.node && !firstOfTwo) {
        const int r = composeLong(alt);
        if (r != 6) out->longResult = r;
    }
    return true;
}
