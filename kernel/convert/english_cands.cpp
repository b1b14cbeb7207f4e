// English and web-address candidates (see the header). One conversion thread.
#include "kernel/convert/english_cands.h"

#include <cstring>
#include <cwchar>

#include "kernel/convert/cand_array.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/deleted_words.h"

namespace {

// Longest text MakeSegEnglishText hands out, in bytes.
constexpr uint32_t kSegTextMaxBytes = 512;

bool IsUpper(wchar_t c) {
    return c >= L'A' && c <= L'Z';
}
uint16_t Fold(uint16_t u) {
    return (u >= 'A' && u <= 'Z') ? uint16_t(u + 32) : u;
}

// The first n characters of input as a t_lstr (surrogate pairs allowed).
t_lstr* ToLstr(t_scopeHeap& pool, const wchar_t* input, size_t n) {
    if (!input || n == 0) return nullptr;
    const wchar_t* copy = pool.DupWideN(input, n);
    return copy ? WideToLstr16(pool, copy) : nullptr;
}

int Length(const wchar_t* s) {
    return s ? int(std::wcslen(s)) : 0;
}

// The key equals the input with ASCII letters compared without case.
bool KeyEqualsInput(const t_lstr* key, const t_lstr* input) {
    const uint32_t n = LstrGetLength(key);
    if (n != LstrGetLength(input)) return false;
    for (uint32_t i = 0; i < n; ++i)
        if (Fold(LstrGetUnit(key, i)) != Fold(LstrGetUnit(input, i))) return false;
    return true;
}

bool IsDeletedWord(t_scopeHeap& pool, const t_lstr* word, const t_lstr* prefix) {
    t_delWordDict& deleted = t_singleton<t_delWordDict>::Get();
    if (!deleted.IsReady()) return false;
    const t_lstr* full = prefix && LstrGetLength(prefix) > 0 ? pool.ConcatLstr(prefix, word) : word;
    return full && deleted.IsDeleted(full);
}

// Both searches of one kind of list.
struct t_searchPair {
    t_strResult** user = nullptr;
    uint32_t userLead = 0;
    int32_t userTotal = 0;
    t_strResult** sys = nullptr;
    uint32_t sysLead = 0;
    int32_t sysTotal = 0;
};

template <class User, class Sys>
bool SearchBoth(t_scopeHeap& pool, User& user, Sys& sys, const t_lstr* key, int minLength,
                t_searchPair& r) {
    if (!key) return false;
    user.Search(pool, key, minLength, &r.user, &r.userLead, &r.userTotal);
    sys.Search(pool, key, minLength, &r.sys, &r.sysLead, &r.sysTotal);
    if (r.userTotal < 0 || r.sysTotal < 0) return false;
    if (!r.user) r.userTotal = 0, r.userLead = 0;
    if (!r.sys) r.sysTotal = 0, r.sysLead = 0;
    return true;
}

// Letters that read as pinyin being typed (zhongguo, zhongg) in the user's
// English list: pinyin sent as typed, which older versions learned as an
// English word. Only the system's English list makes them a word.
bool IsPinyinSentAsTyped(t_scopeHeap& pool, const t_engEntry* e) {
    if (!e || !e->text) return false;
    const wchar_t* text = pool.LstrToWide(e->text);
    uint32_t known = 0;
    return text && ReadsAsPinyinSyllables(text) &&
           !t_singleton<t_engSysDict>::Get().GetWordFreq(e->text, &known);
}

// skipUser: user entries that are never chosen.
template <class User, class Sys>
t_engEntry* FindBest(t_scopeHeap& pool, User& user, Sys& sys, const wchar_t* input,
                     bool* exactInSystem, const t_lstr* prefix,
                     bool (*skipUser)(t_scopeHeap&, const t_engEntry*) = nullptr) {
    if (exactInSystem) *exactInSystem = false;
    const t_lstr* key = ToLstr(pool, input, size_t(Length(input)));
    t_searchPair r;
    if (!SearchBoth(pool, user, sys, key, 0, r)) return nullptr;
    t_engEntry* chosen = nullptr;
    // Leading entries: the first whose key is the input itself is taken.
    auto takeLeading = [&](t_strResult** list, uint32_t lead, bool own) {
        for (uint32_t i = 0; i < lead && !chosen; ++i)
            if (list[i] && KeyEqualsInput(list[i]->stored, key) &&
                !(own && skipUser && skipUser(pool, list[i])) &&
                !IsDeletedWord(pool, list[i]->text, prefix))
                chosen = list[i];
    };
    auto bestFurther = [&](t_strResult** list, uint32_t lead, int32_t total, bool own) {
        for (int32_t i = int32_t(lead); i < total; ++i)
            if (list[i] && (!chosen || EngEntryBefore(list[i], chosen)) &&
                !(own && skipUser && skipUser(pool, list[i])) &&
                !IsDeletedWord(pool, list[i]->text, prefix))
                chosen = list[i];
    };
    takeLeading(r.user, r.userLead, true);
    if (!chosen) takeLeading(r.sys, r.sysLead, false);
    if (!chosen) bestFurther(r.user, r.userLead, r.userTotal, true);
    if (!chosen) bestFurther(r.sys, r.sysLead, r.sysTotal, false);
    if (chosen && exactInSystem && chosen->source) {
        for (int32_t i = 0; i < r.sysTotal && !*exactInSystem; ++i)
            *exactInSystem = r.sys[i] && LstrCompare(r.sys[i]->text, chosen->text) == 0;
    }
    return chosen;
}

// Input units a stored prefix word covers (apostrophes on either side are
// skipped, as the string order skips them).
int InputUnitsOf(const t_lstr* stored, const wchar_t* input, int length) {
    int letters = 0;
    for (uint32_t i = 0; i < LstrGetLength(stored); ++i)
        if (LstrGetUnit(stored, i) != '\'') ++letters;
    int i = 0;
    for (; i < length && letters > 0; ++i)
        if (input[i] != L'\'') --letters;
    return letters == 0 ? i : -1;
}

// Letter ids of a text that covers exactly its input, and one segment end.
void FillEnglishSyllables(t_scopeHeap& pool, t_candWord* w) {
    const uint32_t n = LstrGetLength(w->text);
    if (n == w->coveredLength && n > 0) {
        auto* ids = static_cast<uint16_t*>(pool.AllocAligned(size_t(n + 1) * 2, 2));
        if (ids && t_singleton<t_pyDict>::Get().LettersToIds(w->text, ids))
            w->syllableIds = reinterpret_cast<const t_lstr*>(ids);
    }
    const uint16_t end = uint16_t(w->coveredLength);
    w->segmentList = pool.MakeLstr(&end, 2);
}

t_candWord* MakeCompletionRecord(t_scopeHeap& pool, const t_lstr* text, const t_engEntry* e,
                                 uint32_t covered, uint16_t sourceType, const wchar_t* label,
                                 bool debug) {
    t_candWord* w = t_candWord::NewSpecial(pool);
    if (!w || !text) return nullptr;
    t_candWord::SetText(w, text, nullptr);
    t_candWord::SetThirdText(w, e->stored);
    w->coveredLength = covered;
    w->kind = kCandKindPinned;
    w->sourceType = sourceType;
    w->rank = kCandEnglishCompletionRank;
    if (debug) w->debugText = pool.WideToLstr(label);
    FillEnglishSyllables(pool, w);
    return w;
}

template <class User, class Sys>
bool SearchWords(t_scopeHeap& pool, User& user, Sys& sys, const wchar_t* input, int start,
                 int count, int minLength, t_engWordPage* page, const t_lstr* prefix) {
    if (!page || start < 0 || count < 0) return false;
    *page = t_engWordPage{};
    const t_lstr* key = ToLstr(pool, input, size_t(Length(input)));
    t_searchPair r;
    if (!SearchBoth(pool, user, sys, key, minLength, r)) return false;
    const int64_t room = int64_t(start) + count;
    t_engWordList list(pool, room > 100000 ? 100000 : int(room));
    if (!list.IsValid()) return false;
    auto keep = [&](t_strResult* e) { return e && !IsDeletedWord(pool, e->text, prefix); };
    for (int32_t i = int32_t(r.userLead); i < r.userTotal; ++i)
        if (keep(r.user[i])) list.Add(r.user[i]);
    for (int32_t i = int32_t(r.sysLead); i < r.sysTotal; ++i)
        if (keep(r.sys[i])) list.Add(r.sys[i]);
    for (uint32_t i = 0; i < r.sysLead; ++i)
        if (keep(r.sys[i])) list.AddAt(r.sys[i], int(i));
    for (uint32_t i = 0; i < r.userLead; ++i)
        if (keep(r.user[i])) list.AddAt(r.user[i], int(i));
    page->total = (r.userTotal - int32_t(r.userLead)) + (r.sysTotal - int32_t(r.sysLead));
    const int made = list.Count() > start ? list.Count() - start : 0;
    if (made > 0) {
        page->words =
            static_cast<const t_lstr**>(ArenaAllocAligned(pool, sizeof(t_lstr*) * size_t(made)));
        page->keys =
            static_cast<const t_lstr**>(ArenaAllocAligned(pool, sizeof(t_lstr*) * size_t(made)));
        page->marks = static_cast<uint8_t*>(pool.Alloc(size_t(made)));
        if (!page->words || !page->keys || !page->marks) return false;
        for (int i = 0; i < made; ++i) {
            const t_engEntry* e = list.At(start + i);
            page->words[i] = e->text;
            page->keys[i] = e->stored;
            page->marks[i] = e->source;
        }
    }
    page->made = made;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- entry order and list

int EngEntryBefore(const t_engEntry* a, const t_engEntry* b) {
    const bool am = a->source != 0, bm = b->source != 0;
    if (am != bm) return am ? 1 : 0;
    const bool aw = LstrCompare(a->text, a->stored) == 0, bw = LstrCompare(b->text, b->stored) == 0;
    if (aw != bw) return aw ? 1 : 0;
    if (a->time != b->time) return a->time > b->time ? 1 : 0;
    return a->count > b->count ? 1 : 0;
}

t_engWordList::t_engWordList(t_scopeHeap& pool, int capacity)
    : m_capacity(capacity > 0 ? capacity : 0) {
    const size_t bytes = sizeof(t_engEntry*) * size_t(m_capacity + 1);
    m_byText = static_cast<t_engEntry**>(ArenaAllocAligned(pool, bytes));
    m_ordered = static_cast<t_engEntry**>(ArenaAllocAligned(pool, bytes));
}

int t_engWordList::FindText(const t_lstr* text, bool* found) const {
    int lo = 0, hi = m_count;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        const int c = t_arrayWord::CompareText(m_byText[mid]->text, text);
        if (c == 0) {
            *found = true;
            return mid;
        }
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    *found = false;
    return lo;
}

void t_engWordList::Remove(t_engEntry* e) {
    bool found = false;
    const int t = FindText(e->text, &found);
    if (found)
        std::memmove(m_byText + t, m_byText + t + 1, sizeof(t_engEntry*) * size_t(m_count - t - 1));
    for (int i = 0; i < m_count; ++i) {
        if (m_ordered[i] != e) continue;
        std::memmove(m_ordered + i, m_ordered + i + 1,
                     sizeof(t_engEntry*) * size_t(m_count - i - 1));
        break;
    }
    --m_count;
}

void t_engWordList::Insert(t_engEntry* e, int at) {
    bool found = false;
    const int t = FindText(e->text, &found);
    std::memmove(m_byText + t + 1, m_byText + t, sizeof(t_engEntry*) * size_t(m_count - t));
    m_byText[t] = e;
    std::memmove(m_ordered + at + 1, m_ordered + at, sizeof(t_engEntry*) * size_t(m_count - at));
    m_ordered[at] = e;
    ++m_count;
}

void t_engWordList::Add(t_engEntry* e) {
    if (!IsValid() || !e || !e->text || m_capacity == 0) return;
    bool found = false;
    const int t = FindText(e->text, &found);
    if (found) {
        if (!EngEntryBefore(e, m_byText[t])) return;
        Remove(m_byText[t]);
    }
    int at = 0;
    while (at < m_count && !EngEntryBefore(e, m_ordered[at])) ++at;
    if (m_count == m_capacity) {
        if (at >= m_count) return;
        Remove(m_ordered[m_count - 1]);
    }
    Insert(e, at);
}

void t_engWordList::AddAt(t_engEntry* e, int index) {
    if (!IsValid() || !e || !e->text || m_capacity == 0 || index < 0) return;
    bool found = false;
    const int t = FindText(e->text, &found);
    if (found) {
        if (!EngEntryBefore(e, m_byText[t])) return;
        Remove(m_byText[t]);
    }
    int at = index < m_count ? index : m_count;
    if (m_count == m_capacity) {
        if (at >= m_count) return;
        Remove(m_ordered[m_count - 1]);
        if (at > m_count) at = m_count;
    }
    Insert(e, at);
}

// ---------------------------------------------------------------- prefix words and completions

bool AddEnglishPrefixCandidates(t_scopeHeap& pool, const wchar_t* input, int length,
                                t_candWord** out, int capacity, int* count, bool debug) {
    if (count) *count = 0;
    if (!input || length <= 0 || length > Length(input) || !out || capacity <= 0) return false;
    const t_lstr* key = ToLstr(pool, input, size_t(length));
    t_strResult** words = nullptr;
    int32_t n = 0;
    if (!key || !t_singleton<t_engUsrDict>::Get().GetPrefixWords(pool, key, &words, &n) || n < 0)
        return false;
    int made = 0;
    for (int32_t i = 0; i < n && made < capacity; ++i) {
        t_candWord* w = t_candWord::NewSpecial(pool);
        if (!w || !words[i]) break;
        t_candWord::SetText(w, words[i]->text, nullptr);
        t_candWord::SetThirdText(w, words[i]->stored);
        w->coveredLength = LstrGetLength(words[i]->text);
        w->kind = kCandKindScored;
        w->sourceType = kCandSourceEnglishPrefix;
        w->rank = kCandEnglishPrefixRank;
        if (debug) w->debugText = pool.WideToLstr(L"英文头匹配");
        FillEnglishSyllables(pool, w);
        out[made++] = w;
    }
    if (count) *count = made;
    return true;
}

t_engEntry* FindBestEnglishCompletion(t_scopeHeap& pool, const wchar_t* input, bool* exactInSystem,
                                      const t_lstr* prefix) {
    return FindBest(pool, t_singleton<t_engUsrDict>::Get(), t_singleton<t_engSysDict>::Get(), input,
                    exactInSystem, prefix, &IsPinyinSentAsTyped);
}

t_engEntry* FindBestUrlCompletion(t_scopeHeap& pool, const wchar_t* input, bool* exactInSystem,
                                  const t_lstr* prefix) {
    return FindBest(pool, t_singleton<t_urlUsrDict>::Get(), t_singleton<t_urlSysDict>::Get(), input,
                    exactInSystem, prefix);
}

bool FindSegmentWord(t_scopeHeap& pool, t_engEntry** entry, int* units, const wchar_t* input,
                     int length) {
    if (!entry || !units) return false;
    *entry = nullptr;
    *units = 0;
    if (!input || length <= 0 || length > Length(input)) return false;
    const t_lstr* key = ToLstr(pool, input, size_t(length));
    if (!key) return false;
    t_engEntry* choice[2] = {nullptr, nullptr};
    int covered[2] = {0, 0};
    auto pick = [&](int side, t_strResult** words, int32_t n) {
        for (int32_t i = 0; i < n; ++i) {
            if (!words[i]) continue;
            const int k = InputUnitsOf(words[i]->stored, input, length);
            if (k > 0 && k < length && IsUpper(input[k])) {
                choice[side] = words[i];
                covered[side] = k;
                return;
            }
        }
    };
    t_strResult** words = nullptr;
    int32_t n = 0;
    if (t_singleton<t_engUsrDict>::Get().GetPrefixWords(pool, key, &words, &n) && n > 0)
        pick(0, words, n);
    words = nullptr;
    n = 0;
    if (t_singleton<t_engSysDict>::Get().GetPrefixWords(pool, key, &words, &n) && n > 0)
        pick(1, words, n);
    int side = -1;
    if (choice[1] &&
        (!choice[0] || LstrGetLength(choice[1]->stored) >= LstrGetLength(choice[0]->stored)))
        side = 1;
    else if (choice[0])
        side = 0;
    if (side >= 0) {
        *entry = choice[side];
        *units = covered[side];
    }
    return true;
}

t_candWord* AddSegEnglishCompletions(t_scopeHeap& pool, const wchar_t* input, int length,
                                     bool debug) {
    if (!input || length <= 0 || length > Length(input)) return nullptr;
    // The joined text stays within this buffer; a dictionary word that would
    // overrun it makes no record.
    const uint32_t capacity = 2 * uint32_t(length) + 64;
    auto* buffer = static_cast<t_lstr*>(pool.AllocAligned(capacity, 2));
    if (!buffer) return nullptr;
    LstrSetByteLength(buffer, 0);
    int pos = 0;
    while (pos < length) {
        t_engEntry* seg = nullptr;
        int units = 0;
        if (!FindSegmentWord(pool, &seg, &units, input + pos, length - pos) || !seg) return nullptr;
        if (!LstrAppendBounded(buffer, capacity, seg->text)) return nullptr;
        pos += units;
        if (pos >= length) return nullptr;
        const wchar_t* rest = pool.DupWideN(input + pos, size_t(length - pos));
        const t_engEntry* best =
            rest ? FindBestEnglishCompletion(pool, rest, nullptr, buffer) : nullptr;
        if (!best) continue;
        if (!LstrAppendBounded(buffer, capacity, best->text)) return nullptr;
        return MakeCompletionRecord(pool, pool.DupLstr(buffer), best, uint32_t(length),
                                    kCandSourceEnglishCompletion, L"分段英文补全", debug);
    }
    return nullptr;
}

t_candWord* MakeSegEnglishCompletion(t_scopeHeap& pool, const wchar_t* input, bool exactLength,
                                     bool* found, bool debug, bool* common) {
    if (found) *found = false;
    if (common) *common = false;
    const int n = Length(input);
    if (n == 0) return nullptr;
    const t_engEntry* best = FindBestEnglishCompletion(pool, input, nullptr, nullptr);
    if (!best) return nullptr;
    if (found) *found = true;
    if (exactLength && LstrGetLength(best->text) != uint32_t(n)) return nullptr;
    if (common) *common = best->source != 0 || best->count >= kCommonEnglishFrequency;
    return MakeCompletionRecord(
        pool, best->text, best, uint32_t(n),
        best->source ? kCandSourceEnglishPrefix : kCandSourceEnglishCompletion, L"英文补全", debug);
}

const t_lstr* MakeSegEnglishText(t_scopeHeap& pool, const wchar_t* input, int n, int total) {
    if (!input || n <= 0 || total <= n || total > Length(input)) return nullptr;
    const wchar_t* rest = pool.DupWideN(input + n, size_t(total - n));
    const t_engEntry* best = rest ? FindBestUrlCompletion(pool, rest, nullptr, nullptr) : nullptr;
    const t_lstr* head = ToLstr(pool, input, size_t(n));
    if (!best || !head) return nullptr;
    if (uint32_t(LstrGetByteLength(head)) + LstrGetByteLength(best->text) > kSegTextMaxBytes)
        return nullptr;
    return pool.ConcatLstr(head, best->text);
}

// ---------------------------------------------------------------- lists

bool SearchEnglishWords(t_scopeHeap& pool, const wchar_t* input, int start, int count,
                        int minLength, t_engWordPage* page, const t_lstr* prefix) {
    return SearchWords(pool, t_singleton<t_engUsrDict>::Get(), t_singleton<t_engSysDict>::Get(),
                       input, start, count, minLength, page, prefix);
}

bool SearchUrlWords(t_scopeHeap& pool, const wchar_t* input, int start, int count, int minLength,
                    t_engWordPage* page, const t_lstr* prefix) {
    return SearchWords(pool, t_singleton<t_urlUsrDict>::Get(), t_singleton<t_urlSysDict>::Get(),
                       input, start, count, minLength, page, prefix);
}

bool CollectEnglishCandidates(t_scopeHeap& pool, const wchar_t* input, int start, int count,
                              t_engWordPage* page) {
    const int n = Length(input);
    if (!page || n == 0) return false;
    *page = t_engWordPage{};
    const uint32_t capacity = 2 * (uint32_t(n) + 32) + 2;
    auto* prefix = static_cast<t_lstr*>(pool.AllocAligned(capacity, 2));
    if (!prefix) return false;
    LstrSetByteLength(prefix, 0);
    int pos = 0;
    while (page->made == 0) {
        t_engEntry* seg = nullptr;
        int units = 0;
        if (!FindSegmentWord(pool, &seg, &units, input + pos, n - pos) || !seg) return false;
        if (!LstrAppendBounded(prefix, capacity, seg->text)) return false;
        pos += units;
        if (pos >= n) return false;
        if (!SearchEnglishWords(pool, input + pos, start, count, 0, page, prefix)) return false;
    }
    for (int i = 0; i < page->made; ++i) {
        page->words[i] = pool.ConcatLstr(prefix, page->words[i]);
        if (!page->words[i]) return false;
        page->marks[i] = 0;
    }
    return true;
}

// ---------------------------------------------------------------- placing

void t_engPredictor::Init(t_scopeHeap* pool, t_arrayWord* array,
                          const t_engPredictRequest& request) {
    m_pool = pool;
    m_array = array;
    m_request = request;
    m_record = nullptr;
    m_made = m_kept = m_common = false;
}

bool t_engPredictor::Run() {
    if (!m_pool || !m_request.input || !*m_request.input) return false;
    bool found = false;
    m_record = MakeSegEnglishCompletion(*m_pool, m_request.input, m_request.exactLength, &found,
                                        m_request.debug, &m_common);
    if (!m_record && m_request.allowSegmented && !m_request.exactLength) {
        m_record = AddSegEnglishCompletions(*m_pool, m_request.input, Length(m_request.input),
                                            m_request.debug);
        m_common = m_record != nullptr;
    }
    m_made = m_record != nullptr;
    return m_made;
}

void t_engPredictor::DecidePlace() {
    if (!m_record || !m_array) return;
    const bool marked = m_record->sourceType == kCandSourceEnglishPrefix;
    const int n = Length(m_request.input);
    const t_candWord* lead = m_array->GetTopWord();
    if (!m_common && lead && lead->coveredLength == uint32_t(n)) return;
    if (marked && !m_request.exempt && m_request.wholeTextProb > 0.98) {
        m_record->wantedPlace = 5;
    } else if (n <= m_request.englishLimit) {
        const t_lstr* key = ToLstr(*m_pool, m_request.input, size_t(n));
        const bool predicted = key && t_singleton<t_preEngDict>::Get().Contains(key);
        if ((predicted || marked) && !m_array->FindWord(m_record->text)) {
            m_record->wantedPlace = 1;
        } else {
            const t_candWord* top = m_array->GetTopWord();
            const bool differs =
                !top || !top->text || t_arrayWord::CompareText(top->text, m_record->text) != 0;
            m_record->wantedPlace = differs ? 5 : 1;
        }
    } else {
        m_record->wantedPlace = 1;
    }
    int filtered = 0;
    m_kept = m_array->AddChecked(m_record, &filtered) == 1 && filtered == 0 &&
             m_array->FindWord(m_record->text);
}
