// The compiled-in syllable inventory agrees with data/syllables.txt.
#include "kernel/lexicon/syllable_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

TEST(SyllableTableTest, MatchesTheSyllableListLineByLine) {
    std::ifstream in(SourceDir() + "/data/syllables.txt");
    ASSERT_TRUE(in) << "data/syllables.txt not found under " << SourceDir();
    std::vector<std::string> listed;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') listed.push_back(line);
    }
    ASSERT_EQ(listed.size(), size_t(kSyllableCount));
    for (int id = 0; id < kSyllableCount; ++id) {
        const std::wstring wide(listed[id].begin(), listed[id].end());
        EXPECT_EQ(std::wstring(SyllableTableText(id)), wide) << id;
        EXPECT_EQ(SyllableTableFind(wide.c_str()), id);
    }
}

TEST(SyllableTableTest, LettersFollowTheSyllables) {
    EXPECT_EQ(SyllableTableFind(L"A"), kSyllableCount);
    EXPECT_EQ(SyllableTableFind(L"Z"), kSyllableCount + 25);
    EXPECT_STREQ(SyllableTableText(kPinyinIdCount - 1), L"Z");
    EXPECT_EQ(SyllableTableText(kPinyinIdCount), nullptr);
    EXPECT_EQ(SyllableTableText(-1), nullptr);
    EXPECT_EQ(SyllableTableFind(L"Zhuang"), -1);
    EXPECT_EQ(SyllableTableFind(L"zhuangzhuan"), -1);  // 11 characters
    EXPECT_EQ(SyllableTableFind(L""), -1);
    EXPECT_EQ(SyllableTableFind(nullptr), -1);
}

// Pinyin being typed: whole syllables, the last perhaps only begun.
TEST(SyllableTableTest, PinyinBeingTypedReadsAsSyllables) {
    const struct {
        const wchar_t* text;
        bool reads;
    } cases[] = {
        {L"zhongguo", true},     {L"Zhongg", true}, {L"w", true},   {L"xi'an", true},
        {L"chuangshuang", true}, {L"hello", false}, {L"wf", false}, {L"'xian", false},
        {L"xian'", false},       {L"ni5", false},   {L"", false},   {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reads, ReadsAsPinyinSyllables(c.text)) << (c.text ? c.text : L"(null)");
}

}  // namespace
