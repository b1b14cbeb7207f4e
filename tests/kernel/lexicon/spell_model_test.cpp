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

TEST(SpellEditClassifyTest, SwappedLettersAreATransposition) {
    bool ok = false;
    uint32_t pos = 0;
    const t_spellEdit e = Classify(L"zhnag", L"zhang", &ok, &pos);
    ASSERT_TRUE(ok);
    EXPECT_EQ(e.kind, kSpellEditXpos);
    EXPECT_EQ(e.a, uint32_t('n'));
    EXPECT_EQ(e.b, uint32_t('a'));
    EXPECT_EQ(e.c, uint32_t('h'));
    EXPECT_EQ(pos, 2u);
    EXPECT_STREQ(SpellEditKindName(e.kind), L"Xpos");
}

TEST(SpellEditClassifyTest, SubstitutionDeletionAndInsertion) {
    bool ok = false;
    t_spellEdit e = Classify(L"zhamg", L"zhang", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(e.kind, kSpellEditInsDelSub);
    EXPECT_EQ(e.a, uint32_t('m'));
    EXPECT_EQ(e.b, uint32_t('n'));
    EXPECT_EQ(e.c, uint32_t('a'));

    e = Classify(L"zhaang", L"zhang", &ok);  // a typed too many
    ASSERT_TRUE(ok);
    EXPECT_EQ(e.a, uint32_t('a'));
    EXPECT_EQ(e.b, uint32_t('~'));

    e = Classify(L"zhng", L"zhang", &ok);  // a missing
    ASSERT_TRUE(ok);
    EXPECT_EQ(e.a, uint32_t('~'));
    EXPECT_EQ(e.b, uint32_t('a'));
    EXPECT_EQ(e.c, uint32_t('h'));

    e = Classify(L"xa", L"za", &ok);  // at the start: no letter before
    ASSERT_TRUE(ok);
    EXPECT_EQ(e.c, uint32_t('~'));
    EXPECT_STREQ(SpellEditKindName(e.kind), L"InsDelSub");
}

TEST(SpellEditClassifyTest, ContextStepsBackOverApostrophes) {
    bool ok = false;
    const t_spellEdit e = Classify(L"xi'an'gm", L"xi'an'gn", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(e.c, uint32_t('g'));
    const t_spellEdit f = Classify(L"xi'mn", L"xi'nn", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(f.c, uint32_t('i'));
}

TEST(SpellEditClassifyTest, NothingCountableIsRefusedAndCleared) {
    bool ok = true;
    uint32_t pos = 7;
    t_spellEdit e = Classify(L"zhang", L"zhang", &ok, &pos);
    EXPECT_FALSE(ok);
    EXPECT_EQ(e.kind, kSpellEditNothing);
    EXPECT_EQ(pos, 0u);
    EXPECT_STREQ(SpellEditKindName(e.kind), L"nothing");
    Classify(L"zhan", L"zhang", &ok);  // one is a prefix of the other
    EXPECT_FALSE(ok);
    Classify(L"xi'an", L"xia'n", &ok);  // apostrophe at the difference
    EXPECT_FALSE(ok);
    Classify(L"z", L"a", &ok);  // too short
    EXPECT_FALSE(ok);
    Classify(L"zhAng", L"zhang", &ok);  // upper-case letter: not a countable letter
    EXPECT_FALSE(ok);
    Classify(L"zhnAg", L"zhAng", &ok);  // upper case is never a swap
    EXPECT_FALSE(ok);
    Classify(L"abxyz", L"abpqr", &ok);  // no single slip
    EXPECT_FALSE(ok);
    EXPECT_FALSE(SpellEditClassify(nullptr, L"ab", &e, &pos));
}
