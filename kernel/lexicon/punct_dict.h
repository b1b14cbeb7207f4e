// The punctuation map: "punctures.ini" parsed into a fixed image of 34
// records (key code, half-width text, full-width text) and looked up per key,
// with the alternation of paired quotes. One thread at a time (the kernel
// call's thread): the quote states change on lookups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kernel/runtime/dict_base.h"

// Decodes a text of lower-case letter pairs: each pair (c1, c2) is the byte
// (c1 - 'a') x 16 + (c2 - 'a') and the last byte is a check byte that makes
// the XOR of all bytes 0. Writes the bytes before the check byte to dest and
// returns their count; -1 for a null or odd text, fewer than 2 letters, any
// other character, a failed check, or more bytes than capacity (nothing is
// written past capacity).
int DecodeLetterPairs(const wchar_t* text, uint8_t* dest, size_t capacity);

class t_punctureDict : public t_dictStorageBase {
public:
    static constexpr uint32_t kRecordCount = 34;
    static constexpr uint32_t kTextUnits = 1024;  // per text, terminator included
    static constexpr uint32_t kRecordSize = 4 + 2 * kTextUnits * 4;  // 8196
    static constexpr uint32_t kImageSize = kRecordCount * kRecordSize;
    // Quote keys and the keys of their closing forms.
    static constexpr uint32_t kSingleQuote = 39, kSingleQuoteClose = 167;
    static constexpr uint32_t kDoubleQuote = 34, kDoubleQuoteClose = 162;
    // A double quote closes the previous one only within this time.
    static constexpr int64_t kQuotePairMs = 300000;

    // Parses the ini file (sections in name order; a section needs a key,
    // "ChHalf" and "ChFull" that decode to at least one byte each, texts of
    // at most 1023 characters) into the image and commits it. False when the
    // file cannot be read or the commit fails; a file with fewer than 34
    // usable sections still commits, and its Load then fails.
    bool LoadFromFile(const wchar_t* path) override;
    // From the last LoadFromFile: how many of the 34 marks the file gave
    // when it gave fewer, and its bytes that are no text.
    std::wstring LoadNote() const override { return m_loadNote; }
    // True only for a whole number of records of which exactly 34 carry
    // distinct non-zero keys with terminated texts; otherwise the map is
    // left empty.
    bool Load(void* data, int32_t size) override;

    // The half-width (fullWidth false) or full-width text of a key; null when
    // the key is not mapped or the map is not ready. With pairing, every
    // second apostrophe answers as key 167, and a double quote within 300 s
    // of an opening one answers as key 162 (and counts as closing).
    const wchar_t* GetPunctuation(uint32_t key, bool fullWidth, bool pairing);
    // The next double quote opens again.
    void ResetQuoteState();

private:
    struct t_record {
        wchar_t half[kTextUnits];
        wchar_t full[kTextUnits];
    };
    std::map<uint32_t, size_t> m_map;  // key -> index into m_records
    std::vector<t_record> m_records;
    std::wstring m_loadNote;
    uint8_t m_singleState = 0;
    uint8_t m_doubleState = 0;  // 1 after an opening double quote
    int64_t m_lastDoubleMs = 0;
};
