// Reading and writing text files in the six byte-order-mark encodings.
#include "kernel/runtime/text_file.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>
#include "tests/support/test_dir.h"

#include <string>
#include <vector>

namespace {

class TextFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(tmp_.Path().empty()); }

    std::wstring Path(const char* name) const { return tmp_.WAt(name); }
    void Put(const char* name, const std::string& bytes) const { tmp_.Put(name, bytes); }
    std::string Get(const char* name) const { return tmp_.Get(name); }
    size_t EntriesInDir() const { return tmp_.EntryCount(); }
    // Every line up to the end, with the given reader.
    template <typename Reader>
    static std::vector<std::wstring> Lines(t_textFile& f, Reader read, int capacity = 256) {
        std::vector<std::wstring> lines;
        std::vector<wchar_t> buf(static_cast<size_t>(capacity));
        while ((f.*read)(buf.data(), capacity)) lines.emplace_back(buf.data());
        return lines;
    }

    testsupport::t_testDir tmp_{"vetra-textfile"};
};

// Bytes of text in an encoding code, without the mark.
std::string Encode(const std::u32string& text, int encoding) {
    std::string out;
    auto put = [&out](uint32_t v, int bytes, bool big) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>(v >> (8 * (big ? bytes - 1 - i : i))));
    };
    for (char32_t c : text) {
        switch (encoding) {
            case kTextUtf8:
                if (c < 0x80) {
                    out.push_back(static_cast<char>(c));
                } else if (c < 0x800) {
                    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
                    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                } else if (c < 0x10000) {
                    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
                    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                } else {
                    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
                    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                }
                break;
            case kTextUtf16Le:
            case kTextUtf16Be:
                if (c >= 0x10000) {
                    put(0xD800 + ((c - 0x10000) >> 10), 2, encoding == kTextUtf16Be);
                    put(0xDC00 + ((c - 0x10000) & 0x3FF), 2, encoding == kTextUtf16Be);
                } else {
                    put(c, 2, encoding == kTextUtf16Be);
                }
                break;
            case kTextUtf32Le:
            case kTextUtf32Be:
                put(c, 4, encoding == kTextUtf32Be);
                break;
            default:
                ADD_FAILURE() << "no test encoder for " << encoding;
        }
    }
    return out;
}

const std::string kMarks[] = {"",
                              "\xEF\xBB\xBF",
                              "\xFF\xFE",
                              "\xFE\xFF",
                              std::string("\xFF\xFE\0\0", 4),
                              std::string("\0\0\xFE\xFF", 4)};

// 中文 in GBK.
const std::string kGbkZhongWen = "\xD6\xD0\xCE\xC4";

std::wstring W(const std::u32string& s) {
    return std::wstring(s.begin(), s.end());
}

TEST_F(TextFileTest, EveryMarkSelectsItsEncodingBothWays) {
    // "a中😀" and a second line; GBK has no 😀, so it gets its own text.
    const std::u32string first = U"a中😀", second = U"b";
    for (int e = kTextUtf8; e <= kTextUtf32Be; ++e) {
        SCOPED_TRACE(e);
        const std::string body = Encode(first + U"\n" + second + U"\n", e);
        Put("in.txt", kMarks[e] + body);
        t_textFile in(Path("in.txt").c_str(), kOpenRead, kTextGbk);
        ASSERT_TRUE(in.IsOpen());
        EXPECT_EQ(in.GetEncoding(), e);
        EXPECT_EQ(Lines(in, &t_textFile::ReadLine),
                  (std::vector<std::wstring>{W(first), W(second)}));

        t_textFile out(Path("out.txt").c_str(), kOpenTruncate, e);
        ASSERT_TRUE(out.IsOpen());
        out.WriteLine(W(first).c_str());
        out.WriteLine(L"\n");
        out.WriteLine(W(second + U"\n").c_str());
        ASSERT_TRUE(out.Close());
        EXPECT_EQ(Get("out.txt"), kMarks[e] + body);
    }

    Put("in.txt", "a" + kGbkZhongWen + "\n");
    t_textFile gbk(Path("in.txt").c_str(), kOpenRead, kTextUtf8);
    EXPECT_EQ(gbk.GetEncoding(), kTextGbk);
    EXPECT_EQ(Lines(gbk, &t_textFile::ReadLine), std::vector<std::wstring>{L"a中文"});
    t_textFile out(Path("out.txt").c_str(), kOpenTruncate, kTextGbk);
    out.WriteLine(L"a中文\n");
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(Get("out.txt"), "a" + kGbkZhongWen + "\n");
}

// A file without a mark is GBK whatever the caller's default; the rows of
// wide text hold the encoding's LF pattern at an offset that is not a unit
// boundary (41 0A|00 4E, 4E 00|0A 41...), which must not end a line.
TEST_F(TextFileTest, EachFileReadsAsItsLines) {
    struct t_case {
        std::string name, bytes;
        int encoding;
        std::vector<std::wstring> lines;
    };
    std::vector<t_case> cases = {
        {"one byte", "x", kTextGbk, {L"x"}},
        {"GBK last line without LF", "ab\n" + kGbkZhongWen, kTextGbk, {L"ab", L"中文"}},
        {"invalid bytes",
         kMarks[kTextUtf8] + "a\xFF" + "b\n\xE4\xB8\n",
         kTextUtf8,
         {L"a\uFFFDb", L"\uFFFD\uFFFD"}},
    };
    const std::pair<int, std::u32string> wide[] = {{kTextUtf16Le, U"\u0A41\u4E00"},
                                                   {kTextUtf16Be, U"\u4E00\u0A41"},
                                                   {kTextUtf32Le, U"\u0A0A\u4E00"},
                                                   {kTextUtf32Be, U"\u4E00\u0A41"}};
    for (const auto& [e, text] : wide)
        cases.push_back({"LF bytes inside " + std::to_string(e),
                         kMarks[e] + Encode(text + U"\nz", e),
                         e,
                         {W(text), L"z"}});
    for (int e = kTextUtf8; e <= kTextUtf32Be; ++e)
        cases.push_back({"only the mark of " + std::to_string(e), kMarks[e], e, {}});
    for (const t_case& c : cases) {
        Put("in.txt", c.bytes);
        t_textFile f(Path("in.txt").c_str(), kOpenRead, kTextUtf8);
        ASSERT_TRUE(f.IsOpen()) << c.name;
        EXPECT_EQ(f.GetEncoding(), c.encoding) << c.name;
        EXPECT_EQ(Lines(f, &t_textFile::ReadLine), c.lines) << c.name;
    }
}

TEST_F(TextFileTest, CarriageReturnsStayForReadLineAndEndLinesOtherwise) {
    Put("crlf.txt", "a\r\nb\rc");
    t_textFile plain(Path("crlf.txt").c_str(), kOpenRead, kTextGbk);
    EXPECT_EQ(Lines(plain, &t_textFile::ReadLine), (std::vector<std::wstring>{L"a\r", L"b\rc"}));
    t_textFile any(Path("crlf.txt").c_str(), kOpenRead, kTextGbk);
    EXPECT_EQ(Lines(any, &t_textFile::ReadLineAnyBreak),
              (std::vector<std::wstring>{L"a", L"b", L"c"}));
    // Not a UTF-16 file.
    t_textFile notUtf16(Path("crlf.txt").c_str(), kOpenRead, kTextGbk);
    wchar_t buf[8];
    EXPECT_EQ(notUtf16.ReadLineUtf16(buf, 8), nullptr);

    for (int e : {kTextUtf16Le, kTextUtf16Be}) {
        Put("u16.txt", kMarks[e] + Encode(U"a\r\nb\n\n😀\rc", e));
        t_textFile u16(Path("u16.txt").c_str(), kOpenRead, kTextGbk);
        EXPECT_EQ(Lines(u16, &t_textFile::ReadLineUtf16),
                  (std::vector<std::wstring>{L"a", L"b", L"", L"😀", L"c"}));
    }
}

TEST_F(TextFileTest, LongLinesCrossChunksAndOverlongLinesAreCut) {
    const std::string longLine(5000, 'q');
    // The first line ends exactly at the end of the first 1024-byte chunk.
    const std::string chunkLine(1023, 'c');
    Put("long.txt", chunkLine + "\n" + longLine + "\nnext\n");
    t_textFile f(Path("long.txt").c_str(), kOpenRead, kTextGbk);
    EXPECT_EQ(
        Lines(f, &t_textFile::ReadLine, 6000),
        (std::vector<std::wstring>{std::wstring(1023, L'c'), std::wstring(5000, L'q'), L"next"}));

    t_textFile cut(Path("long.txt").c_str(), kOpenRead, kTextGbk);
    wchar_t buf[10];
    ASSERT_NE(cut.ReadLine(buf, 10), nullptr);
    EXPECT_STREQ(buf, L"ccccccccc");
    EXPECT_STREQ(cut.GetLastError(), L"行过长");
    ASSERT_NE(cut.ReadLine(buf, 10), nullptr);
    ASSERT_NE(cut.ReadLine(buf, 10), nullptr);
    EXPECT_STREQ(buf, L"next");
    EXPECT_EQ(cut.ReadLine(buf, 0), nullptr);
}

TEST_F(TextFileTest, CharactersBeyondTheBmpAreWrittenAsUtf8) {
    // Four 4-byte characters do not fit 3 x length + 3 bytes.
    t_textFile f(Path("emoji.txt").c_str(), kOpenTruncate, kTextUtf8);
    f.WriteLine(L"😀😀😀😀");
    ASSERT_TRUE(f.Close());
    std::string expected = "\xEF\xBB\xBF";
    for (int i = 0; i < 4; ++i) expected += "\xF0\x9F\x98\x80";
    EXPECT_EQ(Get("emoji.txt"), expected);
}

TEST_F(TextFileTest, WriteFormatKeepsTheFirst2048Characters) {
    t_textFile f(Path("fmt.txt").c_str(), kOpenTruncate, kTextUtf8);
    const std::wstring big(3000, L'x');
    EXPECT_TRUE(f.WriteFormat(L"%ls|%d", big.c_str(), 7));
    EXPECT_TRUE(f.WriteFormat(L"%d-%ls", 42, L"中"));
    EXPECT_FALSE(f.WriteFormat(nullptr));
    EXPECT_STREQ(f.GetLastError(), L"参数错误");
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(Get("fmt.txt"), "\xEF\xBB\xBF" + std::string(2048, 'x') + "42-\xE4\xB8\xAD");
}

TEST_F(TextFileTest, UnwritableLineKeepsTheOldFile) {
    Put("keep.txt", "old content\n");
    t_textFile f(Path("keep.txt").c_str(), kOpenTruncate, kTextGbk);
    f.WriteLine(L"中文\n");
    f.WriteLine(L"😀 has no GBK form\n");
    EXPECT_FALSE(f.Close());
    EXPECT_STREQ(f.GetLastError(), L"文本无法转换为文件编码");
    EXPECT_EQ(Get("keep.txt"), "old content\n");
    EXPECT_EQ(EntriesInDir(), 1u);  // no temporary left behind
}

TEST_F(TextFileTest, ShorterContentReplacesTheWholeFile) {
    Put("short.txt", std::string(100, 'z'));
    t_textFile f(Path("short.txt").c_str(), kOpenWrite, kTextGbk);
    f.WriteLine(L"ab\n");
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(Get("short.txt"), "ab\n");
    // Nothing is written before Close, and ClearLines drops what was queued.
    t_textFile g(Path("short.txt").c_str(), kOpenTruncate, kTextGbk);
    g.WriteLine(L"dropped\n");
    EXPECT_EQ(Get("short.txt"), "ab\n");
    g.ClearLines();
    ASSERT_TRUE(g.Close());
    EXPECT_EQ(Get("short.txt"), "");
}

// The whole text is held in memory while reading: a file beyond the limit is
// refused at Open with a clear error instead of a huge allocation.
TEST_F(TextFileTest, FileBeyondTheReadLimitIsRefused) {
    Put("huge.txt", "");
    ASSERT_EQ(0, truncate(tmp_.At("huge.txt").c_str(), t_textFile::kMaxReadBytes + 1));  // sparse
    t_textFile f;
    EXPECT_FALSE(f.Open(Path("huge.txt").c_str(), kOpenRead, kTextGbk));
    EXPECT_STREQ(f.GetLastError(), L"文件过大");
    EXPECT_FALSE(f.IsOpen());
    wchar_t buf[4];
    EXPECT_EQ(f.ReadLine(buf, 4), nullptr);
}

TEST_F(TextFileTest, MissingFileOrUnknownEncodingFailsToOpen) {
    t_textFile f;
    EXPECT_FALSE(f.Open(Path("absent.txt").c_str(), kOpenRead, kTextGbk));
    EXPECT_STREQ(f.GetErrorText(), L"no-error");
    EXPECT_FALSE(f.Open(Path("new.txt").c_str(), kOpenTruncate, 6));
    EXPECT_FALSE(f.Open(Path("no/such/dir.txt").c_str(), kOpenTruncate, kTextUtf8));
    EXPECT_FALSE(f.IsOpen());
    wchar_t buf[4];
    EXPECT_EQ(f.ReadLine(buf, 4), nullptr);
}

}  // namespace
