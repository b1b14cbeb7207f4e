// The cell dictionary reader over assembled images: key search with
// its longer-key hints, records, the word index, the sorted table, cell
// names, and damaged images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "kernel/lexicon/cell_dict.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

namespace {

std::vector<t_cellWord> SampleWords() {
    return {{{5, 7}, u"北京", {0x10000000u | 101, (uint32_t('A') << 24) | 12}, 90, 1.5f},
            {{5, 7}, u"背景", {0x01000000u | 102}, 40, 0.f},
            {{5, 7, 3}, u"北京市", {0x10000000u | 101}, 70, 0.f},
            {{5, 7, 3, 9}, u"北京时间", {0x10000000u | 103}, 20, 0.f},
            {{5, 8}, u"杯子", {0x10000000u | 102}, 10, 0.f},
            {{2}, u"啊", {0x10000000u | 101}, 5, 0.f}};
}

class CellDictTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = BuildCellImage(SampleWords(), {{u"101", u"地名"}, {u"102", u"常用词"}}, 10);
        ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    }
    Bytes Key(std::vector<uint16_t> units) { return U(std::u16string(units.begin(), units.end())); }
    Bytes image;
    t_extDict dict;
};

}  // namespace

TEST_F(CellDictTest, FindsKeysAndTellsAboutLongerOnes) {
    uint16_t more = 0;
    uint32_t hint = 0;
    const int32_t item = dict.FindKey(L(Key({5, 7})), &more, &hint);
    ASSERT_GE(item, 0);
    EXPECT_EQ(t_extDict::kMoreKeys, more);
    EXPECT_EQ(uint32_t(item) + 1, hint);
    EXPECT_GE(dict.FindKey(L(Key({5, 7, 3, 9})), &more, nullptr), 0);
    EXPECT_EQ(0, more);
    EXPECT_EQ(-1, dict.FindKey(L(Key({5, 7, 4})), &more, nullptr));
    EXPECT_EQ(-1, dict.FindKey(L(Key({})), &more, nullptr));
    // The signature of a one-unit key fails: it may still start longer keys.
    EXPECT_EQ(-1, dict.FindKey(L(Key({5})), &more, nullptr));
    EXPECT_EQ(t_extDict::kMoreKeys, more);
}

TEST_F(CellDictTest, KeyWhoseFirstUnitIsTheBucketCountIsNotFound) {
    const Bytes other = BuildCellImage({{{9, 1}, u"九", {}, 1, 0.f}}, {}, 9);
    t_extDict d;
    Bytes copy = other;
    ASSERT_TRUE(d.Load(copy.data(), int32_t(copy.size())));
    EXPECT_EQ(-1, d.FindKey(L(Key({9, 1})), nullptr, nullptr));
}

TEST_F(CellDictTest, RecordsCarryTheirFieldsAndTexts) {
    const int32_t item = dict.FindKey(L(Key({5, 7})), nullptr, nullptr);
    const t_cellRecord* records = nullptr;
    ASSERT_EQ(2u, dict.GetItem(item, &records));
    // Records are packed: copy fields out before comparing.
    const uint32_t frequency = records[0].frequency;
    const float power = records[0].extraPower;
    const int32_t weight = records[1].weight;
    EXPECT_EQ(u"北京", Text(dict.GetWordText(records[0].wordOffset)));
    EXPECT_EQ(90u, frequency);
    EXPECT_FLOAT_EQ(1.5f, power);
    EXPECT_EQ(7, weight);
    EXPECT_EQ(0u, dict.GetItem(99, &records));
    EXPECT_EQ(nullptr, dict.GetWordText(-1));
    EXPECT_EQ(nullptr, dict.GetWordText(1 << 20));
    EXPECT_EQ(nullptr, dict.GetInfoText(1 << 20));
}

TEST_F(CellDictTest, PrefixSearchListsTheExtensions) {
    uint32_t items[8];
    const t_lstr* keys[8];
    ASSERT_EQ(2, dict.PrefixSearch(L(Key({5, 7})), 8, items, keys));
    EXPECT_EQ(3u, LstrGetLength(keys[0]));
    EXPECT_EQ(4u, LstrGetLength(keys[1]));
    EXPECT_EQ(1, dict.PrefixSearch(L(Key({5, 7})), 1, items, keys));
    EXPECT_EQ(0, dict.PrefixSearch(L(Key({5, 8})), 8, items, keys));
}

TEST_F(CellDictTest, WordTestsUseRecordsTheIndexAndTheSortedTable) {
    EXPECT_EQ(1, dict.Contains(L(Key({5, 7})), L(U(u"背景"))));
    EXPECT_EQ(0, dict.Contains(L(Key({5, 7})), L(U(u"杯子"))));
    EXPECT_EQ(1, dict.ContainsWord(L(U(u"北京时间"))));
    EXPECT_EQ(1, dict.ContainsWord(L(U(u"啊"))));
    EXPECT_EQ(0, dict.ContainsWord(L(U(u"北方"))));
    EXPECT_EQ(1, dict.HasWords());
    const uint8_t* entry = dict.FindSortedEntry(L(U(u"杯子")));
    ASSERT_NE(nullptr, entry);
    uint32_t value = 0;
    std::memcpy(&value, entry, 4);
    EXPECT_EQ(10u, value);
    EXPECT_EQ(nullptr, dict.FindSortedEntry(L(U(u"杯"))));
}

TEST_F(CellDictTest, CellNamesAndWordCodes) {
    std::wstring numbers, names;
    const uint32_t codes[3] = {0x10000000u | 101, 0x01000000u | 102, 0x10000000u | 777};
    Bytes list(2 + sizeof codes);
    const uint16_t n = sizeof codes;
    std::memcpy(list.data(), &n, 2);
    std::memcpy(list.data() + 2, codes, sizeof codes);
    ASSERT_EQ(1, dict.GetCellNames(L(list), numbers, names));
    EXPECT_EQ(L"101,102,777", numbers);
    EXPECT_EQ(L"地名,常用词", names);

    std::vector<std::wstring> texts;
    ASSERT_EQ(1, dict.GetWordCodes(L(Key({5, 7})), L(U(u"北京")), texts));
    EXPECT_EQ((std::vector<std::wstring>{L"101", L"A12"}), texts);
    EXPECT_EQ(0, dict.GetWordCodes(L(Key({5, 7})), L(U(u"杯子")), texts));
}

TEST_F(CellDictTest, CellNamesNeedTheExtensionArea) {
    Bytes plain = BuildCellImage(SampleWords(), {}, 10);
    t_extDict d;
    ASSERT_TRUE(d.Load(plain.data(), int32_t(plain.size())));
    std::wstring numbers, names;
    const Bytes list = U(u"\x0065\x1000");
    EXPECT_EQ(0, d.GetCellNames(L(list), numbers, names));
    // A chunk whose length runs past the area.
    Bytes bad = image;
    uint32_t area = 0;
    std::memcpy(&area, bad.data() + 68, 4);
    const uint32_t huge = 1u << 20;
    std::memcpy(bad.data() + area + 8, &huge, 4);
    ASSERT_TRUE(d.Load(bad.data(), int32_t(bad.size())));
    EXPECT_EQ(0, d.GetCellNames(L(list), numbers, names));
}

TEST_F(CellDictTest, HeaderWordsOutsideTheImageAreRefused) {
    Bytes bad = image;
    const int32_t beyond = int32_t(bad.size()) + 1;
    std::memcpy(bad.data() + 9 * 4, &beyond, 4);
    t_extDict d;
    EXPECT_FALSE(d.Load(bad.data(), int32_t(bad.size())));
    EXPECT_FALSE(d.IsReady());
    bad = image;
    const int32_t negative = -1;
    std::memcpy(bad.data() + 3 * 4, &negative, 4);
    EXPECT_FALSE(d.Load(bad.data(), int32_t(bad.size())));
    EXPECT_FALSE(d.Load(bad.data(), 63));
    EXPECT_EQ(-1, d.FindKey(L(Key({5, 7})), nullptr, nullptr));
}

TEST_F(CellDictTest, DamagedImagesNeverReadOutside) {
    // Every header word set to values at and around the edges, then every
    // lookup: the reader must answer with what lies inside the image.
    size_t attached = 0;
    auto insideOf = [](const Bytes& bad, const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        return b >= bad.data() && b + n <= bad.data() + bad.size();
    };
    const int32_t values[] = {0, 1, 63, 64, int32_t(image.size()) - 1, int32_t(image.size())};
    for (uint32_t word = 1; word < 16; ++word)
        for (int32_t v : values) {
            Bytes bad = image;
            std::memcpy(bad.data() + 4 * word, &v, 4);
            t_extDict d;
            if (!d.Load(bad.data(), int32_t(bad.size()))) continue;
            ++attached;
            uint32_t items[4];
            const t_lstr* keys[4];
            std::wstring numbers, names;
            std::vector<std::wstring> texts;
            d.FindKey(L(Key({5, 7})), nullptr, nullptr);
            const int n = d.PrefixSearch(L(Key({5, 7})), 4, items, keys);
            EXPECT_LE(n, 4) << word << " " << v;
            for (int i = 0; i < n; ++i)
                EXPECT_TRUE(insideOf(bad, keys[i], LstrGetTotalBytes(keys[i]))) << word << " " << v;
            d.Contains(L(Key({5, 7})), L(U(u"北京")));
            d.ContainsWord(L(U(u"北京")));
            if (const uint8_t* e = d.FindSortedEntry(L(U(u"杯子")))) {
                EXPECT_TRUE(insideOf(bad, e, 4)) << word << " " << v;
            }
            d.GetWordCodes(L(Key({5, 7})), L(U(u"北京")), texts);
            d.GetCellNames(L(U(u"ab")), numbers, names);
        }
    EXPECT_GT(attached, 0u);
    // Every byte of the body flipped in turn.
    for (size_t at = 64; at < image.size(); at += 3) {
        Bytes bad = image;
        bad[at] ^= 0xFF;
        t_extDict d;
        if (!d.Load(bad.data(), int32_t(bad.size()))) continue;
        std::vector<std::wstring> texts;
        if (d.GetWordCodes(L(Key({5, 7})), L(U(u"北京")), texts)) {
            for (const std::wstring& t : texts) EXPECT_LT(t.size(), 16u) << at;
        }  // "%d" or a letter and "%d"
        d.ContainsWord(L(U(u"北京时间")));
        if (const uint8_t* e = d.FindSortedEntry(L(U(u"北京")))) {
            EXPECT_TRUE(insideOf(bad, e, 4)) << at;
        }
    }
}
