// Text files: the byte-order-mark matrix, undecodable bytes, line ends on
// reading and writing, and the exact bytes of a saved file.
#include "porting3/text_file16.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "porting3/str16.h"
#include "tests/porting3/porting3_support.h"
#include "tests/support/test_dir.h"

namespace n_porting {
namespace {

std::vector<std::u16string> Lines(t_fileTextRead& r, bool trim = false) {
    std::vector<std::u16string> lines;
    while (char16_t* line = r.ReadLine(trim)) lines.push_back(line);
    return lines;
}

using L = std::vector<std::u16string>;

TEST(TextFile16Test, MarkMatrix) {
    struct Case {
        const char* name;
        std::string bytes;
        bool ok;
        L lines;
    } cases[] = {
        {"utf16le",
         std::string("\xFF\xFE"
                     "A\0\r\0\n\0B\0",
                     10),
         true,
         {u"A", u"B"}},
        {"utf16be even", std::string("\xFE\xFF\0A\0\n\x4E\x2D", 8), true, {u"A", u"中"}},
        {"utf16be odd", std::string("\xFE\xFF\0A\0", 5), false, {}},
        {"utf8",
         "\xEF\xBB\xBF"
         "x\xE4\xB8\xAD\n\xF0\x9F\x98\x80",
         true,
         {u"x中", u"\U0001F600"}},
        {"gbk", "\xD6\xD0\r\n\xCE\xC4", true, {u"中", u"文"}},
        {"gbk bad byte",
         "a\r\nb\xFF"
         "c\r\n\xD6\xD0",
         true,
         {u"a", u"b\uFFFDc", u"中"}},
        {"utf16le without mark", std::string("A\0B\0", 4), true, {u"A"}},
        {"empty", "", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t_errorContext ctx;
        t_fileTextRead r;
        EXPECT_EQ(c.ok, r.LoadMemory(ctx, c.bytes.data(), c.bytes.size(), kCodePageGbk));
        EXPECT_EQ(c.lines, Lines(r));
        EXPECT_EQ(nullptr, r.ReadLine(false));
    }
    t_errorContext ctx;
    t_fileTextRead r;
    EXPECT_FALSE(r.LoadMemory(ctx, "abc", 3, 1252));
    EXPECT_EQ(std::u16string(u"加载内存文件失败"), ctx.GetError());
}

TEST(TextFile16Test, LineEndsAndTrimOnReading) {
    const std::string bytes(
        "\xFF\xFE"
        " \0a\0 \0\r\0\r\0\n\0\n\0\r\0b\0\t\0",
        22);
    t_errorContext ctx;
    t_fileTextRead r;
    ASSERT_TRUE(r.LoadMemory(ctx, bytes.data(), bytes.size(), kCodePageGbk));
    EXPECT_EQ(2u, r.CountLines());
    // CR, CR LF, LF, CR: four line ends (LF CR is two), so three empty lines.
    EXPECT_EQ((L{u"a", u"", u"", u"", u"b"}), Lines(r, true));
    EXPECT_EQ(2u, r.CountLines());  // still counted from the start
}

TEST(TextFile16Test, WriterNormalisesLineEndsAndSavesExactBytes) {
    t_fileTextWrite w;
    w.WriteText(u"a\nb\rc\r\nd\n\re\r\r");
    const std::string expected(
        "\xFF\xFE"
        "a\0\r\0\n\0b\0\r\0\n\0c\0\r\0\n\0d\0\r\0\n\0e\0\r\0\n\0\r\0\n\0",
        36);
    size_t size = 0;
    EXPECT_FALSE(w.SaveToMemory(nullptr, &size));
    EXPECT_EQ(expected.size(), size);
    std::vector<char> out(size);
    ASSERT_TRUE(w.SaveToMemory(out.data(), &size));
    EXPECT_EQ(expected, std::string(out.data(), size));

    t_decimalCommaLocale comma;  // numbers in files keep their point either way
    t_fileTextWrite f;
    f.WriteText(u"中=");
    f.WriteI32(-5);
    f.WriteText(u";");
    f.WriteDouble(2.5);
    f.WriteText(u";");
    f.WriteU32(4000000000u);
    EXPECT_EQ(3, f.Printf(u"%hs", "x\xD6\xD0y") - 0);
    testsupport::t_testDir dir("vetra-text16");
    char16_t* root = Utf8ToStr16Alloc(dir.Path().c_str());
    const t_path target(root, u"sub", u"out.txt");
    std::free(root);
    t_errorContext ctx;
    ASSERT_TRUE(f.SaveToFile(ctx, target));
    const std::u16string want = u"\uFEFF中=-5;2.5;4000000000x中y";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(want.data()), want.size() * 2),
              dir.Get("sub/out.txt"));
    EXPECT_EQ(2u, f.GetSaveSize());  // released after the save

    t_fileTextRead back;
    ASSERT_TRUE(back.LoadFile(ctx, target, kCodePageGbk));
    EXPECT_EQ((L{u"中=-5;2.5;4000000000x中y"}), Lines(back));
    EXPECT_FALSE(back.LoadFile(ctx, t_path(u"/nonexistent/file"), kCodePageGbk));
    EXPECT_EQ(std::u16string(u"打开文件失败：/nonexistent/file"), ctx.GetError());
}

TEST(TextFile16Test, FailedSaveKeepsTheText) {
    t_fileTextWrite w;
    w.WriteText(u"keep");
    t_errorContext ctx;
    EXPECT_FALSE(w.SaveToFile(ctx, t_path(u"/dev/full")));
    EXPECT_EQ(10u, w.GetSaveSize());
    testsupport::t_testDir dir("vetra-text16");
    ASSERT_TRUE(dir.Put("blocker", "x"));  // a file where the folder should be
    char16_t* root = Utf8ToStr16Alloc(dir.Path().c_str());
    EXPECT_FALSE(w.SaveToFile(ctx, t_path(root, u"blocker", u"out.txt")));
    ASSERT_TRUE(w.SaveToFile(ctx, t_path(root, u"out.txt")));
    std::free(root);
    EXPECT_EQ(std::string("\xFF\xFEk\0e\0e\0p\0", 10), dir.Get("out.txt"));
}

}  // namespace
}  // namespace n_porting
