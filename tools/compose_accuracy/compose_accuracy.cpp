// Composition accuracy: types the pinyin of every phrase of a calibration
// set (syllables joined, no separators), builds both lattices and composes
// the first sentence with the kernel, and counts exact phrases and matching
// characters. With --min-exact it fails when the exact share falls below.
//
// Usage: compose_accuracy --data DIR --calibration TSV [--min-exact PERCENT]
//                         [--errors N] [--separated 1]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kernel/candidate/cand_word.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/convert/py_lattice.h"
#include "kernel/convert/word_finder.h"
#include "kernel/convert/word_lattice.h"
#include "kernel/lexicon/key_map_builder.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::u16string Utf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        uint32_t cp = c;
        size_t n = 1;
        if (c >= 0xF0) cp = c & 0x07, n = 4;
        else if (c >= 0xE0) cp = c & 0x0F, n = 3;
        else if (c >= 0xC0) cp = c & 0x1F, n = 2;
        for (size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        i += n;
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

std::string Utf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

struct t_lexicon {
    std::vector<uint8_t> pyImage, coreImage, keyMapImage;
    t_pyDict py;
    t_sysDict sys;
    t_keyPyMap keyMap;

    bool Load(const std::string& dir) {
        pyImage = ReadAll(dir + "/qzim_py.bin");
        coreImage = ReadAll(dir + "/qzim_core.bin");
        if (pyImage.empty() || coreImage.empty()) return false;
        if (!py.Load(pyImage.data(), int32_t(pyImage.size())) || !sys.Load(coreImage.data(), int32_t(coreImage.size())))
            return false;
        t_keyMapOptions options;
        options.zcs = true;
        t_scopeHeap heap;
        uint8_t* image = nullptr;
        uint32_t size = 0;
        std::wstring messages;
        const std::wstring wdir(dir.begin(), dir.end());
        if (!t_keyPyMapBuilder::Build(heap, &image, &size, options, {wdir, wdir, L"Vetra"}, &messages)) return false;
        keyMapImage.assign(image, image + size);
        return keyMap.Attach(keyMapImage.data(), int64_t(keyMapImage.size()));
    }
};

// The first sentence of a typed input: the composed sentence, or the
// cheapest dictionary word of the whole input when it costs less.
std::u16string FirstSentence(const t_lexicon& lex, const std::wstring& typed) {
    t_convertDicts dicts;
    dicts.py = const_cast<t_pyDict*>(&lex.py);
    dicts.keyMap = const_cast<t_keyPyMap*>(&lex.keyMap);
    dicts.sys = const_cast<t_sysDict*>(&lex.sys);
    t_scopeHeap arena;
    t_pyLattice syllables;
    if (!syllables.Build(&arena, dicts.keyMap, dicts.py, typed.c_str(), int(typed.size()), false, false)) return {};
    const int n = syllables.GetLength();
    t_inputLattice input(&arena, &arena);
    input.Reset(n);
    t_wordFinder finder(dicts, &input, &syllables, typed.c_str(), &arena);
    for (int p = 0; p < n; ++p) {
        if (!(syllables.GetForward(p) > 0)) continue;
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
    t_composeOutcome out;
    if (!ComposeWords(request, &segments, &lattice, nullptr, &out)) return {};
    std::u16string best;
    int32_t bestCost = t_wordLattice::kNoCost;
    if (out.plain && out.plain->coveredLength == uint32_t(n)) {
        bestCost = out.bestCost;
        const t_lstr* t = out.plain->text;
        best.assign(reinterpret_cast<const char16_t*>(LstrGetUnits(t)), LstrGetLength(t));
    }
    // Whole-input words, priced as a one-word path.
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
                const int32_t c = lattice.Transition(nullptr, &w, true, nullptr) + t_wordLattice::kStepCost;
                if (c < bestCost) {
                    bestCost = c;
                    const t_lstr* t = lex.sys.GetTextAt(off);
                    best.assign(reinterpret_cast<const char16_t*>(LstrGetUnits(t)), LstrGetLength(t));
                }
                if (!more) break;
            }
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::string data, calibration;
    double minExact = -1;
    int showErrors = 0;
    bool separated = false;  // syllables typed with apostrophes between them
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--data") data = v;
        else if (k == "--calibration") calibration = v;
        else if (k == "--min-exact") minExact = std::atof(v.c_str());
        else if (k == "--errors") showErrors = std::atoi(v.c_str());
        else if (k == "--separated") separated = v == "1";
    }
    if (data.empty() || calibration.empty()) {
        std::fprintf(stderr, "usage: compose_accuracy --data DIR --calibration TSV [--min-exact PERCENT] [--errors N]\n");
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
    const auto started = std::chrono::steady_clock::now();
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        if (t1 == std::string::npos) continue;
        const std::u16string phrase = Utf16(line.substr(0, t1));
        std::wstring typed;
        for (char c : line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos : t2 - t1 - 1))
            if (c != ' ' || separated) typed.push_back(c == ' ' ? L'\'' : wchar_t(c));
        if (typed.empty() || typed.size() > size_t(kMaxInputChars)) continue;
        const std::u16string got = FirstSentence(lex, typed);
        ++phrases;
        chars += long(phrase.size());
        if (got == phrase) ++exact;
        else if (showErrors-- > 0)
            std::printf("  %s -> %s\n", Utf8(phrase).c_str(), Utf8(got).c_str());
        for (size_t i = 0; i < phrase.size() && i < got.size(); ++i) rightChars += phrase[i] == got[i];
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (phrases == 0) {
        std::fprintf(stderr, "compose_accuracy: no phrases in %s\n", calibration.c_str());
        return 2;
    }
    const double exactShare = 100.0 * double(exact) / double(phrases);
    std::printf("composition: %ld phrases, exact %.1f%%, characters %.1f%% (%.2f ms a phrase)\n", phrases,
                exactShare, 100.0 * double(rightChars) / double(chars), 1000.0 * seconds / double(phrases));
    if (minExact >= 0 && exactShare < minExact) {
        std::fprintf(stderr, "compose_accuracy: exact %.1f%% is below the floor %.1f%%\n", exactShare, minExact);
        return 1;
    }
    return 0;
}
