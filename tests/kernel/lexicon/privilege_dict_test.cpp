// The privilege dictionary over built images: lookups, prefix tests and
// listings of key table 2.
#include <gtest/gtest.h>

#include <cstring>

#include "kernel/lexicon/privilege_dict.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

namespace {

class PrivilegeDictTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = BuildImage(
            t_systemTable::kPrivilege,
            {{},
             {},
             {t_fields().S(u"nihao").S(u"你好").U32(7), t_fields().S(u"nihao").S(u"拟好").U32(3),
              t_fields().S(u"nihaoma").S(u"你好吗").U32(1),
              t_fields().S(u"nizai").S(u"你在").U32(2)}});
        ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    }
    Bytes image;
    t_privilegeDictCore dict;
};

}  // namespace

TEST_F(PrivilegeDictTest, LookupCopiesTheChainInOrder) {
    t_scopeHeap heap;
    t_privilegeWord** out = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(1, dict.Lookup(heap, L(U(u"nihao")), &out, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ(u"你好", Text(out[0]->word));
    EXPECT_EQ(7u, out[0]->value);
    EXPECT_EQ(u"拟好", Text(out[1]->word));
    EXPECT_EQ(0, dict.Lookup(heap, L(U(u"absent")), &out, &count));
}

TEST_F(PrivilegeDictTest, KeyWithoutChainYieldsNoWords) {
    // A key row whose link says "none".
    Bytes other =
        BuildImage(t_systemTable::kPrivilege, {{}, {}, {t_fields().S(u"solo").S(u"独").U32(1)}});
    t_tableFile reader;
    reader.SetBucketCount(0, 200);
    ASSERT_TRUE(reader.Attach(other.data(), kPrivilegeVersion, int64_t(other.size())));
    const uint8_t* row = nullptr;
    ASSERT_TRUE(reader.FindRow(L(U(u"solo")), 2, &row));
    const uint32_t none = 0xFFFFFFFEu;
    ASSERT_TRUE(reader.SetFieldAt(&none, 4, row, reader.GetLayout().keyLayouts[2].linkOffset, 2,
                                  false, true));
    reader.Detach();
    t_privilegeDictCore d;
    ASSERT_TRUE(d.Load(other.data(), int32_t(other.size())));
    t_scopeHeap heap;
    t_privilegeWord** out = nullptr;
    uint32_t count = 9;
    EXPECT_EQ(1, d.Lookup(heap, L(U(u"solo")), &out, &count));
    EXPECT_EQ(0u, count);
}

TEST_F(PrivilegeDictTest, PrefixOfALongerKeyIsFlaggedButNotFound) {
    uint8_t longer = 0;
    EXPECT_EQ(-1, dict.FindPrefix(L(U(u"nih")), &longer));
    EXPECT_EQ(1, longer);
    EXPECT_GE(dict.FindPrefix(L(U(u"nihao")), &longer), 0);
    EXPECT_EQ(1, longer);
    EXPECT_GE(dict.FindPrefix(L(U(u"nihaoma")), &longer), 0);
    EXPECT_EQ(0, longer);
    EXPECT_EQ(-1, dict.FindPrefix(L(U(u"xyz")), &longer));
    EXPECT_EQ(0, longer);
}

TEST_F(PrivilegeDictTest, ListByPrefixCopiesTheMatchingKeys) {
    t_scopeHeap heap;
    uint32_t rows[8];
    t_lstr* keys[8];
    ASSERT_EQ(3, dict.ListByPrefix(heap, L(U(u"ni")), rows, keys, 8));
    EXPECT_EQ(u"nihao", Text(keys[0]));
    EXPECT_EQ(u"nizai", Text(keys[2]));
    EXPECT_EQ(2, dict.ListByPrefix(heap, L(U(u"ni")), rows, keys, 2));
    EXPECT_EQ(-1, dict.ListByPrefix(heap, nullptr, rows, keys, 8));
    EXPECT_EQ(-1, dict.ListByPrefix(heap, L(U(u"ni")), rows, keys, 0));
    EXPECT_GE(dict.GetKeyCount(), 3);
}

TEST(PrivilegeDictLoadTest, BadImagesLeaveItNotReady) {
    t_privilegeDictCore d;
    EXPECT_FALSE(d.Load(nullptr, 10));
    Bytes image = BuildImage(t_systemTable::kInfoKey, {});
    EXPECT_FALSE(d.Load(image.data(), int32_t(image.size())));
    EXPECT_EQ(0, d.GetKeyCount());
    uint8_t longer = 1;
    EXPECT_EQ(-1, d.FindPrefix(L(U(u"a")), &longer));
    EXPECT_EQ(0, longer);
}

// The file lives in the user directory: every byte of a damaged copy flipped
// in turn; attach fails or lookups stay inside the image (the words are
// copied out of it, so the sanitizer build catches a read past it).
TEST_F(PrivilegeDictTest, DamagedImagesNeverReadOutside) {
    const Bytes nihao = U(u"nihao"), ni = U(u"ni"), nih = U(u"nih");
    size_t attached = 0;
    t_scopeHeap heap;
    for (size_t pos = 0; pos < image.size(); ++pos) {
        for (uint8_t x : {uint8_t(0xFF), uint8_t(0x01)}) {
            Bytes bad = image;
            bad[pos] ^= x;
            t_privilegeDictCore d;
            if (!d.Load(bad.data(), int32_t(bad.size()))) continue;
            ++attached;
            t_privilegeWord** out = nullptr;
            uint32_t count = 0;
            d.Lookup(heap, L(nihao), &out, &count);
            uint8_t longer = 0;
            d.FindPrefix(L(nih), &longer);
            uint32_t rows[8];
            t_lstr* keys[8];
            d.ListByPrefix(heap, L(ni), rows, keys, 8);
            d.GetKeyCount();
        }
    }
    EXPECT_GT(attached, 0u);
}
