// Upload copies: the words new or changed since an earlier copy, and user
// dictionary files made from records (an empty one included).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/upload_copies.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/userdict/usr_support.h"

namespace fs = std::filesystem;

namespace {

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        nihao_ = {{SyllableId(L"ni"), SyllableId(L"hao")}, u"你好", 5, 0x01, 30, 2};
        hao_ = {{SyllableId(L"hao")}, u"好", 3, 0, 12, 0};
        ni_ = {{SyllableId(L"ni")}, u"你", 8, 0x04, 40, 1};
    }
    std::vector<std::u16string> Texts(const t_usrWordRecords& records) {
        std::vector<std::u16string> out;
        for (const UsrWordRecord* r : records) {
            t_usrWordFields f;
            EXPECT_TRUE(ReadUsrWordRecord(r, &f));
            out.push_back(Text(f.word));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    TempDir dir_;
    t_scopeHeap arena_;
    UsrTestWord nihao_, hao_, ni_;
};

}  // namespace

// Words new since the base copy or of another frequency are collected; an
// identical copy gives none.
TEST_F(UploadTest, NewWordsAndChangedFrequenciesAreCollectedWithTheirFields) {
    WriteUsrDict(dir_.File("base.bin"), {nihao_, hao_});
    fs::copy_file(dir_.File("base.bin"), dir_.File("same.bin"));
    t_usrWordRecords out;
    ASSERT_TRUE(CollectNewUsrWords(arena_, dir_.WFile("base.bin").c_str(),
                                   dir_.WFile("same.bin").c_str(), out));
    EXPECT_TRUE(out.empty());
    UsrTestWord more = nihao_;
    more.freq = 6;
    UsrTestWord sameFreqNewStamp = hao_;
    sameFreqNewStamp.stamp = 99;
    WriteUsrDict(dir_.File("cur.bin"), {more, sameFreqNewStamp, ni_});
    ASSERT_TRUE(CollectNewUsrWords(arena_, dir_.WFile("base.bin").c_str(),
                                   dir_.WFile("cur.bin").c_str(), out));
    EXPECT_EQ((std::vector<std::u16string>{u"你", u"你好"}), Texts(out));
    for (const UsrWordRecord* r : out) {
        t_usrWordFields f;
        ASSERT_TRUE(ReadUsrWordRecord(r, &f));
        if (LstrGetLength(f.word) != 1) continue;
        EXPECT_EQ(8, f.freq);
        EXPECT_EQ(0x04, f.flags);
        EXPECT_EQ(40u, f.stamp);
        EXPECT_EQ(1, f.extra);
        EXPECT_NE(0, f.checksum);
    }
    EXPECT_FALSE(CollectNewUsrWords(arena_, dir_.WFile("missing.bin").c_str(),
                                    dir_.WFile("cur.bin").c_str(), out));
}

// Records become a user dictionary file with every field; no records, a
// valid empty one.
TEST_F(UploadTest, ConversionCarriesEveryFieldOfTheRecords) {
    ASSERT_TRUE(ConvertPtrToV3(dir_.WFile("usr_base.bin").c_str(), {}));
    t_usrDictV3Core empty;
    ASSERT_TRUE(empty.AttachFile(dir_.WFile("usr_base.bin").c_str()));
    EXPECT_EQ(0, empty.GetWordCount());

    WriteUsrDict(dir_.File("cur.bin"), {nihao_, hao_, ni_});
    t_usrWordRecords records;
    ASSERT_TRUE(CollectUsrDictWords(arena_, dir_.WFile("cur.bin").c_str(), records));
    auto* cut =
        static_cast<UsrWordRecord*>(arena_.DupBytes(records[0], 4 + size_t(records[0]->size)));
    cut->size = 3;  // cut short: left out
    records.push_back(cut);
    ASSERT_TRUE(ConvertPtrToV3(dir_.WFile("usr_added.bin").c_str(), records));
    t_usrDictV3Core d;
    ASSERT_TRUE(d.AttachFile(dir_.WFile("usr_added.bin").c_str()));
    EXPECT_EQ(3, d.GetWordCount());
    for (const UsrTestWord& w : {nihao_, hao_, ni_}) {
        t_usrWordAttr a;
        ASSERT_TRUE(d.GetWordRecord(TestLstr(w.reading).get(), TestLstr::Text(w.text).get(), &a));
        EXPECT_EQ(w.freq, a.freq);
        EXPECT_EQ(w.flags, a.flags);
        EXPECT_EQ(w.stamp, a.stamp);
        EXPECT_EQ(w.extra, a.extra);
    }
}
