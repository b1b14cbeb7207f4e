// Damaged images of the small table dictionaries: every byte flipped in turn;
// attach fails or every lookup stays inside the image (the sanitizer build
// catches a read past it).
#include <gtest/gtest.h>

#include <functional>

#include "kernel/lexicon/small_dicts.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

namespace {

bool Inside(const t_lstr* s, const Bytes& image) {
    if (!s) return true;
    const uint8_t* begin = image.data();
    const uint8_t* end = begin + image.size();
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
    return p >= begin && LstrGetBytes(s) + LstrGetByteLength(s) <= end;
}

// Flips each byte of image with two masks, attaches a fresh dictionary and
// runs probe on it; returns how many damaged images attached.
template <class D>
size_t Sweep(const Bytes& good, const std::function<void(D&, const Bytes&)>& probe) {
    size_t attached = 0;
    for (size_t pos = 0; pos < good.size(); ++pos) {
        for (uint8_t x : {uint8_t(0xFF), uint8_t(0x01)}) {
            Bytes bad = good;
            bad[pos] ^= x;
            D dict;
            if (!dict.Load(bad.data(), int32_t(bad.size()))) continue;
            ++attached;
            probe(dict, bad);
            if (::testing::Test::HasFatalFailure()) return attached;
        }
    }
    return attached;
}

}  // namespace

TEST(SmallDictsDamageTest, DamagedImagesNeverReadOutside) {
    const Bytes dh = U(u"dh"), zh = U(u"zh"), zhong = U(u"种"), station = U(u"北京火车站"),
                k = U(u"k"), bad = U(u"这是坏词啊"), bk = U(u"bk"), baike = U(u"百科"),
                xx = U(u"xx"), cow = U(u"cow"), one = U(u"一");
    t_scopeHeap heap;

    Bytes abbr = BuildImage(t_systemTable::kAbbrSys, {{t_fields().S(u"dh").S(u"电话").I16(1),
                                                       t_fields().S(u"dh").S(u"地画").I16(3)}});
    EXPECT_GT(Sweep<t_abbrSysDict>(abbr,
                                   [&](t_abbrSysDict& d, const Bytes& image) {
                                       t_abbrPhrase** out = nullptr;
                                       uint32_t count = 0;
                                       if (d.Lookup(heap, L(dh), &out, &count) == 1) {
                                           for (uint32_t i = 0; i < count; ++i)
                                               ASSERT_TRUE(Inside(out[i]->phrase, image));
                                       }
                                       t_abbrPhraseEntry** all = nullptr;
                                       if (d.GetAllPhrases(heap, &all, &count) == 1) {
                                           for (uint32_t i = 0; i < count; ++i)
                                               ASSERT_TRUE(Inside(all[i]->key, image));
                                       }
                                   }),
              0u);

    Bytes infoKey =
        BuildImage(t_systemTable::kInfoKey, {{t_fields().S(u"站"), t_fields().S(u"火车站")}});
    EXPECT_GT(Sweep<t_infoKey>(infoKey,
                               [&](t_infoKey& d, const Bytes& image) {
                                   int found = 0;
                                   const t_lstr* item = nullptr;
                                   if (d.Lookup(L(station), &found, &item) == 1 && found) {
                                       ASSERT_TRUE(Inside(item, image));
                                   }
                               }),
              0u);

    Bytes black = BuildImage(t_systemTable::kInfoBlack,
                             {{t_fields().S(u"k").S(u"坏词"), t_fields().S(u"k").S(u"脏")}});
    EXPECT_GT(
        Sweep<t_infoBlack>(black, [&](t_infoBlack& d, const Bytes&) { d.Contains(L(bad), L(k)); }),
        0u);

    Bytes numbers = BuildImage(t_systemTable::kNumFreq, {{t_fields().S(u"一").U16(1).U32(4)}});
    EXPECT_GT(Sweep<t_numFreqAdjustDict>(numbers,
                                         [&](t_numFreqAdjustDict& d, const Bytes&) {
                                             uint16_t kind = 0;
                                             uint32_t count = 0;
                                             d.Get(L(one), &kind, &count);
                                             d.SetCount(L(one), 2);
                                         }),
              0u);

    Bytes tip = BuildImage(t_systemTable::kPyTip, {{t_fields().S(u"zh").S(u"中").S(u"zhong"),
                                                    t_fields().S(u"zh").S(u"种").S(u"zhong3")}});
    EXPECT_GT(Sweep<t_pyTip>(tip,
                             [&](t_pyTip& d, const Bytes& image) {
                                 ASSERT_TRUE(Inside(d.GetTip(L(zh), L(zhong)), image));
                             }),
              0u);

    Bytes guide = BuildImage(t_systemTable::kUrlGuide,
                             {{t_fields().S(u"百科").S(u"百科全书").S(u"example.org")},
                              {t_fields().S(u"bk").S(u"百科").S(u"example.com")}});
    EXPECT_GT(Sweep<t_urlGuideDict>(
                  guide,
                  [&](t_urlGuideDict& d, const Bytes& image) {
                      for (const uint8_t* row : {d.FindByInput(L(bk)), d.FindByWord(L(baike))}) {
                          if (!row) continue;
                          for (int i = 0; i < 2; ++i) {
                              ASSERT_TRUE(Inside(d.GetGuideText(row, i), image));
                              ASSERT_TRUE(Inside(d.GetGuideUrl(row, i), image));
                          }
                      }
                  }),
              0u);

    Bytes quick = BuildImage(t_systemTable::kQuickSys,
                             {{t_fields().S(u"xx").S(u"^_^").U16(7).I16(2)},
                              {t_fields().U32(3).I16(1).I16(2).S(u"a").S(u"b").S(u"c"),
                               t_fields().U32(3).I16(2).I16(2).S(u"d").S(u"e").S(u"f")}});
    EXPECT_GT(Sweep<t_quickSysDict>(quick,
                                    [&](t_quickSysDict& d, const Bytes& image) {
                                        t_quickEntry** entries = nullptr;
                                        uint32_t count = 0;
                                        d.Lookup(heap, L(xx), &entries, &count);
                                        t_quickCategoryEntry** cats = nullptr;
                                        if (d.ListByCategory(heap, 3, -1, -1, &cats, &count) == 1) {
                                            for (uint32_t i = 0; i < count; ++i)
                                                for (const t_lstr* t : cats[i]->texts)
                                                    ASSERT_TRUE(Inside(t, image));
                                        }
                                    }),
              0u);

    Bytes smart =
        BuildImage(t_systemTable::kSmartInfo,
                   {{t_fields().U32(2 + 26).S(u"cat"), t_fields().U32(2 + 26).S(u"cow")}});
    EXPECT_GT(Sweep<t_smartInfoCore>(smart,
                                     [&](t_smartInfoCore& d, const Bytes&) {
                                         int found = 0;
                                         d.Contains(1, L(cow), &found);
                                     }),
              0u);

    Bytes adj = BuildImage(t_systemTable::kAdjCache, {{t_fields().S(u"k").U8(1).U8(2).U16(3),
                                                       t_fields().S(u"k").U8(3).U8(4).U16(5)}});
    EXPECT_GT(Sweep<t_adjCache>(adj,
                                [&](t_adjCache& d, const Bytes&) {
                                    uint8_t b0 = 0, b1 = 0;
                                    d.GetBestAdjust(L(k), &b0, &b1);
                                }),
              0u);
}
