// The user dictionary on the typing path: learning one committed word, the
// save that follows every learning from the 27th on, and the weighted lookup
// of a reading's words, at 10,000 and 100,000 learned words; and the import
// of a word list into a dictionary at its largest size.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/user_words.h"
#include "kernel/runtime/lstr.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

using n_bench::ReadingOf;
using n_bench::WordOf;

std::unique_ptr<t_usrDictV3Core> Filled(int words) {
    auto d = std::make_unique<t_usrDictV3Core>();
    d->CreateEmpty(ComputeCapacity(uint32_t(words), kUsrMaxCapacity));
    for (int i = 0; i < words; ++i) d->LearnWord(ReadingOf(i).get(), WordOf(i).get(), 0);
    return d;
}

std::string TempDir() {
    char tmpl[] = "/tmp/vetra_usr_bench_XXXXXX";
    return mkdtemp(tmpl) ? tmpl : "/tmp";
}

void BM_LearnWord(benchmark::State& state) {
    const int words = int(state.range(0));
    auto d = Filled(words);
    int i = 0;
    for (auto _ : state) {
        // Mostly words learned before, now and then a new one.
        const int k = (i % 8 == 0) ? words + i : (i * 7919) % words;
        benchmark::DoNotOptimize(d->LearnWord(ReadingOf(k).get(), WordOf(k).get(), 0));
        ++i;
    }
}
BENCHMARK(BM_LearnWord)->Arg(10000)->Arg(100000);

void BM_LearnWordAndSave(benchmark::State& state) {
    const int words = int(state.range(0));
    auto d = Filled(words);
    const std::string dir = TempDir();
    const std::string file = dir + "/qzim_usr_v3new.bin";
    const std::wstring path(file.begin(), file.end());
    int i = 0;
    for (auto _ : state) {
        const int k = (i * 7919) % words;
        d->LearnWord(ReadingOf(k).get(), WordOf(k).get(), 0);
        if (!d->SaveToFile(path.c_str(), 1)) state.SkipWithError("save failed");
        ++i;
    }
    unlink(file.c_str());
    rmdir(dir.c_str());
}
BENCHMARK(BM_LearnWordAndSave)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_WeightedLookup(benchmark::State& state) {
    const int words = int(state.range(0));
    auto d = Filled(words);
    d->SetupWeightCurve(127);
    uint32_t ids[64], weights[64];
    uint16_t flags[64], sums[64];
    int i = 0;
    for (auto _ : state) {
        const int32_t g = d->Find(ReadingOf((i * 31) % words).get(), nullptr);
        benchmark::DoNotOptimize(
            d->GetWords(0, g, ids, flags, sums, nullptr, nullptr, weights, nullptr, 64));
        ++i;
    }
}
BENCHMARK(BM_WeightedLookup)->Arg(10000)->Arg(100000);

// An import as the file operations build it: a copy of a dictionary of
// 300,000 words used three times each (capacity 320,000, so nearly full)
// takes N new words used once, then is rebuilt into a clean image.
void BM_ImportIntoNearlyFull(benchmark::State& state) {
    constexpr int kHeld = 300000;
    static const std::vector<uint8_t> base = [] {
        t_usrDictV3Core d;
        d.CreateEmpty(ComputeCapacity(kHeld, kUsrMaxCapacity));
        for (int i = 0; i < kHeld; ++i)
            d.RestoreWord(ReadingOf(i).get(), WordOf(i).get(), 3, 0, uint32_t(10 + i), 0);
        const uint8_t* data = nullptr;
        uint64_t size = 0;
        d.GetImageBytes(&data, &size);
        return std::vector<uint8_t>(data, data + size);
    }();
    const int imported = int(state.range(0));
    for (auto _ : state) {
        t_usrDictV3Core work;
        if (!work.AttachCopy(base.data(), base.size())) state.SkipWithError("attach failed");
        for (int i = 0; i < imported; ++i)
            if (!work.MergeWord(ReadingOf(kHeld + i).get(), WordOf(kHeld + i).get(), 1, 0, 5))
                state.SkipWithError("merge failed");
        std::vector<uint8_t> image;
        if (!work.RebuildImage(image)) state.SkipWithError("rebuild failed");
        state.counters["words"] = double(work.GetWordCount());
    }
}
BENCHMARK(BM_ImportIntoNearlyFull)->Arg(300)->Arg(300000)->Unit(benchmark::kMillisecond);

}  // namespace
