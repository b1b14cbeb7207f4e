// The key-to-pinyin map: merging, lookups, weights, usage and its file.
#include "kernel/lexicon/key_py_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/scope_heap.h"
#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

uint16_t Id(const wchar_t* syllable) {
    return uint16_t(SyllableTableFind(syllable));
}

class KeyPyMapTest : public LexiconDirTest {
protected:
    void SetUp() override {
        LexiconDirTest::SetUp();
        ASSERT_TRUE(t_keyPyMap::BuildEmptyImage(image_));
        ASSERT_TRUE(map_.Attach(image_.data(), int64_t(image_.size())));
    }
    // The first mapping of key: {id, flags} or {-1, -1}.
    std::pair<int, int> First(const wchar_t* key) {
        const int32_t index = map_.FindKey(key, nullptr);
        uint16_t ids[4], flags[4];
        if (index < 0 || map_.GetPinyinIds(index, ids, nullptr, flags, 4) < 1) return {-1, -1};
        return {ids[0], flags[0]};
    }
    std::vector<uint8_t> image_;
    t_keyPyMap map_;
};

TEST_F(KeyPyMapTest, NewMapHasCountersOfHundredAndNoKeys) {
    EXPECT_TRUE(map_.IsReady());
    EXPECT_EQ(map_.GetCounter(0), 100u);
    EXPECT_EQ(map_.GetCounter(449), 100u);
    EXPECT_EQ(map_.GetCounter(450), 0u);
    EXPECT_EQ(map_.FindKey(L"a", nullptr), -1);
    EXPECT_EQ(map_.GetExtraFlagA(), 0);
}

TEST_F(KeyPyMapTest, NothingAnswersBeforeAttach) {
    t_keyPyMap empty;
    bool longer = true;
    EXPECT_EQ(empty.FindKey(L"a", &longer), -1);
    EXPECT_FALSE(longer);
    EXPECT_EQ(empty.AddMapping(L"a", 0, 0, false), 0);
    EXPECT_FALSE(empty.IncreaseUsage(0, 0));
    EXPECT_EQ(empty.GetExtraFlagB(), 0);
    EXPECT_FALSE(empty.Attach(nullptr, 0));
}

TEST_F(KeyPyMapTest, ForeignOrCutImageIsRefused) {
    std::vector<uint8_t> cut(image_.begin(), image_.end() - 1);
    t_keyPyMap other;
    EXPECT_FALSE(other.Attach(cut.data(), int64_t(cut.size())));
    EXPECT_FALSE(other.IsReady());
    std::vector<uint8_t> flipped = image_;
    flipped[0] ^= 1;  // check number
    EXPECT_FALSE(other.Attach(flipped.data(), int64_t(flipped.size())));
}

TEST_F(KeyPyMapTest, RepeatedMappingKeepsOneRowAndMergesFlags) {
    EXPECT_EQ(map_.AddMapping(L"z", Id(L"zhang"), kKeyFlagFuzzy | kKeyFlagAbbrev, false), 4);
    EXPECT_EQ(map_.AddMapping(L"z", Id(L"zhang"), kKeyFlagAbbrev, false), 1);
    EXPECT_EQ(First(L"z"), std::make_pair(int(Id(L"zhang")), int(kKeyFlagAbbrev)));

    // A smart-only mapping gives way to an ordinary one, not the other way.
    EXPECT_EQ(map_.AddMapping(L"zang", Id(L"zhang"), kKeyFlagFuzzy, true), 4);
    map_.SetSmartFuzzyMode(true);
    EXPECT_EQ(First(L"zang").second, kKeyFlagFuzzy | kKeyFlagSmartOnly);
    map_.AddMapping(L"zang", Id(L"zhang"), kKeyFlagFuzzy, false);
    EXPECT_EQ(First(L"zang").second, kKeyFlagFuzzy);
    map_.AddMapping(L"zang", Id(L"zhang"), 0, true);
    EXPECT_EQ(First(L"zang").second, kKeyFlagFuzzy);

    t_scopeHeap arena;
    t_keyMapItem* items = nullptr;
    int count = 0;
    ASSERT_TRUE(map_.GetAllItems(arena, &items, &count, nullptr));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(items[0].state, kKeyStateNew);
}

TEST_F(KeyPyMapTest, PrefixKeysTellWhetherALongerKeyFollows) {
    map_.AddMapping(L"zh", Id(L"zhang"), kKeyFlagAbbrev, false);
    map_.AddMapping(L"zhang", Id(L"zhang"), 0, false);
    bool longer = false;
    EXPECT_GE(map_.FindKey(L"zh", &longer), 0);
    EXPECT_TRUE(longer);
    EXPECT_GE(map_.FindKey(L"zhang", &longer), 0);
    EXPECT_FALSE(longer);
    EXPECT_EQ(map_.FindKey(L"zhangg", &longer), -1);
    EXPECT_FALSE(longer);
    EXPECT_EQ(map_.FindKey(L"zha", &longer), -1);
    EXPECT_TRUE(longer);
}

// Lookups are kept between keystrokes' lattice builds; every kind of change
// to the map must show in the next answer.
TEST_F(KeyPyMapTest, RepeatedLookupsFollowEveryChange) {
    struct t_answer {
        int32_t row;
        bool longer;
        int count;
        float weight;
    };
    const auto ask = [&](const wchar_t* key) {
        t_answer a{};
        a.row = map_.FindKey(key, &a.longer);
        uint16_t ids[8], flags[8];
        float weights[8] = {};
        a.count = a.row < 0 ? 0 : map_.GetPinyinIds(a.row, ids, weights, flags, 8);
        a.weight = weights[0];
        return a;
    };
    std::vector<uint8_t> empty;
    ASSERT_TRUE(t_keyPyMap::BuildEmptyImage(empty));
    const struct {
        const char* title;
        std::function<void(t_keyPyMap&)> change;
        std::function<void(const t_answer&, const t_answer&)> check;  // before, after
    } cases[] = {
        {"a longer key is added",
         [](t_keyPyMap& m) { m.AddMapping(L"zhan", Id(L"zhan"), 0, false); },
         [](const t_answer& b, const t_answer& a) {
             EXPECT_FALSE(b.longer);
             EXPECT_TRUE(a.longer);
         }},
        {"the syllable is used", [](t_keyPyMap& m) { m.AddUsage(L"zh", Id(L"zhang"), 50); },
         [](const t_answer& b, const t_answer& a) { EXPECT_NE(b.weight, a.weight); }},
        {"a mapping is added to the key",
         [](t_keyPyMap& m) { m.AddMapping(L"zh", Id(L"zhi"), kKeyFlagAbbrev, false); },
         [](const t_answer& b, const t_answer& a) { EXPECT_EQ(b.count + 1, a.count); }},
        {"the mapping is disabled", [](t_keyPyMap& m) { m.DisableEntry(L"zh", Id(L"zhang")); },
         [](const t_answer& b, const t_answer& a) { EXPECT_EQ(b.count - 1, a.count); }},
        {"another image is attached",
         [&](t_keyPyMap& m) { m.Attach(empty.data(), int64_t(empty.size())); },
         [](const t_answer&, const t_answer& a) { EXPECT_EQ(-1, a.row); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        ASSERT_TRUE(t_keyPyMap::BuildEmptyImage(image_));
        ASSERT_TRUE(map_.Attach(image_.data(), int64_t(image_.size())));
        map_.AddMapping(L"zh", Id(L"zhang"), kKeyFlagAbbrev, false);
        const t_answer before = ask(L"zh");
        ASSERT_GE(before.row, 0);
        ASSERT_EQ(before.row, ask(L"zh").row);
        c.change(map_);
        c.check(before, ask(L"zh"));
    }
}

TEST_F(KeyPyMapTest, WeightsFollowTheSyllableCounter) {
    map_.AddMapping(L"zh", Id(L"zhang"), kKeyFlagAbbrev, false);
    map_.AddMapping(L"zhang", Id(L"zhang"), 0, false);
    float w[2];
    ASSERT_EQ(map_.GetPinyinIds(map_.FindKey(L"zh", nullptr), nullptr, w, nullptr, 2), 1);
    EXPECT_FLOAT_EQ(w[0], 0.1f);  // (0 + 20) / 100 x 0.5
    ASSERT_EQ(map_.GetPinyinIds(map_.FindKey(L"zhang", nullptr), nullptr, w, nullptr, 2), 1);
    EXPECT_FLOAT_EQ(w[0], 1.0f);
    EXPECT_FLOAT_EQ(t_keyPyMap::MappingWeight(kKeyFlagSmartOnly, 0, 100), 0.4f);
}

// Regression: the weight curve divided by zero at a counter of 90 and was
// infinite at 0; counters below 100 now count as 100.
TEST_F(KeyPyMapTest, LowCountersGiveFiniteWeights) {
    for (uint32_t counter : {0u, 1u, 89u, 90u, 91u, 99u}) {
        const float w = t_keyPyMap::MappingWeight(kKeyFlagAbbrev, 0, counter);
        EXPECT_TRUE(std::isfinite(w)) << counter;
        EXPECT_FLOAT_EQ(w, 0.1f) << counter;
    }
    std::vector<uint8_t> counters(4 * t_keyPyMap::kCounterCount, 0);
    counters[4 * Id(L"zhang")] = 90;
    ASSERT_TRUE(map_.SetCounters(counters.data()));
    map_.AddMapping(L"zh", Id(L"zhang"), kKeyFlagAbbrev, false);
    float w = 0;
    ASSERT_EQ(map_.GetPinyinIds(map_.FindKey(L"zh", nullptr), nullptr, &w, nullptr, 1), 1);
    EXPECT_TRUE(std::isfinite(w));
}

TEST_F(KeyPyMapTest, DisabledMappingIsInvisibleInBothModes) {
    map_.AddMapping(L"xian", Id(L"xian"), 0, false);
    map_.AddMapping(L"xian", Id(L"xi"), kKeyFlagFuzzy, false);
    ASSERT_TRUE(map_.DisableEntry(L"xian", Id(L"xi")));
    EXPECT_FALSE(map_.DisableEntry(L"xian", Id(L"an")));
    uint16_t ids[4];
    const int32_t index = map_.FindKey(L"xian", nullptr);
    ASSERT_EQ(map_.GetPinyinIds(index, ids, nullptr, nullptr, 4), 1);
    EXPECT_EQ(ids[0], Id(L"xian"));
    map_.SetSmartFuzzyMode(true);
    EXPECT_EQ(map_.GetPinyinIds(index, ids, nullptr, nullptr, 4), 1);
    EXPECT_EQ(map_.GetAllPinyinIds(index, ids, nullptr, nullptr, 4), 1);
}

TEST_F(KeyPyMapTest, SmartOnlyMappingsShowOnlyInTheSmartPass) {
    map_.AddMapping(L"zang", Id(L"zang"), 0, false);
    map_.AddMapping(L"zang", Id(L"zhang"), kKeyFlagFuzzy, true);
    const int32_t index = map_.FindKey(L"zang", nullptr);
    uint16_t ids[4];
    float w[4];
    EXPECT_EQ(map_.GetPinyinIds(index, ids, w, nullptr, 4), 1);
    EXPECT_TRUE(map_.IsKeyMappedToPy(L"zang", Id(L"zhang")));  // a fuzzy mapping
    map_.SetSmartFuzzyMode(true);
    ASSERT_EQ(map_.GetPinyinIds(index, ids, w, nullptr, 4), 2);
    EXPECT_FLOAT_EQ(w[0] + w[1], 1.5f);
    EXPECT_TRUE(map_.IsKeyMappedToPy(L"zang", Id(L"zhang")));
    EXPECT_FALSE(map_.IsKeyMappedToPy(L"zang", Id(L"zang")));
    EXPECT_FALSE(map_.IsKeyMappedToPy(L"zang", kSyllableCount));  // a letter id
}

TEST_F(KeyPyMapTest, UsageCountsUpKeyAndSyllable) {
    map_.AddMapping(L"zh", Id(L"zhang"), kKeyFlagAbbrev, false);
    const int32_t index = map_.FindKey(L"zh", nullptr);
    EXPECT_TRUE(map_.IncreaseUsage(index, Id(L"zhang")));
    EXPECT_EQ(map_.GetCounter(Id(L"zhang")), 101u);
    EXPECT_TRUE(map_.AddUsage(L"zh", Id(L"zhang"), 5));
    EXPECT_EQ(map_.GetCounter(Id(L"zhang")), 106u);
    t_scopeHeap arena;
    t_keyMapItem* items = nullptr;
    int count = 0;
    ASSERT_TRUE(map_.GetAllItems(arena, &items, &count, nullptr));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(items[0].count, 6);
    EXPECT_FALSE(map_.IncreaseUsage(index, Id(L"zhi")));        // not a mapping of zh
    EXPECT_FALSE(map_.IncreaseUsage(index + 1, Id(L"zhang")));  // not a row start
    EXPECT_FALSE(map_.AddUsage(L"nokey", Id(L"zhang"), 1));
}

// Regression: ids at or above 450 wrote past the counters into the option
// bytes and beyond the extra block.
TEST_F(KeyPyMapTest, UsageOfIdsBeyondTheCountersIsIgnored) {
    map_.SetExtraFlagA(1);
    map_.AddMapping(L"q", 450, kKeyFlagAbbrev, false);
    map_.AddMapping(L"q", 477, kKeyFlagAbbrev, false);
    const int32_t index = map_.FindKey(L"q", nullptr);
    ASSERT_GE(index, 0);
    EXPECT_FALSE(map_.IncreaseUsage(index, 450));
    EXPECT_FALSE(map_.IncreaseUsage(index, 477));
    EXPECT_FALSE(map_.AddUsage(L"q", 450, 1000));
    EXPECT_FALSE(map_.AddUsage(L"q", -1, 1000));
    EXPECT_EQ(map_.GetExtraFlagA(), 1);
    EXPECT_EQ(map_.GetExtraFlagB(), 0);
    float w[2];
    EXPECT_EQ(map_.GetPinyinIds(index, nullptr, w, nullptr, 2),
              2);  // still listed, with a default counter
    EXPECT_FLOAT_EQ(w[0], 0.1f);
}

TEST_F(KeyPyMapTest, EntriesKeepTheLargerCountAndMergeMarksConflicts) {
    EXPECT_EQ(map_.AddEntry(L"ling", Id(L"ling"), 0, 7, 0), 4);
    EXPECT_EQ(map_.AddEntry(L"ling", Id(L"ling"), 0, 3, 0), 1);
    EXPECT_EQ(map_.AddEntry(L"ling", Id(L"ling"), 0, 9, 0), 1);
    EXPECT_EQ(map_.GetCounter(Id(L"ling")), 102u);  // grew by 9 - 7

    EXPECT_EQ(map_.MergeEntry(L"lign", Id(L"ling"), kKeyFlagCorrection, 4, 0), 4);
    EXPECT_EQ(map_.MergeEntry(L"ling", Id(L"ling"), kKeyFlagFuzzy, 1, 0), 1);
    t_scopeHeap arena;
    t_keyMapItem* items = nullptr;
    int count = 0;
    ASSERT_TRUE(map_.GetAllItems(arena, &items, &count, nullptr));
    ASSERT_EQ(count, 2);
    for (int i = 0; i < count; ++i) {
        if (std::wstring(items[i].key) == L"lign") {
            EXPECT_EQ(items[i].state, kKeyStateDisabled);
        } else {
            EXPECT_EQ(items[i].state, kKeyStateConflict);
            EXPECT_EQ(items[i].count, 9);
        }
    }
}

TEST_F(KeyPyMapTest, LoopedChainInADamagedImageEnds) {
    map_.AddMapping(L"a", Id(L"a"), 0, false);
    const int32_t index = map_.FindKey(L"a", nullptr);
    const t_editableTableFile& table = map_.Table();
    const uint8_t* row = table.GetBucketRow(0, 0, index);
    ASSERT_NE(row, nullptr);
    const t_keyLayout& layout = table.GetLayout().keyLayouts[0];
    const uint32_t link = n_tableFormat::Rd32(row + layout.linkOffset);
    uint8_t* attri = const_cast<uint8_t*>(table.GetAttriRowPtr(0, link));
    ASSERT_NE(attri, nullptr);
    n_tableFormat::Wr32(attri + layout.attriLinkOffset, link);  // points at itself
    uint16_t ids[500];
    EXPECT_EQ(map_.GetPinyinIds(index, ids, nullptr, nullptr, 500),
              500);  // bounded by max, and it returns
    EXPECT_EQ(map_.GetPinyinIds(index + 3, ids, nullptr, nullptr, 500), 0);  // not a row start
}

// The map's file lives in the user directory: a damaged copy either fails to
// attach or answers lookups and takes usage without leaving its image.
TEST_F(KeyPyMapTest, DamagedSavedMapNeverReadsOutside) {
    map_.AddMapping(L"zh", Id(L"zhang"), kKeyFlagAbbrev, false);
    map_.AddMapping(L"zh", Id(L"zhong"), kKeyFlagAbbrev, false);
    map_.AddMapping(L"zhang", Id(L"zhang"), 0, false);
    map_.AddMapping(L"lign", Id(L"ling"), kKeyFlagCorrection, false);
    ASSERT_TRUE(map_.SaveFile(WPathOf("keymap.bin").c_str()));
    std::ifstream in(PathOf("keymap.bin"), std::ios::binary);
    const std::vector<uint8_t> good((std::istreambuf_iterator<char>(in)), {});
    // The header every byte, the rest sampled.
    std::vector<size_t> positions;
    for (size_t i = 0; i < good.size(); ++i)
        if (i < 256 || i % 31 == 0) positions.push_back(i);
    size_t attached = 0;
    for (size_t pos : positions) {
        for (uint8_t x : {uint8_t(0xFF), uint8_t(0x01)}) {
            std::vector<uint8_t> bad = good;
            bad[pos] ^= x;
            t_keyPyMap map;
            if (!map.Attach(bad.data(), int64_t(bad.size()))) continue;
            ++attached;
            uint16_t ids[16], flags[16];
            float weights[16];
            for (const wchar_t* key : {L"zh", L"zhang", L"lign", L"z", L"q"}) {
                bool longer = false;
                const int32_t index = map.FindKey(key, &longer);
                map.GetPinyinIds(index, ids, weights, flags, 16);
                map.GetAllPinyinIds(index, ids, weights, flags, 16);
                map.IncreaseUsage(index, Id(L"zhang"));
                map.IsKeyMappedToPy(key, Id(L"zhang"));
            }
            map.AddUsage(L"zh", Id(L"zhong"), 3);
            map.DisableEntry(L"lign", Id(L"ling"));
        }
    }
    EXPECT_GT(attached, 0u);
}

// Every word of a full map set to all ones in turn: an add the damaged map
// reports done is found (3 such images used to take the add and lose it).
TEST_F(KeyPyMapTest, AddReportedDoneOnADamagedMapIsFound) {
    t_scopeHeap arena;
    uint8_t* built = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(t_keyPyMapBuilder::Build(arena, &built, &size, t_keyMapOptions(),
                                         {WPathOf("sys"), WPathOf("user"), L""}, nullptr));
    const std::vector<uint8_t> good(built, built + size);
    std::vector<uint8_t> bad;
    for (size_t pos = 0; pos + 4 <= good.size(); pos += 4) {
        bad = good;
        n_tableFormat::Wr32(bad.data() + pos, 0xFFFFFFFFu);
        t_keyPyMap map;
        if (!map.Attach(bad.data(), int64_t(bad.size())) ||
            map.AddEntry(L"qjxj", Id(L"qiang"), 0, 5, kKeyStateNew) == 0)
            continue;
        uint16_t ids[16];
        const int n = std::max(
            0, map.GetAllPinyinIds(map.FindKey(L"qjxj", nullptr), ids, nullptr, nullptr, 16));
        EXPECT_NE(std::find(ids, ids + n, Id(L"qiang")), ids + n)
            << "lost with all ones at " << pos;
    }
}

TEST_F(KeyPyMapTest, OverlongKeysAreRefused) {
    const std::wstring longKey(t_keyPyMap::kMaxKeyChars + 1, L'a');
    EXPECT_EQ(map_.AddMapping(longKey.c_str(), 0, 0, false), 0);
    EXPECT_EQ(map_.FindKey(longKey.c_str(), nullptr), -1);
    EXPECT_EQ(map_.AddMapping(L"", 0, 0, false), 0);
}

// A map for builds grows past the default room (a large fuzzy file needs
// several times of it) up to its limit; past that it takes no new mapping
// but stays whole: what it took is found, merged, saved and attached again.
TEST_F(KeyPyMapTest, AGrowingMapTakesMappingsUpToItsLimit) {
    t_keyPyMap grown{t_keyPyMap::t_growing{}};
    ASSERT_TRUE(grown.StartEmpty());
    auto key = [](int n) {
        std::wstring k;
        for (int i = 0; i < 4; ++i, n /= 26) k += wchar_t(L'a' + n % 26);
        return k;
    };
    constexpr int kIdsPerKey = 8;
    int taken = 0;
    while (grown.AddMapping(key(taken / kIdsPerKey).c_str(), uint16_t(taken % kIdsPerKey), 0,
                            false) != 0)
        ASSERT_LT(++taken, 1000000);
    EXPECT_GT(taken, int(t_keyPyMap::kAttriRows));
    EXPECT_LE(grown.GetTotalSize(), int64_t(t_keyPyMap::kMaxGrownBytes));
    EXPECT_EQ(grown.AddMapping(L"zzzzz", 0, 0, false), 0);
    EXPECT_EQ(grown.AddMapping(key(0).c_str(), 0, kKeyFlagFuzzy, false), 1);
    uint16_t ids[kIdsPerKey];
    const int32_t lastRow = grown.FindKey(key((taken - 1) / kIdsPerKey).c_str(), nullptr);
    ASSERT_GE(lastRow, 0);
    const int listed = grown.GetPinyinIds(lastRow, ids, nullptr, nullptr, kIdsPerKey);
    ASSERT_GE(listed, 1);
    EXPECT_EQ(ids[listed - 1], (taken - 1) % kIdsPerKey);

    ASSERT_TRUE(grown.SaveFile(WPathOf("grown.bin").c_str()));
    std::ifstream in(PathOf("grown.bin"), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    t_keyPyMap again;
    ASSERT_TRUE(again.Attach(bytes.data(), int64_t(bytes.size())));
    t_scopeHeap arena;
    t_keyMapItem* items = nullptr;
    int n = 0;
    ASSERT_TRUE(again.GetAllItems(arena, &items, &n, nullptr));
    EXPECT_EQ(n, taken);
}

TEST_F(KeyPyMapTest, SavedMapIsReplacedByRenameAndAttachesAgain) {
    map_.AddMapping(L"zh", Id(L"zhang"), kKeyFlagAbbrev, false);
    map_.SetExtraFlagB(1);
    PutUtf8("keymap.bin", "old");
    const std::wstring path = WPathOf("keymap.bin");
    ASSERT_TRUE(map_.SaveFile(path.c_str()));
    EXPECT_FALSE(Exists("keymap.bin.temp"));
    std::ifstream in(PathOf("keymap.bin"), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bytes.size(), image_.size());
    t_keyPyMap again;
    ASSERT_TRUE(again.Attach(bytes.data(), int64_t(bytes.size())));
    EXPECT_GE(again.FindKey(L"zh", nullptr), 0);
    EXPECT_EQ(again.GetExtraFlagB(), 1);

    EXPECT_FALSE(map_.SaveFile(WPathOf("no/dir/keymap.bin").c_str()));
    EXPECT_FALSE(Exists("no/dir/keymap.bin.temp"));
}

TEST_F(KeyPyMapTest, WrittenEmptyImageAttaches) {
    ASSERT_TRUE(t_keyPyMap::WriteImage(WPathOf("empty.bin").c_str()));
    std::ifstream in(PathOf("empty.bin"), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    t_keyPyMap fresh;
    ASSERT_TRUE(fresh.Attach(bytes.data(), int64_t(bytes.size())));
    EXPECT_EQ(fresh.GetCounter(Id(L"a")), 100u);
}

}  // namespace
