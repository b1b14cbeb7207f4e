// Several processes of one user learning into one user dictionary at once,
// in the manager's call order (update check, learn, save, update check):
// no word is lost, counts add up (also when some save through the save
// request or the backup, which write the file outside the manager's flush), a deletion stays
// deleted, a word one process saved shows in the other, and a process killed at any moment loses
// nothing it reported saved. VETRA_SHARED_LEARNING_RUNS repeats each case and
// VETRA_SHARED_LEARNING_WORDS sets the words per learner (a few of each by default; longer runs by
// hand). Kills from outside at a random moment also hit a learner waiting for the process-shared
// lock; VETRA_SHARED_LEARNING_OUTSIDE_KILLS=1 adds them.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kernel/runtime/change_count.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/userdict/usr_support.h"
#include "tests/support/dict_env.h"
#include "tests/support/test_dir.h"

namespace {

constexpr const wchar_t* kName = L"UsrDictV3";
constexpr int kSeedBase = 9000;  // words saved before the learners start
constexpr int kSeeds = 5;
constexpr uint16_t kSeedFreq = 7;

int NoSpace(int, off_t, off_t) {
    return ENOSPC;
}

// Word k: a two-syllable reading and a one-character text, all distinct.
TestLstr Reading(int k) {
    return TestLstr({uint16_t(1 + k % 400), uint16_t(1 + k / 400)});
}
TestLstr Text(int k) {
    return TestLstr({uint16_t(0x4E00 + k)});
}

int FromEnv(const char* name, int fallback) {
    const char* env = getenv(name);
    const int n = env ? atoi(env) : 0;
    return n > 0 ? n : fallback;
}
int Runs() {
    return FromEnv("VETRA_SHARED_LEARNING_RUNS", 2);
}
// Words per learner; the seeds lie above any count used.
int Words() {
    return std::min(FromEnv("VETRA_SHARED_LEARNING_WORDS", 40), kSeedBase / 4);
}

t_versionManager& Versions() {
    return t_singleton<t_versionManager>::Get();
}

// How a learner saves after its n-th word.
enum class t_save { kFlush, kRequest, kBackup };

// What one learning process does.
struct t_learner {
    int first = 0;  // learns words first .. first + count - 1
    int count = 0;
    int saveEvery = 1;  // SaveDict after every n-th word
    bool deletesSeeds = false;
    int killAtWrite = 0;  // > 0: the learner kills itself inside that write
    t_save save = t_save::kFlush;
};

int g_writesLeft = 0;
bool KillingWrite(int fd, const void* data, size_t size) {
    if (--g_writesLeft == 0) raise(SIGKILL);
    return write(fd, data, size) == ssize_t(size);
}

// Writes the number of words saved so far to fd after each successful save.
void Report(int fd, uint32_t saved) {
    if (fd >= 0 && write(fd, &saved, sizeof saved) != ssize_t(sizeof saved)) _exit(20);
}

// The child's body; its exit code tells the first failed step (0: all well).
int Learn(const t_learner& plan, int reportFd) {
    if (plan.killAtWrite > 0) {
        g_writesLeft = plan.killAtWrite;
        SetDictWriteFunction(&KillingWrite);
    }
    t_dictManager manager;
    // The process-wide instance, which the save request and the backup write.
    t_usrDictV3Core& dict = GetUsrDictInstance();
    if (!manager.Init()) return 10;
    if (!manager.Register(kName, &dict, kLoadPhase1, kStorageReserved, kDirUser, kUsrDictFileName,
                          0, kVersionMaskDict) ||
        !manager.LoadDict(kName))
        return 11;
    if (plan.deletesSeeds)
        for (int s = 0; s < kSeeds; ++s)
            if (dict.DeleteWord(Reading(kSeedBase + s).get(), Text(kSeedBase + s).get()) == 0)
                return 12;
    for (int i = 0; i < plan.count; ++i) {
        Versions().CheckUpdate2();
        const int k = plan.first + i;
        if (dict.LearnWord(Reading(k).get(), Text(k).get(), 0) == 0) return 13;
        if ((i + 1) % plan.saveEvery == 0) {
            std::wstring file;
            if (!GetUsrDictFilePath(file)) return 16;
            const std::wstring copy = file + L".copy" + std::to_wstring(getpid());
            const bool saved = plan.save == t_save::kFlush ? manager.SaveDict(kName)
                               : plan.save == t_save::kRequest
                                   ? SaveLiveUsrDict(dict, file.c_str())
                                   : SaveUsrDictCopy(file.c_str(), copy.c_str());
            if (!saved) return 14;
            Report(reportFd, uint32_t(i + 1));
        }
        Versions().CheckUpdateAll();
    }
    if (!manager.SaveAll()) return 15;
    Report(reportFd, uint32_t(plan.count));
    return 0;
}

struct t_child {
    pid_t pid = -1;
    int reportFd = -1;
    uint32_t saved = 0;  // the last count the child reported saved
};

t_child Start(const t_learner& plan) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        _exit(Learn(plan, fds[1]));
    }
    close(fds[1]);
    return {pid, fds[0], 0};
}

// Reads every report the child sent; waits for its end at most timeoutMs.
// The exit code, or -1 for a child killed or out of time.
int Finish(t_child& child, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{child.reportFd, POLLIN, 0};
        const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 end - std::chrono::steady_clock::now())
                                 .count());
        if (left <= 0 || poll(&p, 1, left) != 1) {
            kill(child.pid, SIGKILL);
            break;
        }
        uint32_t n = 0;
        if (read(child.reportFd, &n, sizeof n) != ssize_t(sizeof n)) break;  // the child closed it
        child.saved = n;
    }
    close(child.reportFd);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SharedLearningTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, mkdir(root_.At("home").c_str(), 0700));
        Open();
    }
    void TearDown() override { env_.Close(); }

    void Open() {
        ASSERT_NO_FATAL_FAILURE(
            env_.Open(root_.At("home"), root_.At("user"), root_.At("sys"), root_.At("d4")));
    }
    // A fresh user directory holding the seed words, saved.
    void Reset() {
        env_.Close();
        testsupport::RemoveTree(root_.At("home"));
        ASSERT_EQ(0, mkdir(root_.At("home").c_str(), 0700));
        ASSERT_NO_FATAL_FAILURE(Open());
        t_usrDictV3Core seeds;
        ASSERT_TRUE(seeds.CreateEmpty(kUsrDefaultCapacity));
        for (int s = 0; s < kSeeds; ++s)
            ASSERT_EQ(1, seeds.RestoreWord(Reading(kSeedBase + s).get(), Text(kSeedBase + s).get(),
                                           kSeedFreq, 0, 10, 0));
        ASSERT_TRUE(seeds.SaveToFile(Path().c_str(), 1));
    }
    std::wstring Path() const { return root_.WAt("user/qzim_usr_v3new.bin"); }
    // Registers `dict` as the kernel registers the shared user dictionary.
    bool Register(t_usrDictV3Core& dict) {
        return env_.manager->Register(kName, &dict, kLoadPhase1, kStorageReserved, kDirUser,
                                      kUsrDictFileName, 0, kVersionMaskDict);
    }
    // The dictionary registered, following `changes` (made here, under the
    // name "Changes") for removals and restores, and attached.
    void AttachWatched(t_usrDictV3Core& dict, t_changeCount& changes) {
        ASSERT_TRUE(changes.Create(L"Changes"));
        ASSERT_TRUE(Register(dict));
        ASSERT_TRUE(env_.manager->WatchReplacements(kName, changes));
        ASSERT_TRUE(env_.manager->LoadDict(kName));
    }
    // The frequency of word k in the file (0: absent or deleted).
    static uint16_t FreqIn(t_usrDictV3Core& file, int k) {
        t_usrWordAttr a;
        return file.GetWordRecord(Reading(k).get(), Text(k).get(), &a) ? a.freq : 0;
    }

    testsupport::t_testDir root_{"vetra-shared-learning"};
    testsupport::t_dictManagerEnv env_;
};

// Words per process are few enough for ctest; the counts are what matter.
TEST_F(SharedLearningTest, ConcurrentLearnersLoseNothingAndAddCounts) {
    struct t_case {
        const char* name;
        int processes;
        bool overlapping;  // every process learns the same words
        int saveEvery;
        t_save oddSave;  // how every second process saves
    };
    const int words = Words();
    const t_case cases[] = {
        {"two disjoint, save each word", 2, false, 1, t_save::kFlush},
        {"two overlapping, save each tenth", 2, true, 10, t_save::kFlush},
        {"four disjoint, save each tenth", 4, false, 10, t_save::kFlush},
        {"four overlapping, save each word", 4, true, 1, t_save::kFlush},
        {"two disjoint, one saves by request", 2, false, 1, t_save::kRequest},
        {"two overlapping, one backs up", 2, true, 1, t_save::kBackup},
        {"four disjoint, two back up", 4, false, 1, t_save::kBackup},
    };
    for (const t_case& c : cases) {
        for (int run = 0; run < Runs(); ++run) {
            SCOPED_TRACE(std::string(c.name) + ", run " + std::to_string(run));
            ASSERT_NO_FATAL_FAILURE(Reset());
            std::vector<t_child> children;
            for (int p = 0; p < c.processes; ++p)
                children.push_back(Start({c.overlapping ? 0 : p * words, words, c.saveEvery, p == 0,
                                          0, p % 2 ? c.oddSave : t_save::kFlush}));
            for (t_child& child : children) EXPECT_EQ(0, Finish(child, 60000));

            t_usrDictV3Core file;
            ASSERT_TRUE(file.AttachFile(Path().c_str()));
            int lost = 0, miscounted = 0;
            for (int k = 0; k < (c.overlapping ? words : words * c.processes); ++k) {
                const uint16_t f = FreqIn(file, k);
                if (f == 0)
                    ++lost;
                else if (f != (c.overlapping ? c.processes : 1))
                    ++miscounted;
            }
            EXPECT_EQ(0, lost);
            EXPECT_EQ(0, miscounted);
            for (int s = 0; s < kSeeds; ++s)
                EXPECT_EQ(0, FreqIn(file, kSeedBase + s)) << "deleted word back";
        }
    }
}

// One learner is killed, inside a random write of a save (the lock held,
// a temporary half written) or from outside at a random moment: every word
// it reported saved, and every word of the others, is in the file.
TEST_F(SharedLearningTest, KilledLearnerLosesNothingItReportedSaved) {
    const int words = Words();
    std::mt19937 random(std::random_device{}());
    const bool outside = getenv("VETRA_SHARED_LEARNING_OUTSIDE_KILLS") != nullptr;
    for (int run = 0; run < Runs() * 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        ASSERT_NO_FATAL_FAILURE(Reset());
        const bool fromOutside = outside && run % 2 == 1;
        std::vector<t_child> children;
        for (int p = 0; p < 3; ++p) {
            const int killAt =
                p == 0 && !fromOutside ? std::uniform_int_distribution<int>(1, words)(random) : 0;
            children.push_back(Start({p * words, words, 1 + p % 2, false, killAt}));
        }
        if (fromOutside) {
            usleep(std::uniform_int_distribution<useconds_t>(0, 150000)(random));
            kill(children[0].pid, SIGKILL);
        }
        const int killed = Finish(children[0], 60000);
        if (!fromOutside) {
            EXPECT_EQ(-1, killed);  // from outside it may have finished first
        }
        for (size_t p = 1; p < children.size(); ++p) EXPECT_EQ(0, Finish(children[p], 60000));

        t_usrDictV3Core file;
        ASSERT_TRUE(file.AttachFile(Path().c_str()));
        int lost = 0;
        for (int k = 0; k < int(children[0].saved); ++k) lost += FreqIn(file, k) == 0;
        for (int k = words; k < 3 * words; ++k) lost += FreqIn(file, k) == 0;
        EXPECT_EQ(0, lost) << children[0].saved << " reported saved by the killed learner";
        for (int s = 0; s < kSeeds; ++s) EXPECT_EQ(kSeedFreq, FreqIn(file, kSeedBase + s));
    }
}

// Learn, save, learn, save in one process: both saves succeed, the update
// check that follows keeps the second word; another process's save shows
// at this process's next update check.
TEST_F(SharedLearningTest, OwnSavesNeverRefuseAndOtherSavesShowAtTheNextCheck) {
    ASSERT_NO_FATAL_FAILURE(Reset());
    t_usrDictV3Core dict;
    ASSERT_TRUE(Register(dict));
    ASSERT_TRUE(env_.manager->LoadDict(kName));
    ASSERT_EQ(1, dict.LearnWord(Reading(1).get(), Text(1).get(), 0));
    EXPECT_TRUE(env_.manager->SaveDict(kName));
    ASSERT_EQ(1, dict.LearnWord(Reading(2).get(), Text(2).get(), 0));
    EXPECT_TRUE(env_.manager->SaveDict(kName));
    ASSERT_EQ(1, dict.LearnWord(Reading(3).get(), Text(3).get(), 0));  // not saved yet
    EXPECT_TRUE(Versions().CheckUpdateAll());
    for (int k : {1, 2, 3}) EXPECT_EQ(1, FreqIn(dict, k)) << k;

    t_child other = Start({100, 1, 1, true});
    ASSERT_EQ(0, Finish(other, 60000));
    EXPECT_TRUE(Versions().CheckUpdateAll());
    EXPECT_EQ(1, FreqIn(dict, 100));
    EXPECT_EQ(0, FreqIn(dict, kSeedBase));
    EXPECT_EQ(1, FreqIn(dict, 3));  // the unsaved word survived the re-attach
    EXPECT_TRUE(env_.manager->SaveAll());
    t_usrDictV3Core file;
    ASSERT_TRUE(file.AttachFile(Path().c_str()));
    for (int k : {1, 2, 3, 100}) EXPECT_EQ(1, FreqIn(file, k)) << k;
    dict.Load(nullptr, 0);  // the block goes with the manager
}

// A re-attach after another process's save that cannot make the block (its
// lock file cannot be made: the disk is full) leaves the dictionary not loaded:
// lookups and learning answer nothing and read nothing of the image that
// went (a learner faulted there, the dictionary still reading as loaded).
// Once the block can be made again the unsaved word is back beside the
// other process's.
TEST_F(SharedLearningTest, AFailedReattachLeavesNothingToRead) {
    ASSERT_NO_FATAL_FAILURE(Reset());
    t_usrDictV3Core dict;
    ASSERT_TRUE(Register(dict));
    ASSERT_TRUE(env_.manager->LoadDict(kName));
    ASSERT_EQ(1, dict.LearnWord(Reading(1).get(), Text(1).get(), 0));  // not saved

    t_child other = Start({100, 1, 1});
    ASSERT_EQ(0, Finish(other, 60000));
    const std::string lock = root_.At("home/.vetrainput/UsrDictV3_MemLocker");
    ASSERT_EQ(0, unlink(lock.c_str()));
    SetReserveFunction(&NoSpace);
    Versions().CheckUpdateAll();
    SetReserveFunction(nullptr);
    EXPECT_FALSE(dict.IsReady());
    EXPECT_EQ(0, FreqIn(dict, kSeedBase));
    EXPECT_EQ(0, dict.GetWordCount());
    EXPECT_EQ(0, dict.LearnWord(Reading(2).get(), Text(2).get(), 0));

    ASSERT_TRUE(env_.manager->LoadDict(kName));
    for (int k : {1, 100}) EXPECT_EQ(1, FreqIn(dict, k)) << k;
    EXPECT_EQ(kSeedFreq, FreqIn(dict, kSeedBase));
    dict.Load(nullptr, 0);  // the block goes with the manager
}

// What another process does to the file this process attached. A removal
// empties it in place; a damaged file is set aside, no backup to restore.
enum class t_elsewhere { kRemoved, kSetAside };

// The other process's body; 0 when the file was removed or set aside.
int ActElsewhere(t_elsewhere what, const std::string& path) {
    if (what == t_elsewhere::kRemoved) {
        DeleteUsrDictFile();
        return 0;
    }
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fputs("not a dictionary", f) < 0 || fclose(f) != 0) return 1;
    t_dictManager manager;
    t_usrDictV3Core other;
    if (!manager.Init() ||
        !manager.Register(L"UsrDictV3Elsewhere", &other, kLoadPhase1, kStorageReserved, kDirUser,
                          kUsrDictFileName, 0, kVersionMaskDict) ||
        !manager.LoadDict(L"UsrDictV3Elsewhere"))
        return 2;
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? 3 : 0;
}

// Another process removes the dictionary (the user emptied it there): this
// process's next save, whether a flush or a save in steps, keeps only what
// it learned after the removal instead of writing the removed words back.
// A file that merely vanished (set aside as damaged elsewhere) is no removal:
// the words held here are its only copy and are written back.
TEST_F(SharedLearningTest, ARemovalElsewhereHoldsAfterThisProcessSaves) {
    const struct {
        const char* name;
        t_elsewhere what;
        bool wordsKept;  // the words saved before are in the file after
    } cases[] = {
        {"removed", t_elsewhere::kRemoved, false},
        {"set aside as damaged", t_elsewhere::kSetAside, true},
    };
    for (const auto& c : cases) {
        for (const bool inSteps : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (inSteps ? ", save in steps" : ", flush"));
            ASSERT_NO_FATAL_FAILURE(Reset());
            t_usrDictV3Core dict;
            ASSERT_TRUE(Register(dict));
            ASSERT_TRUE(env_.manager->LoadDict(kName));
            ASSERT_EQ(1, dict.LearnWord(Reading(1).get(), Text(1).get(), 0));
            ASSERT_TRUE(env_.manager->SaveDict(kName));

            const std::wstring wide = Path();
            const std::string path(wide.begin(), wide.end());
            const pid_t other = fork();
            if (other == 0) _exit(ActElsewhere(c.what, path));
            int status = 0;
            ASSERT_EQ(other, waitpid(other, &status, 0));
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

            ASSERT_NE(0, dict.LearnWord(Reading(2).get(), Text(2).get(), 0));
            if (inSteps) {
                std::unique_ptr<t_dictSaveSnapshot> snapshot = env_.manager->TakeSaveSnapshot();
                ASSERT_TRUE(snapshot);
                snapshot->Write();
                EXPECT_TRUE(env_.manager->FinishSave(*snapshot));
            } else {
                EXPECT_TRUE(env_.manager->SaveDict(kName));
            }
            t_usrDictV3Core file;
            ASSERT_TRUE(file.AttachFile(Path().c_str()));
            EXPECT_EQ(c.wordsKept ? 1 : 0, FreqIn(file, 1));
            EXPECT_EQ(c.wordsKept ? kSeedFreq : 0, FreqIn(file, kSeedBase));
            EXPECT_EQ(1, FreqIn(file, 2));
            EXPECT_EQ(c.wordsKept ? 1 : 0, FreqIn(dict, 1));
            dict.Load(nullptr, 0);  // the block goes with the manager
        }
    }
}

// A word learned here and not saved yet, when another process then counts a
// change of the dictionary: an import adds to the words, so the word is
// replayed onto its file; a restore or a removal replaces them, so the word
// goes with them, as that process's own unsaved words did (it used to come
// back onto the restored or emptied file). A word learned after stays.
TEST_F(SharedLearningTest, AnUnsavedWordGoesWithWordsAnotherProcessReplaced) {
    const struct {
        const char* name;
        bool replaces;
        std::vector<int> words;  // what the other process leaves in the file
    } cases[] = {
        {"import", false, {kSeedBase, 50}},
        {"restore", true, {50}},
        {"removal", true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Reset());
        t_changeCount changes;
        t_usrDictV3Core dict;
        ASSERT_NO_FATAL_FAILURE(AttachWatched(dict, changes));
        ASSERT_EQ(1, dict.LearnWord(Reading(1).get(), Text(1).get(), 0));  // not saved

        const std::wstring path = Path();
        const pid_t other = fork();
        if (other == 0) {
            t_changeCount counted;
            t_usrDictV3Core image;
            if (!counted.Create(L"Changes") || !image.CreateEmpty(kUsrDefaultCapacity)) _exit(1);
            for (int k : c.words)
                if (image.RestoreWord(Reading(k).get(), Text(k).get(), kSeedFreq, 0, 10, 0) != 1)
                    _exit(2);
            t_processLock::t_locker lock(counted.Lock());
            if (!image.SaveToFile(path.c_str(), 1)) _exit(3);
            counted.Add(c.replaces);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(other, waitpid(other, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

        EXPECT_TRUE(Versions().CheckUpdateAll());
        ASSERT_EQ(1, dict.LearnWord(Reading(2).get(), Text(2).get(), 0));
        EXPECT_TRUE(env_.manager->SaveAll());
        t_usrDictV3Core file;
        ASSERT_TRUE(file.AttachFile(Path().c_str()));
        EXPECT_EQ(c.replaces ? 0 : 1, FreqIn(file, 1));
        EXPECT_EQ(1, FreqIn(file, 2));
        for (int k : {kSeedBase, 50}) {
            const bool left = std::count(c.words.begin(), c.words.end(), k) > 0;
            EXPECT_EQ(left ? kSeedFreq : 0, FreqIn(file, k)) << k;
        }
        dict.Load(nullptr, 0);  // the block goes with the manager
    }
}

// How the file is damaged under a running process (a sync tool, a cleaning
// tool, a bad copy).
enum class t_damage { kCutShort, kRandomBytes, kEmptied };

void Damage(t_damage how, const std::string& path) {
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    if (how != t_damage::kRandomBytes) {
        ASSERT_EQ(0, truncate(path.c_str(), how == t_damage::kEmptied ? 0 : st.st_size / 2));
        return;
    }
    std::mt19937 random(1);
    std::vector<char> bytes(size_t(st.st_size));
    for (char& b : bytes) b = char(random());
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    EXPECT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), f));
    ASSERT_EQ(0, fclose(f));
}

// How many refused copies the Backup folder holds.
int RefusedCopies(const std::string& userDir) {
    int n = 0;
    if (DIR* d = opendir((userDir + "/Backup").c_str())) {
        while (const dirent* e = readdir(d)) n += strstr(e->d_name, ".refused.") != nullptr;
        closedir(d);
    }
    return n;
}

// Counts the lines of text holding what.
int LinesWith(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The dictionary's file is damaged while this process holds its words (one
// saved, one not): the re-attach the next update check or save brings sets
// the damaged file aside and writes the words held in memory in its place,
// saying so in one line; they used to be replaced with the newest backup,
// the system copy or an empty dictionary, the saved words lost and the save
// answered true. A second process holding an unsaved word of its own takes
// that file up as a newer save, setting nothing aside. After a removal
// elsewhere the words held here are removed ones: the file starts empty.
TEST_F(SharedLearningTest, ADamagedFileIsWrittenAgainFromTheWordsInMemory) {
    const struct {
        const char* name;
        t_damage damage;
        bool second;   // a second process holds word 3, not saved
        bool removed;  // another process removed the words before the damage
    } cases[] = {
        {"cut short", t_damage::kCutShort, false, false},
        {"random bytes", t_damage::kRandomBytes, false, false},
        {"emptied", t_damage::kEmptied, false, false},
        {"random bytes, a second process", t_damage::kRandomBytes, true, false},
        {"cut short after a removal elsewhere", t_damage::kCutShort, false, true},
    };
    const std::string written = "; written again from the words in memory";
    for (const auto& c : cases) {
        for (const bool bySave : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (bySave ? ", save" : ", update check"));
            ASSERT_NO_FATAL_FAILURE(Reset());
            t_changeCount changes;
            t_usrDictV3Core dict;
            ASSERT_NO_FATAL_FAILURE(AttachWatched(dict, changes));
            ASSERT_EQ(1, dict.LearnWord(Reading(1).get(), Text(1).get(), 0));
            ASSERT_TRUE(env_.manager->SaveDict(kName));
            ASSERT_EQ(1, dict.LearnWord(Reading(2).get(), Text(2).get(), 0));  // not saved

            const std::wstring wide = Path();
            const std::string path(wide.begin(), wide.end());
            int toSecond[2], fromSecond[2];
            ASSERT_EQ(0, pipe(toSecond));
            ASSERT_EQ(0, pipe(fromSecond));
            pid_t second = -1;
            if (c.second) {
                second = fork();
                if (second == 0) {
                    t_dictManager manager;
                    t_usrDictV3Core held;
                    char go = 0;
                    if (!manager.Init() ||
                        !manager.Register(kName, &held, kLoadPhase1, kStorageReserved, kDirUser,
                                          kUsrDictFileName, 0, kVersionMaskDict) ||
                        !manager.LoadDict(kName) ||
                        held.LearnWord(Reading(3).get(), Text(3).get(), 0) != 1 ||
                        write(fromSecond[1], "r", 1) != 1 || read(toSecond[0], &go, 1) != 1)
                        _exit(1);
                    Versions().CheckUpdateAll();
                    _exit(manager.SaveDict(kName) ? 0 : 2);
                }
                char ready = 0;
                ASSERT_EQ(1, read(fromSecond[0], &ready, 1));
            }
            if (c.removed) {
                const pid_t other = fork();
                if (other == 0) {
                    t_changeCount counted;
                    if (!counted.Create(L"Changes")) _exit(1);
                    t_processLock::t_locker lock(counted.Lock());
                    if (!t_usrDictV3Core::CreateEmptyFile(wide.c_str(), kUsrDefaultCapacity))
                        _exit(2);
                    counted.Add(true);
                    _exit(0);
                }
                int status = 0;
                ASSERT_EQ(other, waitpid(other, &status, 0));
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            }
            ASSERT_NO_FATAL_FAILURE(Damage(c.damage, path));

            testing::internal::CaptureStderr();
            if (!bySave) {
                EXPECT_TRUE(Versions().CheckUpdateAll());
            }
            EXPECT_TRUE(env_.manager->SaveAll());
            if (c.second) {
                EXPECT_EQ(1, write(toSecond[1], "g", 1));
                int status = 0;
                EXPECT_EQ(second, waitpid(second, &status, 0));
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            }
            const std::string told = testing::internal::GetCapturedStderr();
            for (int fd : {toSecond[0], toSecond[1], fromSecond[0], fromSecond[1]}) close(fd);

            EXPECT_EQ(c.damage == t_damage::kEmptied ? 0 : 1, RefusedCopies(root_.At("user")));
            EXPECT_EQ(c.removed ? 0 : 1, LinesWith(told, written)) << told;
            t_usrDictV3Core file;  // what the next start attaches
            ASSERT_TRUE(file.AttachFile(Path().c_str()));
            const uint16_t kept = c.removed ? 0 : 1;
            EXPECT_EQ(c.removed ? 0 : kSeedFreq, FreqIn(file, kSeedBase));
            EXPECT_EQ(kept, FreqIn(file, 1));
            EXPECT_EQ(kept, FreqIn(file, 2));
            EXPECT_EQ(c.second ? 1 : 0, FreqIn(file, 3));
            EXPECT_EQ(kept, FreqIn(dict, 1));
            dict.Load(nullptr, 0);  // the block goes with the manager
        }
    }
}

}  // namespace
