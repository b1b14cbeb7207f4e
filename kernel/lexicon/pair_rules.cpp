// Rule lists of text pairs and their ini bridge.
#include "kernel/lexicon/pair_rules.h"

#include <cwchar>
#include <vector>

namespace {

wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
}

bool TextEquals(const std::wstring& s, const wchar_t* text) {
    return text && s == text;
}

// Copies text into a slot; false (slot untouched) when it does not fit.
bool CopyToSlot(t_ruleSlot& slot, const std::wstring& text) {
    if (text.size() >= kRuleSlotChars) return false;
    wmemcpy(slot, text.data(), text.size());
    slot[text.size()] = L'\0';
    return true;
}

}  // namespace

bool WideEqualsNoCase(const wchar_t* a, const wchar_t* b) {
    if (!a) a = L"";
    if (!b) b = L"";
    for (;; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b)) return false;
        if (!*a) return true;
    }
}

size_t WideLengthBounded(const wchar_t* text, size_t limit) {
    return text ? wcsnlen(text, limit + 1) : 0;
}

t_pairRule* PairRuleConstruct(const wchar_t* a, const wchar_t* b) {
    t_pairRule* rule = new t_pairRule;
    PairRuleSetFirst(rule, a);
    PairRuleSetSecond(rule, b);
    return rule;
}

void PairRuleInit(t_pairRule* rule) {
    if (!rule) return;
    PairRuleDestroy(rule);
    rule->next = nullptr;
}

void PairRuleDestroy(t_pairRule* rule) {
    if (!rule) return;
    rule->first.clear();
    rule->second.clear();
}

void PairRuleSetFirst(t_pairRule* rule, const wchar_t* text) {
    if (rule) rule->first.assign(text ? text : L"");
}

void PairRuleSetSecond(t_pairRule* rule, const wchar_t* text) {
    if (rule) rule->second.assign(text ? text : L"");
}

bool PairRuleMatches(const t_pairRule* rule, const wchar_t* a, const wchar_t* b) {
    if (!rule || (!a && !b)) return false;
    if (a && !TextEquals(rule->first, a)) return false;
    return !b || TextEquals(rule->second, b);
}

bool PairRuleMatchesMode(const t_pairRule* rule, const wchar_t* a, const wchar_t* b, int mode) {
    if (mode != kPairMatchTwoWay) return PairRuleMatches(rule, a, b);
    if (!rule || (!a && !b)) return false;
    if (a && b) {
        if (TextEquals(rule->first, a) && TextEquals(rule->second, b)) return true;
        if (TextEquals(rule->first, b) && TextEquals(rule->second, a)) return true;
        return TextEquals(rule->first, a) || TextEquals(rule->second, a);
    }
    const wchar_t* one = a ? a : b;
    return TextEquals(rule->first, one) || TextEquals(rule->second, one);
}

t_pairRule** PairListFind(const wchar_t* a, const wchar_t* b, t_pairList* list, int mode) {
    if (!list) return nullptr;
    for (t_pairRule** link = list; *link; link = &(*link)->next) {
        if (PairRuleMatchesMode(*link, a, b, mode)) return link;
    }
    return nullptr;
}

int PairListRemove(const wchar_t* a, const wchar_t* b, t_pairList* list, int mode) {
    t_pairRule** link = PairListFind(a, b, list, mode);
    if (!link) return 0;
    t_pairRule* gone = *link;
    *link = gone->next;
    delete gone;
    return 1;
}

int PairListSet(const wchar_t* a, const wchar_t* b, t_pairList* list, int mode) {
    if (!list) return 1;
    if (t_pairRule** link = PairListFind(a, b, list, mode)) {
        PairRuleSetFirst(*link, a);
        PairRuleSetSecond(*link, b);
        return 1;
    }
    t_pairRule* rule = PairRuleConstruct(a, b);
    rule->next = *list;
    *list = rule;
    return 1;
}

int PairListCollectPartners(t_ruleSlot* slots, int max, const wchar_t* text, t_pairList list) {
    if (!slots || max <= 0 || !text || !text[0]) return 0;
    int count = 0;
    for (const t_pairRule* rule = list; rule && count < max; rule = rule->next) {
        const std::wstring* partner = nullptr;
        if (WideEqualsNoCase(rule->first.c_str(), text))
            partner = &rule->second;
        else if (WideEqualsNoCase(rule->second.c_str(), text))
            partner = &rule->first;
        if (partner && !partner->empty() && CopyToSlot(slots[count], *partner)) ++count;
    }
    return count;
}

void PairListFree(t_pairList* list) {
    if (!list) return;
    while (t_pairRule* rule = *list) {
        *list = rule->next;
        delete rule;
    }
}

size_t PairListCount(t_pairList list) {
    size_t n = 0;
    for (; list; list = list->next) ++n;
    return n;
}

void NoteSchemeFile(std::wstring& messages, const wchar_t* path, const std::wstring& problem,
                    const wchar_t* consequence, const t_fileConfig& ini) {
    const std::wstring& undecodable = ini.UndecodableNote();
    if (problem.empty() && undecodable.empty()) return;
    messages += path ? path : L"";
    messages += L": ";
    if (!problem.empty()) {
        messages += problem;
        if (consequence && *consequence) messages.append(L", ").append(consequence);
        if (!undecodable.empty()) messages += L"; ";
    }
    messages += undecodable;
    messages += L'\n';
}

void PairListFillFromSection(const t_fileConfig::t_section& section, t_pairList* list) {
    for (const auto& [key, record] : section) {
        PairListSet(record->key, record->value ? record->value : L"", list, kPairMatchOneWay);
    }
}

bool PairListWriteToSection(t_pairList list, const wchar_t* section, t_fileConfig& ini,
                            const wchar_t* separator) {
    std::vector<const t_pairRule*> rules;
    for (const t_pairRule* rule = list; rule; rule = rule->next) rules.push_back(rule);
    bool ok = true;
    for (auto it = rules.rbegin(); it != rules.rend(); ++it) {
        if (!ini.AddValue(section, (*it)->first.c_str(), (*it)->second.c_str(), separator))
            ok = false;
    }
    return ok;
}
