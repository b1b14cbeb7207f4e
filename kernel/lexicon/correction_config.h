// t_correctionConfig: the spelling-correction rules (correct text, wrong
// text), e.g. ng typed as gn, kept in the section "Correction" of the file
// "Correction.ini". Five built-in rules can be switched on and off.
// No lock: one thread at a time (the key-map builder, the kernel entry layer).
#pragma once

#include <cstddef>
#include <string>

#include "kernel/lexicon/pair_rules.h"

// out = text with the first occurrence of find replaced by replacement.
// False (out untouched) when find is null, empty or absent, or when the
// result with its terminator needs more than capacity characters.
bool ReplaceFirstText(wchar_t* out, size_t capacity, const wchar_t* text, const wchar_t* find,
                      const wchar_t* replacement);

class t_correctionConfig {
public:
    static constexpr int kBuiltinCount = 5;

    t_correctionConfig() = default;
    ~t_correctionConfig() = default;  // the list frees itself through Clear
    t_correctionConfig(const t_correctionConfig&) = delete;
    t_correctionConfig& operator=(const t_correctionConfig&) = delete;

    void Clear() { m_rules.Free(); }

    // Loads the user file when it exists, else (or when that fails) the
    // system file. False when neither gave rules. Each file refused or read
    // with bytes that are no text adds one line naming it to messages (with
    // what follows: the data's rules are used, or none are).
    bool Load(std::wstring& messages, const wchar_t* systemPath, const wchar_t* userPath);
    // Adds every line of section "Correction" as a rule (key = correct,
    // value = wrong), also several lines with one key. False when the file
    // cannot be read or has no such section; no rule is added then. Either,
    // and bytes that are no text, add one line naming the file to messages.
    bool LoadFile(std::wstring& messages, const wchar_t* path);
    // Writes the rules to directory + "Correction.ini" (directory ends with a
    // separator), replacing the file only once fully written. False when the
    // file could not be written (the old one is then kept).
    bool Save(const wchar_t* directory) const;

    // (correct, wrong) is a rule: one-way, exact.
    bool Contains(const wchar_t* correct, const wchar_t* wrong) const;
    // Only built-in pairs (either order, any case) are accepted; the pair is
    // stored as given. False for any other pair.
    bool Enable(const wchar_t* a, const wchar_t* b);
    // Only built-in pairs: removes (a, b), else (b, a). False when neither
    // was a rule or the pair is not built in.
    bool Disable(const wchar_t* a, const wchar_t* b);

    static int GetBuiltinCount() { return kBuiltinCount; }
    // Column 0 the correct text, 1 the wrong text; null outside the table.
    static const wchar_t* GetBuiltinText(int row, int column);
    // Column 0 an example syllable, 1 its mistyped spelling; null outside.
    static const wchar_t* GetBuiltinExample(int row, int column);
    // Whether a built-in row holds (a, b) in either order (any case);
    // *row, when given, receives it.
    static bool FindBuiltinPair(const wchar_t* a, const wchar_t* b, int* row);

    // Corrected variants of a typed text: for each rule from the front whose
    // wrong text occurs in text, text with it replaced by the correct text.
    // At most max variants (each fits a slot); 0 for a null or empty text.
    int CorrectAll(t_ruleSlot* slots, int max, const wchar_t* text) const;
    // The opposite direction, for building keys: for each rule whose correct
    // text occurs in a correct spelling, the spelling with it replaced by the
    // wrong text (ling gives lign). At most max variants.
    int MistypeAll(t_ruleSlot* slots, int max, const wchar_t* text) const;

    t_pairList GetRules() const { return m_rules.head; }
    bool IsEmpty() const { return !m_rules.head; }

private:
    // LoadFile, its line ending with `otherwise` (what follows) when the
    // file is refused.
    bool LoadFileOr(std::wstring& messages, const wchar_t* path, const wchar_t* otherwise);

    struct t_ownedList {
        t_pairList head = nullptr;
        ~t_ownedList() { Free(); }
        void Free() { PairListFree(&head); }
    };
    int Rewrite(t_ruleSlot* slots, int max, const wchar_t* text, bool toWrong) const;

    t_ownedList m_rules;
};
