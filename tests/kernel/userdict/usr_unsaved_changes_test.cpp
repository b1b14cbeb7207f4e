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
constexpr char kLearnOp = 1;  // the user dictionary's record of a learned word

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
        env_.Close();
        t_processLock::SetWaitLimitMs(t_processLock::kDefaultWaitLimitMs);
    }

    void Open() {
        ASSERT_NO_FATAL_FAILURE(
            env_.Open(root_.At("home"), root_.At("user"), root_.At("sys"), root_.At("d4")));
    }
    // A fresh user directory whose dictionary holds the seed word, saved.
    void Reset() {
        dict_.reset();
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
        ASSERT_TRUE(env_.manager->LoadDict(kName));
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

    testsupport::t_testDir root_{"vetra-unsaved"};
    testsupport::t_dictManagerEnv env_;
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

}  // namespace
