// Imports that rewrite the live custom-phrase dictionary's file wait for the
// kernel dictionary lock another process holds, and stop without touching
// the file when the live dictionary's unsaved changes cannot be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/phrase_manager.h"
#include "tests/kernel/userdict/usr_support.h"
#include "tests/support/dict_env.h"
#include "tests/support/test_dir.h"

namespace {

// UTF-16LE with a byte-order mark, as the phrase file is written.
std::string Utf16File(const std::u16string& text) {
    std::string b = "\xFF\xFE";
    for (char16_t c : text) {
        b.push_back(char(c & 0xFF));
        b.push_back(char(c >> 8));
    }
    return b;
}

// One byte from fd within timeoutMs; 0 when none came.
char ReadByte(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    if (poll(&p, 1, timeoutMs) != 1 || read(fd, &c, 1) != 1) return 0;
    return c;
}

// The child's exit status, waiting at most timeoutMs (then it is killed):
// the exit code, or -1 when it did not exit normally in time.
int WaitChild(pid_t pid, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0) return -1;
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

enum class t_import { kText, kList };
void PrintTo(t_import kind, std::ostream* os) {
    *os << (kind == t_import::kText ? "phrase file" : "entry list");
}

class PhraseImportLockTest : public ::testing::TestWithParam<t_import> {
protected:
    void SetUp() override {
        ASSERT_FALSE(root_.Path().empty());
        ASSERT_EQ(0, mkdir(root_.At("home").c_str(), 0700));
        ASSERT_NO_FATAL_FAILURE(
            env_.Open(root_.At("home"), root_.At("user"), root_.At("sys"), root_.At("dict4")));
        createdLock_ = !GetDictLocker().IsCreated();
        ASSERT_TRUE(CreateDictLocker());
        ASSERT_TRUE(root_.Put("phrases.ini", Utf16File(u"new,1=imported\r\n")));
    }
    void TearDown() override {
        if (t_singleton<t_abbrUsrDict>::Exists())
            Live().Load(nullptr, 0);  // the block goes with the manager
        if (createdLock_) ReleaseDictLocker();
        env_.Close();
    }
    static t_abbrUsrDict& Live() { return t_singleton<t_abbrUsrDict>::Get(); }

    // The live dictionary as kernel set-up registers it, attached.
    void AttachLive() {
        ASSERT_TRUE(manager_->Register(kPhraseDictName, &Live(), 0, kStorageMemCopy, kDirUser,
                                       kPhraseDictFile, 0, 2));
        ASSERT_TRUE(manager_->LoadDict(kPhraseDictName));
        ASSERT_TRUE(Live().IsReady());
    }
    std::string Target() const { return root_.At("user/qzim_phrases.bin"); }
    // The import under test into the live dictionary's file; 1/0.
    int Import() {
        t_phraseImporter importer;
        const std::wstring target = Widen(Target());
        if (GetParam() == t_import::kText)
            return ImportPhrasesText(importer, target.c_str(), root_.WAt("phrases.ini").c_str());
        const TestLstr key = TestLstr::Text(u"list"), phrase = TestLstr::Text(u"merged");
        const t_phraseEntry list[] = {{key.get(), phrase.get(), 2}};
        return MergePhrasesIntoUsrDict(importer, target.c_str(), list, 1);
    }
    static std::wstring Widen(const std::string& s) { return testsupport::Widen(s); }

    testsupport::t_testDir root_{"vetra-phrase-lock"};
    testsupport::t_dictManagerEnv env_;
    std::unique_ptr<t_dictManager>& manager_ = env_.manager;

private:
    bool createdLock_ = false;
};

// Another process holds the dictionary lock for a while: the import must not
// replace the file until that process let go.
TEST_P(PhraseImportLockTest, ImportWaitsForTheDictionaryLockAnotherProcessHolds) {
    AttachLive();
    int toParent[2];
    ASSERT_EQ(0, pipe(toParent));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(10);  // a stuck child dies; the lock is robust and recovers
        signal(SIGPIPE, SIG_IGN);
        close(toParent[0]);
        if (!GetDictLocker().Lock()) _exit(2);
        const char held = 'L', leaving = 'R';
        if (write(toParent[1], &held, 1) != 1) _exit(3);
        usleep(300 * 1000);
        // Told before the release: the parent's import can only end after it.
        if (write(toParent[1], &leaving, 1) != 1) _exit(4);
        GetDictLocker().Unlock();
        _exit(0);
    }
    close(toParent[1]);
    if (ReadByte(toParent[0], 5000) != 'L') {
        close(toParent[0]);
        WaitChild(pid, 0);
        FAIL() << "the other process never took the lock";
    }
    const int result = Import();
    // Already there when the import returns, so the release came first.
    const char after = ReadByte(toParent[0], 0);
    close(toParent[0]);
    EXPECT_EQ(WaitChild(pid, 10000), 0);
    EXPECT_EQ(after, 'R');
    EXPECT_EQ(result, 1);
    // The import did take place once the lock was free.
    t_abbrUsrDict file;
    ASSERT_TRUE(file.AttachFile(Widen(Target()).c_str()));
    EXPECT_EQ(file.GetCount(), 1);
}

// The live dictionary holds unsaved changes that cannot be written (the file
// size limit is below its image). The import stops and the file on disk
// stays byte for byte as it was; the import's own, smaller writes would fit,
// so only the failed save can stop it.
TEST_P(PhraseImportLockTest, FailedSaveOfTheLiveChangesLeavesTheFileAlone) {
    // The live dictionary has twice the usual room for phrase text, so its
    // image is larger than the empty work image of an import.
    std::vector<uint8_t> large, usual;
    ASSERT_TRUE(t_abbrUsrDict::BuildImageWithRoom(
        large, t_abbrUsrDict::kKeyRows, t_abbrUsrDict::kKeyBytes, 2 * t_abbrUsrDict::kPhraseBytes));
    ASSERT_TRUE(t_abbrUsrDict::BuildImageWithRoom(
        usual, t_abbrUsrDict::kKeyRows, t_abbrUsrDict::kKeyBytes, t_abbrUsrDict::kPhraseBytes));
    ASSERT_TRUE(root_.Put("user/qzim_phrases.bin", std::string(large.begin(), large.end())));
    AttachLive();
    const TestLstr savedKey = TestLstr::Text(u"saved"), savedPhrase = TestLstr::Text(u"on disk");
    ASSERT_NE(Live().AddItem(savedKey.get(), savedPhrase.get(), 1, kPhraseAdded), 0);
    ASSERT_EQ(Live().SaveToFile(Widen(Target()).c_str()), 1);
    const TestLstr key = TestLstr::Text(u"live"), phrase = TestLstr::Text(u"unsaved");
    ASSERT_NE(Live().AddItem(key.get(), phrase.get(), 1, kPhraseAdded), 0);
    const std::string before = testsupport::ReadFileBytes(Target());
    ASSERT_GT(before.size(), usual.size() + 4096);
    const rlim_t limit = rlim_t(usual.size() + (before.size() - usual.size()) / 2);

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(60);
        signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &small) != 0) _exit(2);
        // The limit stops the live save but not an import's own writes.
        if (Live().SaveToFile(root_.WAt("probe.bin").c_str()) != 0) _exit(3);
        if (!t_abbrUsrDict::BuildImageToFile(root_.WAt("probe.bin").c_str())) _exit(4);
        unlink(root_.At("probe.bin").c_str());
        _exit(Import() == 0 ? 0 : 5);
    }
    EXPECT_EQ(WaitChild(pid, 60000), 0)
        << "2: no limit set; 3: the live save fit; 4: an import's own image did "
           "not fit; 5: the import reported success";
    EXPECT_TRUE(testsupport::ReadFileBytes(Target()) == before) << "the target was rewritten";
    EXPECT_EQ(testsupport::ListNames(root_.At("user")),
              std::vector<std::string>{"qzim_phrases.bin"});
}

INSTANTIATE_TEST_SUITE_P(BothImports, PhraseImportLockTest,
                         ::testing::Values(t_import::kText, t_import::kList),
                         [](const ::testing::TestParamInfo<t_import>& info) {
                             return info.param == t_import::kText ? std::string("PhraseFile")
                                                                  : std::string("EntryList");
                         });

}  // namespace
