// 16-bit strings: exact-fit conversions, stops at unconvertible characters,
// bounded copies, parsing, length-prefixed strings, hashes and encodings.
#include "porting3/str16.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/porting3/porting3_support.h"

namespace n_porting {
namespace {

constexpr char kGuard = '\x7F';

// "中文" in the four encodings.
const char16_t kZhongWen16[] = u"中文";
const char kZhongWenGbk[] = "\xD6\xD0\xCE\xC4";
const char kZhongWenUtf8[] = "\xE4\xB8\xAD\xE6\x96\x87";

TEST(Str16ConvertTest, ExactFitKeepsTheUnitAfterTheDestination) {
    // Each destination is exactly the converted size plus its terminator,
    // followed by a guard that must survive.
    struct Case {
        int codePage;
        const char* bytes;
        int length;
    } cases[] = {{kCodePageGbk, kZhongWenGbk, 4}, {kCodePageUtf8, kZhongWenUtf8, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codePage);
        std::vector<char> out(size_t(c.length) + 2, kGuard);
        EXPECT_EQ(c.length,
                  WideCharToMultiByte(c.codePage, 0, kZhongWen16, -1, out.data(), c.length + 1));
        EXPECT_EQ(std::string(c.bytes), out.data());
        EXPECT_EQ(kGuard, out[size_t(c.length) + 1]);
        // One byte less: the last character no longer fits and is dropped whole.
        std::vector<char> small(size_t(c.length) + 1, kGuard);
        const int n = WideCharToMultiByte(c.codePage, 0, kZhongWen16, -1, small.data(), c.length);
        EXPECT_EQ(c.length / 2, n);
        EXPECT_EQ(kGuard, small[size_t(c.length)]);

        char16_t units[4] = {1, 1, 1, u'#'};
        EXPECT_EQ(2, MultiByteToWideChar(c.codePage, 0, c.bytes, -1, units, 3));
        EXPECT_EQ(std::u16string(kZhongWen16), units);
        EXPECT_EQ(u'#', units[3]);

        wchar_t wide[4] = {1, 1, 1, L'#'};
        EXPECT_EQ(2, MultiByteToWchar(c.codePage, 0, c.bytes, -1, wide, 3));
        EXPECT_STREQ(L"中文", wide);
        EXPECT_EQ(L'#', wide[3]);
        std::vector<char> back(size_t(c.length) + 2, kGuard);
        EXPECT_EQ(c.length,
                  WcharToMultiByte(c.codePage, 0, L"中文", -1, back.data(), c.length + 1));
        EXPECT_EQ(kGuard, back[size_t(c.length) + 1]);
    }
}

TEST(Str16ConvertTest, StopsAtTheFirstCharacterThatDoesNotConvert) {
    // GBK has no Hangul (U+D55C); a surrogate pair (one character beyond
    // U+FFFF) does not pass the 16-bit side.
    char out[16];
    EXPECT_EQ(1, WideCharToMultiByte(kCodePageGbk, 0, u"a\uD55Cb", -1, out, sizeof out));
    EXPECT_STREQ("a", out);
    EXPECT_EQ(1, WideCharToMultiByte(kCodePageUtf8, 0, u"a\U0001F600b", -1, out, sizeof out));
    EXPECT_STREQ("a", out);
    char16_t units[8];
    EXPECT_EQ(1, MultiByteToWideChar(kCodePageUtf8, 0, "a\xF0\x9F\x98\x80z", -1, units, 8));
    EXPECT_EQ(std::u16string(u"a"), units);
    EXPECT_EQ(1, MultiByteToWideChar(kCodePageGbk, 0, "a\xFF\xFFz", -1, units, 8));
    // The allocating forms never hand out a cut text.
    EXPECT_EQ(nullptr, Str16ToAnsiAlloc(u"a\uD55Cb"));
    EXPECT_EQ(nullptr, Utf8ToStr16Alloc("a\xF0\x9F\x98\x80"));
    EXPECT_EQ(nullptr, AnsiToStr16Alloc(""));
}

TEST(Str16ConvertTest, SizesWithoutDestinationAndUnknownCodePages) {
    EXPECT_EQ(12, WideCharToMultiByte(kCodePageUtf8, 0, u"abc", -1, nullptr, 0));
    EXPECT_EQ(5, MultiByteToWideChar(kCodePageGbk, 0, "abcd", -1, nullptr, 0));
    EXPECT_EQ(8, WcharToMultiByte(kCodePageGbk, 0, L"ab", -1, nullptr, 0));
    char out[8];
    char16_t units[8];
    for (int cp : {0, 1252, 950, -3}) {
        EXPECT_EQ(0, WideCharToMultiByte(cp, 0, u"a", -1, out, 8));
        EXPECT_EQ(0, MultiByteToWideChar(cp, 0, "a", -1, units, 8));
        EXPECT_EQ(0, WideCharToMultiByte(cp, 0, u"a", -1, nullptr, 0));
    }
}

TEST(Str16ConvertTest, AllocatingRoundTripsAndInterning) {
    char16_t* s = AnsiToStr16Alloc(kZhongWenGbk);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(std::u16string(kZhongWen16), s);
    char* utf8 = Str16ToUtf8Alloc(s);
    EXPECT_STREQ(kZhongWenUtf8, utf8);
    char* gbk = Str16ToAnsiAlloc(s);
    EXPECT_STREQ(kZhongWenGbk, gbk);
    std::free(s);
    std::free(utf8);
    std::free(gbk);

    const char16_t* a = InternLiteral("设置");
    EXPECT_EQ(a, InternLiteral("设置"));
    EXPECT_EQ(std::u16string(u"设置"), a);
    EXPECT_EQ(std::u16string(), InternLiteral(""));
    EXPECT_EQ(InternLiteral(""), InternLiteral(nullptr));
    EXPECT_EQ(std::u16string(), InternLiteral("\xFF"));  // does not convert: empty
}

TEST(Str16ConvertTest, TwoThreadsConvertAtOnce) {
    auto work = [](int* failures) {
        for (int i = 0; i < 2000; ++i) {
            char out[8];
            char16_t units[4];
            if (WideCharToMultiByte(kCodePageGbk, 0, kZhongWen16, -1, out, sizeof out) != 4 ||
                MultiByteToWideChar(kCodePageUtf8, 0, kZhongWenUtf8, -1, units, 4) != 2 ||
                InternLiteral(i % 2 ? "甲" : "乙")[0] == 0)
                ++*failures;
        }
    };
    int f1 = 0, f2 = 0;
    std::thread t1(work, &f1), t2(work, &f2);
    t1.join();
    t2.join();
    EXPECT_EQ(0, f1 + f2);
}

TEST(Str16CopyTest, TruncatedCopiesAreTerminatedAndReported) {
    struct Case {
        size_t capacity;
        size_t count;
        const char16_t* expected;
        int result;
    } cases[] = {
        {8, SIZE_MAX, u"abcde", 0},
        {6, SIZE_MAX, u"abcde", 0},
        {5, SIZE_MAX, u"abcd", kStrTruncated},
        {1, SIZE_MAX, u"", kStrTruncated},
        {8, 3, u"abc", 0},
        {3, 3, u"ab", kStrTruncated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity * 100 + (c.count == SIZE_MAX ? 99 : c.count));
        char16_t dst[9];
        std::fill(dst, dst + 9, u'#');
        EXPECT_EQ(c.result, WcsCopyN16(dst, c.capacity, u"abcde", c.count));
        EXPECT_EQ(std::u16string(c.expected), dst);
        EXPECT_EQ(u'#', dst[c.capacity]);  // nothing past the capacity
    }
    char16_t dst[4];
    EXPECT_EQ(kStrTruncated, WcsCpyS16(dst, 4, u"abcdef"));
    EXPECT_EQ(std::u16string(u"abc"), dst);
    EXPECT_EQ(kStrInvalid, WcsCpyS16(dst, 0, u"a"));
    char bytes[4] = {0, 0, 0, '#'};
    EXPECT_EQ(kStrTruncated, MemCpyS(bytes, 3, "xyzw", 4));
    EXPECT_EQ(std::string("xyz#"), std::string(bytes, 4));
    EXPECT_EQ(0, MemMoveS(bytes, 3, bytes + 1, 2));
    EXPECT_EQ(std::string("yzz#"), std::string(bytes, 4));
}

TEST(Str16FunctionsTest, ComparisonsAndSearches) {
    EXPECT_LT(WcsCmp16(u"abc", u"abd"), 0);
    EXPECT_EQ(0, WcsICmp16(u"ABC", u"abc"));
    EXPECT_EQ(0, WcsNCmp16(u"abX", u"abY", 2));
    EXPECT_EQ(1, WmemCmp16(u"b", u"a", 1));
    EXPECT_EQ(-int(u'c'), WcsCmpN16(u"ab", 2, u"abc", 3));
    EXPECT_EQ(int(u'c'), WcsCmpN16(u"abc", 3, u"ab", 2));
    const char16_t* s = u"a/b/c";
    EXPECT_EQ(s + 3, WcsRChr16(s, u'/'));
    EXPECT_EQ(s + 5, WcsChr16(s, 0));
    EXPECT_EQ(nullptr, WcsChr16(s, u'z'));
    EXPECT_EQ(s, WcsStr16(s, u""));
    EXPECT_EQ(s + 2, WcsStr16(s, u"b/"));
    EXPECT_EQ(1u, WcsCSpn16(s, u"/"));
    EXPECT_EQ(2, FindNoCase16(u"xxABc", 5, u"abC"));
    EXPECT_STREQ("Bar", StrStrI("fooBar", "bAR"));
}

TEST(Str16FunctionsTest, TokeniserKeepsItsPlacePerThread) {
    char16_t text[] = u"a, b,,c";
    std::vector<std::u16string> tokens;
    for (char16_t* t = WcsTok16(text, u", "); t; t = WcsTok16(nullptr, u", ")) tokens.push_back(t);
    EXPECT_EQ((std::vector<std::u16string>{u"a", u"b", u"c"}), tokens);
    char16_t mine[] = u"x y";
    ASSERT_NE(nullptr, WcsTok16(mine, u" "));
    std::thread other([] {
        char16_t theirs[] = u"p q";
        WcsTok16(theirs, u" ");
        WcsTok16(nullptr, u" ");
    });
    other.join();
    char16_t* next = WcsTok16(nullptr, u" ");
    ASSERT_NE(nullptr, next);
    EXPECT_EQ(std::u16string(u"y"), next);
}

TEST(Str16FunctionsTest, NumberParsing) {
    struct Case {
        const char16_t* text;
        int radix;
        unsigned long value;
        ptrdiff_t end;
    } unsignedCases[] = {
        {u"0x1A", 0, 26, 4},   {u"  017", 0, 15, 5},
        {u"19", 0, 19, 2},     {u"ff", 16, 255, 2},
        {u"0Xff", 16, 255, 4}, {u"z", 36, 35, 1},
        {u"xyz", 10, 0, 0},    {u"4294967296", 10, 4294967295ul, 10},
    };
    for (const Case& c : unsignedCases) {
        SCOPED_TRACE(std::string(c.text, c.text + WcsLen16(c.text)));
        const char16_t* end = nullptr;
        EXPECT_EQ(c.value, WcsToUL16(c.text, &end, c.radix));
        EXPECT_EQ(c.end, end - c.text);
    }
    errno = 0;
    EXPECT_EQ(2147483647L, WToL16(u"2147483648"));
    EXPECT_EQ(ERANGE, errno);
    errno = 0;
    EXPECT_EQ(-2147483648L, WToL16(u"-2147483648"));
    EXPECT_EQ(0, errno);
    EXPECT_EQ(-42, WToI16(u" -42x"));
    char16_t buf[12];
    EXPECT_EQ(0, IToW16(-255, buf, 12, 10));
    EXPECT_EQ(std::u16string(u"-255"), buf);
    EXPECT_EQ(0, ULToW16(255, buf, 12, 16));
    EXPECT_EQ(std::u16string(u"ff"), buf);
    EXPECT_EQ(kStrInvalid, ULToW16(123456, buf, 3, 10));
    // A decimal-comma locale in the process does not change the parse.
    t_decimalCommaLocale comma;
    if (!comma.Active()) GTEST_SKIP() << "no decimal-comma locale: " << comma.Why();
    EXPECT_DOUBLE_EQ(2.5, WToF16(u"2.5"));
}

TEST(Str16LengthPrefixedTest, FitAndResults) {
    alignas(2) uint8_t buf[16] = {};
    auto* dst = reinterpret_cast<t_lstr*>(buf);
    EXPECT_EQ(1, LStrSetChars(dst, 8, u"abc", 3));
    EXPECT_EQ(6u, LStrGetLength(dst));
    EXPECT_EQ(0, LStrSetChars(dst, 7, u"abc", 3));  // 2 + 6 bytes do not fit in 7
    EXPECT_EQ(6u, LStrGetLength(dst));              // unchanged
    alignas(2) uint8_t other[16] = {};
    auto* b = reinterpret_cast<t_lstr*>(other);
    LStrSetChars(b, 16, u"de", 2);
    EXPECT_EQ(1, LStrConcat(dst, 12, dst, b));
    EXPECT_TRUE(LStrEqualsText(dst, u"abcde", false));
    EXPECT_EQ(0, LStrAppend(dst, 12, b));
    EXPECT_EQ(1, LStrConcatText(dst, 16, u"xy", b));
    EXPECT_TRUE(LStrEqualsText(dst, u"XYDE", true));
    EXPECT_EQ(1, LStrSubBytes(b, 16, dst, 2, 5));
    EXPECT_TRUE(LStrEqualsText(b, u"yd", false));
    char16_t text[4];
    EXPECT_EQ(0, LStrToText(text, 5, b));  // 4 bytes + terminator need 6
    EXPECT_EQ(1, LStrToText(text, 6, b));
    EXPECT_EQ(std::u16string(u"yd"), text);
    alignas(2) uint8_t empty[4] = {};
    auto* e = reinterpret_cast<t_lstr*>(empty);
    EXPECT_EQ(1, LStrConcat(e, 2, e, e));  // two empty strings join to an empty one
    EXPECT_EQ(-2, LStrCompare(dst, b));    // "xyde" before "yd"
}

TEST(Str16LengthPrefixedTest, PinyinComparison) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        int result;
    } cases[] = {
        {u"xi'an", u"xian", 3}, {u"xian", u"xi'an", -3}, {u"Xian", u"xian", 3},
        {u"xian", u"xian", 0},  {u"xia", u"xian", -1},   {u"xib", u"xia", 2},
        {u"XIA", u"xib", -2},   {u"xi'an'", u"xian", 3},
    };
    for (const Case& c : cases) {
        alignas(2) uint8_t ba[64], bb[64];
        auto* a = reinterpret_cast<t_lstr*>(ba);
        auto* b = reinterpret_cast<t_lstr*>(bb);
        LStrSetChars(a, 64, c.a, WcsLen16(c.a));
        LStrSetChars(b, 64, c.b, WcsLen16(c.b));
        EXPECT_EQ(c.result, LStrComparePinyin(a, b)) << int(c.a[0]) << " " << WcsLen16(c.a);
    }
}

TEST(Str16UtilityTest, HashesAndLetterEncodings) {
    EXPECT_EQ(0u, HashStr16Pjw(u""));
    EXPECT_EQ(HashStr16Pjw(u"abc"), HashStr16Pjw(u"ABC", true));
    EXPECT_NE(HashStr16Pjw(u"abc"), HashStr16Pjw(u"ABC"));
    // Long enough for the top bits to fold back: the textbook ELF values.
    EXPECT_EQ(0xABAA66Au, HashStr16Pjw(u"abcdefghij"));
    EXPECT_EQ(HashStr16Pjw(u"\x01\x02\x03\x04"), HashU32Pjw(0, 0x04030201));

    const uint8_t data[] = {0x00, 0x7F, 0xA5};
    char16_t letters[16];
    EXPECT_FALSE(BytesToLetters(data, 3, letters, 8));
    ASSERT_TRUE(BytesToLetters(data, 3, letters, 9));
    EXPECT_EQ(std::u16string(u"aahpkfnk"), letters);
    uint8_t back[4];
    EXPECT_EQ(3, LettersToBytes(letters, back, 4));
    EXPECT_EQ(0, std::memcmp(data, back, 3));
    letters[7] = u'a';  // the check pair no longer matches
    EXPECT_EQ(-1, LettersToBytes(letters, back, 4));

    char16_t code[16], text[8];
    EXPECT_EQ(8, Str16ToCode32(u"中a", code, 16));
    EXPECT_EQ(2, Code32ToStr16(code, text, 8));
    EXPECT_EQ(std::u16string(u"中a"), text);
    code[0] = u'9';
    EXPECT_EQ(-1, Code32ToStr16(code, text, 8));
}

TEST(Str16UtilityTest, ArgumentsAndPaths) {
    char16_t line[] = u" run \"my file\"\tx\n";
    char16_t* args[4];
    ASSERT_EQ(3, SplitArgs16(line, args, 4));
    EXPECT_EQ(std::u16string(u"my file"), args[1]);
    EXPECT_EQ(std::u16string(u"x"), args[2]);
    EXPECT_EQ(5u, DisplayWidth16(u"ab中d"));
    char16_t out[32];
    ASSERT_TRUE(AbbreviatePath16(out, 32, u"/home/user/documents/file.txt", 16));
    EXPECT_EQ(std::u16string(u"/hom.../file.txt"), out);  // the kept head, "...", the name
    EXPECT_EQ(1, JoinPath16(out, 32, u"/a/", u"b"));
    EXPECT_EQ(std::u16string(u"/a/b"), out);
    EXPECT_EQ(0, JoinPath16(out, 4, u"/a", u"b"));
}

}  // namespace
}  // namespace n_porting
