// The user dictionary saved in steps (copy, write without the kernel's
// locks, finish): what a learning made during the write becomes, the file
// the steps write, a failed write, another process's save meanwhile and a
// learning that grew the tables; and an image built apart (an import)
// written in place of the file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/userdict/usr_support.h"
#include "tests/support/dict_env.h"
#include "tests/support/test_dir.h"

namespace {

constexpr const wchar_t* kName = L"UsrDict";

TestLstr Reading(int k) {
    return TestLstr({uint16_t(1 + k % 400), uint16_t(1 + k / 400)});
}
TestLstr Text(int k) {
    return TestLstr({uint16_t(0x4E00 + k)});
}

bool FailingWrite(int, const void*, size_t) {
    return false;
}

class SaveStepsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, mkdir(root_.At("home").c_str(), 0700));
        ASSERT_NO_FATAL_FAILURE(
            env_.Open(root_.At("home"), root_.At("user"), root_.At("sys"), root_.At("d4")));
        ASSERT_TRUE(Attach(*env_.manager, dict_));
    }
    void TearDown() override {
        SetDictWriteFunction(nullptr);
        dict_.Load(nullptr, 0);  // the block goes with the manager
        env_.Close();
    }
    static bool Attach(t_dictManager& manager, t_usrDictV3Core& dict) {
        return manager.Register(kName, &dict, kLoadPhase1, kStorageReserved, kDirUser,
                                kUsrDictFileName, 0, kVersionMaskDict) &&
               manager.LoadDict(kName);
    }
    static bool Learn(t_usrDictV3Core& dict, int k) {
        return dict.LearnWord(Reading(k).get(), Text(k).get(), 0) == 1;
    }
    static uint16_t Freq(const t_usrDictV3Core& dict, int k) {
        t_usrWordAttr a;
        return dict.GetWordRecord(Reading(k).get(), Text(k).get(), &a) ? a.freq : 0;
    }
    // The frequency of word k in the file alone.
    uint16_t FreqOnDisk(int k) {
        t_usrDictV3Core file;
        return file.AttachFile(root_.WAt("user/qzim_usr_v3new.bin").c_str()) ? Freq(file, k) : 0;
    }
    std::vector<uint8_t> File() { return ReadFileBytes(root_.At("user/qzim_usr_v3new.bin")); }
    // The frequency of word k in the only backup there is.
    uint16_t FreqInBackup(int k) {
        std::vector<std::string> files;
        std::error_code error;
        for (const auto& file : std::filesystem::directory_iterator(root_.At("user/Backup"), error))
            files.push_back(file.path().string());
        if (files.size() != 1) return 0;
        const std::vector<uint8_t> bytes = ReadFileBytes(files[0]);
        t_usrDictV3Core backup;
        return backup.LoadCompact(bytes.data(), bytes.size(), nullptr, 0) ? Freq(backup, k) : 0;
    }
    // Another process learns word k and saves it.
    static void OtherProcessSaves(int k) {
        const pid_t pid = fork();
        if (pid == 0) {
            t_dictManager manager;
            t_usrDictV3Core other;
            const bool ok =
                manager.Init() && Attach(manager, other) && Learn(other, k) && manager.SaveAll();
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    bool SaveInSteps() {
        std::unique_ptr<t_dictSaveSnapshot> snapshot = env_.manager->TakeSaveSnapshot();
        if (!snapshot) return false;
        const bool written = snapshot->Write();
        return env_.manager->FinishSave(*snapshot) && written;
    }

    testsupport::t_testDir root_{"vetra-save-steps"};
    testsupport::t_dictManagerEnv env_;
    t_usrDictV3Core dict_;
};

// A word learned between the copy and the finish is neither in the file nor
// forgotten: the next save writes it. A re-attach before the finish (an
// update check on a keystroke) replays only what the file lacks.
TEST_F(SaveStepsTest, LearningDuringTheWriteStaysPendingAndIsSavedNext) {
    for (bool reattach : {false, true}) {
        SCOPED_TRACE(reattach ? "re-attached before the finish" : "no re-attach");
        const int saved = reattach ? 10 : 1, late = saved + 1;
        ASSERT_TRUE(Learn(dict_, saved));
        std::unique_ptr<t_dictSaveSnapshot> snapshot = env_.manager->TakeSaveSnapshot();
        ASSERT_TRUE(snapshot);
        ASSERT_TRUE(Learn(dict_, late));
        ASSERT_TRUE(snapshot->Write());
        if (reattach) {
            ASSERT_TRUE(dict_.IncreaseVersion());
            EXPECT_TRUE(t_singleton<t_versionManager>::Get().CheckUpdateAll());
        }
        ASSERT_TRUE(env_.manager->FinishSave(*snapshot));
        EXPECT_EQ(1, FreqOnDisk(saved));
        EXPECT_EQ(0, FreqOnDisk(late));
        EXPECT_EQ(1, Freq(dict_, saved)) << "counted twice";
        EXPECT_EQ(1, Freq(dict_, late));
        EXPECT_TRUE(dict_.HasUnsavedChanges());
        ASSERT_TRUE(SaveInSteps());
        EXPECT_EQ(1, FreqOnDisk(late));
        EXPECT_FALSE(dict_.HasUnsavedChanges());
    }
}

// The steps write the dictionary SaveAll writes for the same state (every
// rebuilt file draws new scrambling parameters, so the words, their
// attributes and the other header words are compared), leaving nothing
// pending.
TEST_F(SaveStepsTest, StepsWriteWhatSaveAllWrites) {
    for (int k = 0; k < 300; ++k) ASSERT_TRUE(Learn(dict_, k % 200));
    ASSERT_TRUE(dict_.DeleteWord(Reading(7).get(), Text(7).get()));
    const auto content = [this] {
        std::vector<uint32_t> out;
        t_usrDictV3Core file;
        if (!file.AttachFile(root_.WAt("user/qzim_usr_v3new.bin").c_str())) return out;
        out.push_back(uint32_t(File().size()));
        for (int i = 0; i < kUsrHdrWordCount; ++i)
            if (i != kUsrHdrParam1 && i != kUsrHdrParam2) out.push_back(file.GetHeaderWord(i));
        for (int k = 0; k < 200; ++k) {
            t_usrWordAttr a;
            if (!file.GetWordRecord(Reading(k).get(), Text(k).get(), &a)) a = {};
            out.insert(out.end(), {a.freq, a.flags, a.stamp, a.extra});
        }
        return out;
    };
    ASSERT_TRUE(SaveInSteps());
    const std::vector<uint32_t> steps = content();
    EXPECT_FALSE(dict_.HasUnsavedChanges());
    ASSERT_TRUE(env_.manager->SaveAll());
    EXPECT_FALSE(steps.empty());
    EXPECT_EQ(steps, content());
}

// A full disk: the write reports failure, the old file stays whole, the
// change stays pending, and the next save writes it.
TEST_F(SaveStepsTest, FailedWriteReportsFailureAndKeepsTheChangesPending) {
    ASSERT_TRUE(Learn(dict_, 1));
    ASSERT_TRUE(SaveInSteps());
    const std::vector<uint8_t> before = File();
    ASSERT_TRUE(Learn(dict_, 2));
    std::unique_ptr<t_dictSaveSnapshot> snapshot = env_.manager->TakeSaveSnapshot();
    ASSERT_TRUE(snapshot);
    SetDictWriteFunction(&FailingWrite);
    EXPECT_FALSE(snapshot->Write());
    SetDictWriteFunction(nullptr);
    EXPECT_FALSE(env_.manager->FinishSave(*snapshot));
    EXPECT_STREQ(kDictErrWrite, env_.manager->GetLastError());
    EXPECT_EQ(before, File());
    EXPECT_TRUE(dict_.HasUnsavedChanges());
    ASSERT_TRUE(SaveInSteps());
    EXPECT_EQ(1, FreqOnDisk(2));
}

// Another process saves between the copy and the write: its file is not
// overwritten; the finish takes it up and saves both processes' words.
TEST_F(SaveStepsTest, AnotherProcessSavingDuringTheStepsLosesNothing) {
    ASSERT_TRUE(Learn(dict_, 1));
    ASSERT_TRUE(SaveInSteps());
    ASSERT_TRUE(Learn(dict_, 2));
    std::unique_ptr<t_dictSaveSnapshot> snapshot = env_.manager->TakeSaveSnapshot();
    ASSERT_TRUE(snapshot);
    ASSERT_NO_FATAL_FAILURE(OtherProcessSaves(3));
    EXPECT_TRUE(snapshot->Write());
    EXPECT_EQ(1, FreqOnDisk(3)) << "the other process's file was overwritten";
    ASSERT_TRUE(env_.manager->FinishSave(*snapshot));
    for (int k : {1, 2, 3}) EXPECT_EQ(1, FreqOnDisk(k)) << k;
    EXPECT_FALSE(dict_.HasUnsavedChanges());
}

// A learning that doubles the tables moves the image out of the manager's
// block into a buffer of the dictionary's own. Whichever way the save runs,
// the words learned from then on are in the file and the backup, and stay
// in memory when the update check takes the saved file up.
TEST_F(SaveStepsTest, WordsLearnedAfterTheTablesGrewAreSavedAndBackedUp) {
    dict_.GetEntry()->backupFlags = kBackupByDict | kBackupWeekly;  // the kernel's registration
    int k = 0;
    for (bool steps : {false, true}) {
        SCOPED_TRACE(steps ? "in steps" : "SaveAll");
        const auto save = [&] { return steps ? SaveInSteps() : env_.manager->SaveAll(); };
        ASSERT_TRUE(save());
        std::filesystem::remove_all(root_.At("user/Backup"));  // the next save backs up
        for (int learned = 0; learned != 2; ++k) {
            ASSERT_LT(k, 40000) << "the tables never grew";
            learned = dict_.LearnWord(Reading(k).get(), Text(k).get(), 0);
            ASSERT_NE(0, learned) << k;
        }
        const int grew = k - 1, late = k++;
        ASSERT_TRUE(Learn(dict_, late));
        ASSERT_TRUE(save());
        EXPECT_FALSE(dict_.HasUnsavedChanges());
        for (int w : {grew, late}) {
            EXPECT_EQ(1, FreqOnDisk(w)) << w;
            EXPECT_EQ(1, FreqInBackup(w)) << w;
        }
        EXPECT_TRUE(t_singleton<t_versionManager>::Get().CheckUpdateAll());
        for (int w : {grew, late}) EXPECT_EQ(1, Freq(dict_, w)) << w;
    }
}

// An image built apart from the live dictionary (an import: the live image
// at the mark plus word 9) replaces the file. Whatever comes between the
// write and the take-up keeps both the new word and the word learned after
// the mark, each counted once: an update check, a save of the image in
// memory (which must not write the old image over the new file), or
// another process's save before the write (nothing written, its file kept).
TEST_F(SaveStepsTest, ImageBuiltApartReplacesTheFileAndKeepsLaterLearning) {
    enum t_between { kNothing, kUpdateCheck, kSaveAll, kOtherProcessFirst };
    for (t_between between : {kNothing, kUpdateCheck, kSaveAll, kOtherProcessFirst}) {
        SCOPED_TRACE(int(between));
        const int base = 20 * int(between), saved = base + 1, late = base + 2, imported = base + 9;
        ASSERT_TRUE(Learn(dict_, saved));
        ASSERT_TRUE(SaveInSteps());
        t_dictManager::t_entryMark mark;
        ASSERT_TRUE(env_.manager->MarkEntry(dict_.GetEntry(), mark));
        const uint8_t* live = nullptr;
        uint64_t size = 0;
        ASSERT_TRUE(dict_.GetImageBytes(&live, &size));
        t_usrDictV3Core work;
        ASSERT_TRUE(work.AttachCopy(live, size));
        ASSERT_EQ(1, work.MergeWord(Reading(imported).get(), Text(imported).get(), 1, 0, 0));
        std::vector<uint8_t> image;
        ASSERT_TRUE(work.RebuildImage(image));
        ASSERT_TRUE(Learn(dict_, late));
        if (between == kOtherProcessFirst) {
            ASSERT_NO_FATAL_FAILURE(OtherProcessSaves(base + 3));
            EXPECT_EQ(0, env_.manager->WriteMarkedEntry(dict_.GetEntry(), mark, image.data(),
                                                        image.size()));
            EXPECT_EQ(1, FreqOnDisk(base + 3)) << "the other process's file was overwritten";
            EXPECT_EQ(0, FreqOnDisk(imported));
            ASSERT_TRUE(SaveInSteps());
            continue;
        }
        ASSERT_EQ(
            1, env_.manager->WriteMarkedEntry(dict_.GetEntry(), mark, image.data(), image.size()));
        if (between == kUpdateCheck) {
            EXPECT_TRUE(t_singleton<t_versionManager>::Get().CheckUpdateAll());
        } else if (between == kSaveAll) {
            EXPECT_TRUE(env_.manager->SaveAll());
        }
        EXPECT_EQ(1, FreqOnDisk(imported)) << "the new file was overwritten";
        ASSERT_TRUE(dict_.IncreaseVersion());
        EXPECT_TRUE(t_singleton<t_versionManager>::Get().CheckUpdateAll());
        for (int k : {saved, late, imported}) EXPECT_EQ(1, Freq(dict_, k)) << k;
        ASSERT_TRUE(SaveInSteps());
        for (int k : {saved, late, imported}) EXPECT_EQ(1, FreqOnDisk(k)) << k;
    }
}

}  // namespace
