// Import, restore and conversion of user dictionary files of every format,
// and what a damaged file must never do to the user's words.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/sys_dict_writer.h"
#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "kernel/userdict/usr_dict_internal.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/userdict/usr_support.h"
#include "tests/support/test_dir.h"

namespace {

std::vector<uint8_t> BuildV3File(const std::vector<OldWord>& words) {
    t_usrDictV3Core d;
    EXPECT_TRUE(d.CreateEmpty(kUsrDefaultCapacity));
    for (const OldWord& w : words)
        EXPECT_EQ(d.RestoreWord(TestLstr(w.reading).get(), TestLstr(w.text).get(), w.freq, w.flags,
                                w.stamp, w.extra),
                  1);
    std::vector<uint8_t> image;
    EXPECT_TRUE(d.RebuildImage(image));
    return image;
}

const std::vector<OldWord> kThree = {
    {{10, 20}, {0x4F60, 0x597D}, 5, 0x01, 40, 2},
    {{10, 20}, {0x62DF, 0x597D}, 2, 0x04, 12, 0},
    {{33}, {0x4E09}, 7, 0x02, 90, 1},
};
const std::vector<OldWord> kOthers = {
    {{1}, {0x4E00}, 3, 0, 5, 0},
    {{2, 3}, {0x4E8C, 0x4E09}, 4, 0, 6, 0},
};

class FileOpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SetConfiguredUserDir(dir.wpath().c_str()));
        ASSERT_TRUE(GetUsrDictFilePath(target));
        WriteFileBytes(dir.File("qzim_usr_v3new.bin"), BuildV3File(kOthers));
        ASSERT_TRUE(GetUsrDictInstance().AttachFile(target.c_str()));
    }
    std::vector<uint8_t> LiveFile() const { return ReadFileBytes(dir.File("qzim_usr_v3new.bin")); }
    std::wstring Put(const std::string& name, const std::vector<uint8_t>& bytes) {
        WriteFileBytes(dir.File(name), bytes);
        return dir.WFile(name);
    }
    void ExpectWords(const t_usrDictV3Core& d, const std::vector<OldWord>& words,
                     bool fields = true) {
        for (const OldWord& w : words) {
            t_usrWordAttr a;
            ASSERT_TRUE(d.GetWordRecord(TestLstr(w.reading).get(), TestLstr(w.text).get(), &a));
            if (!fields) continue;
            EXPECT_EQ(a.freq, w.freq);
            EXPECT_EQ(a.flags, w.flags);
            EXPECT_EQ(a.stamp, w.stamp);
        }
    }
    TempDir dir;
    std::wstring target;
};

TEST_F(FileOpsTest, DetectsTheFormatByItsMagic) {
    std::vector<uint8_t> both(40, 0);
    PutU32(both, 0, 0x55440101);
    PutU32(both, 32, 0x55449d55);
    int format = 0;
    ASSERT_TRUE(DetectUsrDictFormat(Put("both", both).c_str(), &format));
    EXPECT_EQ(format, kUsrFormatV1);
    PutU32(both, 0, 0);
    ASSERT_TRUE(DetectUsrDictFormat(Put("v2", both).c_str(), &format));
    EXPECT_EQ(format, kUsrFormatV2);
    ASSERT_TRUE(DetectUsrDictFormat(Put("v3", std::vector<uint8_t>(36, 9)).c_str(), &format));
    EXPECT_EQ(format, kUsrFormatV3);
    EXPECT_FALSE(DetectUsrDictFormat(Put("tiny", {1, 2, 3}).c_str(), &format));
    EXPECT_FALSE(DetectUsrDictFormat(dir.WFile("missing").c_str(), &format));
}

TEST_F(FileOpsTest, RestoreOfAThreeWordFileGivesExactlyThoseWords) {
    int count = -1;
    ASSERT_EQ(LoadOrConvertUsrDict(Put("three.bin", BuildV3File(kThree)).c_str(), &count, 1), 1);
    EXPECT_EQ(count, 3);
    t_usrDictV3Core& live = GetUsrDictInstance();
    EXPECT_EQ(live.GetWordCount(), 3);
    ExpectWords(live, kThree);
    EXPECT_FALSE(live.GetWordRecord(TestLstr(kOthers[0].reading).get(),
                                    TestLstr(kOthers[0].text).get(), nullptr));
    t_usrDictV3Core fromFile;
    ASSERT_TRUE(fromFile.AttachFile(target.c_str()));
    EXPECT_EQ(fromFile.GetWordCount(), 3);
}

// An import adds the file's words to the live ones and keeps, word by
// word, the larger frequency and the later stamp of the two.
TEST_F(FileOpsTest, ImportMergesAndKeepsTheLargerOfEachValue) {
    const std::wstring src = Put("three.bin", BuildV3File(kThree));
    t_usrDictV3Core& live = GetUsrDictInstance();
    int count = 0;
    for (int round = 0; round < 2; ++round) {  // a second import changes nothing
        ASSERT_EQ(LoadOrConvertUsrDict(src.c_str(), &count, 0), 1);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(live.GetWordCount(), 5);
        ExpectWords(live, kThree);
        ExpectWords(live, kOthers);
    }
    const OldWord& one = kOthers[0];  // live: frequency 3, stamp 5
    const struct {
        uint16_t freq;
        uint32_t stamp;
        uint16_t freqAfter;
        uint32_t stampAfter;
    } rows[] = {{1, 200, 3, 200}, {12, 3, 12, 200}};
    for (const auto& r : rows) {
        OldWord w = one;
        w.freq = r.freq;
        w.stamp = r.stamp;
        ASSERT_EQ(LoadOrConvertUsrDict(Put("one.bin", BuildV3File({w})).c_str(), &count, 0), 1);
        t_usrWordAttr a;
        ASSERT_TRUE(live.GetWordRecord(TestLstr(one.reading).get(), TestLstr(one.text).get(), &a));
        EXPECT_EQ(a.freq, r.freqAfter) << r.freq;
        EXPECT_EQ(a.stamp, r.stampAfter) << r.freq;
    }
    EXPECT_EQ(live.GetWordCount(), 5);
    EXPECT_EQ(live.GetTotalFreq(), 5 + 2 + 7 + 12 + 4);
}

TEST_F(FileOpsTest, AFailedImportOrRestoreChangesNothing) {
    const std::vector<uint8_t> before = LiveFile();
    const std::vector<uint8_t> liveImage = ImageOf(GetUsrDictInstance());
    std::vector<uint8_t> v3 = BuildV3File(kThree);
    std::vector<uint8_t> cut(v3.begin(), v3.begin() + long(v3.size() / 2));
    std::vector<uint8_t> v1 = BuildV1File(kThree);
    v1[v1.size() - 12] = 0x01;  // the last word's byte count becomes odd
    std::vector<uint8_t> v2 = BuildV2File(kThree);
    std::vector<uint8_t> v2cut(v2.begin(), v2.begin() + 100);
    for (int mode : {0, 1}) {
        for (const auto* bytes : {&cut, &v1, &v2cut}) {
            int count = -1;
            EXPECT_EQ(LoadOrConvertUsrDict(Put("bad", *bytes).c_str(), &count, mode), 0);
            EXPECT_EQ(count, 0);
            EXPECT_EQ(LiveFile(), before);
            EXPECT_EQ(ImageOf(GetUsrDictInstance()), liveImage);
        }
        int count = -1;
        EXPECT_EQ(LoadOrConvertUsrDict(dir.WFile("missing").c_str(), &count, mode), 0);
        EXPECT_EQ(LiveFile(), before);
    }
    // No file at all (a FIFO used to hold the caller in open, /dev/zero to
    // be read without end), and a file larger than any user dictionary,
    // refused before it is read: nothing changes.
    testsupport::t_hangGuard guard(30);
    std::vector<std::string> paths;
    for (const std::string& kind : testsupport::NonRegularKinds()) {
        paths.push_back(
            testsupport::NonRegularAt(kind, dir.File("kind" + std::to_string(paths.size()))));
        ASSERT_FALSE(paths.back().empty()) << "could not make " << kind;
    }
    paths.push_back(dir.File("huge"));
    Put("huge", v3);
    ASSERT_EQ(truncate(paths.back().c_str(), off_t(kUsrDictFileMaxBytes) + 1), 0);
    std::vector<uint8_t> read;
    EXPECT_FALSE(n_usrDict::ReadWholeFile(testsupport::Widen(paths.back()).c_str(), read));
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        for (int mode : {0, 1}) {
            int count = -1;
            EXPECT_EQ(LoadOrConvertUsrDict(testsupport::Widen(path).c_str(), &count, mode), 0);
            EXPECT_EQ(count, 0);
            EXPECT_EQ(LiveFile(), before);
        }
    }
}

bool FailWrite(int, const void*, size_t) {
    errno = ENOSPC;
    return false;
}

TEST_F(FileOpsTest, ARestoreThatCannotBeWrittenLeavesTheLiveFile) {
    const std::vector<uint8_t> before = LiveFile();
    const std::wstring src = Put("three.bin", BuildV3File(kThree));
    SetDictWriteFunction(&FailWrite);  // a full disk
    int count = -1;
    const int r = LoadOrConvertUsrDict(src.c_str(), &count, 1);
    SetDictWriteFunction(nullptr);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(LiveFile(), before);
    EXPECT_EQ(GetUsrDictInstance().GetWordCount(), 2);
}

TEST_F(FileOpsTest, FirstFormatFilesConvert) {
    int count = 0;
    ASSERT_EQ(LoadOrConvertUsrDict(Put("v1", BuildV1File(kThree, 0x554401d3)).c_str(), &count, 1),
              1);
    EXPECT_EQ(count, 3);
    t_usrDictV3Core& live = GetUsrDictInstance();
    EXPECT_EQ(live.GetWordCount(), 3);
    std::vector<OldWord> converted = kThree;  // the format keeps no flags and no stamps
    for (OldWord& w : converted) w.flags = 0, w.stamp = 2;
    ExpectWords(live, converted);
    // A reading with a unit of 500 stops the conversion.
    std::vector<OldWord> bad = kThree;
    bad[2].reading = {500};
    EXPECT_EQ(LoadOrConvertUsrDict(Put("v1bad", BuildV1File(bad)).c_str(), &count, 1), 0);
    EXPECT_EQ(live.GetWordCount(), 3);
}

TEST_F(FileOpsTest, SecondFormatFilesConvertWithAllFields) {
    for (bool scrambled : {true, false}) {
        int count = 0;
        ASSERT_EQ(
            LoadOrConvertUsrDict(Put("v2", BuildV2File(kThree, scrambled)).c_str(), &count, 1), 1);
        EXPECT_EQ(count, 3);
        t_usrDictV3Core& live = GetUsrDictInstance();
        EXPECT_EQ(live.GetWordCount(), 3);
        ExpectWords(live, kThree);
        t_usrWordAttr a;
        ASSERT_TRUE(live.GetWordRecord(TestLstr(kThree[0].reading).get(),
                                       TestLstr(kThree[0].text).get(), &a));
        EXPECT_EQ(a.extra, 2);
    }
}

TEST_F(FileOpsTest, SecondFormatSkipsBadEntriesAndEndsBrokenChains) {
    std::vector<OldWord> words = kThree;
    words.push_back({{33}, {0x4E5D}, 1, 0, 3, 0});
    std::vector<uint8_t> f = BuildV2File(words);
    // Word entries are in reading order: {10,20} has entries 0 and 1, {33} 2 and 3.
    const uint32_t wordOff = uint32_t(f[96] | f[97] << 8 | f[98] << 16 | f[99] << 24);
    PutU16(f, wordOff + 24 + 16, 7);               // entry 1: a bad scrambled flag ends its chain
    PutU32(f, wordOff + 2 * 24 + 4, 0x7FFFFFF0u);  // entry 2: a next index past the entries
    int count = 0;
    ASSERT_EQ(LoadOrConvertUsrDict(Put("v2", f).c_str(), &count, 1), 1);
    t_usrDictV3Core& live = GetUsrDictInstance();
    EXPECT_TRUE(live.GetWordRecord(TestLstr(kThree[0].reading).get(),
                                   TestLstr(kThree[0].text).get(), nullptr));
    EXPECT_FALSE(live.GetWordRecord(TestLstr(kThree[1].reading).get(),
                                    TestLstr(kThree[1].text).get(), nullptr));
    EXPECT_FALSE(live.GetWordRecord(TestLstr({33}).get(), TestLstr({0x4E5D}).get(), nullptr));
    EXPECT_EQ(count, 1);
}

TEST_F(FileOpsTest, HugeImportedStampsSaturateTheClock) {
    std::vector<OldWord> words = {{{5}, {0x4E94}, 1, 0, 0xFFFFFFFFu, 0}};
    int count = 0;
    ASSERT_EQ(LoadOrConvertUsrDict(Put("v2", BuildV2File(words)).c_str(), &count, 0), 1);
    t_usrDictV3Core& live = GetUsrDictInstance();
    EXPECT_EQ(live.GetHeaderWord(kUsrHdrClock), kUsrClockMax);
    ASSERT_EQ(live.LearnWord(TestLstr({5}).get(), TestLstr({0x4E94}).get(), 0), 1);
    EXPECT_EQ(live.GetHeaderWord(kUsrHdrClock), kUsrClockMax);
}

// Every prefix of a file of each format, and older files with huge counts,
// are refused or read within bounds (the sanitizer build catches any stray
// read).
TEST(OldFormatBoundsTest, TruncatedFilesAndHugeCountsAreHandled) {
    std::vector<OldWord> words = kThree;
    words.push_back({{7, 8, 9}, {0x4E03, 0x516B, 0x4E5D}, 9, 0, 77, 0});
    for (int format : {kUsrFormatV1, kUsrFormatV2, kUsrFormatV3}) {
        const std::vector<uint8_t> whole = format == kUsrFormatV1   ? BuildV1File(words)
                                           : format == kUsrFormatV2 ? BuildV2File(words)
                                                                    : BuildV3File(words);
        t_scopeHeap arena;
        t_usrWordRecords out;
        ASSERT_TRUE(ParseUsrDictImage(whole.data(), whole.size(), format, arena, out));
        EXPECT_EQ(out.size(), words.size());
        // Every prefix near the ends of the large current image.
        for (size_t n = 0; n < whole.size();
             n += (n < 4096 || n > whole.size() - 4096) ? 1 : 4099) {
            // A copy of exactly n bytes, so a read past it is caught.
            std::unique_ptr<uint8_t[]> cut(new uint8_t[n ? n : 1]);
            std::memcpy(cut.get(), whole.data(), n);
            EXPECT_FALSE(ParseUsrDictImage(cut.get(), n, format, arena, out)) << format << " " << n;
            EXPECT_TRUE(out.empty());
        }
    }
    // Huge counts, sizes and offsets: refused, or the entries they spoil skipped.
    const struct {
        int format;
        std::vector<std::pair<size_t, uint32_t>> patches;
        size_t kept;  // 0: the file is refused
    } huge[] = {
        {kUsrFormatV1, {{20, 0x7FFFFFFF}, {24, 0x7FFFFFFF}}, 0},
        {kUsrFormatV1, {{44, 0x7FFFFFFF}}, 0},  // name entries
        {kUsrFormatV1, {{40, 0x7FFFFFFF}}, 0},  // record size
        {kUsrFormatV2, {{48, 0x7FFFFFFF}}, 0},
        {kUsrFormatV2, {{52, 0x7FFFFFFF}}, 0},
        {kUsrFormatV2, {{92, 0xFFFFFFF0u}}, 0},
        {kUsrFormatV2, {{124, 0xFFFFFFF0u}}, words.size() - 2},  // first reading's text offset
    };
    for (const auto& h : huge) {
        std::vector<uint8_t> f = h.format == kUsrFormatV1 ? BuildV1File(words) : BuildV2File(words);
        for (const auto& [at, value] : h.patches) PutU32(f, at, value);
        SCOPED_TRACE(h.patches[0].first);
        t_scopeHeap arena;
        t_usrWordRecords out;
        EXPECT_EQ(ParseUsrDictImage(f.data(), f.size(), h.format, arena, out), h.kept > 0);
        EXPECT_EQ(out.size(), h.kept);
    }
}

// An import larger than the dictionary can hold fills it up to a margin
// below the limit, never at the cost of the words held (a word learned just
// before, used once, used to be evicted first), and answers the words it
// really kept; once full, an import of new words keeps none and fails.
TEST_F(FileOpsTest, ImportIntoAFullDictionaryKeepsTheHeldWordsAndCountsTheKeptOnes) {
    t_usrDictV3Core& live = GetUsrDictInstance();
    const TestLstr learned[] = {{7, 8}, {7, 9}, {7, 10}};
    for (const TestLstr& r : learned)
        ASSERT_EQ(live.LearnWord(r.get(), TestLstr({0x5B66}).get(), 0), 1);
    ASSERT_EQ(1, live.SaveToFile(target.c_str(), 1));
    std::vector<OldWord> many;
    for (uint32_t k = 0; k < 300000; ++k)
        many.push_back(
            {{uint16_t(100 + k % 300), uint16_t(100 + k / 300 % 300), uint16_t(101 + k / 90000)},
             {uint16_t(0x4E00 + k % 20000), uint16_t(0x4E00 + k / 20000)},
             5});
    int count = 0;
    ASSERT_EQ(LoadOrConvertUsrDict(Put("many.bin", BuildV1File(many)).c_str(), &count, 0), 1);
    EXPECT_GT(count, 250000);
    EXPECT_LT(count, 300000);
    for (const TestLstr& r : learned)
        EXPECT_TRUE(live.GetWordRecord(r.get(), TestLstr({0x5B66}).get(), nullptr));
    ExpectWords(live, kOthers);
    EXPECT_EQ(live.GetWordCount(), count + 5);
    t_usrDictV3Core fromFile;
    ASSERT_TRUE(fromFile.AttachFile(target.c_str()));
    EXPECT_EQ(fromFile.GetWordCount(), count + 5);

    const std::vector<OldWord> fresh = {{{9, 9}, {0x4E00}, 4}, {{9, 8}, {0x4E01}, 4}};
    const std::vector<uint8_t> before = LiveFile();
    EXPECT_EQ(LoadOrConvertUsrDict(Put("fresh.bin", BuildV1File(fresh)).c_str(), &count, 0), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(LiveFile(), before);
    // So does a word list of them (it answered 1).
    t_scopeHeap arena;
    t_usrWordRecords records;
    std::vector<TestLstr> texts;  // the records point into them
    texts.reserve(2 * fresh.size());
    for (const OldWord& w : fresh) {
        texts.emplace_back(w.reading);
        texts.emplace_back(w.text);
        t_usrWordFields f;
        f.reading = texts[texts.size() - 2].get();
        f.word = texts.back().get();
        f.freq = w.freq;
        records.push_back(MakeUsrWordRecord(arena, f));
    }
    ASSERT_EQ(1, ExportUsrWordsToText(dir.WFile("fresh.txt").c_str(), records));
    EXPECT_EQ(0, ImportWordsIntoUsrDict(target.c_str(), dir.WFile("fresh.txt").c_str(), nullptr));
    EXPECT_EQ(LiveFile(), before);
}

// A restore replaces the dictionary with the file's words, every one up to
// one short of the trim point (the import's margin used to cut a restore at
// 272,000 words, taken in file order, and answer true); of a file that
// holds more, the most used, and the log says how many were dropped.
TEST_F(FileOpsTest, ARestoreOfMoreWordsThanFitKeepsTheMostUsed) {
    const uint32_t words = kUsrTrimPoint + 1000;
    t_usrDictV3Core backup;
    ASSERT_TRUE(backup.CreateEmpty(kUsrMaxCapacity * 2));
    ASSERT_TRUE(FillBulkWords(backup, 0, words));
    std::vector<uint8_t> image;
    ASSERT_TRUE(backup.RebuildImage(image));
    testing::internal::CaptureStderr();
    int count = 0;
    ASSERT_EQ(LoadOrConvertUsrDict(Put("backup.bin", image).c_str(), &count, 1), 1);
    const std::string log = testing::internal::GetCapturedStderr();
    const t_usrDictV3Core& live = GetUsrDictInstance();
    EXPECT_EQ(uint32_t(count), kUsrTrimPoint - 1);
    EXPECT_EQ(uint32_t(live.GetWordCount()), kUsrTrimPoint - 1);
    EXPECT_NE(log.find("1001 words of the file dropped"), std::string::npos) << log;
    // Word k is used 3 + k % 5 times, and the later of two equally used
    // words stays: the 1001 oldest words used three times went.
    const auto has = [&](uint32_t k) {
        return live.GetWordRecord(BulkReading(k).get(), BulkText(k).get(), nullptr);
    };
    EXPECT_FALSE(has(0) || has(5000));
    EXPECT_TRUE(has(1) && has(5005) && has(words - 1));
}

TEST_F(FileOpsTest, WordCountOfFiles) {
    EXPECT_EQ(GetUsrDictWordCount(dir.WFile("missing").c_str(), 1), 0);
    EXPECT_EQ(GetUsrDictWordCount(Put("three", BuildV3File(kThree)).c_str(), 1), 3);
    const std::wstring junk = Put("junk", std::vector<uint8_t>(300, 7));
    EXPECT_EQ(GetUsrDictWordCount(junk.c_str(), 1), -1);
    EXPECT_EQ(GetUsrDictWordCount(junk.c_str(), 0), 0);
}

TEST_F(FileOpsTest, ReconvertWithALimitKeepsTheNewestWords) {
    std::vector<OldWord> many;
    for (uint16_t i = 0; i < 20; ++i)
        many.push_back({{uint16_t(40 + i)}, {uint16_t(0x4E00 + i)}, 1, 0, 10u + i, 0});
    const std::wstring path = Put("many", BuildV3File(many));
    ASSERT_TRUE(ReconvertWithLimit(path.c_str(), 5));
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachFile(path.c_str()));
    EXPECT_EQ(back.GetWordCount(), 5);
    EXPECT_TRUE(back.GetWordRecord(TestLstr({59}).get(), TestLstr({0x4E13}).get(), nullptr));
}

TEST_F(FileOpsTest, ARestoreKilledAtAnyPointLeavesTheOldOrTheRestoredWords) {
    const std::vector<uint8_t> before = LiveFile();
    const std::wstring src = Put("three.bin", BuildV3File(kThree));
    for (int i = 0; i < 10; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int count = 0;
            for (;;) {
                LoadOrConvertUsrDict(src.c_str(), &count, 1);
                DictWriteFileSafely(t_pathName(target.c_str()), before.data(), before.size());
            }
        }
        usleep(useconds_t(1000 + i * 2500));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const int n = GetUsrDictWordCount(target.c_str(), 1);
        EXPECT_TRUE(n == 2 || n == 3) << i << " words " << n;
    }
}

TEST_F(FileOpsTest, RemovingTheDictionaryLeavesItEmpty) {
    DeleteUsrDictFile();
    EXPECT_EQ(GetUsrDictWordCount(target.c_str(), 1), 0);
    EXPECT_EQ(GetUsrDictInstance().GetWordCount(), 0);
    int count = 0;
    ASSERT_EQ(LoadOrConvertUsrDict(Put("three.bin", BuildV3File(kThree)).c_str(), &count, 0), 1);
    EXPECT_EQ(GetUsrDictWordCount(target.c_str(), 1), 3);
}

time_t FixedClock() {
    return 1893456000;
}  // 2030-01-01

// Through the dictionary manager, with an older backup lying in "Backup":
// the restored dictionary is the restored file, not backup and file mixed.
TEST(FileOpsManagerTest, RestoreWithBackupsPresentGivesTheRestoredWordsOnly) {
    TempDir root;
    const std::string user = root.File("user");
    ASSERT_EQ(mkdir(user.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((user + "/Backup").c_str(), 0700), 0);
    const char* oldHome = getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", root.path().c_str(), 1);
    ASSERT_TRUE(SetConfiguredUserDir(std::wstring(user.begin(), user.end()).c_str()));
    ASSERT_TRUE(t_singleton<t_versionManager>::Get().Init());
    {
        t_dictManager manager;
        ASSERT_TRUE(manager.Init());
        WriteFileBytes(user + "/qzim_usr_v3new.bin", BuildV3File(kOthers));
        WriteFileBytes(user + "/Backup/qzim_usr_v3new.bin.20200101000000",
                       BuildV3File({{{9}, {0x4E5D}, 4, 0, 3, 0}}));
        t_usrDictV3Core& live = GetUsrDictInstance();
        ASSERT_TRUE(manager.Register(L"UsrDictV3", &live, kLoadPhase1, kStorageReserved, kDirUser,
                                     kUsrDictFileName, kBackupDaily, kVersionMaskDict));
        ASSERT_TRUE(manager.LoadDict(L"UsrDictV3"));
        EXPECT_EQ(live.GetWordCount(), 2);

        int count = 0;
        const std::string src = root.File("three.bin");
        WriteFileBytes(src, BuildV3File(kThree));
        ASSERT_EQ(LoadOrConvertUsrDict(std::wstring(src.begin(), src.end()).c_str(), &count, 1), 1);
        EXPECT_EQ(count, 3);
        ASSERT_TRUE(live.IsLoaded());
        EXPECT_EQ(live.GetWordCount(), 3);
        for (const OldWord& w : kThree)
            EXPECT_TRUE(
                live.GetWordRecord(TestLstr(w.reading).get(), TestLstr(w.text).get(), nullptr));
        EXPECT_FALSE(live.GetWordRecord(TestLstr({9}).get(), TestLstr({0x4E5D}).get(), nullptr));
        // Learning goes on in the re-attached image, and a save through the
        // manager writes it.
        ASSERT_EQ(live.LearnWord(TestLstr({9}).get(), TestLstr({0x4E5D}).get(), 0), 1);
        EXPECT_TRUE(manager.SaveDict(L"UsrDictV3"));
        EXPECT_EQ(
            GetUsrDictWordCount(
                std::wstring(user.begin(), user.end()).append(L"/qzim_usr_v3new.bin").c_str(), 1),
            4);
        // A dated backup written by the dictionary itself (compact) restores
        // through its Import.
        const std::vector<uint8_t> liveFile = ReadFileBytes(user + "/qzim_usr_v3new.bin");
        SetDictClockFunction(&FixedClock);
        const bool exported = live.Export(liveFile.data(), int32_t(liveFile.size()));
        SetDictClockFunction(nullptr);
        ASSERT_TRUE(exported);
        wchar_t stamp[15];
        ASSERT_TRUE(FormatDictStamp(FixedClock(), stamp));
        const std::vector<uint8_t> backup =
            ReadFileBytes(user + "/Backup/qzim_usr_v3new.bin." + std::string(stamp, stamp + 14));
        ASSERT_FALSE(backup.empty());
        EXPECT_LT(backup.size(), liveFile.size());
        // Removing the dictionary does not bring back an older backup.
        DeleteUsrDictFile();
        EXPECT_TRUE(live.IsLoaded());
        EXPECT_EQ(live.GetWordCount(), 0);
        std::remove((user + "/qzim_usr_v3new.bin").c_str());
        ASSERT_TRUE(live.Import(backup.data(), int32_t(backup.size())));
        EXPECT_EQ(
            GetUsrDictWordCount(
                std::wstring(user.begin(), user.end()).append(L"/qzim_usr_v3new.bin").c_str(), 1),
            4);
        // A damaged backup writes nothing.
        std::vector<uint8_t> damaged(backup.begin(), backup.begin() + long(backup.size() / 2));
        const std::vector<uint8_t> kept = ReadFileBytes(user + "/qzim_usr_v3new.bin");
        EXPECT_FALSE(live.Import(damaged.data(), int32_t(damaged.size())));
        EXPECT_EQ(ReadFileBytes(user + "/qzim_usr_v3new.bin"), kept);
    }
    {
        // Without any file the dictionary starts from its own empty image.
        t_dictManager manager;
        ASSERT_TRUE(manager.Init());
        t_usrDictV3Core fresh;
        ASSERT_TRUE(manager.Register(L"UsrDictFresh", &fresh, kLoadPhase1, kStorageReserved,
                                     kDirUser, L"fresh.bin", 0, kVersionMaskDict));
        ASSERT_TRUE(manager.LoadDict(L"UsrDictFresh"));
        EXPECT_TRUE(fresh.IsLoaded());
        EXPECT_EQ(fresh.GetWordCount(), 0);
        EXPECT_EQ(fresh.GetHeaderWord(kUsrHdrClock), 2u);
    }
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
}

}  // namespace

namespace {

// The process-wide character dictionary holds the characters of the test
// words (the image lives as long as the process).
void LoadTestCharacters() {
    static std::vector<uint8_t> image;
    if (image.empty()) {
        std::vector<t_hzCharEntry> chars;
        for (uint16_t ch : {0x4F60, 0x597D, 0x62DF, 0x4E09, 0x4E00, 0x4E8C})
            chars.push_back({ch, {1}});
        std::sort(chars.begin(), chars.end(),
                  [](const t_hzCharEntry& a, const t_hzCharEntry& b) { return a.ch < b.ch; });
        std::string error;
        ASSERT_TRUE(BuildHzDictImage(chars, image, &error)) << error;
    }
    ASSERT_TRUE(t_singleton<t_hzDict>::Get().Load(image.data(), int32_t(image.size())));
}

void ExpectRecord(const t_oldUsrRecord& r, const OldWord& w, bool allFields) {
    EXPECT_EQ(TestLstr(w.reading).Bytes(),
              std::vector<uint8_t>(
                  r.reading,
                  r.reading + 2 + LstrGetByteLength(reinterpret_cast<const t_lstr*>(r.reading))));
    EXPECT_EQ(TestLstr(w.text).Bytes(),
              std::vector<uint8_t>(
                  r.word, r.word + 2 + LstrGetByteLength(reinterpret_cast<const t_lstr*>(r.word))));
    EXPECT_EQ(r.freq, w.freq);
    EXPECT_EQ(r.flags, allFields ? w.flags : 0);
    EXPECT_EQ(r.stamp, allFields ? w.stamp : 2u);
    // The rest of each field is zero.
    const uint16_t rl = LstrGetByteLength(reinterpret_cast<const t_lstr*>(r.reading));
    EXPECT_TRUE(std::all_of(r.reading + 2 + rl, r.reading + sizeof r.reading,
                            [](uint8_t b) { return b == 0; }));
}

}  // namespace

TEST_F(FileOpsTest, OlderFilesReadIntoFixedRecords) {
    LoadTestCharacters();
    t_scopeHeap arena;
    t_oldUsrRecord* recs = nullptr;
    int32_t n = -1;
    ASSERT_TRUE(ReadV1UsrDictRecords(arena, Put("v1.bin", BuildV1File(kThree)).c_str(), &recs, &n));
    ASSERT_EQ(n, 3);
    for (int i = 0; i < 3; ++i) ExpectRecord(recs[i], kThree[size_t(i)], false);
    ASSERT_TRUE(ReadV2UsrDictRecords(arena, Put("v2.bin", BuildV2File(kThree)).c_str(), &recs, &n));
    ASSERT_EQ(n, 3);
    for (int i = 0; i < 3; ++i) ExpectRecord(recs[i], kThree[size_t(i)], true);

    // Format 1 wants known characters or letters; one other character refuses the file.
    std::vector<OldWord> letters = {{{5}, {'a', 'b'}, 2, 0, 2, 0}};
    ASSERT_TRUE(
        ReadV1UsrDictRecords(arena, Put("ab.bin", BuildV1File(letters)).c_str(), &recs, &n));
    EXPECT_EQ(n, 1);
    std::vector<OldWord> unknown = kThree;
    unknown.push_back({{40}, {0x4EBA}, 1, 0, 2, 0});
    EXPECT_FALSE(
        ReadV1UsrDictRecords(arena, Put("bad.bin", BuildV1File(unknown)).c_str(), &recs, &n));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(recs, nullptr);

    // The wrong format, a missing file, a cut file.
    EXPECT_FALSE(ReadV1UsrDictRecords(arena, dir.WFile("v2.bin").c_str(), &recs, &n));
    EXPECT_FALSE(ReadV2UsrDictRecords(arena, dir.WFile("v1.bin").c_str(), &recs, &n));
    EXPECT_FALSE(ReadV2UsrDictRecords(arena, dir.WFile("missing").c_str(), &recs, &n));
    const std::vector<uint8_t> v1 = BuildV1File(kThree);
    EXPECT_FALSE(ReadV1UsrDictRecords(
        arena, Put("cut.bin", std::vector<uint8_t>(v1.begin(), v1.end() - 1)).c_str(), &recs, &n));
    // At most the file's word count of a format-3 file.
    std::vector<uint8_t> v2 = BuildV2File(kThree);
    PutU32(v2, 52, 2);
    ASSERT_TRUE(ReadV2UsrDictRecords(arena, Put("two.bin", v2).c_str(), &recs, &n));
    EXPECT_EQ(n, 2);
}

TEST_F(FileOpsTest, MissingRecordsBecomeUserWordRecords) {
    LoadTestCharacters();
    t_scopeHeap arena;
    t_oldUsrRecord* recs = nullptr;
    int32_t n = 0;
    std::vector<OldWord> words = kThree;
    words.push_back(kOthers[0]);  // the live dictionary holds this one
    ASSERT_TRUE(ReadV2UsrDictRecords(arena, Put("v2.bin", BuildV2File(words)).c_str(), &recs, &n));
    ASSERT_EQ(n, 4);
    recs[1].reading[0] = 200;  // a reading count past its field: left out
    t_usrWordRecords out;
    const UsrWordRecord* earlier =
        MakeUsrWordRecord(arena, t_usrWordFields{TestLstr({9}).get(), TestLstr({'x'}).get()});
    out.push_back(earlier);
    EXPECT_EQ(AppendMissingRecords(arena, recs, n, out, 0x40), 1);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], earlier);
    for (size_t i = 1; i < out.size(); ++i) {
        const OldWord& w = kThree[i == 1 ? 0 : 2];
        t_usrWordFields f;
        ASSERT_TRUE(ReadUsrWordRecord(out[i], &f));
        EXPECT_EQ(LstrCompare(f.reading, TestLstr(w.reading).get()), 0);
        EXPECT_EQ(LstrCompare(f.word, TestLstr(w.text).get()), 0);
        EXPECT_EQ(f.freq, w.freq);
        EXPECT_EQ(f.flags, 0x40);
        EXPECT_EQ(f.stamp, w.stamp);
    }
    EXPECT_EQ(AppendMissingRecords(arena, nullptr, 0, out, 0), 1);
    EXPECT_EQ(AppendMissingRecords(arena, nullptr, 1, out, 0), 0);
    EXPECT_EQ(out.size(), 3u);
}
