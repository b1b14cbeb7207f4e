// Fuzzy-sound rules: file, built-in pairs, switching and confirmations.
#include "kernel/lexicon/fuzzy_config.h"

#include <cwchar>

#include "kernel/lexicon/shuangpin.h"
#include "kernel/runtime/path.h"

namespace {

constexpr const wchar_t* kSections[t_fuzzyConfig::kListCount] = {L"Metadata", L"Fuzzy", L"Gray",
                                                                 L"Commit", L"PreCommit"};

constexpr const wchar_t* kBuiltins[t_fuzzyConfig::kBuiltinCount][2] = {
    {L"z", L"zh"},   {L"c", L"ch"},     {L"s", L"sh"},    {L"l", L"n"},
    {L"f", L"h"},    {L"r", L"l"},      {L"an", L"ang"},  {L"en", L"eng"},
    {L"in", L"ing"}, {L"ian", L"iang"}, {L"uan", L"uang"}};

bool IsFile(const wchar_t* path) {
    if (!path || !path[0]) return false;
    t_pathName p(path);
    return PathIsFile(p);
}

bool FitsRule(const wchar_t* text) {
    const size_t n = WideLengthBounded(text, t_fuzzyConfig::kMaxRuleChars);
    return n > 0 && n <= t_fuzzyConfig::kMaxRuleChars;
}

// The partner of text in rule (both ways, any case), or null.
const std::wstring* PartnerOf(const t_pairRule* rule, const wchar_t* text) {
    if (WideEqualsNoCase(rule->first.c_str(), text)) return &rule->second;
    if (WideEqualsNoCase(rule->second.c_str(), text)) return &rule->first;
    return nullptr;
}

}  // namespace

void t_fuzzyConfig::Clear() {
    for (t_pairList& list : m_lists) PairListFree(&list);
}

bool t_fuzzyConfig::Load(std::wstring& messages, const wchar_t* defaultPath,
                         const wchar_t* userPath) {
    if (IsFile(userPath) && ParseFile(messages, userPath, L"the data's fuzzy sounds are used"))
        return true;
    if (IsFile(defaultPath)) return ParseFile(messages, defaultPath, L"fuzzy sounds are off");
    return false;
}

bool t_fuzzyConfig::Parse(std::wstring& messages, const wchar_t* path) {
    return ParseFile(messages, path, nullptr);
}

bool t_fuzzyConfig::ParseFile(std::wstring& messages, const wchar_t* path,
                              const wchar_t* otherwise) {
    t_fileConfig ini;
    ini.AddSeparator(L"=>");
    if (!path || !ini.Load(path)) {
        NoteSchemeFile(messages, path, L"cannot be read", otherwise, ini);
        return false;
    }
    for (int i = 0; i < kListCount; ++i) {
        if (const t_fileConfig::t_section* section = ini.FindSection(kSections[i])) {
            PairListFillFromSection(*section, &m_lists[i]);
        }
    }
    const bool accepted = CheckVersion();
    NoteSchemeFile(messages, path, accepted ? L"" : L"its [Metadata] version is not 1", otherwise,
                   ini);
    return accepted;
}

bool t_fuzzyConfig::CheckVersion() {
    if (!m_lists[kMetadata]) return true;
    if (PairListFind(L"version", L"1", &m_lists[kMetadata], kPairMatchOneWay)) return true;
    Clear();
    return false;
}

bool t_fuzzyConfig::Save(const wchar_t* path) const {
    if (!path) return false;
    t_fileConfig ini;
    ini.AddSeparator(L"=>");
    for (int i = 0; i < kListCount; ++i) {
        const wchar_t* separator = i < kCommit ? L"=" : L"=>";
        if (!PairListWriteToSection(m_lists[i], kSections[i], ini, separator)) return false;
    }
    return ini.SaveAs(path);
}

bool t_fuzzyConfig::IsGrayPair(const wchar_t* a, const wchar_t* b) const {
    for (const t_pairRule* rule = m_lists[kGray]; rule; rule = rule->next) {
        if ((WideEqualsNoCase(rule->first.c_str(), a) &&
             WideEqualsNoCase(rule->second.c_str(), b)) ||
            (WideEqualsNoCase(rule->first.c_str(), b) &&
             WideEqualsNoCase(rule->second.c_str(), a))) {
            return true;
        }
    }
    return false;
}

int t_fuzzyConfig::GetFuzzyPartners(t_ruleSlot* slots, int max, const wchar_t* text) const {
    if (!slots || max <= 0 || !text || !text[0]) return 0;
    int count = 0;
    for (const t_pairRule* rule = m_lists[kFuzzy]; rule && count < max; rule = rule->next) {
        const std::wstring* partner = PartnerOf(rule, text);
        if (!partner || partner->empty() || partner->size() >= kRuleSlotChars) continue;
        if (IsGrayPair(text, partner->c_str())) continue;
        wmemcpy(slots[count], partner->c_str(), partner->size() + 1);
        ++count;
    }
    return count;
}

int t_fuzzyConfig::GetGrayPartners(t_ruleSlot* slots, int max, const wchar_t* text) const {
    return PairListCollectPartners(slots, max, text, m_lists[kGray]);
}

bool t_fuzzyConfig::IsFuzzyPair(const wchar_t* a, const wchar_t* b) const {
    if (!a || !b) return false;
    t_pairList list = m_lists[kFuzzy];
    return PairListFind(a, b, &list, kPairMatchOneWay) != nullptr;
}

int t_fuzzyConfig::FindDefaultPair(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return -1;
    for (int i = 0; i < kBuiltinCount; ++i) {
        if (WideEqualsNoCase(a, kBuiltins[i][0]) && WideEqualsNoCase(b, kBuiltins[i][1])) return i;
    }
    return -1;
}

const wchar_t* t_fuzzyConfig::GetDefaultText(int row, int column) {
    if (row < 0 || row >= kBuiltinCount || column < 0 || column > 1) return nullptr;
    return kBuiltins[row][column];
}

bool t_fuzzyConfig::EnablePair(const wchar_t* a, const wchar_t* b) {
    if (!FitsRule(a) || !FitsRule(b)) return false;
    if (FindDefaultPair(a, b) >= 0) {
        // The builder reads rules both ways, so a switched-off copy in either
        // order would keep the pair off.
        while (PairListRemove(a, b, &m_lists[kGray], kPairMatchOneWay)) {
        }
        while (PairListRemove(b, a, &m_lists[kGray], kPairMatchOneWay)) {
        }
    }
    PairListSet(a, b, &m_lists[kFuzzy], kPairMatchOneWay);
    return true;
}

void t_fuzzyConfig::DisablePair(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return;
    if (FindDefaultPair(a, b) >= 0)
        PairListSet(a, b, &m_lists[kGray], kPairMatchOneWay);
    else
        PairListRemove(a, b, &m_lists[kFuzzy], kPairMatchOneWay);
}

void t_fuzzyConfig::DeletePair(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return;
    if (FindDefaultPair(a, b) >= 0) {
        DisablePair(a, b);
        return;
    }
    if (!PairListRemove(a, b, &m_lists[kFuzzy], kPairMatchOneWay)) {
        PairListRemove(a, b, &m_lists[kCommit], kPairMatchOneWay);
    }
}

bool t_fuzzyConfig::AddRule(const wchar_t* a, const wchar_t* b) {
    if (!FitsRule(a) || !FitsRule(b)) return false;
    if (GetPairKind(a, b) == kFuzzyKindInvalid) return false;
    if (FindDefaultPair(a, b) >= 0) return EnablePair(a, b);
    return EnableByKind(a, b);
}

bool t_fuzzyConfig::EnableByKind(const wchar_t* a, const wchar_t* b) {
    if (!FitsRule(a) || !FitsRule(b)) return false;
    switch (GetPairKind(a, b)) {
        case kFuzzyKindParts:
            return EnablePair(a, b);
        case kFuzzyKindSyllables:
            PairListSet(a, b, &m_lists[kCommit], kPairMatchOneWay);
            return true;
        default:
            return false;
    }
}

int t_fuzzyConfig::GetPairKind(const wchar_t* a, const wchar_t* b) const {
    const int classB = ClassifyPinyinPart(b);
    if (classB == 0) return kFuzzyKindInvalid;
    const bool bSyllable = classB == 1 || classB == 3;
    if (!bSyllable) return kFuzzyKindParts;
    if (classB == 1) return kFuzzyKindSyllables;
    const int classA = ClassifyPinyinPart(a);
    const bool aSyllable = classA == 1 || classA == 3;
    const bool aFinal = classA == 2 || classA == 3;
    return (!aSyllable || aFinal) ? kFuzzyKindParts : kFuzzyKindSyllables;
}

t_pairRule** t_fuzzyConfig::FindPreCommit(const wchar_t* a, const wchar_t* b) {
    if (!a || !b || !b[0]) return nullptr;
    const size_t n = wcslen(b);
    for (t_pairRule** link = &m_lists[kPreCommit]; *link; link = &(*link)->next) {
        const t_pairRule* rule = *link;
        if (!WideEqualsNoCase(rule->first.c_str(), a)) continue;
        // The target must be b itself, not a longer syllable that begins with it.
        if (rule->second.compare(0, n, b) == 0 &&
            (rule->second.size() == n || rule->second[n] == L',')) {
            return link;
        }
    }
    return nullptr;
}

bool t_fuzzyConfig::AddPreCommit(const wchar_t* a, const wchar_t* b) {
    if (!FitsRule(a) || !FitsRule(b)) return false;
    if (GetPairKind(a, b) != kFuzzyKindSyllables) return false;
    t_pairRule** link = FindPreCommit(a, b);
    if (!link) {
        const std::wstring target = std::wstring(b) + L",1";
        PairListSet(a, target.c_str(), &m_lists[kPreCommit], kPairMatchOneWay);
        return true;
    }
    std::wstring& second = (*link)->second;
    const size_t comma = second.find(L',');
    if (comma == std::wstring::npos || comma + 1 >= second.size()) return true;
    const std::wstring countText = second.substr(comma + 1);
    if (countText != L"1" && countText != L"2") return true;
    const int count = countText[0] - L'0' + 1;
    second.resize(comma + 1);
    second += wchar_t(L'0' + count);
    if (count == 3) EnableByKind(a, b);
    return true;
}

int t_fuzzyConfig::RemovePreCommit(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return 1;
    const size_t n = wcslen(b);
    t_pairRule** link = FindPreCommit(a, b);
    for (; link && *link; link = &(*link)->next) {
        t_pairRule* rule = *link;
        const bool target =
            rule->second == b || (rule->second.compare(0, n, b) == 0 && rule->second.size() > n &&
                                  rule->second[n] == L',');
        if (rule->first == a && target) {
            *link = rule->next;
            delete rule;
            break;
        }
    }
    return 1;
}

bool t_fuzzyConfig::HasActiveRules() const {
    if (m_lists[kCommit]) return true;
    for (const t_pairRule* rule = m_lists[kFuzzy]; rule; rule = rule->next) {
        if (!IsGrayPair(rule->first.c_str(), rule->second.c_str())) return true;
    }
    return false;
}
