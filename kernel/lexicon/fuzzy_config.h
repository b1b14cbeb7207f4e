// t_fuzzyConfig: the fuzzy-sound rules of the file "Fuzzy.dat": pairs that
// are on ("Fuzzy"), built-in pairs the user switched off ("Gray"), committed
// whole-syllable pairs ("Commit") and candidates that are committed once
// confirmed three times ("PreCommit"). A switched-off built-in pair stays
// out of ordinary fuzzy matching and is offered only in the smart-fuzzy pass.
// No lock: one thread at a time.
#pragma once

#include <string>

#include "kernel/lexicon/pair_rules.h"

// Kinds of a rule pair.
enum : int { kFuzzyKindInvalid = 0, kFuzzyKindParts = 3, kFuzzyKindSyllables = 4 };

class t_fuzzyConfig {
public:
    enum : int {
        kMetadata = 0,
        kFuzzy = 1,
        kGray = 2,
        kCommit = 3,
        kPreCommit = 4,
        kListCount = 5
    };
    static constexpr int kBuiltinCount = 11;
    // Longest text of a rule the operations accept (it must fit a slot).
    static constexpr size_t kMaxRuleChars = kRuleSlotChars - 1;

    t_fuzzyConfig() = default;
    ~t_fuzzyConfig() { Clear(); }
    t_fuzzyConfig(const t_fuzzyConfig&) = delete;
    t_fuzzyConfig& operator=(const t_fuzzyConfig&) = delete;

    void Clear();

    // Parses the user file when it is a regular file, else (or when that
    // fails) the default file. False when neither was accepted. Each file
    // refused or read with bytes that are no text adds one line naming it
    // to messages (with what follows: the data's file is used, or fuzzy
    // sounds are off).
    bool Load(std::wstring& messages, const wchar_t* defaultPath, const wchar_t* userPath);
    // Adds the sections of one file to the lists. False when it cannot be
    // read or its "Metadata" has entries but not version=1; a rejected
    // version empties all five lists. Either, and bytes that are no text,
    // add one line naming the file to messages.
    bool Parse(std::wstring& messages, const wchar_t* path);
    // Writes the non-empty lists into their sections ("=" for the first
    // three, "=>" for Commit and PreCommit), every rule on its own line. False
    // when the file could not be written (the old one is then kept).
    bool Save(const wchar_t* path) const;

    // Partners of text among the pairs that are on (both ways, any case),
    // leaving out pairs that are switched off in "Gray". At most max.
    int GetFuzzyPartners(t_ruleSlot* slots, int max, const wchar_t* text) const;
    // Partners of text in "Gray": the smart-fuzzy set. At most max.
    int GetGrayPartners(t_ruleSlot* slots, int max, const wchar_t* text) const;

    // (a, b) is in "Fuzzy" (one-way, exact).
    bool IsFuzzyPair(const wchar_t* a, const wchar_t* b) const;
    // (a, b) is not one of the built-in pairs (compared in the given order).
    bool IsCustomPair(const wchar_t* a, const wchar_t* b) const {
        return FindDefaultPair(a, b) < 0;
    }
    // Row of the built-in pair (a, b), any case, given order only; -1 if none.
    static int FindDefaultPair(const wchar_t* a, const wchar_t* b);
    static const wchar_t* GetDefaultText(int row, int column);

    // A built-in pair leaves "Gray" (in either order); then (a, b) is set in
    // "Fuzzy". False for a null, empty or over-long text.
    bool EnablePair(const wchar_t* a, const wchar_t* b);
    // A built-in pair is set in "Gray" (it stays in "Fuzzy"); any other pair
    // is removed from "Fuzzy".
    void DisablePair(const wchar_t* a, const wchar_t* b);
    // A built-in pair is disabled; another is removed from "Fuzzy" when it is
    // there, else from "Commit".
    void DeletePair(const wchar_t* a, const wchar_t* b);
    // Kind 0 and over-long texts are refused (false); a built-in pair is
    // enabled; any other goes by EnableByKind.
    bool AddRule(const wchar_t* a, const wchar_t* b);
    // Kind 3 enables the pair, kind 4 sets it in "Commit"; false otherwise.
    bool EnableByKind(const wchar_t* a, const wchar_t* b);
    int GetPairKind(const wchar_t* a, const wchar_t* b) const;
    bool IsSyllablePair(const wchar_t* a, const wchar_t* b) const {
        return GetPairKind(a, b) == kFuzzyKindSyllables;
    }

    // One confirmation of the whole-syllable pair (a, b): a new candidate
    // gets "b,1", a known one counts up to 3 and is then committed. False for
    // a pair that is not of kind 4 or an over-long text.
    bool AddPreCommit(const wchar_t* a, const wchar_t* b);
    // The "PreCommit" rule of a (any case) whose target is b, i.e. whose
    // second text is b or b followed by ",". The link to it, or null.
    t_pairRule** FindPreCommit(const wchar_t* a, const wchar_t* b);
    // Removes the candidate rule (a, b) (its second text b, or b with its
    // count). Returns 1.
    int RemovePreCommit(const wchar_t* a, const wchar_t* b);

    // "Fuzzy" holds a pair that is not switched off, or "Commit" a pair.
    bool HasActiveRules() const;

    t_pairList GetList(int list) const {
        return (list >= 0 && list < kListCount) ? m_lists[list] : nullptr;
    }
    t_pairList* MutableList(int list) {
        return (list >= 0 && list < kListCount) ? &m_lists[list] : nullptr;
    }

private:
    // Parse, its line ending with `otherwise` (what follows) when the file
    // is refused.
    bool ParseFile(std::wstring& messages, const wchar_t* path, const wchar_t* otherwise);
    bool CheckVersion();
    bool IsGrayPair(const wchar_t* a, const wchar_t* b) const;

    t_pairList m_lists[kListCount] = {};
};
