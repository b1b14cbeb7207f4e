// The syllable and character dictionaries over small images made by their
// writers: id numbering, costs, letter priors, readings, damaged images.
#include "kernel/lexicon/py_dict.h"

#include <gtest/gtest.h>

#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/storage/table_builder.h"
#include "tests/kernel/lexicon/sys_dict_support.h"

using namespace lexdata;

namespace {

class PyDictTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_image = new Bytes(MakePyImage()); }
    static void TearDownTestSuite() {
        delete s_image;
        s_image = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(dict.Load(s_image->data(), int32_t(s_image->size()))); }
    static inline Bytes* s_image = nullptr;
    t_pyDict dict;
};

TEST_F(PyDictTest, SyllablesAndLettersGetTheirIds) {
    EXPECT_EQ(dict.GetSyllableCount(), 413);
    EXPECT_EQ(dict.GetIdCount(), 439);
    EXPECT_EQ(dict.GetSyllableId(L"ai"), 1);
    EXPECT_EQ(dict.GetSyllableId(L"che"), 34);
    EXPECT_EQ(dict.GetSyllableId(L"zhuang"), Id("zhuang"));
    EXPECT_EQ(dict.GetSyllableId(L"A"), 413);
    EXPECT_EQ(dict.GetSyllableId(L"Z"), 438);
    EXPECT_EQ(dict.GetSyllableId(L"zhuangzhuan"), -1);  // 11 characters: no lookup
    EXPECT_EQ(dict.GetSyllableId(L"zhuan1"), -1);
    EXPECT_EQ(dict.GetSyllableId(L""), -1);
    EXPECT_EQ(dict.GetSyllableId(nullptr), -1);
    EXPECT_EQ(dict.GetLetterId('z'), 438);
    EXPECT_EQ(dict.GetLetterId('Z'), 438);
    EXPECT_EQ(dict.GetLetterId('1'), -1);
    for (int id = 0; id < 439; ++id) {
        const t_lstr* s = dict.GetSyllableString(int16_t(id));
        ASSERT_NE(s, nullptr) << id;
        const std::u16string text = ToU16(s);
        EXPECT_EQ(std::wstring(text.begin(), text.end()), std::wstring(SyllableTableText(id)))
            << id;
    }
    EXPECT_EQ(dict.GetSyllableString(439), nullptr);
    EXPECT_EQ(dict.GetSyllableString(-1), nullptr);
    EXPECT_TRUE(dict.IsSyllableId(412));
    EXPECT_FALSE(dict.IsSyllableId(413));
    EXPECT_TRUE(dict.IsLetterId(413));
    EXPECT_FALSE(dict.IsLetterId(439));
}

TEST_F(PyDictTest, IdListsAndLetters) {
    const Bytes empty = Units({});
    EXPECT_TRUE(dict.AreAllLetterIds(L(empty)));
    EXPECT_FALSE(dict.HasLetterId(L(empty)));
    const Bytes mixed = Units({1, 413});
    EXPECT_FALSE(dict.AreAllLetterIds(L(mixed)));
    EXPECT_TRUE(dict.HasLetterId(L(mixed)));
    uint16_t out[4] = {};
    EXPECT_EQ(dict.LettersToIds(L(Text(u"aZ")), out), 1);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(out[1], 413);
    EXPECT_EQ(out[2], 438);
    EXPECT_EQ(dict.LettersToIds(L(Text(u"a1")), out), 0);
}

// Pair values are kept once looked up; a new image must not answer with
// the old one's.
TEST_F(PyDictTest, PairValuesFollowTheAttachedImage) {
    EXPECT_EQ(dict.GetSyllablePairValue(2, 5), 2 * 413 + 5);
    EXPECT_EQ(dict.GetSyllablePairValue(2, 5), 2 * 413 + 5);
    const Bytes shifted = MakePyImage(7);
    ASSERT_TRUE(dict.Load(const_cast<uint8_t*>(shifted.data()), int32_t(shifted.size())));
    EXPECT_EQ(dict.GetSyllablePairValue(2, 5), 2 * 413 + 5 + 7);
    EXPECT_FALSE(dict.Load(nullptr, 0));
    EXPECT_EQ(dict.GetSyllablePairValue(2, 5), 0);
}

TEST_F(PyDictTest, CostsAndPriorsComeFromTheirTables) {
    EXPECT_EQ(dict.GetSyllableValue(0), 1000);
    EXPECT_EQ(dict.GetSyllableValue(412), 1412);
    EXPECT_EQ(dict.GetSyllableValue(413), 0);
    EXPECT_EQ(dict.GetSyllablePairValue(2, 5), 2 * 413 + 5);
    EXPECT_EQ(dict.GetSyllablePairValue(412, 412), uint16_t(412 * 413 + 412));
    // 'a' then ~: key 729 x 26 + 27 x 0 + 26.
    EXPECT_EQ(dict.GetLetterTrigramValue('a', '~', '~'), (729 * 26 + 26) % 251 * 5);
    EXPECT_EQ(dict.GetLetterTrigramValue('~', '~', '~'), (27 * 27 * 27 - 1) % 251 * 5);
    EXPECT_EQ(dict.GetLetterTrigramValue('A', 'b', 'c'), 0);
    EXPECT_EQ(dict.GetLetterXposValue('a', 'b', '~'), (676 * 26 + 26 * 1 + 0) % 241 * 5);
    EXPECT_EQ(dict.GetLetterXposValue('~', 'b', 'c'), 0);
}

// A letter id used to alias another syllable pair (id1 x 413 + id2 lands in
// the next row): pairs with a letter now answer 0.
TEST_F(PyDictTest, PairWithALetterIdAnswersZero) {
    EXPECT_EQ(dict.GetSyllablePairValue(0, 413), 0);
    EXPECT_EQ(dict.GetSyllablePairValue(413, 0), 0);
    EXPECT_EQ(dict.GetSyllablePairValue(-1, 5), 0);
    EXPECT_NE(dict.GetSyllablePairValue(1, 0), 0);  // the row the letter would have aliased
}

TEST(PyDictLoadTest, NotReadyAnswersNothing) {
    t_pyDict dict;
    EXPECT_FALSE(dict.Load(nullptr, 0));
    EXPECT_EQ(dict.GetSyllableId(L"a"), -1);
    EXPECT_EQ(dict.GetLetterId('a'), -1);
    EXPECT_EQ(dict.GetSyllableString(0), nullptr);
    EXPECT_EQ(dict.GetIdCount(), 0);
    EXPECT_EQ(dict.GetSyllableValue(0), 0);
    EXPECT_FALSE(dict.IsLetterId(413));
}

TEST(PyDictLoadTest, IncompleteInventoryIsRefused) {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    t_pyDict::Describe(keys, attris, datas);
    t_tableFileBuilder b;
    std::vector<int32_t> buckets(std::begin(t_pyDict::kBuckets), std::end(t_pyDict::kBuckets));
    ASSERT_TRUE(b.InitStoreWithBuckets(keys, attris, datas, t_pyDict::kFormatVersion,
                                       t_pyDict::kFormatVersion, {&t_pyDict::SyllableHash},
                                       {&t_pyDict::SyllableCompare}, buckets));
    for (int i = 0; i < 412; ++i) {  // one syllable short
        const std::wstring w(kSyllableTexts[i]);
        Bytes item = {0, 0, 0, 0};
        const Bytes key = Text(std::u16string(w.begin(), w.end()));
        item.insert(item.end(), key.begin(), key.end());
        item[0] = uint8_t(item.size());
        item[1] = uint8_t(item.size() >> 8);
        ASSERT_EQ(b.InsertOne(item.data(), 0), 1);
    }
    Bytes image;
    ASSERT_TRUE(b.BuildPlainImage(image));
    t_pyDict dict;
    EXPECT_FALSE(dict.Load(image.data(), int32_t(image.size())));
    EXPECT_FALSE(dict.IsReady());
}

// Every single-byte change and every truncation: the attach fails, or every
// query stays inside the image (ASan watches the reads).
TEST(PyDictLoadTest, DamagedImagesNeverReadOutside) {
    const Bytes good = MakePyImage();
    const size_t header = 256;  // configuration and header: every byte
    std::vector<size_t> positions;
    for (size_t i = 0; i < header && i < good.size(); ++i) positions.push_back(i);
    for (size_t i = header; i < good.size(); i += 4999) positions.push_back(i);
    size_t attached = 0;
    for (size_t pos : positions) {
        for (uint8_t x : {uint8_t(0xFF), uint8_t(0x01)}) {
            Bytes bad = good;
            bad[pos] ^= x;
            t_pyDict dict;
            if (!dict.Load(bad.data(), int32_t(bad.size()))) continue;
            ++attached;
            for (int id = -1; id < 440; id += 7) {
                const t_lstr* s = dict.GetSyllableString(int16_t(id));
                if (s) {
                    ASSERT_LE(LstrGetBytes(s) + LstrGetByteLength(s), bad.data() + bad.size());
                }
                dict.GetSyllableValue(int16_t(id));
                dict.GetSyllablePairValue(int16_t(id), int16_t(id / 2));
            }
            dict.GetSyllableId(L"zhuang");
            dict.GetSyllableId(L"B");
            dict.GetLetterTrigramValue('~', '~', '~');
            dict.GetLetterXposValue('z', 'y', 'x');
        }
    }
    EXPECT_GT(attached, 0u);
    for (size_t cut : {size_t(0), size_t(10), good.size() / 2, good.size() - 1}) {
        t_pyDict dict;
        EXPECT_FALSE(dict.Load(const_cast<uint8_t*>(good.data()), int32_t(cut)));
    }
}

// ---------------------------------------------------------------- characters

class HzDictTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = MakeHzImage();
        ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    }
    Bytes image;
    t_hzDict dict;
};

TEST_F(HzDictTest, ReadingsComeInStoredOrder) {
    uint16_t out[8] = {};
    ASSERT_EQ(dict.GetCharPinyinIds(u'行', out, 8), 3);
    EXPECT_EQ(out[0], Id("xing"));
    EXPECT_EQ(out[1], Id("hang"));
    EXPECT_EQ(out[2], Id("heng"));
    EXPECT_EQ(dict.GetCharReadingCount(u'行'), 3);
    EXPECT_EQ(dict.GetCharPinyinIds(u'中', out, 8), 1);
    EXPECT_EQ(out[0], Id("zhong"));
    EXPECT_EQ(dict.GetCharPinyinIds(u'人', out, 8), 0);
    EXPECT_EQ(dict.GetCharPinyinIds(0x20000, out, 8), 0);
    EXPECT_TRUE(dict.Contains(u'国'));
    EXPECT_FALSE(dict.Contains(u'人'));
    EXPECT_EQ(dict.GetCharCount(), 3);
    std::vector<uint32_t> seen;
    for (int i = 0; i < 3; ++i) seen.push_back(dict.GetCharAt(i));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<uint32_t>{u'中', u'国', u'行'}));
    EXPECT_EQ(dict.GetCharAt(3), 0u);
    EXPECT_EQ(dict.GetCharAt(-1), 0u);
}

// The reading count comes from the file: a caller's buffer smaller than it
// is never written past.
TEST_F(HzDictTest, ReadingsBeyondTheCallersRoomAreRefused) {
    uint16_t out[3] = {0xAAAA, 0xAAAA, 0xAAAA};
    EXPECT_EQ(dict.GetCharPinyinIds(u'行', out, 2), 0);
    EXPECT_EQ(out[2], 0xAAAA);
    EXPECT_EQ(dict.GetCharPinyinIds(u'行', nullptr, 8), 0);
}

TEST(HzDictLoadTest, DamagedImagesNeverReadOutside) {
    const Bytes good = MakeHzImage();
    for (size_t pos = 0; pos < good.size(); ++pos) {
        for (uint8_t x : {uint8_t(0xFF), uint8_t(0x01)}) {
            Bytes bad = good;
            bad[pos] ^= x;
            t_hzDict dict;
            if (!dict.Load(bad.data(), int32_t(bad.size()))) continue;
            uint16_t out[4];
            for (char16_t c : {u'中', u'国', u'行', u'人'}) {
                const int n = dict.GetCharPinyinIds(c, out, 4);
                ASSERT_LE(n, 4);
            }
            for (int i = 0; i < 4; ++i) dict.GetCharAt(i);
        }
    }
}

}  // namespace
