// Learning entries: committed text into the user dictionary or the English
// user dictionary, and the pending-commit record. Engine thread only; the
// English writes hold the inter-process dictionary lock.
#include "kernel/api/kernel_learn.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "kernel/api/kernel_options.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/convert/input_strings.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/lexicon/string_dict.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/recent_cache.h"
#include "kernel/userdict/usr_dict_file_ops.h"

namespace {

uint8_t Item(const t_configItem& item) {
    return GetConfiguration().GetByte(item);
}

t_engUsrDict& EngUsr() {
    return t_singleton<t_engUsrDict>::Get();
}

// The "no reading" syllable string: only its count is read.
const t_lstr* NoSyllables() {
    static const uint8_t bytes[2] = {0xff, 0xff};
    return reinterpret_cast<const t_lstr*>(bytes);
}

// A pending commit. pinyinMark: kNoSyllablesBytes without reading, 0 for an
// English commit, else the stored reading's byte count.
struct t_pendingCommit {
    int64_t time = -1;
    wchar_t text[kPendingTextChars + 1] = {};
    std::vector<uint8_t> pinyin;
    uint16_t pinyinMark = kNoSyllablesBytes;
    uint32_t mode = 1;
    uint8_t weighting = 0;
    uint8_t chinese = 0;

    void Clear() {
        time = -1;
        text[0] = 0;
        pinyin.clear();
        pinyinMark = kNoSyllablesBytes;
    }
    // False (nothing kept) when the text does not fit.
    bool Keep(const wchar_t* t) {
        const size_t n = wcslen(t);
        if (n > kPendingTextChars) return false;
        wmemcpy(text, t, n + 1);
        time = int64_t(::time(nullptr));
        return true;
    }
    bool Pending() const { return time >= 0; }
};

t_pendingCommit g_pending;

// The adjustment fields and their values at rest.
struct t_pendingAdjust {
    int32_t first = -1;
    uint16_t second = 78;
    uint32_t third = 0;
};
t_pendingAdjust g_adjust;

// Raises the just-learned word when the noted adjustment asks for it, then
// forgets the adjustment.
void ApplyPendingAdjust(const wchar_t* text, const t_lstr* ids) {
    const t_pendingAdjust adjust = g_adjust;
    g_adjust = t_pendingAdjust();
    if (adjust.first >= 1 && adjust.second == 1 && (adjust.third & 0x98) && ids &&
        LstrGetByteLength(ids) != kNoSyllablesBytes)
        AdjustUserWordFreq(text, ids, 1);
}

}  // namespace

int ShouldLearnWord(const wchar_t* text, const t_lstr* pinyin) {
    if (!text) return 0;
    if (Item(n_config::LearnFreq)) return 1;
    if (!Item(n_config::LearnNewWord)) return 0;
    if (!pinyin) return 1;
    if (LstrGetByteLength(pinyin) == 0) return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = arena.WideToLstr(text);
    if (!word) return 0;
    t_sysDict& sys = GetSysDict();
    uint32_t index = 0, offset = 0, gram = 0;
    if (sys.IsReady() && sys.FindWord(pinyin, word, &index, &offset, &gram) &&
        !(sys.GetWordFlags(index) & n_sysDict::kFlagContext))
        return 0;
    t_usrWordAttr attr;
    if (LookupUserWord(pinyin, word, &attr)) return 0;
    t_extDict& cell = GetExtDict();
    return cell.IsReady() && cell.Contains(pinyin, word) ? 0 : 1;
}

uint32_t LearnCommittedText(const wchar_t* text, const t_lstr* pinyin, uint32_t mode) {
    if (text && IsAsciiLetterString(text)) return LearnEnglishCommit(text);
    if (text) NotifyDelegateText(text);
    if (!ShouldLearnWord(text, pinyin)) return 1;
    return LearnUserWord(pinyin ? pinyin : NoSyllables(), text, uint8_t(mode), 0) ? 1 : 0;
}

uint32_t LearnCommittedTextEx(const wchar_t* text, const t_lstr* pinyin, uint32_t mode,
                              uint8_t* known) {
    if (known) {
        *known = 0;
        t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
        const t_lstr* word = text ? arena.WideToLstr(text) : nullptr;
        t_usrWordAttr attr;
        if (pinyin && word && LookupUserWord(pinyin, word, &attr)) *known = 1;
    }
    return LearnCommittedText(text, pinyin, mode);
}

uint32_t LearnCommittedTextNoPinyin(const wchar_t* text) {
    if (text && IsAsciiLetterString(text)) return LearnEnglishCommit(text);
    if (text) NotifyDelegateText(text);
    if (!ShouldLearnWord(text, nullptr)) return 1;
    return LearnUserWord(NoSyllables(), text, 1, 1) ? 1 : 0;
}

uint32_t LearnEnglishCommit(const wchar_t* text) {
    if (!text) return 0;
    CheckHiddenInputCode(text);
    NotifyDelegateText(text);
    if (!Item(n_config::LearnEnglishCommits)) return 1;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = arena.WideToLstr(text);
    if (!word) return 0;
    UndeleteWord(word);
    t_processLock::t_locker lock(GetDictLocker());
    return EngUsr().AddWord(word, uint32_t(time(nullptr))) ? 1 : 0;
}

uint32_t LearnEnglishWord(const wchar_t* text) {
    if (!text) return 0;
    NotifyDelegateText(text);
    const uint8_t all = Item(n_config::LearnEnglishAllWords),
                  fresh = Item(n_config::LearnEnglishNewWords);
    if (!all && !fresh) return 1;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = arena.WideToLstr(text);
    // One letter is no word, and letters that read as pinyin being typed
    // (zhongguo, zhongg) were pinyin sent as typed unless the English list
    // knows them: learned, either would come first on every input it begins.
    uint32_t known = 0;
    if (word &&
        (LstrGetLength(word) == 1 || (ReadsAsPinyinSyllables(text) &&
                                      !t_singleton<t_engSysDict>::Get().GetWordFreq(word, &known))))
        return 1;
    if (word) UndeleteWord(word);
    return LearnEnglishWordCore(text, all ? 0 : 1, time(nullptr));
}

uint32_t LearnEnglishWordCore(const wchar_t* text, uint8_t onlyIfNew, time_t now) {
    if (!text) return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = arena.WideToLstr(text);
    if (!word) return 0;
    t_engUsrDict& user = EngUsr();
    t_engSysDict& sys = t_singleton<t_engSysDict>::Get();
    uint32_t userCount = 0, sysFreq = 0;
    const bool inUser = user.GetWordFreq(word, &userCount) != 0;
    const bool inSys = sys.GetWordFreq(word, &sysFreq) != 0;
    if (onlyIfNew && ((inUser && userCount > 1) || inSys)) return 1;
    t_processLock::t_locker lock(GetDictLocker());
    const int r = inUser ? user.AddWord(word, uint32_t(now))
                         : user.MergeWord(word, uint32_t(now), inSys ? 2 : 1);
    return r ? 1 : 0;
}

int LearnUrl(const wchar_t* text) {
    if (!text || !*text) return 0;
    const wchar_t* parts[3] = {nullptr, nullptr, text};
    if (wcsncmp(text, L"www.", 4) == 0 && text[4]) parts[0] = text + 4;
    parts[1] = CheckMailDomain(text);
    t_urlUsrDict& urls = t_singleton<t_urlUsrDict>::Get();
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const uint32_t now = uint32_t(time(nullptr));
    t_processLock::t_locker lock(GetDictLocker());
    int result = 1;
    for (const wchar_t* part : parts) {
        if (!part) continue;
        const t_lstr* s = arena.WideToLstr(part);
        const int r = !s                           ? 0
                      : EndsWithDomainSuffix(part) ? urls.MergeUrl(s, now, 2)
                                                   : urls.AddUrl(s, now);
        if (!r) result = 0;
    }
    return result;
}

int LearnUrlCommit(const wchar_t* text) {
    if (!text) return 0;
    if (!Item(n_config::LearnAddressCommits)) return 1;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    if (const t_lstr* word = arena.WideToLstr(text)) UndeleteWord(word);
    return LearnUrl(text);
}

int LearnCommittedPlain(const wchar_t* text) {
    if (text && IsAsciiLetterString(text)) return int(LearnEnglishCommit(text));
    return LearnUrlCommit(text);
}

int RememberCommit(const wchar_t* text) {
    if (!text) return 0;
    if (IsAsciiLetterString(text)) return RememberEnglishCommit(text);
    g_pending.Clear();
    if (!ShouldLearnWord(text, nullptr)) {
        NotifyDelegateText(text);
        return 0;
    }
    if (!g_pending.Keep(text)) {
        NotifyDelegateText(text);  // too long to keep: still a commit the observer hears of
        return 0;
    }
    g_pending.pinyinMark = kNoSyllablesBytes;
    g_pending.mode = 1;
    g_pending.weighting = 1;
    g_pending.chinese = 1;
    return 1;
}

int RememberCommitWithPinyin(const wchar_t* text, const t_lstr* pinyin, uint32_t mode) {
    if (!text) return 0;
    if (IsAsciiLetterString(text)) return RememberEnglishCommit(text);
    g_pending.Clear();
    if (!ShouldLearnWord(text, pinyin)) {
        NotifyDelegateText(text);
        return 0;
    }
    if (!g_pending.Keep(text)) {
        NotifyDelegateText(text);
        return 0;
    }
    if (pinyin) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(pinyin);
        g_pending.pinyin.assign(p, p + LstrGetTotalBytes(pinyin));
        g_pending.pinyinMark = LstrGetByteLength(pinyin);
    }
    g_pending.mode = mode;
    g_pending.weighting = 0;
    g_pending.chinese = 1;
    return 1;
}

int RememberEnglishCommit(const wchar_t* text) {
    if (!text) return 0;
    CheckHiddenInputCode(text);
    g_pending.Clear();
    const bool on = IsAsciiLetterString(text) ? Item(n_config::LearnEnglishCommits)
                                              : Item(n_config::LearnAddressCommits);
    if (!on || !g_pending.Keep(text)) {
        NotifyDelegateText(text);
        return 0;
    }
    g_pending.pinyinMark = 0;
    g_pending.mode = 0;
    return 1;
}

int RememberEnglishWord(const wchar_t* text) {
    if (!text) return 0;
    CheckHiddenInputCode(text);
    g_pending.Clear();
    const uint8_t all = Item(n_config::LearnEnglishAllWords),
                  fresh = Item(n_config::LearnEnglishNewWords);
    if ((!all && !fresh) || !g_pending.Keep(text)) {
        NotifyDelegateText(text);
        return 0;
    }
    g_pending.pinyinMark = 0;
    g_pending.mode = all ? 0 : 1;
    return 1;
}

int CancelRecentCommit() {
    if (!g_pending.Pending() || int64_t(time(nullptr)) - g_pending.time >= 5) return 0;
    g_pending.time = -1;
    return 1;
}

int FlushPendingWord() {
    if (!g_pending.Pending() || g_pending.pinyinMark == 0) return 0;
    const t_pendingCommit commit = g_pending;
    g_pending.Clear();
    NotifyDelegateText(commit.text);
    const t_lstr* ids = commit.pinyin.empty()
                            ? NoSyllables()
                            : reinterpret_cast<const t_lstr*>(commit.pinyin.data());
    if (!LearnUserWord(ids, commit.text, uint8_t(commit.mode), commit.weighting)) return 0;
    ApplyPendingAdjust(commit.text, ids);
    return 1;
}

int FlushPendingEnglish() {
    if (!g_pending.Pending() || g_pending.pinyinMark != 0) return 0;
    const t_pendingCommit commit = g_pending;
    g_pending.Clear();
    NotifyDelegateText(commit.text);
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    if (const t_lstr* word = arena.WideToLstr(commit.text)) UndeleteWord(word);
    return int(LearnEnglishWordCore(commit.text, uint8_t(commit.mode), time_t(commit.time)));
}

bool HasPendingCommit() {
    return g_pending.Pending();
}

int FlushPendingEnglishUrl() {
    if (!g_pending.Pending() || g_pending.pinyinMark != 0) return 0;
    const t_pendingCommit commit = g_pending;
    g_pending.Clear();
    NotifyDelegateText(commit.text);
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = arena.WideToLstr(commit.text);
    if (!word) return 0;
    UndeleteWord(word);
    if (IsAsciiLetterString(commit.text)) {
        t_processLock::t_locker lock(GetDictLocker());
        EngUsr().AddWord(word, uint32_t(commit.time));
    }
    return LearnUrl(commit.text);
}

void SetPendingAdjust(int32_t first, uint16_t second, uint32_t third) {
    g_adjust = {first, second, third};
}

int AdjustUserWordFreq(const wchar_t* text, const t_lstr* pinyin, int32_t delta) {
    if (!text || !pinyin || delta < 1) return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = arena.WideToLstr(text);
    t_usrWordAttr attr;
    if (!word || !LookupUserWord(pinyin, word, &attr) || attr.freq == 0) return 0;
    const uint16_t freq = uint16_t(std::min<int64_t>(int64_t(attr.freq) + delta, 65535));
    t_processLock::t_locker lock(GetDictLocker());
    return GetUsrDictInstance().RestoreWord(pinyin, word, freq, attr.flags, attr.stamp, attr.extra)
               ? 1
               : 0;
}

int NotifyCommitEnd(intptr_t value, bool clearRing) {
    NotifyDelegateCommitEnd(value);
    if (clearRing) t_singleton<t_submittedUsrWord>::Get().Clear();
    return 1;
}

namespace {

// Longest joined pair LearnWordPairs learns.
constexpr size_t kJoinedPairMaxChars = 254;

struct t_wordPair {
    std::wstring word;
    const t_lstr* key;
};

// Two chosen words as one, when the joined text and reading stay in bounds.
bool JoinWordPair(t_scopeHeap& pool, const std::wstring& a, const t_lstr* ka, const std::wstring& b,
                  const t_lstr* kb, t_wordPair& out) {
    if (a.size() + b.size() > kJoinedPairMaxChars ||
        LstrGetByteLength(ka) + LstrGetByteLength(kb) > kJoinedKeyMaxBytes)
        return false;
    out.word = a + b;
    out.key = pool.ConcatLstr(ka, kb);
    return out.key != nullptr;
}

}  // namespace

int LearnWordPairs(const wchar_t* text, const t_lstr* key, const wchar_t* const* words,
                   const t_lstr* const* keys, int32_t count) {
    if (!text || !key || !words || !keys || count < 1 || wcslen(text) <= 3) return 0;
    // The chosen readings must make the whole reading, in order.
    uint32_t bytes = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (!words[i] || !keys[i]) return 0;
        const uint32_t n = LstrGetByteLength(keys[i]);
        if (bytes + n > LstrGetByteLength(key) ||
            memcmp(LstrGetBytes(key) + bytes, LstrGetBytes(keys[i]), n) != 0)
            return 0;
        bytes += n;
    }
    if (bytes != LstrGetByteLength(key)) return 0;
    const std::wstring sentence(text);
    t_scopeHeap pool;
    std::vector<t_wordPair> queue;
    size_t place = 0;
    for (int32_t i = 0; i < count; ++i) {
        const std::wstring word(words[i]);
        const bool corrected = word.size() > 1 && sentence.compare(place, word.size(), word) != 0;
        place += word.size();
        if (!corrected) continue;
        queue.push_back({word, keys[i]});
        if (count < 3) continue;
        t_wordPair joined;
        if (i > 0 && JoinWordPair(pool, words[i - 1], keys[i - 1], word, keys[i], joined))
            queue.push_back(joined);
        if (i + 1 < count && JoinWordPair(pool, word, keys[i], words[i + 1], keys[i + 1], joined))
            queue.push_back(joined);
    }
    int learned = 0;
    bool failed = false;
    for (const t_wordPair& pair : queue) {
        const t_lstr* word = WideToLstr16(pool, pair.word.c_str());
        if (word && SetUserWordFlags(pair.key, word, 1, true, false))
            ++learned;
        else
            failed = true;
    }
    return failed ? -1 : learned;
}
