// The serialized engine's save in steps over a managed user dictionary: the
// engine stays free while the copy is written, and what is learned then is
// kept for the next save.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <utility>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "src/fcitx/serialized_engine.h"
#include "tests/src/fcitx/fake_engine.h"
#include "tests/support/dict_env.h"
#include "tests/support/test_dir.h"

namespace {

struct t_word {
    uint8_t bytes[6];
    explicit t_word(uint16_t unit) {
        const uint16_t n = 2;
        memcpy(bytes, &n, 2);
        memcpy(bytes + 2, &unit, 2);
    }
    const t_lstr* get() const { return reinterpret_cast<const t_lstr*>(bytes); }
};

// Learns word k (its k-th learning) into a managed user dictionary.
class t_managedEngine : public fakes::t_engine, public IVetraSplitSave {
public:
    explicit t_managedEngine(t_dictManager& manager) : m_manager(manager) {
        m_ok = manager.Register(L"UsrDict", &dict, kLoadPhase1, kStorageReserved, kDirUser,
                                kUsrDictFileName, 0, kVersionMaskDict) &&
               manager.LoadDict(L"UsrDict");
    }
    bool Ok() const { return m_ok; }
    bool LearnWord(IVetraCoreWordBuffer*) override {
        const int k = ++learned;
        return dict.LearnWord(t_word(uint16_t(k)).get(), t_word(uint16_t(0x4E00 + k)).get(), 0) ==
               1;
    }
    bool SaveDicts() override { return m_manager.SaveAll(); }
    std::unique_ptr<t_dictSaveSnapshot> NewSaveSnapshot() override {
        return m_manager.NewSaveSnapshot();
    }
    bool TakeSaveSnapshot(t_dictSaveSnapshot& snapshot) override {
        return m_manager.TakeSaveSnapshot(snapshot);
    }
    bool FinishSave(t_dictSaveSnapshot& snapshot) override {
        return m_manager.FinishSave(snapshot);
    }

    t_usrDictV3Core dict;
    int learned = 0;

private:
    t_dictManager& m_manager;
    bool m_ok = false;
};

n_fcitx::t_serializedEngine* g_engine = nullptr;
bool g_learnedDuringWrite = false;
std::future<bool> g_learning;  // outlives the write, should the learning wait for the lock

// The first write of the save: a learning from another thread must not wait
// for it.
bool LearnWhileWriting(int fd, const void* data, size_t size) {
    if (g_engine) {
        n_fcitx::t_serializedEngine* engine = std::exchange(g_engine, nullptr);
        g_learning =
            std::async(std::launch::async, [engine] { return engine->LearnWord(nullptr); });
        g_learnedDuringWrite =
            g_learning.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    }
    return write(fd, data, size) == ssize_t(size);
}

TEST(SerializedEngineTest, SaveInStepsLeavesTheEngineFreeWhileWriting) {
    testsupport::t_testDir root("vetra-serialized-save");
    ASSERT_EQ(0, mkdir(root.At("home").c_str(), 0700));
    testsupport::t_dictManagerEnv env;
    ASSERT_NO_FATAL_FAILURE(
        env.Open(root.At("home"), root.At("user"), root.At("sys"), root.At("d4")));
    {
        t_managedEngine inner(*env.manager);
        ASSERT_TRUE(inner.Ok());
        n_fcitx::t_serializedEngine engine(&inner, &inner);
        ASSERT_TRUE(engine.LearnWord(nullptr));
        g_engine = &engine;
        g_learnedDuringWrite = false;
        SetDictWriteFunction(&LearnWhileWriting);
        const bool saved = engine.SaveDictsInSteps();
        SetDictWriteFunction(nullptr);
        EXPECT_TRUE(saved);
        ASSERT_TRUE(g_learning.valid());
        EXPECT_TRUE(g_learning.get());
        EXPECT_TRUE(g_learnedDuringWrite) << "the learning waited for the write";
        EXPECT_TRUE(inner.dict.HasUnsavedChanges())
            << "the learning during the write was taken as saved";
        EXPECT_TRUE(engine.SaveDictsInSteps());
        EXPECT_FALSE(inner.dict.HasUnsavedChanges());
    }
    env.Close();
}

}  // namespace
