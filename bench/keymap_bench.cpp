// Building the whole key-to-pinyin map from the shipped scheme files (and
// with a user's large fuzzy file): what a user waits for when the map is made
// for the first time or rebuilt after a change of input settings. Well under a second.
#include <benchmark/benchmark.h>

#include <unistd.h>

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

void BuildMap(benchmark::State& state, const t_keyMapOptions& options,
              const std::wstring& userDir = L"") {
    const t_schemeLoadSettings settings{ShippedSchemeDir(), userDir, L"Vetra"};
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

// Full pinyin as above with a user's fuzzy file of 110 pairs (each initial
// and final with its next two neighbours): several times the default room.
void BM_BuildMapWithLargeFuzzyFile(benchmark::State& state) {
    const std::filesystem::path source =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "e2e" / "files" /
        "fuzzy_neighbours.dat";
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vetra-keymap-bench-" + std::to_string(getpid()));
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    std::filesystem::copy_file(source, dir / "Fuzzy.dat",
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        state.SkipWithError("cannot prepare the fuzzy file");
    } else {
        t_keyMapOptions options;
        options.correction = true;
        options.zcs = true;
        options.smartFuzzy = true;
        const std::string text = dir.string();
        BuildMap(state, options, std::wstring(text.begin(), text.end()));
    }
    std::filesystem::remove_all(dir, error);
}

BENCHMARK(BM_BuildFullPinyinMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildMapWithLargeFuzzyFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildShuangpinMap)->Unit(benchmark::kMillisecond);

}  // namespace
