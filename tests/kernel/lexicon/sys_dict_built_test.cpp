// The system dictionaries of the data build, read with the kernel's own
// readers. Skipped when the data build is off.
#include <gtest/gtest.h>

#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "tests/kernel/lexicon/built_data_support.h"
#include "tests/kernel/lexicon/sys_dict_support.h"

using namespace lexdata;

namespace {

class SysDictBuiltDataTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string dir = BuiltSystemDir();
        if (dir.empty()) return;
        s_py = new Bytes(ReadFile(dir + "/qzim_py.bin"));
        s_hz = new Bytes(ReadFile(dir + "/qzim_hz.bin"));
        s_core = new Bytes(ReadFile(dir + "/qzim_core.bin"));
    }
    static void TearDownTestSuite() {
        delete s_py;
        delete s_hz;
        delete s_core;
        s_py = s_hz = s_core = nullptr;
    }
    void SetUp() override {
        if (!s_py)
            GTEST_SKIP() << "the data build is off (-DVETRA_BUILD_DATA=ON builds the system data)";
        ASSERT_TRUE(py.Load(s_py->data(), int32_t(s_py->size())));
        ASSERT_TRUE(hz.Load(s_hz->data(), int32_t(s_hz->size())));
        ASSERT_TRUE(core.Load(s_core->data(), int32_t(s_core->size())));
    }
    int32_t IdOf(const wchar_t* s) { return py.GetSyllableId(s); }
    std::vector<uint16_t> Reading(std::initializer_list<const wchar_t*> syllables) {
        std::vector<uint16_t> ids;
        for (const wchar_t* s : syllables) ids.push_back(uint16_t(IdOf(s)));
        return ids;
    }
    uint32_t GramOf(std::initializer_list<const wchar_t*> syllables, const std::u16string& text) {
        uint32_t gram = 0;
        EXPECT_EQ(
            core.FindWord(L(Units(Reading(syllables))), L(Text(text)), nullptr, nullptr, &gram), 1);
        return gram;
    }

    static inline Bytes* s_py = nullptr;
    static inline Bytes* s_hz = nullptr;
    static inline Bytes* s_core = nullptr;
    t_pyDict py;
    t_hzDict hz;
    t_sysDict core;
};

// Ids that fixed kernel tables rely on.
TEST_F(SysDictBuiltDataTest, SyllableAnchorsHold) {
    EXPECT_EQ(py.GetSyllableCount(), 413);
    const std::pair<const wchar_t*, int> anchors[] = {
        {L"ai", 1},  {L"an", 2},  {L"ang", 3},  {L"ao", 4},  {L"che", 34}, {L"chong", 38},
        {L"ei", 80}, {L"en", 81}, {L"eng", 82}, {L"A", 413}, {L"Z", 438}};
    for (const auto& [text, id] : anchors) EXPECT_EQ(IdOf(text), id) << std::wstring(text);
    // The digit table of the number input.
    const int digits[] = {34, 372, 363, 89, 370, 353, 366, 374};
    for (int id : digits) EXPECT_NE(py.GetSyllableString(int16_t(id)), nullptr);
    uint16_t ids[16];
    ASSERT_EQ(hz.GetCharPinyinIds(u'的', ids, 16) > 0, true);
    bool de = false;
    for (int i = 0; i < hz.GetCharReadingCount(u'的'); ++i) de |= ids[i] == 61;
    EXPECT_TRUE(de);
    EXPECT_GT(py.GetSyllableValue(int16_t(IdOf(L"zhuang"))),
              py.GetSyllableValue(int16_t(IdOf(L"shi"))));
    EXPECT_GT(py.GetLetterTrigramValue('a', 'b', '~'), 0);
}

TEST_F(SysDictBuiltDataTest, CharacterReadings) {
    uint16_t ids[16];
    const int n = hz.GetCharPinyinIds(u'行', ids, 16);
    std::vector<uint16_t> got(ids, ids + std::max(n, 0));
    std::sort(got.begin(), got.end());
    std::vector<uint16_t> want = Reading({L"hang", L"heng", L"xing"});
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(ids[0], IdOf(L"xing"));  // the common reading first
    EXPECT_GT(hz.GetCharCount(), 20000);
}

TEST_F(SysDictBuiltDataTest, WordsAreFoundUnderTheirReadings) {
    EXPECT_EQ(core.FindWord(L(Units(Reading({L"yin", L"hang"}))), L(Text(u"银行")), nullptr,
                            nullptr, nullptr),
              1);
    t_sysDictCursor c(&core);
    uint8_t stepped = 0;
    std::vector<std::u16string> found;
    for (const wchar_t* s : {L"zhong", L"guo", L"ren", L"min"}) {
        if (c.PushSyllable(uint16_t(IdOf(s)), &stepped)) {
            uint8_t more = 1;
            for (uint32_t w = uint32_t(c.word); more; ++w) {
                ASSERT_EQ(core.GetWordRecord(w, nullptr, nullptr, nullptr, &more), 1);
                found.push_back(ToU16(core.GetWordText(w)));
            }
        }
        ASSERT_EQ(stepped, 1) << std::wstring(s);
    }
    EXPECT_NE(std::find(found.begin(), found.end(), u"中国"), found.end());
    EXPECT_NE(std::find(found.begin(), found.end(), u"中国人民"), found.end());
}

TEST_F(SysDictBuiltDataTest, StrongCollocationScoresBetterThanAnUnrelatedPair) {
    const t_gramInfo* gram = core.GetGram();
    ASSERT_NE(gram, nullptr);
    const uint32_t china = GramOf({L"zhong", L"guo"}, u"中国"),
                   people = GramOf({L"ren", L"min"}, u"人民"),
                   bank = GramOf({L"yin", L"hang"}, u"银行"),
                   apple = GramOf({L"ping", L"guo"}, u"苹果");
    ASSERT_TRUE(china && people && bank && apple);
    uint8_t found = 0, backed = 0, flag1 = 0;
    const int32_t strong =
        GramGetBigramScore(gram, china, people, &found, false, true, &backed, &flag1);
    EXPECT_EQ(found, 1);
    const int32_t unrelated =
        GramGetBigramScore(gram, apple, bank, &found, false, true, &backed, &flag1);
    EXPECT_LT(strong, unrelated);
    EXPECT_LT(strong, 350);
    EXPECT_LT(GramGetUnigramFreq(gram, china), GramGetUnigramFreq(gram, apple));
}

// Attaching validates every offset; this walks every record, text and
// short-key item once more through the public accessors.
TEST_F(SysDictBuiltDataTest, EveryOffsetOfTheWordImageValidates) {
    const uint8_t* end = s_core->data() + s_core->size();
    for (uint32_t w = 0; w < core.GetWordCount(); ++w) {
        const t_lstr* s = core.GetWordText(w);
        ASSERT_NE(s, nullptr) << w;
        ASSERT_LE(LstrGetBytes(s) + LstrGetByteLength(s), end);
        ASSERT_GT(LstrGetByteLength(s), 0);
    }
    uint32_t items = 0;
    for (int k = 0; k < 702; ++k) {
        uint32_t start;
        uint8_t count;
        ASSERT_EQ(core.GetShortKeyEntry(k, &start, &count), 1);
        for (uint32_t i = 0; i < count; ++i) ASSERT_NE(core.GetShortKeyItem(start + i), nullptr);
        items += count;
    }
    EXPECT_EQ(items, core.GetShortItemCount());
    EXPECT_EQ(core.GetGram()->GetUnigramCount(), 131072u);
    EXPECT_EQ(core.GetUsedBytes() < s_core->size(), true);
}

// Damaged copies of the built images: attach fails or lookups stay inside.
TEST_F(SysDictBuiltDataTest, DamagedBuiltImagesNeverReadOutside) {
    Bytes bad = *s_core;
    const std::vector<uint16_t> path = Reading({L"zhong", L"guo", L"ren", L"min"});
    // Every header byte and the index entries of the walked path, then a
    // spread over the rest.
    std::vector<size_t> positions;
    for (size_t i = 0; i < n_sysDict::kHeaderSize; ++i) positions.push_back(i);
    for (size_t i = 0; i < path.size(); ++i)
        for (size_t k = 0; k < 10; ++k) {
            const size_t entry =
                i == 0 ? n_sysDict::kRootBase + path[0] : size_t(path[i]) * 441 + path[0];
            positions.push_back(n_sysDict::kIndexOffset + entry * 10 + k);
        }
    for (size_t pos = n_sysDict::kHeaderSize; pos < bad.size(); pos += bad.size() / 61 + 1)
        positions.push_back(pos);
    for (size_t pos : positions) {
        const uint8_t old = bad[pos];
        bad[pos] ^= 0xFF;
        t_sysDict dict;
        if (dict.Load(bad.data(), int32_t(bad.size()))) {
            t_sysDictCursor c(&dict);
            for (uint16_t id : path) {
                uint8_t stepped;
                if (c.PushSyllable(id, &stepped) && c.word >= 0) {
                    uint8_t more = 1;
                    for (uint32_t w = uint32_t(c.word), n = 0; more && n < 64; ++w, ++n) {
                        if (dict.GetWordRecord(w, nullptr, nullptr, nullptr, &more) != 1) break;
                        const t_lstr* text = dict.GetWordText(w);
                        if (text) {
                            ASSERT_LE(LstrGetBytes(text) + LstrGetByteLength(text),
                                      bad.data() + bad.size());
                        }
                    }
                }
                uint32_t words[32];
                c.GetSubtreeWordIndexes(words, 32);
            }
        }
        bad[pos] = old;
    }
    Bytes badPy = *s_py;
    for (size_t pos = 0; pos < badPy.size(); pos += (pos < 512 ? 7 : badPy.size() / 53 + 1)) {
        const uint8_t old = badPy[pos];
        badPy[pos] ^= 0xFF;
        t_pyDict dict;
        if (dict.Load(badPy.data(), int32_t(badPy.size()))) {
            for (int id = 0; id < 439; id += 11) {
                dict.GetSyllableString(int16_t(id));
                dict.GetSyllablePairValue(int16_t(id), int16_t(412 - id % 413));
            }
            dict.GetSyllableId(L"zhuang");
            dict.GetLetterTrigramValue('a', '~', 'b');
        }
        badPy[pos] = old;
    }
}

}  // namespace
