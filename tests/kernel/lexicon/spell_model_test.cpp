// The user's spelling model and the slip classifier.
#include "kernel/lexicon/spell_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "kernel/runtime/dict_manager.h"
#include "tests/kernel/lexicon/built_data_support.h"

namespace {

// A model attached to an image the test owns (no manager).
struct t_model {
    std::vector<uint8_t> image = std::vector<uint8_t>(size_t(t_userSpellModelDict::kImageSize));
    t_userSpellModelDict dict;
    t_model() {
        t_userSpellModelDict::MakeDefaultImage(image.data());
        EXPECT_TRUE(Attach());
    }
    bool Attach() {
        const bool ok = dict.Load(image.data(), int32_t(image.size()));
        dict.SetReady(ok);
        return ok;
    }
};

void PutI32(std::vector<uint8_t>& image, size_t at, int32_t v) {
    std::memcpy(image.data() + at, &v, 4);
}

t_spellEdit Classify(const wchar_t* typed, const wchar_t* corrected, bool* ok,
                     uint32_t* position = nullptr) {
    t_spellEdit edit{9, 9, 9, 9};
    uint32_t pos = 99;
    *ok = SpellEditClassify(typed, corrected, &edit, &pos);
    if (position) *position = pos;
    return edit;
}

}  // namespace

// ---------------------------------------------------------------- costs and counting

TEST(UserSpellModelTest, EmptyModelCostsTwoHundredEverywhere) {
    t_model m;
    EXPECT_EQ(m.dict.GetInsDelSubScore('a', 'b', 'c'), 200);
    EXPECT_EQ(m.dict.GetInsDelSubScore('~', 'z', '~'), 200);
    EXPECT_EQ(m.dict.GetXposScore('n', 'a', 'h'), 200);
}

TEST(UserSpellModelTest, OneCountedEditGivesTheLogCosts) {
    t_model m;
    ASSERT_EQ(m.dict.AddInsDelSub('n', 'm', 'a'), 1);
    EXPECT_EQ(m.dict.GetTotal(), 2);
    EXPECT_EQ(m.dict.GetNonZeroCount(), 2);
    // trigram seen once out of 2
    EXPECT_EQ(m.dict.GetInsDelSubScore('n', 'm', 'a'),
              int(std::trunc(std::log(0.5) / -0.01511363781 * 0.1)));
    EXPECT_EQ(m.dict.GetInsDelSubScore('n', 'm', 'a'), 4);
    // only the pair seen: the bigram cost
    EXPECT_EQ(m.dict.GetInsDelSubScore('n', 'm', 'z'), 18);
    // the swap tables are separate
    EXPECT_EQ(m.dict.GetXposScore('n', 'm', 'a'), 200);
    ASSERT_EQ(m.dict.AddXpos('n', 'a', 'h'), 1);
    EXPECT_EQ(m.dict.GetTotal(), 4);
    EXPECT_EQ(m.dict.GetXposScore('n', 'a', 'h'),
              int(std::trunc(std::log(0.25) / -0.01511363781 * 0.1)));
}

TEST(UserSpellModelTest, CountersSaturateAndNonZeroCountsOnlyNewCells) {
    t_model m;
    // the trigram cell of (a, b, c) in the edit tables
    const size_t cell = t_userSpellModelDict::kEditTrigramOffset + 2 * size_t(0 + 27 * 1 + 729 * 2);
    m.image[cell] = 0xFE;
    m.image[cell + 1] = 0xFF;  // 65534
    ASSERT_EQ(m.dict.AddInsDelSub('a', 'b', 'c'), 1);
    ASSERT_EQ(m.dict.AddInsDelSub('a', 'b', 'c'), 1);
    uint16_t v;
    std::memcpy(&v, m.image.data() + cell, 2);
    EXPECT_EQ(v, 65535);
    EXPECT_EQ(m.dict.GetNonZeroCount(), 1);  // only the bigram cell was new
    EXPECT_EQ(m.dict.GetTotal(), 4);
}

TEST(UserSpellModelTest, LettersOutsideTheTablesCountNothing) {
    t_model m;
    EXPECT_EQ(m.dict.AddInsDelSub('A', 'b', 'c'), 1);
    EXPECT_EQ(m.dict.AddXpos('~', 'b', 'c'), 1);
    EXPECT_EQ(m.dict.GetTotal(), 0);
    EXPECT_EQ(m.dict.GetInsDelSubScore('A', 'b', 'c'), 200);
}

TEST(UserSpellModelTest, NotAttachedAnswersZeroAndNoData) {
    t_userSpellModelDict dict;
    EXPECT_EQ(dict.AddInsDelSub('a', 'b', 'c'), 0);
    EXPECT_EQ(dict.AddXpos('a', 'b', 'c'), 0);
    EXPECT_EQ(dict.GetXposScore('a', 'b', 'c'), 200);
}

// Regression: a damaged model used to be attached as it was, giving a zero or
// negative total and meaningless (NaN) costs.
TEST(UserSpellModelTest, LoadRefusesDamagedModels) {
    t_model m;
    EXPECT_TRUE(t_userSpellModelDict::IsValidImage(m.image.data(), int64_t(m.image.size())));
    auto refused = [&](const std::vector<uint8_t>& image, int32_t size) {
        t_userSpellModelDict dict;
        std::vector<uint8_t> copy = image;
        return !dict.Load(copy.data(), size);
    };
    std::vector<uint8_t> bad = m.image;
    PutI32(bad, 4, -2);
    EXPECT_TRUE(refused(bad, int32_t(bad.size())));
    bad = m.image;
    PutI32(bad, 8, -1);
    EXPECT_TRUE(refused(bad, int32_t(bad.size())));
    bad = m.image;
    bad[0] ^= 1;
    EXPECT_TRUE(refused(bad, int32_t(bad.size())));
    EXPECT_TRUE(refused(m.image, t_userSpellModelDict::kImageSize - 1));
    t_userSpellModelDict dict;
    EXPECT_FALSE(dict.Load(nullptr, t_userSpellModelDict::kImageSize));
}

// The dictionary manager sets a refused model file aside and the model is
// rebuilt from its default image.
using UserSpellModelManagerTest = DictManagerDirTest;

TEST_F(UserSpellModelManagerTest, DamagedUserFileIsSetAsideAndDefaultModelAttaches) {
    std::vector<uint8_t> bad(size_t(t_userSpellModelDict::kImageSize));
    t_userSpellModelDict::MakeDefaultImage(bad.data());
    PutI32(bad, 4, -100);
    std::ofstream(PathOf("user/qzim_uspm.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bad.data()), std::streamsize(bad.size()));

    t_userSpellModelDict dict;
    ASSERT_TRUE(manager_->Register(L"UserSpellModelDict", &dict, kLoadPhase1, kStorageMemCopy,
                                   kDirUser, L"qzim_uspm.bin", 0, 2));
    ASSERT_TRUE(manager_->LoadDict(L"UserSpellModelDict"));
    EXPECT_TRUE(dict.IsReady());
    EXPECT_EQ(dict.GetTotal(), 0);
    EXPECT_EQ(dict.GetInsDelSubScore('a', 'b', 'c'), 200);
    EXPECT_EQ(dict.AddXpos('n', 'a', 'h'), 1);
    EXPECT_EQ(dict.GetTotal(), 2);
    // the damaged file was kept aside, not deleted
    bool keptAside = false;
    for (const auto& e : std::filesystem::directory_iterator(PathOf("user/Backup")))
        keptAside |= e.path().filename().string().rfind("qzim_uspm.bin.refused.", 0) == 0;
    EXPECT_TRUE(keptAside);
}

TEST_F(UserSpellModelManagerTest, MissingFileGetsTheDefaultModel) {
    t_userSpellModelDict dict;
    ASSERT_TRUE(manager_->Register(L"UserSpellModelDict", &dict, kLoadPhase1, kStorageMemCopy,
                                   kDirUser, L"qzim_uspm.bin", 0, 2));
    ASSERT_TRUE(manager_->LoadDict(L"UserSpellModelDict"));
    EXPECT_EQ(dict.GetTotal(), 0);
    EXPECT_EQ(dict.GetNonZeroCount(), 0);
}

// ---------------------------------------------------------------- classifier

// One row per slip: the edit found (a, b, c: the letter typed, the letter
// meant, the letter before; '~' for none, 0 not checked) and where it
// starts; or refused.
TEST(SpellEditClassifyTest, EachSlipIsClassifiedWithItsLetters) {
    constexpr uint32_t kAny = 99;  // position not checked
    const struct {
        const wchar_t* typed;
        const wchar_t* corrected;
        bool ok;
        int kind;
        wchar_t a, b, c;
        uint32_t position;
    } cases[] = {
        {L"zhnag", L"zhang", true, kSpellEditXpos, 'n', 'a', 'h', 2},
        {L"zhamg", L"zhang", true, kSpellEditInsDelSub, 'm', 'n', 'a', kAny},
        {L"zhaang", L"zhang", true, kSpellEditInsDelSub, 'a', '~', 0, kAny},  // a typed too many
        {L"zhng", L"zhang", true, kSpellEditInsDelSub, '~', 'a', 'h', kAny},  // a missing
        {L"xa", L"za", true, kSpellEditInsDelSub, 0, 0, '~', kAny},           // nothing before
        {L"xi'an'gm", L"xi'an'gn", true, 0, 0, 0, 'g', kAny},
        {L"xi'mn", L"xi'nn", true, 0, 0, 0, 'i', kAny},  // over the apostrophe
        {L"zhang", L"zhang", false, kSpellEditNothing, 0, 0, 0, 0},
        {L"zhan", L"zhang", false, kSpellEditNothing, 0, 0, 0, kAny},  // a prefix of the other
        {L"xi'an", L"xia'n", false, kSpellEditNothing, 0, 0, 0,
         kAny},                                                 // apostrophe at the difference
        {L"z", L"a", false, kSpellEditNothing, 0, 0, 0, kAny},  // too short
        {L"zhAng", L"zhang", false, kSpellEditNothing, 0, 0, 0, kAny},  // upper case is no letter
        {L"zhnAg", L"zhAng", false, kSpellEditNothing, 0, 0, 0, kAny},  // nor ever a swap
        {L"abxyz", L"abpqr", false, kSpellEditNothing, 0, 0, 0, kAny},  // no single slip
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.typed);
        bool ok = !c.ok;
        uint32_t pos = 7;
        const t_spellEdit e = Classify(c.typed, c.corrected, &ok, &pos);
        ASSERT_EQ(ok, c.ok);
        if (c.position != kAny) {
            EXPECT_EQ(pos, c.position);
        }
        if (!c.ok) continue;
        if (c.kind) {
            EXPECT_EQ(e.kind, c.kind);
        }
        if (c.a) {
            EXPECT_EQ(e.a, uint32_t(c.a));
        }
        if (c.b) {
            EXPECT_EQ(e.b, uint32_t(c.b));
        }
        if (c.c) {
            EXPECT_EQ(e.c, uint32_t(c.c));
        }
    }
    EXPECT_STREQ(SpellEditKindName(kSpellEditXpos), L"Xpos");
    EXPECT_STREQ(SpellEditKindName(kSpellEditInsDelSub), L"InsDelSub");
    bool ok = true;
    t_spellEdit e = Classify(L"zhang", L"zhang", &ok);
    EXPECT_EQ(e.kind, kSpellEditNothing);  // cleared
    EXPECT_STREQ(SpellEditKindName(e.kind), L"nothing");
    uint32_t pos = 0;
    EXPECT_FALSE(SpellEditClassify(nullptr, L"ab", &e, &pos));
}
