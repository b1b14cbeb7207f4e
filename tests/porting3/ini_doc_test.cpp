// The ini document: the parser's edge lines, editing in file order, the exact
// bytes of a saved file, the enciphered form, and files it refuses to read.
#include "porting3/ini_doc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "porting3/str16.h"
#include "tests/support/test_dir.h"

namespace n_porting {
namespace {

using S = std::u16string;

void ParseUtf8(t_iniDoc& doc, const std::string& text) {
    const std::string bytes = "\xEF\xBB\xBF" + text;
    t_errorContext ctx;
    t_fileTextRead reader;
    ASSERT_TRUE(reader.LoadMemory(ctx, bytes.data(), bytes.size(), kCodePageGbk));
    EXPECT_EQ(1, doc.Parse(reader));
}

// The saved text without its mark, CR LF shown as "\n".
S Saved(const t_iniDoc& doc) {
    t_fileTextWrite w;
    EXPECT_TRUE(doc.WriteText(w));
    S text;
    std::string bytes(w.GetSaveSize(), '\0');
    size_t size = bytes.size();
    EXPECT_TRUE(w.SaveToMemory(bytes.data(), &size));
    for (size_t i = 2; i + 1 < size; i += 2) {
        const char16_t u = char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
        if (u != u'\r') text.push_back(u);
    }
    return text;
}

TEST(IniDocTest, ParserEdgeLines) {
    const struct {
        const char* name;
        const char* text;
        const char16_t* saved;
    } cases[] = {
        {"blanks in brackets", "[ Setting ]\nk=v\n", u"[Setting]\nk=v\n"},
        {"empty brackets, no ], key before a section", "k=0\n[]\nk=1\n[abc\nx=1\n", u""},
        {"blanks around key and value", "[S]\n  k = v  \nempty=\n=v\nnoequals\n",
         u"[S]\nk=v\nempty=\n"},
        {"keys differ in case only", "[S]\na=1\nA=2\n", u"[S]\na=2\n"},
        {"sections differ in case only", "[S]\n[s]\nk=v\n", u"[S]\nk=v\n"},
        {"comments keep their places", ";top\n[S1]\nk=1\n; in s1 \t\n[S2]\nj=2\n",
         u";top\n\n[S1]\nk=1\n; in s1\n\n[S2]\nj=2\n"},
        // Keys led by ";" or "[" after blanks would come back as a comment or
        // as a header swallowing the keys after it: dropped like other
        // malformed lines.
        {"only a first-column ; is a comment", "[S]\n #x=1\n ;c=2\n", u"[S]\n#x=1\n"},
        {"a key led by [ is dropped", "[S]\n [weird=1\nPageSize=5\n", u"[S]\nPageSize=5\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        t_iniDoc doc;
        ParseUtf8(doc, c.text);
        EXPECT_EQ(S(c.saved), Saved(doc));
    }
}

TEST(IniDocTest, EditsKeepFileOrder) {
    t_iniDoc doc;
    ASSERT_NE(nullptr, doc.GetSection(u"B", -1));
    ASSERT_NE(nullptr, doc.GetSection(u"A", 0));
    ASSERT_NE(nullptr, doc.GetSection(u"Hidden", -5));  // kept out of the order
    EXPECT_TRUE(doc.SetValueByName(u"b", u"k1", u"1", -1));
    EXPECT_TRUE(doc.SetValueByName(u"B", u"k2", u"2", 0));
    EXPECT_TRUE(doc.SetValueByName(u"B", u"K2", u"two", -1));  // keeps its place and spelling
    EXPECT_TRUE(doc.SetNumberByName(u"A", u"n", -12, -1));
    EXPECT_TRUE(doc.SetValueByName(u"Hidden", u"h", u"x", -1));
    EXPECT_EQ(S(u"two"), doc.GetValueIn(u"b", u"k2"));
    EXPECT_EQ(nullptr, doc.GetValueIn(u"none", u"k2"));
    EXPECT_EQ(S(u"[A]\nn=-12\n\n[B]\nk2=two\nk1=1\n"), Saved(doc));

    EXPECT_TRUE(doc.RemoveKey(u"B", u"K1"));  // any spelling removes the stored key
    EXPECT_TRUE(doc.AddComment(u"B", u"k2", u";before k2"));
    EXPECT_TRUE(doc.AddComment(u"B", u"missing", u";end of B"));
    EXPECT_TRUE(doc.AddComment(u"B", nullptr, u";before B"));
    EXPECT_TRUE(doc.AddComment(nullptr, nullptr, u";last"));
    EXPECT_EQ(S(u"[A]\nn=-12\n;before B\n\n[B]\n;before k2\nk2=two\n;end of B\n;last\n"),
              Saved(doc));

    // A removed section made again is written once, and its old keys are gone.
    EXPECT_TRUE(doc.RemoveSection(u"a"));
    EXPECT_EQ(nullptr, doc.FindSection(u"A"));
    ASSERT_NE(nullptr, doc.GetSection(u"A", -1));
    EXPECT_EQ(S(u";before B\n\n[B]\n;before k2\nk2=two\n;end of B\n;last\n\n[A]\n"), Saved(doc));
}

TEST(IniDocTest, RefusesWhatTheFileCannotGiveBack) {
    const struct {
        const char16_t* key;
        const char16_t* value;
    } cases[] = {
        {u"[weird", u"1"},
        {u";c", u"1"},
        {u"a=b", u"1"},
        {u"a\rb", u"1"},
        {u" FontCh", u"1"},
        {u"FontCh\t", u"1"},
        {u"FontCh", u"x\r\nPageSize=99"},
        {u"FontCh", u"x\n"},
        {u"FontCh", u"\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key, c.key + n_porting::WcsLen16(c.key)));
        t_iniDoc doc;
        ASSERT_TRUE(doc.SetValueByName(u"S", u"FontCh", u"old", -1));
        EXPECT_FALSE(doc.SetValueByName(u"S", c.key, c.value, -1));
        EXPECT_EQ(S(u"[S]\nFontCh=old\n"), Saved(doc));
    }
    t_iniDoc doc;
    for (const char16_t* name : {u"S]\n[T", u"S]T", u" S", u"S "})
        EXPECT_EQ(nullptr, doc.GetSection(name, -1));
    EXPECT_FALSE(doc.AddComment(nullptr, nullptr, u";a\r\n[T]"));
    EXPECT_EQ(S(u""), Saved(doc));
}

TEST(IniDocTest, ByteHelpers) {
    const struct {
        const char* bytes;
        size_t length;
        int kind;
        size_t mark;
    } marks[] = {
        {"\xFF\xFEk", 3, -1, 2}, {"\xFE\xFF", 2, -2, 2}, {"\xEF\xBB\xBFk", 4, 65001, 3},
        {"\xEF\xBB", 2, 0, 0},   {"\xFF", 1, 0, 0},      {"", 0, 0, 0},
    };
    for (const auto& m : marks) {
        size_t length = 99;
        EXPECT_EQ(m.kind, t_iniDoc::DetectBom(reinterpret_cast<const uint8_t*>(m.bytes), m.length,
                                              &length));
        EXPECT_EQ(m.mark, length);
    }
    uint8_t odd[3] = {1, 2, 3}, even[4] = {1, 2, 3, 4};
    EXPECT_FALSE(t_iniDoc::SwapBytePairs(odd, 3));
    EXPECT_TRUE(t_iniDoc::SwapBytePairs(even, 4));
    EXPECT_EQ(0, std::memcmp(even, "\x02\x01\x04\x03", 4));

    // Each code page there and back: -1 little-endian, -2 big-endian, 936 GBK.
    const struct {
        int codePage;
        const char* bytes;
        size_t length;
    } forms[] = {{-1, "k\0\x2D\x4E", 4}, {-2, "\0k\x4E\x2D", 4}, {kCodePageGbk, "k\xD6\xD0", 3}};
    for (const auto& f : forms) {
        SCOPED_TRACE(f.codePage);
        size_t units = 0, length = 0;
        char16_t* text = t_iniDoc::BytesToUnits(reinterpret_cast<const uint8_t*>(f.bytes), f.length,
                                                f.codePage, &units);
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(S(u"k中"), S(text, units));
        uint8_t* bytes = t_iniDoc::UnitsToBytes(text, units, f.codePage, &length);
        ASSERT_NE(nullptr, bytes);
        EXPECT_EQ(std::string(f.bytes, f.length),
                  std::string(reinterpret_cast<char*>(bytes), length));
        std::free(text);
        std::free(bytes);
    }
    size_t units = 0;
    EXPECT_EQ(nullptr,
              t_iniDoc::BytesToUnits(reinterpret_cast<const uint8_t*>("abc"), 3, -1, &units));
    EXPECT_EQ(nullptr, t_iniDoc::UnitsToBytes(u"\U0001F600", 2, kCodePageGbk, &units));
    // A NUL inside does not cut the conversion short and pass for the whole.
    EXPECT_EQ(nullptr, t_iniDoc::BytesToUnits(reinterpret_cast<const uint8_t*>("ab\0cd"), 5,
                                              kCodePageGbk, &units));
    EXPECT_EQ(nullptr, t_iniDoc::UnitsToBytes(u"ab\0cd", 5, kCodePageGbk, &units));
}

struct t_iniFiles {
    testsupport::t_testDir dir{"vetra-ini"};
    t_path At(const char* name) const {
        char16_t* p = Utf8ToStr16Alloc(dir.At(name).c_str());
        t_path path(p);
        std::free(p);
        return path;
    }
};

TEST(IniDocTest, PlainSaveIsExactUtf16le) {
    t_iniFiles files;
    t_iniDoc doc;
    doc.SetValueByName(u"S", u"k", u"中", -1);
    doc.SetValueByName(u"T", u"n", nullptr, -1);
    t_errorContext ctx;
    ASSERT_EQ(1, doc.Save(ctx, files.At("env.ini"), kCodePageGbk));
    const std::string fixture(
        "\xFF\xFE"
        "[\0S\0]\0\r\0\n\0"
        "k\0=\0\x2D\x4E\r\0\n\0"
        "\r\0\n\0"
        "[\0T\0]\0\r\0\n\0"
        "n\0=\0\r\0\n\0",
        44);
    EXPECT_EQ(fixture, files.dir.Get("env.ini"));
    t_iniDoc back;
    ASSERT_EQ(1, back.Load(ctx, files.At("env.ini"), kCodePageGbk));
    EXPECT_EQ(S(u"中"), back.GetValueIn(u"s", u"K"));
    EXPECT_EQ(1u, files.dir.EntryCount());  // no temporary left beside it
}

TEST(IniDocTest, EncipheredForm) {
    t_iniFiles files;
    t_errorContext ctx;
    t_iniDoc doc(1);
    doc.SetValueByName(u"Setting", u"名字", u"值 = 1", -1);
    ASSERT_EQ(1, doc.Save(ctx, files.At("sealed.ini"), kCodePageGbk));
    const std::string sealed = files.dir.Get("sealed.ini");
    EXPECT_EQ(std::string::npos,
              sealed.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="));
    ASSERT_TRUE(files.dir.Put("sealed-crlf.ini", sealed + "\r\n"));
    t_iniDoc back(1);
    ASSERT_EQ(1, back.Load(ctx, files.At("sealed-crlf.ini"), kCodePageGbk));
    EXPECT_EQ(S(u"值 = 1"), back.GetValueIn(u"setting", u"名字"));

    // Text outside code page 936 cannot be enciphered: the old file stays.
    doc.SetValueByName(u"Setting", u"face", u"\U0001F600", -1);
    EXPECT_EQ(0, doc.Save(ctx, files.At("sealed.ini"), kCodePageGbk));
    EXPECT_EQ(S(u"保存ini文件失败:转换失败"), ctx.GetError());
    EXPECT_EQ(sealed, files.dir.Get("sealed.ini"));

    ASSERT_TRUE(files.dir.Put("plain.ini", "[S]\r\nk=v\r\n"));
    EXPECT_EQ(0, back.Load(ctx, files.At("plain.ini"), kCodePageGbk));
    EXPECT_EQ(S(u"无法解析ini文件"), ctx.GetError());
    EXPECT_EQ(nullptr, back.GetItems());
    EXPECT_EQ(0, back.Load(ctx, files.At("missing.ini"), kCodePageGbk));
    EXPECT_EQ(S(u"无法打开ini文件"), ctx.GetError());
}

TEST(IniDocTest, ReadWholeFileEndsWithTwoZeros) {
    t_iniFiles files;
    ASSERT_TRUE(files.dir.Put("a.ini", "ab"));
    t_errorContext ctx;
    uint64_t size = 9;
    uint8_t* bytes = t_iniDoc::ReadWholeFile(ctx, files.At("a.ini"), &size);
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ(2u, size);
    EXPECT_EQ(0, std::memcmp(bytes, "ab\0\0", 4));
    std::free(bytes);
    EXPECT_EQ(nullptr, t_iniDoc::ReadWholeFile(ctx, files.At("missing.ini"), &size));
    EXPECT_EQ(0u, size);
    std::filesystem::resize_file(files.dir.At("a.ini"), t_iniDoc::kMaxFileBytes + 1);
    EXPECT_EQ(nullptr, t_iniDoc::ReadWholeFile(ctx, files.At("a.ini"), &size));
}

TEST(IniDocTest, FilesAbove64MiBAreNotRead) {
    t_iniFiles files;
    ASSERT_TRUE(files.dir.Put("huge.ini", "[S]\r\nk=v\r\n"));
    std::filesystem::resize_file(files.dir.At("huge.ini"), t_iniDoc::kMaxFileBytes + 1);  // sparse
    for (const int enciphered : {0, 1}) {
        t_errorContext ctx;
        t_iniDoc doc(enciphered);
        doc.SetValueByName(u"Old", u"k", u"v", -1);
        EXPECT_EQ(0, doc.Load(ctx, files.At("huge.ini"), kCodePageGbk));
        EXPECT_EQ(S(u"无法解析ini文件"), ctx.GetError());
        EXPECT_EQ(nullptr, doc.GetItems());
        EXPECT_EQ(t_iniDoc::kMaxFileBytes + 1,
                  std::filesystem::file_size(files.dir.At("huge.ini")));
    }
}

}  // namespace
}  // namespace n_porting
