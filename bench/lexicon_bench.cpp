// Word-tree cursor walks and bigram lookups of the system word dictionary:
// the lexicon's share of every keystroke. Reads qzim_core.bin from
// VETRA_SYSTEM_DATA_DIR when set (exits when it cannot), else a synthetic
// lexicon of 60,000 words.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/lexicon/sys_dict_writer.h"

namespace {

struct t_lexicon {
    std::vector<uint8_t> image;
    t_sysDict dict;
    std::vector<std::vector<uint16_t>> paths;  // readings of stored words
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
};

t_lexicon& Lexicon() {
    static t_lexicon lex;
    if (!lex.image.empty()) return lex;
    if (const char* dir = std::getenv("VETRA_SYSTEM_DATA_DIR"); dir && *dir) {
        // Named but unreadable is an error: a wrong path must not measure the
        // synthetic lexicon instead.
        const std::string path = std::string(dir) + "/qzim_core.bin";
        std::ifstream in(path, std::ios::binary);
        lex.image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (lex.image.empty()) {
            std::fprintf(stderr, "lexicon benchmarks: cannot read %s (VETRA_SYSTEM_DATA_DIR)\n",
                         path.c_str());
            std::exit(1);
        }
    }
    std::mt19937 rng(7);
    if (lex.image.empty()) {
        t_sysDictSource src;
        src.date = 20261207;
        const uint32_t words = 60000;
        src.unigrams.assign(words + 1, t_gramUnigram());
        for (uint32_t i = 1; i <= words; ++i) {
            t_sysWordEntry w;
            const size_t n = 1 + rng() % 4;
            for (size_t k = 0; k < n; ++k) {
                w.ids.push_back(uint16_t(rng() % 413));
                w.text.push_back(char16_t(0x4E00 + rng() % 20000));
            }
            w.cost = uint16_t(500 + rng() % 1500);
            w.gramId = i;
            src.words.push_back(w);
            src.unigrams[i].freq = w.cost;
        }
        for (uint32_t i = 0; i < 400000; ++i)
            src.pairs.push_back(
                {uint32_t(1 + rng() % words), uint32_t(1 + rng() % words), uint8_t(rng() % 16), 0});
        std::sort(src.pairs.begin(), src.pairs.end(), [](const t_gramPair& a, const t_gramPair& b) {
            return a.id1 != b.id1 ? a.id1 < b.id1 : a.id2 < b.id2;
        });
        src.pairs.erase(std::unique(src.pairs.begin(), src.pairs.end(),
                                    [](const t_gramPair& a, const t_gramPair& b) {
                                        return a.id1 == b.id1 && a.id2 == b.id2;
                                    }),
                        src.pairs.end());
        std::string error;
        if (!BuildSysDictImage(src, lex.image, &error)) std::abort();
    }
    if (!lex.dict.Load(lex.image.data(), int32_t(lex.image.size()))) std::abort();
    // Readings of stored words: walk the tree from random two-syllable prefixes.
    for (uint32_t e = 0; e < n_sysDict::kRootBase && lex.paths.size() < 4096; e += 1 + rng() % 97) {
        uint32_t first;
        int32_t word;
        lex.dict.GetIndexEntry(e, &first, &word, nullptr);
        if (word < 0 && first == n_sysDict::kNone) continue;
        lex.paths.push_back({uint16_t(e % 441), uint16_t(e / 441)});
    }
    const uint32_t count = lex.dict.GetGram()->GetUnigramCount();
    for (int i = 0; i < 4096; ++i)
        lex.pairs.push_back({1 + rng() % (count - 1), 1 + rng() % (count - 1)});
    return lex;
}

// Push a two-syllable prefix, list its continuations, pop back: the word
// finder's step at one lattice position.
void BM_CursorWalk(benchmark::State& state) {
    t_lexicon& lex = Lexicon();
    size_t i = 0;
    uint32_t words[17];
    for (auto _ : state) {
        const auto& path = lex.paths[i++ % lex.paths.size()];
        t_sysDictCursor c(&lex.dict);
        uint8_t stepped;
        int found = 0;
        for (uint16_t id : path) found += c.PushSyllable(id, &stepped);
        found += c.GetSubtreeWordIndexes(words, 17);
        while (c.PopSyllable()) {
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_CursorWalk);

void BM_BigramScore(benchmark::State& state) {
    t_lexicon& lex = Lexicon();
    const t_gramInfo* gram = lex.dict.GetGram();
    size_t i = 0;
    for (auto _ : state) {
        const auto& p = lex.pairs[i++ % lex.pairs.size()];
        uint8_t found, backed, flag1;
        benchmark::DoNotOptimize(
            GramGetBigramScore(gram, p.first, p.second, &found, false, true, &backed, &flag1));
    }
}
BENCHMARK(BM_BigramScore);

}  // namespace
