// The user's spelling model: counts of the typing slips this user made
// (insertions, deletions and substitutions of one letter, and swaps of two),
// with their left context, and the costs the spelling corrector derives from
// them. Also the classifier that finds the slip between a typed text and its
// correction. Runs on the thread of the kernel call, under the kernel's
// dictionary lock; the classifier has no state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/dict_base.h"

// Edit kinds of t_spellEdit.
enum : uint32_t {
    kSpellEditNothing = 0,
    kSpellEditInsDelSub = 1,
    kSpellEditXpos = 2,
};

// One classified slip. For an insertion, deletion or substitution a is the
// typed letter and b the correct one ('~' for the missing side); for a swap a
// and b are the two letters as typed. c is the letter before the slip, '~'
// at the start of the input.
struct t_spellEdit {
    uint32_t kind;
    uint32_t a;
    uint32_t b;
    uint32_t c;
};

// "nothing", "InsDelSub" or "Xpos"; "nothing" for an unknown kind.
const wchar_t* SpellEditKindName(uint32_t kind);

// Finds the first difference of typed and corrected (each at least two
// characters) and classifies it. out and position are cleared first; true
// with the edit and the position of the difference when one countable slip
// was found; false for equal texts, apostrophes around the difference,
// differences that are no single slip, and letters outside 'a'..'z'.
bool SpellEditClassify(const wchar_t* typed, const wchar_t* corrected, t_spellEdit* out,
                       uint32_t* position);

class t_userSpellModelDict : public t_dictStorageBase {
public:
    static constexpr uint32_t kMagic = 20110714;
    static constexpr int32_t kImageSize = 78692;
    static constexpr int kNoData = 200;  // cost without data

    // Table offsets and sizes (u16 counters).
    static constexpr size_t kEditBigramOffset = 12;
    static constexpr size_t kEditBigramCount = 27 * 27;
    static constexpr size_t kEditTrigramOffset = 1470;
    static constexpr size_t kEditTrigramCount = 27 * 27 * 27;
    static constexpr size_t kXposBigramOffset = 40836;
    static constexpr size_t kXposBigramCount = 26 * 26;
    static constexpr size_t kXposTrigramOffset = 42188;
    static constexpr size_t kXposTrigramCount = 26 * 26 * 27;

    // Attaches the image when it is a valid model (IsValidImage); otherwise
    // the view is cleared and false returned, so that the dictionary manager
    // sets the file aside and a fresh default model is built.
    bool Load(void* data, int32_t size) override;
    // Builds the default model (no counts) and commits it; false when it
    // could not be committed.
    bool Save(const void* data, int32_t size) override;

    // Costs of an edit of each kind from the user's counts: 200 without data.
    int GetInsDelSubScore(uint32_t a, uint32_t b, uint32_t c) const;
    int GetXposScore(uint32_t a, uint32_t b, uint32_t c) const;
    // Counts one edit; 0 when not attached, 1 after counting (letters outside
    // the tables count nothing).
    int AddInsDelSub(uint32_t a, uint32_t b, uint32_t c);
    int AddXpos(uint32_t a, uint32_t b, uint32_t c);

    // Magic 20110714, size at least kImageSize, total and non-zero count
    // not negative.
    static bool IsValidImage(const void* data, int64_t size);
    static int32_t GetImageSize() { return kImageSize; }
    // The default image: zeros with the magic (kImageSize bytes).
    static void MakeDefaultImage(uint8_t* out);

    int32_t GetTotal() const;
    int32_t GetNonZeroCount() const;

private:
    void Clear();
    int Cost(const uint8_t* bigrams, size_t bigramIndex, bool bigramOk, const uint8_t* trigrams,
             size_t trigramIndex, bool trigramOk) const;
    void Count(uint8_t* bigrams, size_t bigramIndex, uint8_t* trigrams, size_t trigramIndex);

    uint8_t* m_image = nullptr;
    uint8_t* m_editBigrams = nullptr;
    uint8_t* m_editTrigrams = nullptr;
    uint8_t* m_xposBigrams = nullptr;
    uint8_t* m_xposTrigrams = nullptr;
};
