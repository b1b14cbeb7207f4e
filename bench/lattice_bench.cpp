// Building both lattices of one input, the conversion's first step on every
// keystroke: the syllable lattice from the key map, then the word lattice
// from every reachable position. Needs the built system data in
// VETRA_SYSTEM_DATA_DIR (qzim_py.bin, qzim_core.bin and the scheme files).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/cand_collector.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/convert/py_lattice.h"
#include "kernel/convert/word_finder.h"
#include "kernel/convert/word_lattice.h"
#include "kernel/lexicon/key_map_builder.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/scope_heap.h"

namespace {

struct t_latticeLexicon {
    std::vector<uint8_t> py, core, keyMap;
    t_pyDict pyDict;
    t_sysDict sys;
    t_keyPyMap map;
    bool ready = false;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

t_latticeLexicon& Lexicon() {
    static t_latticeLexicon lex;
    static bool tried = false;
    if (tried) return lex;
    tried = true;
    const char* dir = std::getenv("VETRA_SYSTEM_DATA_DIR");
    if (!dir || !*dir) return lex;
    lex.py = ReadAll(std::string(dir) + "/qzim_py.bin");
    lex.core = ReadAll(std::string(dir) + "/qzim_core.bin");
    const std::string d(dir);
    t_keyMapOptions options;
    options.zcs = true;
    t_scopeHeap heap;
    uint8_t* image = nullptr;
    uint32_t size = 0;
    if (lex.py.empty() || lex.core.empty() ||
        !t_keyPyMapBuilder::Build(
            heap, &image, &size, options,
            {std::wstring(d.begin(), d.end()), std::wstring(d.begin(), d.end()), L"Vetra"},
            nullptr))
        return lex;
    lex.keyMap.assign(image, image + size);
    lex.ready = lex.pyDict.Load(lex.py.data(), int32_t(lex.py.size())) &&
                lex.sys.Load(lex.core.data(), int32_t(lex.core.size())) &&
                lex.map.Attach(lex.keyMap.data(), int64_t(lex.keyMap.size()));
    return lex;
}

// The dictionaries of the built lexicon; false (the benchmark skipped)
// without it.
bool BuiltDicts(benchmark::State& state, t_latticeLexicon** lex, t_convertDicts* dicts) {
    *lex = &Lexicon();
    if (!(*lex)->ready) {
        state.SkipWithError("set VETRA_SYSTEM_DATA_DIR to the built system data");
        return false;
    }
    dicts->py = &(*lex)->pyDict;
    dicts->keyMap = &(*lex)->map;
    dicts->sys = &(*lex)->sys;
    return true;
}

void BuildBothLattices(benchmark::State& state, const wchar_t* input) {
    t_latticeLexicon* lexp;
    t_convertDicts dicts;
    if (!BuiltDicts(state, &lexp, &dicts)) return;
    t_latticeLexicon& lex = *lexp;
    const int length = int(std::wstring(input).size());
    t_scopeHeap arena;
    t_pyLattice syllables;
    t_inputLattice words(&arena, &arena);
    int64_t arcs = 0;
    for (auto _ : state) {
        arena.FreeAll();
        syllables.Build(&arena, &lex.map, &lex.pyDict, input, length, false, false);
        const int n = syllables.GetLength();
        words.Reset(n);
        t_wordFinder finder(dicts, &words, &syllables, input, &arena);
        for (int p = 0; p < n; ++p) {
            if (!(syllables.GetForward(p) > 0)) continue;
            words.AddAbbreviationArcs(p, input, &lex.sys);
            finder.FindWordsAt(p, {});
        }
        words.FinaliseWordCounts();
        arcs = words.GetArcCount();
        benchmark::DoNotOptimize(arcs);
    }
    state.counters["arcs"] = double(arcs);
}

// One collection: the words from position 0 (lattices built once) scored
// into a candidate array of one page of 2600 records.
void CollectCandidates(benchmark::State& state, const wchar_t* input) {
    t_latticeLexicon* lexp;
    t_convertDicts dicts;
    if (!BuiltDicts(state, &lexp, &dicts)) return;
    t_latticeLexicon& lex = *lexp;
    const int length = int(std::wstring(input).size());
    t_scopeHeap arena, records;
    t_pyLattice syllables;
    t_inputLattice words(&arena, &arena);
    syllables.Build(&arena, &lex.map, &lex.pyDict, input, length, false, false);
    const int n = syllables.GetLength();
    words.Reset(n);
    t_wordFinder finder(dicts, &words, &syllables, input, &arena);
    finder.FindWordsAt(0, {});
    std::vector<double> probs;
    for (int e = 0; e <= n; ++e) probs.push_back(syllables.GetForward(e));
    std::vector<t_candWord*> page(2600);
    int count = 0;
    for (auto _ : state) {
        records.FreeAll();
        t_arrayWord array(page.data(), 0, 2600, 0, nullptr, &records);
        t_candCollector collector(&records, dicts, &words, &array);
        collector.CollectAll(probs.data(), false);
        count = array.GetCount();
        benchmark::DoNotOptimize(count);
    }
    state.counters["records"] = double(count);
}

// Word composition alone (readers, sentence lattice, the composed records)
// over lattices built once: the positions x nodes-squared part of a
// keystroke.
void ComposeSentence(benchmark::State& state, const wchar_t* input) {
    t_latticeLexicon* lexp;
    t_convertDicts dicts;
    if (!BuiltDicts(state, &lexp, &dicts)) return;
    t_latticeLexicon& lex = *lexp;
    const int length = int(std::wstring(input).size());
    t_scopeHeap latticeArena, arena;
    t_pyLattice syllables;
    t_inputLattice words(&latticeArena, &latticeArena);
    syllables.Build(&latticeArena, &lex.map, &lex.pyDict, input, length, false, false);
    const int n = syllables.GetLength();
    words.Reset(n);
    t_wordFinder finder(dicts, &words, &syllables, input, &latticeArena);
    for (int p = 0; p < n; ++p) {
        if (!(syllables.GetForward(p) > 0)) continue;
        words.AddAbbreviationArcs(p, input, &lex.sys);
        finder.FindWordsAt(p, {});
    }
    words.FinaliseWordCounts();
    t_composeRequest request;
    request.dicts = dicts;
    request.lattice = &words;
    request.arena = &arena;
    t_segmentNodes segments;
    t_wordLattice lattice;
    t_composeOutcome out;
    for (auto _ : state) {
        arena.FreeAll();
        ComposeWords(request, &segments, &lattice, nullptr, &out);
        benchmark::DoNotOptimize(out.plain);
    }
    state.counters["nodes"] = double(out.nodes);
}

}  // namespace

BENCHMARK_CAPTURE(CollectCandidates, syllables6, L"womendouaizhongguo");
BENCHMARK_CAPTURE(CollectCandidates, syllables12, L"womendouaizhongguojintiantianqihenhao");
BENCHMARK_CAPTURE(CollectCandidates, syllables20,
                  L"womendouaizhongguojintiantianqihenhaoxiwangmingtianyeshiqingtian");
BENCHMARK_CAPTURE(ComposeSentence, syllables6, L"womendouaizhongguo");
BENCHMARK_CAPTURE(ComposeSentence, syllables12, L"womendouaizhongguojintiantianqihenhao");
BENCHMARK_CAPTURE(ComposeSentence, syllables20,
                  L"womendouaizhongguojintiantianqihenhaoxiwangmingtianyeshiqingtian");
BENCHMARK_CAPTURE(
    ComposeSentence, letters78,
    L"womendouaizhongguojintiantianqihenhaoxiwangmingtianyeshiqingtianwomenyiqiqukan");
BENCHMARK_CAPTURE(BuildBothLattices, syllables6, L"womendouaizhongguo");
BENCHMARK_CAPTURE(BuildBothLattices, syllables12, L"womendouaizhongguojintiantianqihenhao");
BENCHMARK_CAPTURE(BuildBothLattices, syllables20,
                  L"womendouaizhongguojintiantianqihenhaoxiwangmingtianyeshiqingtian");
BENCHMARK_CAPTURE(BuildBothLattices, initials12, L"wmdazgjttqhh");
