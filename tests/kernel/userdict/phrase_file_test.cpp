// The phrase file: writing, reading, the line rules, and the imports that
// replace a phrase image (the live dictionary's included).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/phrase_manager.h"
#include "tests/kernel/userdict/usr_support.h"

namespace {

// UTF-16LE bytes with a byte-order mark.
std::vector<uint8_t> Utf16File(const std::u16string& text) {
    std::vector<uint8_t> b = {0xFF, 0xFE};
    for (char16_t c : text) AppendU16(b, uint16_t(c));
    return b;
}

std::u16string ReadUtf16File(const std::string& path) {
    const std::vector<uint8_t> b = ReadFileBytes(path);
    std::u16string out;
    if (b.size() < 2 || b[0] != 0xFF || b[1] != 0xFE) return out;
    for (size_t i = 2; i + 1 < b.size(); i += 2) out.push_back(char16_t(b[i] | (b[i + 1] << 8)));
    return out;
}

struct Entry {
    std::u16string key, phrase;
    int position;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    os << "{" << std::string(e.key.begin(), e.key.end()) << "," << e.position << ",len "
       << e.phrase.size() << "}";
    return os;
}

class PhraseFileTest : public ::testing::Test {
protected:
    std::vector<Entry> Parse(const std::u16string& text) {
        const std::string path = dir.File("in.ini");
        EXPECT_TRUE(WriteFileBytes(path, Utf16File(text)));
        return ParseFile(path);
    }
    std::vector<Entry> ParseFile(const std::string& path) {
        t_scopeHeap arena;
        std::vector<t_phraseEntry> entries(64);
        const std::wstring w(path.begin(), path.end());
        const int n = ParsePhrasesToArray(arena, w.c_str(), entries.data(), int(entries.size()));
        std::vector<Entry> out;
        for (int i = 0; i < n; ++i)
            out.push_back({Text(entries[size_t(i)].key), Text(entries[size_t(i)].phrase),
                           entries[size_t(i)].position});
        return out;
    }
    // An image holding the records, saved at path.
    void MakeImage(const std::wstring& path, const std::vector<Entry>& records, uint8_t state) {
        std::vector<uint8_t> image;
        ASSERT_TRUE(t_abbrUsrDict::BuildImageWithRoom(image, 100, 10000, 100000));
        t_abbrUsrDict dict;
        ASSERT_TRUE(dict.AttachCopy(image.data(), image.size()));
        for (const Entry& e : records)
            ASSERT_NE(dict.AddItem(TestLstr::Text(e.key).get(), TestLstr::Text(e.phrase).get(),
                                   int16_t(e.position), state),
                      0);
        ASSERT_EQ(dict.SaveToFile(path.c_str()), 1);
    }
    // Every record of the image at path with its state.
    std::vector<std::pair<Entry, int>> Records(const std::wstring& path) {
        t_abbrUsrDict dict;
        EXPECT_TRUE(dict.AttachFile(path.c_str()));
        t_scopeHeap arena;
        t_phraseRecord** items = nullptr;
        int n = 0;
        EXPECT_EQ(dict.GetAllItems(arena, &items, &n), 1);
        std::vector<std::pair<Entry, int>> out;
        for (int i = 0; i < n; ++i)
            out.push_back({{Text(items[i]->key), Text(items[i]->phrase), items[i]->position},
                           items[i]->state});
        return out;
    }
    int StateOf(const std::wstring& path, const std::u16string& key, const std::u16string& phrase) {
        for (const auto& [e, st] : Records(path))
            if (e.key == key && e.phrase == phrase) return st;
        return -1;
    }
    TempDir dir;
};

TEST_F(PhraseFileTest, SingleLineEntriesKeepTrailingButNotLeadingBlanks) {
    EXPECT_EQ(
        Parse(u"abc,1=hello\r\nabc,-2=  hello  \r\nX,9999=z"),
        (std::vector<Entry>{{u"abc", u"hello", 1}, {u"abc", u"hello  ", -2}, {u"X", u"z", 9999}}));
}

TEST_F(PhraseFileTest, MultiLineValuesRunToTheNextHeader) {
    EXPECT_EQ(Parse(u"abc,1=\r\none\r\n\r\ntwo\r\nxyz,2=next\r\n"),
              (std::vector<Entry>{{u"abc", u"one\r\n\r\ntwo", 1}, {u"xyz", u"next", 2}}));
    // Lone LF and CR line ends split lines too; a comment inside is skipped.
    EXPECT_EQ(Parse(u"k,3=\nfirst\r; note\rsecond"),
              (std::vector<Entry>{{u"k", u"first\r\nsecond", 3}}));
}

TEST_F(PhraseFileTest, MalformedHeadersAddNothing) {
    // Three blanks after "=" and the line end: no entry, no multi-line value.
    EXPECT_TRUE(Parse(u"abc,1=   \r\nstray\r\n").empty());
    // One blank still opens a multi-line value.
    EXPECT_EQ(Parse(u"abc,1= \r\nkept\r\n"), (std::vector<Entry>{{u"abc", u"kept", 1}}));
    // Position 10000 and a 22-letter key add nothing but end a pending value.
    EXPECT_EQ(Parse(u"a,1=\r\nv\r\nb,10000=x\r\nabcdefghijklmnopqrstuv,1=y\r\nc,2=ok"),
              (std::vector<Entry>{{u"a", u"v", 1}, {u"c", u"ok", 2}}));
    EXPECT_EQ(Parse(u"abcdefghijklmnopqrstu,1=21 letters"),
              (std::vector<Entry>{{u"abcdefghijklmnopqrstu", u"21 letters", 1}}));
    // Digits followed by a letter: not a header, so a value line.
    EXPECT_EQ(Parse(u"a,1=\r\nb,12x=3\r\n"), (std::vector<Entry>{{u"a", u"b,12x=3", 1}}));
    // A header with a leading blank ends the pending value without an entry.
    EXPECT_EQ(Parse(u"a,1=\r\nv\r\n b,2=w\r\nafter\r\n"), (std::vector<Entry>{{u"a", u"v", 1}}));
    // Keys with digits, missing "=" and lines before any header.
    EXPECT_TRUE(Parse(u"text first\r\na1,1=x\r\nab,1 x\r\n;c,1=x").empty());
}

TEST_F(PhraseFileTest, OverlongValuesAreDropped) {
    // A multi-line value that outgrows the buffer is dropped whole.
    std::u16string text = u"big,1=\r\n";
    const std::u16string line(1000, u'x');
    for (int i = 0; i < 40; ++i) text += line + u"\r\n";
    text += u"small,1=fine";
    EXPECT_EQ(Parse(text), (std::vector<Entry>{{u"small", u"fine", 1}}));
    // A phrase over 32767 bytes cannot be a table item: refused, not truncated.
    std::u16string wide;
    for (int i = 0; i < 8192; ++i) wide += u"😀";  // 8192 characters, 32768 bytes
    EXPECT_TRUE(Parse(u"e,1=" + wide).empty());
    EXPECT_EQ(Parse(u"e,1=" + wide.substr(2)).size(), 1u);
    // A line longer than the buffer is cut, never overrun; its tail is no line
    // of its own, and the cut phrase is still too long for an item.
    EXPECT_EQ(Parse(u"long,1=" + std::u16string(40000, u'y') + u"\r\nnext,1=ok"),
              (std::vector<Entry>{{u"next", u"ok", 1}}));
}

TEST_F(PhraseFileTest, OnlyUtf16FilesAreRead) {
    const std::string path = dir.File("utf8.ini");
    ASSERT_TRUE(WriteFileBytes(path, {0xEF, 0xBB, 0xBF, 'a', ',', '1', '=', 'x'}));
    EXPECT_TRUE(ParseFile(path).empty());
    t_scopeHeap arena;
    t_phraseEntry e[2];
    EXPECT_EQ(ParsePhrasesToArray(arena, dir.WFile("missing.ini").c_str(), e, 2), 0);
    EXPECT_EQ(
        ParsePhrasesText(arena, dir.WFile("missing.ini").c_str(), dir.WFile("out.bin").c_str()), 0);
}

TEST_F(PhraseFileTest, ArrayReadingStopsWhenFull) {
    const std::string path = dir.File("in.ini");
    ASSERT_TRUE(WriteFileBytes(path, Utf16File(u"a,1=x\r\nb,2=y\r\nc,3=z")));
    t_scopeHeap arena;
    t_phraseEntry e[2];
    EXPECT_EQ(ParsePhrasesToArray(arena, dir.WFile("in.ini").c_str(), e, 2), 2);
    EXPECT_EQ(Text(e[1].key), u"b");
}

TEST_F(PhraseFileTest, KeysAreUpToTwentyOneAsciiLetters) {
    EXPECT_EQ(IsValidPhraseKey(L""), 1);
    EXPECT_EQ(IsValidPhraseKey(L"abcXYZ"), 1);
    EXPECT_EQ(IsValidPhraseKey(L"abcdefghijklmnopqrstu"), 1);
    EXPECT_EQ(IsValidPhraseKey(L"abcdefghijklmnopqrstuv"), 0);
    EXPECT_EQ(IsValidPhraseKey(L"ab1"), 0);
    EXPECT_EQ(IsValidPhraseKey(L"a b"), 0);
    EXPECT_EQ(IsValidPhraseKey(L"é"), 0);
    EXPECT_EQ(IsValidPhraseKey(nullptr), 0);
}

TEST_F(PhraseFileTest, WrittenFileReadsBackWithHeaderMultiLineAndNonBmpPhrases) {
    const std::wstring image = dir.WFile("p.bin");
    const std::vector<Entry> records = {{u"yx", u"me@example.com", 1},
                                        {u"poem", u"床前明月光\r\n疑是地上霜", 2},
                                        {u"emoji", u"𠀀 and 😀", -4},
                                        {u"sig", u"#$year年$month月$day日", 3}};
    MakeImage(image, records, kPhrasePlain);
    t_scopeHeap arena;
    const std::string text = dir.File("phrases.ini");
    const std::wstring wtext(text.begin(), text.end());
    ASSERT_EQ(WritePhrasesFile(arena, image.c_str(), wtext.c_str(), false), 1);
    const std::u16string content = ReadUtf16File(text);
    // 43 comment lines, four of them followed by an empty line.
    size_t at = 0;
    for (int i = 0; i < kPhraseHeaderLines; ++i) {
        ASSERT_EQ(content[at], u';') << i;
        at = content.find(u"\r\n", at) + 2;
        if (kPhraseFileHeader[i].blankAfter) {
            ASSERT_EQ(content.substr(at, 2), u"\r\n");
            at += 2;
        }
    }
    EXPECT_EQ(content.substr(0, 21), u";  维塔拼音输入法--自定义短语配置文件");
    EXPECT_NE(content.find(u";  $year_yy\t年(2位) \t06、08\r\n"), std::u16string::npos);
    EXPECT_NE(content.find(u"\r\npoem,2=\r\n床前明月光\r\n疑是地上霜"), std::u16string::npos);
    EXPECT_NE(content.find(u"\r\nemoji,-4=𠀀 and 😀"), std::u16string::npos);
    EXPECT_NE(content.back(), u'\n');  // entries are preceded, not followed, by a line break

    std::vector<Entry> back = ParseFile(text);
    std::vector<Entry> expected = records;
    std::sort(back.begin(), back.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    std::sort(expected.begin(), expected.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    EXPECT_EQ(back, expected);
}

TEST_F(PhraseFileTest, StatesAndDeletedRecordsAreWrittenOnlyWhenAsked) {
    const std::wstring image = dir.WFile("p.bin");
    MakeImage(image, {{u"a", u"live", 1}}, kPhraseAdded);
    {
        t_abbrUsrDict dict;
        ASSERT_TRUE(dict.AttachFile(image.c_str()));
        ASSERT_NE(dict.AddItem(TestLstr::Text(u"a").get(), TestLstr::Text(u"dead").get(), 2,
                               kPhraseDeleted),
                  0);
        ASSERT_EQ(dict.SaveToFile(image.c_str()), 1);
    }
    t_scopeHeap arena;
    const std::string text = dir.File("phrases.ini");
    const std::wstring wtext(text.begin(), text.end());
    ASSERT_EQ(WritePhrasesFile(arena, image.c_str(), wtext.c_str(), false), 1);
    std::u16string content = ReadUtf16File(text);
    EXPECT_NE(content.find(u"\r\na,1=live"), std::u16string::npos);
    EXPECT_EQ(content.find(u"dead"), std::u16string::npos);
    ASSERT_EQ(WritePhrasesFile(arena, image.c_str(), wtext.c_str(), true), 1);
    content = ReadUtf16File(text);
    EXPECT_NE(content.find(u"\r\na,1=live(1)"), std::u16string::npos);
    EXPECT_NE(content.find(u"\r\na,2=dead(2)"), std::u16string::npos);
}

TEST_F(PhraseFileTest, AMissingImageWritesTheHeaderOnly) {
    t_scopeHeap arena;
    const std::string text = dir.File("phrases.ini");
    const std::wstring wtext(text.begin(), text.end());
    ASSERT_EQ(WritePhrasesFile(arena, dir.WFile("none.bin").c_str(), wtext.c_str(), false), 1);
    const std::u16string content = ReadUtf16File(text);
    EXPECT_EQ(content.find(u"\r\n\r\n;  具体你可以"), std::u16string::npos);
    EXPECT_TRUE(content.ends_with(u"你可以用自定义短语来做一个带动态时间的多行回信落款。\r\n"));
    EXPECT_TRUE(ParseFile(text).empty());
    // An image that opens but is no phrase image: 0.
    ASSERT_TRUE(WriteFileBytes(dir.File("junk.bin"), {1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(WritePhrasesFile(arena, dir.WFile("junk.bin").c_str(), wtext.c_str(), false), 0);
}

TEST_F(PhraseFileTest, AFailedExportReturnsZeroAndLeavesTheOldFile) {
    const std::wstring image = dir.WFile("p.bin");
    MakeImage(image, {{u"a", u"new", 1}}, kPhrasePlain);
    t_scopeHeap arena;
    // No directory to create the file in.
    EXPECT_EQ(WritePhrasesFile(arena, image.c_str(), dir.WFile("nodir/phrases.ini").c_str(), false),
              0);
    // The disk fills up while the file is written (a file-size limit, which
    // binds root too): 0, and the old file stays whole beside no leftovers.
    const std::string sub = dir.File("out");
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    const std::string text = sub + "/phrases.ini";
    ASSERT_TRUE(WriteFileBytes(text, Utf16File(u"old,1=kept")));
    const std::wstring wtext(text.begin(), text.end());
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 1024;  // the header alone is larger
    auto* previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = WritePhrasesFile(arena, image.c_str(), wtext.c_str(), false);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadUtf16File(text), u"old,1=kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sub), {}), 1);
    // The final rename fails (a directory stands at the path): 0 as well.
    const std::string blocked = sub + "/blocked.ini";
    ASSERT_EQ(mkdir(blocked.c_str(), 0700), 0);
    ASSERT_TRUE(WriteFileBytes(blocked + "/inside", {1}));
    EXPECT_EQ(WritePhrasesFile(arena, image.c_str(),
                               std::wstring(blocked.begin(), blocked.end()).c_str(), false),
              0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sub), {}), 2);
    // And the same export to a free path succeeds.
    EXPECT_EQ(WritePhrasesFile(arena, image.c_str(), wtext.c_str(), false), 1);
    EXPECT_NE(ReadUtf16File(text).find(u"\r\na,1=new"), std::u16string::npos);
}

TEST_F(PhraseFileTest, ParsedTextBecomesAnImageInPlainState) {
    const std::string path = dir.File("in.ini");
    ASSERT_TRUE(WriteFileBytes(path, Utf16File(u"a,1=x\r\na,5=x\r\nb,2=y")));
    t_scopeHeap arena;
    const std::wstring image = dir.WFile("out.bin");
    ASSERT_EQ(ParsePhrasesText(arena, dir.WFile("in.ini").c_str(), image.c_str()), 1);
    const auto records = Records(image);
    ASSERT_EQ(records.size(), 2u);
    for (const auto& [e, st] : records) {
        EXPECT_EQ(st, kPhrasePlain);
        if (e.key == u"a") {
            EXPECT_EQ(e.position, 5);  // the last position wins
        }
    }
}

TEST_F(PhraseFileTest, ImportKeepsPhrasesTheFileLacksAsDeleted) {
    const std::wstring target = dir.WFile("qzim_phrases.bin");
    {
        std::vector<uint8_t> image;
        ASSERT_TRUE(t_abbrUsrDict::BuildImageWithRoom(image, 100, 1000, 10000));
        t_abbrUsrDict dict;
        ASSERT_TRUE(dict.AttachCopy(image.data(), image.size()));
        dict.AddItem(TestLstr::Text(u"a").get(), TestLstr::Text(u"same").get(), 1, kPhrasePlain);
        dict.AddItem(TestLstr::Text(u"a").get(), TestLstr::Text(u"moved").get(), 2, kPhrasePlain);
        dict.AddItem(TestLstr::Text(u"a").get(), TestLstr::Text(u"dropped").get(), 3, kPhrasePlain);
        ASSERT_EQ(dict.SaveToFile(target.c_str()), 1);
    }
    ASSERT_TRUE(
        WriteFileBytes(dir.File("phrases.ini"), Utf16File(u"a,1=same\r\na,7=moved\r\nb,1=new")));
    t_phraseImporter importer;
    ASSERT_EQ(ImportPhrasesText(importer, target.c_str(), dir.WFile("phrases.ini").c_str()), 1);
    EXPECT_EQ(StateOf(target, u"a", u"same"), kPhrasePlain);
    EXPECT_EQ(StateOf(target, u"a", u"moved"), kPhraseMoved);
    EXPECT_EQ(StateOf(target, u"a", u"dropped"), kPhraseDeleted);
    EXPECT_EQ(StateOf(target, u"b", u"new"), kPhraseAdded);
    EXPECT_FALSE(std::filesystem::exists(dir.File("qzim_phrases.bin.temp")));

    // A list replaces the phrase set the same way.
    const TestLstr key = TestLstr::Text(u"c"), phrase = TestLstr::Text(u"only");
    const t_phraseEntry list[] = {{key.get(), phrase.get(), 1}};
    t_phraseImporter second;
    ASSERT_EQ(MergePhrasesIntoUsrDict(second, target.c_str(), list, 1), 1);
    EXPECT_EQ(StateOf(target, u"c", u"only"), kPhraseAdded);
    EXPECT_EQ(StateOf(target, u"b", u"new"), kPhraseDeleted);
}

// A file that cannot be opened or is in another encoding fails and leaves
// the target; one that opens but holds no entry is a deliberate empty set.
TEST_F(PhraseFileTest, ImportingAnUnreadableFileFailsAndAnEmptyOneEmptiesTheSet) {
    const std::wstring target = dir.WFile("qzim_phrases.bin");
    // The same entry saved as UTF-8 with its mark, and as plain 8-bit text.
    const std::string entry = "b,1=other\r\n", marked = "\xEF\xBB\xBF" + entry;
    ASSERT_TRUE(WriteFileBytes(dir.File("utf8.ini"), {marked.begin(), marked.end()}));
    ASSERT_TRUE(WriteFileBytes(dir.File("plain.ini"), {entry.begin(), entry.end()}));
    ASSERT_TRUE(WriteFileBytes(dir.File("empty.ini"), Utf16File(u"; nothing\r\n")));
    ASSERT_TRUE(WriteFileBytes(dir.File("zero.ini"), std::vector<uint8_t>{}));
    const struct {
        const char* name;
        int result;
    } cases[] = {
        {"missing.ini", 0}, {"utf8.ini", 0}, {"plain.ini", 0}, {"empty.ini", 1}, {"zero.ini", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MakeImage(target, {{u"a", u"kept", 1}}, kPhraseAdded);
        const std::vector<uint8_t> before = ReadFileBytes(dir.File("qzim_phrases.bin"));
        t_phraseImporter importer;
        EXPECT_EQ(ImportPhrasesText(importer, target.c_str(), dir.WFile(c.name).c_str()), c.result);
        if (c.result == 0) {
            EXPECT_EQ(ReadFileBytes(dir.File("qzim_phrases.bin")), before);
        }
        EXPECT_EQ(StateOf(target, u"a", u"kept"), c.result == 0 ? kPhraseAdded : kPhraseDeleted);
        EXPECT_FALSE(std::filesystem::exists(dir.File("qzim_phrases.bin.temp")));
    }
}

TEST_F(PhraseFileTest, MergeSourcesAndCompactReportTheirSteps) {
    const std::wstring first = dir.WFile("first.bin"), second = dir.WFile("second.bin");
    MakeImage(first, {{u"a", u"one", 1}}, kPhrasePlain);
    MakeImage(second, {{u"a", u"one", 4}, {u"b", u"two", 1}}, kPhraseAdded);
    ASSERT_TRUE(WriteFileBytes(dir.File("p.ini"), Utf16File(u"c,1=three")));
    t_phraseImporter importer;
    const std::wstring out = dir.WFile("out.bin");
    EXPECT_EQ(MergePhraseSources(importer, out.c_str(), first.c_str(), second.c_str(),
                                 dir.WFile("p.ini").c_str()),
              kPhraseMergeOk);
    EXPECT_EQ(Records(out).size(), 3u);
    EXPECT_EQ(StateOf(out, u"a", u"one"), kPhraseAdded);  // a plain record takes the other's state
    t_phraseImporter bad;
    EXPECT_EQ(MergePhraseSources(bad, out.c_str(), dir.WFile("none").c_str(), nullptr, nullptr),
              kPhraseMergeFirstFailed);
    t_phraseImporter bad2;
    EXPECT_EQ(
        MergePhraseSources(bad2, out.c_str(), first.c_str(), dir.WFile("none").c_str(), nullptr),
        kPhraseMergeSecondFailed);
    t_phraseImporter bad3;
    EXPECT_EQ(MergePhraseSources(bad3, out.c_str(), first.c_str(), nullptr,
                                 dir.WFile("none.ini").c_str()),
              kPhraseMergeTextFailed);
    t_phraseImporter bad4;
    EXPECT_EQ(
        MergePhraseSources(bad4, dir.WFile("x/y.bin").c_str(), first.c_str(), nullptr, nullptr),
        kPhraseMergeSaveFailed);

    // Compacting keeps the records that are not deleted, all plain.
    {
        t_abbrUsrDict dict;
        ASSERT_TRUE(dict.AttachFile(out.c_str()));
        dict.MarkDeleted(TestLstr::Text(u"b").get(), TestLstr::Text(u"two").get(), 1);
        ASSERT_EQ(dict.SaveToFile(out.c_str()), 1);
    }
    t_phraseImporter compact;
    const std::wstring small = dir.WFile("small.bin");
    ASSERT_EQ(CompactPhraseFile(compact, out.c_str(), small.c_str()), 1);
    const auto records = Records(small);
    EXPECT_EQ(records.size(), 2u);
    for (const auto& r : records) EXPECT_EQ(r.second, kPhrasePlain);
}

// The live dictionary and an import of its own file.
class LivePhraseImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* home = getenv("HOME");
        if (home) m_home = home;
        setenv("HOME", dir.path().c_str(), 1);
        SetConfiguredUserDir(dir.wpath().c_str());
        ASSERT_TRUE(t_singleton<t_versionManager>::Get().Init());
        manager = std::make_unique<t_dictManager>();
        ASSERT_TRUE(manager->Init());
        ASSERT_TRUE(manager->Register(kPhraseDictName, &Live(), 0, kStorageMemCopy, kDirUser,
                                      kPhraseDictFile, 0, 2));
        ASSERT_TRUE(manager->LoadDict(kPhraseDictName));
    }
    void TearDown() override {
        Live().Load(nullptr, 0);  // the manager's block goes with the manager
        manager.reset();
        if (!m_home.empty()) setenv("HOME", m_home.c_str(), 1);
    }
    static t_abbrUsrDict& Live() { return t_singleton<t_abbrUsrDict>::Get(); }

    // With an unsaved live phrase, `import` replaces the phrase file with
    // one holding only `key`: the unsaved phrase reached the file before the
    // merge (kept, as deleted, instead of lost), the version is raised, the
    // live dictionary re-attaches the new file, and its next save keeps it.
    void ExpectImportKeepsTheLiveChanges(const std::function<int(const wchar_t*)>& import,
                                         const std::u16string& key) {
        ASSERT_TRUE(Live().IsReady());
        ASSERT_NE(Live().AddItem(TestLstr::Text(u"live").get(), TestLstr::Text(u"unsaved").get(), 1,
                                 kPhraseAdded),
                  0);
        const std::wstring version = manager->FindEntry(kPhraseDictName)->block.GetVersionName();
        t_versionManager& versions = t_singleton<t_versionManager>::Get();
        const int before = versions.GetVersion(version.c_str());
        const std::wstring target = dir.WFile("qzim_phrases.bin");
        ASSERT_EQ(import(target.c_str()), 1);
        EXPECT_GT(versions.GetVersion(version.c_str()), before);
        t_abbrUsrDict file;
        ASSERT_TRUE(file.AttachFile(target.c_str()));
        EXPECT_EQ(file.GetCount(), 2);
        t_scopeHeap arena;
        t_phraseRecord** records = nullptr;
        int count = 0;
        ASSERT_EQ(file.GetAllItems(arena, &records, &count), 1);
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(records[i]->state,
                      Text(records[i]->key) == key ? kPhraseAdded : kPhraseDeleted);
        versions.CheckUpdate2();
        t_phraseHit** hits = nullptr;
        int n = 0;
        ASSERT_EQ(Live().Lookup(arena, TestLstr::Text(key).get(), &hits, &n), 1);
        EXPECT_EQ(n, 1);
        ASSERT_EQ(Live().SaveToFile(target.c_str()), 1);
        t_abbrUsrDict again;
        ASSERT_TRUE(again.AttachFile(target.c_str()));
        ASSERT_EQ(again.Lookup(arena, TestLstr::Text(key).get(), &hits, &n), 1);
        EXPECT_EQ(n, 1);
    }
    TempDir dir;
    std::unique_ptr<t_dictManager> manager;
    std::string m_home;
};

TEST_F(LivePhraseImportTest, ImportSavesTheLiveChangesFirstAndRaisesTheVersion) {
    ASSERT_TRUE(WriteFileBytes(dir.File("phrases.ini"), Utf16File(u"new,1=imported")));
    t_phraseImporter importer;
    ExpectImportKeepsTheLiveChanges(
        [&](const wchar_t* target) {
            return ImportPhrasesText(importer, target, dir.WFile("phrases.ini").c_str());
        },
        u"new");
}

TEST_F(LivePhraseImportTest, AListMergeSavesTheLiveChangesFirstAndRaisesTheVersion) {
    const TestLstr key = TestLstr::Text(u"list"), phrase = TestLstr::Text(u"merged");
    const t_phraseEntry list[] = {{key.get(), phrase.get(), 2}};
    t_phraseImporter importer;
    ExpectImportKeepsTheLiveChanges(
        [&](const wchar_t* target) { return MergePhrasesIntoUsrDict(importer, target, list, 1); },
        u"list");
}

}  // namespace
