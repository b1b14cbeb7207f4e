// Time per keystroke of the candidate generator, alone and behind the
// kernel's conversion entry, on the built system data
// (VETRA_SYSTEM_DATA_DIR): every prefix of an input converted as it is
// typed, twice per keystroke with a page of 2600 places, as the engine
// does. Reports the median, p99 and maximum of one keystroke. Goal: median
// under 0.5 ms, p99 under 2 ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel/api/convert_dispatch.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/convert/cand_generator.h"
#include "kernel/convert/cloud_request.h"

namespace {

bool StartKernel() {
    static int started = -1;
    if (started >= 0) return started == 1;
    started = 0;
    const char* data = getenv("VETRA_SYSTEM_DATA_DIR");
    if (!data || !std::filesystem::exists(std::string(data) + "/qzim_core.bin")) return false;
    char tmpl[] = "/tmp/vetra-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    const std::string home = tmpl;
    std::filesystem::create_directories(home + "/user");
    setenv("HOME", home.c_str(), 1);
    const std::string userDir = home + "/user";
    const std::wstring user(userDir.begin(), userDir.end()), sys(data, data + strlen(data));
    InitDictionaries(L"Vetra", user.c_str(), sys.c_str(), user.c_str(), L"bench", nullptr, 1, 0,
                     nullptr);
    started = RegisterKeyPyMap(0) == 1 ? 1 : 0;
    std::atexit([] {
        ShutdownDictionaries();
        const char* home = getenv("HOME");
        if (home && std::string(home).rfind("/tmp/vetra-bench-", 0) == 0)
            std::filesystem::remove_all(home);
    });
    return started == 1;
}

// Times every prefix of typed as it is typed, converted twice per keystroke.
template <class Convert>
void TimeKeystrokes(benchmark::State& state, const wchar_t* typed, Convert convert) {
    if (!StartKernel()) {
        state.SkipWithError("set VETRA_SYSTEM_DATA_DIR to the built system data");
        return;
    }
    const std::wstring input(typed);
    std::vector<double> times;
    for (auto _ : state) {
        for (size_t k = 1; k <= input.size(); ++k) {
            const std::wstring prefix = input.substr(0, k);
            const auto t0 = std::chrono::steady_clock::now();
            for (int twice = 0; twice < 2; ++twice) benchmark::DoNotOptimize(convert(prefix));
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count());
        }
    }
    std::sort(times.begin(), times.end());
    if (times.empty()) return;
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["p99_ms"] = times[std::min(times.size() - 1, times.size() * 99 / 100)];
    state.counters["max_ms"] = times.back();
}

void Keystrokes(benchmark::State& state, const wchar_t* typed) {
    static t_candGenerator generator;
    static t_candWord* results[2600];
    TimeKeystrokes(state, typed, [](const std::wstring& prefix) {
        t_convertRequest request;
        request.input = prefix.c_str();
        request.inputLength = int32_t(prefix.size());
        request.pageSize = 2600;
        request.allLowerCase = 1;
        return generator.Generate(&request, results);
    });
}

// The same through the kernel's entry, which fills the request from the
// options (custom phrases, corrections, the cloud record) as the engine does.
void DispatchedKeystrokes(benchmark::State& state, const wchar_t* typed) {
    static t_candWord* results[2600];
    static uint8_t cloudBuffer[kCloudRecordLimit];
    TimeKeystrokes(state, typed, [](const std::wstring& prefix) {
        std::wstring input = prefix;
        uint8_t scratch[kConvertScratchBytes] = {};
        t_cloudRequestParams cloud;
        cloud.buffer = cloudBuffer;
        t_cloudAsked asked;
        return ConvertInput(input.data(), results, scratch, 0, 2600, &cloud, &asked, 0, 0, 0,
                            nullptr);
    });
}

}  // namespace

BENCHMARK_CAPTURE(Keystrokes, six_syllables, L"womenxianzaikaishi")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Keystrokes, twelve_syllables, L"zhongguorenmindaxuejisuanjixueyuande")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Keystrokes, twenty_syllables,
                  L"womenxianzaikaishixuexizhongguorenmindaxuejisuanjixueyuande")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Keystrokes, twelve_initials, L"zgrmdxjsjxyd")->Unit(benchmark::kMillisecond);
// Initials among lone vowels, each of which also begins an, ai, ang, ao.
BENCHMARK_CAPTURE(Keystrokes, twelve_vowel_initials, L"jtaqzyaqxfaq")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DispatchedKeystrokes, six_syllables, L"womenxianzaikaishi")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DispatchedKeystrokes, twenty_syllables,
                  L"womenxianzaikaishixuexizhongguorenmindaxuejisuanjixueyuande")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DispatchedKeystrokes, twelve_initials, L"zgrmdxjsjxyd")
    ->Unit(benchmark::kMillisecond);
