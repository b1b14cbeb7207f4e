// The number-frequency adjuster over a small number-frequency image.
#include <gtest/gtest.h>

#include "kernel/lexicon/small_dicts_numeric.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

namespace {

class NumericTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = BuildImage(t_systemTable::kNumFreq,
                           {{t_fields().S(u"一").U16(0).U32(0), t_fields().S(u"二").U16(2).U32(3),
                             t_fields().S(u"三").U16(7).U32(4)}});
        ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
        t_candWord::Clear(&cand);
    }
    bool Adjust(const std::u16string& text, int32_t id) {
        word = U(text);
        cand.text = L(word);
        cand.frequency = id;
        cand.score = 0;
        cand.adjustFlags = 0;
        return numeric.AdjustCandidate(&cand);
    }
    Bytes image, word;
    t_numFreqAdjustDict dict;
    t_Numeric numeric{&dict};
    t_candWord cand;
};

}  // namespace

TEST_F(NumericTest, RecordingCountsOncePerInput) {
    numeric.BeginInput(true);
    EXPECT_TRUE(numeric.RecordNumber(L(U(u"一")), 5));
    EXPECT_FALSE(numeric.RecordNumber(L(U(u"一")), 5));
    uint16_t kind = 0;
    uint32_t count = 0;
    ASSERT_TRUE(dict.Get(L(U(u"一")), &kind, &count));
    EXPECT_EQ(1, kind);
    EXPECT_EQ(1u, count);
    numeric.BeginInput(true);
    EXPECT_TRUE(numeric.RecordNumber(L(U(u"一")), 5));
    ASSERT_TRUE(dict.Get(L(U(u"一")), &kind, &count));
    EXPECT_EQ(2u, count);
    numeric.BeginInput(true);
    EXPECT_FALSE(numeric.RecordNumber(L(U(u"九")), 5));
}

TEST_F(NumericTest, ScoreRisesByKind) {
    numeric.BeginInput(true);
    EXPECT_FALSE(Adjust(u"一", 1));  // kind 0
    EXPECT_TRUE(Adjust(u"二", 2));
    EXPECT_DOUBLE_EQ(300.0, cand.score);
    EXPECT_EQ(t_Numeric::kAdjustedFlag, cand.adjustFlags & t_Numeric::kAdjustedFlag);
    EXPECT_TRUE(Adjust(u"三", 3));
    EXPECT_DOUBLE_EQ(4.0, cand.score);
    numeric.BeginInput(false);
    EXPECT_FALSE(Adjust(u"二", 2));
}

TEST_F(NumericTest, ForgottenCandidateIsLeftAloneForFifteenInputs) {
    numeric.BeginInput(true);
    ASSERT_TRUE(numeric.ForgetNumber(L(U(u"二")), 42));
    for (int i = 1; i <= 15; ++i) {
        numeric.BeginInput(true);
        EXPECT_FALSE(Adjust(u"二", 42)) << i;
    }
    numeric.BeginInput(true);
    EXPECT_TRUE(Adjust(u"二", 42));
    uint16_t kind = 0;
    uint32_t count = 0;
    ASSERT_TRUE(dict.Get(L(U(u"二")), &kind, &count));
    EXPECT_EQ(2u, count);
}

TEST_F(NumericTest, ForgettingTheLastUseReturnsKindOneToZero) {
    numeric.BeginInput(true);
    ASSERT_TRUE(numeric.RecordNumber(L(U(u"一")), 0));
    ASSERT_TRUE(numeric.ForgetNumber(L(U(u"一")), 9));
    uint16_t kind = 9;
    uint32_t count = 9;
    ASSERT_TRUE(dict.Get(L(U(u"一")), &kind, &count));
    EXPECT_EQ(0, kind);
    EXPECT_EQ(0u, count);
    EXPECT_FALSE(numeric.ForgetNumber(L(U(u"一")), 9));
    // A later record of the same id clears the forgotten mark.
    numeric.BeginInput(true);
    ASSERT_TRUE(numeric.RecordNumber(L(U(u"一")), 9));
    EXPECT_TRUE(Adjust(u"一", 9));
}

TEST_F(NumericTest, CountsAreSavedAndNumbersNeverAdded) {
    EXPECT_FALSE(dict.SetCount(L(U(u"十")), 5));
    ASSERT_TRUE(dict.SetCount(L(U(u"三")), 11));
    const std::string dir = TempDir();
    ASSERT_TRUE(dict.Save(Wide(dir + "/num.bin").c_str()));
    Bytes saved = ReadBytes(dir + "/num.bin");
    t_numFreqAdjustDict again;
    ASSERT_TRUE(again.Load(saved.data(), int32_t(saved.size())));
    uint16_t kind = 0;
    uint32_t count = 0;
    ASSERT_TRUE(again.Get(L(U(u"三")), &kind, &count));
    EXPECT_EQ(7, kind);
    EXPECT_EQ(11u, count);
}
