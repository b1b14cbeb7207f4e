// Composition accuracy: types the pinyin of every phrase of a calibration
// set (syllables joined, no separators), builds both lattices and composes
// the first sentence with the kernel, and counts exact phrases and matching
// characters. With --min-exact it fails when the exact share falls below.
//
// Usage: compose_accuracy --data DIR --calibration TSV [--min-exact PERCENT]
//                         [--errors N] [--separated 1] [--typos EVERY [--seed S]]
// With --typos, every EVERY-th phrase is typed with one slip (fixed seed)
// and run through the spelling correction; it prints how often the
// intended phrase comes back at place 1 or 2.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/convert/py_lattice.h"
#include "kernel/convert/spell_variants.h"
#include "kernel/convert/word_finder.h"
#include "kernel/convert/word_lattice.h"
#include "kernel/lexicon/key_map_builder.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "tools/common/utf_text.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

using n_toolText::Utf16;
using n_toolText::Utf8;

struct t_lexicon {
    std::vector<uint8_t> pyImage, coreImage, keyMapImage;
    t_pyDict py;
    t_sysDict sys;
    t_keyPyMap keyMap;

    bool Load(const std::string& dir) {
        pyImage = ReadAll(dir + "/qzim_py.bin");
        coreImage = ReadAll(dir + "/qzim_core.bin");
        if (pyImage.empty() || coreImage.empty()) return false;
        if (!py.Load(pyImage.data(), int32_t(pyImage.size())) ||
            !sys.Load(coreImage.data(), int32_t(coreImage.size())))
            return false;
        t_keyMapOptions options;
        options.zcs = true;
        t_scopeHeap heap;
        uint8_t* image = nullptr;
        uint32_t size = 0;
        std::wstring messages;
        const std::wstring wdir(dir.begin(), dir.end());
        if (!t_keyPyMapBuilder::Build(heap, &image, &size, options, {wdir, wdir, L"Vetra"},
                                      &messages))
            return false;
        keyMapImage.assign(image, image + size);
        return keyMap.Attach(keyMapImage.data(), int64_t(keyMapImage.size()));
    }
};

t_convertDicts DictsOf(const t_lexicon& lex) {
    t_convertDicts dicts;
    dicts.py = const_cast<t_pyDict*>(&lex.py);
    dicts.keyMap = const_cast<t_keyPyMap*>(&lex.keyMap);
    dicts.sys = const_cast<t_sysDict*>(&lex.sys);
    return dicts;
}

std::u16string TextOf(const t_lstr* t) {
    return t ? std::u16string(reinterpret_cast<const char16_t*>(LstrGetUnits(t)), LstrGetLength(t))
             : std::u16string();
}

// One conversion of a typed input: its syllable lattice, the composed
// sentence and the cheapest dictionary word of the whole input (priced as a
// one-word path), both offered to array when given. Everything lives in
// arena.
struct t_converted {
    t_pyLattice syllables;
    std::u16string first;  // the cheaper of the two
    int32_t firstCost = t_wordLattice::kNoCost;
    bool composedFirst = false;
};

void Convert(const t_lexicon& lex, const std::wstring& typed, t_scopeHeap& arena,
             t_arrayWord* array, t_converted* out) {
    const t_convertDicts dicts = DictsOf(lex);
    if (!out->syllables.Build(&arena, dicts.keyMap, dicts.py, typed.c_str(), int(typed.size()),
                              false, false))
        return;
    const int n = out->syllables.GetLength();
    t_inputLattice input(&arena, &arena);
    input.Reset(n);
    t_wordFinder finder(dicts, &input, &out->syllables, typed.c_str(), &arena);
    for (int p = 0; p < n; ++p) {
        if (!(out->syllables.GetForward(p) > 0)) continue;
        input.AddAbbreviationArcs(p, typed.c_str(), dicts.sys);
        finder.FindWordsAt(p, t_findSwitches());
    }
    input.FinaliseWordCounts();
    t_composeRequest request;
    request.dicts = dicts;
    request.lattice = &input;
    request.arena = &arena;
    t_segmentNodes segments;
    t_wordLattice lattice;
    t_composeOutcome composed;
    if (!ComposeWords(request, &segments, &lattice, array, &composed)) return;
    if (composed.plain && composed.plain->coveredLength == uint32_t(n)) {
        out->firstCost = composed.bestCost;
        out->first = TextOf(composed.plain->text);
        out->composedFirst = true;
    }
    t_candWord* word = nullptr;
    for (const t_wordArcNode* node = input.NodesEndingAt(n); node; node = node->next) {
        if (node->start != 0) continue;
        for (const t_wordArc* a = node->arcs; a; a = a->next) {
            if (a->source != kArcSourceSystem) continue;
            for (uint32_t i = a->value;; ++i) {
                uint32_t off = 0, gram = 0;
                uint16_t cost = 0;
                uint8_t more = 0;
                if (!lex.sys.GetWordRecord(i, &off, &cost, &gram, &more)) break;
                t_segWordNode w{};
                w.arc = a;
                w.index = i;
                w.value = gram;
                w.cost = cost;
                w.type = kSegWordSystem;
                w.length = a->syllables;
                const int32_t c =
                    lattice.Transition(nullptr, &w, true, nullptr) + t_wordLattice::kStepCost;
                if (c < out->firstCost) {
                    out->firstCost = c;
                    out->first = TextOf(lex.sys.GetTextAt(off));
                    out->composedFirst = false;
                    word = static_cast<t_candWord*>(arena.AllocAligned(sizeof(t_candWord), 8));
                    if (word) {
                        t_candWord::Clear(word);
                        word->text = lex.sys.GetTextAt(off);
                        word->syllableIds = a->ids;
                        word->segmentList = a->positions;
                        word->coveredLength = uint32_t(n);
                        word->rank = ComposedRank(c);
                        word->score = 1.0;
                        word->multiChar = 1;
                    }
                }
                if (!more) break;
            }
        }
    }
    if (word && array) {
        int filtered = 0;
        array->Add(word, &filtered);
    }
}

// One typing slip at a random position of the letters: a neighbouring key
// instead of the letter, two letters swapped, a letter dropped, or a
// neighbouring key (or the letter again) typed in excess. Deterministic for
// a seed.
struct t_slips {
    uint64_t state;
    uint32_t Next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(state >> 33);
    }
    wchar_t Neighbour(wchar_t c) {
        static const char* const rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
        for (int r = 0; r < 3; ++r) {
            const char* at = std::strchr(rows[r], char(c));
            if (!at) continue;
            std::wstring near;
            const int i = int(at - rows[r]);
            for (int d : {-1, 1})
                if (i + d >= 0 && rows[r][i + d]) near.push_back(wchar_t(rows[r][i + d]));
            for (int rr : {r - 1, r + 1})
                if (rr >= 0 && rr < 3 && i < int(std::strlen(rows[rr])))
                    near.push_back(wchar_t(rows[rr][i]));
            return near[Next() % near.size()];
        }
        return c;
    }
    std::wstring Apply(const std::wstring& s) {
        for (;;) {
            std::wstring t = s;
            const size_t p = Next() % t.size();
            switch (Next() % 4) {
                case 0:
                    t[p] = Neighbour(t[p]);
                    break;
                case 1:
                    if (p + 1 >= t.size()) continue;
                    std::swap(t[p], t[p + 1]);
                    break;
                case 2:
                    t.erase(p, 1);
                    break;
                default:
                    t.insert(p, 1, Next() % 2 ? t[p] : Neighbour(t[p]));
                    break;
            }
            if (t != s && !t.empty()) return t;
        }
    }
};

struct t_typoCounts {
    long tried = 0, variantFound = 0, chosen = 0, atOne = 0, atOneOrTwo = 0;
};

// The correction road for one mistyped input: the typed conversion in the
// main array, the variants, the chosen one converted into a correction
// array and merged in; where the intended phrase lands.
void TypoRun(const t_lexicon& lex, const std::wstring& intended, const std::wstring& typed,
             const std::u16string& phrase, t_typoCounts* counts) {
    t_scopeHeap arena;
    t_candWord* page[5] = {};
    t_arrayWord main(page, 0, 5, 0, nullptr, &arena);
    t_converted typedConv;
    Convert(lex, typed, arena, &main, &typedConv);
    t_spellModels models;
    models.py = &lex.py;
    models.keyMap = &lex.keyMap;
    t_spellCorrector corrector(&arena, models);
    ++counts->tried;
    if (corrector.MakeVariants(typed.c_str(), int(typed.size()))) {
        for (const t_spellVariant* v = corrector.First(); v; v = v->next)
            if (std::wstring(v->letters) == intended) ++counts->variantFound;
        const int n = typedConv.syllables.GetLength();
        const double prob = n > 0 ? typedConv.syllables.GetForward(n) : 0;
        const int32_t typedCost = typedConv.syllables.BestBigramPathCost(&lex.py);
        t_spellChoice choice;
        if (corrector.ChooseBest(prob, typedCost, typedConv.composedFirst, nullptr, &choice)) {
            const std::wstring letters(choice.variant->letters);
            if (letters == intended) ++counts->chosen;
            t_candWord* corrOut[3] = {};
            t_arrayWord corrections(corrOut, 0, 3, 0, nullptr, &arena);
            t_converted corrected;
            Convert(lex, letters, arena, &corrections, &corrected);
            t_candWord** ranked = nullptr;
            const int k = corrections.CopyRanked(&arena, &ranked);
            ShiftSegmentEnds(&arena, ranked, k, choice.variant->kind, choice.variant->position);
            t_admissionParams params;
            main.MergeCorrections(&corrections, false, choice.score, params);
        }
    }
    const int shown = main.Arrange();
    for (int i = 0; i < shown && i < 2; ++i) {
        if (page[i] && TextOf(page[i]->text) == phrase) {
            ++counts->atOneOrTwo;
            if (i == 0) ++counts->atOne;
            break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string data, calibration;
    double minExact = -1;
    int showErrors = 0;
    bool separated = false;  // syllables typed with apostrophes between them
    int typos = 0;           // every typos-th phrase is mistyped once and corrected
    t_slips slips{1};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--data")
            data = v;
        else if (k == "--calibration")
            calibration = v;
        else if (k == "--min-exact")
            minExact = std::atof(v.c_str());
        else if (k == "--errors")
            showErrors = std::atoi(v.c_str());
        else if (k == "--separated")
            separated = v == "1";
        else if (k == "--typos")
            typos = std::atoi(v.c_str());
        else if (k == "--seed")
            slips.state = uint64_t(std::atoll(v.c_str()));
    }
    if (data.empty() || calibration.empty()) {
        std::fprintf(stderr,
                     "usage: compose_accuracy --data DIR --calibration TSV [--min-exact PERCENT] "
                     "[--errors N]\n");
        return 2;
    }
    t_lexicon lex;
    if (!lex.Load(data)) {
        std::fprintf(stderr, "compose_accuracy: cannot load the system data in %s\n", data.c_str());
        return 2;
    }
    std::ifstream in(calibration);
    if (!in) {
        std::fprintf(stderr, "compose_accuracy: cannot read %s\n", calibration.c_str());
        return 2;
    }
    long phrases = 0, exact = 0, chars = 0, rightChars = 0;
    t_typoCounts typoCounts;
    const auto started = std::chrono::steady_clock::now();
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        if (t1 == std::string::npos) continue;
        const std::u16string phrase = Utf16(line.substr(0, t1));
        std::wstring typed;
        for (char c :
             line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos : t2 - t1 - 1))
            if (c != ' ' || separated) typed.push_back(c == ' ' ? L'\'' : wchar_t(c));
        if (typed.empty() || typed.size() > size_t(kMaxInputChars)) continue;
        if (typos > 0) {
            if (phrases % typos == 0) {
                const std::wstring slipped = slips.Apply(typed);
                TypoRun(lex, typed, slipped, phrase, &typoCounts);
            }
            ++phrases;
            continue;
        }
        t_scopeHeap arena;
        t_converted conv;
        Convert(lex, typed, arena, nullptr, &conv);
        const std::u16string got = conv.first;
        ++phrases;
        chars += long(phrase.size());
        if (got == phrase)
            ++exact;
        else if (showErrors-- > 0)
            std::printf("  %s -> %s\n", Utf8(phrase).c_str(), Utf8(got).c_str());
        for (size_t i = 0; i < phrase.size() && i < got.size(); ++i)
            rightChars += phrase[i] == got[i];
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (phrases == 0) {
        std::fprintf(stderr, "compose_accuracy: no phrases in %s\n", calibration.c_str());
        return 2;
    }
    if (typos > 0) {
        const double t = double(std::max(typoCounts.tried, 1L));
        std::printf(
            "corrections: %ld mistyped phrases; intended letters among the variants %.1f%%, chosen "
            "%.1f%%; "
            "intended phrase at place 1 %.1f%%, at place 1 or 2 %.1f%% (%.2f ms a phrase)\n",
            typoCounts.tried, 100.0 * double(typoCounts.variantFound) / t,
            100.0 * double(typoCounts.chosen) / t, 100.0 * double(typoCounts.atOne) / t,
            100.0 * double(typoCounts.atOneOrTwo) / t, 1000.0 * seconds / t);
        return 0;
    }
    const double exactShare = 100.0 * double(exact) / double(phrases);
    std::printf("composition: %ld phrases, exact %.1f%%, characters %.1f%% (%.2f ms a phrase)\n",
                phrases, exactShare, 100.0 * double(rightChars) / double(chars),
                1000.0 * seconds / double(phrases));
    if (minExact >= 0 && exactShare < minExact) {
        std::fprintf(stderr, "compose_accuracy: exact %.1f%% is below the floor %.1f%%\n",
                     exactShare, minExact);
        return 1;
    }
    return 0;
}
