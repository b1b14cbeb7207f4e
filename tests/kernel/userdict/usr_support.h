// Shared helpers of the user-dictionary tests: length-prefixed test strings,
// little-endian writers and builders of older-format images.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "kernel/runtime/lstr.h"

class t_usrDictV3Core;

// A t_lstr in its own buffer.
class TestLstr {
public:
    explicit TestLstr(const std::vector<uint16_t>& units);
    TestLstr(std::initializer_list<uint16_t> units) : TestLstr(std::vector<uint16_t>(units)) {}
    // The exact bytes given (count included), for malformed strings.
    static TestLstr Raw(std::initializer_list<uint8_t> bytes);
    // Units of a UTF-16 literal.
    static TestLstr Text(const std::u16string& s);
    t_lstr* get() { return reinterpret_cast<t_lstr*>(m_buf.data()); }
    const t_lstr* get() const { return reinterpret_cast<const t_lstr*>(m_buf.data()); }
    std::vector<uint16_t> Units() const;
    const std::vector<uint8_t>& Bytes() const { return m_buf; }

private:
    TestLstr() = default;
    std::vector<uint8_t> m_buf;
};

// The units of a t_lstr as UTF-16 text.
std::u16string Text(const t_lstr* s);

void PutU16(std::vector<uint8_t>& b, size_t at, uint16_t v);
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v);
void AppendU16(std::vector<uint8_t>& b, uint16_t v);
void AppendU32(std::vector<uint8_t>& b, uint32_t v);
void AppendUnits(std::vector<uint8_t>& b, const std::vector<uint16_t>& units);  // count + units

// Writes a word scrambled the way older images store it at `at`.
void PutOldScrambledWord(std::vector<uint8_t>& image, size_t at, const std::vector<uint16_t>& word,
                         uint32_t a, uint32_t b, int32_t q);
// A format-3 header (the bytes from file offset 32) that passes the header check.
std::vector<uint8_t> ValidV2Header(int32_t capA, int32_t capB, int32_t usedA, int32_t usedB);

// One word of the test writers of older files.
struct OldWord {
    std::vector<uint16_t> reading;
    std::vector<uint16_t> text;
    uint16_t freq = 1;
    uint16_t flags = 0;
    uint32_t stamp = 2;
    uint16_t extra = 0;
};
// A format-1 file of the given groups (each: one reading, its words).
std::vector<uint8_t> BuildV1File(const std::vector<OldWord>& words, uint32_t magic = 0x55440101,
                                 uint32_t recordSize = 8);
// A format-3 file; the texts are scrambled with flag 1 when `scrambled`.
std::vector<uint8_t> BuildV2File(const std::vector<OldWord>& words, bool scrambled = true);

// Creates a fresh empty directory for one test and removes it afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }
    std::wstring wpath() const { return std::wstring(m_path.begin(), m_path.end()); }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    std::wstring WFile(const std::string& name) const {
        const std::string f = File(name);
        return std::wstring(f.begin(), f.end());
    }

private:
    std::string m_path;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// The id of a pinyin syllable of the syllable table.
uint16_t SyllableId(const wchar_t* syllable);

// One user word as the tests write it into a dictionary.
struct UsrTestWord {
    std::vector<uint16_t> reading;
    std::u16string text;
    uint16_t freq;
    uint16_t flags;
    uint32_t stamp;
    uint16_t extra = 0;
};
// Writes a user dictionary file holding the words (restored as given).
void WriteUsrDict(const std::string& path, const std::vector<UsrTestWord>& words);

// The attached image of a dictionary; empty when it has none.
std::vector<uint8_t> ImageOf(const t_usrDictV3Core& d);

// Word k of the large dictionaries (k below 2^31): a three-syllable reading
// and a two-character text, each pair its own.
TestLstr BulkReading(uint32_t k);
TestLstr BulkText(uint32_t k);
// Restores words [from, to) into d, word k used 3 + k % 5 times with stamp
// 3 + k; the store's trims are held while it fills (none of them is lost)
// and released after. False when one is refused.
bool FillBulkWords(t_usrDictV3Core& d, uint32_t from, uint32_t to);
// A crafted image (CraftedUsrImage) holding the bulk words [0, words);
// empty on failure.
std::vector<uint8_t> OversizedUsrImage(uint32_t words);
