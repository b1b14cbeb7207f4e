// Matching candidate texts against auxiliary codes, enumerating the
// characters a code selects, and the stroke and component candidates.
// One conversion, one thread (the annex index below is shared by the
// conversions of that thread).
#include "kernel/convert/aux_code.h"

#include <algorithm>
#include <cstring>

#include "kernel/convert/cand_array.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/text_helpers.h"

namespace {

constexpr int kMaxIds = 10;  // readings of a character considered
constexpr int kMaxComponentDepth =
    2;  // a component's components, no deeper (a radical is its own component)
constexpr uint32_t kStepBudget = 1u
                                 << 16;  // steps of one match; the memo keeps real texts far below
constexpr uint16_t kApostrophe = 39;
constexpr uint16_t kSeparator = n_strokeAnnex::kCodeListSeparator;

// The syllable a digit '1'..'8' reads as.
constexpr uint16_t kDigitSyllables[8] = {34, 372, 363, 89, 370, 353, 366, 374};

bool IsStrokeCode(uint16_t u) {
    return u >= 1 && u <= 5;
}

// Annex entries by the first unit of their component list, in entry order.
// Built once per attached annex: the lists never change while it is attached.
struct t_annexIndex {
    const t_sysBhBsh* annex = nullptr;
    int count = -1;
    const t_lstr* firstEntry = nullptr;
    std::vector<std::pair<uint16_t, int>> rows;  // {first unit, entry}
    std::vector<uint16_t> firsts;                // distinct first units, sorted

    void Refresh(const t_sysBhBsh* a) {
        const int n = a->GetCount();
        const t_lstr* first = a->GetEntryByIndex(0);
        if (a == annex && n == count && first == firstEntry) return;
        annex = a;
        count = n;
        firstEntry = first;
        rows.clear();
        firsts.clear();
        for (int i = 0; i < n; ++i) {
            int units = 0;
            const uint16_t* codes = nullptr;
            uint32_t tag = 0;
            if (!a->GetCodeList(i, &units, &codes, &tag) || units < 1) continue;
            const uint16_t head = Rd16(reinterpret_cast<const uint8_t*>(codes));
            rows.emplace_back(head, i);
            firsts.push_back(head);
        }
        std::sort(firsts.begin(), firsts.end());
        firsts.erase(std::unique(firsts.begin(), firsts.end()), firsts.end());
    }
};

t_annexIndex& AnnexIndex() {
    static t_annexIndex index;
    return index;
}

}  // namespace

t_auxCodeServices t_auxCodeServices::Kernel() {
    t_auxCodeServices s;
    s.keyMap = &t_singleton<t_keyPyMap>::Get();
    s.hzDict = &t_singleton<t_hzDict>::Get();
    s.annex = &t_singleton<t_sysBhBsh>::Get();
    return s;
}

// ---------------------------------------------------------------------------
// Arcs.

bool t_auxCodeArcs::Build(const t_keyPyMap* map, const wchar_t* code, uint32_t length) {
    m_arcs.clear();
    m_first.assign(1, 0);
    if (!map || !code) return false;
    if (length > kMaxAuxCodeLength) length = kMaxAuxCodeLength;
    uint16_t ids[t_keyPyMap::kMaxListed];
    for (uint32_t i = 0; i < length; ++i) {
        if (code[i] != kApostrophe) {
            std::wstring key;
            for (uint32_t end = i; end < length && key.size() < t_keyPyMap::kMaxKeyChars;) {
                if (code[end] == kApostrophe) {
                    ++end;
                    continue;
                }
                key += code[end++];
                uint32_t stop = end;  // apostrophes after the key belong to it
                while (stop < length && code[stop] == kApostrophe) ++stop;
                if (key.size() == 1 && key[0] >= L'A' && key[0] <= L'Z') {
                    m_arcs.push_back({uint16_t(413 + (key[0] - L'A')), uint16_t(stop)});
                    continue;
                }
                bool longer = false;
                const int32_t row = map->FindKey(key.c_str(), &longer);
                if (row >= 0) {
                    const int n =
                        map->GetPinyinIds(row, ids, nullptr, nullptr, t_keyPyMap::kMaxListed);
                    for (int k = 0; k < n; ++k) m_arcs.push_back({ids[k], uint16_t(stop)});
                }
                if (!longer) break;
            }
        }
        m_first.push_back(uint32_t(m_arcs.size()));
    }
    return true;
}

bool t_auxCodeArcs::IsSinglePath(uint32_t length) const {
    uint32_t p = 0;
    while (p < length) {
        const t_arc* b = Begin(p);
        const t_arc* e = End(p);
        if (b == e) return false;
        for (const t_arc* a = b + 1; a < e; ++a)
            if (a->end != b->end) return false;
        p = b->end;
    }
    return p == length;
}

// ---------------------------------------------------------------------------
// Matching.

// The text still to match: units[t..n) of one level, then what follows it
// one level up. A component list stands in for its character and must use
// at least one code unit (start) before the level above goes on.
struct t_auxCodeMatcher::t_frame {
    const uint16_t* units;
    uint32_t n;
    uint32_t t;
    uint32_t start;
    const t_frame* up;
};

t_auxCodeMatcher::t_auxCodeMatcher(const wchar_t* code, uint32_t length, const t_auxCodeArcs* arcs,
                                   const t_auxCodeServices& services, uint32_t flags)
    : m_code(code),
      m_length(code && length <= kMaxAuxCodeLength ? length
               : code                              ? kMaxAuxCodeLength
                                                   : 0),
      m_arcs(arcs),
      m_services(services),
      m_flags(flags) {
    // The stroke matcher reads at most its own number of keys.
    m_strokes.Init(services.annex, code ? std::wstring(code, m_length).c_str() : L"");
    m_split.assign(2 * m_length + 4, 0);
}

int t_auxCodeMatcher::ReadingsOf(uint16_t ch, uint16_t* ids, int max) const {
    if (IsDigitOneToEight(ch)) {
        ids[0] = kDigitSyllables[ch - '1'];
        return 1;
    }
    int n = m_services.annex ? m_services.annex->GetCharPinyinIds(ch, ids, max) : 0;
    if (n == 0 && m_services.hzDict) n = m_services.hzDict->GetCharPinyinIds(ch, ids, max);
    return n;
}

void t_auxCodeMatcher::PushCut(uint32_t p) {
    t_lstr* split = reinterpret_cast<t_lstr*>(m_split.data());
    const uint32_t n = LstrGetLength(split);
    if (2 * (n + 1) + 2 > m_split.size()) return;
    LstrSetLength(split, n + 1);
    LstrSetUnit(split, n, uint16_t(p + 1));
}

void t_auxCodeMatcher::PopCut(uint16_t count) {
    LstrSetLength(reinterpret_cast<t_lstr*>(m_split.data()), count);
}

// After a step: climbs out of used-up levels (a component list that ends
// its character cuts there), then matches what is left. A failure leaves
// the cuts as they were.
bool t_auxCodeMatcher::Settle(const t_frame* f, uint32_t p, bool partial, int depth) {
    while (p < m_length && m_code[p] == kApostrophe) ++p;
    const uint16_t cuts = LstrGetLength(reinterpret_cast<const t_lstr*>(m_split.data()));
    while (f->t >= f->n && f->up) {
        if (p <= f->start) return false;  // a component list that used no code
        f = f->up;
        --depth;
        if (!f->up) PushCut(p);
    }
    bool ok;
    if (p >= m_length) {
        const bool textLeft = f->t < f->n || (m_textLonger && !f->up);
        m_complete = !textLeft;
        ok = textLeft || !(m_flags & kAuxRequireWhole) || partial;
    } else if (f->t >= f->n) {
        ok = m_prefixOnly;  // text used up before the code
    } else {
        ok = Step(f, p, partial, depth);
    }
    if (!ok) PopCut(cuts);
    return ok;
}

bool t_auxCodeMatcher::Step(const t_frame* f, uint32_t p, bool partial, int depth) {
    if (m_budget == 0) return false;
    --m_budget;
    // Failed states of the candidate text itself are remembered: a long code
    // against a long text is then tried once per (character, position).
    const bool top = f->up == nullptr;
    size_t memo = 0;
    if (top) {
        memo = (size_t(f->t) * m_memoWidth + p) * 2 + (partial ? 1 : 0);
        if (memo < m_failed.size() && m_failed[memo]) return false;
    }
    const uint16_t ch = f->units[f->t];
    const uint16_t cuts = LstrGetLength(reinterpret_cast<const t_lstr*>(m_split.data()));
    t_frame next = *f;
    ++next.t;
    if (ch == kSeparator) return Settle(&next, p, partial, depth);
    const bool starred = f->t > 0 && f->units[f->t - 1] == kSeparator;

    auto tryFrom = [&](const t_frame* rest, uint32_t q, bool flag, int level) {
        if (top) PushCut(q);
        if (Settle(rest, q, flag, level)) return true;
        PopCut(cuts);
        return false;
    };

    // Stroke codes of a component list against the typed strokes.
    if (IsStrokeCode(ch)) {
        uint32_t run = 0;
        while (f->t + run < f->n && IsStrokeCode(f->units[f->t + run])) ++run;
        uint32_t matched = 0;
        if (m_strokes.MatchCodes(f->units + f->t, int(run), int(p), &matched) && matched > 0) {
            t_frame after = *f;
            after.t += matched;
            if (tryFrom(&after, p + matched, true, depth)) return true;
        }
    } else {
        // Pinyin: a reading of the character that a syllable of the code from p gives.
        uint16_t ids[kMaxIds];
        const int n = ReadingsOf(ch, ids, kMaxIds);
        if (m_arcs) {
            for (const t_auxCodeArcs::t_arc* a = m_arcs->Begin(p); a && a != m_arcs->End(p); ++a) {
                if (!std::count(ids, ids + n, a->id)) continue;
                if (tryFrom(&next, a->end, partial, depth)) return true;
            }
        }
        if ((m_flags & kAuxAllowQuestion) && m_code[p] == L'?' && !(m_arcs && m_arcs->HasArcs(p)) &&
            tryFrom(&next, p + 1, partial, depth))
            return true;
        // Components, then the character's own strokes.
        if (!starred && m_services.annex) {
            const int entry = depth < kMaxComponentDepth ? m_services.annex->FindCharIndex(ch) : -1;
            int units = 0;
            const uint16_t* codes = nullptr;
            uint32_t tag = 0;
            if (entry >= 0 && m_services.annex->GetCodeList(entry, &units, &codes, &tag) &&
                units > 0) {
                const t_frame component{codes, uint32_t(units), 0, p, &next};
                if (Settle(&component, p, true, depth + 1)) return true;
            }
            uint32_t matched = 0;
            if (m_strokes.MatchChar(ch, int(p), &matched) && matched > 0 &&
                tryFrom(&next, p + matched, true, depth))
                return true;
        }
    }
    if (top && memo < m_failed.size()) m_failed[memo] = 1;
    return false;
}

bool t_auxCodeMatcher::MatchUnits(const uint16_t* units, uint32_t n, bool prefixOnly) {
    m_complete = false;
    PopCut(0);
    PushCut(0);  // the first cut: 1
    if (!units || n == 0 || m_length == 0) return false;
    // Each character uses at least one code unit, so characters beyond the
    // code's length only tell that text is left.
    m_textUnits = n < m_length + 1 ? n : m_length + 1;
    m_textLonger = n > m_textUnits;
    m_memoWidth = m_length + 1;
    m_failed.assign(size_t(m_textUnits + 1) * m_memoWidth * 2, 0);
    m_prefixOnly = prefixOnly;
    m_budget = m_budgetStart = kStepBudget;
    const t_frame text{units, m_textUnits, 0, 0, nullptr};
    const bool ok = Settle(&text, 0, false, 0);
    if (!ok) {
        PopCut(0);
        PushCut(0);
    }
    return ok;
}

bool t_auxCodeMatcher::Match(const uint16_t* text, uint32_t length) {
    return MatchUnits(text, length, false);
}

void t_auxCodeMatcher::PrepareIndex() {
    m_indexReady = true;
    m_entries.clear();
    if (!m_services.annex || m_length == 0) return;
    t_annexIndex& index = AnnexIndex();
    index.Refresh(m_services.annex);
    // The first units (radicals, mostly) that can start the code; a
    // separator or a stroke code is kept without a test.
    std::vector<uint16_t> starts;
    for (uint16_t first : index.firsts)
        if (first == kSeparator || IsStrokeCode(first) || MatchUnits(&first, 1, true))
            starts.push_back(first);
    for (const auto& [first, entry] : index.rows)
        if (std::binary_search(starts.begin(), starts.end(), first)) m_entries.push_back(entry);
}

uint32_t t_auxCodeMatcher::NextChar(int* entry) {
    if (entry) *entry = -1;
    if (!m_services.annex) return 0;
    if (!m_indexReady) PrepareIndex();
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), m_enumIndex);
    for (; it != m_entries.end(); ++it) {
        int units = 0;
        const uint16_t* codes = nullptr;
        uint32_t tag = 0;
        if (!m_services.annex->GetCodeList(*it, &units, &codes, &tag) || units < 1) continue;
        // Copied: the list in the image need not be aligned.
        uint16_t list[n_strokeAnnex::kMaxCodeListUnits];
        std::memcpy(list, codes, size_t(units) * 2);
        if (!MatchUnits(list, uint32_t(units), false)) continue;
        const t_lstr* ch = m_services.annex->GetEntryByIndex(*it);
        if (LstrGetLength(ch) < 1) continue;
        m_enumIndex = *it + 1;
        if (entry) *entry = *it;
        return LstrGetUnit(ch, 0);
    }
    m_enumIndex = m_services.annex->GetCount();
    return 0;
}

bool MatchAuxCode(t_auxCodeMatcher* matcher, const uint16_t* text, uint32_t length) {
    return !matcher || matcher->Match(text, length);
}

uint32_t NextAuxCodeChar(t_auxCodeMatcher* matcher, int* entry) {
    return matcher ? matcher->NextChar(entry) : 0;
}

// ---------------------------------------------------------------------------
// Stroke and component candidates.

int AddStrokeDictWords(t_arrayWord& array, t_scopeHeap& heap, int wanted, const wchar_t* code,
                       uint32_t flags, uint32_t codeLength, const t_auxCodeServices& services) {
    if (!code || codeLength == 0 || wanted < 1 || !services.annex) return 0;
    t_auxCodeArcs arcs;
    arcs.Build(services.keyMap, code, codeLength);
    t_auxCodeMatcher matcher(code, codeLength, &arcs, services, flags);
    const bool singlePath =
        matcher.GetCodeLength() > 1 && arcs.IsSinglePath(matcher.GetCodeLength());
    int added = 0, full = 0, offered = 0;
    std::wstring readings;
    while (full < wanted && !(singlePath && added >= wanted)) {
        int entry = -1;
        const uint32_t ch = matcher.NextChar(&entry);
        if (ch == 0) break;
        const uint16_t unit = uint16_t(ch);
        t_lstr* text = heap.MakeLstr(&unit, 2);
        t_candWord* w = t_candWord::New(heap);
        if (!text || !w) break;
        if (array.IsRejectedByFilter(text)) continue;
        w->text = text;
        w->secondText = text;
        readings.clear();
        t_lstr* shown = nullptr;
        if (services.annex->GetReadingsText(entry, readings) > 0 &&
            t_sysBhBsh::WrapInParens(&heap, text, readings.c_str(), &shown))
            w->secondText = shown;
        w->syllableIds = heap.DupLstr(matcher.GetSplit());
        w->coveredLength = matcher.GetCodeLength() + 1;
        const bool complete = matcher.WasComplete();
        w->score = complete ? 0.999 : 0.998;
        w->rank = int16_t(offered < INT16_MAX - 1 ? offered + 1 : INT16_MAX);
        ++offered;
        w->kind = kCandKindScored;
        w->sourceType = kCandSourceStroke;
        if (complete) ++full;
        const int result = array.Add(w, nullptr);
        if (result == kArrayAdded || result == kArrayMerged) ++added;
    }
    return added;
}
