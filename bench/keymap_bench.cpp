// Building the whole key-to-pinyin map from the shipped scheme files: what a
// user waits for when the map is made for the first time or rebuilt after a
// change of input settings. It should stay well under a second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "kernel/lexicon/key_map_builder.h"
#include "kernel/runtime/scope_heap.h"

namespace {

std::wstring ShippedSchemeDir() {
    const std::string dir =
        (std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "schemes").string();
    return std::wstring(dir.begin(), dir.end());
}

void BuildMap(benchmark::State& state, const t_keyMapOptions& options) {
    const t_schemeLoadSettings settings{ShippedSchemeDir(), L"", L"Vetra"};
    for (auto _ : state) {
        t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
        uint8_t* image = nullptr;
        uint32_t size = 0;
        std::wstring messages;
        if (!t_keyPyMapBuilder::Build(arena, &image, &size, options, settings, &messages)) {
            state.SkipWithError("build failed");
            return;
        }
        benchmark::DoNotOptimize(image);
        state.counters["bytes"] = size;
    }
}

// Full pinyin with corrections, z/c/s for zh/ch/sh and the smart-fuzzy set.
void BM_BuildFullPinyinMap(benchmark::State& state) {
    t_keyMapOptions options;
    options.correction = true;
    options.zcs = true;
    options.smartFuzzy = true;
    BuildMap(state, options);
}

// Shuangpin with full pinyin still allowed.
void BM_BuildShuangpinMap(benchmark::State& state) {
    t_keyMapOptions options;
    options.shuangPin = true;
    options.superSpJp = true;
    BuildMap(state, options);
}

BENCHMARK(BM_BuildFullPinyinMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildShuangpinMap)->Unit(benchmark::kMillisecond);

}  // namespace
