// The small system dictionaries over built images and the supported-character
// flags.
#include <gtest/gtest.h>

#include <cstring>

#include "kernel/lexicon/small_dicts.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

namespace {

template <class D>
void Attach(D& dict, Bytes& image) {
    ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
}

}  // namespace

TEST(SmallDictsTest, EmptyImagesAttachAndAnswerNone) {
    t_scopeHeap heap;
    for (t_systemTable which :
         {t_systemTable::kAbbrSys, t_systemTable::kInfoKey, t_systemTable::kInfoBlack,
          t_systemTable::kNumFreq, t_systemTable::kUrlGuide, t_systemTable::kSmartInfo,
          t_systemTable::kQuickSys, t_systemTable::kPyTip, t_systemTable::kAdjCache}) {
        Bytes image = BuildImage(which, {});
        ASSERT_FALSE(image.empty());
        (void)image;
    }
    Bytes abbr = BuildImage(t_systemTable::kAbbrSys, {});
    t_abbrSysDict a;
    Attach(a, abbr);
    t_abbrPhrase** out = nullptr;
    uint32_t count = 9;
    EXPECT_EQ(1, a.Lookup(heap, L(U(u"dh")), &out, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0u, a.GetPhraseCount());
    uint32_t tag = 0;
    EXPECT_TRUE(a.GetHeaderTag(&tag));
    EXPECT_EQ(kAbbrSysVersion, tag);

    // A table of another format version is refused.
    Bytes tip = BuildImage(t_systemTable::kPyTip, {});
    t_adjCache adj;
    EXPECT_FALSE(adj.Load(tip.data(), int32_t(tip.size())));
    EXPECT_FALSE(adj.GetBestAdjust(L(U(u"x")), nullptr, nullptr));
}

TEST(SmallDictsTest, PhrasesWithPositionBelowOneAreSkipped) {
    Bytes image = BuildImage(t_systemTable::kAbbrSys, {{t_fields().S(u"dh").S(u"电话").I16(1),
                                                        t_fields().S(u"dh").S(u"hidden").I16(0),
                                                        t_fields().S(u"dh").S(u"地画").I16(3)}});
    t_abbrSysDict dict;
    Attach(dict, image);
    t_scopeHeap heap;
    t_abbrPhrase** out = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(1, dict.Lookup(heap, L(U(u"dh")), &out, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ(u"电话", Text(out[0]->phrase));
    EXPECT_EQ(3, out[1]->position);
    EXPECT_EQ(3u, dict.GetPhraseCount());
    t_abbrPhraseEntry** all = nullptr;
    ASSERT_EQ(1, dict.GetAllPhrases(heap, &all, &count));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(u"dh", Text(all[0]->key));
}

TEST(SmallDictsTest, InfoKeyTriesEveryTailUntilTheLastCharacter) {
    Bytes image = BuildImage(t_systemTable::kInfoKey, {{t_fields().S(u"站")}});
    t_infoKey dict;
    Attach(dict, image);
    int found = 0;
    const t_lstr* item = nullptr;
    ASSERT_EQ(1, dict.Lookup(L(U(u"北京火车站")), &found, &item));
    EXPECT_EQ(1, found);
    EXPECT_EQ(u"站", Text(item));
    ASSERT_EQ(1, dict.Lookup(L(U(u"北京")), &found, &item));
    EXPECT_EQ(0, found);
    // Texts longer than the copy buffer are refused, not cut.
    EXPECT_EQ(0, dict.Lookup(L(U(std::u16string(500, u'站'))), &found, &item));
    EXPECT_EQ(0, found);
}

TEST(SmallDictsTest, BlackListMatchesATailStartingWithAListedString) {
    Bytes image = BuildImage(t_systemTable::kInfoBlack,
                             {{t_fields().S(u"k").S(u"坏词"), t_fields().S(u"k").S(u"脏")}});
    t_infoBlack dict;
    Attach(dict, image);
    EXPECT_EQ(1, dict.Contains(L(U(u"这是坏词啊")), L(U(u"k"))));
    EXPECT_EQ(1, dict.Contains(L(U(u"脏")), L(U(u"k"))));
    EXPECT_EQ(0, dict.Contains(L(U(u"好词")), L(U(u"k"))));
    EXPECT_EQ(0, dict.Contains(L(U(u"坏词")), L(U(u"other"))));
}

TEST(SmallDictsTest, AdjustmentCacheKeepsTheFirstOfEqualWeights) {
    Bytes image = BuildImage(
        t_systemTable::kAdjCache,
        {{t_fields().S(u"k").U8(1).U8(2).U16(3), t_fields().S(u"k").U8(3).U8(4).U16(5),
          t_fields().S(u"k").U8(5).U8(6).U16(5), t_fields().S(u"z").U8(7).U8(8).U16(0)}});
    t_adjCache dict;
    Attach(dict, image);
    uint8_t b0 = 0, b1 = 0;
    ASSERT_TRUE(dict.GetBestAdjust(L(U(u"k")), &b0, &b1));
    EXPECT_EQ(3, b0);
    EXPECT_EQ(4, b1);
    EXPECT_FALSE(dict.GetBestAdjust(L(U(u"z")), &b0, &b1));
    EXPECT_FALSE(dict.GetBestAdjust(L(U(u"none")), &b0, &b1));
}

TEST(SmallDictsTest, TipsGuidesQuickEntriesAndSmartInfo) {
    t_scopeHeap heap;
    Bytes tipImage = BuildImage(
        t_systemTable::kPyTip,
        {{t_fields().S(u"zh").S(u"中").S(u"zhong"), t_fields().S(u"zh").S(u"种").S(u"zhong3")}});
    t_pyTip tip;
    Attach(tip, tipImage);
    EXPECT_EQ(u"zhong3", Text(tip.GetTip(L(U(u"zh")), L(U(u"种")))));
    EXPECT_EQ(nullptr, tip.GetTip(L(U(u"zh")), L(U(u"众"))));

    Bytes guideImage = BuildImage(t_systemTable::kUrlGuide,
                                  {{t_fields().S(u"百科").S(u"百科全书").S(u"example.org")},
                                   {t_fields().S(u"bk").S(u"百科").S(u"example.com")}});
    t_urlGuideDict guide;
    Attach(guide, guideImage);
    const uint8_t* row = guide.FindByInput(L(U(u"bk")));
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(u"example.com", Text(guide.GetGuideUrl(row, 1)));
    row = guide.FindByWord(L(U(u"百科")));
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(u"百科全书", Text(guide.GetGuideText(row, 0)));
    EXPECT_EQ(nullptr, guide.FindByWord(L(U(u"bk"))));

    Bytes quickImage = BuildImage(t_systemTable::kQuickSys,
                                  {{t_fields().S(u"xx").S(u"^_^").U16(7).I16(2)},
                                   {t_fields().U32(3).I16(1).I16(2).S(u"a").S(u"b").S(u"c"),
                                    t_fields().U32(3).I16(2).I16(2).S(u"d").S(u"e").S(u"f")}});
    t_quickSysDict quick;
    Attach(quick, quickImage);
    t_quickEntry** entries = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(1, quick.Lookup(heap, L(U(u"xx")), &entries, &count));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(7, entries[0]->a);
    EXPECT_EQ(1, entries[0]->b);
    t_quickCategoryEntry** cats = nullptr;
    ASSERT_EQ(1, quick.ListByCategory(heap, 3, 2, -1, &cats, &count));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(2, cats[0]->category);
    EXPECT_EQ(u"e", Text(cats[0]->texts[1]));
    ASSERT_EQ(1, quick.ListByCategory(heap, 3, -1, 0xFFFF, &cats, &count));
    EXPECT_EQ(2u, count);
    ASSERT_EQ(1, quick.ListByCategory(heap, 9, -1, -1, &cats, &count));
    EXPECT_EQ(0u, count);

    const uint32_t code = 2 + 26 * 1;  // 'c' in category 1
    Bytes smartImage = BuildImage(t_systemTable::kSmartInfo,
                                  {{t_fields().U32(code).S(u"cat"), t_fields().U32(code).S(u"cab"),
                                    t_fields().U32(code).S(u"cow")}});
    t_smartInfoCore smart;
    Attach(smart, smartImage);
    int found = 0;
    ASSERT_EQ(1, smart.Contains(1, L(U(u"cow")), &found));
    EXPECT_EQ(1, found);
    ASSERT_EQ(1, smart.Contains(1, L(U(u"cod")), &found));
    EXPECT_EQ(0, found);
    ASSERT_EQ(1, smart.Contains(2, L(U(u"cow")), &found));
    EXPECT_EQ(0, found);
    EXPECT_EQ(0, smart.Contains(6, L(U(u"cow")), &found));
    EXPECT_EQ(0, smart.Contains(1, L(U(u"1cow")), &found));
}

TEST(SupportCharDictTest, FlagsLoadAndDisabledRangeSurvivesReload) {
    std::vector<uint8_t> image(t_supportCharDict::kImageSize, 1);
    const uint32_t head[4] = {kSupportCharVersion, 0x10000, 0x10000, 0};
    std::memcpy(image.data(), head, sizeof head);
    image[16 + 0x4E00 + 0x20] = 0;
    t_supportCharDict dict;
    ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    EXPECT_EQ(0, dict.GetFlagTable()[0x4E20]);
    dict.SetRange(0x4E00, 0x4E0F, 0);
    dict.SetRange(10, 5, 0);       // ignored
    dict.SetRange(0, 0x10000, 0);  // ignored
    ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    EXPECT_EQ(0, dict.GetFlagTable()[0x4E00]);
    EXPECT_EQ(0, dict.GetFlagTable()[0x4E0F]);
    EXPECT_EQ(1, dict.GetFlagTable()[0x4E10]);
    EXPECT_EQ(1, dict.GetFlagTable()[0]);
    // A foreign image keeps the flags as they were, and still loads.
    image[0] ^= 1;
    image[16 + 0x4E20] = 1;
    EXPECT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    EXPECT_EQ(0, dict.GetFlagTable()[0x4E20]);
}

TEST_F(DictManagerTest, SupportFlagsComeFromTheSourceFile) {
    std::vector<uint8_t> image(t_supportCharDict::kImageSize, 1);
    const uint32_t head[4] = {kSupportCharVersion, 0x10000, 0x10000, 0};
    std::memcpy(image.data(), head, sizeof head);
    image[16 + 0x9FA6] = 0;
    ASSERT_TRUE(WriteBytes(sys + "/qzim_charvalid.bin", image.data(), image.size()));
    t_supportCharDict dict;
    ASSERT_TRUE(manager->Register(L"SupportCharDict", &dict, 0, kStorageSource, kDirSystem,
                                  L"qzim_charvalid.bin", 0, 2));
    ASSERT_TRUE(manager->LoadDict(L"SupportCharDict"));
    EXPECT_EQ(0, dict.GetFlagTable()[0x9FA6]);
    EXPECT_EQ(1, dict.GetFlagTable()[0x4E00]);
}
