// Shuangpin schemes and the pinyin classifiers.
#include "kernel/lexicon/shuangpin.h"

#include <cwchar>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/path.h"

namespace {

// Section of each list, in list order.
constexpr const wchar_t* kSections[t_spScheme::kListCount] = {L"metadata", L"声母", L"韵母",
                                                              L"零声母音节的韵母"};

constexpr const wchar_t* kFinals[] = {
    L"a",   L"ai",   L"an",  L"ang",  L"ao",  L"e",  L"ei",  L"en",  L"eng",  L"er",
    L"i",   L"ia",   L"ian", L"iang", L"iao", L"ie", L"in",  L"ing", L"iong", L"iou",
    L"iu",  L"o",    L"ong", L"ou",   L"u",   L"ua", L"uai", L"uan", L"uang", L"ue",
    L"uen", L"ueng", L"ui",  L"un",   L"uo",  L"v",  L"ve",  L"van", L"vn"};
static_assert(sizeof(kFinals) / sizeof(kFinals[0]) == 39);

constexpr const wchar_t* kZeroInitialFinals[] = {L"a",  L"ai", L"an",  L"ang", L"ao", L"e",
                                                 L"ei", L"en", L"eng", L"er",  L"o",  L"ou"};

bool IsVowelLetter(wchar_t c) {
    switch (c) {
        case L'a':
        case L'e':
        case L'i':
        case L'o':
        case L'u':
        case L'v':
        case L'A':
        case L'E':
        case L'I':
        case L'O':
        case L'U':
        case L'V':
            return true;
        default:
            return false;
    }
}

bool IsFile(const wchar_t* path) {
    if (!path || !path[0]) return false;
    t_pathName p(path);
    return PathIsFile(p);
}

template <size_t N>
bool InList(const wchar_t* const (&list)[N], const wchar_t* text) {
    for (const wchar_t* item : list) {
        if (WideEqualsNoCase(item, text)) return true;
    }
    return false;
}

}  // namespace

void t_spScheme::Clear() {
    for (t_pairList& list : m_lists) PairListFree(&list);
}

bool t_spScheme::Load(std::wstring& messages, const wchar_t* systemScheme,
                      const wchar_t* userScheme, const wchar_t* systemDefault,
                      const wchar_t* userDefault) {
    const wchar_t* first;
    const wchar_t* second;
    if (IsFile(systemScheme) || IsFile(userScheme)) {
        first = userScheme;
        second = systemScheme;
    } else if (IsFile(systemDefault) || IsFile(userDefault)) {
        first = userDefault;
        second = systemDefault;
    } else {
        return false;
    }
    auto fail = [&](const wchar_t* path) {
        messages += L"load";
        messages += path ? path : L"";
        messages += L"  failed.";
    };
    if (IsFile(first)) {
        if (LoadFile(messages, first)) return true;
        fail(first);
    }
    if (IsFile(second)) {
        if (LoadFile(messages, second)) return true;
        fail(second);
    }
    return false;
}

void t_spScheme::ApplyDefaults() {
    static constexpr const wchar_t* kConsonants = L"bcdfghjklmnpqrstwxyz";
    for (const wchar_t* c = kConsonants; *c; ++c) {
        const wchar_t spelling[2] = {*c, 0};
        const wchar_t keys[2] = {wchar_t(*c - L'a' + L'A'), 0};
        SetMapping(spelling, keys, 1);
    }
    for (const wchar_t* c = L"aeiou"; *c; ++c) {
        const wchar_t spelling[2] = {*c, 0};
        const wchar_t keys[2] = {wchar_t(*c - L'a' + L'A'), 0};
        SetMapping(spelling, keys, 2);
    }
}

bool t_spScheme::LoadFile(std::wstring& messages, const wchar_t* path) {
    t_fileConfig ini;
    if (!path || !ini.Load(path)) return false;
    NoteSchemeFile(messages, path, L"", nullptr, ini);
    ApplyDefaults();
    for (int i = 0; i < kListCount; ++i) {
        const t_fileConfig::t_section* section = ini.FindSection(kSections[i]);
        if (!section) continue;
        for (const auto& [key, record] : *section) {
            SetMapping(record->key, record->value ? record->value : L"", i);
        }
    }
    return true;
}

bool t_spScheme::Save(const wchar_t* path) const {
    if (!path) return false;
    t_fileConfig ini;
    for (int i = 0; i < kListCount; ++i) {
        if (!PairListWriteToSection(m_lists[i], kSections[i], ini, L"=")) return false;
    }
    return ini.SaveAs(path);
}

bool t_spScheme::GetMapping(wchar_t* out, size_t capacity, const wchar_t* spelling,
                            int kind) const {
    if (!out || !spelling || kind < kSpInitial || kind > kSpZeroInitialFinal) return false;
    t_pairList list = m_lists[kind + 1];
    t_pairRule** link = PairListFind(spelling, nullptr, &list, kPairMatchOneWay);
    if (!link) return false;
    const std::wstring& keys = (*link)->second;
    if (keys.size() + 1 > capacity) return false;
    for (size_t i = 0; i < keys.size(); ++i) {
        const wchar_t c = keys[i];
        out[i] = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
    }
    out[keys.size()] = L'\0';
    return true;
}

bool t_spScheme::SetMappingChecked(const wchar_t* spelling, const wchar_t* keys, int kind) {
    if (kind < kSpInitial || kind > kSpZeroInitialFinal || !spelling || !spelling[0]) return false;
    SetMapping(spelling, keys, kind + 1);
    return true;
}

void t_spScheme::SetMapping(const wchar_t* spelling, const wchar_t* keys, int list) {
    if (list < 0 || list >= kListCount || !spelling) return;
    if (t_pairRule** link = PairListFind(spelling, nullptr, &m_lists[list], kPairMatchOneWay)) {
        PairRuleSetSecond(*link, keys);
        return;
    }
    t_pairRule* rule = PairRuleConstruct(spelling, keys);
    rule->next = m_lists[list];
    m_lists[list] = rule;
}

bool IsPinyinInitial(const wchar_t* text) {
    if (!text || !text[0] || IsVowelLetter(text[0])) return false;
    if (!text[1]) return true;
    return (text[0] == L'c' || text[0] == L'z' || text[0] == L's') && text[1] == L'h' && !text[2];
}

bool IsRetroflexInitial(const wchar_t* text) {
    return text && (!wcscmp(text, L"zh") || !wcscmp(text, L"ch") || !wcscmp(text, L"sh"));
}

bool IsPinyinFinal(const wchar_t* text) {
    return text && IsVowelLetter(text[0]) && InList(kFinals, text);
}

bool IsZeroInitialFinal(const wchar_t* text) {
    return text && text[0] && InList(kZeroInitialFinals, text);
}

bool IsPinyinSyllable(const wchar_t* text) {
    const int id = SyllableTableFind(text);
    return id >= 0 && id < kSyllableCount;
}

int ClassifyPinyinPart(const wchar_t* text) {
    if (IsPinyinInitial(text)) return 4;
    return (IsPinyinFinal(text) ? 2 : 0) + (IsPinyinSyllable(text) ? 1 : 0);
}

bool SplitSyllable(wchar_t* initial, size_t initialCapacity, wchar_t* final, size_t finalCapacity,
                   const wchar_t* syllable) {
    if (!initial || !final || initialCapacity == 0 || finalCapacity == 0) return false;
    initial[0] = L'\0';
    final[0] = L'\0';
    if (!syllable || !syllable[0]) return false;
    size_t initialLen = 1;
    if (syllable[0] == L'a' || syllable[0] == L'e' || syllable[0] == L'o')
        initialLen = 0;
    else if (syllable[1] == L'h')
        initialLen = 2;
    const size_t finalLen = wcslen(syllable + initialLen);
    if (initialLen + 1 > initialCapacity || finalLen + 1 > finalCapacity) return false;
    wmemcpy(initial, syllable, initialLen);
    initial[initialLen] = L'\0';
    wmemcpy(final, syllable + initialLen, finalLen);
    final[finalLen] = L'\0';
    return true;
}
