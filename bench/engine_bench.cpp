// The engine object on the built system data (VETRA_SYSTEM_DATA_DIR), in a
// temporary HOME whose user dictionary holds 100,000 words: Convert per
// keystroke (two conversions of every prefix, as the front end makes them,
// results released) and LearnWord followed by SaveDicts, which the front end
// runs for every learning from the 27th on. Run alone
// (--benchmark_filter=Engine): the kernel starts once per process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/engine_support.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "src/engine/engine_iface.h"

namespace {

constexpr int kUserWords = 100000;

// A user dictionary file of n made-up two-character words.
bool WriteUserWords(const std::string& path, int n) {
    t_usrDictV3Core dict;
    if (!dict.CreateEmpty(uint32_t(n) + 16)) return false;
    t_scopeHeap pool;
    for (int i = 0; i < n; ++i) {
        const uint16_t ids[2] = {uint16_t(1 + i % 400), uint16_t(1 + i / 400)};
        const uint16_t text[2] = {uint16_t(0x4E00 + i % 400), uint16_t(0x4E00 + i / 400)};
        if (!dict.RestoreWord(pool.MakeLstr(ids, 4), pool.MakeLstr(text, 4), 5, 0, 2, 0))
            return false;
    }
    const std::wstring wide(path.begin(), path.end());
    return dict.SaveToFile(wide.c_str(), 1);
}

IVetraCoreEngine* Engine() {
    static IVetraCoreEngine* engine =
        n_bench::StartEngine("vetra-engine-bench", [](const std::string& usr) {
            return WriteUserWords(usr + "/VetraPY/qzim_usr_v3new.bin", kUserWords);
        });
    return engine;
}

void EngineConvertPerKeystroke(benchmark::State& state, const char* typed) {
    IVetraCoreEngine* engine = Engine();
    n_bench::TimeKeystrokes(state, engine, typed, [engine](const std::string& prefix) {
        for (int twice = 0; twice < 2; ++twice) {
            uint8_t asked = 0;
            if (IVetraCoreResult* r = engine->Convert(prefix.c_str(), 0xFFFFFFFFu, &asked, 0))
                r->Release();
        }
    });
}

void EngineLearnWordThenSaveDicts(benchmark::State& state) {
    IVetraCoreEngine* engine = Engine();
    if (!engine) {
        state.SkipWithError("set VETRA_SYSTEM_DATA_DIR to the built system data");
        return;
    }
    // The words learned in turn: candidates of a few inputs.
    std::vector<IVetraCoreResultElement*> words;
    for (const char* input : {"shiyan", "nihao", "zhongguo", "jintian", "xuexi"}) {
        IVetraCoreResult* r = engine->Convert(input, 0xFFFFFFFFu, nullptr, 0);
        for (int32_t i = 0; r && i < r->GetCount() && i < 8; ++i) {
            r->GetElement(i)->AddRef();
            words.push_back(r->GetElement(i));
        }
        if (r) r->Release();
    }
    if (words.empty()) {
        state.SkipWithError("no candidates to learn");
        return;
    }
    std::vector<double> times, learnTimes;
    size_t next = 0;
    for (auto _ : state) {
        IVetraCoreWordBuffer* buffer = engine->CreateWordBuffer();
        buffer->Append(words[next++ % words.size()]);
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(engine->LearnWord(buffer));
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(engine->SaveDicts());
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        learnTimes.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        buffer->Release();
    }
    for (IVetraCoreResultElement* e : words) e->Release();
    n_bench::ReportTimes(state, times);
    std::sort(learnTimes.begin(), learnTimes.end());
    if (!learnTimes.empty()) state.counters["learn_median_ms"] = learnTimes[learnTimes.size() / 2];
}

}  // namespace

BENCHMARK_CAPTURE(EngineConvertPerKeystroke, two_syllables, "nihao")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EngineConvertPerKeystroke, six_syllables, "womenxianzaikaishi")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EngineConvertPerKeystroke, twelve_syllables,
                  "zhongguorenmindaxuejisuanjixueyuande")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(EngineLearnWordThenSaveDicts)->Unit(benchmark::kMillisecond);
