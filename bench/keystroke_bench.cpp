// What the input method pays per keystroke, on the built system data
// (VETRA_SYSTEM_DATA_DIR) with a fresh user directory: every prefix of an
// input converted as it is typed, through the engine object the addon
// calls, twice per keystroke as the addon's candidate refresh converts while
// the panel shows (the unconsumed input for the preedit's segments, then the
// input for the list with a cloud request id), a page of 2600 places, the
// results released. Everything the kernel's entry adds for the input is in
// it (the key-by-key reading of abbreviations with a, e or o as the only
// vowels, custom phrases, corrections, the cloud record). Reports the
// median, p99 and maximum of one keystroke. Goal: median under 0.5 ms, p99
// under 2 ms. Run alone (--benchmark_filter=Keystrokes): the kernel starts
// once per process, with the user directory of the first benchmark that
// starts it.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/engine_support.h"
#include "src/cloud/cloud_queue.h"
#include "src/engine/engine_iface.h"

namespace {

IVetraCoreEngine* Engine() {
    static IVetraCoreEngine* engine = n_bench::StartEngine("vetra-keystroke-bench", nullptr);
    return engine;
}

void Convert(IVetraCoreEngine* engine, const std::string& input, uint32_t requestId) {
    uint8_t asked = 0;
    if (IVetraCoreResult* r = engine->Convert(input.c_str(), requestId, &asked, 0)) {
        benchmark::DoNotOptimize(r->GetCount());
        r->Release();
    }
}

void Keystrokes(benchmark::State& state, const char* typed) {
    IVetraCoreEngine* engine = Engine();
    uint32_t requestId = 0;
    n_bench::TimeKeystrokes(state, engine, typed, [&](const std::string& prefix) {
        if (++requestId == n_cloud::kNoRequestId) requestId = 1;
        Convert(engine, prefix, n_cloud::kNoRequestId);
        Convert(engine, prefix, requestId);
    });
}

}  // namespace

BENCHMARK_CAPTURE(Keystrokes, six_syllables, "womenxianzaikaishi")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Keystrokes, twelve_syllables, "zhongguorenmindaxuejisuanjixueyuande")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Keystrokes, twenty_syllables,
                  "womenxianzaikaishixuexizhongguorenmindaxuejisuanjixueyuande")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Keystrokes, twelve_initials, "zgrmdxjsjxyd")->Unit(benchmark::kMillisecond);
// Initials among lone vowels, each of which also begins an, ai, ang, ao;
// the entry reads such an input key by key as well.
BENCHMARK_CAPTURE(Keystrokes, twelve_vowel_initials, "jtaqzyaqxfaq")->Unit(benchmark::kMillisecond);
