// The main thread's share of one commit (each asks for a save), with a
// user dictionary of 100,000 words: the input method's learning with the
// save handed to the save worker (whole, or in steps as the input method
// saves), against the save done in the commit.
// Commits come at typing pace (one per 150 ms). Goal: under 5 ms.
// BM_SaveLockHeld*: the time one save holds the engine lock (which every
// keystroke takes) over a managed user dictionary of 100,000 words: the
// whole save under the lock, against the save in steps (copy and finish
// under the lock, the write without it). Goal: a few ms.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "bench/user_words.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "src/fcitx/save_worker.h"
#include "src/fcitx/serialized_engine.h"
#include "tests/src/fcitx/fake_engine.h"

namespace {

using n_bench::ReadingOf;
using n_bench::WordOf;

// The engine's learning and saving over a real user dictionary; the rest is
// the tests' stand-in.
class t_dictEngine : public fakes::t_engine {
public:
    t_dictEngine(int words, const std::string& file) : m_file(file.begin(), file.end()) {
        m_dict.CreateEmpty(ComputeCapacity(uint32_t(words), kUsrMaxCapacity));
        for (int i = 0; i < words; ++i) m_dict.LearnWord(ReadingOf(i).get(), WordOf(i).get(), 0);
        m_words = words;
    }
    bool LearnWord(IVetraCoreWordBuffer*) override {
        const int k = (m_next++ * 7919) % m_words;
        return m_dict.LearnWord(ReadingOf(k).get(), WordOf(k).get(), 0) != 0;
    }
    bool SaveDicts() override { return m_dict.SaveToFile(m_file.c_str(), 1); }

private:
    t_usrDictV3Core m_dict;
    std::wstring m_file;
    int m_words = 0;
    int m_next = 0;
};

class t_workerSaver : public i_dictSaver {
public:
    explicit t_workerSaver(IVetraCoreEngine* engine) : m_engine(engine) {}
    void RequestSave() override {
        IVetraCoreEngine* engine = m_engine;
        m_worker.Post([engine] { engine->SaveDicts(); });
    }
    t_saveWorker m_worker;

private:
    IVetraCoreEngine* m_engine;
};

class t_inlineSaver : public i_dictSaver {
public:
    explicit t_inlineSaver(IVetraCoreEngine* engine) : m_engine(engine) {}
    void RequestSave() override { m_engine->SaveDicts(); }

private:
    IVetraCoreEngine* m_engine;
};

// The main thread's time of each commit, one every 150 ms.
void TimeCommits(benchmark::State& state, IVetraCoreEngine& engine, i_dictSaver& saver) {
    t_imeSession session;
    session.SetEngine(&engine);
    session.SetSaver(&saver);
    fakes::t_element word("你好", {2, 5});
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const auto start = std::chrono::steady_clock::now();
        t_composition& s = session.State();
        memcpy(s.raw, "nihao", 6);
        s.rawLength = s.cursor = s.conversionStart = 5;
        FillSelectionRecord(&s.selections[s.selectionCount++], 0, &word, 5, "你好");
        session.CommitAndLearn();
        session.Reset();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

void RunCommits(benchmark::State& state, bool onWorker) {
    char dirTemplate[] = "/tmp/vetra_ime_bench_XXXXXX";
    const std::string dir = mkdtemp(dirTemplate) ? dirTemplate : "/tmp";
    const std::string file = dir + "/qzim_usr_v3new.bin";
    {
        t_dictEngine dict(int(state.range(0)), file);
        n_fcitx::t_serializedEngine engine(&dict);
        t_workerSaver worker(&engine);
        t_inlineSaver inlineSaver(&engine);
        TimeCommits(state, engine, onWorker ? static_cast<i_dictSaver&>(worker) : inlineSaver);
        worker.m_worker.Drain();
    }
    unlink(file.c_str());
    rmdir(dir.c_str());
}

void BM_CommitSaveOnWorker(benchmark::State& state) {
    RunCommits(state, true);
}
void BM_CommitSaveInCommit(benchmark::State& state) {
    RunCommits(state, false);
}
// A user dictionary held by a dictionary manager, saved whole or in steps;
// the time spent in the calls the serialized engine makes under its lock
// is summed.
class t_managedEngine : public fakes::t_engine, public IVetraSplitSave {
public:
    t_managedEngine(int words, const std::string& dir) {
        const std::wstring wide(dir.begin(), dir.end());
        setenv("HOME", dir.c_str(), 1);
        SetConfiguredUserDir(wide.c_str());
        SetConfiguredSysDir(wide.c_str());
        SetConfiguredSmartInfoDir(wide.c_str());
        t_singleton<t_versionManager>::Get().Init();
        {
            t_usrDictV3Core seed;
            seed.CreateEmpty(ComputeCapacity(uint32_t(words), kUsrMaxCapacity));
            for (int i = 0; i < words; ++i) seed.LearnWord(ReadingOf(i).get(), WordOf(i).get(), 0);
            seed.SaveToFile((wide + L"/" + kUsrDictFileName).c_str(), 1);
        }
        m_ok = m_manager.Init() &&
               m_manager.Register(L"UsrDict", &m_dict, kLoadPhase1, kStorageReserved, kDirUser,
                                  kUsrDictFileName, 0, kVersionMaskDict) &&
               m_manager.LoadDict(L"UsrDict");
        m_words = words;
    }
    bool Ok() const { return m_ok; }
    bool LearnWord(IVetraCoreWordBuffer*) override {
        const int k = (m_next++ * 7919) % m_words;
        return m_dict.LearnWord(ReadingOf(k).get(), WordOf(k).get(), 0) != 0;
    }
    bool SaveDicts() override {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = m_manager.SaveAll();
        m_held += std::chrono::steady_clock::now() - start;
        return ok;
    }
    std::unique_ptr<t_dictSaveSnapshot> NewSaveSnapshot() override {
        return m_manager.NewSaveSnapshot();
    }
    bool TakeSaveSnapshot(t_dictSaveSnapshot& snapshot) override {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = m_manager.TakeSaveSnapshot(snapshot);
        m_held += std::chrono::steady_clock::now() - start;
        m_taking += std::chrono::steady_clock::now() - start;
        m_copied = snapshot.CopiedBytes();
        return ok;
    }
    bool FinishSave(t_dictSaveSnapshot& snapshot) override {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = m_manager.FinishSave(snapshot);
        m_held += std::chrono::steady_clock::now() - start;
        return ok;
    }
    std::chrono::duration<double> TakeHeld() { return std::exchange(m_held, {}); }
    double TakingMs() const { return m_taking.count() * 1000; }
    size_t Copied() const { return m_copied; }

private:
    t_dictManager m_manager;
    t_usrDictV3Core m_dict;
    bool m_ok = false;
    int m_words = 0;
    int m_next = 0;
    size_t m_copied = 0;
    std::chrono::duration<double> m_held{};
    std::chrono::duration<double> m_taking{};  // of m_held, in TakeSaveSnapshot
};

// Runs `body` over a managed user dictionary of state.range(0) words in a
// temporary HOME, behind the input method's serialised engine; HOME and the
// folder are put back afterwards.
template <typename Body>
void WithManagedEngine(benchmark::State& state, Body body) {
    char dirTemplate[] = "/tmp/vetra_save_bench_XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string dir = dirTemplate;
    const char* home = getenv("HOME");
    const std::string previousHome = home ? home : "";
    {
        t_managedEngine inner(int(state.range(0)), dir);
        n_fcitx::t_serializedEngine engine(&inner, &inner);
        if (!inner.Ok()) state.SkipWithError("the dictionary did not attach");
        body(inner, engine);
    }
    if (home) setenv("HOME", previousHome.c_str(), 1);
    std::error_code error;
    std::filesystem::remove_all(dir, error);
}

void RunSaves(benchmark::State& state, bool inSteps) {
    WithManagedEngine(state, [&](t_managedEngine& inner, n_fcitx::t_serializedEngine& engine) {
        for (auto _ : state) {
            if (!inner.Ok()) break;
            inner.LearnWord(nullptr);
            const bool saved = inSteps ? engine.SaveDictsInSteps() : engine.SaveDicts();
            if (!saved) state.SkipWithError("save failed");
            state.SetIterationTime(inner.TakeHeld().count());
        }
        state.counters["copied_MB"] = double(inner.Copied()) / (1 << 20);
        state.counters["copy_ms"] = inner.TakingMs() / double(state.iterations());
    });
}

// The input method's own road: each commit asks for a save, which the
// worker makes in steps over a managed user dictionary (no deadline here:
// a save after every commit, the worst case).
void BM_CommitSaveInStepsOnWorker(benchmark::State& state) {
    WithManagedEngine(state, [&](t_managedEngine& inner, n_fcitx::t_serializedEngine& engine) {
        struct t_stepSaver : i_dictSaver {
            explicit t_stepSaver(n_fcitx::t_serializedEngine* e) : engine(e) {}
            void RequestSave() override {
                n_fcitx::t_serializedEngine* e = engine;
                worker.Post([e] { e->SaveDictsInSteps(); });
            }
            n_fcitx::t_serializedEngine* engine;
            t_saveWorker worker;
        } saver(&engine);
        if (inner.Ok()) TimeCommits(state, engine, saver);
        saver.worker.Drain();
    });
}

void BM_SaveLockHeldWhole(benchmark::State& state) {
    RunSaves(state, false);
}
void BM_SaveLockHeldInSteps(benchmark::State& state) {
    RunSaves(state, true);
}
BENCHMARK(BM_SaveLockHeldWhole)
    ->Arg(100000)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveLockHeldInSteps)
    ->Arg(100000)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_CommitSaveOnWorker)
    ->Arg(100000)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommitSaveInStepsOnWorker)
    ->Arg(100000)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommitSaveInCommit)
    ->Arg(100000)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
