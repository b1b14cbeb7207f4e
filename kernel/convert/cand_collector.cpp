// The candidate collector: arcs to scored records, source by source, and
// the association candidates. One conversion on one thread.
#include "kernel/convert/cand_collector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/freq_adjust.h"
#include "kernel/convert/name_marks.h"
#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/privilege_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts_numeric.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

constexpr int kMaxArcsPerEnd = 512;
constexpr int32_t kFourCharMaxCost = 900;
constexpr uint16_t kUsrFlagDemoted = 4;  // a user word that ranks as a system word
constexpr uint16_t kUsrFlagNoHistory = 32;
constexpr uint16_t kExtClassBits = 0x18C0;
constexpr int kMaxCloudEntries = 64;

bool NearOne(double p, double eps) {
    return std::fabs(p - 1.0) <= eps;
}

template <class T>
bool Ready(T* d) {
    return d && d->IsReady();
}

}  // namespace

int16_t CellWordRank(int64_t frequency, double factor) {
    if (frequency <= 0) return -1;
    const double r = std::trunc(double(frequency) * factor);
    if (!(r >= 1.0)) return 1;
    return r >= double(kCandNoPower) ? kCandNoPower : int16_t(r);
}

// ---------------------------------------------------------------- case map

void t_inputCaseMap::Init(t_scopeHeap* arena, const wchar_t* text, int n) {
    input = text;
    length = 0;
    capitals = nullptr;
    if (!arena || !text || n <= 0) return;
    capitals = static_cast<uint8_t*>(arena->Alloc(size_t(n)));
    if (!capitals) return;
    bool any = false;
    for (int i = 0; i < n; ++i) {
        capitals[i] = text[i] >= L'A' && text[i] <= L'Z';
        any |= capitals[i] != 0;
    }
    length = any ? n : 0;
}

void t_inputCaseMap::Apply(t_candWord* w, t_scopeHeap* arena) const {
    if (!IsActive() || !w->text || !w->segmentList || !arena) return;
    const int syllables = LstrGetLength(w->segmentList);
    if (int(LstrGetLength(w->text)) < syllables) return;
    t_lstr* copy = arena->DupLstr(w->text);
    if (!copy) return;
    int from = 0;
    bool changed = false;
    for (int s = 0; s < syllables; ++s) {
        const int to = std::min<int>(LstrGetUnit(w->segmentList, size_t(s)), length);
        const uint16_t ch = LstrGetUnit(copy, size_t(s));
        for (int i = from; i < to; ++i)
            if (capitals[i] && ch >= 'a' && ch <= 'z') {
                LstrSetUnit(copy, size_t(s), uint16_t(input[i]));  // the capital typed
                changed = true;
                break;
            }
        from = std::max(from, to);
    }
    if (!changed) return;
    w->text = copy;
    w->thirdText = copy;
}

// ---------------------------------------------------------------- collector

t_candCollector::t_candCollector(t_scopeHeap* arena, const t_convertDicts& dicts,
                                 const t_inputLattice* lattice, t_arrayWord* out,
                                 const t_inputCaseMap* caseMap)
    : m_arena(arena), m_dicts(dicts), m_lattice(lattice), m_out(out), m_caseMap(caseMap) {}

bool t_candCollector::Refused(const t_lstr* text) const {
    return (m_filter1 && !m_filter1->AcceptLstr(text)) ||
           (m_filter2 && !m_filter2->AcceptLstr(text));
}

t_candWord* t_candCollector::NewWordRecord(const t_lstr* text, const t_lstr* ids,
                                           const t_lstr* segments, uint32_t covered) {
    t_candWord* w = t_candWord::New(*m_arena);
    if (!w) return nullptr;
    w->text = text;
    w->syllableIds = ids;
    w->segmentList = segments;
    w->coveredLength = covered;
    w->multiChar = LstrGetLength(text) > 1;
    w->positionFloor = m_floor;
    return w;
}

void t_candCollector::TakeSystemRank(t_candWord* w) const {
    uint32_t gram = 0;
    uint16_t cost = 0;
    if (Ready(m_dicts.sys) &&
        m_dicts.sys->FindWordEx(w->syllableIds, w->text, nullptr, nullptr, &cost, &gram)) {
        w->rank = int16_t(m_dicts.sys->ListCost(cost, gram, LstrGetLength(w->text)));
        w->frequency = int32_t(gram);
    }
}

int t_candCollector::OfferCounted(t_candWord* w, double prob) {
    const int r = Offer(w, prob);
    return r == kArrayAdded || r == kArrayMerged ? 1 : 0;
}

int t_candCollector::Offer(t_candWord* w, double p) {
    if (m_caseMap && m_caseMap->IsActive()) m_caseMap->Apply(w, m_arena);
    int filtered = 0;
    const int r = m_out->Add(w, &filtered);
    if (r == kArrayNotAdded && p > m_bound) m_bound = p;
    if ((r == kArrayAdded || r == kArrayMerged) && w->kind == kCandKindScored &&
        w->rank < m_lowestPower)
        m_lowestPower = w->rank;
    return r;
}

void t_candCollector::Debug(t_candWord* w, const wchar_t* label, int32_t a, int32_t b) {
    if (!m_debug) return;
    wchar_t buf[96];
    std::swprintf(buf, 96, L"%ls%d,%d)", label, a, b);
    const size_t n = std::wcslen(buf);
    auto* s = static_cast<t_lstr*>(m_arena->Alloc(2 + 2 * n));
    if (!s) return;
    LstrSetByteLength(s, uint16_t(2 * n));
    for (size_t i = 0; i < n; ++i) LstrSetUnit(s, i, uint16_t(buf[i]));
    w->debugText = s;
}

void AppendTrace(t_scopeHeap* arena, t_candWord* w, const std::wstring& tail) {
    if (!arena || !w) return;
    const uint32_t had = w->debugText ? LstrGetLength(w->debugText) : 0;
    if (had + tail.size() > 0x7FFF) return;
    const size_t n = had + tail.size();
    auto* s = static_cast<t_lstr*>(arena->Alloc(2 + 2 * n));
    if (!s) return;
    LstrSetByteLength(s, uint16_t(2 * n));
    for (uint32_t i = 0; i < had; ++i) LstrSetUnit(s, i, LstrGetUnit(w->debugText, i));
    for (size_t i = 0; i < tail.size(); ++i) LstrSetUnit(s, had + i, uint16_t(tail[i]));
    w->debugText = s;
}

bool t_candCollector::IsRealWord(const t_wordArc& arc) const {
    const int covered = arc.end - arc.start;
    if (!arc.ids || LstrGetLength(arc.ids) != uint32_t(covered) || arc.prob < 0.99f) return true;
    return !(m_dicts.py && m_dicts.py->AreAllLetterIds(arc.ids));
}

void t_candCollector::CollectAll(const double* probs, bool singleLetter) {
    m_bound = 0.0;
    m_longestEnd = m_firstWordEnd = m_firstAddedEnd = 0;
    m_longestValue = m_fullAdded = 0;
    m_lowestPower = kNoLowestPower;
    m_singleLetter = singleLetter;
    if (!m_lattice || !m_out || !m_arena || !probs) return;
    m_endCount = uint32_t(m_lattice->GetLength());
    if (Ready(m_dicts.cell) && m_dicts.cell->HasWords()) m_out->EnableExtDictFilter();

    const t_wordArc* arcs[kMaxArcsPerEnd];
    for (int e = int(m_endCount); e >= 1; --e) {
        if (m_bound > probs[e]) continue;
        int count = 0;
        for (const t_wordArcNode* n = m_lattice->NodesEndingAt(e); n; n = n->next)
            for (const t_wordArc* a = n->start == 0 ? n->arcs : nullptr;
                 a && count < kMaxArcsPerEnd; a = a->next)
                arcs[count++] = a;
        if (count == 0) continue;
        // Likelier arcs first: a refusal bounds everything after it, so the
        // arcs must come best first or a good word could be cut off.
        std::stable_sort(arcs, arcs + count,
                         [](const t_wordArc* a, const t_wordArc* b) { return a->prob > b->prob; });
        if (m_adjust && m_adjust->HasContext()) FindPlainWords(arcs, count);
        if (m_longestEnd == 0) m_longestEnd = uint32_t(e);
        const bool longest = m_longestEnd == uint32_t(e);
        int32_t bestPower = kStartPower;
        t_candWord* best = nullptr;
        t_candWord* userBest = nullptr;
        for (int i = 0; i < count; ++i) {
            const t_wordArc& arc = *arcs[i];
            if (m_bound > arc.prob) break;
            const bool real = IsRealWord(arc);
            int added = 0;
            switch (arc.source) {
                case kArcSourceSystem: {
                    t_candWord* rec = nullptr;
                    int32_t power = kStartPower;
                    added = AddSystemWords(arc, e, arc.prob, 0, &rec, &power);
                    if (rec && power < bestPower) {
                        bestPower = power;
                        best = rec;
                    }
                    break;
                }
                case kArcSourceCell:
                    added = AddCellWords(arc, e, NearOne(probs[e], 0.000001), arc.prob, arc.prob);
                    break;
                case kArcSourceUser:
                    if (real) {
                        t_candWord* rec = nullptr;
                        added = AddUserWords(arc, e, arc.prob, &rec);
                        if (rec) userBest = rec;
                    }
                    break;
                case kArcSourcePrivilege:
                    added = AddPrivilegeWords(arc, e, arc.prob);
                    break;
                case kArcSourceUserExt:
                    if (real) {
                        t_candWord* rec = nullptr;
                        added = AddExternalUserWords(arc, e, arc.prob, &rec);
                        if (rec && !userBest) userBest = rec;
                    }
                    break;
                case kArcSourceAbbreviation:
                    added = AddAbbrSystemWords(arc, e, arc.prob);
                    break;
                default:
                    break;
            }
            if (longest) m_longestValue = std::max<int32_t>(m_longestValue, arc.syllables);
            if (added > 0) {
                if (m_firstAddedEnd == 0) m_firstAddedEnd = uint32_t(e);
                if (real && m_firstWordEnd == 0) m_firstWordEnd = uint32_t(e);
            }
            if (uint32_t(e) == m_endCount) m_fullAdded += added;
        }
        if (longest) {
            if (userBest)
                userBest->segmentBest = 1;
            else if (best)
                best->segmentBest = 1;
        }
    }
}

void t_candCollector::FindPlainWords(const t_wordArc* const* arcs, int count) {
    m_plainCount = 0;
    const t_sysDict* sys = m_dicts.sys;
    if (!Ready(sys)) return;
    for (int i = 0; i < count; ++i) {
        const t_wordArc& arc = *arcs[i];
        if (arc.source != kArcSourceSystem || !arc.ids) continue;
        t_plainWord* plain = nullptr;
        for (int k = 0; k < m_plainCount && !plain; ++k)
            if (m_plain[k].prob == arc.prob) plain = &m_plain[k];
        if (!plain) {
            if (m_plainCount == kMaxPlainWords) continue;
            plain = &m_plain[m_plainCount++];
            *plain = t_plainWord();
            plain->prob = arc.prob;
        }
        // A group runs from its cheapest stored cost; a word without
        // statistics lists dearer than it is stored, never cheaper.
        uint32_t textOffset = 0, gram = 0;
        uint16_t cost = 0;
        uint8_t more = 1;
        for (uint32_t e = arc.value; more; ++e) {
            if (!sys->GetWordRecord(e, &textOffset, &cost, &gram, &more) || cost >= plain->cost)
                break;
            const t_lstr* text = sys->GetTextAt(textOffset);
            if (!text || Refused(text)) continue;
            const int32_t listed = sys->ListCost(cost, gram, LstrGetLength(text));
            if (listed < plain->cost) *plain = {arc.prob, arc.ids, text, gram, listed};
        }
    }
}

const t_candCollector::t_plainWord* t_candCollector::PlainWordFor(float prob) const {
    for (int k = 0; k < m_plainCount; ++k)
        if (m_plain[k].prob == prob && m_plain[k].text) return &m_plain[k];
    return nullptr;
}

int t_candCollector::AddSystemWords(const t_wordArc& arc, int end, double prob, int32_t extra,
                                    t_candWord** best, int32_t* bestPower) {
    const t_sysDict* sys = m_dicts.sys;
    if (!Ready(sys) || !arc.ids) return 0;
    const bool context = m_adjust && m_adjust->HasContext();
    uint32_t textOffset = 0, gram = 0;
    uint16_t cost = 0;
    uint8_t more = 1;
    if (context && sys->GetWordRecord(arc.value, &textOffset, &cost, &gram, &more)) {
        m_adjust->ComputeSystem(arc, gram);
        if (const t_plainWord* plain = PlainWordFor(arc.prob))
            m_adjust->SetPlainWord(plain->ids, plain->text, plain->gram, plain->cost);
    }
    const bool oneLetter = LstrGetLength(arc.ids) == 1 && m_dicts.py &&
                           m_dicts.py->IsLetterId(int16_t(LstrGetUnit(arc.ids, 0)));
    int added = 0;
    more = 1;
    for (uint32_t i = arc.value; more; ++i) {
        if (!sys->GetWordRecord(i, &textOffset, &cost, &gram, &more)) break;
        const t_lstr* text = sys->GetTextAt(textOffset);
        if (!text || Refused(text) || (m_singleLetter && oneLetter)) continue;
        t_candWord* w = NewWordRecord(text, arc.ids, arc.positions, uint32_t(end));
        if (!w) break;
        w->arcFlags = uint8_t(arc.flags);
        w->frequency = int32_t(gram);
        w->sourceType = kCandSourceSystem;
        const uint8_t attr = sys->GetWordFlags(i);
        bool adjusted = false;
        cost = sys->ListCost(cost, gram, LstrGetLength(text));
        if (prob < 0) {
            w->score = 1.0;
            w->rank = int16_t(std::min<int32_t>(cost + extra, kCandNoPower));
        } else {
            w->score = prob;
            w->rank = int16_t(cost);
            if (context) adjusted = m_adjust->ScoreAssociationWord(w, i, cost, extra) != 0;
            if (context && m_numeric && m_numeric->AdjustCandidate(w)) adjusted = true;
            if (m_names)
                SetSystemWordNameMark(m_names, i, sys, w,
                                      m_namesWanted && uint32_t(end) == m_endCount,
                                      NearOne(prob, 0.0001));
            if (attr & n_sysDict::kFlagContext) {
                if (!adjusted) {
                    Debug(w, L"-系统隐藏(", cost, 0);
                    continue;
                }
                if (extra && (w->adjustFlags & 0x7)) w->kind = kCandKindScored;
            }
        }
        if (best && cost < *bestPower) {
            *bestPower = cost;
            *best = w;
        }
        Debug(w, L"-系统(", cost, int32_t(gram));
        if (adjusted && m_debug) {
            // What the words committed before made of it.
            std::wstring raised = L"经上文调频(";
            FormatAdjustFlags(raised, w->adjustFlags);
            raised += std::to_wstring(w->orderNumber) + L")";
            AppendTrace(m_arena, w, raised);
        }
        const int r = Offer(w, prob);
        if (r == kArrayAdded || r == kArrayMerged) ++added;
        if (prob < 0) continue;
        if (r == kArrayNotAdded && !(m_adjust && m_adjust->HasAdjust()))
            break;  // the rest of the group costs more
    }
    return added;
}

int t_candCollector::AddAbbrSystemWords(const t_wordArc& arc, int end, double prob) {
    if (!Ready(m_dicts.sys) || !arc.items) return 0;
    int added = 0;
    for (int k = 0; k < arc.syllables; ++k) {
        const uint8_t* item = m_dicts.sys->GetShortKeyItem(arc.value + uint32_t(k));
        if (!item) break;
        const auto* ids = reinterpret_cast<const t_lstr*>(item + n_sysDict::kShortItemIds);
        const auto* text = reinterpret_cast<const t_lstr*>(item + n_sysDict::kShortItemText);
        if (LstrGetLength(text) == 0 || LstrGetLength(text) > 2 || Refused(text)) continue;
        const uint16_t freqLow = Rd16(item + n_sysDict::kShortItemGram);
        const uint16_t power = Rd16(item + n_sysDict::kShortItemCost);
        t_candWord* w = NewWordRecord(text, ids, nullptr, uint32_t(end));
        if (!w) break;
        w->sourceType = kCandSourceSystem;
        w->score = prob;
        w->frequency = int32_t(freqLow) + ((power & 0x8000) ? 65536 : 0);
        w->rank = int16_t(m_dicts.sys->ListCost(uint16_t(power & 0x7FFF), uint32_t(w->frequency),
                                                LstrGetLength(text)));
        Debug(w, L"-简拼系统(", w->rank, w->frequency);
        const int r = Offer(w, prob);
        if (r == kArrayNotAdded) break;
        if (r == kArrayAdded || r == kArrayMerged) ++added;
    }
    return added;
}

int t_candCollector::AddCellWords(const t_wordArc& arc, int end, bool fixedAllowed, double score,
                                  double factor) {
    t_extDict* cell = m_dicts.cell;
    if (!Ready(cell)) return 0;
    const t_cellRecord* records = nullptr;
    const uint32_t count = cell->GetItem(int32_t(arc.value), &records);
    int added = 0;
    for (uint32_t k = 0; k < count && records; ++k) {
        t_cellRecord rec;
        std::memcpy(&rec, &records[k], sizeof rec);
        const t_lstr* text = cell->GetWordText(rec.wordOffset);
        if (!text || Refused(text)) continue;
        t_candWord* w = NewWordRecord(text, arc.ids, arc.positions, uint32_t(end));
        if (!w) break;
        w->sourceType = kCandSourceCell;
        w->nameMark = int8_t(128 - 256);
        w->rank = CellWordRank(int64_t(rec.frequency), factor);
        w->orderNumber = SaturatedOrderSum(int64_t(std::trunc(double(rec.weight) * factor)), 0);
        int filtered = 0;
        if (rec.position && fixedAllowed) {
            w->kind = kCandKindPinned;
            w->wantedPlace = rec.position;
            w->score = std::fabs(score);
            Debug(w, L"-固位细胞(", w->rank, rec.position);
            if (m_out->AddChecked(w, &filtered)) ++added;
            continue;
        }
        w->score = std::fabs(score);
        if (rec.extraPower == 0.0f) {
            w->kind = kCandKindCell;
        } else {
            w->kind = kCandKindScored;
            w->rank = int16_t(std::clamp<int64_t>(int64_t(ArcPower(float(factor)) + rec.extraPower),
                                                  0, kCandNoPower));
        }
        Debug(w, L"-细胞(", w->rank, w->orderNumber);
        added += OfferCounted(w, std::fabs(score));
    }
    return added;
}

int t_candCollector::AddUserWords(const t_wordArc& arc, int end, double prob, t_candWord** best) {
    t_usrDictV3Core* user = m_dicts.user;
    if (!user || !user->IsLoaded() || !arc.ids) return 0;
    uint32_t textIds[kMaxUserEntries];
    uint16_t flags[kMaxUserEntries], checksums[kMaxUserEntries], freqs[kMaxUserEntries],
        extras[kMaxUserEntries];
    uint32_t weights[kMaxUserEntries];
    const int n = user->GetWords(0, int32_t(arc.value), textIds, flags, checksums, freqs, nullptr,
                                 weights, extras, kMaxUserEntries);
    int added = 0;
    int64_t bestFreq = -1;
    const bool context = m_adjust && m_adjust->HasContext();
    for (int k = 0; k < n; ++k) {
        uint8_t buf[2 + 2 * 130];
        auto* tmp = reinterpret_cast<t_lstr*>(buf);
        if (!user->GetWordText(textIds[k], checksums[k], tmp)) continue;
        if (Refused(tmp) || !CheckWordPinyin(m_dicts.py, m_hz, arc.ids, tmp)) continue;
        t_lstr* text = m_arena->DupLstr(tmp);
        t_candWord* w = text ? NewWordRecord(text, arc.ids, arc.positions, uint32_t(end)) : nullptr;
        if (!w) break;
        const int32_t combined = int32_t(std::min<uint32_t>(weights[k], INT32_MAX));
        w->kind = kCandKindUser;
        w->sourceType = kCandSourceUser;
        w->arcFlags = uint8_t(arc.flags);
        if (m_names)
            SetUserWordNameMark(m_names, flags[k] & 3, w, m_namesWanted,
                                uint32_t(end) == m_endCount);
        if (prob < 0) {
            w->score = 1.0;
            w->orderNumber = combined;
        } else {
            w->score = prob;
            w->rank = kCandNoPower;
            TakeSystemRank(w);
            w->orderNumber = combined;
            w->adjustFlags = kAdjustPlainUser;
            if (context && !(flags[k] & kUsrFlagNoHistory))
                m_adjust->ComputeInputHistory(w, combined, extras[k], prob, freqs[k]);
            if (flags[k] & kUsrFlagDemoted) {
                w->kind = kCandKindScored;
                w->adjustFlags = 0;
                w->rank = int16_t(std::max<int64_t>(int64_t(kCandNoPower) - combined, 0));
            }
        }
        if (combined > bestFreq) {
            bestFreq = combined;
            if (best) *best = w;
        }
        Debug(w, L"-用户(综合词频", combined, w->orderNumber);
        added += OfferCounted(w, prob);
    }
    return added;
}

int t_candCollector::AddPrivilegeWords(const t_wordArc& arc, int end, double prob) {
    t_privilegeDictCore* dict = m_dicts.privilege;
    if (!Ready(dict) || !arc.ids) return 0;
    t_privilegeWord** words = nullptr;
    uint32_t count = 0;
    if (!dict->Lookup(*m_arena, arc.ids, &words, &count)) return 0;
    int added = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const t_lstr* text = words[k]->word;
        if (!text || Refused(text)) continue;
        t_candWord* w = NewWordRecord(text, arc.ids, arc.positions, uint32_t(end));
        if (!w) break;
        w->sourceType = kCandSourcePrivilege;
        w->orderNumber = -1001;
        w->privilegeOrder = int32_t(std::min<uint64_t>(words[k]->value, INT32_MAX));
        w->score = prob < 0 ? 1.0 : prob;
        w->rank = kCandNoPower;
        if (prob >= 0) TakeSystemRank(w);
        Debug(w, L"-特权(", w->privilegeOrder, w->rank);
        added += OfferCounted(w, prob);
    }
    return added;
}

int t_candCollector::AddExternalUserWords(const t_wordArc& arc, int end, double prob,
                                          t_candWord** best) {
    t_usrDictExtCore* ext = m_dicts.userExt;
    if (!Ready(ext) || !arc.ids) return 0;
    uint32_t textIds[kMaxUserEntries];
    uint16_t flags[kMaxUserEntries], freqs[kMaxUserEntries];
    const int n =
        ext->GetEntries(int32_t(arc.value), textIds, flags, freqs, nullptr, kMaxUserEntries);
    int added = 0, bestFreq = -1;
    for (int k = 0; k < n; ++k) {
        uint8_t buf[2 + 2 * 130];
        auto* tmp = reinterpret_cast<t_lstr*>(buf);
        if (!ext->GetString(textIds[k], tmp, sizeof buf)) continue;
        if (Refused(tmp) || !CheckWordPinyin(m_dicts.py, m_hz, arc.ids, tmp)) continue;
        t_lstr* text = m_arena->DupLstr(tmp);
        t_candWord* w = text ? NewWordRecord(text, arc.ids, arc.positions, uint32_t(end)) : nullptr;
        if (!w) break;
        w->kind = kCandKindExternal;
        w->sourceType = kCandSourceExternalUser;
        w->externalClass = (flags[k] & kExtClassBits) ? 1 : 0;
        w->score = prob;
        w->rank = kCandNoPower;
        w->orderNumber = freqs[k];
        TakeSystemRank(w);
        if (freqs[k] > bestFreq) {
            bestFreq = freqs[k];
            if (best) *best = w;
        }
        Debug(w, L"-外来用户(", freqs[k], w->rank);
        added += OfferCounted(w, prob);
    }
    return added;
}

void t_candCollector::AddCloudCacheWords(int32_t handle, int count, const t_lstr* ids, int start,
                                         int end, double backward) {
    t_cloudCacheDict* cache = m_dicts.cloudCache;
    if (!cache || !cache->IsReady() || start != 0 || end <= 0 || count <= 0 || !m_out || !m_arena)
        return;
    uint32_t texts[kMaxCloudEntries], hits[kMaxCloudEntries], seconds[kMaxCloudEntries],
        thirds[kMaxCloudEntries];
    const int n = cache->GetEntries(handle, std::min(count, kMaxCloudEntries), texts, hits, nullptr,
                                    seconds, thirds);
    for (int k = 0; k < n; ++k) {
        const t_lstr *second = nullptr, *third = nullptr;
        const t_lstr* text = cache->GetStrings(texts[k], seconds[k], thirds[k], &second, &third);
        if (!text || LstrGetLength(text) == 0 || Refused(text)) continue;
        t_candWord* w = NewWordRecord(text, ids, nullptr, uint32_t(end));
        if (!w) return;
        w->secondText = second;
        w->thirdText = third;
        w->kind = kCandKindScored;
        w->sourceType = kCandSourceCloud;
        w->cloudMark = kCandCloudMark;
        w->nameMark = int8_t(128 - 256);
        w->rank = 30009;
        w->score = backward;
        w->orderNumber = int32_t(std::min<uint32_t>(hits[k], INT32_MAX));  // the hit count
        Debug(w, L"-云Cache(", w->orderNumber, 0);
        Offer(w, backward);
    }
}

int t_candCollector::AddUserAssociation(const t_lstr* path, const t_lstr* segments,
                                        uint32_t covered) {
    t_usrDictV3Core* user = m_dicts.user;
    if (!user || !user->IsLoaded()) return 0;
    int32_t groups[kMaxAssociationGroups];
    const t_lstr* keys[kMaxAssociationGroups];
    int count = 0;
    if (!user->FindAll(path, groups, keys, kMaxAssociationGroups, &count)) return 0;
    int added = 0;
    for (int g = 0; g < count; ++g) {
        uint32_t textIds[kMaxUserEntries], weights[kMaxUserEntries];
        uint16_t checksums[kMaxUserEntries];
        const int n = user->GetWords(0, groups[g], textIds, nullptr, checksums, nullptr, nullptr,
                                     weights, nullptr, kMaxUserEntries);
        for (int k = 0; k < n; ++k) {
            uint8_t buf[2 + 2 * 130];
            auto* tmp = reinterpret_cast<t_lstr*>(buf);
            if (!user->GetWordText(textIds[k], checksums[k], tmp)) continue;
            bool full = false;
            t_candWord* w = NewAssociationRecord(tmp, keys[g], segments, covered, &full);
            if (full) return added;
            if (!w) continue;
            w->kind = kCandKindUser;
            w->sourceType = kCandSourceUser;
            w->orderNumber = int32_t(std::min<uint32_t>(weights[k], INT32_MAX));
            Debug(w, L"-联想用户(综频", w->orderNumber, 0);
            added += OfferCounted(w, 1.0);
        }
    }
    return added;
}

// The part of a user or external association record both share: null when
// the text is refused or its reading does not match, and with *full set when
// the arena has no room left.
t_candWord* t_candCollector::NewAssociationRecord(const t_lstr* found, const t_lstr* key,
                                                  const t_lstr* segments, uint32_t covered,
                                                  bool* full) {
    if (Refused(found) || !CheckWordPinyin(m_dicts.py, m_hz, key, found)) return nullptr;
    t_lstr* text = m_arena->DupLstr(found);
    t_candWord* w = text ? NewWordRecord(text, key, segments, covered) : nullptr;
    if (!w) {
        *full = true;
        return nullptr;
    }
    w->score = 1.0;
    w->associationMark = 1;
    return w;
}

int t_candCollector::AddExternalUserAssociation(const t_lstr* path, const t_lstr* segments,
                                                uint32_t covered) {
    t_usrDictExtCore* ext = m_dicts.userExt;
    if (!Ready(ext)) return 0;
    int32_t groups[kMaxAssociationGroups];
    const t_lstr* keys[kMaxAssociationGroups];
    int count = 0;
    if (!ext->FindAll(path, groups, keys, kMaxAssociationGroups, &count)) return 0;
    int added = 0;
    for (int g = 0; g < count; ++g) {
        uint32_t textIds[kMaxUserEntries];
        uint16_t flags[kMaxUserEntries], freqs[kMaxUserEntries];
        const int n = ext->GetEntries(groups[g], textIds, flags, freqs, nullptr, kMaxUserEntries);
        for (int k = 0; k < n; ++k) {
            uint8_t buf[2 + 2 * 130];
            auto* tmp = reinterpret_cast<t_lstr*>(buf);
            if (!ext->GetString(textIds[k], tmp, sizeof buf)) continue;
            bool full = false;
            t_candWord* w = NewAssociationRecord(tmp, keys[g], segments, covered, &full);
            if (full) return added;
            if (!w) continue;
            w->kind = kCandKindExternal;
            w->sourceType = kCandSourceExternalUser;
            w->externalClass = (flags[k] & kExtClassBits) ? 1 : 0;
            w->rank = kCandNoPower;
            w->orderNumber = freqs[k];
            Debug(w, L"-联想外来用户(综频", w->orderNumber, 0);
            added += OfferCounted(w, 1.0);
        }
    }
    return added;
}

int t_candCollector::AddCellAssociation(const t_lstr* path, const t_lstr* segments,
                                        uint32_t covered, double p) {
    if (!Ready(m_dicts.cell)) return 0;
    uint32_t items[kMaxAssociationGroups];
    const t_lstr* keys[kMaxAssociationGroups];
    const int n = m_dicts.cell->PrefixSearch(path, kMaxAssociationGroups, items, keys);
    int added = 0;
    for (int k = 0; k < n; ++k) {
        t_wordArc arc{};
        arc.value = items[k];
        arc.ids = keys[k];
        arc.positions = segments;
        added += AddCellWords(arc, int(covered), true, -1.0, p);
    }
    return added;
}

int t_candCollector::AddPrivilegeAssociation(const t_lstr* path, const t_lstr* segments,
                                             uint32_t covered, int32_t power) {
    t_privilegeDictCore* dict = m_dicts.privilege;
    if (!Ready(dict)) return 0;
    uint32_t rows[kMaxAssociationGroups];
    t_lstr* keys[kMaxAssociationGroups];
    const int n = dict->ListByPrefix(*m_arena, path, rows, keys, kMaxAssociationGroups);
    int added = 0;
    for (int k = 0; k < n; ++k) {
        t_privilegeWord** words = nullptr;
        uint32_t count = 0;
        if (LstrGetLength(keys[k]) <= LstrGetLength(path) ||
            !dict->Lookup(*m_arena, keys[k], &words, &count))
            continue;
        for (uint32_t i = 0; i < count; ++i) {
            const t_lstr* text = words[i]->word;
            if (!text || Refused(text)) continue;
            t_candWord* w = NewWordRecord(text, keys[k], segments, covered);
            if (!w) return added;
            w->sourceType = kCandSourcePrivilege;
            w->orderNumber = -1001;
            w->privilegeOrder = int32_t(std::min<uint64_t>(words[i]->value, INT32_MAX));
            w->score = 1.0;
            w->rank = int16_t(std::min<int32_t>(power, kCandNoPower));
            w->associationMark = 1;
            Debug(w, L"-联想特权(综频", w->privilegeOrder, power);
            added += OfferCounted(w, 1.0);
        }
    }
    return added;
}

void t_candCollector::ScoreAssociation(int start, const uint16_t* ids, const uint16_t* positions,
                                       int count, double prob) {
    const t_sysDict* sys = m_dicts.sys;
    if (!Ready(sys) || !ids || !positions || start != 0 || count <= 0 ||
        count > t_wordFinder::kMaxDepth)
        return;
    const bool fourChars = m_fourChars;
    auto* path = static_cast<t_lstr*>(m_arena->Alloc(2 + 2 * size_t(count)));
    auto* segs = static_cast<t_lstr*>(m_arena->Alloc(2 + 2 * size_t(count)));
    if (!path || !segs) return;
    LstrSetByteLength(path, uint16_t(2 * count));
    LstrSetByteLength(segs, uint16_t(2 * count));
    t_sysDictCursor cursor(sys);
    for (int i = 0; i < count; ++i) {
        LstrSetUnit(path, size_t(i), ids[i]);
        LstrSetUnit(segs, size_t(i), positions[i]);
        uint8_t stepped = 0;
        cursor.PushSyllable(ids[i], &stepped);
        if (!stepped) return;
    }
    uint32_t groups[kMaxAssociationGroups];
    t_lstr* paths[kMaxAssociationGroups];
    const int g = cursor.GetWords(path, groups, paths, m_arena, kMaxAssociationGroups);
    const int32_t power = ArcPower(float(prob));
    const uint32_t covered = count > 0 ? positions[count - 1] : 0;
    int added = 0;
    for (int k = 0; k < g; ++k) {
        uint8_t more = 1;
        for (uint32_t i = groups[k]; more; ++i) {
            uint32_t textOffset = 0, gram = 0;
            uint16_t cost = 0;
            if (!sys->GetWordRecord(i, &textOffset, &cost, &gram, &more)) break;
            const t_lstr* text = sys->GetTextAt(textOffset);
            if (!text || Refused(text)) continue;
            // On the scale of the words of the input itself.
            cost = sys->ListCost(cost, gram, LstrGetLength(text));
            if (fourChars && (LstrGetLength(text) != 4 || cost > kFourCharMaxCost)) continue;
            t_candWord* w = NewWordRecord(text, paths[k], segs, covered);
            if (!w) return;
            w->sourceType = kCandSourceSystem;
            w->score = 1.0;
            w->rank = int16_t(std::min<int32_t>(power + cost, kCandNoPower));
            w->frequency = int32_t(gram);
            w->associationMark = 1;
            Debug(w, L"-联想系统(词频", cost, int32_t(gram));
            added += OfferCounted(w, 1.0);
        }
    }
    if (m_cellAssociation) added += AddCellAssociation(path, segs, covered, prob);
    if (m_userAssociation) added += AddUserAssociation(path, segs, covered);
    if (m_privilegeAssociation) added += AddPrivilegeAssociation(path, segs, covered, power);
    if (m_externalAssociation) added += AddExternalUserAssociation(path, segs, covered);
    m_associationAdded += added;
}
