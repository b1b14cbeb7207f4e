// Dictionary and data-file operations of the entry API: thin functions over
// the dictionary singletons and the user dictionary's file operations.
// Engine thread only; file changes hold the inter-process dictionary lock.
#include "kernel/api/kernel_dict_ops.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <functional>
#include <string_view>
#include <vector>

#include "kernel/api/kernel_singletons.h"
#include "kernel/convert/input_strings.h"
#include "kernel/convert/phrase_time.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/lexicon/stroke_annex.h"
#include "kernel/runtime/change_count.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/deleted_words.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/phrase_dict.h"
#include "kernel/userdict/phrase_file.h"
#include "kernel/userdict/phrase_manager.h"
#include "kernel/userdict/upload_copies.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_text_io.h"

namespace {

t_abbrUsrDict& UsrPhrases() {
    return t_singleton<t_abbrUsrDict>::Get();
}

// name joined to the user directory; false when the directory is not set.
bool UserFile(const wchar_t* name, t_pathName& out) {
    const wchar_t* dir = GetConfiguredUserDir();
    return dir && *dir && out.InitJoin(dir, name);
}

// A phrase text (UTF-16 with surrogate pairs) as wide characters.
std::wstring PhraseText(t_scopeHeap& arena, const t_lstr* s) {
    std::wstring out;
    if (const uint32_t* cp = LstrToCodePoints(arena, s))
        for (; *cp; ++cp) out.push_back(wchar_t(*cp));
    return out;
}

template <class Item>
int32_t FillPhrases(t_scopeHeap& arena, Item** items, int32_t count, t_apiPhrase* out,
                    int32_t max) {
    int32_t n = 0;
    for (int32_t i = 0; i < count && n < max; ++i) {
        const Item* item = items[i];
        if (!item || !item->key || !item->phrase) continue;
        const wchar_t* key = arena.LstrToWide(item->key);
        if (!key) continue;
        out[n].key = key;
        out[n].phrase = PhraseText(arena, item->phrase);
        out[n].position = uint16_t(item->position);
        ++n;
    }
    return n;
}

// Both texts converted, or false.
bool PhraseArgs(t_scopeHeap& arena, const wchar_t* key, const wchar_t* phrase, const t_lstr** k,
                const t_lstr** p) {
    if (!key || !phrase) return false;
    *k = arena.WideToLstr(key);
    *p = WideToLstr16(arena, phrase);
    return *k && *p;
}

bool CopyOut(const t_pathName& path, wchar_t* out, int32_t capacity) {
    const size_t n = wcslen(path.GetFull());
    if (n >= size_t(capacity)) return false;
    wmemcpy(out, path.GetFull(), n + 1);
    return true;
}

int Changed(t_dictStorageBase& dict) {
    dict.IncreaseVersion();
    GetVersionManager().CheckUpdate2();
    return 1;
}

// Writes the live user phrases to their file through the manager (which
// first takes up a file another process saved). True when written, or when
// the dictionary is not attached (nothing to write).
bool SavePhrases(const t_pathName& image) {
    t_abbrUsrDict& live = UsrPhrases();
    if (!live.IsReady()) return true;
    const auto save = [&] { return live.SaveToFile(image.GetFull()) != 0; };
    t_dictEntry* entry = live.GetEntry();
    return entry && entry->manager ? entry->manager->SaveEntryWith(entry, save) : save();
}

// The phrase store saves itself: the manager's flush passes it over, so a
// change is saved at once or it would be gone at the next start.
uint8_t SavePhrasesAfter(bool changed) {
    t_pathName image;
    return changed && UserFile(kPhraseDictFile, image) && SavePhrases(image) ? 1 : 0;
}

bool ReadVersionInfo(t_dictVersionInfo* info) {
    info->setupText = GetInfoTitle();
    info->buildTime = GetBuildTimeText();
    // No re-attach here: the template is expanded inside a conversion that
    // still holds pointers into the attached data.
    t_sysDict& sys = GetSysDict();
    if (sys.IsReady()) {
        info->values[0] = sys.GetDate();
        if (const t_gramInfo* gram = sys.GetGram())
            info->values[1] = int32_t(gram->GetSecondWord());
    }
    t_sysBhBsh& annex = t_singleton<t_sysBhBsh>::Get();
    if (annex.IsReady()) info->values[2] = int32_t(annex.GetConfigValue());
    return true;
}

// The folders of the files the kernel keeps: the lock folder (a lock file
// replaced lets two processes of the user in at once) and the user
// directory (the live dictionaries, the key map, the version file). A
// backup written there would replace one of them.
bool IsOwnFolder(const t_pathName& target) {
    char locks[kPathBufBytes], user[kPathBufBytes];
    const wchar_t* userDir = GetConfiguredUserDir();
    return (GetUserDataDir(locks, sizeof locks) && PathIsWithinDir(target, locks)) ||
           (userDir && *userDir && t_pathName(userDir).ToBytes(user, sizeof user) &&
            PathIsWithinDir(target, user));
}

}  // namespace

int32_t GetSysPhraseCount() {
    t_abbrSysDict& dict = t_singleton<t_abbrSysDict>::Get();
    return dict.IsReady() ? int32_t(dict.GetPhraseCount()) : 0;
}

int32_t GetSysPhrases(t_apiPhrase* out, int32_t max) {
    if (!out || max < 1) return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_abbrPhraseEntry** items = nullptr;
    uint32_t count = 0;
    if (!t_singleton<t_abbrSysDict>::Get().GetAllPhrases(arena, &items, &count)) return 0;
    return FillPhrases(arena, items, int32_t(count), out, max);
}

int32_t GetUsrPhraseCount() {
    return int32_t(UsrPhrases().GetCount());
}

int32_t GetUsrPhrases(t_apiPhrase* out, int32_t max) {
    if (!out || max < 1) return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_phraseItem** items = nullptr;
    int count = 0;
    if (!UsrPhrases().GetVisibleItems(arena, &items, &count)) return 0;
    return FillPhrases(arena, items, count, out, max);
}

uint8_t AddUsrPhrase(const wchar_t* key, const wchar_t* phrase, uint16_t position) {
    // A phrase at place 0 is never offered, and a place beyond the phrases
    // file's would turn negative in the stored field: refused, not clamped.
    if (position < 1 || position > kPhrasePositionLimit) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr *k = nullptr, *p = nullptr;
    if (!PhraseArgs(arena, key, phrase, &k, &p)) return 0;
    return SavePhrasesAfter(UsrPhrases().AddItem(k, p, int16_t(position), kPhraseAdded) != 0);
}

uint8_t DeleteUsrPhrase(const wchar_t* key, const wchar_t* phrase, uint16_t position) {
    t_processLock::t_locker lock(GetDictLocker());
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr *k = nullptr, *p = nullptr;
    if (!PhraseArgs(arena, key, phrase, &k, &p)) return 0;
    return SavePhrasesAfter(UsrPhrases().MarkDeleted(k, p, int16_t(position)) != 0);
}

uint64_t ExportPhrasesFile(const wchar_t* target) {
    t_pathName image;
    if (!target || !*target || !UserFile(kPhraseDictFile, image)) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    // The file is written from the saved image: without this save the
    // phrases added since the last save would be missing from the export.
    if (!SavePhrases(image)) return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    return uint64_t(WritePhrasesFile(arena, image.GetFull(), target, false));
}

uint64_t ImportPhrasesFile(const wchar_t* source) {
    t_pathName image;
    if (!source || !*source || !UserFile(kPhraseDictFile, image)) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    t_phraseImporter importer;
    const int r = ImportPhrasesText(importer, image.GetFull(), source);
    GetVersionManager().CheckUpdate2();
    return uint64_t(r);
}

int ReplaceUsrPhrases(const t_apiPhrase* phrases, int32_t count) {
    t_pathName image;
    if (!phrases || count < 0 || !UserFile(kPhraseDictFile, image)) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    std::vector<t_phraseEntry> entries;
    entries.reserve(size_t(count));
    for (int32_t i = 0; i < count; ++i) {
        const t_lstr *k = nullptr, *p = nullptr;
        if (!PhraseArgs(arena, phrases[i].key.c_str(), phrases[i].phrase.c_str(), &k, &p)) return 0;
        entries.push_back({k, p, int16_t(phrases[i].position)});
    }
    t_phraseImporter importer;
    const int r = MergePhrasesIntoUsrDict(importer, image.GetFull(), entries.data(), count);
    GetVersionManager().CheckUpdate2();
    return r;
}

uint64_t ReplaceUsrDictSince(const wchar_t* path, int mode, int32_t* count, const uint64_t* since) {
    if (count) *count = 0;
    if (!path || !*path || (mode != 0 && mode != 1)) return 0;
    t_changeCount& changes = GetUsrDictChangeCount();
    t_processLock::t_locker order(changes.Lock());
    if (order.Refused() || (since && !changes.Unmoved(*since))) return 0;
    int n = 0;
    int r = 0;
    {
        t_processLock::t_locker lock(GetDictLocker());
        t_dictManager& manager = GetDictManager();
        t_processLock::t_locker files(manager.GetGlobalLocker());
        if (files.Refused()) return 0;
        // A restore re-attaches before it is counted: no change file is
        // taken in until the count tells which ones it ends.
        manager.HoldChangeFiles(mode == 1);
        r = LoadOrConvertUsrDict(path, &n, mode);
        manager.HoldChangeFiles(false);
        // A failure leaves everything as it was: nothing to count.
        if (r) CountUsrDictChange(mode == 1);
    }
    if (count) *count = r ? n : 0;
    return uint64_t(r);
}

void CountUsrDictChange(bool replaces) {
    GetUsrDictChangeCount().Add(replaces);
    if (replaces) GetDictManager().WordsReplaced(L"UsrDict");
}

void TakeUpUsrDictChanges() {
    if (GetUsrDictChangeCount().MovedSinceLastLook()) GetVersionManager().CheckUpdate2();
}

uint64_t OpenOrConvertUsrDict(const wchar_t* path, int32_t* count) {
    return ReplaceUsrDictSince(path, 0, count, nullptr);
}

uint64_t OpenOrConvertUsrDictMode1(const wchar_t* path) {
    return ReplaceUsrDictSince(path, 1, nullptr, nullptr);
}

uint64_t LoadTempUsrDict(const wchar_t* secondListPath, const wchar_t* listPath) {
    t_pathName dict;
    if (!listPath || !UserFile(kUsrDictFileName, dict)) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    const int r = ImportWordsIntoUsrDict(dict.GetFull(), listPath, secondListPath);
    if (r) Changed(GetUsrDictInstance());
    return uint64_t(r);
}

int32_t GetLetterIdOfChar(uint32_t ch) {
    t_pyDict& py = t_singleton<t_pyDict>::Get();
    return py.IsReady() ? py.GetLetterId(ch) : -1;
}

const t_lstr* GetSyllableSpelling(int32_t id) {
    if (id < INT16_MIN || id > INT16_MAX) return nullptr;
    return t_singleton<t_pyDict>::Get().GetSyllableString(int16_t(id));
}

int DeleteCandidateWord(const t_lstr* pinyin, const wchar_t* text) {
    if (!text || !*text) return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = arena.WideToLstr(text);
    if (!word) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    int ok = t_singleton<t_delWordDict>::Get().AddWord(word, uint32_t(time(nullptr))) ? 1 : 0;
    // An English word the user never used has nothing to remove.
    if (IsAsciiLetterString(text))
        t_singleton<t_engUsrDict>::Get().DeleteWord(word);
    else if (pinyin && !GetUsrDictInstance().DeleteWord(pinyin, word))
        ok = 0;
    return ok;
}

int IsWordDeleted(const wchar_t* text) {
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = text ? arena.WideToLstr(text) : nullptr;
    return word ? t_singleton<t_delWordDict>::Get().IsDeleted(word) : 0;
}

int MarkWordDeleted(const wchar_t* text) {
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = text ? arena.WideToLstr(text) : nullptr;
    if (!word) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    return t_singleton<t_delWordDict>::Get().AddWord(word, uint32_t(time(nullptr))) ? 1 : 0;
}

namespace {

int DeleteStoredString(const wchar_t* text, bool url) {
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const t_lstr* word = text ? arena.WideToLstr(text) : nullptr;
    if (!word) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    const int marked = t_singleton<t_delWordDict>::Get().AddWord(word, uint32_t(time(nullptr)));
    // A string the user never committed has nothing to remove.
    if (url)
        t_singleton<t_urlUsrDict>::Get().DeleteUrl(word);
    else
        t_singleton<t_engUsrDict>::Get().DeleteWord(word);
    return marked ? 1 : 0;
}

bool FuzzyPair(wchar_t a, wchar_t b) {
    const auto is = [&](wchar_t x, wchar_t y) { return (a == x && b == y) || (a == y && b == x); };
    return is(L'n', L'l') || is(L'h', L'f') || is(L'r', L'l');
}

}  // namespace

int DeleteEnglishWord(const wchar_t* text) {
    return DeleteStoredString(text, false);
}
int DeleteUrlWord(const wchar_t* text) {
    return DeleteStoredString(text, true);
}

int LearnFuzzyPair(const wchar_t* typed, const wchar_t* corrected) {
    if (!typed || !corrected) return 0;
    std::wstring_view a(typed), b(corrected);
    bool fuzzy = false;
    if (a.size() == b.size()) {
        size_t differ = 0, at = 0;
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i]) ++differ, at = i;
        fuzzy = differ == 1 && FuzzyPair(a[at], b[at]);
    } else {
        if (a.size() < b.size()) std::swap(a, b);
        if (a.size() == b.size() + 1) {
            size_t i = 0;
            while (i < b.size() && a[i] == b[i]) ++i;
            fuzzy = (a[i] == L'g' || a[i] == L'h') && a.substr(i + 1) == b.substr(i);
        }
    }
    if (!fuzzy) return 0;
    t_configurationImpl& config = GetConfiguration();
    config.SetInt(n_config::FuzzyPairCount, config.GetInt(n_config::FuzzyPairCount) + 1);
    return 1;
}

int CheckPinyinOfTextEx(const t_lstr* pinyin, const wchar_t* text, int* code) {
    int why = kReadingFits;
    const size_t n = text ? wcslen(text) : 0;
    if (!pinyin || !text)
        why = kReadingNullArgument;
    else if (n != LstrGetLength(pinyin))
        why = kReadingLengthMismatch;
    else if (n == 0)
        why = kReadingEmpty;
    t_pyDict& py = t_singleton<t_pyDict>::Get();
    const t_hzDict& hz = t_singleton<t_hzDict>::Get();
    for (size_t i = 0; why == kReadingFits && i < n; ++i) {
        const uint16_t id = LstrGetUnit(pinyin, i);
        const uint32_t ch = uint32_t(text[i]);
        if (id > 440) {
            why = kReadingIdTooLarge;
        } else if (const int32_t letter = py.GetLetterId(ch); letter >= 0) {
            if (letter != id) why = kReadingLetterMismatch;
        } else {
            uint16_t readings[16];
            const int count = hz.GetCharPinyinIds(ch, readings, 16);
            if (count <= 0)
                why = kReadingNoCharReadings;
            else if (std::find(readings, readings + count, id) == readings + count)
                why = kReadingNotAmongReadings;
        }
    }
    if (code) *code = why;
    return why == kReadingFits ? 1 : 0;
}

int CheckPinyinOfText(const t_lstr* pinyin, const wchar_t* text) {
    return CheckPinyinOfTextEx(pinyin, text, nullptr);
}

bool IdsToSpelling(const t_lstr* ids, std::wstring& out) {
    out.clear();
    if (!ids) return false;
    t_pyDict& py = t_singleton<t_pyDict>::Get();
    for (uint16_t i = 0; i < LstrGetLength(ids); ++i) {
        const t_lstr* s = py.GetSyllableString(int16_t(LstrGetUnit(ids, i)));
        if (!s) return false;
        if (i) out += L'\'';
        for (uint16_t u = 0; u < LstrGetLength(s); ++u) out += wchar_t(LstrGetUnit(s, u));
    }
    return true;
}

int GetUserWordTotal(int64_t* out) {
    if (!out) return 0;
    int32_t ext = 0;
    t_usrDictExtCore& extDict = t_singleton<t_usrDictExtCore>::Get();
    if (!extDict.IsReady() || !extDict.GetCount(&ext)) ext = 0;
    t_usrDictV3Core& user = GetUsrDictInstance();
    *out = int64_t(ext) + (user.IsLoaded() ? user.GetWordCount() : 0);
    return 1;
}

int ExportUsrDictToText(const wchar_t* dictPath, const wchar_t* textPath) {
    if (!dictPath || !textPath) return 0;
    t_processLock::t_locker lock(GetDictLocker());
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_usrWordRecords records;
    if (!CollectUsrDictWords(arena, dictPath, records)) return 0;
    return ExportUsrWordsToText(textPath, records);
}

namespace {

// The flag bit that marks the words of one list by its kind.
uint16_t MergeFlagBit(uint16_t kind, uint16_t subKind) {
    static const uint16_t bySubKind[7] = {2048, 64, 128, 256, 512, 1024, 64};
    return kind == 1 && subKind < 7 ? bySubKind[subKind] : 2048;
}

// Orders records by their size word, then reading, then word.
int CompareRecords(const UsrWordRecord* a, const UsrWordRecord* b) {
    if (a->size != b->size) return a->size < b->size ? -1 : 1;
    t_usrWordFields fa, fb;
    ReadUsrWordRecord(a, &fa);
    ReadUsrWordRecord(b, &fb);
    if (const int r = LstrCompare(fa.reading, fb.reading)) return r;
    return LstrCompare(fa.word, fb.word);
}

}  // namespace

uint64_t MergeUsrExtDictFile(const wchar_t (*paths)[kMergePathChars], const uint16_t* subKinds,
                             const uint16_t* kinds, int32_t count) {
    t_pathName ext;
    if (!paths || !subKinds || !kinds || count < 1 || !UserFile(L"qzim_usr_v3_ext.bin", ext))
        return 0;
    t_processLock::t_locker lock(GetDictLocker());
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_usrWordRecords all;
    for (int32_t i = 0; i < count; ++i) {
        // A buffer without its terminator would be read past its end.
        if (!wmemchr(paths[i], L'\0', kMergePathChars)) return 0;
        if (!ImportUsrWordsFromText(arena, paths[i], all, MergeFlagBit(kinds[i], subKinds[i])))
            return 0;
    }
    // Records whose fields do not lie inside them are left out before sorting.
    t_usrWordFields fields;
    all.erase(
        std::remove_if(all.begin(), all.end(),
                       [&](const UsrWordRecord* r) { return !ReadUsrWordRecord(r, &fields); }),
        all.end());
    std::stable_sort(all.begin(), all.end(), [](const UsrWordRecord* a, const UsrWordRecord* b) {
        return CompareRecords(a, b) < 0;
    });
    all.erase(std::unique(all.begin(), all.end(),
                          [](const UsrWordRecord* a, const UsrWordRecord* b) {
                              return CompareRecords(a, b) == 0;
                          }),
              all.end());
    int r = 0;
    {
        t_entryFileLock fileLock(t_singleton<t_usrDictExtCore>::Get());
        r = MergeUsrDictExtFile(ext.GetFull(), all);
    }
    if (r) Changed(t_singleton<t_usrDictExtCore>::Get());
    return uint64_t(r);
}

int32_t PrepareUsrDictUpload(wchar_t* baseOut, wchar_t* addedOut, int32_t capacity) {
    if (capacity < 1 || !baseOut || !addedOut) return -1;
    baseOut[0] = addedOut[0] = 0;
    t_pathName current, last, upload, base, added;
    if (!UserFile(kUsrDictFileName, current) || !UserFile(kLastUploadedName, last) ||
        !UserFile(kUploadCopyName, upload) || !UserFile(kUploadBaseName, base) ||
        !UserFile(kUploadAddedName, added))
        return -1;
    t_processLock::t_locker lock(GetDictLocker());
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const int32_t lastCount = GetUsrDictWordCount(last.GetFull(), 0);
    const bool sinceLast = lastCount >= kUploadWholeLimit;
    t_usrWordRecords fresh;
    int32_t n = 0;
    if (!sinceLast) {
        n = GetUsrDictWordCount(current.GetFull(), 0);
        if (n < 1) return 0;
    } else {
        if (!CollectNewUsrWords(arena, last.GetFull(), current.GetFull(), fresh)) return -1;
        n = int32_t(fresh.size());
        if (n == 0) return 0;
    }
    if (n >= kUploadWholeLimit) {
        if (!ConvertPtrToV3(added.GetFull(), fresh) || !PathCopyFile(current, base) ||
            !PathCopyFile(current, upload))
            return -1;
        if (!CopyOut(base, baseOut, capacity) || !CopyOut(added, addedOut, capacity)) {
            baseOut[0] = addedOut[0] = 0;
            return -1;
        }
        return 2;
    }
    const bool ok =
        sinceLast ? ConvertPtrToV3(added.GetFull(), fresh) : PathCopyFile(current, added);
    if (!ok || (!sinceLast && !PathCopyFile(current, upload))) return -1;
    return CopyOut(added, addedOut, capacity) ? 1 : -1;
}

uint64_t BackupUsrDictV3InSteps(const wchar_t* target, int32_t* status,
                                const std::function<void(const std::function<void()>&)>& locked,
                                const uint64_t* since) {
    if (status) *status = 0;
    t_pathName file, to;
    if (!target || !*target || !UserFile(kUsrDictFileName, file) || !to.InitFromString(target))
        return 0;
    // A regular file the user picked is replaced (through a temporary in its
    // folder); a FIFO, a device, a folder or a link there is left alone.
    struct stat st;
    char mb[kPathBufBytes];
    if (!to.ToBytes(mb, sizeof mb) || (lstat(mb, &st) == 0 && !S_ISREG(st.st_mode))) return 0;
    if (IsOwnFolder(to)) return 0;
    bool overtaken = false, saved = false, present = false, copied = false;
    std::vector<uint8_t> bytes;
    // Two steps: the caller's other work may run between them.
    locked([] { GetVersionManager().CheckUpdate2(); });
    locked([&] {
        // Checked and copied in one step against the other processes'
        // changes, which hold this lock while they write.
        t_changeCount& changes = GetUsrDictChangeCount();
        t_processLock::t_locker order(changes.Lock());
        overtaken = order.Refused() || (since && !changes.Unmoved(*since));
        if (overtaken) return;
        t_processLock::t_locker lock(GetDictLocker());
        t_usrDictV3Core& live = GetUsrDictInstance();
        t_entryFileLock fileLock(live);
        overtaken = fileLock.Refused();
        if (overtaken) return;
        // Only a learning not yet saved is written here, under the lock; the
        // copy is the file this save wrote, not another process's later one.
        saved = !live.HasUnsavedChanges() || SaveLiveUsrDict(live, file.GetFull());
        present = saved && PathIsFile(file);
        if (!present) return;
        t_fdFile in;
        const int64_t size = in.OpenPath(file, kOpenRead) ? in.GetSize() : -1;
        if (size < 0 || size > INT32_MAX) return;
        bytes.resize(size_t(size));
        copied = in.ReadExact(bytes.data(), bytes.size());
    });
    if (overtaken || !saved) return 0;
    if (!present) {
        if (status) *status = 2;
        return 1;
    }
    // A target on a file system that stops answering holds only this call.
    if (!copied || !DictWriteFileSafely(to, bytes.data(), bytes.size())) return 0;
    if (status) *status = 1;
    return 1;
}

uint64_t BackupUsrDictV3(const wchar_t* target, int32_t* status) {
    return BackupUsrDictV3InSteps(target, status,
                                  [](const std::function<void()>& step) { step(); });
}

void GetDictVersionValues(uint32_t* a, uint32_t* b, uint32_t* c) {
    GetVersionManager().CheckUpdate8();
    t_dictVersionInfo info;
    ReadVersionInfo(&info);
    if (a) *a = uint32_t(info.values[0]);
    if (b) *b = uint32_t(info.values[1]);
    if (c) *c = uint32_t(info.values[2]);
}

void InstallDictVersionSource() {
    SetDictVersionSource(&ReadVersionInfo);
}

int NotifyUsrDictV3Changed() {
    return Changed(GetUsrDictInstance());
}
int NotifyUsrDictExtChanged() {
    return Changed(t_singleton<t_usrDictExtCore>::Get());
}
int NotifyAbbrUsrDictChanged() {
    return Changed(UsrPhrases());
}
int NotifyExtDictChanged() {
    return Changed(GetExtDict());
}

void FreeRecordBuffers(t_quickInputRecord& record) {
    for (t_lstr*& text : record.texts) {
        free(text);
        text = nullptr;
    }
}

namespace {

// A malloc'd copy of s; null for null s.
t_lstr* MallocCopy(const t_lstr* s) {
    if (!s) return nullptr;
    const uint32_t n = LstrGetTotalBytes(s);
    void* copy = malloc(n);
    if (copy) memcpy(copy, s, n);
    return static_cast<t_lstr*>(copy);
}

}  // namespace

int32_t GetQuickInputList(int32_t page, uint16_t filter1, uint16_t filter2,
                          std::vector<t_quickInputRecord>& list) {
    for (t_quickInputRecord& record : list) FreeRecordBuffers(record);
    list.clear();
    if (page < 0 || page > 5) return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_quickCategoryEntry** entries = nullptr;
    uint32_t count = 0;
    const int32_t any = -1;
    if (!t_singleton<t_quickSysDict>::Get().ListByCategory(
            arena, uint32_t(page + 1), filter1 == 0xffff ? any : filter1,
            filter2 == 0xffff ? any : filter2, &entries, &count))
        return 0;
    std::vector<const t_lstr*> display(count, nullptr);
    for (uint32_t i = 0; i < count; ++i) {
        if (!entries[i]) continue;
        display[i] = entries[i]->texts[2];
        if (page + 1 != 4) continue;
        const wchar_t* text = display[i] ? arena.LstrToWide(display[i]) : nullptr;
        t_phraseTimeExpr expr;
        const wchar_t* expanded = text ? ExpandPhraseTimeExpr(expr, arena, text) : nullptr;
        display[i] = expanded ? WideToLstr16(arena, expanded) : nullptr;
        if (!display[i]) return 1;  // a template that expands to nothing empties the page
    }
    list.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const t_quickCategoryEntry* e = entries[i];
        if (!e) continue;
        t_quickInputRecord record;
        record.values[0] = uint16_t(e->category);
        record.values[1] = uint16_t(e->sub1);
        record.values[2] = uint16_t(e->sub2);
        record.texts[0] = MallocCopy(e->texts[0]);
        record.texts[1] = MallocCopy(e->texts[1]);
        record.texts[2] = MallocCopy(display[i]);
        list.push_back(record);
    }
    return 1;
}
