// Code converter: charset names from LANG, per-thread descriptors, capacities
// and termination, bounded copies and the wide-string appenders.
#include "kernel/runtime/codepage.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kZhongUtf8[] = "\xE4\xB8\xAD";
const char kZhongGbk[] = "\xD6\xD0";

// Sets LANG for one test and puts the old value back afterwards.
class CodepageLangTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("LANG");
        hadLang = old != nullptr;
        if (old) oldLang = old;
    }
    void TearDown() override {
        if (hadLang)
            setenv("LANG", oldLang.c_str(), 1);
        else
            unsetenv("LANG");
    }
    static std::string EnvName() {
        char name[kCharsetNameSize];
        GetCharsetName(kCharsetEnv, name);
        return name;
    }
    // L"中" in the environment's charset.
    static std::string ZhongInEnv() {
        char out[16];
        size_t capacity = sizeof out;
        if (!WideToBytes(L"中", out, capacity, kCharsetEnv)) return "<failed>";
        return std::string(out, capacity);
    }

private:
    bool hadLang = false;
    std::string oldLang;
};

TEST(CodepageTest, CharsetNamesOfTheFixedCodes) {
    char name[kCharsetNameSize];
    GetCharsetName(kCharsetUtf8, name);
    EXPECT_STREQ("UTF-8", name);
    GetCharsetName(kCharsetGbk, name);
    EXPECT_STREQ("GBK", name);
    GetCharsetName(kCharsetUcs2, name);
    EXPECT_STREQ("UCS-2LE", name);
    GetCharsetName(kCharsetUcs4, name);
    EXPECT_STREQ("UCS-4LE", name);
    GetCharsetName(7, name);
    EXPECT_STREQ("", name);
}

// The charset comes from LANG: none or no name means UTF-8, a modifier is cut
// (it used to stay in the name, iconv refused it and no path converted), an
// unknown one falls back to UTF-8. The rows run in one thread and switch
// between GBK and UTF-8, so a descriptor cached for the old LANG would show.
TEST_F(CodepageLangTest, LangNamesTheEnvironmentCharset) {
    const struct {
        const char* lang;  // null: unset
        const char* name;  // null: not checked
        const char* zhong;
    } cases[] = {
        {nullptr, "UTF-8", kZhongUtf8},
        {"zh_CN.GBK", "GBK", kZhongGbk},
        {"C", "UTF-8", kZhongUtf8},
        {"zh_CN.GBK@stroke", "GBK", kZhongGbk},
        {"zh_CN.", "UTF-8", kZhongUtf8},
        {"zh_CN.GBK", "GBK", kZhongGbk},
        {"en_US.UTF-8@latin", "UTF-8", kZhongUtf8},
        {"zh_CN.GBK", "GBK", kZhongGbk},
        {"xx_XX.NO-SUCH-CHARSET", nullptr, kZhongUtf8},
    };
    for (const auto& c : cases) {
        const std::string lang = c.lang ? c.lang : "(unset)";
        if (c.lang)
            setenv("LANG", c.lang, 1);
        else
            unsetenv("LANG");
        if (c.name) {
            EXPECT_EQ(c.name, EnvName()) << lang;
        }
        EXPECT_EQ(c.zhong, ZhongInEnv()) << lang;
        wchar_t back[4];
        size_t capacity = 4;
        ASSERT_TRUE(BytesToWide(c.zhong, strlen(c.zhong), back, capacity, kCharsetEnv)) << lang;
        EXPECT_STREQ(L"中", back) << lang;
    }
}

// A cached descriptor of a stateful charset must start each conversion in its
// initial shift state, even after a conversion that stopped half-way.
TEST_F(CodepageLangTest, CachedDescriptorStartsInItsInitialState) {
    setenv("LANG", "ja_JP.ISO-2022-JP", 1);
    char out[16];
    size_t capacity = 6;  // "a", ESC $ B and the kanji fit; the final ESC ( B does not
    EXPECT_FALSE(WideToBytes(L"a日", out, capacity, kCharsetEnv));
    capacity = sizeof out;
    ASSERT_TRUE(WideToBytes(L"a", out, capacity, kCharsetEnv));
    EXPECT_EQ("a", std::string(out, capacity));
    capacity = sizeof out;
    ASSERT_TRUE(WideToBytes(L"日", out, capacity, kCharsetEnv));
    EXPECT_EQ("\x1b$BF|\x1b(B", std::string(out, capacity));
}

TEST(CodepageTest, ManyCharsetPairsInTurnStayCorrect) {
    // More pairs than the per-thread cache keeps: evicted ones must reopen cleanly.
    const int codes[] = {kCharsetUtf8, kCharsetGbk, kCharsetUcs2, kCharsetUcs4};
    for (int round = 0; round < 3; ++round) {
        for (int to : codes) {
            for (int from : codes) {
                // 中 in `from`, converted to `to`, then back to wide.
                wchar_t zhong[] = L"中";
                char in[16], mid[16];
                size_t inLen = sizeof in;
                ASSERT_TRUE(WideToBytes(zhong, in, inLen, from)) << from;
                const char* ip = in;
                char* mp = mid;
                size_t inLeft = inLen, midLeft = sizeof mid;
                ASSERT_TRUE(IconvConvert(to, from, &ip, &inLeft, &mp, &midLeft));
                wchar_t back[4];
                size_t capacity = 4;
                ASSERT_TRUE(BytesToWide(mid, sizeof mid - midLeft, back, capacity, to));
                EXPECT_STREQ(L"中", back) << to << " <- " << from;
            }
        }
    }
}

TEST(CodepageTest, FailedConversionDoesNotSpoilTheNext) {
    wchar_t out[8];
    size_t capacity = 8;
    EXPECT_FALSE(BytesToWideUtf8("\xE4\xB8", 2, out, capacity));  // cut sequence
    EXPECT_FALSE(
        BytesToWideUtf8("a\xFF"
                        "b",
                        3, out, capacity));  // invalid byte
    EXPECT_EQ(8u, capacity);
    ASSERT_TRUE(BytesToWideUtf8("ab", 2, out, capacity));
    EXPECT_EQ(2u, capacity);
    EXPECT_STREQ(L"ab", out);
}

TEST(CodepageTest, ThreadsConvertAtTheSameTime) {
    std::vector<std::thread> threads;
    std::vector<int> failures(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 300; ++i) {
                char out[8];
                size_t capacity = sizeof out;
                const int charset = (t + i) % 2 ? kCharsetGbk : kCharsetUtf8;
                if (!WideToBytes(L"中", out, capacity, charset) ||
                    std::string(out) != (charset == kCharsetGbk ? kZhongGbk : kZhongUtf8))
                    ++failures[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int f : failures) EXPECT_EQ(0, f);
}

// Destructors that run while a thread ends (here one of a thread_local made
// before the thread's first conversion, so it is destroyed after the cache)
// may still convert text.
std::string convertedAtThreadExit;
struct t_convertsWhenDestroyed {
    ~t_convertsWhenDestroyed() {
        char out[8];
        size_t capacity = sizeof out;
        convertedAtThreadExit = WideToBytesGbk(L"中", out, capacity) ? out : "<failed>";
    }
};
thread_local t_convertsWhenDestroyed convertsWhenDestroyed;

TEST(CodepageTest, ConversionWorksWhileTheThreadEnds) {
    std::thread worker([] {
        (void)&convertsWhenDestroyed;
        char out[8];
        size_t capacity = sizeof out;
        EXPECT_TRUE(WideToBytesGbk(L"中", out, capacity));
    });
    worker.join();
    EXPECT_EQ(kZhongGbk, convertedAtThreadExit);
}

TEST(CodepageTest, CharactersBeyondTheBmpDoNotPassUcs2) {
    uint16_t units[8];
    size_t capacity = 8;
    EXPECT_FALSE(WideToUtf16(L"a\U0001F600", units, capacity));
    const uint16_t pair[] = {0xD83D, 0xDE00};
    wchar_t wide[4];
    capacity = 4;
    EXPECT_FALSE(Utf16ToWide(pair, 2, wide, capacity));
    // UTF-8 has no such limit.
    char bytes[8];
    capacity = sizeof bytes;
    ASSERT_TRUE(WideToBytesUtf8(L"\U0001F600", bytes, capacity));
    EXPECT_EQ(4u, capacity);
}

TEST(CodepageTest, ExactCapacitySucceedsWithoutTerminator) {
    const uint16_t units[] = {'a', 'b', 'c'};
    wchar_t out[4] = {L'x', L'x', L'x', L'x'};
    size_t capacity = 3;
    ASSERT_TRUE(Utf16ToWide(units, 3, out, capacity));
    EXPECT_EQ(3u, capacity);
    EXPECT_EQ(L'c', out[2]);
    EXPECT_EQ(L'x', out[3]);
    // With room, a terminator follows the result.
    capacity = 4;
    ASSERT_TRUE(Utf16ToWide(units, 2, out, capacity));
    EXPECT_EQ(2u, capacity);
    EXPECT_EQ(0, out[2]);
    // Too little room fails as a whole.
    capacity = 2;
    EXPECT_FALSE(Utf16ToWide(units, 3, out, capacity));
    EXPECT_EQ(2u, capacity);
}

TEST(CodepageTest, ConversionsBetweenTheKernelForms) {
    uint16_t units[8] = {};
    size_t capacity = 8;
    ASSERT_TRUE(WideToUtf16(L"中a", units, capacity));
    EXPECT_EQ(2u, capacity);
    EXPECT_EQ(0x4E2D, units[0]);
    EXPECT_EQ('a', units[1]);

    char bytes[8];
    capacity = sizeof bytes;
    ASSERT_TRUE(Utf16zToBytes(units, bytes, capacity, kCharsetGbk));
    EXPECT_EQ(std::string(kZhongGbk) + "a", std::string(bytes, capacity));
    EXPECT_EQ(0, bytes[capacity]);
    capacity = sizeof bytes;
    ASSERT_TRUE(Utf16ToBytes(units, 1, bytes, capacity, kCharsetUtf8));
    EXPECT_STREQ(kZhongUtf8, bytes);

    uint16_t back[4] = {};
    capacity = 4;
    ASSERT_TRUE(BytesToUtf16("\xD6\xD0\xCE\xC4", 4, back, capacity, kCharsetGbk));
    EXPECT_EQ(2u, capacity);
    EXPECT_EQ(0x4E2D, back[0]);
    EXPECT_EQ(0x6587, back[1]);

    wchar_t wide[4];
    capacity = 4;
    ASSERT_TRUE(BytesToWideGbk("\xD6\xD0\xCE\xC4", 4, wide, capacity));
    EXPECT_STREQ(L"中文", wide);
    capacity = sizeof bytes;
    ASSERT_TRUE(WideToBytesGbk(L"中文", bytes, capacity));
    EXPECT_STREQ("\xD6\xD0\xCE\xC4", bytes);

    capacity = 4;
    EXPECT_FALSE(BytesToWide(nullptr, 2, wide, capacity, kCharsetUtf8));
    EXPECT_FALSE(WideToBytes(L"a", nullptr, capacity, kCharsetUtf8));
    EXPECT_FALSE(WideToUtf16(nullptr, back, capacity));
    // Text that GBK cannot hold.
    capacity = sizeof bytes;
    EXPECT_FALSE(WideToBytesGbk(L"\U0001F600", bytes, capacity));
}

TEST(CodepageTest, WcsCopyNeedsRoomForTheTerminator) {
    wchar_t buf[6] = L"zzzzz";
    EXPECT_EQ(-1, WcsCopy(buf, 5, L"abcde"));
    EXPECT_STREQ(L"zzzzz", buf);
    EXPECT_EQ(0, WcsCopy(buf, 6, L"abcde"));
    EXPECT_STREQ(L"abcde", buf);
    EXPECT_EQ(0, WcsCopyN(buf, 3, L"xyz", 2));
    EXPECT_STREQ(L"xy", buf);
    EXPECT_EQ(0, WcsCopyN(buf, 6, L"q", 100));
    EXPECT_STREQ(L"q", buf);
    EXPECT_EQ(-1, WcsCopy(nullptr, 6, L"a"));
}

TEST(CodepageTest, WcsCatChecksOldLengthAndRoom) {
    wchar_t buf[6] = L"ab";
    EXPECT_EQ(-1, WcsCat(buf, 5, L"cde"));
    EXPECT_STREQ(L"ab", buf);
    EXPECT_EQ(0, WcsCat(buf, 6, L"cde"));
    EXPECT_STREQ(L"abcde", buf);
    wchar_t two[6] = L"ab";
    EXPECT_EQ(0, WcsCatN(two, 6, L"cdef", 2));
    EXPECT_STREQ(L"abcd", two);
    // A destination with no terminator inside its room is refused.
    wchar_t full[3] = {L'a', L'b', L'c'};
    EXPECT_EQ(-1, WcsCat(full, 3, L""));
}

TEST(CodepageTest, CheckedMemoryCopiesRefuseOversizedCounts) {
    char dst[4] = "abc";
    EXPECT_EQ(-1, MemCopyChecked(dst, 4, "wxyz!", 5));
    EXPECT_STREQ("abc", dst);
    EXPECT_EQ(0, MemCopyChecked(dst, 4, "xyz", 4));
    EXPECT_STREQ("xyz", dst);
    EXPECT_EQ(-1, MemMoveChecked(dst, 2, dst + 1, 3));
    EXPECT_EQ(0, MemMoveChecked(dst, 4, dst + 1, 3));
    EXPECT_STREQ("z", dst + 1);
    EXPECT_EQ(0, MemCopyChecked(nullptr, 0, nullptr, 0));
}

// Each integer whole on every kind of destination; a buffer one character
// short takes nothing.
TEST(CodepageTest, IntAppendersWriteEveryDigit) {
    const struct {
        int v;
        const wchar_t* text;
    } rows[] = {{INT_MIN, L"-2147483648"}, {0, L"0"}, {INT_MAX, L"2147483647"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.v);
        const std::wstring expected = std::wstring(L"n=") + row.text;
        std::wstring s = L"n=";
        EXPECT_EQ(expected, WstrAppendInt(s, row.v));
        std::u16string u = u"n=";
        EXPECT_EQ(std::u16string(expected.begin(), expected.end()), WstrAppendInt2(u, row.v));
        wchar_t buf[16] = L"n=";
        EXPECT_EQ(nullptr, WstrAppendIntC(buf, expected.size(), row.v));
        EXPECT_STREQ(L"n=", buf);
        EXPECT_EQ(buf, WstrAppendIntC(buf, expected.size() + 1, row.v));
        EXPECT_EQ(expected, buf);
    }
}

// glibc's vswprintf leaves the buffer unterminated on overflow; a large double
// used to append whatever followed the buffer.
TEST(CodepageTest, AppendDoubleOfAHugeValueIsWholeAndClean) {
    std::wstring s;
    WstrAppendDouble(s, 1.5);
    EXPECT_EQ(L"1.500000", s);
    s.clear();
    WstrAppendDouble(s, -1e300);
    ASSERT_EQ(309u, s.size());  // sign, 301 digits, '.', 6 decimals
    EXPECT_EQ(L"-1000", s.substr(0, 5));
    EXPECT_EQ(L".000000", s.substr(s.size() - 7));
    for (wchar_t c : s.substr(1, 301)) EXPECT_TRUE(std::iswdigit(c));
    // Into a buffer: the same whole text, or nothing where it does not fit.
    std::vector<wchar_t> buf(310, L'\0');
    EXPECT_EQ(nullptr, WstrAppendDoubleC(buf.data(), 309, -1e300));
    EXPECT_EQ(0, buf[0]);
    ASSERT_EQ(buf.data(), WstrAppendDoubleC(buf.data(), 310, -1e300));
    EXPECT_EQ(s, buf.data());
}

// The three GBK appenders agree: decoded text, or nothing for a null string
// and for bytes that are no GBK (a character cut short, a byte that starts
// none); the buffer one answers null for bad bytes and for too little room.
TEST(CodepageTest, GbkAppendersDecodeOrAppendNothing) {
    const struct {
        const char* gbk;
        const wchar_t* text;  // null: the bytes do not decode
    } rows[] = {{"\xD6\xD0\xCE\xC4", L"中文"},
                {"", L""},
                {nullptr, L""},
                {"\xD6", nullptr},
                {"a\xFF\xFE"
                 "b",
                 nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.gbk ? row.gbk : "(null)");
        const std::wstring expected = std::wstring(L"<") + (row.text ? row.text : L"");
        std::wstring s = L"<";
        EXPECT_EQ(expected, WstrAppendGbk(s, row.gbk));
        std::wstring p = L"<";
        EXPECT_EQ(&p, WstrAppendGbkPtr(&p, row.gbk));
        EXPECT_EQ(expected, p);
        wchar_t buf[8] = L"<";
        EXPECT_EQ(row.text ? buf : nullptr, WstrAppendGbkC(buf, 8, row.gbk));
        EXPECT_EQ(expected, buf);
    }
    EXPECT_EQ(nullptr, WstrAppendGbkPtr(nullptr, "a"));
    wchar_t small[3] = L"<";
    EXPECT_EQ(nullptr, WstrAppendGbkC(small, 3, "\xD6\xD0\xCE\xC4"));
    EXPECT_STREQ(L"<", small);
    wchar_t unterminated[2] = {L'a', L'b'};
    EXPECT_EQ(nullptr, WstrAppendGbkC(unterminated, 2, nullptr));
    EXPECT_EQ(nullptr, WstrAppendIntC(nullptr, 16, 1));
}

TEST(CodepageTest, AppendWstrStopsAtTheFirstZero) {
    std::wstring s = L"<";
    WstrAppendWstr(s, L"a\0b");
    WstrAppendWstr(s, nullptr);
    EXPECT_EQ(L"<a", s);
}

}  // namespace
