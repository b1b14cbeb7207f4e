// Words learned while another process holds the kernel's lock: the saves
// are refused, so as the process ends its unsaved changes go to a change
// file beside the user dictionary ("<file>.unsaved.<pid>.<16 hex>"); the
// next process that attaches the dictionary under the lock takes them into
// the file and removes the change file. A damaged change file is set aside
// unread and the dictionary stays as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "kernel/runtime/change_count.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/userdict/usr_support.h"
#include "tests/support/dict_env.h"
#include "tests/support/test_dir.h"

namespace {

constexpr const wchar_t* kName = L"UsrDict";
constexpr int kSeed = 500;  // a word saved before each case
constexpr uint16_t kSeedFreq = 7;
constexpr char kLearnOp = 1;   // the user dictionary's record of a learned word
constexpr char kDeleteOp = 2;  // ... of a deleted one

TestLstr Reading(int k) {
    return TestLstr({uint16_t(1 + k % 400), uint16_t(1 + k / 400)});
}
TestLstr Text(int k) {
    return TestLstr({uint16_t(0x4E00 + k)});
}

// A process that holds the dictionary manager's global lock until the
// parent closes the write end it is handed.
struct t_holder {
    pid_t pid = -1;
    int release = -1;

    bool Start() {
        int held[2], let[2];
        if (pipe(held) != 0 || pipe(let) != 0) return false;
        pid = fork();
        if (pid == 0) {
            close(held[0]);
            close(let[1]);
            std::wstring name;
            MakeSafeFileName(L"DictManager", L"_GlobalLocker", name);
            t_processLock lock;
            if (!lock.Create(name.c_str(), 3) || !lock.Lock()) _exit(1);
            char c = 1;
            if (write(held[1], &c, 1) != 1) _exit(2);
            while (read(let[0], &c, 1) > 0) {
            }
            _exit(0);
        }
        close(held[1]);
        close(let[0]);
        release = let[1];
        char c = 0;
        const bool ok = pid > 0 && read(held[0], &c, 1) == 1;
        close(held[0]);
        return ok;
    }
    // The exit status of the holder (0: it held and let go).
    int Stop() {
        if (release >= 0) close(release);
        release = -1;
        int status = 0;
        if (pid > 0) waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// A change file as the kernel writes it (the layout pinned here: files of
// one build are taken in by the next): header, then records.
uint32_t Fnv1a(const std::string& s) {
    uint32_t h = 2166136261u;
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
    return h;
}
std::string Record(const std::string& body) {
    const uint32_t n = uint32_t(body.size());
    return std::string(reinterpret_cast<const char*>(&n), 4) + body;
}
std::string LearnRecord(const TestLstr& reading, const TestLstr& text) {
    std::string body(1, kLearnOp);
    body.append(reading.Bytes().begin(), reading.Bytes().end());
    body.append(text.Bytes().begin(), text.Bytes().end());
    body.append(2, '\0');  // flags
    return Record(body);
}
std::string DeleteRecord(const TestLstr& reading, const TestLstr& text) {
    std::string body(1, kDeleteOp);
    body.append(reading.Bytes().begin(), reading.Bytes().end());
    body.append(text.Bytes().begin(), text.Bytes().end());
    return Record(body);
}
template <class T>
void Append(std::string& s, T v) {
    s.append(reinterpret_cast<const char*>(&v), sizeof v);
}
// The second format: the time it was written and the mark of the words the
// changes were made on, its header checked too.
std::string ChangeFile2(const std::string& records, uint32_t count, int64_t writtenNs) {
    std::string h("VTUNSAVD");
    Append<uint32_t>(h, 2);
    Append<uint32_t>(h, count);
    Append<uint64_t>(h, records.size());
    Append<uint32_t>(h, Fnv1a(records));
    Append<uint32_t>(h, 0);  // no mark
    Append<int64_t>(h, writtenNs);
    h.append(20, '\0');
    Append<uint32_t>(h, Fnv1a(h));
    return h + records;
}
std::string ChangeFile(const std::string& records, uint32_t count) {
    std::string h("VTUNSAVD");
    const uint32_t format = 1, sum = Fnv1a(records), zero = 0;
    const uint64_t bytes = records.size();
    h.append(reinterpret_cast<const char*>(&format), 4);
    h.append(reinterpret_cast<const char*>(&count), 4);
    h.append(reinterpret_cast<const char*>(&bytes), 8);
    h.append(reinterpret_cast<const char*>(&sum), 4);
    h.append(reinterpret_cast<const char*>(&zero), 4);
    return h + records;
}

class UnsavedChangesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, mkdir(root_.At("home").c_str(), 0700));
        ASSERT_NO_FATAL_FAILURE(Open());
        t_processLock::SetWaitLimitMs(200);
    }
    void TearDown() override {
        SetDictWriteFunction(nullptr);
        dict_.reset();
        count_.Close();
        env_.Close();
        t_processLock::SetWaitLimitMs(t_processLock::kDefaultWaitLimitMs);
    }

    void Open() {
        ASSERT_NO_FATAL_FAILURE(
            env_.Open(root_.At("home"), root_.At("user"), root_.At("sys"), root_.At("d4")));
        ASSERT_TRUE(count_.Create(kCountName));
    }
    // A fresh user directory whose dictionary holds the seed word, saved.
    void Reset() {
        dict_.reset();
        count_.Close();
        env_.Close();
        testsupport::RemoveTree(root_.At("home"));
        ASSERT_EQ(0, mkdir(root_.At("home").c_str(), 0700));
        ASSERT_NO_FATAL_FAILURE(Open());
        t_usrDictV3Core seed;
        ASSERT_TRUE(seed.CreateEmpty(kUsrDefaultCapacity));
        ASSERT_EQ(1,
                  seed.RestoreWord(Reading(kSeed).get(), Text(kSeed).get(), kSeedFreq, 0, 10, 0));
        ASSERT_TRUE(seed.SaveToFile(WPath().c_str(), 1));
    }
    // A process start: a fresh manager attaches a fresh dictionary.
    void Attach() {
        dict_.reset();
        env_.manager = std::make_unique<t_dictManager>();
        ASSERT_TRUE(env_.manager->Init());
        dict_ = std::make_unique<t_usrDictV3Core>();
        ASSERT_TRUE(env_.manager->Register(kName, dict_.get(), kLoadPhase1, kStorageReserved,
                                           kDirUser, kUsrDictFileName, 0, kVersionMaskDict));
        ASSERT_TRUE(env_.manager->WatchReplacements(kName, count_));
        ASSERT_TRUE(env_.manager->LoadDict(kName));
    }
    // Words learned while another process holds the lock, kept in a change
    // file as this process ends.
    void LearnAndEndHeld(const std::function<void()>& learn) {
        t_holder holder;
        ASSERT_TRUE(holder.Start());
        learn();
        EXPECT_FALSE(env_.manager->SaveAll());
        testing::internal::CaptureStderr();
        dict_.reset();
        env_.manager.reset();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(0, holder.Stop());
    }
    // Another process restores or removes the words: it counts the
    // replacement (the words themselves stay, which the checks do not read).
    static void ReplacedElsewhere() {
        const pid_t pid = fork();
        if (pid == 0) {
            t_changeCount other;
            if (!other.Create(kCountName)) _exit(1);
            t_processLock::t_locker lock(other.Lock());
            other.Add(true);
            _exit(lock.IsHeld() ? 0 : 2);
        }
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // Stderr of an attach.
    std::string AttachTold() {
        testing::internal::CaptureStderr();
        Attach();
        return testing::internal::GetCapturedStderr();
    }
    std::string Path() const { return root_.At("user/qzim_usr_v3new.bin"); }
    std::wstring WPath() const { return root_.WAt("user/qzim_usr_v3new.bin"); }
    // The frequency of word k in the saved file (0: absent).
    uint16_t FreqInFile(int k) const {
        t_usrDictV3Core file;
        t_usrWordAttr a;
        return file.AttachFile(WPath().c_str()) &&
                       file.GetWordRecord(Reading(k).get(), Text(k).get(), &a)
                   ? a.freq
                   : 0;
    }
    // The change files beside the dictionary (not those set aside).
    std::vector<std::string> ChangeFiles() const {
        const std::regex changeFile("qzim_usr_v3new\\.bin\\.unsaved\\.[0-9]+\\.[0-9a-f]{16}");
        std::vector<std::string> names;
        for (const std::string& name : testsupport::ListNames(root_.At("user")))
            if (std::regex_match(name, changeFile)) names.push_back(name);
        return names;
    }

    static constexpr const wchar_t* kCountName = L"ImeKernel_UsrDictChanges";
    testsupport::t_testDir root_{"vetra-unsaved"};
    testsupport::t_dictManagerEnv env_;
    t_changeCount count_;
    std::unique_ptr<t_usrDictV3Core> dict_;
};

// Two ends of a process: the kernel's shut-down destroys the dictionaries
// before their manager; a manager destroyed first unlinks the dictionaries.
TEST_F(UnsavedChangesTest, WordsLearnedWhileAnotherProcessHoldsTheLockAreKeptOverTheEnd) {
    struct t_case {
        const char* name;
        bool dictionaryFirst;
    };
    const t_case cases[] = {{"dictionary ends first", true}, {"manager ends first", false}};
    constexpr int kWords = 4;
    for (const t_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Reset());
        ASSERT_NO_FATAL_FAILURE(Attach());
        t_holder holder;
        ASSERT_TRUE(holder.Start());
        for (int k = 0; k < kWords; ++k)
            ASSERT_NE(0, dict_->LearnWord(Reading(k).get(), Text(k).get(), 0));
        EXPECT_FALSE(env_.manager->SaveAll());  // refused: the lock is held
        testing::internal::CaptureStderr();
        if (c.dictionaryFirst) dict_.reset();
        env_.manager.reset();
        dict_.reset();
        const std::string told = testing::internal::GetCapturedStderr();
        EXPECT_EQ(0, holder.Stop());

        const std::vector<std::string> kept = ChangeFiles();
        ASSERT_EQ(1u, kept.size());
        EXPECT_TRUE(
            std::regex_match(kept[0], std::regex("qzim_usr_v3new\\.bin\\.unsaved\\." +
                                                 std::to_string(getpid()) + "\\.[0-9a-f]{16}")))
            << kept[0];
        EXPECT_NE(std::string::npos,
                  told.find(Path() + ": 4 unsaved changes kept in " + root_.At("user") + "/" +
                            kept[0] + " for the next start\n"))
            << told;
        EXPECT_EQ(0, FreqInFile(0));  // not in the file yet

        testing::internal::CaptureStderr();
        ASSERT_NO_FATAL_FAILURE(Attach());
        const std::string taken = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, taken.find(root_.At("user") + "/" + kept[0] +
                                                ": 4 changes taken into " + Path() + "\n"))
            << taken;
        for (int k = 0; k < kWords; ++k) EXPECT_EQ(1, FreqInFile(k)) << "word " << k;
        EXPECT_EQ(kSeedFreq, FreqInFile(kSeed));
        EXPECT_TRUE(ChangeFiles().empty());
        ASSERT_NO_FATAL_FAILURE(Attach());  // taken in once only
        for (int k = 0; k < kWords; ++k) EXPECT_EQ(1, FreqInFile(k)) << "word " << k;
    }
}

bool NoSpace(int, const void*, size_t) {
    errno = ENOSPC;
    return false;
}

// With no room for a change file either, one line says how many changes
// are lost, and nothing is left behind.
TEST_F(UnsavedChangesTest, ChangesThatCannotBeKeptAreToldLost) {
    ASSERT_NO_FATAL_FAILURE(Reset());
    ASSERT_NO_FATAL_FAILURE(Attach());
    t_holder holder;
    ASSERT_TRUE(holder.Start());
    ASSERT_NE(0, dict_->LearnWord(Reading(0).get(), Text(0).get(), 0));
    EXPECT_FALSE(env_.manager->SaveAll());
    SetDictWriteFunction(&NoSpace);
    testing::internal::CaptureStderr();
    dict_.reset();
    env_.manager.reset();
    const std::string told = testing::internal::GetCapturedStderr();
    SetDictWriteFunction(nullptr);
    EXPECT_EQ(0, holder.Stop());
    EXPECT_NE(std::string::npos,
              told.find(Path() + ": 1 unsaved change lost: " + strerror(ENOSPC) + "\n"))
        << told;
    const std::vector<std::string> left = testsupport::ListNames(root_.At("user"));
    EXPECT_EQ(std::vector<std::string>{"qzim_usr_v3new.bin"}, left);
}

// Each damage leaves the dictionary's file byte for byte as it was and
// the dictionary attached; the change file is set aside unread, told in
// one line. Records the dictionary refuses (a reading no syllable has)
// are taken in as nothing.
TEST_F(UnsavedChangesTest, ADamagedChangeFileIsSetAsideAndHarmsNothing) {
    const std::string good = LearnRecord(Reading(1), Text(1));
    const std::string valid = ChangeFile(good, 1);
    std::string flipped = valid;
    flipped.back() ^= 0x40;
    std::string pastEnd = good;
    pastEnd[0] = char(good.size());  // the record claims 4 bytes more than it has
    const std::string name = "qzim_usr_v3new.bin.unsaved.4242.0123456789abcdef";
    const auto bytes = [&](std::string content) {
        return
            [content](const std::string& at) { return testsupport::WriteFileBytes(at, content); };
    };
    struct t_case {
        const char* name;
        std::function<bool(const std::string&)> make;
        const char* why;
    };
    const t_case cases[] = {
        {"empty", bytes(""), "cut short"},
        {"header cut short", bytes(valid.substr(0, 20)), "cut short"},
        {"another format", bytes("VTUNSAVE" + valid.substr(8)), "no change file of this version"},
        {"records cut short", bytes(valid.substr(0, valid.size() - 3)),
         "its size does not match its header"},
        {"a byte more", bytes(valid + "x"), "its size does not match its header"},
        {"a changed byte", bytes(flipped), "checksum mismatch"},
        {"a record past the end", bytes(ChangeFile(pastEnd, 1)),
         "its records do not match its header"},
        {"a record count too high", bytes(ChangeFile(good, 2)),
         "its records do not match its header"},
        {"too large to read",
         [](const std::string& at) {
             const int fd = open(at.c_str(), O_WRONLY | O_CREAT, 0600);
             const bool ok = fd >= 0 && ftruncate(fd, (off_t(64) << 20) + 1) == 0;
             if (fd >= 0) close(fd);
             return ok;
         },
         "larger than a change file may be"},
        {"a FIFO", [](const std::string& at) { return mkfifo(at.c_str(), 0600) == 0; },
         "not a regular file"},
        {"a link to a change file",
         [&](const std::string& at) {
             return testsupport::WriteFileBytes(at + ".target", valid) &&
                    symlink((at + ".target").c_str(), at.c_str()) == 0;
         },
         "a symbolic link"},
        {"refused records", bytes(ChangeFile(LearnRecord(TestLstr({0xFFFF}), Text(1)), 1)),
         nullptr},
    };
    for (const t_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Reset());
        const std::string before = testsupport::ReadFileBytes(Path());
        const std::string at = root_.At("user/" + name);
        ASSERT_TRUE(c.make(at));
        testsupport::t_hangGuard guard(30);
        testing::internal::CaptureStderr();
        ASSERT_NO_FATAL_FAILURE(Attach());
        const std::string told = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(dict_->IsReady());
        EXPECT_EQ(kSeedFreq, FreqInFile(kSeed));
        EXPECT_EQ(0, FreqInFile(1));
        EXPECT_TRUE(ChangeFiles().empty());
        if (c.why) {
            EXPECT_EQ(before, testsupport::ReadFileBytes(Path()));
            EXPECT_NE(std::string::npos, told.find(at + ": damaged (" + c.why + "), set aside as " +
                                                   at + ".damaged\n"))
                << told;
            struct stat st;
            EXPECT_EQ(0, lstat((at + ".damaged").c_str(), &st));
        } else {
            EXPECT_NE(std::string::npos,
                      told.find(at + ": 0 changes taken into " + Path() + ", 1 refused by it\n"))
                << told;
        }
    }
}

// A removal or restore ends every word learned before it, wherever it
// was kept. The replacement sweeps the change files (and those set aside
// as damaged) of the words it replaced; a change file that lands after
// the sweep, from a process that learned its words before the replacement,
// carries the mark of those words and is removed unread. Words learned
// after the replacement are taken in. Words used to come back.
TEST_F(UnsavedChangesTest, NoWordFromBeforeARemovalOrRestoreIsTakenIn) {
    enum class t_when { kSweptByTheReplacement, kLandedAfterTheSweep, kLearnedAfter };
    struct t_case {
        const char* name;
        t_when when;
        bool taken;
        const char* told;
    };
    const t_case cases[] = {
        {"kept before the replacement, swept by it", t_when::kSweptByTheReplacement, false,
         ": 3 change files of words from before removed with them\n"},
        {"landed after the sweep", t_when::kLandedAfterTheSweep, false,
         ": 1 change made before the words were replaced, removed\n"},
        {"learned after the replacement", t_when::kLearnedAfter, true, ": 1 change taken into "},
    };
    const std::string old = "qzim_usr_v3new.bin.unsaved.4242.0123456789abcdef";
    for (const t_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Reset());
        ASSERT_NO_FATAL_FAILURE(Attach());
        if (c.when == t_when::kLearnedAfter) {
            ASSERT_NO_FATAL_FAILURE(ReplacedElsewhere());
            ASSERT_NO_FATAL_FAILURE(Attach());
        }
        ASSERT_NO_FATAL_FAILURE(LearnAndEndHeld(
            [&] { ASSERT_NE(0, dict_->LearnWord(Reading(1).get(), Text(1).get(), 0)); }));
        ASSERT_EQ(1u, ChangeFiles().size());
        std::string told;
        if (c.when == t_when::kSweptByTheReplacement) {
            // Beside it: one of the first format, and one set aside.
            const std::string v1 = ChangeFile(LearnRecord(Reading(2), Text(2)), 1);
            ASSERT_TRUE(testsupport::WriteFileBytes(root_.At("user/" + old), v1));
            ASSERT_TRUE(testsupport::WriteFileBytes(root_.At("user/" + old + ".damaged"), "x"));
            // This process replaces the words, attached while another
            // process held the lock (nothing taken in).
            t_holder holder;
            ASSERT_TRUE(holder.Start());
            told = AttachTold();
            EXPECT_EQ(0, holder.Stop());
            t_processLock::t_locker order(count_.Lock());
            count_.Add(true);
            testing::internal::CaptureStderr();
            EXPECT_TRUE(env_.manager->WordsReplaced(kName));
            told = testing::internal::GetCapturedStderr();
        } else if (c.when == t_when::kLandedAfterTheSweep) {
            ASSERT_NO_FATAL_FAILURE(ReplacedElsewhere());
        }
        const std::string attached = AttachTold();
        if (c.when != t_when::kSweptByTheReplacement) told = attached;
        EXPECT_NE(std::string::npos, told.find(c.told)) << told;
        EXPECT_EQ(c.taken ? 1 : 0, FreqInFile(1));
        EXPECT_EQ(0, FreqInFile(2));
        EXPECT_EQ(kSeedFreq, FreqInFile(kSeed));
        const std::vector<std::string> left = testsupport::ListNames(root_.At("user"));
        EXPECT_EQ(std::vector<std::string>{"qzim_usr_v3new.bin"}, left);
    }
}

// Change files are taken in in the order they were written, not by name
// (pid 10000 sorts before 9999): a word learned, then deleted, stays
// deleted. The first format tells the order by the file's time.
TEST_F(UnsavedChangesTest, ChangeFilesAreTakenInInTheOrderTheyWereWritten) {
    const std::string learn = LearnRecord(Reading(1), Text(1));
    const std::string erase = DeleteRecord(Reading(1), Text(1));
    constexpr int64_t kEarlier = 1700000000LL * 1000000000, kLater = kEarlier + 1000000;
    struct t_case {
        const char* name;
        std::string earlier, later;
    };
    const t_case cases[] = {
        {"first format", ChangeFile(learn, 1), ChangeFile(erase, 1)},
        {"second format", ChangeFile2(learn, 1, kEarlier), ChangeFile2(erase, 1, kLater)},
    };
    for (const t_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Reset());
        const std::string first = root_.At("user/qzim_usr_v3new.bin.unsaved.9999.0000000000000001");
        const std::string second =
            root_.At("user/qzim_usr_v3new.bin.unsaved.10000.0000000000000002");
        ASSERT_TRUE(testsupport::WriteFileBytes(first, c.earlier));
        ASSERT_TRUE(testsupport::WriteFileBytes(second, c.later));
        const struct timespec earlier[2] = {{1700000000, 0}, {1700000000, 0}};
        const struct timespec later[2] = {{1700000001, 0}, {1700000001, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, first.c_str(), earlier, 0));
        ASSERT_EQ(0, utimensat(AT_FDCWD, second.c_str(), later, 0));
        ASSERT_NO_FATAL_FAILURE(Attach());
        EXPECT_EQ(0, FreqInFile(1));
        EXPECT_TRUE(ChangeFiles().empty());
    }
}

// A change file that is not this user's to take, or that could not be
// removed once taken in, is told once and left where it is: never taken in
// at every attach (counts 1, 2, 3), never read when another user's. A
// damaged one is set aside without replacing one set aside before. An
// unreadable one is told as unreadable, not as damaged.
TEST_F(UnsavedChangesTest, ChangeFilesLeftAloneAreToldOnceAndNothingIsReplaced) {
    const std::string name = "qzim_usr_v3new.bin.unsaved.4242.0123456789abcdef";
    const std::string valid = ChangeFile(LearnRecord(Reading(1), Text(1)), 1);
    struct t_case {
        const char* name;
        bool needsRoot;
        // Makes the file at `at`; returns what must stay alive while the
        // attaches run (null when nothing).
        std::function<std::shared_ptr<void>(const std::string& at)> make;
        const char* told;  // after the file's name
        bool stays;        // the file stays where it is
    };
    const t_case cases[] = {
        {"unreadable", false,
         [&](const std::string& at) -> std::shared_ptr<void> {
             EXPECT_TRUE(testsupport::WriteFileBytes(at, valid));
             EXPECT_EQ(0, chmod(at.c_str(), 0));
             auto bound = std::make_shared<testsupport::t_boundByFileModes>();
             EXPECT_TRUE(bound->Ok());
             return bound;
         },
         ": unreadable (Permission denied), left where it is\n", true},
        {"cannot be removed", false,
         [&](const std::string& at) -> std::shared_ptr<void> {
             EXPECT_TRUE(testsupport::WriteFileBytes(at, valid));
             EXPECT_TRUE(testsupport::WriteFileBytes(at + ".shown", valid));
             auto mount = std::make_shared<testsupport::t_bindMount>(at + ".shown", at);
             EXPECT_TRUE(mount->Ok());
             return mount;
         },
         ": cannot be removed once taken in (Device or resource busy), so it is left where it "
         "is\n",
         true},
        {"damaged beside one set aside before", false,
         [&](const std::string& at) -> std::shared_ptr<void> {
             EXPECT_TRUE(testsupport::WriteFileBytes(at, "cut"));
             EXPECT_TRUE(testsupport::WriteFileBytes(at + ".damaged", "set aside before"));
             return nullptr;
         },
         nullptr, false},
        {"another user's", true,
         [&](const std::string& at) -> std::shared_ptr<void> {
             EXPECT_TRUE(testsupport::WriteFileBytes(at, valid));
             EXPECT_EQ(0, chown(at.c_str(), 12345, 12345));
             return nullptr;
         },
         ": another user's file, left where it is\n", true},
    };
    for (const t_case& c : cases) {
        SCOPED_TRACE(c.name);
        // The last row.
        if (c.needsRoot && geteuid() != 0)
            GTEST_SKIP() << "no second owner can be had without root";
        ASSERT_NO_FATAL_FAILURE(Reset());
        const std::string at = root_.At("user/" + name);
        std::string told;
        {
            const std::shared_ptr<void> alive = c.make(at);
            for (int attach = 0; attach < 3; ++attach) told += AttachTold();
            EXPECT_EQ(0, FreqInFile(1));
        }
        struct stat st;
        EXPECT_EQ(c.stays, lstat(at.c_str(), &st) == 0);
        if (c.told) {
            // One line over three attaches, and nothing else.
            EXPECT_EQ(at + c.told, told);
        } else {
            EXPECT_EQ("set aside before", testsupport::ReadFileBytes(at + ".damaged"));
            EXPECT_EQ("cut", testsupport::ReadFileBytes(at + ".damaged.2"));
            EXPECT_NE(std::string::npos,
                      told.find(at + ": damaged (cut short), set aside as " + at + ".damaged.2\n"))
                << told;
        }
    }
}

}  // namespace
