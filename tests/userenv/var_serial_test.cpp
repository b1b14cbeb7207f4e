// Serialisable variables: sizes and forms, and loads refusing lengths,
// counts and offsets that point outside the bytes they are given.
#include "userenv/var_serial.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace n_userenv {
namespace {

using Bytes = std::vector<uint8_t>;

// A 28-byte record: 4 + 16 + 4 + 4.
struct t_record : VarBase {
    explicit t_record(n_porting::t_heap*) {}
    VarSimple<int, 0> id;
    VarSimpleArray<unsigned char, 16> key;
    VarSimple<unsigned int, 0u> a;
    VarSimple<int, 0> b;
    uint32_t Load(const uint8_t* buf, uint32_t n, n_porting::t_heap* heap) override {
        uint32_t used = 0;
        for (VarBase* v : std::initializer_list<VarBase*>{&id, &key, &a, &b}) {
            const uint32_t r = v->Load(buf + used, n - used, heap);
            if (r == kVarLoadFailed) return r;
            used += r;
        }
        return used;
    }
    uint32_t Save(uint8_t* buf) const override {
        uint32_t used = 0;
        for (const VarBase* v : std::initializer_list<const VarBase*>{&id, &key, &a, &b})
            used += v->Save(buf ? buf + used : nullptr);
        return used;
    }
    void Reset() override { id.Reset(), key.Reset(), a.Reset(), b.Reset(); }
};

Bytes U32s(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    return out;
}

TEST(VarSerialTest, SimpleForms) {
    n_porting::t_heap heap(1024);
    VarStringW text(&heap);
    uint8_t buf[16] = {};
    EXPECT_EQ(4u, text.Save(buf));
    EXPECT_EQ(Bytes(4, 0), Bytes(buf, buf + 4));
    ASSERT_TRUE(text.Set(u"ab"));
    EXPECT_EQ(8u, text.Save(nullptr));
    VarSimple<bool, false> flag;
    EXPECT_EQ(kVarLoadFailed, flag.Load(buf, 0, nullptr));
    EXPECT_EQ(0u, flag.Load(nullptr, 4, nullptr));
    const uint8_t two = 2;
    EXPECT_EQ(1u, flag.Load(&two, 1, nullptr));
    EXPECT_TRUE(*flag.Get(nullptr));

    const struct {
        const char* name;
        Bytes bytes;
        uint32_t text, dyn;  // consumed by VarStringW, by VarSimpleDynArray<unsigned int>
    } cases[] = {
        {"too short", {1, 0, 0}, kVarLoadFailed, kVarLoadFailed},
        {"odd byte count", U32s({3, 0}), kVarLoadFailed, kVarLoadFailed},
        {"count past the end", U32s({8, 0}), kVarLoadFailed, kVarLoadFailed},
        {"count that wraps", U32s({0xFFFFFFFC, 0}), kVarLoadFailed, kVarLoadFailed},
        {"two units", U32s({4, 0x00620061}), 8, 8},
        {"empty", U32s({0}), 4, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VarStringW s(&heap);
        VarSimpleDynArray<unsigned int> d(&heap);
        EXPECT_EQ(c.text, s.Load(c.bytes.data(), uint32_t(c.bytes.size()), nullptr));
        EXPECT_EQ(c.dyn, d.Load(c.bytes.data(), uint32_t(c.bytes.size()), nullptr));
    }
}

TEST(VarSerialTest, ComplexArray) {
    n_porting::t_heap heap(1024);
    VarComplexDynArray<t_record> list(&heap);
    EXPECT_EQ(4u, list.Save(nullptr));
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(list.Append()->id.Set(i + 7));
    ASSERT_EQ(72u, list.Save(nullptr));
    Bytes image(72);
    ASSERT_EQ(72u, list.Save(image.data()));
    EXPECT_EQ(U32s({72, 8, 16, 44}), Bytes(image.begin(), image.begin() + 16));
    VarComplexDynArray<t_record> back(&heap);
    ASSERT_EQ(72u, back.Load(image.data(), 72, nullptr));
    ASSERT_EQ(2u, back.GetCount());
    EXPECT_EQ(8, *back.GetAt(1)->id.Get(nullptr));

    auto with = [&](size_t at, uint32_t value) {
        Bytes b = image;
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(value >> (8 * i));
        return b;
    };
    const struct {
        const char* name;
        Bytes bytes;
        uint32_t available;
    } refused[] = {
        {"total above what is available", image, 71},
        {"table length not a multiple of 4", with(4, 7), 72},
        {"huge count", with(4, 0xFFFFFFFC), 72},
        {"count past the records", with(4, 4 * 17), 72},
        {"offset past the end", with(12, 72), 72},
        {"offset inside the table", with(8, 12), 72},
        {"record cut by the total", with(0, 60), 72},
        {"total below the header", with(0, 6), 72},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.name);
        VarComplexDynArray<t_record> a(&heap);
        EXPECT_EQ(kVarLoadFailed, a.Load(r.bytes.data(), r.available, nullptr));
        EXPECT_EQ(0u, a.GetCount());
    }
}

// An arena that gives out at most 16 MiB in all.
size_t g_given = 0;
void* CappedAlloc(size_t n) {
    if (n > (16u << 20) - g_given) return nullptr;
    g_given += n;
    return std::malloc(n);
}

// Appending one by one keeps the arena linear in the count: 20,000 records
// once took 1.6 GB, every smaller table of records kept.
TEST(VarSerialTest, ComplexArrayAppendsInLinearSpace) {
    g_given = 0;
    n_porting::t_heap heap(4096, CappedAlloc);
    VarComplexDynArray<t_record> list(&heap);
    for (int i = 0; i < 20000; ++i) {
        t_record* r = list.Append();
        ASSERT_NE(nullptr, r) << i << " records, " << g_given << " bytes";
        r->id.Set(i);
    }
    ASSERT_EQ(20000u, list.GetCount());
    EXPECT_EQ(12345, *list.GetAt(12345)->id.Get(nullptr));
    EXPECT_EQ(19999, *list.GetAt(19999)->id.Get(nullptr));
}

}  // namespace
}  // namespace n_userenv
