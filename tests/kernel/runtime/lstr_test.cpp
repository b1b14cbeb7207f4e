// Length-prefixed strings: accessors on unaligned data, the comparison order,
// the holder, bounded operations and arena placement.
#include "kernel/runtime/lstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A t_lstr built in a byte buffer at a chosen offset (1 makes it unaligned).
class t_rawLstr {
public:
    explicit t_rawLstr(const std::u16string& text, size_t offset = 0, size_t spare = 0)
        : buf(offset + 2 + text.size() * 2 + spare, 0xEE), offset(offset) {
        const size_t n = text.size() * 2;
        buf[offset] = uint8_t(n);
        buf[offset + 1] = uint8_t(n >> 8);
        std::memcpy(&buf[offset + 2], text.data(), n);
    }
    static t_rawLstr Bytes(const std::vector<uint8_t>& bytes, size_t offset = 0) {
        t_rawLstr s(u"", offset, bytes.size());
        s.buf[offset] = uint8_t(bytes.size());
        s.buf[offset + 1] = uint8_t(bytes.size() >> 8);
        std::memcpy(&s.buf[offset + 2], bytes.data(), bytes.size());
        return s;
    }
    t_lstr* get() { return reinterpret_cast<t_lstr*>(&buf[offset]); }
    operator t_lstr*() { return get(); }

private:
    std::vector<uint8_t> buf;
    size_t offset;
};

std::u16string Text(const t_lstr* s) {
    std::u16string out;
    for (size_t i = 0; i < LstrGetLength(s); ++i) out.push_back(char16_t(LstrGetUnit(s, i)));
    return out;
}

std::vector<uint8_t> Bytes(const t_lstr* s) {
    const uint8_t* p = LstrGetBytes(s);
    return std::vector<uint8_t>(p, p + LstrGetByteLength(s));
}

const uint16_t* Units(const char16_t* s) {
    return reinterpret_cast<const uint16_t*>(s);
}

// ---- accessors ----

TEST(LstrTest, AccessorsAreNullSafe) {
    EXPECT_EQ(0, LstrGetByteLength(nullptr));
    EXPECT_EQ(0, LstrGetLength(nullptr));
    EXPECT_EQ(nullptr, LstrGetBytes(static_cast<const t_lstr*>(nullptr)));
    EXPECT_EQ(nullptr, LstrGetUnits(static_cast<t_lstr*>(nullptr)));
    LstrSetByteLength(nullptr, 4);
    EXPECT_FALSE(LstrSetLength(nullptr, 2));
}

TEST(LstrTest, AccessorsWorkOnUnalignedStrings) {
    t_rawLstr s(u"拼音", 1);
    EXPECT_EQ(4, LstrGetByteLength(s));
    EXPECT_EQ(2, LstrGetLength(s));
    EXPECT_EQ(u'拼', LstrGetUnit(s, 0));
    LstrSetUnit(s, 1, u'a');
    EXPECT_EQ(u"拼a", Text(s));
    EXPECT_TRUE(LstrSetLength(s, 1));
    EXPECT_EQ(2, LstrGetByteLength(s));
    LstrSetByteLength(s, 0x1234);
    EXPECT_EQ(0x1234, LstrGetByteLength(s));
    EXPECT_EQ(0x34, s.get()->raw[0]);  // little-endian count
}

TEST(LstrTest, SetLengthRefusesCountsBeyond16Bits) {
    t_rawLstr s(u"ab");
    EXPECT_FALSE(LstrSetLength(s, 32768));
    EXPECT_EQ(4, LstrGetByteLength(s));
    EXPECT_TRUE(LstrSetLength(s, 32767));
    EXPECT_EQ(65534, LstrGetByteLength(s));
}

// ---- comparison ----

TEST(LstrTest, CompareGivesPrefixAndDifferenceResults) {
    t_rawLstr ab(u"ab"), abc(u"abc"), abd(u"abd"), b(u"b"), ab2(u"ab");
    EXPECT_EQ(-1, LstrCompare(ab, abc));  // a proper prefix of b
    EXPECT_EQ(1, LstrCompare(abc, ab));   // b a proper prefix of a
    EXPECT_EQ(2, LstrCompare(abd, abc));
    EXPECT_EQ(-2, LstrCompare(ab, b));
    EXPECT_EQ(0, LstrCompare(ab, ab2));
    EXPECT_EQ(0, LstrCompare(ab, nullptr));
    EXPECT_EQ(0, LstrCompare(nullptr, ab));
    t_rawLstr empty(u"");
    EXPECT_EQ(-1, LstrCompare(empty, ab));
    EXPECT_EQ(0, LstrCompare(empty, empty));
}

TEST(LstrTest, UnitsFrom0x8000SortAfterAscii) {
    // Signed 16-bit order would put these before every ASCII letter.
    t_rawLstr high(u"\x8000"), top(u"\xFFFF"), mid(u"中"), z(u"z");
    EXPECT_EQ(2, LstrCompare(high, z));
    EXPECT_EQ(-2, LstrCompare(z, high));
    EXPECT_EQ(2, LstrCompare(top, mid));
    EXPECT_EQ(2, LstrCompare(high, mid));
    const uint16_t a[] = {0x61, 0x8001};
    const uint16_t b[] = {0x61, 0x0061};
    EXPECT_EQ(1, Ucs2CompareN(a, b, 2));
    EXPECT_EQ(0, Ucs2CompareN(a, b, 1));
    EXPECT_EQ(0, Ucs2CompareN(a, b, 0));
}

TEST(LstrTest, CompareReadsUnalignedStrings) {
    t_rawLstr a(u"abc", 1), b(u"abd", 3);
    EXPECT_EQ(-2, LstrCompare(a, b));
    t_rawLstr c(u"abc", 0);
    EXPECT_EQ(0, LstrCompare(a, c));
}

TEST(LstrTest, EqualsWideComparesWholeTextsAndAsciiCaseOnRequest) {
    t_rawLstr pinyin(u"Pinyin"), ab(u"ab"), empty(u""), han(u"拼音");
    EXPECT_FALSE(LstrEqualsWide(pinyin, L"pinyin", false));
    EXPECT_TRUE(LstrEqualsWide(pinyin, L"pinyin", true));
    EXPECT_TRUE(LstrEqualsWide(pinyin, L"PINYIN", true));
    EXPECT_FALSE(LstrEqualsWide(ab, L"abc", false));
    EXPECT_FALSE(LstrEqualsWide(ab, L"a", false));
    EXPECT_TRUE(LstrEqualsWide(empty, L"", false));
    EXPECT_TRUE(LstrEqualsWide(han, L"拼音", true));
    EXPECT_FALSE(LstrEqualsWide(nullptr, L"", false));
    EXPECT_FALSE(LstrEqualsWide(ab, nullptr, false));
    // Only letters fold: '@' and '`' also differ by 32.
    t_rawLstr at(u"@");
    EXPECT_FALSE(LstrEqualsWide(at, L"`", true));
    // A lone surrogate does not decode, so it equals nothing.
    t_rawLstr lone(u"\xD800");
    EXPECT_FALSE(LstrEqualsWide(lone, L"\xD800", false));
}

// ---- holder ----

TEST(LstrHolderTest, AppendOnEmptyHolderEqualsAssign) {
    t_lstrHolder appended, assigned;
    ASSERT_TRUE(appended.AppendBytes("abcd", 4));
    ASSERT_TRUE(assigned.Assign("abcd", 4));
    EXPECT_EQ(0, t_lstrHolder::Compare(appended, assigned));
    EXPECT_EQ(4, appended.GetByteLength());
    EXPECT_FALSE(appended.IsBorrowed());
    // The owned copy carries a 0 unit after the payload.
    EXPECT_EQ(0, appended.GetBytes()[4]);
    EXPECT_EQ(0, appended.GetBytes()[5]);
}

TEST(LstrHolderTest, AppendingToBorrowedStringLeavesItUntouched) {
    t_rawLstr original(u"ab", 1, 8);
    t_lstrHolder h(original.get());
    EXPECT_TRUE(h.IsBorrowed());
    EXPECT_EQ(original.get(), h.Get());
    ASSERT_TRUE(h.AppendLstr(t_rawLstr(u"cd")));
    EXPECT_FALSE(h.IsBorrowed());
    EXPECT_NE(original.get(), h.Get());
    EXPECT_EQ(u"abcd", Text(h.Get()));
    EXPECT_EQ(u"ab", Text(original));
}

TEST(LstrHolderTest, CopiesAreDeepAndIndependent) {
    t_rawLstr original(u"xy");
    t_lstrHolder borrowed(original.get());
    t_lstrHolder copy(borrowed);
    EXPECT_FALSE(copy.IsBorrowed());
    EXPECT_NE(original.get(), copy.Get());
    EXPECT_EQ(u"xy", Text(copy.Get()));

    t_lstrHolder other;
    other = copy;
    ASSERT_TRUE(copy.AppendU32(0x04030201));
    EXPECT_EQ(2, other.GetLength());
    EXPECT_EQ((std::vector<uint8_t>{'x', 0, 'y', 0, 1, 2, 3, 4}), Bytes(copy.Get()));

    t_lstrHolder moved(std::move(copy));
    EXPECT_EQ(nullptr, copy.Get());
    EXPECT_EQ(8, moved.GetByteLength());

    ASSERT_TRUE(moved.AppendHolder(moved));  // appending to itself
    EXPECT_EQ(16, moved.GetByteLength());
}

TEST(LstrHolderTest, AssignAndAllocate) {
    t_lstrHolder h;
    ASSERT_TRUE(h.AssignU32(0xA1B2C3D4));
    EXPECT_EQ((std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}), Bytes(h.Get()));
    ASSERT_TRUE(h.Assign(h.GetBytes() + 1, 2));  // from its own buffer
    EXPECT_EQ((std::vector<uint8_t>{0xC3, 0xB2}), Bytes(h.Get()));
    EXPECT_FALSE(h.Assign("x", 65536));
    EXPECT_EQ(2, h.GetByteLength());

    t_lstr* s = h.Allocate(6);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(6, LstrGetByteLength(s));
    EXPECT_EQ((std::vector<uint8_t>(6, 0)), Bytes(s));
    EXPECT_EQ(nullptr, h.Allocate(65536));
    EXPECT_EQ(nullptr, h.Get());
}

TEST(LstrHolderTest, AppendBeyond65535BytesFailsAndKeepsTheText) {
    std::vector<uint8_t> big(65000, 'a');
    t_lstrHolder h(big.data(), big.size());
    std::vector<uint8_t> tail(600, 'b');
    // Used to keep the sum in 16 bits: 65600 became 64 and the text was cut.
    EXPECT_FALSE(h.AppendBytes(tail.data(), tail.size()));
    EXPECT_EQ(65000, h.GetByteLength());
    EXPECT_EQ('a', h.GetBytes()[64999]);
    EXPECT_FALSE(h.AppendBytes(tail.data(), 65536));
    EXPECT_TRUE(h.AppendBytes(tail.data(), 535));
    EXPECT_EQ(65535, h.GetByteLength());
    EXPECT_FALSE(h.AppendU32(1));
    EXPECT_EQ(65535, h.GetByteLength());
}

TEST(LstrHolderTest, ConcatBuildsCopyAndReleasesResultOnOverflow) {
    t_lstrHolder h(u"ab", 4);
    t_rawLstr cd(u"cd");
    t_lstrHolder result;
    ASSERT_TRUE(t_lstrHolder::ConcatLstr(result, h, cd));
    EXPECT_EQ(u"abcd", Text(result.Get()));
    EXPECT_EQ(4, h.GetByteLength());
    ASSERT_TRUE(t_lstrHolder::ConcatU32(result, h, 0));
    EXPECT_EQ(8, result.GetByteLength());
    t_lstrHolder g(u"ef", 4);
    ASSERT_TRUE(t_lstrHolder::ConcatHolder(result, h, g));
    EXPECT_EQ(u"abef", Text(result.Get()));

    std::vector<uint8_t> big(65534, 'a');
    t_lstrHolder large(big.data(), big.size());
    EXPECT_FALSE(t_lstrHolder::ConcatLstr(result, large, cd));
    EXPECT_EQ(nullptr, result.Get());
}

// ---- bounded operations ----

TEST(LstrBoundedTest, CopyRawCopiesCountAndPayload) {
    t_rawLstr src(u"abc", 1);
    t_rawLstr dst(u"", 0, 16);
    EXPECT_EQ(8u, LstrCopyRaw(dst, src));
    EXPECT_EQ(u"abc", Text(dst));
    EXPECT_EQ(0u, LstrCopyRaw(nullptr, src));
    EXPECT_EQ(0u, LstrCopyRaw(dst, nullptr));
}

TEST(LstrBoundedTest, SubBytesChecksItsRange) {
    t_rawLstr src(u"abcd");  // 8 bytes
    t_rawLstr dst(u"zz", 1, 16);
    EXPECT_EQ(0u, LstrSubBytes(dst, 20, src, 0, 8));  // last equal to the count
    EXPECT_EQ(0u, LstrSubBytes(dst, 20, src, -1, 2));
    EXPECT_EQ(0u, LstrSubBytes(dst, 20, src, 3, 2));
    EXPECT_EQ(0u, LstrSubBytes(dst, 3, src, 2, 3));  // 2 bytes + count need 4
    EXPECT_EQ(u"zz", Text(dst));
    EXPECT_EQ(3u, LstrSubBytes(dst, 20, src, 2, 2));  // one byte
    EXPECT_EQ((std::vector<uint8_t>{'b'}), Bytes(dst));
    EXPECT_EQ(6u, LstrSubBytes(dst, 6, src, 4, 7));
    EXPECT_EQ(u"cd", Text(dst));
}

TEST(LstrBoundedTest, AppendBoundedFailsWithoutTouchingDestination) {
    t_rawLstr dst(u"ab", 1, 4);  // room for 8 bytes of payload
    t_rawLstr cd(u"cd");
    EXPECT_EQ(0u, LstrAppendBounded(dst, 9, cd));
    EXPECT_EQ(u"ab", Text(dst));
    EXPECT_EQ(8u, LstrAppendBounded(dst, 10, cd));
    EXPECT_EQ(u"abcd", Text(dst));
    EXPECT_EQ(0u, LstrAppendBounded(dst, 10, nullptr));
}

TEST(LstrBoundedTest, CapacityAbove16BitsIsNotCut) {
    // Reading only the low 16 bits made 65540 look like 4 bytes of room.
    t_rawLstr dst(u"a", 0, 8);
    t_rawLstr b(u"b");
    EXPECT_EQ(4u, LstrAppendBounded(dst, 65540, b));
    EXPECT_EQ(u"ab", Text(dst));
    // And the count itself can never pass 65535.
    std::vector<uint8_t> big(65000, 'x');
    t_rawLstr large = t_rawLstr::Bytes(big);
    t_rawLstr more = t_rawLstr::Bytes(std::vector<uint8_t>(600, 'y'));
    EXPECT_EQ(0u, LstrAppendBounded(large, 0xFFFFFFFFu, more));
    EXPECT_EQ(65000, LstrGetByteLength(large));
}

TEST(LstrBoundedTest, ConcatBoundedAllowsDestinationToBeAnOperand) {
    t_rawLstr out(u"", 1, 20);
    t_rawLstr a(u"ab"), b(u"cde");
    EXPECT_EQ(0u, LstrConcatBounded(out, 11, a, b));
    EXPECT_EQ(10u, LstrConcatBounded(out, 12, a, b));
    EXPECT_EQ(u"abcde", Text(out));

    t_rawLstr self(u"xy", 0, 10);
    EXPECT_EQ(8u, LstrConcatBounded(self, 20, self, a));
    EXPECT_EQ(u"xyab", Text(self));
    t_rawLstr tail(u"xy", 0, 10);
    EXPECT_EQ(8u, LstrConcatBounded(tail, 20, a, tail));
    EXPECT_EQ(u"abxy", Text(tail));
}

// ---- arena placement ----

TEST(LstrArenaTest, DupLstrRefusesEmptyWhileLstrToUnitsGivesATerminator) {
    t_scopeHeap heap;
    t_rawLstr empty(u"");
    EXPECT_EQ(nullptr, heap.DupLstr(empty));
    uint16_t* units = heap.LstrToUnits(empty);
    ASSERT_NE(nullptr, units);
    EXPECT_EQ(0, units[0]);
    EXPECT_EQ(nullptr, heap.DupLstr(nullptr));
    EXPECT_EQ(nullptr, heap.LstrToUnits(nullptr));

    t_rawLstr s(u"拼音", 1);
    t_lstr* dup = heap.DupLstr(s);
    ASSERT_NE(nullptr, dup);
    EXPECT_EQ(u"拼音", Text(dup));
    EXPECT_EQ(0, LstrCompare(dup, s));
    units = heap.LstrToUnits(s);
    ASSERT_NE(nullptr, units);
    EXPECT_EQ(std::u16string(u"拼音"), std::u16string(reinterpret_cast<char16_t*>(units)));

    // 32768 bytes and more read as a negative count.
    t_rawLstr half = t_rawLstr::Bytes(std::vector<uint8_t>(32768, 1));
    EXPECT_EQ(nullptr, heap.DupLstr(half));
    EXPECT_EQ(nullptr, heap.LstrToUnits(half));
}

TEST(LstrArenaTest, MakeLstrAndUtf16zToLstr) {
    t_scopeHeap heap;
    EXPECT_EQ(nullptr, heap.MakeLstr(u"ab", 0));
    EXPECT_EQ(nullptr, heap.MakeLstr(nullptr, 2));
    EXPECT_EQ(u"a", Text(heap.MakeLstr(u"ab", 2)));
    EXPECT_EQ(u"ab", Text(heap.Utf16zToLstr(Units(u"ab"))));
    EXPECT_EQ(nullptr, heap.Utf16zToLstr(Units(u"")));
    EXPECT_EQ(nullptr, heap.Utf16zToLstr(nullptr));
    std::u16string tooLong(32768, u'a');
    EXPECT_EQ(nullptr, heap.Utf16zToLstr(Units(tooLong.c_str())));
    std::u16string longest(32767, u'a');
    EXPECT_EQ(65534, LstrGetByteLength(heap.Utf16zToLstr(Units(longest.c_str()))));
}

TEST(LstrArenaTest, ConcatLstrBeyond65535BytesIsRefused) {
    t_scopeHeap heap;
    t_rawLstr a(u"ab"), b(u"cd");
    EXPECT_EQ(u"abcd", Text(heap.ConcatLstr(a, b)));
    EXPECT_EQ(nullptr, heap.ConcatLstr(a, nullptr));
    // Used to keep the sum in 16 bits and return a short, cut string.
    t_rawLstr big = t_rawLstr::Bytes(std::vector<uint8_t>(65000, 'x'));
    t_rawLstr more = t_rawLstr::Bytes(std::vector<uint8_t>(536, 'y'));
    EXPECT_EQ(nullptr, heap.ConcatLstr(big, more));
    t_rawLstr fits = t_rawLstr::Bytes(std::vector<uint8_t>(535, 'y'));
    EXPECT_EQ(65535, LstrGetByteLength(heap.ConcatLstr(big, fits)));
}

TEST(LstrArenaTest, WideConversionsRoundTripBmpText) {
    t_scopeHeap heap;
    t_lstr* s = heap.WideToLstr(L"拼音abc");
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(u"拼音abc", Text(s));
    EXPECT_STREQ(L"拼音abc", heap.LstrToWide(s));
    EXPECT_STREQ(
        "\xE6\x8B\xBC\xE9\x9F\xB3"
        "abc",
        heap.LstrToBytes(s));
    EXPECT_STREQ(L"拼音", heap.Utf16ToWideN(Units(u"拼音abc"), 2));
    EXPECT_STREQ(L"拼音abc", heap.Utf16zToWide(Units(u"拼音abc")));

    t_rawLstr unaligned(u"中文", 1);
    EXPECT_STREQ(L"中文", heap.LstrToWide(unaligned));

    t_rawLstr empty(u"");
    EXPECT_EQ(nullptr, heap.LstrToWide(empty));
    EXPECT_EQ(nullptr, heap.LstrToBytes(empty));
    EXPECT_EQ(nullptr, heap.LstrToWide(nullptr));
    EXPECT_EQ(nullptr, heap.Utf16ToWideN(Units(u"a"), 0));
    EXPECT_EQ(nullptr, heap.Utf16zToWide(Units(u"")));
    EXPECT_EQ(nullptr, heap.WideToLstr(L""));
    EXPECT_EQ(nullptr, heap.WideToLstr(nullptr));
}

TEST(LstrArenaTest, TextOutsideTheBmpIsRefused) {
    t_scopeHeap heap;
    EXPECT_EQ(nullptr, heap.WideToLstr(L"a\U0001F600"));
    t_rawLstr pair(u"a\U0001F600");  // a surrogate pair in the payload
    EXPECT_EQ(nullptr, heap.LstrToWide(pair));
    EXPECT_EQ(nullptr, heap.LstrToBytes(pair));
    t_rawLstr head(u"ab");
    EXPECT_EQ(nullptr, heap.AppendWideToLstr(head, L"\U00010000"));
    EXPECT_EQ(nullptr, heap.WideLstrConcat(L"\U00010000", head));
}

TEST(LstrArenaTest, WideToLstrNTakesAPrefixAndNeverReadsPastTheEnd) {
    t_scopeHeap heap;
    EXPECT_EQ(u"ab", Text(heap.WideToLstrN(L"abcd", 2)));
    EXPECT_EQ(u"abcd", Text(heap.WideToLstrN(L"abcd", 100)));
    EXPECT_EQ(nullptr, heap.WideToLstrN(L"abcd", 0));
    std::wstring longest(32767, L'a');
    EXPECT_EQ(65534, LstrGetByteLength(heap.WideToLstr(longest.c_str())));
    std::wstring tooLong(32768, L'a');
    EXPECT_EQ(nullptr, heap.WideToLstr(tooLong.c_str()));
}

TEST(LstrArenaTest, AppendAndPrependWideText) {
    t_scopeHeap heap;
    t_rawLstr s(u"ab", 1);
    EXPECT_EQ(u"abcd", Text(heap.AppendWideToLstr(s, L"cd")));
    EXPECT_EQ(u"abc", Text(heap.AppendWideNToLstr(s, L"cd", 1)));
    EXPECT_EQ(u"cdab", Text(heap.WideLstrConcat(L"cd", s)));
    t_rawLstr empty(u"");
    EXPECT_EQ(u"cd", Text(heap.AppendWideToLstr(empty, L"cd")));
    EXPECT_EQ(nullptr, heap.WideLstrConcat(L"cd", empty));
    EXPECT_EQ(nullptr, heap.AppendWideToLstr(s, L""));
    EXPECT_EQ(nullptr, heap.AppendWideNToLstr(s, L"cd", 0));
    EXPECT_EQ(nullptr, heap.AppendWideToLstr(nullptr, L"cd"));

    t_rawLstr big = t_rawLstr::Bytes(std::vector<uint8_t>(65534, 'x'));
    EXPECT_EQ(nullptr, heap.AppendWideToLstr(big, L"c"));
    EXPECT_EQ(nullptr, heap.WideLstrConcat(L"c", big));
}

}  // namespace
