// Shared helpers of the user-dictionary tests.
#include "tests/kernel/userdict/usr_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <gtest/gtest.h>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_scramble.h"
#include "tests/support/crafted_usr_image.h"
#include "tests/support/test_dir.h"

TestLstr::TestLstr(const std::vector<uint16_t>& units) {
    m_buf.resize(2 + units.size() * 2);
    const uint16_t n = uint16_t(units.size() * 2);
    std::memcpy(m_buf.data(), &n, 2);
    if (!units.empty()) std::memcpy(m_buf.data() + 2, units.data(), units.size() * 2);
}

TestLstr TestLstr::Raw(std::initializer_list<uint8_t> bytes) {
    TestLstr s;
    s.m_buf.assign(bytes.begin(), bytes.end());
    return s;
}

TestLstr TestLstr::Text(const std::u16string& s) {
    return TestLstr(std::vector<uint16_t>(s.begin(), s.end()));
}

std::vector<uint16_t> TestLstr::Units() const {
    const uint32_t n = LstrGetLength(get());
    std::vector<uint16_t> out(n);
    for (uint32_t i = 0; i < n; ++i) out[i] = LstrGetUnit(get(), i);
    return out;
}

void PutU16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    std::memcpy(b.data() + at, &v, 2);
}
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    std::memcpy(b.data() + at, &v, 4);
}
void AppendU16(std::vector<uint8_t>& b, uint16_t v) {
    PutU16(b, b.size(), v);
}
void AppendU32(std::vector<uint8_t>& b, uint32_t v) {
    PutU32(b, b.size(), v);
}
void AppendUnits(std::vector<uint8_t>& b, const std::vector<uint16_t>& units) {
    AppendU16(b, uint16_t(units.size() * 2));
    for (uint16_t u : units) AppendU16(b, u);
}

void PutOldScrambledWord(std::vector<uint8_t>& image, size_t at, const std::vector<uint16_t>& word,
                         uint32_t a, uint32_t b, int32_t q) {
    const uint16_t k = OldImageWordKey(a, b, q);
    const int r = (q % 8) & 15;
    PutU16(image, at, uint16_t(word.size() * 2));
    for (size_t i = 0; i < word.size(); ++i) {
        const uint16_t x = uint16_t(word[i] ^ k);
        PutU16(image, at + 2 + 2 * i, r ? uint16_t((x << r) | (x >> (16 - r))) : x);
    }
}

std::vector<uint8_t> ValidV2Header(int32_t capA, int32_t capB, int32_t usedA, int32_t usedB) {
    std::vector<uint8_t> h(92, 0);
    PutU32(h, 0, 0x55449d55);
    PutU32(h, 4, uint32_t(capA));
    PutU32(h, 8, uint32_t(capB));
    PutU32(h, 12, 500);
    PutU32(h, 16, uint32_t(usedA));
    PutU32(h, 20, uint32_t(usedB));
    for (size_t at : {24, 28, 32, 36}) PutU32(h, at, 1);
    PutU32(h, 56, 168);
    PutU32(h, 60, 4200);
    const uint32_t o64 = uint32_t(capA) * 12 + 4232;
    const uint32_t o68 = o64 + uint32_t(capB) * 24 + 32;
    PutU32(h, 64, o64);
    PutU32(h, 68, o68);
    PutU32(h, 72, o68);
    PutU32(h, 76, o68 + 1000);
    PutU32(h, 80, o68 + 1000);
    return h;
}

std::vector<uint8_t> BuildV1File(const std::vector<OldWord>& words, uint32_t magic,
                                 uint32_t recordSize) {
    // Consecutive words of one reading form a group.
    std::vector<std::vector<const OldWord*>> groups;
    for (const OldWord& w : words) {
        if (groups.empty() || groups.back().front()->reading != w.reading) groups.emplace_back();
        groups.back().push_back(&w);
    }
    std::vector<uint8_t> f(44, 0);
    PutU32(f, 0, magic);
    PutU32(f, 20, uint32_t(groups.size()));
    PutU32(f, 24, uint32_t(groups.size()));
    PutU32(f, 40, recordSize);
    // Name table: two entries, the first with a name, the second without.
    AppendU32(f, 2);
    AppendU16(f, 0);
    AppendUnits(f, {'m', 'e'});
    AppendU16(f, 7);
    for (const auto& g : groups) {
        AppendU32(f, uint32_t(g.size()));
        AppendUnits(f, g.front()->reading);
        for (const OldWord* w : g) {
            AppendUnits(f, w->text);
            const size_t at = f.size();
            f.resize(at + recordSize, 0xEE);
            if (recordSize >= 2) PutU16(f, at, w->freq);
        }
    }
    return f;
}

std::vector<uint8_t> BuildV2File(const std::vector<OldWord>& words, bool scrambled) {
    std::map<std::vector<uint16_t>, std::vector<size_t>> byReading;
    std::vector<std::vector<uint16_t>> order;
    for (size_t i = 0; i < words.size(); ++i) {
        if (!byReading.count(words[i].reading)) order.push_back(words[i].reading);
        byReading[words[i].reading].push_back(i);
    }
    const uint32_t q = 11, o = 29;
    const uint32_t readingOff = 32 + 92;
    const uint32_t wordOff = readingOff + uint32_t(order.size()) * 12;
    const uint32_t textOff = wordOff + uint32_t(words.size()) * 24;
    std::vector<uint8_t> f(textOff, 0);
    std::vector<uint8_t> h =
        ValidV2Header(30000, 30000, int32_t(order.size()), int32_t(words.size()));
    std::memcpy(f.data() + 32, h.data(), h.size());
    PutU32(f, 92, readingOff);
    PutU32(f, 96, wordOff);
    PutU32(f, 116, q);
    PutU32(f, 120, o);
    uint32_t next = 0;  // word entries in reading order
    for (size_t r = 0; r < order.size(); ++r) {
        const auto& idx = byReading[order[r]];
        const uint32_t at = uint32_t(f.size());
        AppendUnits(f, order[r]);
        PutU32(f, readingOff + r * 12, at);
        PutU32(f, readingOff + r * 12 + 4, uint32_t(idx.size()));
        PutU32(f, readingOff + r * 12 + 8, next);
        for (size_t j = 0; j < idx.size(); ++j) {
            const OldWord& w = words[idx[j]];
            const uint32_t e = wordOff + (next + uint32_t(j)) * 24;
            const uint32_t a = uint32_t(w.freq) | (uint32_t(w.flags) << 16);
            const uint32_t textAt = uint32_t(f.size());
            if (scrambled) {
                PutOldScrambledWord(f, textAt, w.text, a, w.stamp, int32_t(q));
                PutU32(f, e, textAt ^ OldImageOffsetKey(a, w.stamp, int32_t(o)));
            } else {
                AppendUnits(f, w.text);
                PutU32(f, e, textAt);
            }
            PutU32(f, e + 4, j + 1 < idx.size() ? next + uint32_t(j) + 1 : 0xFFFFFFFFu);
            PutU16(f, e + 8, w.freq);
            PutU16(f, e + 10, w.flags);
            PutU32(f, e + 12, w.stamp);
            PutU16(f, e + 16, scrambled ? 1 : 0);
            PutU16(f, e + 18, w.extra);
        }
        next += uint32_t(idx.size());
    }
    PutU32(f, 108, uint32_t(f.size()));  // data bound
    PutU32(f, 112, uint32_t(f.size()));  // total
    return f;
}

TempDir::TempDir() {
    const std::string tmpl = testsupport::TempBase() + "/vetra_usr_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) m_path = buf.data();
}

TempDir::~TempDir() {
    if (m_path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

uint16_t SyllableId(const wchar_t* syllable) {
    return uint16_t(SyllableTableFind(syllable));
}

void WriteUsrDict(const std::string& path, const std::vector<UsrTestWord>& words) {
    t_usrDictV3Core d;
    ASSERT_TRUE(d.CreateEmpty(kUsrDefaultCapacity));
    for (const UsrTestWord& w : words)
        ASSERT_EQ(1, d.RestoreWord(TestLstr(w.reading).get(), TestLstr::Text(w.text).get(), w.freq,
                                   w.flags, w.stamp, w.extra));
    const std::wstring wpath(path.begin(), path.end());
    ASSERT_TRUE(d.SaveToFile(wpath.c_str(), 1));
}

std::vector<uint8_t> ImageOf(const t_usrDictV3Core& d) {
    const uint8_t* p = nullptr;
    uint64_t n = 0;
    if (!d.GetImageBytes(&p, &n)) return {};
    return std::vector<uint8_t>(p, p + n);
}

std::u16string Text(const t_lstr* s) {
    std::u16string out;
    for (uint16_t i = 0; i < LstrGetLength(s); ++i) out.push_back(char16_t(LstrGetUnit(s, i)));
    return out;
}

TestLstr BulkReading(uint32_t k) {
    return TestLstr({uint16_t(1 + k % 499), uint16_t(1 + k / 499 % 499), uint16_t(1 + k / 249001)});
}

TestLstr BulkText(uint32_t k) {
    return TestLstr({uint16_t(0x4E00 + k % 20000), uint16_t(0x4E00 + k / 20000)});
}

bool FillBulkWords(t_usrDictV3Core& d, uint32_t from, uint32_t to) {
    d.HoldTrims(true);
    bool ok = true;
    for (uint32_t k = from; k < to && ok; ++k)
        ok = d.RestoreWord(BulkReading(k).get(), BulkText(k).get(), uint16_t(3 + k % 5), 0, 3 + k,
                           0) == 1;
    d.HoldTrims(false);
    return ok;
}

std::vector<uint8_t> OversizedUsrImage(uint32_t words) {
    const std::vector<uint8_t> empty = CraftedUsrImage(words);
    t_usrDictV3Core crafted;
    if (empty.empty() || !crafted.AttachCopy(empty.data(), empty.size()) ||
        !FillBulkWords(crafted, 0, words))
        return {};
    return ImageOf(crafted);
}
