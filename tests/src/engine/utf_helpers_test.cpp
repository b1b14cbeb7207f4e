// The UTF-8 helpers: offsets, encoding, escapes, the locale's code set, and
// reads that stay inside the NUL or the given length (texts sit in heap
// blocks of their exact size, so the sanitizer build sees any overrun).
#include "src/engine/utf_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace n_engine {
namespace {

// The bytes in a block of exactly their size, without a terminator.
struct t_exactBytes {
    explicit t_exactBytes(const std::string& s) : bytes(s.begin(), s.end()) {}
    const char* data() const { return bytes.data(); }
    int size() const { return int(bytes.size()); }
    std::vector<char> bytes;
};

TEST(UtfHelpersTest, CharOffset) {
    const struct {
        const char* text;
        int n, offset;
    } cases[] = {
        {"a\xC3\xA9\xE4\xB8\xAD", 2, 3},
        {"a\xC3\xA9\xE4\xB8\xAD", 3, 6},
        {"a\xC3\xA9\xE4\xB8\xAD", 9, 6},
        {"a\xC3\xA9\xE4\xB8\xAD", 0, 0},
        {"", 2, 0},
        {"a\xE4\xB8", 2, 3},  // a sequence cut by the NUL is the bytes present
        {"\xE4"
         "ab",
         2, 2},  // a broken lead does not swallow the letters after it
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8CharOffset(c.text, c.n), c.offset) << c.text << " n=" << c.n;
}

TEST(UtfHelpersTest, EncodeChar) {
    const struct {
        uint32_t cp;
        std::string bytes;
    } cases[] = {{0x41, "A"},
                 {0xE9, "\xC3\xA9"},
                 {0x4E2D, "\xE4\xB8\xAD"},
                 {0x10FFFF, "\xF4\x8F\xBF\xBF"},
                 {0x110000, ""}};
    for (const auto& c : cases) {
        char out[5] = "....";
        EXPECT_EQ(Utf8EncodeChar(out, c.cp), int(c.bytes.size())) << std::hex << c.cp;
        EXPECT_EQ(std::string(out, c.bytes.size()), c.bytes);
        EXPECT_EQ(std::string(out + c.bytes.size()),
                  std::string(4 - c.bytes.size(), '.'));  // nothing more written
    }
}

TEST(UtfHelpersTest, EscapeCodePoint) {
    const struct {
        uint32_t cp;
        int size;
        const char* escaped;
    } cases[] = {
        {0x7F, 8, "\\x7F"}, {0x4E2D, 8, "\\u4E2D"}, {0x1F600, 16, "\\U0001F600"},
        {'\n', 8, "\\n"},   {'\\', 8, "\\\\"},      {'A', 8, "A"},
        {1, 8, "\\x01"},  // two digits, so a hex digit after it stays a letter
        {0x4E2D, 6, ""},  // no room for the escape and its terminator
    };
    for (const auto& c : cases) {
        char out[16] = "junk";
        EXPECT_EQ(EscapeCodePoint(out, c.size, c.cp), int(std::strlen(c.escaped)))
            << std::hex << c.cp;
        EXPECT_STREQ(out, c.escaped);
    }
}

TEST(UtfHelpersTest, Unescape) {
    const struct {
        const char* escaped;
        int size;
        std::string plain;
    } cases[] = {
        {"a\\tb", 16, "a\tb"},
        {"\\101\\x4E", 16, "AN"},
        {"\\u4E2D!", 16, "\xE4\xB8\xAD!"},
        {"\\q\\x", 16, "qx"},
        {"end\\", 16, "end\\"},
        {"\\UFFFFFFFF.", 16, "."},  // no UTF-8 for it: left out
        {"ab\\u4E2D", 5, "ab"},     // the next character does not fit with the terminator
    };
    for (const auto& c : cases) {
        char out[16];
        EXPECT_EQ(UnescapeToUtf8(out, c.size, c.escaped), int(c.plain.size())) << c.escaped;
        EXPECT_EQ(std::string(out), c.plain) << c.escaped;
    }
}

TEST(UtfHelpersTest, EscapedTextUnescapesToItself) {
    for (const std::string text : {"\x01"
                                   "A\"\\q",
                                   "\xE4\xB8\xAD\xF0\x9F\x98\x80\t",
                                   "\x7F"
                                   "F"}) {
        for (bool quote : {false, true}) {
            char escaped[128], plain[64];
            EscapeUtf8String(escaped, sizeof escaped, text.c_str(), quote);
            UnescapeToUtf8(plain, sizeof plain, escaped);
            EXPECT_EQ(std::string(plain), text) << escaped;
        }
    }
}

TEST(UtfHelpersTest, LocaleCodeset) {
    const struct {
        const char* locale;
        bool utf8;
    } cases[] = {{"zh_CN.UTF-8@mod", true}, {"zh_CN.GBK", false}, {"zh_CN.utf8", true},
                 {"en_US.UTF-8+x,y", true}, {"zh_CN", false},     {"zh_CN.UTF-80", false},
                 {nullptr, false}};
    for (const auto& c : cases)
        EXPECT_EQ(ParseLocaleCodeset(c.locale), c.utf8) << (c.locale ? c.locale : "null");
}

TEST(UtfHelpersTest, DecodingStaysInsideTheLength) {
    const struct {
        std::string bytes;
        int length, capacity;
        std::vector<uint32_t> cps;
        bool findsSecond;  // U+6587 within the length
    } cases[] = {
        {"\xE4\xB8\xAD\xE6\x96\x87",
         4,
         8,
         {0x4E2D},
         false},  // the length cuts the second character
        {"\xE4\xB8\xAD\xE6\x96\x87", 6, 8, {0x4E2D, 0x6587}, true},
        {"\xE4\xB8\xAD\xE6\x96\x87", 6, 2, {0x4E2D}, true},  // one short of the capacity
        {std::string("\xE4\0\xAD", 3), 3, 8, {}, false},     // a NUL inside a sequence
        {"a\xF0\x9F\x98", 4, 8, {'a'}, false},               // the block ends inside a sequence
        {"\xE4"
         "ab",
         3,
         8,
         {},
         false},  // broken: not a continuation byte
    };
    for (const auto& c : cases) {
        const t_exactBytes text(c.bytes);
        std::vector<uint32_t> out(size_t(c.capacity), 0xEEEE);
        const int n = Utf8ToUtf32(out.data(), c.capacity, text.data(), c.length);
        ASSERT_EQ(n, int(c.cps.size())) << c.bytes;
        EXPECT_EQ(std::vector<uint32_t>(out.begin(), out.begin() + n), c.cps);
        EXPECT_EQ(out[size_t(n)], 0u);
        int index = -1;
        EXPECT_EQ(Utf8FindCharN(text.data(), c.length, 0x6587, &index) != nullptr, c.findsSecond);
    }
    // NUL-bounded walks over a text whose last sequence is cut.
    const t_exactBytes cut(std::string("a\xE4\xB8", 4));
    EXPECT_EQ(Utf8CharCount(cut.data()), 2);
    int i = 1;
    EXPECT_EQ(Utf8DecodeChar(cut.data(), &i), 0xFFFDu);
    EXPECT_EQ(i, 3);
    EXPECT_EQ(Utf8DecodeChar(cut.data(), &i), 0u);
    EXPECT_EQ(i, 3);
}

}  // namespace
}  // namespace n_engine
