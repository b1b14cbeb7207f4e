// Smaller entry operations: thin functions over the dictionary singletons,
// the resets of the user's small files through the dictionary manager, and
// the fuzzy-pair file. Engine thread only; changes hold the inter-process
// dictionary lock.
#include "kernel/api/kernel_dict_extras.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "kernel/api/kernel_dict_ops.h"
#include "kernel/api/kernel_options.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/convert/input_strings.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/fuzzy_config.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/privilege_dict.h"
#include "kernel/lexicon/punct_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/spell_model.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/deleted_words.h"
#include "kernel/userdict/fixed_words.h"
#include "kernel/userdict/usr_dict_file_ops.h"

namespace {

int ResetUserFile(const wchar_t* name) {
    if (!t_singleton<t_dictManager>::Exists()) return 0;
    t_dictManager& manager = GetDictManager();
    t_dictEntry* entry = manager.FindEntry(name);
    if (!entry) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    return manager.ResetEntry(entry) ? 1 : 0;
}

const t_lstr* Text16(t_scopeHeap& pool, const wchar_t* text) {
    return text ? WideToLstr16(pool, text) : nullptr;
}

bool SameText(const t_lstr* a, const t_lstr* b) {
    return a && b && LstrGetByteLength(a) == LstrGetByteLength(b) && LstrCompare(a, b) == 0;
}

// Copies a t_lstr as wide text into out (capacity characters and a
// terminator), cut at capacity when cut is set; false when it does not fit
// and may not be cut.
bool CopyText(t_scopeHeap& pool, const t_lstr* s, wchar_t* out, size_t capacity, bool cut) {
    const uint32_t* cp = s ? LstrToCodePoints(pool, s) : nullptr;
    if (!cp) return false;
    size_t n = 0;
    while (cp[n]) ++n;
    if (n > capacity && !cut) return false;
    n = std::min(n, capacity);
    for (size_t i = 0; i < n; ++i) out[i] = wchar_t(cp[i]);
    out[n] = 0;
    return true;
}

}  // namespace

int ResetPhrasesFile() {
    return ResetUserFile(L"AbbrUsrDict");
}
int ResetDelWordFile() {
    return ResetUserFile(L"DelWordDict");
}
int ResetUrlUsrFile() {
    return ResetUserFile(L"UrlUsrDict");
}
int ResetEngUsrFile() {
    return ResetUserFile(L"EngUsrDict");
}
int ResetSpellModelFile() {
    return ResetUserFile(L"UserSpellModelDict");
}
int ResetKeymapFile() {
    return ResetUserFile(L"KeyPyMap");
}

int32_t PinCandidateFirst(t_scopeHeap& pool, t_candWord** list, int32_t count, const wchar_t* text,
                          uint32_t coveredLength, bool debug) {
    if (!list || count < 0 || count > kPinnedListMax || !text || !*text) return -1;
    const t_lstr* wanted = Text16(pool, text);
    if (!wanted) return -1;
    for (int32_t i = 0; i < count; ++i) {
        if (!list[i] || !SameText(list[i]->text, wanted)) continue;
        std::rotate(list, list + i, list + i + 1);
        return count;
    }
    t_candWord* w = t_candWord::New(pool);
    if (!w) return -1;
    w->text = wanted;
    w->coveredLength = coveredLength;
    w->kind = kCandKindPinned;
    w->wantedPlace = 1;
    w->rank = kCandNoPower;
    w->score = 1.0;
    if (debug) w->debugText = pool.WideToLstr(L"外围调整选项顺序");
    const int32_t kept = std::min(count, kPinnedListMax - 1);
    std::copy_backward(list, list + kept, list + kept + 1);
    list[0] = w;
    return kept + 1;
}

int IsSysWordOfClass2(const t_lstr* pinyin, const wchar_t* text) {
    t_sysDict& sys = GetSysDict();
    t_scopeHeap pool;
    const t_lstr* word = Text16(pool, text);
    uint32_t index = 0, offset = 0, gram = 0;
    if (!pinyin || !word || !sys.IsReady() || !sys.FindWord(pinyin, word, &index, &offset, &gram))
        return 0;
    uint8_t record[5] = {};
    return sys.GetWordClassInfo(index, record) && (record[0] & 7) == 2 && record[1] != 0 ? 1 : 0;
}

int GetUrlGuide(t_candWord* const* candidates, int32_t count, const wchar_t* input,
                wchar_t (&text)[kGuideTextChars + 1], wchar_t (&url)[kGuideUrlChars + 1]) {
    text[0] = url[0] = 0;
    t_urlGuideDict& guides = t_singleton<t_urlGuideDict>::Get();
    t_scopeHeap pool;
    const auto take = [&](const uint8_t* row, int table) {
        if (!row) return false;
        const bool ok =
            CopyText(pool, guides.GetGuideUrl(row, table), url, kGuideUrlChars, false) &&
            CopyText(pool, guides.GetGuideText(row, table), text, kGuideTextChars, true);
        if (!ok) text[0] = url[0] = 0;
        return ok;
    };
    if (const t_lstr* typed = input ? pool.WideToLstr(input) : nullptr;
        typed && take(guides.FindByInput(typed), 1))
        return 1;
    for (int32_t i = 0; candidates && i < count; ++i)
        if (candidates[i] && candidates[i]->text && take(guides.FindByWord(candidates[i]->text), 0))
            return 1;
    return 0;
}

int GetSysDictInfo(uint32_t* headerValue, uint32_t* version) {
    const t_sysDict& sys = GetSysDict();
    const bool ready = sys.IsReady();
    const uint32_t magic = ready ? sys.GetMagic() : 0;
    if (headerValue) *headerValue = ready ? uint32_t(sys.GetDate()) : 0;
    if (version) *version = magic == 20090716 || magic == 20140716 ? magic : 0;
    return ready ? 1 : 0;
}

const t_lstr* LettersToIdString(t_scopeHeap& pool, const wchar_t* text) {
    if (!text || !*text || !IsAsciiLetterString(text)) return nullptr;
    const t_lstr* letters = pool.WideToLstr(text);
    if (!letters) return nullptr;
    std::vector<uint16_t> units(1 + LstrGetLength(letters));
    if (!t_singleton<t_pyDict>::Get().LettersToIds(letters, units.data())) return nullptr;
    return pool.MakeLstr(units.data() + 1, units[0]);
}

int32_t GetSyllableId(const wchar_t* spelling) {
    return t_singleton<t_pyDict>::Get().GetSyllableId(spelling);
}

const wchar_t* GetSyllableSpellingWide(t_scopeHeap& pool, int32_t id) {
    const t_lstr* s = GetSyllableSpelling(id);
    return s ? pool.LstrToWide(s) : nullptr;
}

int GetCharReadings(uint32_t ch, uint16_t* out, int max) {
    if (!out || max < 1) return 0;
    return std::max(0, t_singleton<t_hzDict>::Get().GetCharPinyinIds(ch, out, max));
}

int GetExtWordCodes(const t_lstr* pinyin, const wchar_t* word, std::vector<std::wstring>& out) {
    out.clear();
    t_scopeHeap pool;
    const t_lstr* text = Text16(pool, word);
    if (!pinyin || !text) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    return GetExtDict().GetWordCodes(pinyin, text, out);
}

int FormatWordCodes(t_scopeHeap& pool, const t_lstr* codes, const wchar_t** out) {
    if (!codes || !out || LstrGetByteLength(codes) % 4 != 0) return 0;
    std::wstring joined, piece;
    const uint8_t* bytes = LstrGetBytes(codes);
    for (uint32_t i = 0; i < LstrGetByteLength(codes) / 4u; ++i) {
        const uint32_t code = Rd32(bytes + 4 * i);
        if (!FormatCellCode(code, piece)) continue;
        if (!joined.empty()) joined += L'-';
        joined += piece;
    }
    *out = pool.DupWideN(joined.c_str(), joined.size());
    return *out ? 1 : 0;
}

const wchar_t* GetPunctuationText(uint32_t ch, bool fullWidth, bool pairing) {
    return t_singleton<t_punctureDict>::Get().GetPunctuation(ch, fullWidth, pairing);
}

int MatchTraditionalSuffix(const wchar_t* text, wchar_t* out, size_t capacity) {
    t_scopeHeap pool;
    const t_lstr* s = text && wcslen(text) < capacity ? pool.WideToLstr(text) : nullptr;
    return s && TraDictMatchSuffix(s, out, capacity) ? 1 : 0;
}

int SetFixedFirstWord(const wchar_t* key, const wchar_t* word, const wchar_t* second,
                      const wchar_t* third) {
    t_scopeHeap pool;
    const t_lstr *k = key ? pool.WideToLstr(key) : nullptr, *w = Text16(pool, word);
    if (!k || !w) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    return t_singleton<t_fixFirstDict>::Get().SetFixedWord(k, w, Text16(pool, second),
                                                           Text16(pool, third));
}

int RemoveFixedFirstWord(const wchar_t* key, const wchar_t* word) {
    t_scopeHeap pool;
    const t_lstr *k = key ? pool.WideToLstr(key) : nullptr, *w = Text16(pool, word);
    if (!k || !w) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    return t_singleton<t_fixFirstDict>::Get().RemoveItem(k, w);
}

int DeleteLetterWord(const wchar_t* text) {
    t_scopeHeap pool;
    const t_lstr* word =
        text && *text && IsAsciiLetterString(text) ? pool.WideToLstr(text) : nullptr;
    if (!word) return 0;
    const t_lstr* ids = LettersToIdString(pool, text);
    t_processLock::t_locker lock(GetDictLocker());
    if (!t_singleton<t_delWordDict>::Get().AddWord(word, uint32_t(time(nullptr)))) return 0;
    // A word the user never used has nothing to remove.
    if (ids) GetUsrDictInstance().DeleteWord(ids, word);
    t_singleton<t_engUsrDict>::Get().DeleteWord(word);
    return 1;
}

int SetUnsupportedCharRange(int32_t first, int32_t last) {
    if (first < 0 || first > last || last >= int32_t(t_supportCharDict::kFlagCount)) return 0;
    t_singleton<t_supportCharDict>::Get().SetRange(first, last, 0);
    return 1;
}

int NotifySupportCharChanged() {
    t_singleton<t_supportCharDict>::Get().IncreaseVersion();
    GetVersionManager().CheckUpdate2();
    return 1;
}

int LearnKeymapSegments(const wchar_t* input, const t_lstr* segments, const t_lstr* ids) {
    if (!input || !segments || !ids || !GetConfiguration().GetByte(n_config::LearnFreq)) return 0;
    const t_segmentedStr parts(input, segments);
    t_keyPyMap& map = GetKeyPyMap();
    t_scopeHeap pool;
    t_processLock::t_locker lock(GetDictLocker());
    int counted = 0;
    for (int i = 1; i <= parts.count && i <= int(LstrGetLength(ids)); ++i) {
        const t_lstr* part = parts.GetSegmentTrimmed(pool, i);
        const wchar_t* key = part ? pool.LstrToWide(part) : nullptr;
        if (!key || wcslen(key) > t_keyPyMap::kMaxKeyChars) continue;
        const int32_t row = map.FindKey(key, nullptr);
        if (row >= 0 && map.IncreaseUsage(row, LstrGetUnit(ids, uint32_t(i - 1)))) ++counted;
    }
    return counted;
}

int LearnSpellingCorrection(const wchar_t* typed, const wchar_t* corrected) {
    t_spellEdit edit;
    uint32_t at = 0;
    if (!typed || !corrected || !SpellEditClassify(typed, corrected, &edit, &at)) return 0;
    t_userSpellModelDict& model = t_singleton<t_userSpellModelDict>::Get();
    t_processLock::t_locker lock(GetDictLocker());
    if (edit.kind == kSpellEditInsDelSub) return model.AddInsDelSub(edit.a, edit.b, edit.c);
    if (edit.kind == kSpellEditXpos) return model.AddXpos(edit.a, edit.b, edit.c);
    return 0;
}

int AddCloudCacheHit(const wchar_t* key, const wchar_t* text) {
    t_scopeHeap pool;
    const t_lstr *k = key ? pool.WideToLstr(key) : nullptr, *t = Text16(pool, text);
    if (!k || !t) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    const int words = t_singleton<t_cloudCacheDict>::Get().IncreaseHit(k, t);
    const int longWords = t_singleton<t_cloudCacheDictLongWord>::Get().IncreaseHit(k, t);
    return words > 0 || longWords > 0 ? 1 : 0;
}

int32_t GetPrivilegeKeyCount() {
    return t_singleton<t_privilegeDictCore>::Get().GetKeyCount();
}

int ReloadKeymap() {
    t_processLock::t_locker lock(GetDictLocker());
    std::wstring notes;
    const bool rebuilt = ReloadKeymapFile(&notes);
    ReportKeyMapRebuild(rebuilt, notes);
    return rebuilt ? 1 : 0;
}

int CheckInfoKeywords(uint32_t length, const wchar_t* prefix, t_candWord* const* candidates,
                      int32_t count, int32_t* index, std::wstring& keyword) {
    if (index) *index = -1;
    keyword.clear();
    if (!candidates) return 0;
    t_infoKey& keys = t_singleton<t_infoKey>::Get();
    t_infoBlack& black = t_singleton<t_infoBlack>::Get();
    const std::wstring head = prefix ? prefix : L"";
    for (int32_t i = 0; i < count; ++i) {
        const t_candWord* w = candidates[i];
        if (!w || !w->text || !t_candWord::CoversAtLeast(w, length)) continue;
        t_scopeHeap pool;
        const wchar_t* word = pool.LstrToWide(w->text);
        const t_lstr* text = word ? Text16(pool, (head + word).c_str()) : nullptr;
        int found = 0;
        const t_lstr* item = nullptr;
        if (!text || !keys.Lookup(text, &found, &item) || !found || !item ||
            black.Contains(text, item))
            continue;
        const wchar_t* hit = pool.LstrToWide(item);
        if (!hit) continue;
        keyword = hit;
        if (index) *index = i;
        return 1;
    }
    return 0;
}

namespace {

bool Chosen(const std::vector<std::wstring>& firsts, const std::vector<std::wstring>& seconds,
            const wchar_t* a, const wchar_t* b) {
    for (size_t i = 0; i < firsts.size(); ++i)
        if ((WideEqualsNoCase(firsts[i].c_str(), a) && WideEqualsNoCase(seconds[i].c_str(), b)) ||
            (WideEqualsNoCase(firsts[i].c_str(), b) && WideEqualsNoCase(seconds[i].c_str(), a)))
            return true;
    return false;
}

}  // namespace

int WriteFuzzyPairs(const std::vector<std::wstring>& firsts,
                    const std::vector<std::wstring>& seconds) {
    if (firsts.size() > seconds.size()) return 0;
    t_pathName user, system;
    const wchar_t* userDir = GetConfiguredUserDir();
    if (!userDir[0] || !user.InitJoin(userDir, L"Fuzzy.dat")) return 0;
    const wchar_t* sysDir = GetConfiguredSysDir();
    if (sysDir[0]) system.InitJoin(sysDir, L"Fuzzy.dat");
    t_fuzzyConfig config;
    std::wstring messages;
    // Nothing readable: the chosen pairs alone make the new file.
    if (!config.Load(messages, system.GetFull(), user.GetFull())) config.Clear();
    for (int row = 0; row < t_fuzzyConfig::kBuiltinCount; ++row) {
        const wchar_t *a = t_fuzzyConfig::GetDefaultText(row, 0),
                      *b = t_fuzzyConfig::GetDefaultText(row, 1);
        if (!Chosen(firsts, seconds, a, b)) config.DisablePair(a, b);
    }
    std::vector<std::pair<std::wstring, std::wstring>> dropped;
    for (const t_pairRule* r = config.GetList(t_fuzzyConfig::kFuzzy); r; r = r->next)
        if (config.IsCustomPair(r->first.c_str(), r->second.c_str()) &&
            !Chosen(firsts, seconds, r->first.c_str(), r->second.c_str()))
            dropped.emplace_back(r->first, r->second);
    for (const auto& [a, b] : dropped) config.DisablePair(a.c_str(), b.c_str());
    for (size_t i = 0; i < firsts.size(); ++i) {
        const wchar_t *a = firsts[i].c_str(), *b = seconds[i].c_str();
        // Rules are read both ways: a pair given the other way round is the same pair.
        if (t_fuzzyConfig::FindDefaultPair(b, a) >= 0 ||
            (config.IsCustomPair(a, b) && config.IsFuzzyPair(b, a)))
            std::swap(a, b);
        if (!config.AddRule(a, b)) return 0;
    }
    return config.Save(user.GetFull()) ? 1 : 0;
}
