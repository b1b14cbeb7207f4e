// Benchmarks of the kernel runtime's hot helpers: arena allocation as a lookup
// uses it, and the key comparison under every table-file search.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

namespace {

// A scoped arena per operation: many small strings, released at once.
void BM_ArenaScopedSmallAllocations(benchmark::State& state) {
    const int count = int(state.range(0));
    for (auto _ : state) {
        t_scopeHeap heap;
        for (int i = 0; i < count; ++i) benchmark::DoNotOptimize(heap.Alloc(8 + (i & 31)));
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ArenaScopedSmallAllocations)->Arg(16)->Arg(256)->Arg(4096);

// A long-lived arena reused through FreeAll.
void BM_ArenaReusedAfterFreeAll(benchmark::State& state) {
    t_scopeHeap heap;
    for (auto _ : state) {
        for (int i = 0; i < 256; ++i) benchmark::DoNotOptimize(heap.Alloc(24));
        heap.FreeAll();
    }
    state.SetItemsProcessed(state.iterations() * 256);
}
BENCHMARK(BM_ArenaReusedAfterFreeAll);

// Length-prefixed copies of candidate-sized texts.
void BM_ArenaDupLstr(benchmark::State& state) {
    t_lstrHolder text(u"拼音输入法候选词", 16);
    for (auto _ : state) {
        t_scopeHeap heap;
        for (int i = 0; i < 64; ++i) benchmark::DoNotOptimize(heap.DupLstr(text.Get()));
    }
    state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_ArenaDupLstr);

// Keys of `units` units sharing a prefix of `units - 1`, stored unaligned as in
// an image, compared pairwise.
std::vector<uint8_t> MakeKeys(int units, int keys, std::vector<const t_lstr*>& out) {
    std::mt19937 rng(7);
    const size_t stride = 2 + size_t(units) * 2 + 1;  // odd stride: unaligned keys
    std::vector<uint8_t> image(stride * keys + 1);
    for (int k = 0; k < keys; ++k) {
        uint8_t* p = &image[1 + stride * k];
        const uint16_t count = uint16_t(units * 2);
        std::memcpy(p, &count, 2);
        for (int u = 0; u < units; ++u) {
            const uint16_t unit = u + 1 < units ? uint16_t(0x4E00 + u) : uint16_t(rng() & 0xFFFF);
            std::memcpy(p + 2 + 2 * u, &unit, 2);
        }
    }
    for (int k = 0; k < keys; ++k)
        out.push_back(reinterpret_cast<const t_lstr*>(&image[1 + stride * k]));
    return image;
}

void BM_LstrCompare(benchmark::State& state) {
    std::vector<const t_lstr*> keys;
    const std::vector<uint8_t> image = MakeKeys(int(state.range(0)), 1024, keys);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(LstrCompare(keys[i & 1023], keys[(i + 1) & 1023]));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LstrCompare)->Arg(2)->Arg(8)->Arg(32);

}  // namespace
