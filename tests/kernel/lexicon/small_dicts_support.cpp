// Helpers of the string, cell, privilege and small-dictionary tests.
#include "tests/kernel/lexicon/small_dicts_support.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "kernel/lexicon/cell_dict.h"
#include "kernel/storage/table_builder.h"
#include "tests/support/test_dir.h"

namespace fs = std::filesystem;

namespace dicttest {

Bytes U(const std::u16string& text) {
    Bytes b(2 + 2 * text.size());
    const uint16_t n = uint16_t(2 * text.size());
    std::memcpy(b.data(), &n, 2);
    std::memcpy(b.data() + 2, text.data(), 2 * text.size());
    return b;
}

std::u16string Text(const t_lstr* s) {
    std::u16string out;
    for (uint32_t i = 0; i < LstrGetLength(s); ++i) out.push_back(char16_t(LstrGetUnit(s, i)));
    return out;
}

t_fields& t_fields::S(const std::u16string& text) {
    const int16_t n = int16_t(2 * text.size());
    Raw(&n, 2);
    return Raw(text.data(), 2 * text.size());
}

t_fields& t_fields::Raw(const void* p, size_t n) {
    const size_t at = m_bytes.size();
    m_bytes.resize(at + n);
    if (n > 0) std::memcpy(m_bytes.data() + at, p, n);
    return *this;
}

Bytes t_fields::Packed() const {
    Bytes b(4 + m_bytes.size());
    const uint32_t n = uint32_t(m_bytes.size());
    std::memcpy(b.data(), &n, 4);
    if (!m_bytes.empty()) std::memcpy(b.data() + 4, m_bytes.data(), m_bytes.size());
    return b;
}

Bytes BuildImage(t_systemTable which, const std::vector<std::vector<t_fields>>& items) {
    const t_systemTableLayout layout = SystemTableLayout(which);
    t_tableFileBuilder builder;
    EXPECT_TRUE(builder.InitStoreWithBuckets(layout.keys, layout.attris, layout.datas,
                                             layout.version, layout.version, {}, layout.compares,
                                             layout.buckets))
        << (builder.GetLastError() ? builder.GetLastError() : "");
    for (size_t k = 0; k < items.size(); ++k)
        for (const t_fields& f : items[k]) {
            const Bytes packed = f.Packed();
            EXPECT_EQ(1, builder.InsertOne(packed.data(), int(k)));
        }
    Bytes image;
    EXPECT_TRUE(builder.BuildPlainImage(image));
    return image;
}

namespace {

class t_writer {
public:
    size_t Here() const { return bytes.size(); }
    void U8(uint8_t v) { bytes.push_back(v); }
    void Put(const void* p, size_t n) {
        const size_t at = bytes.size();
        bytes.resize(at + n);
        if (n) std::memcpy(bytes.data() + at, p, n);
    }
    void U16(uint16_t v) { Put(&v, 2); }
    void U32(uint32_t v) { Put(&v, 4); }
    void U64(uint64_t v) { Put(&v, 8); }
    void Str(const std::vector<uint16_t>& units) {
        U16(uint16_t(2 * units.size()));
        Put(units.data(), 2 * units.size());
    }
    void Str(const std::u16string& s) { Str(std::vector<uint16_t>(s.begin(), s.end())); }
    void Set32(size_t at, uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); }
    Bytes bytes;
};

static uint64_t Sig(const std::vector<uint16_t>& key) {
    return key.size() >= 2 ? uint64_t(1) << (key[1] & 63) : 1;
}

}  // namespace

Bytes BuildCellImage(std::vector<t_cellWord> words, const std::vector<t_cellName>& cells,
                     uint32_t buckets) {
    std::stable_sort(words.begin(), words.end(),
                     [](const t_cellWord& a, const t_cellWord& b) { return a.key < b.key; });
    std::vector<std::pair<std::vector<uint16_t>, std::vector<size_t>>> items;
    for (size_t i = 0; i < words.size(); ++i) {
        if (items.empty() || items.back().first != words[i].key)
            items.push_back({words[i].key, {}});
        items.back().second.push_back(i);
    }
    t_writer w;
    w.bytes.assign(64, 0);
    if (!cells.empty()) {
        w.U32(t_extDict::kTagExtension);
        const size_t areaWord = w.Here();
        w.U32(0);
        w.U32(0);
        const size_t area = w.Here();
        w.U32(0);  // a chunk of another kind first
        w.U32(0x41414141);
        w.Set32(area, 4);
        const size_t chunk = w.Here();
        w.U32(0);
        w.U32(t_extDict::kTagCellList);
        w.U32(uint32_t(cells.size()));
        for (const t_cellName& c : cells) {
            std::u16string number = c.number, name = c.name;
            number.resize(32, u'\0');
            name.resize(260, u'\0');
            w.Put(number.data(), 64);
            w.Put(name.data(), 520);
        }
        w.Set32(chunk, uint32_t(w.Here() - chunk - 4));
        w.Set32(areaWord, uint32_t(area));
        w.Set32(areaWord + 4, uint32_t(w.Here() - area));
    }
    uint32_t h[16] = {};
    h[1] = buckets;
    h[2] = uint32_t(items.size());

    // Keys, words and info first, so that offsets are known.
    Bytes keyArea, wordArea, infoArea;
    std::vector<uint32_t> keyOffsets, wordOffsets, infoOffsets;
    {
        t_writer k, t, f;
        for (const auto& it : items) {
            keyOffsets.push_back(uint32_t(k.Here()));
            k.Str(it.first);
        }
        for (const t_cellWord& cw : words) {
            wordOffsets.push_back(uint32_t(t.Here()));
            t.Str(cw.word);
            infoOffsets.push_back(uint32_t(f.Here()));
            f.U16(uint16_t(4 * cw.codes.size()));
            for (uint32_t c : cw.codes) f.U32(c);
        }
        keyArea = k.bytes;
        wordArea = t.bytes;
        infoArea = f.bytes;
    }
    h[6] = uint32_t(w.Here());
    for (uint32_t b = 0; b < buckets; ++b) {
        uint32_t first = uint32_t(items.size());
        uint64_t mask = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i].first[0] == b) {
                first = std::min(first, uint32_t(i));
                mask |= Sig(items[i].first);
            } else if (items[i].first[0] > b) {
                first = std::min(first, uint32_t(i));
            }
        }
        w.U32(first);
        w.U64(mask);
    }
    h[7] = uint32_t(w.Here());
    uint32_t record = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        w.U32(keyOffsets[i]);
        w.U32(record);
        w.U32(uint32_t(items[i].second.size()));
        record += uint32_t(items[i].second.size());
    }
    h[8] = uint32_t(w.Here());
    for (const auto& it : items)
        for (size_t idx : it.second) {
            const t_cellWord& cw = words[idx];
            t_cellRecord r{
                int32_t(wordOffsets[idx]), int32_t(infoOffsets[idx]), 0, cw.frequency, 7, cw.power};
            w.Put(&r, sizeof r);
        }
    h[10] = uint32_t(w.Here());
    w.Put(keyArea.data(), keyArea.size());
    h[11] = uint32_t(w.Here());
    w.Put(wordArea.data(), wordArea.size());
    h[12] = uint32_t(w.Here());
    w.Put(infoArea.data(), infoArea.size());
    h[13] = uint32_t(w.Here());
    // Sorted table: every distinct word with its frequency as value.
    std::map<std::u16string, uint32_t> sorted;
    for (const t_cellWord& cw : words) sorted.emplace(cw.word, cw.frequency);
    std::vector<uint32_t> entryOffsets;
    for (const auto& [text, value] : sorted) {
        entryOffsets.push_back(uint32_t(w.Here() - h[13]));
        w.U32(value);
        w.Str(text);
    }
    h[4] = uint32_t(sorted.size());
    h[9] = uint32_t(w.Here());
    for (uint32_t o : entryOffsets) w.U32(o);
    // Word index: words by first character, grouped by its high byte.
    std::map<char16_t, std::vector<size_t>> byChar;
    std::vector<size_t> order;
    for (const auto& [text, value] : sorted)
        order.push_back(size_t(std::find_if(words.begin(), words.end(),
                                            [&](const t_cellWord& cw) { return cw.word == text; }) -
                               words.begin()));
    for (size_t idx : order) byChar[words[idx].word[0]].push_back(idx);
    h[15] = uint32_t(w.Here());
    std::map<char16_t, uint32_t> firstNumber;
    uint32_t number = 0;
    for (const auto& [c, list] : byChar) {
        firstNumber[c] = number;
        for (size_t idx : list) {
            w.U32(wordOffsets[idx]);
            ++number;
        }
    }
    h[5] = number;
    std::map<uint8_t, std::vector<char16_t>> byHigh;
    for (const auto& [c, list] : byChar) byHigh[uint8_t(c >> 8)].push_back(c);
    std::map<uint8_t, uint32_t> groupAt;
    for (const auto& [high, chars] : byHigh) {
        groupAt[high] = uint32_t(w.Here());
        w.U16(uint16_t(chars.size()));
        for (char16_t c : chars) {
            uint64_t mask = 0;
            for (size_t idx : byChar[c]) {
                const std::u16string& t = words[idx].word;
                mask |= t.size() >= 2 ? uint64_t(1) << (t[1] & 63) : 1;
            }
            w.U16(uint16_t(c));
            w.U32(firstNumber[c]);
            w.U16(uint16_t(byChar[c].size()));
            w.U64(mask);
        }
    }
    h[14] = uint32_t(w.Here());
    for (uint32_t high = 0; high < 256; ++high)
        w.U32(groupAt.count(uint8_t(high)) ? groupAt[uint8_t(high)] : 0);
    std::memcpy(w.bytes.data(), h, sizeof h);
    return w.bytes;
}

std::string TempDir() {
    return testsupport::TempDirUntilExit("vetra-dicts");
}

bool WriteBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
    return bool(out.flush());
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace dicttest

void DictManagerTest::SetUp() {
    const std::string root = dicttest::TempDir();
    user = root + "/user";
    sys = root + "/sys";
    dict4 = root + "/dict4";
    fs::create_directories(root + "/home");
    ASSERT_NO_FATAL_FAILURE(env.Open(root + "/home", user, sys, dict4));
}

void DictManagerTest::TearDown() {
    env.Close();
    fs::remove_all(fs::path(user).parent_path());
}
