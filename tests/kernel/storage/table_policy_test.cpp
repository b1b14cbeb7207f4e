// Bucket placement of the hash policies and the factories' refusals.
#include <gtest/gtest.h>

#include <memory>

#include "tests/kernel/storage/table_support.h"

using namespace tabletest;

namespace {

int32_t BucketOf(int id, int32_t count, const Bytes& key) {
    std::unique_ptr<t_baseHash> h(CreateHashPolicy(id, count, nullptr));
    return h ? h->CheckedIndex(L(key)) : -100;
}

Bytes Number(int32_t v) {
    Bytes b(4);
    n_tableFormat::Wr32(b.data(), uint32_t(v));
    return b;
}

int Always7(const t_lstr*) {
    return 7;
}

}  // namespace

TEST(TablePolicyTest, BucketsFollowEachPolicysRule) {
    EXPECT_EQ(BucketOf(1, 27, Str("Zoo")), 25);
    EXPECT_EQ(BucketOf(1, 27, Str("zoo")), 25);
    EXPECT_EQ(BucketOf(1, 27, Str("1a")), 26);
    EXPECT_EQ(BucketOf(2, 414, Units({413})), 413);
    EXPECT_EQ(BucketOf(2, 414, Units({414})), -1);
    EXPECT_EQ(BucketOf(2, 414, Units({0x8000})), -1);  // negative id
    EXPECT_EQ(BucketOf(2, 414, Units({})), -1);
    EXPECT_EQ(BucketOf(3, 512, Units({0x4E00})), 0);  // only the low byte counts
    EXPECT_EQ(BucketOf(3, 512, Units({0x5100})), 0);
    EXPECT_EQ(BucketOf(3, 512, Units({})), 0);
    EXPECT_EQ(BucketOf(6, 100, Bytes{1, 0, 0x61}), 97);
    EXPECT_EQ(BucketOf(6, 100, Bytes{2, 0, 0x01, 0x02}), 133 % 100);
    EXPECT_EQ(BucketOf(6, 100, Bytes{0, 0}), 0);
    EXPECT_EQ(BucketOf(4, 10, Number(9)), 9);
    EXPECT_EQ(BucketOf(4, 10, Number(10)), -1);
    EXPECT_EQ(BucketOf(4, 10, Number(-1)), -1);
}

TEST(TablePolicyTest, FactoriesRefuseUnknownIdsAndMissingCountsOrFunctions) {
    for (int id : {0, 7, -1, 99}) {
        EXPECT_EQ(CreateHashPolicy(id, 10, nullptr), nullptr) << id;
        EXPECT_EQ(CreateComparePolicy(id, nullptr), nullptr) << id;
    }
    EXPECT_EQ(CreateHashPolicy(4, 0, nullptr), nullptr);
    EXPECT_EQ(CreateHashPolicy(5, 0, &Always7), nullptr);
    EXPECT_EQ(CreateHashPolicy(5, 8, nullptr), nullptr);
    EXPECT_EQ(CreateComparePolicy(5, nullptr), nullptr);
    const int32_t defaults[] = {0, 27, 414, 512, 0, 0, 512};
    for (int id : {1, 2, 3, 6}) {
        std::unique_ptr<t_baseHash> h(CreateHashPolicy(id, 0, nullptr));
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->GetBucketCount(), defaults[id]);
        std::unique_ptr<t_baseCompare> c(CreateComparePolicy(id, nullptr));
        EXPECT_EQ(c->Compare(L(Str("ab")), L(Str("abc"))), -1);  // the default order
    }
    std::unique_ptr<t_baseHash> seg(CreateHashPolicy(5, 8, &Always7));
    EXPECT_EQ(seg->Index(L(Str("x"))), 7);
    std::unique_ptr<t_baseHash> segSmall(CreateHashPolicy(5, 4, &Always7));
    EXPECT_EQ(segSmall->Index(L(Str("x"))), 7);          // raw value, unchecked
    EXPECT_EQ(segSmall->CheckedIndex(L(Str("x"))), -1);  // but no bucket
    std::unique_ptr<t_baseCompare> dig(CreateComparePolicy(4, nullptr));
    EXPECT_EQ(dig->Compare(L(Number(1)), L(Number(2))), 0);
}
