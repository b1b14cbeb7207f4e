// t_pyDict: the pinyin syllable dictionary (qzim_py.bin). It owns the
// PinyinId numbering (syllables, then the letters A..Z), turns texts into ids
// and back, and carries syllable costs, syllable-pair costs and the two
// letter-model priors of the spelling corrector.
// One thread at a time (the kernel's dictionary lock); every lookup answers
// its not-ready value (-1, null or 0) until an image is attached.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kernel/runtime/dict_base.h"
#include "kernel/storage/table_file.h"

struct t_lstr;
struct t_keyDesc;
struct t_attriDesc;

class t_pyDict : public t_dictStorageBase {
public:
    static constexpr uint32_t kFormatVersion = 20140219;
    static constexpr int32_t kSyllables = 413;  // the syllable bucket must hold exactly this many
    static constexpr int32_t kLetters = 26;
    static constexpr int32_t kTrigramKeys = 27 * 27 * 27;
    static constexpr int32_t kXposKeys = 26 * 26 * 27;
    // Bucket counts of the five key tables.
    static constexpr int32_t kBuckets[5] = {2, kSyllables, kSyllables* kSyllables, kTrigramKeys,
                                            kXposKeys};

    t_pyDict();
    ~t_pyDict() override;

    // Attaches the image; the result is also the ready flag. False for a null
    // image, an image of another layout, or one whose syllable bucket does not
    // hold exactly 413 syllables and whose letter bucket not the 26 letters.
    bool Load(void* data, int32_t size) override;

    // Bucket of a key text of table 0: 0 for a lower-case first unit, 1 for
    // an upper-case one, -1 otherwise.
    static int SyllableHash(const t_lstr* key);
    static int SyllableCompare(const t_lstr* a, const t_lstr* b);
    // Descriptors of the image, shared with its writer.
    static void Describe(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
                         std::vector<uint32_t>& datas);

    // -1 when not ready, for null, empty or texts of more than 10 characters,
    // and for unknown texts.
    int32_t GetSyllableId(const wchar_t* text) const;
    int32_t GetLetterId(uint32_t ch) const;
    // The stored text of an id (upper-case letter for a letter id); null when
    // out of range or not ready.
    const t_lstr* GetSyllableString(int16_t id) const;
    int32_t GetIdCount() const;
    int32_t GetSyllableCount() const;
    bool IsSyllableId(int16_t id) const;
    bool IsLetterId(int16_t id) const;
    // Over a length-prefixed id list; an empty list gives true and false.
    bool AreAllLetterIds(const t_lstr* ids) const;
    bool HasLetterId(const t_lstr* ids) const;
    // out[0] = byte count, out[1..] = letter ids; the caller gives room for
    // 1 + length units. 0 at the first character that is not a letter.
    int LettersToIds(const t_lstr* letters, uint16_t* out) const;

    uint16_t GetSyllableValue(int16_t id) const;
    // 0 unless both ids are syllables (a letter id would alias another pair).
    uint16_t GetSyllablePairValue(int16_t id1, int16_t id2) const;
    // Stored byte x 5; 0 for a missing row or a character that is neither a
    // lower-case letter nor '~'.
    int32_t GetLetterTrigramValue(uint32_t a, uint32_t b, uint32_t c) const;
    int32_t GetLetterXposValue(uint32_t a, uint32_t b, uint32_t c) const;

private:
    const uint8_t* DigitRow(int k, int32_t key) const;

    struct t_freeMemo {
        void operator()(uint32_t* p) const;
    };

    t_tableFile m_table;
    // Pair values already looked up (0: not yet, else value + 1): the
    // spelling corrector prices every variant's syllable paths with them.
    // Zeroed pages, so only the pairs in use take memory.
    mutable std::unique_ptr<uint32_t[], t_freeMemo> m_pairMemo;
    int32_t m_syllables = 0;
    int32_t m_letters = 0;
    int32_t m_letterStart = 0;  // first-row offset of the letter bucket
};
