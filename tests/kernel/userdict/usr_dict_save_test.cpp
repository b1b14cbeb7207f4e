// Saving and loading the user dictionary: round trips, rebuilds, capacity,
// validation of loaded images, and saves that fail or crash part-way.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <tuple>

#include "kernel/runtime/dict_base.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_scramble.h"
#include "tests/kernel/userdict/usr_support.h"

namespace {

std::set<std::string> DirEntries(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// The reading and the word of the i-th word Fill learns (with salt 0).
TestLstr FillReading(int i) {
    return TestLstr({uint16_t(i % 400), uint16_t((i / 400) % 400)});
}
TestLstr FillWord(int i, int salt = 0) {
    return TestLstr({uint16_t(0x4E00 + (i + salt) % 5000), uint16_t(0x4E00 + i / 5000)});
}

// Fills a dictionary with n words under varied readings.
void Fill(t_usrDictV3Core& d, int n, int salt = 0) {
    for (int i = 0; i < n; ++i) {
        TestLstr r = FillReading(i);
        TestLstr w = FillWord(i, salt);
        ASSERT_NE(d.LearnWord(r.get(), w.get(), 0), 0) << i;
    }
}

size_t g_failAfter = 0;
size_t g_written = 0;
int g_errno = 0;
bool FailingWrite(int fd, const void* data, size_t size) {
    const size_t room = g_failAfter > g_written ? g_failAfter - g_written : 0;
    const size_t n = size < room ? size : room;
    if (n > 0 && write(fd, data, n) != ssize_t(n)) return false;
    g_written += n;
    if (n < size) {
        errno = g_errno;
        return false;
    }
    return true;
}

size_t g_killAfter = 0;
bool KillingWrite(int fd, const void* data, size_t size) {
    const size_t n = size < g_killAfter ? size : g_killAfter;
    if (n > 0 && write(fd, data, n) != ssize_t(n)) return false;
    if (n < size) raise(SIGKILL);
    g_killAfter -= n;
    return true;
}

class SaveTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(d.CreateEmpty(kUsrDefaultCapacity)); }
    void TearDown() override { SetDictWriteFunction(nullptr); }

    // Runs save with writes failing after each byte count, by EIO and by
    // ENOSPC: every save fails and leaves u.bin as old, with no work file.
    void ExpectFailedSavesKeep(const std::vector<uint8_t>& old,
                               std::initializer_list<size_t> afters,
                               const std::function<bool()>& save) {
        SetDictWriteFunction(&FailingWrite);
        for (size_t after : afters) {
            for (int err : {EIO, ENOSPC}) {
                g_failAfter = after;
                g_written = 0;
                g_errno = err;
                EXPECT_FALSE(save()) << after;
                EXPECT_EQ(ReadFileBytes(dir.File("u.bin")), old) << after;
                EXPECT_EQ(DirEntries(dir.path()), std::set<std::string>{"u.bin"}) << after;
            }
        }
        SetDictWriteFunction(nullptr);
    }

    // Runs save in a child process whose writes are killed after `at` bytes;
    // the child must die by SIGKILL.
    static void SaveKilledInsideWrite(size_t at, const std::function<void()>& save) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            g_killAfter = at;
            SetDictWriteFunction(&KillingWrite);
            save();
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }

    // Runs body (saving over and over) in a child process killed from
    // outside after delay.
    static void KillSavingChildAfter(useconds_t delay, const std::function<void()>& body) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            body();
            _exit(0);
        }
        usleep(delay);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    // Makes d empty, fills it with n words (Fill) and writes it to u.bin, as
    // a whole file or, with compact, as a compact one.
    void SaveFilled(t_usrDictV3Core& d, int n, bool compact = false) {
        ASSERT_TRUE(d.CreateEmpty(kUsrDefaultCapacity));
        ASSERT_NO_FATAL_FAILURE(Fill(d, n));
        const std::wstring path = dir.WFile("u.bin");
        ASSERT_TRUE(compact ? d.SaveCompactTemp(path.c_str()) : d.SaveToFile(path.c_str(), 1));
    }

    TempDir dir;
    t_usrDictV3Core d;  // empty at the start of each test
};

TEST_F(SaveTest, LearnSaveReloadKeepsEveryFieldAndWeight) {
    TestLstr r({10, 20}), w1 = TestLstr::Text(u"你好"), w2 = TestLstr::Text(u"拟好");
    ASSERT_EQ(d.LearnWord(r.get(), w1.get(), 0), 1);  // freq 1, stamp 2, now 3
    ASSERT_EQ(d.LearnWord(r.get(), w2.get(), 0), 1);  // freq 1, stamp 3, now 4
    ASSERT_EQ(d.LearnWord(r.get(), w1.get(), 0), 1);  // freq 2, stamp (4>>1)+(2>>1) = 3, now 5
    ASSERT_TRUE(d.SaveToFile(dir.WFile("u.bin").c_str(), 1));

    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachFile(dir.WFile("u.bin").c_str()));
    t_usrWordAttr a;
    ASSERT_TRUE(back.GetWordRecord(r.get(), w1.get(), &a));
    EXPECT_EQ(a.freq, 2);
    EXPECT_EQ(a.stamp, 3u);
    ASSERT_TRUE(back.GetWordRecord(r.get(), w2.get(), &a));
    EXPECT_EQ(a.freq, 1);
    EXPECT_EQ(a.stamp, 3u);
    EXPECT_EQ(back.GetHeaderWord(kUsrHdrClock), 5u);
    EXPECT_EQ(back.GetTotalFreq(), 3);
    EXPECT_EQ(back.GetWordCount(), 2);

    // Weights by hand with k = 255 (base 0.5): average 1, top 17, span 16.
    // Both words are of age 5 - 3 = 2: target = 17 - ((2 x 16) >> 7) = 17.
    back.SetupWeightCurve(255);
    uint32_t ids[4], weights[4];
    uint16_t freqs[4];
    const int32_t g = back.Find(r.get(), nullptr);
    ASSERT_EQ(back.GetWords(0, g, ids, nullptr, nullptr, freqs, nullptr, weights, nullptr, 4), 2);
    for (int i = 0; i < 2; ++i) {
        const uint32_t expect =
            freqs[i] == 2 ? 2 + uint32_t((17 - 2) * 0.5) : 1 + uint32_t((17 - 1) * 0.5);
        EXPECT_EQ(weights[i], expect);
    }
    // In boost mode the age-2 factor is 0.5 + 126 x 0.5 / 128.
    ASSERT_EQ(back.GetWords(1, g, ids, nullptr, nullptr, freqs, nullptr, weights, nullptr, 4), 2);
    const double f = 0.5 + 126 * 0.5 * 0.0078125;
    EXPECT_EQ(weights[0], uint32_t(freqs[0] + int((17 - freqs[0]) * f)));
}

TEST_F(SaveTest, AnEmptyFileHasTheFreshHeader) {
    const std::wstring path = dir.WFile("empty.bin");
    ASSERT_TRUE(t_usrDictV3Core::CreateEmptyFile(path.c_str(), 20000));
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachFile(path.c_str()));
    EXPECT_EQ(back.GetWordCount(), 0);
    EXPECT_EQ(back.GetHeaderWord(kUsrHdrClock), 2u);
    EXPECT_EQ(back.GetHeaderWord(kUsrHdrBuckets), 500u);
    EXPECT_FALSE(t_usrDictV3Core::CreateEmptyFile(dir.WFile("no/such/dir.bin").c_str(), 100));
}

TEST_F(SaveTest, SoftDeletedWordsAreDroppedByTheRebuild) {
    TestLstr r({7}), w1 = TestLstr::Text(u"七"), w2 = TestLstr::Text(u"期");
    d.LearnWord(r.get(), w1.get(), 0);
    d.LearnWord(r.get(), w2.get(), 0);
    ASSERT_EQ(d.DeleteWord(r.get(), w2.get()), 1);
    EXPECT_EQ(d.GetWordCount(), 2);
    ASSERT_TRUE(d.SaveToFile(dir.WFile("u.bin").c_str(), 1));
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachFile(dir.WFile("u.bin").c_str()));
    EXPECT_EQ(back.GetWordCount(), 1);
    EXPECT_FALSE(back.GetWordRecord(r.get(), w2.get(), nullptr));
    EXPECT_TRUE(back.GetWordRecord(r.get(), w1.get(), nullptr));
}

TEST_F(SaveTest, CapacityRules) {
    EXPECT_EQ(ComputeCapacity(5000, 320000), 10000u);
    EXPECT_EQ(ComputeCapacity(9999, 320000), 10000u);
    EXPECT_EQ(ComputeCapacity(15000, 320000), 20000u);
    EXPECT_EQ(ComputeCapacity(400000, 320000), 320000u);
    EXPECT_EQ(ComputeCapacity(50000, 10000), 10000u);
    // Past nine tenths the tables double, and every word stays.
    int doubled = 0;
    for (int i = 0; i < 9500; ++i) {
        TestLstr r({uint16_t(i % 400), uint16_t(i / 400)});
        const int res = d.LearnWord(r.get(), TestLstr({0x4E00}).get(), 0);
        ASSERT_NE(res, 0) << i;
        doubled += res == 2;
    }
    EXPECT_GE(doubled, 1);
    EXPECT_EQ(d.GetWordCount(), 9500);
    EXPECT_EQ(d.GetHeaderWord(kUsrHdrKeys), 9500u);
    for (int i = 0; i < 9500; i += 97)
        EXPECT_TRUE(d.GetWordRecord(TestLstr({uint16_t(i % 400), uint16_t(i / 400)}).get(),
                                    TestLstr({0x4E00}).get(), nullptr));
    ASSERT_TRUE(d.SaveToFile(dir.WFile("big.bin").c_str(), 1));
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachFile(dir.WFile("big.bin").c_str()));
    EXPECT_EQ(back.GetWordCount(), 9500);
}

// A rebuilt image is sized by the words it keeps, not by the rows it had.
TEST_F(SaveTest, RebuildSizesTheImageByItsLiveWords) {
    auto emptySize = [](uint32_t capacity) {
        t_usrDictV3Core e;
        EXPECT_TRUE(e.CreateEmpty(capacity));
        return ImageOf(e).size();
    };
    Fill(d, 15000);
    std::vector<uint8_t> rebuilt;
    ASSERT_TRUE(d.RebuildImage(rebuilt));
    EXPECT_EQ(rebuilt.size(), emptySize(20000));
    for (int i = 0; i < 7000; ++i) {
        TestLstr r = FillReading(i);
        TestLstr w = FillWord(i);
        ASSERT_EQ(d.DeleteWord(r.get(), w.get()), 1);
    }
    ASSERT_TRUE(d.RebuildImage(rebuilt));
    EXPECT_EQ(rebuilt.size(), emptySize(kUsrDefaultCapacity));
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachCopy(rebuilt.data(), rebuilt.size()));
    EXPECT_EQ(back.GetWordCount(), 8000);
}

// A dictionary above the trim point (the previous release's imports let
// one grow to 300,000 words; here as many words as the largest capacity has
// rows) keeps every word through a rebuild, at that capacity (each rebuild
// used to trim it). The rebuilt table has no spare row: the next learned
// word makes room first and is kept (it used to be refused for good).
TEST_F(SaveTest, ARebuildKeepsEveryWordAboveTheTrimPoint) {
    t_usrDictV3Core empty, big;
    ASSERT_TRUE(empty.CreateEmpty(kUsrMaxCapacity));
    ASSERT_TRUE(big.CreateEmpty(kUsrMaxCapacity * 2));
    const uint32_t words = kUsrMaxCapacity;
    ASSERT_TRUE(FillBulkWords(big, 0, words));
    std::vector<uint8_t> rebuilt;
    ASSERT_TRUE(big.RebuildImage(rebuilt));
    EXPECT_EQ(rebuilt.size(), ImageOf(empty).size());
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachCopy(rebuilt.data(), rebuilt.size()));
    EXPECT_EQ(uint32_t(back.GetWordCount()), words);
    for (const uint32_t k : {0u, words / 2, words - 1})
        EXPECT_TRUE(back.GetWordRecord(BulkReading(k).get(), BulkText(k).get(), nullptr)) << k;
    const TestLstr r = BulkReading(900000), w = BulkText(900000);
    EXPECT_EQ(back.LearnWord(r.get(), w.get(), 0), 3);
    EXPECT_TRUE(back.GetWordRecord(r.get(), w.get(), nullptr));
    EXPECT_LT(uint32_t(back.GetWordCount()), words);
}

// A file of more words than any save writes (crafted or damaged; no release
// makes one) keeps its most used words, then the most recent, as it is
// attached, and tells how many went; what each later session learns is saved
// with them. Every save used to fail, and with it everything learned; then
// the file was kept at twice what learning keeps, so each session's first
// word trimmed it again and dropped the words learned the session before.
TEST_F(SaveTest, AnOversizedFileKeepsItsMostUsedWordsAndWhatEachSessionLearns) {
    const uint32_t words = kUsrRebuildCapacity + kUsrRebuildCapacity / 8;
    const std::vector<uint8_t> image = OversizedUsrImage(words);
    ASSERT_FALSE(image.empty());
    const std::wstring path = dir.WFile("big.bin");
    ASSERT_TRUE(WriteFileBytes(dir.File("big.bin"), image));
    const uint32_t sessions = 3;
    for (uint32_t s = 0; s < sessions; ++s) {
        t_usrDictV3Core live;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(live.AttachFile(path.c_str()));
        const std::string log = testing::internal::GetCapturedStderr();
        if (s == 0) {
            EXPECT_NE(std::string::npos,
                      log.find("user dictionary: " + std::to_string(words - kUsrOversizeKeep) +
                               " words dropped, " + std::to_string(kUsrOversizeKeep) + " kept"));
        }
        const TestLstr r = BulkReading(words + s), w = BulkText(words + s);
        ASSERT_GE(live.LearnWord(r.get(), w.get(), 0), 1);
        ASSERT_TRUE(live.SaveToFile(path.c_str(), 0));
    }
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachFile(path.c_str()));
    EXPECT_EQ(uint32_t(back.GetWordCount()), kUsrOversizeKeep + sessions);
    for (uint32_t s = 0; s < sessions; ++s)
        EXPECT_TRUE(
            back.GetWordRecord(BulkReading(words + s).get(), BulkText(words + s).get(), nullptr))
            << "learned in session " << s;
    // Word k was used 3 + k % 5 times, the later ones more recently: those
    // used 7 times stay, and the most recent of those used 6 times (just what
    // is kept); the rest go.
    for (const uint32_t k : {4u, words - 2, words - 1})
        EXPECT_TRUE(back.GetWordRecord(BulkReading(k).get(), BulkText(k).get(), nullptr)) << k;
    for (const uint32_t k : {0u, 1u, 2u, 3u, words - 5})
        EXPECT_FALSE(back.GetWordRecord(BulkReading(k).get(), BulkText(k).get(), nullptr)) << k;
}

TEST_F(SaveTest, ImagesWithABadReadingAreRefusedAndBadTextsHidden) {
    TestLstr r({10, 20}), w = TestLstr::Text(u"你好"), other = TestLstr::Text(u"好");
    d.LearnWord(r.get(), w.get(), 0);
    d.LearnWord(TestLstr({30}).get(), other.get(), 0);
    const std::vector<uint8_t> good = ImageOf(d);
    t_usrDictV3Core probe;
    ASSERT_TRUE(probe.AttachCopy(good.data(), good.size()));

    auto patch = [&](const std::vector<uint8_t>& pattern, size_t at, std::vector<uint8_t> with) {
        std::vector<uint8_t> img = good;
        auto it = std::search(img.begin(), img.end(), pattern.begin(), pattern.end());
        EXPECT_NE(it, img.end());
        std::copy(with.begin(), with.end(), it + long(at));
        return img;
    };
    // A unit of 500 in a reading refuses the whole image.
    std::vector<uint8_t> bad = patch({4, 0, 10, 0, 20, 0}, 4, {0xF4, 0x01});
    EXPECT_FALSE(probe.AttachCopy(bad.data(), bad.size()));
    EXPECT_FALSE(probe.IsLoaded());
    // So does an odd byte count.
    bad = patch({4, 0, 10, 0, 20, 0}, 0, {3});
    EXPECT_FALSE(probe.AttachCopy(bad.data(), bad.size()));

    // A text with an odd byte count: the image loads, the word is hidden.
    TestLstr scrambled = w;
    uint16_t sum;
    ASSERT_TRUE(ScrambleWordText(scrambled.get(), &sum, int32_t(d.GetHeaderWord(kUsrHdrParam1)),
                                 int32_t(d.GetHeaderWord(kUsrHdrParam2))));
    std::vector<uint8_t> img = patch(scrambled.Bytes(), 0, {3});
    ASSERT_TRUE(probe.AttachCopy(img.data(), img.size()));
    t_usrWordAttr a;
    ASSERT_FALSE(probe.GetWordRecord(r.get(), w.get(), &a));  // the stored text no longer matches
    const int32_t g = probe.Find(r.get(), nullptr);
    uint16_t freqs[2];
    uint32_t stamps[2];
    ASSERT_EQ(probe.GetEntries(g, nullptr, nullptr, nullptr, freqs, stamps, nullptr, 2), 1);
    EXPECT_EQ(freqs[0], 0);
    EXPECT_EQ(stamps[0], kUsrNoAge);
    EXPECT_EQ(probe.GetTotalFreq(), 1);
    std::vector<uint8_t> rebuilt;
    ASSERT_TRUE(probe.RebuildImage(rebuilt));
    t_usrDictV3Core after;
    ASSERT_TRUE(after.AttachCopy(rebuilt.data(), rebuilt.size()));
    EXPECT_EQ(after.GetWordCount(), 1);
}

TEST_F(SaveTest, InPlaceSaveOnlyWithoutForce) {
    ASSERT_NO_FATAL_FAILURE(SaveFilled(d, 50));
    const std::wstring path = dir.WFile("u.bin");
    t_usrDictV3Core live;
    ASSERT_TRUE(live.AttachFile(path.c_str()));
    TestLstr r({3, 0}), w({0x4E03, 0x4E00});
    ASSERT_EQ(live.LearnWord(r.get(), w.get(), 0), 1);
    ASSERT_TRUE(live.SaveToFile(path.c_str(), 0));
    // Patched in place: the file is exactly the attached image.
    EXPECT_EQ(ReadFileBytes(dir.File("u.bin")), ImageOf(live));
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachFile(path.c_str()));
    t_usrWordAttr a;
    ASSERT_TRUE(back.GetWordRecord(r.get(), w.get(), &a));
    EXPECT_EQ(a.freq, 2);
    // Force 1 rebuilds: the file gets new scrambling parameters.
    ASSERT_TRUE(live.SaveToFile(path.c_str(), 1));
    EXPECT_NE(ReadFileBytes(dir.File("u.bin")), ImageOf(live));
}

namespace {

// The words of a dictionary as (reading, text, frequency, flags, stamp) tuples.
// A damaged image may hold words whose text fails its check: those are
// refused, which is what `damaged` allows.
std::set<std::tuple<std::vector<uint8_t>, std::vector<uint8_t>, int, int, uint32_t>> Words(
    const t_usrDictV3Core& d, bool damaged = false) {
    std::set<std::tuple<std::vector<uint8_t>, std::vector<uint8_t>, int, int, uint32_t>> out;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!d.CollectItems(pairs)) {
        EXPECT_TRUE(damaged);
        return out;
    }
    for (const auto& pr : pairs) {
        const t_lstr* r = nullptr;
        t_usrWordAttr a;
        alignas(2) uint8_t text[kUsrTextBufBytes];
        if (!d.ReadPair(pr, &r, &a) ||
            !d.GetWordText(a.textId, a.checksum, reinterpret_cast<t_lstr*>(text))) {
            EXPECT_TRUE(damaged);
            continue;
        }
        const auto* rb = reinterpret_cast<const uint8_t*>(r);
        out.emplace(
            std::vector<uint8_t>(rb, rb + LstrGetTotalBytes(r)),
            std::vector<uint8_t>(text, text + LstrGetTotalBytes(reinterpret_cast<t_lstr*>(text))),
            a.freq, a.flags, a.stamp);
    }
    return out;
}

}  // namespace

// The manager's notice of a written file always rebuilds, even where an
// in-place save would be possible.
TEST_F(SaveTest, WrittenFileNoticeAlwaysRebuilds) {
    ASSERT_NO_FATAL_FAILURE(SaveFilled(d, 50));
    const std::wstring path = dir.WFile("u.bin");
    t_usrDictV3Core live;
    ASSERT_TRUE(live.AttachFile(path.c_str()));
    TestLstr r({3, 0}), w({0x4E03, 0x4E01});
    ASSERT_EQ(live.LearnWord(r.get(), w.get(), 0), 1);
    ASSERT_TRUE(live.OnFileWritten(path.c_str()));
    const std::vector<uint8_t> written = ReadFileBytes(dir.File("u.bin"));
    EXPECT_NE(written, ImageOf(live));  // rebuilt: new scrambling parameters
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachFile(path.c_str()));
    EXPECT_EQ(back.GetWordCount(), 51);
    EXPECT_NE(back.GetHeaderWord(kUsrHdrParam1) * 32768 + back.GetHeaderWord(kUsrHdrParam2),
              live.GetHeaderWord(kUsrHdrParam1) * 32768 + live.GetHeaderWord(kUsrHdrParam2));
    EXPECT_EQ(Words(back), Words(live));
    // Failure to write is reported.
    EXPECT_FALSE(live.OnFileWritten(dir.WFile("no/such/dir.bin").c_str()));
}

TEST_F(SaveTest, AFullChangeLogSavesTheFileAndLearningGoesOn) {
    ASSERT_NO_FATAL_FAILURE(SaveFilled(d, 200));
    const std::wstring path = dir.WFile("u.bin");
    t_usrDictV3Core live;
    ASSERT_TRUE(live.AttachFile(path.c_str()));
    const std::vector<uint8_t> first = ReadFileBytes(dir.File("u.bin"));
    std::vector<int> savedAt;
    std::vector<uint8_t> last = first;
    for (int i = 0; i < 150; ++i) {
        TestLstr r = FillReading(i);
        TestLstr w = FillWord(i);
        ASSERT_EQ(live.LearnWord(r.get(), w.get(), 0), 1) << i;
        std::vector<uint8_t> now = ReadFileBytes(dir.File("u.bin"));
        if (now != last) savedAt.push_back(i);
        last = std::move(now);
    }
    // About fifty logged rows fill the log; each learning that fills it saves.
    ASSERT_EQ(savedAt.size(), 3u);
    EXPECT_GE(savedAt[0], 40);
    EXPECT_LE(savedAt[0], 50);
    EXPECT_EQ(savedAt[1] - savedAt[0], savedAt[2] - savedAt[1]);
    t_usrDictV3Core back;
    ASSERT_TRUE(back.AttachFile(path.c_str()));
    t_usrWordAttr a;
    ASSERT_TRUE(back.GetWordRecord(TestLstr({0, 0}).get(), TestLstr({0x4E00, 0x4E00}).get(), &a));
    EXPECT_EQ(a.freq, 2);
    // Merges that fill the log only restart it; the next save is a rebuild
    // that still holds every merged change.
    for (int i = 0; i < 120; ++i) {
        TestLstr r = FillReading(i);
        TestLstr w = FillWord(i);
        ASSERT_EQ(back.MergeWord(r.get(), w.get(), 50, 0, 9), 1) << i;
    }
    ASSERT_TRUE(back.SaveToFile(path.c_str(), 0));
    t_usrDictV3Core again;
    ASSERT_TRUE(again.AttachFile(path.c_str()));
    for (int i = 0; i < 120; i += 7) {
        TestLstr r = FillReading(i);
        TestLstr w = FillWord(i);
        ASSERT_TRUE(again.GetWordRecord(r.get(), w.get(), &a));
        EXPECT_EQ(a.freq, 50) << i;
    }
}

TEST_F(SaveTest, AnInPlaceSaveKilledAtAnyPointLeavesTheOldOrTheNewFile) {
    ASSERT_NO_FATAL_FAILURE(SaveFilled(d, 300));
    const std::wstring path = dir.WFile("u.bin");
    const std::vector<uint8_t> old = ReadFileBytes(dir.File("u.bin"));
    for (int i = 0; i < 10; ++i) {
        ASSERT_NO_FATAL_FAILURE(KillSavingChildAfter(useconds_t(500 + i * 1500), [&] {
            t_usrDictV3Core live;
            if (!live.AttachFile(path.c_str())) _exit(1);
            live.LearnWord(TestLstr({1, 0}).get(), TestLstr({0x4E01, 0x4E00}).get(), 0);
            for (;;) live.SaveToFile(path.c_str(), 0);
        }));
        t_usrDictV3Core back;
        ASSERT_TRUE(back.AttachFile(path.c_str())) << i;
        t_usrWordAttr a;
        ASSERT_TRUE(
            back.GetWordRecord(TestLstr({1, 0}).get(), TestLstr({0x4E01, 0x4E00}).get(), &a));
        EXPECT_TRUE(a.freq == 1 || a.freq == 2) << i;
        if (a.freq == 1) {
            EXPECT_EQ(ReadFileBytes(dir.File("u.bin")), old);
        }
        WriteFileBytes(dir.File("u.bin"), old);
    }
}

}  // namespace

TEST_F(SaveTest, CompactSaveLoadsBackWithEveryWordAndLogsChanges) {
    ASSERT_NO_FATAL_FAILURE(SaveFilled(d, 300, true));
    const std::wstring path = dir.WFile("u.bin");
    EXPECT_EQ(DirEntries(dir.path()), std::set<std::string>{"u.bin"});
    const std::vector<uint8_t> compact = ReadFileBytes(dir.File("u.bin"));
    EXPECT_LT(compact.size(), ImageOf(d).size());

    t_usrDictV3Core back;
    ASSERT_TRUE(back.LoadCompact(compact.data(), compact.size(), nullptr, 0));
    EXPECT_EQ(Words(back), Words(d));
    EXPECT_EQ(back.GetWordCount(), 300);
    for (int i = 0; i < 19; ++i) EXPECT_EQ(back.GetHeaderWord(i), d.GetHeaderWord(i)) << i;
    t_fixedState state;
    EXPECT_FALSE(back.GetFixedCapacityState(&state));

    // With a region the changes are logged into it.
    const int64_t need = back.GetFixedStateSize(kUsrChangeLogRecords);
    ASSERT_GT(need, 0);
    std::vector<uint8_t> region(static_cast<size_t>(need), 0);
    t_usrDictV3Core logged;
    EXPECT_FALSE(
        logged.LoadCompact(compact.data(), compact.size(), region.data(), region.size() - 1));
    EXPECT_FALSE(logged.IsLoaded());
    ASSERT_TRUE(logged.LoadCompact(compact.data(), compact.size(), region.data(), region.size()));
    EXPECT_TRUE(logged.GetFixedCapacityState(&state));
    TestLstr r({7, 7}), w = TestLstr::Text(u"新词");
    ASSERT_EQ(logged.LearnWord(r.get(), w.get(), 0), 1);
    EXPECT_EQ(logged.GetWordCount(), 301);

    t_usrDictV3Core unloaded;
    EXPECT_EQ(unloaded.GetFixedStateSize(kUsrChangeLogRecords), -1);
    EXPECT_FALSE(unloaded.GetFixedCapacityState(&state));
    EXPECT_FALSE(unloaded.SaveCompactTemp(path.c_str()));
}

// Every prefix and single-byte damage of a compact image is refused or
// attaches within bounds (the sanitizer build catches a stray read).
TEST_F(SaveTest, DamagedCompactImagesAreRefused) {
    Fill(d, 40);
    ASSERT_TRUE(d.SaveCompactTemp(dir.WFile("u.bin").c_str()));
    const std::vector<uint8_t> compact = ReadFileBytes(dir.File("u.bin"));
    for (size_t n = 0; n < compact.size();
         n += (n < 2048 || n > compact.size() - 2048) ? 1 : 1021) {
        std::unique_ptr<uint8_t[]> cut(new uint8_t[n ? n : 1]);
        std::memcpy(cut.get(), compact.data(), n);
        t_usrDictV3Core back;
        EXPECT_FALSE(back.LoadCompact(cut.get(), n, nullptr, 0)) << n;
        EXPECT_FALSE(back.IsLoaded());
    }
    for (size_t pos = 0; pos < compact.size(); pos += 7) {
        std::vector<uint8_t> bad = compact;
        bad[pos] ^= 0xFF;
        t_usrDictV3Core back;
        if (!back.LoadCompact(bad.data(), bad.size(), nullptr, 0)) continue;
        TestLstr r({1, 2}), w = TestLstr::Text(u"词");
        back.LearnWord(r.get(), w.get(), 0);
        Words(back, true);
    }
}

// Trimming drops the oldest rarely used words and sets the header's counts
// from the table; frequent words stay.
TEST_F(SaveTest, TrimAllDropsOldRareWordsAndRecountsTheHeader) {
    EXPECT_FALSE(t_usrDictV3Core().TrimAll());
    Fill(d, 100);  // frequency 1, stamps 2..101
    std::vector<TestLstr> keep;
    for (int i = 0; i < 20; ++i) {
        keep.push_back(TestLstr({uint16_t(450), uint16_t(i)}));
        ASSERT_EQ(d.MergeWord(keep.back().get(), TestLstr::Text(u"常用").get(), 5, 0, 5000 + i), 1);
    }
    ASSERT_EQ(d.GetWordCount(), 120);
    ASSERT_TRUE(d.TrimAll());
    EXPECT_EQ(d.GetWordCount(), 72);  // two fifths of 120 rows, all of frequency 1
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    ASSERT_TRUE(d.CollectItems(pairs));
    EXPECT_EQ(uint32_t(d.GetWordCount()), pairs.size());
    std::set<std::vector<uint8_t>> readings;
    for (const auto& pr : pairs) {
        const t_lstr* r = nullptr;
        t_usrWordAttr a;
        ASSERT_TRUE(d.ReadPair(pr, &r, &a));
        readings.insert(
            std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(r),
                                 reinterpret_cast<const uint8_t*>(r) + LstrGetTotalBytes(r)));
    }
    EXPECT_EQ(d.GetHeaderWord(kUsrHdrKeys), readings.size());
    for (const TestLstr& r : keep) {
        t_usrWordAttr a;
        ASSERT_TRUE(d.GetWordRecord(r.get(), TestLstr::Text(u"常用").get(), &a));
        EXPECT_EQ(a.freq, 5);
    }
    EXPECT_EQ(d.GetTotalFreq(), 52 + 100);
}

// Saves of the whole file and compact ones whose writes fail part-way.
TEST_F(SaveTest, FailedSavesLeaveTheOldFileWholeAndNoWorkFile) {
    const std::wstring path = dir.WFile("u.bin");
    for (const bool compact : {false, true}) {
        SCOPED_TRACE(compact ? "compact" : "whole");
        ASSERT_NO_FATAL_FAILURE(SaveFilled(d, 200, compact));
        const std::vector<uint8_t> old = ReadFileBytes(dir.File("u.bin"));
        Fill(d, 300, 7);
        auto save = [&] {
            return compact ? d.SaveCompactTemp(path.c_str()) : d.SaveToFile(path.c_str(), 1);
        };
        ExpectFailedSavesKeep(old,
                              {size_t(0), size_t(1), std::min<size_t>(4096, old.size() - 1),
                               old.size() / 2, old.size() - 1},
                              save);
        // A compact save's work file left by a crash is simply replaced.
        if (compact) {
            ASSERT_TRUE(WriteFileBytes(dir.File("u.bin.temp"), {1, 2, 3}));
        }
        ASSERT_TRUE(save());
        EXPECT_EQ(DirEntries(dir.path()), std::set<std::string>{"u.bin"});
        const std::vector<uint8_t> bytes = ReadFileBytes(dir.File("u.bin"));
        t_usrDictV3Core back;
        ASSERT_TRUE(compact ? back.LoadCompact(bytes.data(), bytes.size(), nullptr, 0)
                            : back.AttachCopy(bytes.data(), bytes.size()));
        EXPECT_EQ(back.GetWordCount(), d.GetWordCount());
    }
    // A target that cannot be replaced (a directory) keeps no work file.
    ASSERT_NO_FATAL_FAILURE(SaveFilled(d, 20, true));
    const std::string blocked = dir.File("blocked");
    ASSERT_EQ(mkdir(blocked.c_str(), 0700), 0);
    ASSERT_TRUE(WriteFileBytes(blocked + "/keep", {1}));
    const std::wstring wblocked(blocked.begin(), blocked.end());
    EXPECT_FALSE(d.SaveCompactTemp(wblocked.c_str()));
    EXPECT_EQ(DirEntries(dir.path()), (std::set<std::string>{"blocked", "u.bin"}));
}

// The file after a save, whole or compact, killed part-way holds either
// every old word or every new one, never a mix and never nothing.
TEST_F(SaveTest, ASaveKilledAtAnyPointLeavesTheOldOrTheNewFile) {
    const std::wstring path = dir.WFile("u.bin");
    for (const bool compact : {false, true}) {
        SCOPED_TRACE(compact ? "compact" : "whole");
        ASSERT_NO_FATAL_FAILURE(SaveFilled(d, 300, compact));
        const std::vector<uint8_t> old = ReadFileBytes(dir.File("u.bin"));
        Fill(d, 100, 11);
        const int newCount = d.GetWordCount();
        auto save = [&] {
            return compact ? d.SaveCompactTemp(path.c_str()) : d.SaveToFile(path.c_str(), 1);
        };
        auto checkFile = [&](const char* what, int i) {
            const std::vector<uint8_t> bytes = ReadFileBytes(dir.File("u.bin"));
            t_usrDictV3Core back;
            ASSERT_TRUE(compact ? back.LoadCompact(bytes.data(), bytes.size(), nullptr, 0)
                                : back.AttachFile(path.c_str()))
                << what << i;
            const int n = back.GetWordCount();
            EXPECT_TRUE(n == 300 || n == newCount) << what << i << " words " << n;
            if (n == 300) {
                EXPECT_EQ(bytes, old);
            }
        };
        // Killed inside the write, at several byte counts.
        for (size_t at : {size_t(0), size_t(10), std::min<size_t>(5000, old.size() / 2),
                          old.size() / 3, old.size() - 2}) {
            ASSERT_NO_FATAL_FAILURE(SaveKilledInsideWrite(at, [&] { save(); }));
            checkFile("write ", int(at));
            EXPECT_EQ(ReadFileBytes(dir.File("u.bin")), old);
        }
        // Killed from outside at random moments of repeated saves (sync,
        // rename and directory sync included).
        for (int i = 0; i < 10; ++i) {
            ASSERT_NO_FATAL_FAILURE(KillSavingChildAfter(useconds_t(2000 + i * 3000), [&] {
                for (;;) save();
            }));
            checkFile("kill ", i);
        }
    }
}
