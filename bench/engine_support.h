// For the benchmarks that drive the kernel as the front end does: the
// engine object on the built system data (VETRA_SYSTEM_DATA_DIR) in a
// temporary HOME of its own, removed at exit, and the times of keystrokes.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "src/engine/engine_iface.h"

namespace n_bench {

// Starts an engine in a new HOME ("/tmp/<tag>-XXXXXX", removed at exit),
// after `prepare` (may be null) has filled the user folder it is given
// (HOME/.config). Null when the data is not there, a folder cannot be made
// or `prepare` or Init fails. The caller keeps it: each benchmark file
// starts its own, once.
inline IVetraCoreEngine* StartEngine(const std::string& tag,
                                     bool (*prepare)(const std::string& usrDir)) {
    const char* data = getenv("VETRA_SYSTEM_DATA_DIR");
    if (!data || !std::filesystem::exists(std::string(data) + "/qzim_core.bin")) return nullptr;
    std::string home = "/tmp/" + tag + "-XXXXXX";
    if (!mkdtemp(home.data())) return nullptr;
    static std::vector<std::string> homes;
    if (homes.empty())
        std::atexit([] {
            for (const std::string& h : homes) std::filesystem::remove_all(h);
        });
    homes.push_back(home);
    setenv("HOME", home.c_str(), 1);
    const std::string usr = home + "/.config";
    std::filesystem::create_directories(usr + "/VetraPY");
    if (prepare && !prepare(usr)) return nullptr;
    IVetraCoreEngine* e = CreateVetraCoreEngine();
    return e && e->Init(data, usr.c_str()) ? e : nullptr;
}

// Sets the median, p99 and maximum of the times (ms) as the counters
// median_ms, p99_ms and max_ms; nothing for none.
inline void ReportTimes(benchmark::State& state, std::vector<double>& times) {
    std::sort(times.begin(), times.end());
    if (times.empty()) return;
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["p99_ms"] = times[std::min(times.size() - 1, times.size() * 99 / 100)];
    state.counters["max_ms"] = times.back();
}

// Every prefix of `typed` as one keystroke, `keystroke(prefix)` making its
// conversions, timed over the benchmark's iterations and reported as
// ReportTimes does. Skips the benchmark without an engine.
template <class Keystroke>
void TimeKeystrokes(benchmark::State& state, IVetraCoreEngine* engine, const std::string& typed,
                    Keystroke keystroke) {
    if (!engine) {
        state.SkipWithError("set VETRA_SYSTEM_DATA_DIR to the built system data");
        return;
    }
    std::vector<double> times;
    for (auto _ : state)
        for (size_t k = 1; k <= typed.size(); ++k) {
            const std::string prefix = typed.substr(0, k);
            const auto t0 = std::chrono::steady_clock::now();
            keystroke(prefix);
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count());
        }
    ReportTimes(state, times);
}

}  // namespace n_bench
