// The UTF-16 word-list format: header, entries, comments, tokens and limits.
#include "kernel/runtime/word_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/test_dir.h"

namespace {

// Little-endian bytes of UTF-16 text.
std::string Le(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

const std::u16string kHead = u"\uFEFFFormatVersion=v1.0\n\n";

std::u16string Units(const uint16_t* p) {
    std::u16string s;
    while (*p) s.push_back(static_cast<char16_t>(*p++));
    return s;
}

const uint16_t* U(const std::u16string& s) {
    return reinterpret_cast<const uint16_t*>(s.c_str());
}

class WordListTest : public ::testing::Test {
protected:
    // Opens the reader over the bytes of text, kept alive by the fixture.
    void Open(const std::u16string& text) {
        bytes_ = Le(text);
        ASSERT_EQ(reader_.OpenMemory(bytes_.data(), bytes_.size()), 0);
    }
    std::u16string Word() {
        uint16_t buf[kWordListFieldUnits];
        return reader_.GetWord(buf, kWordListFieldUnits) ? Units(buf) : u"<none>";
    }
    std::u16string Code() {
        uint16_t buf[kWordListFieldUnits];
        return reader_.GetCode(buf, kWordListFieldUnits) ? Units(buf) : u"<none>";
    }

    std::string bytes_;
    t_utf16TextReader reader_;
};

TEST_F(WordListTest, HeaderEntryThenEnd) {
    Open(kHead + u"你好\tnihao\t12\n");
    uint16_t header[8];
    ASSERT_EQ(reader_.GetHeaderValue(header, 8), 1);
    EXPECT_EQ(Units(header), u"v1.0");
    EXPECT_EQ(reader_.GetHeaderValue(header, 4), 0);  // no room for the terminator
    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(reader_.GetLineKind(), t_utf16TextReader::kKindEntry);
    EXPECT_EQ(Word(), u"你好");
    EXPECT_EQ(Code(), u"nihao");
    EXPECT_EQ(reader_.GetWordLength(), 3);
    int number = 0;
    ASSERT_EQ(reader_.GetNumber(&number), 1);
    EXPECT_EQ(number, 12);
    EXPECT_EQ(reader_.ReadEntry(), 1);
}

TEST_F(WordListTest, MalformedLinesAreRefusedOneByOne) {
    Open(kHead +
         u"a\tb\tc\t1\n"  // a third TAB
         u"a\tb\t-1\n"    // a sign
         u"a\tb\n"        // one TAB
         u"#note\r\n"
         u"\r\n\n"
         u"w\tc\t\n"         // an empty number is absent, not an error
         u"last\tline\t7");  // no line end
    EXPECT_EQ(reader_.ReadEntry(), -1);
    EXPECT_EQ(reader_.GetLineKind(), t_utf16TextReader::kKindNone);
    EXPECT_EQ(reader_.GetWordLength(), -1);
    EXPECT_EQ(reader_.ReadEntry(), -1);
    EXPECT_EQ(reader_.ReadEntry(), -1);
    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(reader_.GetLineKind(), t_utf16TextReader::kKindComment);
    uint16_t comment[5];
    ASSERT_EQ(reader_.GetComment(comment, 5), 1);
    EXPECT_EQ(Units(comment), u"note");
    EXPECT_EQ(reader_.GetComment(comment, 4), 0);
    ASSERT_EQ(reader_.ReadEntry(), 0);
    int number = -5;
    EXPECT_EQ(reader_.GetNumber(&number), 0);
    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(Code(), u"line");
    EXPECT_EQ(reader_.GetNumber(&number), 1);
    EXPECT_EQ(number, 7);
    EXPECT_EQ(reader_.ReadEntry(), 1);
}

TEST_F(WordListTest, ReaderLimits) {
    const std::u16string w255(255, u'w'), w256(256, u'w');
    Open(kHead + u"x\ty\t2147483647\n" +
         u"x\ty\t2147483648\n" +            // above 32 bits: refused, not wrapped
         u"x\ty\t1234567890123456789\n" +   // 19 digits
         u"x\ty\t00000000000000000001\n" +  // 20 digits
         w255 + u"\tc\t1\n" + u"w\t" + w255 + u"\t1\n" + w256 + u"\tc\t1\n" + u"w\t" + w256 +
         u"\t1\n" + u"#" + std::u16string(509, u'c') + u"\n" + std::u16string(511, u'z') + u"\n" +
         u"after\tlong\t3\n");
    int number = 0;
    ASSERT_EQ(reader_.ReadEntry(), 0);
    ASSERT_EQ(reader_.GetNumber(&number), 1);
    EXPECT_EQ(number, 2147483647);
    EXPECT_EQ(reader_.ReadEntry(), -1);
    EXPECT_EQ(reader_.ReadEntry(), -1);
    EXPECT_EQ(reader_.ReadEntry(), -1);
    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(reader_.GetWordLength(), 256);
    uint16_t small[255];
    EXPECT_EQ(reader_.GetWord(small, 255), 0);
    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(reader_.GetCodeLength(), 256);
    EXPECT_EQ(reader_.ReadEntry(), -1);
    EXPECT_EQ(reader_.ReadEntry(), -1);
    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(reader_.GetLineKind(), t_utf16TextReader::kKindComment);
    EXPECT_EQ(reader_.ReadEntry(), -1);  // 511 units: the whole line is skipped
    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(Word(), u"after");
}

TEST_F(WordListTest, WordTokens) {
    Open(kHead + u"[ni][hao]x\tc\t1\n[open\tc\t1\n[long]\tc\t1\n");
    ASSERT_EQ(reader_.ReadEntry(), 0);
    uint16_t buf[8];
    int type = 0;
    ASSERT_EQ(reader_.NextWordToken(buf, 8, &type), 0);
    EXPECT_EQ(Units(buf), u"ni");
    EXPECT_EQ(type, t_utf16TextReader::kTokenGroup);
    ASSERT_EQ(reader_.NextWordToken(buf, 8, &type), 0);
    EXPECT_EQ(Units(buf), u"hao");
    ASSERT_EQ(reader_.NextWordToken(buf, 8, &type), 0);
    EXPECT_EQ(Units(buf), u"x");
    EXPECT_EQ(type, t_utf16TextReader::kTokenUnit);
    EXPECT_EQ(reader_.NextWordToken(buf, 8, &type), 1);

    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(reader_.NextWordToken(buf, 8, &type), -1);  // never closed

    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(reader_.NextWordToken(buf, 4, &type), -1);  // "long" needs 5 units
    char narrow[8];
    ASSERT_EQ(reader_.NextWordTokenA(narrow, 8, &type), 0);  // the cursor did not move
    EXPECT_STREQ(narrow, "long");

    Open(kHead + u"ab[c]de\tc\t1\n");
    ASSERT_EQ(reader_.ReadEntry(), 0);
    ASSERT_EQ(reader_.NextWordTokenA(narrow, 8, &type), 0);
    EXPECT_STREQ(narrow, "ab");
    EXPECT_EQ(type, t_utf16TextReader::kTokenUnit);
    ASSERT_EQ(reader_.NextWordTokenA(narrow, 8, &type), 0);
    EXPECT_STREQ(narrow, "c");
    ASSERT_EQ(reader_.NextWordTokenA(narrow, 8, &type), 0);
    EXPECT_STREQ(narrow, "de");
}

TEST_F(WordListTest, BadHeadersAreRefused) {
    for (const std::u16string& text :
         {std::u16string(u"FormatVersion=v1.0\n"), std::u16string(u"\uFEFFno equals sign\n"),
          std::u16string(u"\uFEFF"), u"\uFEFFv=" + std::u16string(256, u'x') + u"\n"}) {
        const std::string bytes = Le(text);
        t_utf16TextReader r;
        EXPECT_EQ(r.OpenMemory(bytes.data(), bytes.size()), -1);
        EXPECT_EQ(r.ReadEntry(), 1);  // nothing open
    }
    t_utf16TextReader r;
    EXPECT_EQ(r.OpenMemory(nullptr, 4), -1);
    EXPECT_EQ(r.CountLines(), -1);
}

TEST_F(WordListTest, CountLinesLooksAheadWithoutMoving) {
    Open(kHead + u"a\tb\t1\r\n#c\n\nlast\tx\t2");
    ASSERT_EQ(reader_.ReadEntry(), 0);
    // Read: the header, its blank line, the entry (ended by CR); ahead: three LF.
    EXPECT_EQ(reader_.CountLines(), 3 + 3);
    ASSERT_EQ(reader_.ReadEntry(), 0);
    EXPECT_EQ(reader_.GetLineKind(), t_utf16TextReader::kKindComment);
}

TEST(WordListWriterTest, BufferNeedsRoomStrictlyBelowItsSize) {
    const size_t header = 2 + 28 + 8 + 4;
    std::vector<uint8_t> buf(header + 40);
    t_utf16TextWriter w;
    EXPECT_EQ(w.OpenBuffer(buf.data(), header), t_utf16TextWriter::kErrBufferFull);
    EXPECT_EQ(w.SetCode(U(u"x")), 0);  // nothing open
    ASSERT_EQ(w.OpenBuffer(buf.data(), header + 1), 0);
    EXPECT_EQ(w.GetBufferUsed(), header);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + header), Le(kHead));

    // An entry that does not fit leaves nothing of itself behind.
    ASSERT_EQ(w.OpenBuffer(buf.data(), header + 12), 0);
    ASSERT_EQ(w.SetWordText(U(u"词")), 1);
    ASSERT_EQ(w.SetCode(U(u"ci")), 1);
    ASSERT_EQ(w.SetNumber(10), 1);
    EXPECT_EQ(w.WriteEntryToBuffer(), t_utf16TextWriter::kErrBufferFull);
    EXPECT_EQ(w.GetBufferUsed(), header);
    EXPECT_EQ(w.WriteCommentToBuffer(U(u"ok")), 0);
    EXPECT_EQ(w.GetBufferUsed(), header + 8);
}

TEST(WordListWriterTest, EntryNeedsEveryFieldAndTheFormatsLimits) {
    std::vector<uint8_t> buf(4096);
    t_utf16TextWriter w;
    ASSERT_EQ(w.OpenBuffer(buf.data(), buf.size()), 0);
    EXPECT_EQ(w.WriteEntryToBuffer(), t_utf16TextWriter::kErrNoText);
    ASSERT_EQ(w.SetWordText(U(u"w")), 1);
    ASSERT_EQ(w.SetNumber(1), 1);
    EXPECT_EQ(w.WriteEntryToBuffer(), t_utf16TextWriter::kErrIncomplete);  // no code
    EXPECT_EQ(w.WriteEntryToBuffer(), t_utf16TextWriter::kErrNoText);      // cleared
    EXPECT_EQ(w.WriteEntry(), t_utf16TextWriter::kErrNotOpen);             // not a file

    const std::u16string u252(252, u'a'), u253(253, u'a');
    EXPECT_EQ(w.SetWordText(U(u253)), 0);
    EXPECT_EQ(w.AppendWordGroup(U(u253)), 0);
    ASSERT_EQ(w.SetWordText(U(u252)), 1);
    EXPECT_EQ(w.AppendWordText(U(u"bcd")), 0);  // 255 in all
    ASSERT_EQ(w.AppendWordText(U(u"bc")), 1);
    EXPECT_EQ(w.AppendWordN(U(u"z"), 1), 0);
    EXPECT_EQ(w.SetCode(U(std::u16string(255, u'c'))), 0);
    EXPECT_EQ(w.SetCode(U(u"")), 0);
    EXPECT_EQ(w.SetCode(U(u"a\tb")), 0);  // would add a field
    EXPECT_EQ(w.SetNumber(-1), 0);        // the reader takes digits only
    EXPECT_EQ(w.WriteCommentToBuffer(U(std::u16string(255, u'c'))), t_utf16TextWriter::kErrNoText);
    EXPECT_EQ(w.WriteCommentToBuffer(U(u"two\nlines")), t_utf16TextWriter::kErrNoText);
}

TEST(WordListWriterTest, FileRoundTripReplacesTheTargetOnlyAtClose) {
    const testsupport::t_testDir temp("vetra-wordlist");
    ASSERT_FALSE(temp.Path().empty());
    const std::string dir = temp.Path();
    const std::string path = dir + "/words.txt";
    const std::wstring wpath(path.begin(), path.end());
    std::ofstream(path) << "previous export";
    {
        t_utf16TextWriter w;
        ASSERT_EQ(w.OpenFile(wpath.c_str()), 0);
        ASSERT_EQ(w.AppendWordGroupAnsi("ni"), 1);
        ASSERT_EQ(w.AppendWordGroup(U(u"hao")), 1);
        ASSERT_EQ(w.AppendWordAnsi("A"), 1);
        ASSERT_EQ(w.SetCode(U(u"你好A")), 1);
        ASSERT_EQ(w.SetNumber(7), 1);
        ASSERT_EQ(w.WriteEntry(), 0);
        ASSERT_EQ(w.WriteComment(U(u"2\t0")), 0);
        std::ifstream in(path);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "previous export");
        ASSERT_EQ(w.CloseFile(), 0);
    }
    t_utf16TextReader r;
    ASSERT_EQ(r.OpenFile(wpath.c_str()), 0);
    ASSERT_EQ(r.ReadEntry(), 0);
    uint16_t buf[16];
    ASSERT_EQ(r.GetCode(buf, 16), 4);
    EXPECT_EQ(Units(buf), u"你好A");
    int type = 0;
    ASSERT_EQ(r.NextWordToken(buf, 16, &type), 0);
    EXPECT_EQ(Units(buf), u"ni");
    ASSERT_EQ(r.ReadEntry(), 0);
    ASSERT_EQ(r.GetComment(buf, 16), 1);
    EXPECT_EQ(Units(buf), u"2\t0");
    EXPECT_EQ(r.ReadEntry(), 1);
    r.Close();

    EXPECT_EQ(r.OpenFile((wpath + L".absent").c_str()), -1);
    std::ofstream(path) << "not a word list";
    EXPECT_EQ(r.OpenFile(wpath.c_str()), -3);
    t_utf16TextWriter w;
    EXPECT_EQ(w.OpenFile(L"/nonexistent-dir/words.txt"), t_utf16TextWriter::kErrNotOpen);
}

}  // namespace
