// Key lookups in a table-file image of 100,000 keys: the reader's cost on the
// keystroke path (hash once, search one bucket, no copies).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/storage/table_builder.h"
#include "kernel/storage/table_file.h"

using namespace n_tableFormat;

namespace {

constexpr uint32_t kVersion = 20140219;
constexpr int kKeys = 100000;

// A length-prefixed UTF-16 key "w<number>" (a letter first, as pinyin keys have).
std::vector<uint8_t> KeyOf(int i) {
    char text[16];
    const int n = snprintf(text, sizeof text, "w%d", i * 7919 % 1000003);
    std::vector<uint8_t> b(2 + 2 * sizeof text, 0);
    b[0] = uint8_t(2 * n);
    for (int j = 0; j < n && j < int(sizeof text); ++j) b[2 + 2 * size_t(j)] = uint8_t(text[j]);
    b.resize(2 + 2 * size_t(n));
    return b;
}

struct t_image {
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint8_t>> present, absent;
    t_tableFile reader;
    int key = 0;
};

// Two tables over the same keys: byte-hashed (policy 6) with 16384 buckets
// and English (policy 1) with its default 27.
t_image& Image() {
    static t_image img;
    if (!img.bytes.empty()) return img;
    t_tableFileBuilder b;
    const std::vector<t_keyDesc> keys{{6, {0, 8}, kNone, 0, kNone, 0},
                                      {1, {0, 8}, kNone, 0, kNone, 0}};
    if (!b.InitStoreWithBuckets(keys, {}, {0}, 1, kVersion, {}, {}, {16384, 0})) abort();
    for (int i = 0; i < kKeys; ++i) {
        std::vector<uint8_t> item(4);
        const std::vector<uint8_t> key = KeyOf(i);
        item.insert(item.end(), key.begin(), key.end());
        item.insert(item.end(), {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), 0});
        Wr32(item.data(), uint32_t(item.size() - 4));
        if (b.InsertOne(item.data(), 0) != 1 || b.InsertOne(item.data(), 1) != 1) abort();
    }
    if (!b.BuildPlainImage(img.bytes)) abort();
    img.reader.SetBucketCount(0, 16384);
    if (!img.reader.Attach(img.bytes.data(), kVersion, int64_t(img.bytes.size()))) abort();
    for (int i = 0; i < 4096; ++i) {
        img.present.push_back(KeyOf(i * 24 % kKeys));
        std::vector<uint8_t> absent = KeyOf(i * 24 % kKeys);  // a stored key with one more unit
        absent.insert(absent.end(), {'z', 0});
        Wr16(absent.data(), uint16_t(absent.size() - 2));
        img.absent.push_back(absent);
    }
    return img;
}

void Lookup(benchmark::State& state, int table, bool present) {
    t_image& img = Image();
    const auto& keys = present ? img.present : img.absent;
    size_t i = 0, found = 0;
    for (auto _ : state) {
        const uint8_t* row = nullptr;
        found += img.reader.FindRow(reinterpret_cast<const t_lstr*>(keys[i].data()), table, &row);
        benchmark::DoNotOptimize(row);
        i = (i + 1) & 4095;
    }
    if (present && int64_t(found) != int64_t(state.iterations()))
        state.SkipWithError("a present key was not found");
    if (!present && found != 0) state.SkipWithError("an absent key was found");
}

void BM_TableFindPresentHashed(benchmark::State& s) {
    Lookup(s, 0, true);
}
void BM_TableFindAbsentHashed(benchmark::State& s) {
    Lookup(s, 0, false);
}
void BM_TableFindPresentEnglish(benchmark::State& s) {
    Lookup(s, 1, true);
}
void BM_TableFindAbsentEnglish(benchmark::State& s) {
    Lookup(s, 1, false);
}

void BM_TableAttach100k(benchmark::State& state) {
    t_image& img = Image();
    for (auto _ : state) {
        t_tableFile r;
        r.SetBucketCount(0, 16384);
        benchmark::DoNotOptimize(r.Attach(img.bytes.data(), kVersion, int64_t(img.bytes.size())));
    }
}

}  // namespace

BENCHMARK(BM_TableFindPresentHashed);
BENCHMARK(BM_TableFindAbsentHashed);
BENCHMARK(BM_TableFindPresentEnglish);
BENCHMARK(BM_TableFindAbsentEnglish);
BENCHMARK(BM_TableAttach100k);
