// The user extension dictionary: its file built and merged from records,
// its lookups, and what a failed merge leaves behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/storage/table_format.h"
#include "kernel/userdict/ext_dict.h"
#include "tests/kernel/userdict/usr_support.h"

namespace fs = std::filesystem;

namespace {

using ExtWord = UsrTestWord;

// The extension file attached for lookups.
class ExtFile {
public:
    explicit ExtFile(const std::string& path) : bytes_(ReadFileBytes(path)) {
        ok_ = !bytes_.empty() && dict_.Load(bytes_.data(), int32_t(bytes_.size()));
    }
    bool ok() const { return ok_; }
    t_usrDictExtCore& dict() { return dict_; }
    // Frequency, flags and stamp of a word; false when absent.
    bool Get(const ExtWord& w, uint16_t* freq, uint16_t* flags, uint32_t* stamp) {
        const TestLstr reading(w.reading);
        const TestLstr word = TestLstr::Text(w.text);
        uint32_t id = 0;
        if (!dict_.FindWordId(reading.get(), word.get(), &id)) return false;
        const int32_t group = dict_.Find(reading.get(), nullptr);
        uint32_t ids[16], stamps[16];
        uint16_t flagsOut[16], freqs[16];
        const int n = dict_.GetEntries(group, ids, flagsOut, freqs, stamps, 16);
        for (int i = 0; i < n; ++i) {
            if (ids[i] != id) continue;
            *freq = freqs[i];
            *flags = flagsOut[i];
            *stamp = stamps[i];
            return true;
        }
        return false;
    }

private:
    std::vector<uint8_t> bytes_;
    t_usrDictExtCore dict_;
    bool ok_ = false;
};

class ExtDictTest : public ::testing::Test {
protected:
    t_usrWordRecords Records(const std::vector<ExtWord>& words) {
        t_usrWordRecords out;
        for (const ExtWord& w : words) {
            keep_.push_back(std::make_unique<TestLstr>(w.reading));
            const t_lstr* reading = keep_.back()->get();
            keep_.push_back(std::make_unique<TestLstr>(TestLstr::Text(w.text)));
            t_usrWordFields f;
            f.reading = reading;
            f.word = keep_.back()->get();
            f.freq = w.freq;
            f.flags = w.flags;
            f.stamp = w.stamp;
            out.push_back(MakeUsrWordRecord(arena_, f));
        }
        return out;
    }
    int Files() const {
        int n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_.path())) ++n;
        return n;
    }

    TempDir dir_;
    t_scopeHeap arena_;
    std::vector<std::unique_ptr<TestLstr>> keep_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Building and merging the file.

TEST_F(ExtDictTest, MergeOrsTheSourceFlagsAndKeepsFrequencyAndStamp) {
    const ExtWord nihao = {{SyllableId(L"ni"), SyllableId(L"hao")}, u"你好", 5, 0x40, 2};
    const ExtWord hao = {{SyllableId(L"hao")}, u"好", 3, 0x40, 2};
    const std::wstring path = dir_.WFile("ext.bin");
    ASSERT_EQ(1, MergeUsrDictExtFile(path.c_str(), Records({nihao, hao})));
    EXPECT_EQ(1, Files());  // written directly, no work file

    ExtWord again = nihao;
    again.freq = 9;
    again.flags = 0x100;
    again.stamp = 77;
    const ExtWord ni = {{SyllableId(L"ni")}, u"你", 4, 0x100, 2};
    ASSERT_EQ(1, MergeUsrDictExtFile(path.c_str(), Records({again, ni})));
    EXPECT_EQ(1, Files());  // ".temp" and ".merge" are gone

    ExtFile file(dir_.File("ext.bin"));
    ASSERT_TRUE(file.ok());
    uint16_t freq = 0, flags = 0;
    uint32_t stamp = 0;
    ASSERT_TRUE(file.Get(nihao, &freq, &flags, &stamp));
    EXPECT_EQ(0x140, flags);
    EXPECT_EQ(5, freq);
    EXPECT_EQ(2u, stamp);
    ASSERT_TRUE(file.Get(hao, &freq, &flags, &stamp));
    EXPECT_EQ(0x40, flags);
    ASSERT_TRUE(file.Get(ni, &freq, &flags, &stamp));
    EXPECT_EQ(0x100, flags);
    EXPECT_EQ(4, freq);
    int32_t count = 0;
    EXPECT_TRUE(file.dict().GetCount(&count));
    EXPECT_EQ(3, count);
}

TEST_F(ExtDictTest, MergedFileReplacesTheLiveOneInOneRename) {
    const std::wstring path = dir_.WFile("ext.bin");
    ASSERT_EQ(
        1, MergeUsrDictExtFile(path.c_str(), Records({{{SyllableId(L"hao")}, u"好", 3, 0x40, 2}})));
    const std::vector<uint8_t> before = ReadFileBytes(dir_.File("ext.bin"));
    // A reader that has the live file open keeps seeing it whole.
    const int fd = open(dir_.File("ext.bin").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(
        1, MergeUsrDictExtFile(path.c_str(), Records({{{SyllableId(L"ni")}, u"你", 4, 0x100, 2}})));
    std::vector<uint8_t> seen(before.size() + 16);
    const ssize_t n = pread(fd, seen.data(), seen.size(), 0);
    close(fd);
    seen.resize(n < 0 ? 0 : size_t(n));
    EXPECT_EQ(before, seen);
    EXPECT_NE(before, ReadFileBytes(dir_.File("ext.bin")));
}

TEST_F(ExtDictTest, FailedMergeLeavesTheFileAndNoWorkFiles) {
    const std::wstring path = dir_.WFile("ext.bin");
    ASSERT_EQ(
        1, MergeUsrDictExtFile(path.c_str(), Records({{{SyllableId(L"hao")}, u"好", 3, 0x40, 2}})));
    const std::vector<uint8_t> before = ReadFileBytes(dir_.File("ext.bin"));

    ASSERT_TRUE(WriteFileBytes(dir_.File("junk.bin"), std::vector<uint8_t>(300, 7)));
    EXPECT_EQ(0, MergeExtFiles(path.c_str(), dir_.WFile("junk.bin").c_str()));
    EXPECT_EQ(0, MergeExtFiles(path.c_str(), dir_.WFile("missing.bin").c_str()));
    EXPECT_EQ(before, ReadFileBytes(dir_.File("ext.bin")));
    EXPECT_FALSE(fs::exists(dir_.File("ext.bin.merge")));

    // A live file that is not an extension image is not merged into.
    ASSERT_TRUE(WriteFileBytes(dir_.File("other.bin"), std::vector<uint8_t>(300, 9)));
    EXPECT_EQ(0, MergeUsrDictExtFile(dir_.WFile("other.bin").c_str(),
                                     Records({{{SyllableId(L"ni")}, u"你", 4, 0x100, 2}})));
    EXPECT_EQ(std::vector<uint8_t>(300, 9), ReadFileBytes(dir_.File("other.bin")));
    EXPECT_FALSE(fs::exists(dir_.File("other.bin.temp")));
    EXPECT_FALSE(fs::exists(dir_.File("other.bin.merge")));
}

TEST_F(ExtDictTest, MergeRuleTakesOnlyEightFieldItems) {
    uint8_t stored[8][4] = {}, incoming[8][4] = {};
    n_tableFormat::Wr16(stored[2], 5);
    n_tableFormat::Wr16(stored[3], 0x40);
    n_tableFormat::Wr32(stored[4], 33);
    n_tableFormat::Wr16(incoming[2], 9);
    n_tableFormat::Wr16(incoming[3], 0x800);
    n_tableFormat::Wr32(incoming[4], 99);
    std::vector<uint8_t*> in;
    std::vector<const uint8_t*> st;
    for (int i = 0; i < 8; ++i) {
        in.push_back(incoming[i]);
        st.push_back(stored[i]);
    }
    std::vector<uint8_t*> shortIn(in.begin(), in.begin() + 7);
    EXPECT_EQ(0, ExtMergeRecord(0, shortIn, st));
    EXPECT_EQ(9, n_tableFormat::Rd16(incoming[2]));  // untouched
    ASSERT_EQ(1, ExtMergeRecord(0, in, st));
    EXPECT_EQ(5, n_tableFormat::Rd16(incoming[2]));
    EXPECT_EQ(0x840, n_tableFormat::Rd16(incoming[3]));
    EXPECT_EQ(33u, n_tableFormat::Rd32(incoming[4]));
}

// ---------------------------------------------------------------------------
// Lookups.

TEST_F(ExtDictTest, LookupsFindReadingsPrefixesAndTexts) {
    const std::vector<ExtWord> words = {
        {{SyllableId(L"ni")}, u"你", 4, 0x40, 2},
        {{SyllableId(L"ni"), SyllableId(L"hao")}, u"你好", 5, 0x40, 2},
        {{SyllableId(L"ni"), SyllableId(L"hao"), SyllableId(L"ma")}, u"你好吗", 2, 0x40, 2},
        {{SyllableId(L"ni"), SyllableId(L"hao")}, u"拟好", 1, 0x80, 2},
    };
    ASSERT_EQ(1, WriteExtImage(dir_.WFile("ext.bin").c_str(), Records(words)));
    ExtFile file(dir_.File("ext.bin"));
    ASSERT_TRUE(file.ok());
    t_usrDictExtCore& d = file.dict();

    int longer = -1;
    const TestLstr ni({SyllableId(L"ni")});
    const int32_t group = d.Find(ni.get(), &longer);
    ASSERT_GE(group, 0);
    EXPECT_EQ(1, longer);
    const TestLstr nihaoma({SyllableId(L"ni"), SyllableId(L"hao"), SyllableId(L"ma")});
    EXPECT_GE(d.Find(nihaoma.get(), &longer), 0);
    EXPECT_EQ(0, longer);
    EXPECT_EQ(-1, d.Find(TestLstr({SyllableId(L"hao")}).get(), &longer));

    int32_t ids[8];
    const t_lstr* keys[8];
    int count = 0;
    ASSERT_TRUE(d.FindAll(ni.get(), ids, keys, 8, &count));
    EXPECT_EQ(2, count);
    ASSERT_TRUE(d.FindAll(ni.get(), ids, keys, 1, &count));
    EXPECT_EQ(1, count);

    const TestLstr nihao({SyllableId(L"ni"), SyllableId(L"hao")});
    uint32_t textIds[8];
    ASSERT_EQ(2, d.GetEntries(d.Find(nihao.get(), nullptr), textIds, nullptr, nullptr, nullptr, 8));
    EXPECT_EQ(1, d.GetEntries(d.Find(nihao.get(), nullptr), textIds, nullptr, nullptr, nullptr, 1));
    EXPECT_EQ(0, d.GetEntries(group + 1, textIds, nullptr, nullptr, nullptr, 8));
    EXPECT_EQ(0, d.GetEntries(-8, textIds, nullptr, nullptr, nullptr, 8));

    uint32_t id = 0;
    ASSERT_TRUE(d.FindWordId(nihao.get(), TestLstr::Text(u"拟好").get(), &id));
    EXPECT_FALSE(d.FindWordId(nihao.get(), TestLstr::Text(u"你").get(), &id));
}

TEST_F(ExtDictTest, GetStringRefusesTextsLongerThanTheBuffer) {
    const std::u16string longText(200, u'长');
    ASSERT_EQ(1, WriteExtImage(dir_.WFile("ext.bin").c_str(),
                               Records({{{SyllableId(L"chang")}, longText, 1, 0x40, 2}})));
    ExtFile file(dir_.File("ext.bin"));
    ASSERT_TRUE(file.ok());
    uint32_t id = 0;
    ASSERT_TRUE(file.dict().FindWordId(TestLstr({SyllableId(L"chang")}).get(),
                                       TestLstr::Text(longText).get(), &id));

    std::vector<uint8_t> small(131, 0xAA);
    EXPECT_FALSE(
        file.dict().GetString(id, reinterpret_cast<t_lstr*>(small.data()), uint32_t(small.size())));
    EXPECT_EQ(std::vector<uint8_t>(131, 0xAA), small);  // untouched
    std::vector<uint8_t> exact(2 + 400);
    ASSERT_TRUE(
        file.dict().GetString(id, reinterpret_cast<t_lstr*>(exact.data()), uint32_t(exact.size())));
    EXPECT_EQ(400, LstrGetByteLength(reinterpret_cast<t_lstr*>(exact.data())));
    EXPECT_FALSE(file.dict().GetString(id + 100000, reinterpret_cast<t_lstr*>(exact.data()), 402));
}

TEST_F(ExtDictTest, NothingIsAnsweredBeforeAnImageIsAttached) {
    t_usrDictExtCore d;
    const TestLstr ni({SyllableId(L"ni")});
    int longer = 1;
    EXPECT_EQ(-1, d.Find(ni.get(), &longer));
    EXPECT_EQ(0, longer);
    int count = 5;
    EXPECT_FALSE(d.FindAll(ni.get(), nullptr, nullptr, 4, &count));
    EXPECT_EQ(0, count);
    int32_t n = 7;
    EXPECT_FALSE(d.GetCount(&n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(0, d.GetEntries(0, nullptr, nullptr, nullptr, nullptr, 4));

    // Another table image (the key map's version) is refused.
    std::vector<uint8_t> junk(4096, 0);
    EXPECT_FALSE(d.Load(junk.data(), int32_t(junk.size())));
    EXPECT_FALSE(d.IsReady());
}
