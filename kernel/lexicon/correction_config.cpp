// Spelling-correction rules: loading, saving, the built-in table and the
// variants the key-map builder asks for.
#include "kernel/lexicon/correction_config.h"

#include <cwchar>

#include "kernel/runtime/path.h"

namespace {

constexpr const wchar_t* kSection = L"Correction";
constexpr const wchar_t* kFileName = L"Correction.ini";

struct t_builtinRow {
    const wchar_t* correct;
    const wchar_t* wrong;
    const wchar_t* example;
    const wchar_t* mistyped;
};

constexpr t_builtinRow kBuiltins[t_correctionConfig::kBuiltinCount] = {
    {L"ng", L"gn", L"ling", L"lign"}, {L"ng", L"mg", L"hong", L"homg"},
    {L"iu", L"iou", L"qiu", L"qiou"}, {L"ui", L"uei", L"tui", L"tuei"},
    {L"un", L"uen", L"kun", L"kuen"},
};

bool IsFile(const wchar_t* path) {
    if (!path || !path[0]) return false;
    t_pathName p(path);
    return PathIsFile(p);
}

}  // namespace

bool ReplaceFirstText(wchar_t* out, size_t capacity, const wchar_t* text, const wchar_t* find,
                      const wchar_t* replacement) {
    if (!out || !text || !find || !find[0]) return false;
    if (!replacement) replacement = L"";
    const wchar_t* hit = wcsstr(text, find);
    if (!hit) return false;
    const size_t textLen = wcslen(text), findLen = wcslen(find), replLen = wcslen(replacement);
    if (textLen + replLen + 1 - findLen > capacity) return false;
    const size_t before = size_t(hit - text);
    wmemcpy(out, text, before);
    wmemcpy(out + before, replacement, replLen);
    const size_t after = textLen - before - findLen;
    wmemcpy(out + before + replLen, hit + findLen, after);
    out[before + replLen + after] = L'\0';
    return true;
}

bool t_correctionConfig::Load(std::wstring& messages, const wchar_t* systemPath,
                              const wchar_t* userPath) {
    if (IsFile(userPath) && LoadFileOr(messages, userPath, L"the data's rules are used"))
        return true;
    if (IsFile(systemPath))
        return LoadFileOr(messages, systemPath, L"no spelling-correction rules are used");
    return false;
}

bool t_correctionConfig::LoadFile(std::wstring& messages, const wchar_t* path) {
    return LoadFileOr(messages, path, nullptr);
}

bool t_correctionConfig::LoadFileOr(std::wstring& messages, const wchar_t* path,
                                    const wchar_t* otherwise) {
    t_fileConfig ini;
    if (!path || !ini.Load(path)) {
        NoteSchemeFile(messages, path, L"cannot be read", otherwise, ini);
        return false;
    }
    const t_fileConfig::t_section* section = ini.FindSection(kSection);
    NoteSchemeFile(messages, path, section ? L"" : L"no [Correction] section", otherwise, ini);
    if (!section) return false;
    PairListFillFromSection(*section, &m_rules.head);
    return true;
}

bool t_correctionConfig::Save(const wchar_t* directory) const {
    if (!directory) return false;
    t_fileConfig ini;
    if (!PairListWriteToSection(m_rules.head, kSection, ini, L"=")) return false;
    const std::wstring path = std::wstring(directory) + kFileName;
    return ini.SaveAs(path.c_str());
}

bool t_correctionConfig::Contains(const wchar_t* correct, const wchar_t* wrong) const {
    if (!correct || !wrong) return false;
    t_pairList head = m_rules.head;
    return PairListFind(correct, wrong, &head, kPairMatchOneWay) != nullptr;
}

bool t_correctionConfig::Enable(const wchar_t* a, const wchar_t* b) {
    if (!FindBuiltinPair(a, b, nullptr)) return false;
    PairListSet(a, b, &m_rules.head, kPairMatchOneWay);
    return true;
}

bool t_correctionConfig::Disable(const wchar_t* a, const wchar_t* b) {
    if (!FindBuiltinPair(a, b, nullptr)) return false;
    if (PairListRemove(a, b, &m_rules.head, kPairMatchOneWay)) return true;
    return PairListRemove(b, a, &m_rules.head, kPairMatchOneWay) != 0;
}

const wchar_t* t_correctionConfig::GetBuiltinText(int row, int column) {
    if (row < 0 || row >= kBuiltinCount || column < 0 || column > 1) return nullptr;
    return column == 0 ? kBuiltins[row].correct : kBuiltins[row].wrong;
}

const wchar_t* t_correctionConfig::GetBuiltinExample(int row, int column) {
    if (row < 0 || row >= kBuiltinCount || column < 0 || column > 1) return nullptr;
    return column == 0 ? kBuiltins[row].example : kBuiltins[row].mistyped;
}

bool t_correctionConfig::FindBuiltinPair(const wchar_t* a, const wchar_t* b, int* row) {
    if (!a || !b) return false;
    for (int i = 0; i < kBuiltinCount; ++i) {
        const t_builtinRow& r = kBuiltins[i];
        if ((WideEqualsNoCase(a, r.correct) && WideEqualsNoCase(b, r.wrong)) ||
            (WideEqualsNoCase(a, r.wrong) && WideEqualsNoCase(b, r.correct))) {
            if (row) *row = i;
            return true;
        }
    }
    return false;
}

int t_correctionConfig::Rewrite(t_ruleSlot* slots, int max, const wchar_t* text,
                                bool toWrong) const {
    if (!slots || max <= 0 || !text || !text[0]) return 0;
    int count = 0;
    for (const t_pairRule* rule = m_rules.head; rule && count < max; rule = rule->next) {
        const std::wstring& find = toWrong ? rule->first : rule->second;
        const std::wstring& put = toWrong ? rule->second : rule->first;
        if (find.empty() || put.empty()) continue;  // a rule with an empty side corrects nothing
        if (ReplaceFirstText(slots[count], kRuleSlotChars, text, find.c_str(), put.c_str()))
            ++count;
    }
    return count;
}

int t_correctionConfig::CorrectAll(t_ruleSlot* slots, int max, const wchar_t* text) const {
    return Rewrite(slots, max, text, false);
}

int t_correctionConfig::MistypeAll(t_ruleSlot* slots, int max, const wchar_t* text) const {
    return Rewrite(slots, max, text, true);
}
