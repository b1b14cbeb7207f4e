// The ini-style configuration file: splitting, sections, duplicates, saving.
#include "kernel/runtime/file_config.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include "tests/support/test_dir.h"

#include <string>
#include <vector>

namespace {

class FileConfigTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(tmp_.Path().empty()); }

    std::wstring Path(const char* name) const { return tmp_.WAt(name); }
    void Put(const char* name, const std::string& bytes) const { tmp_.Put(name, bytes); }
    std::string Get(const char* name) const { return tmp_.Get(name); }
    // Loads text (UTF-8 with its mark) into config.
    void Load(t_fileConfig& config, const std::string& text) {
        Put("in.ini", "\xEF\xBB\xBF" + text);
        ASSERT_TRUE(config.Load(Path("in.ini").c_str()));
    }

    testsupport::t_testDir tmp_{"vetra-fileconfig"};
};

// "key sep value" of every line of a section, in iteration (key) order.
std::vector<std::wstring> KeyOrder(const t_fileConfig::t_section* s) {
    std::vector<std::wstring> out;
    if (!s) return out;
    for (const auto& [key, r] : *s)
        out.push_back(std::wstring(key) + L" " + r->separator + L" " + (r->value ? r->value : L""));
    return out;
}

std::vector<std::wstring> FileOrder(const t_fileConfig::t_section* s) {
    std::vector<std::wstring> out;
    if (!s) return out;
    for (const auto* r : s->Lines())
        out.push_back(std::wstring(r->key) + L" " + r->separator + L" " +
                      (r->value ? r->value : L""));
    return out;
}

TEST_F(FileConfigTest, HeaderAndOneKeyWithArrowRegistered) {
    t_fileConfig config;
    ASSERT_NE(config.AddSeparator(L"=>"), nullptr);
    Load(config, "[Fuzzy]\nzh=z\n");
    EXPECT_EQ(KeyOrder(config.FindSection(L"Fuzzy")), std::vector<std::wstring>{L"zh = z"});
    EXPECT_EQ(config.GetEncoding(), kTextUtf8);
}

TEST_F(FileConfigTest, ArrowIsTriedBeforeEquals) {
    t_fileConfig both;
    const wchar_t* arrow = both.AddSeparator(L"=>");
    ASSERT_EQ(both.GetSeparators().size(), 2u);
    EXPECT_EQ(both.GetSeparators()[0], arrow);
    EXPECT_STREQ(both.GetSeparators()[1], L"=");
    EXPECT_EQ(both.AddSeparator(L"=>"), arrow);  // registered once
    Load(both, "[s]\na=>b=c\n");
    const wchar_t* sep = nullptr;
    EXPECT_STREQ(both.GetValue(L"s", L"a", &sep), L"b=c");
    EXPECT_STREQ(sep, L"=>");

    t_fileConfig equalsOnly;
    Load(equalsOnly, "[s]\na=>b=c\n");
    EXPECT_STREQ(equalsOnly.GetValue(L"s", L"a", &sep), L">b=c");
    EXPECT_STREQ(sep, L"=");

    // Separators are told apart without regard to case.
    t_fileConfig letters;
    const wchar_t* to = letters.AddSeparator(L"TO");
    EXPECT_EQ(letters.AddSeparator(L"to"), to);
    EXPECT_EQ(letters.AddSeparator(L""), nullptr);
    EXPECT_STREQ(letters.GetLastError(), L"参数错误");
}

TEST_F(FileConfigTest, SectionsKeysAndIgnoredLines) {
    t_fileConfig config;
    Load(config,
         "orphan=1\n"                     // before any section: ignored
         "[ spaced name ]\n"              // the name keeps its spaces
         "  a = b  \r\n"                  // the line is trimmed, key and value are not
         "\xE3\x80\x80k=v\xE3\x80\x80\n"  // U+3000 trimmed too
         "[open=bracket\n"                // no closing ']': a key line
         "=novalue\n"                     // empty key: ignored
         "no separator here\n"
         "empty=\n" +
             std::string(1100, 'x') +
             "=long\n"  // longer than a line may be: ignored
             "[]\n"
             "n=12abc\n");
    const t_fileConfig::t_section* spaced = config.FindSection(L" spaced name ");
    EXPECT_EQ(KeyOrder(spaced),
              (std::vector<std::wstring>{L"[open = bracket", L"a  =  b", L"empty = ", L"k = v"}));
    const wchar_t* sep = nullptr;
    EXPECT_EQ(config.GetValue(L" spaced name ", L"empty", &sep), nullptr);
    EXPECT_STREQ(config.GetString(L" spaced name ", L"empty", nullptr, L"dflt"), L"dflt");
    EXPECT_EQ(config.GetInt(L"", L"n", nullptr, -1), 12);
    EXPECT_EQ(config.GetInt(L"", L"missing", nullptr, -1), -1);
    EXPECT_STREQ(config.GetLastError(), L"未找到Key");
    EXPECT_EQ(config.FindSection(L"spaced name"), nullptr);
    EXPECT_STREQ(config.GetLastError(), L"未找到Section");
    EXPECT_EQ(config.GetValue(nullptr, L"a", nullptr), nullptr);
    EXPECT_STREQ(config.GetLastError(), L"参数错误");
}

TEST_F(FileConfigTest, GetIntReadsLeadingNumberAndClamps) {
    t_fileConfig config;
    Load(config, "[n]\na= -7x\nb=+15\nc=99999999999\nd=abc\n");
    EXPECT_EQ(config.GetInt(L"n", L"a", nullptr, 0), -7);
    EXPECT_EQ(config.GetInt(L"n", L"b", nullptr, 0), 15);
    EXPECT_EQ(config.GetInt(L"n", L"c", nullptr, 0), 2147483647);
    EXPECT_EQ(config.GetInt(L"n", L"d", nullptr, 5), 0);
    ASSERT_TRUE(config.SetInt(L"n", L"e", -2147483647 - 1, nullptr));
    EXPECT_EQ(config.GetInt(L"n", L"e", nullptr, 0), -2147483647 - 1);
}

TEST_F(FileConfigTest, SaveWritesSectionsAndKeysSortedWithTheirSeparators) {
    t_fileConfig config;
    config.AddSeparator(L"=>");
    Load(config, "[Zeta]\nb=2\na=>1\n[Alpha]\n中=z\nZ=y\n[Empty]\n");
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(Get("in.ini"),
              "\xEF\xBB\xBF[Alpha]\nZ=y\n\xE4\xB8\xAD=z\n[Empty]\n[Zeta]\na=>1\nb=2\n");
}

TEST_F(FileConfigTest, RepeatedKeysSurviveARoundTrip) {
    t_fileConfig config;
    Load(config, "[Correction]\nng=gn\nuen=un\nng=mg\n");
    // A plain lookup answers the later line; every line stays.
    EXPECT_STREQ(config.GetValue(L"Correction", L"ng", nullptr), L"mg");
    const auto* section = config.FindSection(L"Correction");
    EXPECT_EQ(FileOrder(section), (std::vector<std::wstring>{L"ng = gn", L"uen = un", L"ng = mg"}));
    EXPECT_EQ(KeyOrder(section), (std::vector<std::wstring>{L"ng = gn", L"ng = mg", L"uen = un"}));

    // SetValue changes the answering line only; AddValue adds one more.
    ASSERT_TRUE(config.SetValue(L"Correction", L"ng", L"nn", nullptr));
    ASSERT_TRUE(config.AddValue(L"Correction", L"uen", L"ue", nullptr));
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(Get("in.ini"), "\xEF\xBB\xBF[Correction]\nng=gn\nng=nn\nuen=un\nuen=ue\n");

    t_fileConfig again;
    ASSERT_TRUE(again.Load(Path("in.ini").c_str()));
    EXPECT_EQ(KeyOrder(again.FindSection(L"Correction")),
              (std::vector<std::wstring>{L"ng = gn", L"ng = nn", L"uen = un", L"uen = ue"}));
    EXPECT_STREQ(again.GetValue(L"Correction", L"uen", nullptr), L"ue");
}

TEST_F(FileConfigTest, ReopenedSectionCollectsLinesAndKeepsFileEncoding) {
    // UTF-16LE, CR LF line ends, one section in two places.
    const std::u16string text = u"[s]\r\nb=1\r\n[t]\r\nx=中\r\n[s]\r\na=2\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    Put("u16.ini", bytes);
    t_fileConfig config;
    ASSERT_TRUE(config.Load(Path("u16.ini").c_str()));
    EXPECT_EQ(config.GetEncoding(), kTextUtf16Le);
    EXPECT_EQ(FileOrder(config.FindSection(L"s")), (std::vector<std::wstring>{L"b = 1", L"a = 2"}));
    ASSERT_TRUE(config.SaveAs(Path("out.ini").c_str()));
    const std::u16string saved = u"[s]\na=2\nb=1\n[t]\nx=中\n";
    std::string expected = "\xFF\xFE";
    for (char16_t c : saved) {
        expected.push_back(static_cast<char>(c & 0xFF));
        expected.push_back(static_cast<char>(c >> 8));
    }
    EXPECT_EQ(Get("out.ini"), expected);
}

TEST_F(FileConfigTest, FailedSaveKeepsTheOldFile) {
    Put("gbk.ini", "[s]\nk=v\n");  // no mark: GBK
    t_fileConfig config;
    ASSERT_TRUE(config.Load(Path("gbk.ini").c_str()));
    ASSERT_TRUE(config.SetValue(L"s", L"face", L"😀", nullptr));
    EXPECT_FALSE(config.Save());
    EXPECT_STREQ(config.GetLastError(), L"文本无法转换为文件编码");
    EXPECT_EQ(Get("gbk.ini"), "[s]\nk=v\n");
}

TEST_F(FileConfigTest, RefusedArgumentsAndMissingFiles) {
    t_fileConfig config;
    EXPECT_FALSE(config.Save());
    EXPECT_STREQ(config.GetLastError(), L"尚未打开文件");
    EXPECT_FALSE(config.Load(Path("absent.ini").c_str()));
    EXPECT_STREQ(config.GetLastError(), L"no-error");
    EXPECT_FALSE(config.SetValue(nullptr, L"k", L"v", nullptr));
    EXPECT_FALSE(config.SetValue(L"s", L"", L"v", nullptr));
    EXPECT_FALSE(config.SetValue(L"s", L"k", L"two\nlines", nullptr));
    EXPECT_STREQ(config.GetLastError(), L"参数错误");
    EXPECT_EQ(config.FindSection(L"s"), nullptr);

    wchar_t text[] = L"\u3000 \t a b\r\t\u3000";
    EXPECT_STREQ(t_fileConfig::Trim(text), L"a b");
    EXPECT_EQ(t_fileConfig::Trim(nullptr), nullptr);
}

}  // namespace
