// User words as word-list text: export and read-back with stamps and flags,
// malformed lines, imports into a dictionary file and into the extension
// records, and an export that fails part-way.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_text_io.h"
#include "tests/kernel/userdict/usr_support.h"

namespace fs = std::filesystem;

namespace {

uint16_t Letter(char c) {
    return uint16_t(kSyllableCount + (c - 'A'));
}

std::vector<uint16_t> Units(const std::u16string& s) {
    return std::vector<uint16_t>(s.begin(), s.end());
}
// A token as the reader hands it out: units and a terminator.
std::vector<uint16_t> Tok(const std::u16string& s) {
    std::vector<uint16_t> v = Units(s);
    v.push_back(0);
    return v;
}

// A word-list file: the mark, then the text as UTF-16LE.
void WriteList(const std::string& path, const std::u16string& text) {
    std::vector<uint8_t> b = {0xFF, 0xFE};
    for (char16_t c : text) AppendU16(b, uint16_t(c));
    ASSERT_TRUE(WriteFileBytes(path, b));
}

std::u16string ReadList(const std::string& path) {
    const std::vector<uint8_t> b = ReadFileBytes(path);
    std::u16string s;
    for (size_t i = 2; i + 1 < b.size(); i += 2) s.push_back(char16_t(b[i] | (b[i + 1] << 8)));
    return s;
}

struct Fields {
    std::vector<uint16_t> reading;
    std::u16string word;
    uint16_t freq;
    uint16_t flags;
    uint32_t stamp;
    bool operator==(const Fields&) const = default;
};

std::vector<Fields> Decode(const t_usrWordRecords& records) {
    std::vector<Fields> out;
    for (const UsrWordRecord* r : records) {
        t_usrWordFields f;
        EXPECT_TRUE(ReadUsrWordRecord(r, &f));
        Fields x;
        for (uint16_t i = 0; i < LstrGetLength(f.reading); ++i)
            x.reading.push_back(LstrGetUnit(f.reading, i));
        for (uint16_t i = 0; i < LstrGetLength(f.word); ++i)
            x.word.push_back(char16_t(LstrGetUnit(f.word, i)));
        x.freq = f.freq;
        x.flags = f.flags;
        x.stamp = f.stamp;
        out.push_back(x);
    }
    return out;
}

const std::vector<UsrTestWord> kWords = {
    {{SyllableId(L"ni"), SyllableId(L"hao")}, u"你好", 7, 0x01, 35},
    {{Letter('A'), SyllableId(L"ni")}, u"A你", 3, 0x8004, 40},  // a letter; flags with the top bit
    {{SyllableId(L"zhuang")}, u"壮", 1, 0, 2},
};

class UsrTextTest : public ::testing::Test {
protected:
    TempDir dir_;
    t_scopeHeap arena_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Export and read-back.

TEST_F(UsrTextTest, ExportThenReadBackKeepsReadingWordFrequencyStampAndFlags) {
    WriteUsrDict(dir_.File("usr.bin"), kWords);
    t_usrWordRecords collected;
    ASSERT_TRUE(CollectUsrDictWords(arena_, dir_.WFile("usr.bin").c_str(), collected));
    ASSERT_EQ(3u, collected.size());
    ASSERT_EQ(1, ExportUsrWordsToText(dir_.WFile("words.txt").c_str(), collected));

    const std::u16string text = ReadList(dir_.File("words.txt"));
    EXPECT_EQ(0u, text.find(u"FormatVersion=v1.0\n\n"));
    EXPECT_NE(std::u16string::npos, text.find(u"[ni][hao]\t你好\t7\n#35\t1\n"));
    EXPECT_NE(std::u16string::npos, text.find(u"A[ni]\tA你\t3\n#40\t-32764\n"));

    t_usrWordRecords back;
    ASSERT_TRUE(ReadUsrWordText(arena_, dir_.WFile("words.txt").c_str(), back));
    std::vector<Fields> expected;
    for (const UsrTestWord& w : kWords)
        expected.push_back({w.reading, w.text, w.freq, w.flags, w.stamp});
    std::vector<Fields> got = Decode(back);
    auto order = [](const Fields& a, const Fields& b) { return a.word < b.word; };
    std::sort(expected.begin(), expected.end(), order);
    std::sort(got.begin(), got.end(), order);
    EXPECT_EQ(expected, got);

    // And into a new user dictionary file.
    ASSERT_EQ(3, ImportWordsIntoUsrDict(dir_.WFile("new.bin").c_str(),
                                        dir_.WFile("words.txt").c_str(), nullptr));
    t_usrDictV3Core d;
    ASSERT_TRUE(d.AttachFile(dir_.WFile("new.bin").c_str()));
    for (const UsrTestWord& w : kWords) {
        t_usrWordAttr a;
        ASSERT_TRUE(d.GetWordRecord(TestLstr(w.reading).get(), TestLstr::Text(w.text).get(), &a));
        EXPECT_EQ(w.freq, a.freq);
        EXPECT_EQ(w.flags, a.flags);
        EXPECT_EQ(w.stamp, a.stamp);
    }
}

TEST_F(UsrTextTest, StampsAboveTheSignedRangeReadBack) {
    uint16_t units[32];
    ASSERT_EQ(1, FormatTwoNumbers(units, 32, 4000000000u, 0xFFFF));
    EXPECT_EQ(u"4000000000\t-1", std::u16string(units, units + 13));
    uint32_t stamp = 0;
    uint16_t flags = 0;
    ASSERT_TRUE(ParseTwoNumbers(units, 32, &stamp, &flags));
    EXPECT_EQ(4000000000u, stamp);
    EXPECT_EQ(0xFFFF, flags);
    EXPECT_EQ(0, FormatTwoNumbers(units, 13, 4000000000u, 0xFFFF));  // no room for the terminator

    const std::u16string bad[] = {u"12",  u"1\t2\t3", u"1x\t2",         u"\t2",
                                  u"1\t", u"-1\t2",   u"99999999999\t1"};
    for (const std::u16string& s : bad)
        EXPECT_FALSE(ParseTwoNumbers(Units(s).data(), int(s.size()), &stamp, &flags));
    const std::u16string crlf = u"5\t6\r\nrest";
    ASSERT_TRUE(ParseTwoNumbers(Units(crlf).data(), int(crlf.size()), &stamp, &flags));
    EXPECT_EQ(5u, stamp);
    EXPECT_EQ(6, flags);
}

TEST_F(UsrTextTest, MalformedLinesAreSkippedAndTheRestIsRead) {
    WriteList(dir_.File("in.txt"),
              u"FormatVersion=v1.0\n\n"
              u"[ni][hao]\t你好\t7\n#35\t1\n"
              u"[ni]\t你\t\t5\n#1\t1\n"     // a third TAB
              u"[ni]\t泥\t-3\n#1\t1\n"      // a sign in the number
              u"[xyz]\t啥\t2\n#1\t1\n"      // no such syllable
              u"[zhuangg]\t壮\t2\n#1\t1\n"  // a group of 7 units
              u"[hao]\t好\t4\n"             // lost: an entry follows
              u"[zhuang]\t装\t9\n#not numbers\n"
              u"[hao]\t号\t\n#1\t1\n"  // no number
              u"[hao]\t浩\t6\n#8\t2\n");
    t_usrWordRecords records;
    ASSERT_TRUE(ReadUsrWordText(arena_, dir_.WFile("in.txt").c_str(), records));
    const std::vector<Fields> expected = {
        {{SyllableId(L"ni"), SyllableId(L"hao")}, u"你好", 7, 1, 35},
        {{SyllableId(L"zhuang")},
         u"装",
         9,
         0,
         2},  // a comment that does not parse: stamp 2, flags 0
        {{SyllableId(L"hao")}, u"浩", 6, 2, 8},
    };
    EXPECT_EQ(expected, Decode(records));

    // The same list merged into a dictionary file.
    ASSERT_EQ(3, ImportWordsIntoUsrDict(dir_.WFile("usr.bin").c_str(), dir_.WFile("in.txt").c_str(),
                                        nullptr));
    t_usrDictV3Core d;
    ASSERT_TRUE(d.AttachFile(dir_.WFile("usr.bin").c_str()));
    EXPECT_EQ(3, d.GetWordCount());
}

TEST_F(UsrTextTest, FilesWithoutMarkOrHeaderAreRefused) {
    t_usrWordRecords records;
    ASSERT_TRUE(WriteFileBytes(dir_.File("nomark.txt"), {'F', 0, '=', 0, '\n', 0}));
    EXPECT_FALSE(ReadUsrWordText(arena_, dir_.WFile("nomark.txt").c_str(), records));
    WriteList(dir_.File("noheader.txt"), u"[ni]\t你\t1\n#1\t1\n");
    EXPECT_FALSE(ReadUsrWordText(arena_, dir_.WFile("noheader.txt").c_str(), records));
    EXPECT_FALSE(ImportUsrWordsFromText(arena_, dir_.WFile("noheader.txt").c_str(), records, 0x40));
    EXPECT_FALSE(ReadUsrWordText(arena_, dir_.WFile("missing.txt").c_str(), records));
    EXPECT_TRUE(records.empty());

    WriteUsrDict(dir_.File("usr.bin"), kWords);
    const std::vector<uint8_t> before = ReadFileBytes(dir_.File("usr.bin"));
    EXPECT_EQ(0, ImportWordsIntoUsrDict(dir_.WFile("usr.bin").c_str(),
                                        dir_.WFile("noheader.txt").c_str(), nullptr));
    EXPECT_EQ(0, ImportWordsIntoUsrDict(dir_.WFile("none.bin").c_str(),
                                        dir_.WFile("missing.txt").c_str(), nullptr));
    EXPECT_EQ(before, ReadFileBytes(dir_.File("usr.bin")));
    EXPECT_FALSE(fs::exists(dir_.File("none.bin")));
}

TEST_F(UsrTextTest, SecondListIsMergedFirstAndLargerValuesWin) {
    WriteList(dir_.File("a.txt"), u"FormatVersion=v1.0\n\n[ni][hao]\t你好\t3\n#50\t1\n");
    WriteList(dir_.File("b.txt"),
              u"FormatVersion=v1.0\n\n[ni][hao]\t你好\t9\n#20\t1\n[hao]\t好\t2\n#5\t0\n");
    ASSERT_EQ(2, ImportWordsIntoUsrDict(dir_.WFile("usr.bin").c_str(), dir_.WFile("a.txt").c_str(),
                                        dir_.WFile("b.txt").c_str()));
    t_usrDictV3Core d;
    ASSERT_TRUE(d.AttachFile(dir_.WFile("usr.bin").c_str()));
    t_usrWordAttr a;
    ASSERT_TRUE(d.GetWordRecord(TestLstr({SyllableId(L"ni"), SyllableId(L"hao")}).get(),
                                TestLstr::Text(u"你好").get(), &a));
    EXPECT_EQ(9, a.freq);
    EXPECT_EQ(50u, a.stamp);
    EXPECT_TRUE(d.GetWordRecord(TestLstr({SyllableId(L"hao")}).get(), TestLstr::Text(u"好").get(),
                                nullptr));
}

// ---------------------------------------------------------------------------
// Words for the extension dictionary.

TEST_F(UsrTextTest, ImportForTheExtensionSkipsKnownWordsAndTagsTheRest) {
    WriteUsrDict(dir_.File("usr.bin"),
                 {{{SyllableId(L"ni"), SyllableId(L"hao")}, u"你好", 7, 0, 35}});
    ASSERT_TRUE(GetUsrDictInstance().AttachFile(dir_.WFile("usr.bin").c_str()));
    WriteList(dir_.File("in.txt"),
              u"FormatVersion=v1.0\n\n"
              u"[ni][hao]\t你好\t7\n#35\t1\n"  // the user dictionary has it
              u"[hao]\t好\t4\n#9\t1\n"
              u"[hao]\t号\t0\n#9\t0\n"  // frequency 0
              u"[hao]\t浩\t5\n#9\t4\n"  // flag 0x04
              u"[ni]\t你\t2\n"          // no comment, an entry follows
              u"[ni]\t泥\t3\n");        // the last entry, no comment
    t_usrWordRecords records;
    ASSERT_TRUE(ImportUsrWordsFromText(arena_, dir_.WFile("in.txt").c_str(), records, 0x100));
    const std::vector<Fields> expected = {
        {{SyllableId(L"hao")}, u"好", 4, 0x100, 2},
        {{SyllableId(L"ni")}, u"你", 2, 0x100, 2},
        {{SyllableId(L"ni")}, u"泥", 3, 0x100, 2},
    };
    EXPECT_EQ(expected, Decode(records));
}

// ---------------------------------------------------------------------------
// Records and readings.

TEST_F(UsrTextTest, RecordsCutShortAreRefused) {
    t_usrWordFields f;
    const TestLstr reading({SyllableId(L"ni")}), word = TestLstr::Text(u"你");
    f.reading = reading.get();
    f.word = word.get();
    const UsrWordRecord* r = MakeUsrWordRecord(arena_, f);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(int32_t(2 + 2 + 18), r->size);
    t_usrWordFields out;
    EXPECT_TRUE(ReadUsrWordRecord(r, &out));
    for (int32_t size = -1; size < r->size; ++size) {
        auto* copy = static_cast<UsrWordRecord*>(arena_.DupBytes(r, 4 + size_t(r->size)));
        copy->size = size;
        EXPECT_FALSE(ReadUsrWordRecord(copy, &out)) << size;
    }
    // An export leaves such a record out and writes the rest.
    auto* cut = static_cast<UsrWordRecord*>(arena_.DupBytes(r, 4 + size_t(r->size)));
    cut->size = 5;
    ASSERT_EQ(1, ExportUsrWordsToText(dir_.WFile("out.txt").c_str(), {cut, r}));
    t_usrWordRecords back;
    ASSERT_TRUE(ReadUsrWordText(arena_, dir_.WFile("out.txt").c_str(), back));
    EXPECT_EQ(1u, back.size());
}

TEST_F(UsrTextTest, TokensBecomeSyllableAndLetterIds) {
    alignas(2) uint8_t buf[2 + 8] = {};
    auto* reading = reinterpret_cast<t_lstr*>(buf);
    EXPECT_TRUE(AppendPinyinId(reading, sizeof buf, Tok(u"zhuang").data(), 1));
    EXPECT_TRUE(AppendPinyinId(reading, sizeof buf, Tok(u"x").data(), 2));
    EXPECT_TRUE(AppendPinyinId(reading, sizeof buf, Tok(u"Q").data(), 1));  // a letter group
    EXPECT_TRUE(AppendPinyinId(reading, sizeof buf, Tok(u"?").data(), 3));  // ignored
    ASSERT_EQ(3, LstrGetLength(reading));
    EXPECT_EQ(SyllableId(L"zhuang"), LstrGetUnit(reading, 0));
    EXPECT_EQ(Letter('X'), LstrGetUnit(reading, 1));
    EXPECT_EQ(Letter('Q'), LstrGetUnit(reading, 2));
    EXPECT_TRUE(AppendPinyinId(reading, sizeof buf, Tok(u"a").data(), 1));
    EXPECT_FALSE(AppendPinyinId(reading, sizeof buf, Tok(u"a").data(), 1));  // full
    LstrSetByteLength(reading, 0);
    EXPECT_FALSE(AppendPinyinId(reading, sizeof buf, Tok(u"xyz").data(), 1));
    EXPECT_FALSE(AppendPinyinId(reading, sizeof buf, Tok(u"1").data(), 2));
    EXPECT_FALSE(AppendPinyinId(reading, sizeof buf, Tok(u"zhuangg").data(), 1));
}

// ---------------------------------------------------------------------------
// An export that cannot be completed.

TEST_F(UsrTextTest, ExportThatCannotBeWrittenReturnsZeroAndKeepsTheOldFile) {
    ASSERT_TRUE(WriteFileBytes(dir_.File("words.txt"), {'o', 'l', 'd'}));
    // No directory for it: nothing opened.
    EXPECT_EQ(0, ExportUsrWordsToText(dir_.WFile("nodir/words.txt").c_str(), {}));

    t_usrWordRecords many;
    const TestLstr reading({SyllableId(L"zhuang"), SyllableId(L"zhuang"), SyllableId(L"zhuang")});
    const TestLstr word = TestLstr::Text(u"壮壮壮壮壮壮壮壮壮壮壮壮");
    for (int i = 0; i < 2000; ++i) {
        t_usrWordFields f;
        f.reading = reading.get();
        f.word = word.get();
        f.freq = 1;
        many.push_back(MakeUsrWordRecord(arena_, f));
    }
    // The disk fills up part-way (a file size limit in a child process).
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {16384, 16384};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(ExportUsrWordsToText(dir_.WFile("words.txt").c_str(), many) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ((std::vector<uint8_t>{'o', 'l', 'd'}), ReadFileBytes(dir_.File("words.txt")));
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_.path())) ++files;
    EXPECT_EQ(1, files);  // no temporary left behind

    ASSERT_EQ(1, ExportUsrWordsToText(dir_.WFile("words.txt").c_str(), many));
    t_usrWordRecords back;
    ASSERT_TRUE(ReadUsrWordText(arena_, dir_.WFile("words.txt").c_str(), back));
    EXPECT_EQ(2000u, back.size());
}
