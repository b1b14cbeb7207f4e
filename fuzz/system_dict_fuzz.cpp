// Fuzzes the readers of the system dictionaries: the syllable dictionary,
// the word dictionary with its gram statistics, the stroke annex and the
// traditional-character dictionary. Each image is placed as a file mapping
// is (read-only, flush against an unmapped page), attached, and looked up
// the ways the conversion does. The real files are megabytes, so they are
// reached as bases of patch inputs (see image_fuzz.h).
// One thread; nothing is written.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/image_fuzz.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/stroke_annex.h"
#include "kernel/lexicon/stroke_annex_writer.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/lexicon/sys_dict_writer.h"
#include "kernel/lexicon/trad_dict.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

namespace {

enum : int { kSyllables, kWords, kStrokes, kTraditional, kDicts };

// A length-prefixed string of 16-bit units in its own buffer.
struct t_units {
    std::vector<uint8_t> bytes{0, 0};
    void Push(uint16_t u) {
        bytes.push_back(uint8_t(u));
        bytes.push_back(uint8_t(u >> 8));
        LstrSetByteLength(Get(), uint16_t(bytes.size() - 2));
    }
    t_lstr* Get() { return reinterpret_cast<t_lstr*>(bytes.data()); }
};

uint16_t SyllableId(const wchar_t* text) {
    for (int i = 0; i < kSyllableCount; ++i)
        if (wcscmp(kSyllableTexts[i], text) == 0) return uint16_t(i);
    return 0;
}

// ---- the made images ----

t_fuzzBytes MakeSyllableImage() {
    t_pyDictSource src;
    for (int i = 0; i < kSyllableCount; ++i) {
        const std::wstring w(kSyllableTexts[i]);
        src.syllables.push_back(std::string(w.begin(), w.end()));
        src.costs.push_back(uint16_t(1000 + i));
    }
    for (int i = 0; i < kSyllableCount * kSyllableCount; ++i) src.pairCosts.push_back(uint16_t(i));
    for (int k = 0; k < 27 * 27 * 27; ++k) src.trigram.push_back(uint8_t(k % 251));
    for (int k = 0; k < 26 * 26 * 27; ++k) src.xpos.push_back(uint8_t(k % 241));
    t_fuzzBytes out;
    std::string error;
    return BuildPyDictImage(src, out, &error) ? out : t_fuzzBytes();
}

t_fuzzBytes MakeWordImage() {
    t_sysDictSource src;
    src.date = 20261207;
    auto word = [&](std::initializer_list<const wchar_t*> ids, const std::u16string& text,
                    uint16_t cost, uint32_t gram) {
        t_sysWordEntry w;
        for (const wchar_t* s : ids) w.ids.push_back(SyllableId(s));
        w.text = text;
        w.cost = cost;
        w.gramId = gram;
        src.words.push_back(w);
    };
    word({L"zhong"}, u"中", 700, 5);
    word({L"guo"}, u"国", 800, 6);
    word({L"zhong", L"guo"}, u"中国", 900, 1);
    word({L"ren", L"min"}, u"人民", 950, 2);
    word({L"zhong", L"guo", L"ren", L"min"}, u"中国人民", 1200, 3);
    word({L"zhong", L"guo", L"ren"}, u"中国人", 1300, 0);
    word({L"yin", L"hang"}, u"银行", 1000, 4);
    word({L"xing"}, u"行", 900, 0);
    word({L"hang"}, u"行", 1100, 0);
    src.classes = {{0, 0, 0, 0, 0}, {2, 0, 0, 0, 7}};
    src.words[3].classIndex = 1;
    src.unigrams.assign(9, t_gramUnigram());
    for (uint32_t id = 1; id <= 8; ++id) src.unigrams[id].freq = uint16_t(600 + id);
    src.unigrams[3].leftBackOff = 2;
    src.unigrams[8].rightBackOff = 2;
    src.pairs = {{1, 2, 0, 0}, {5, 6, 5, 1}, {2, 2, 12, 0}};
    src.shortKeys.resize(702);
    src.shortKeys[25].push_back({{SyllableId(L"zhong")}, u"中", 700, 5});
    t_fuzzBytes out;
    std::string error;
    return BuildSysDictImage(src, out, &error) ? out : t_fuzzBytes();
}

t_fuzzBytes MakeStrokeImage() {
    t_strokeAnnexWriter w(3);
    w.AddStrokeChar({2, 5, 1, 2}, 0x4E2D);
    w.AddStrokeChar({2, 5, 1, 1, 2}, 0x56FD);
    w.AddStrokeChar({3, 4}, 0x4EBA);
    w.SetPinyinIds(0x4E2D, {SyllableId(L"zhong")});
    w.SetPinyinIds(0x884C, {SyllableId(L"xing"), SyllableId(L"hang")});
    w.AddEntry(0x4E2D, {2, 5, 1, 2},
               {{1, int16_t(SyllableId(L"zhong"))}, {4, int16_t(SyllableId(L"zhong"))}},
               n_strokeAnnex::kTagRadical, {0x4E28, '*', 3});
    w.AddEntry(0x4EBA, {3, 4}, {{2, int16_t(SyllableId(L"ren"))}}, n_strokeAnnex::kTagRadical,
               {0x4EBA, '*', 0});
    t_fuzzBytes out;
    return w.Build(out) ? out : t_fuzzBytes();
}

// A trie of reversed texts: 后 -> 後, 发 -> 發, 头发 -> 頭髮, 现发 kept as it is.
t_fuzzBytes MakeTraditionalImage() {
    struct t_node {
        uint16_t unit;
        uint32_t first, count;
        int32_t value;
    };
    // Values: "後" at 0, "頭髮" at 4, "發" at 10.
    const std::vector<uint16_t> values = {2, 0x5F8C, 4, 0x982D, 0x9AEE, 2, 0x767C};
    const std::vector<t_node> nodes = {
        {0, 1, 2, -1},       // root
        {0x53D1, 3, 2, 10},  // 发
        {0x540E, 0, 0, 0},   // 后
        {0x5934, 0, 0, 4},   // 头发
        {0x73B0, 0, 0, -2},  // 现发
    };
    t_fuzzBytes image(20 + 16 * nodes.size());
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(image.data() + at, &v, 4); };
    put32(0, 20);
    put32(4, 3);
    put32(8, uint32_t(values.size() * 2));
    put32(12, 16);
    put32(16, uint32_t(nodes.size()));
    for (size_t i = 0; i < nodes.size(); ++i) {
        const size_t at = 20 + 16 * i;
        std::memcpy(image.data() + at, &nodes[i].unit, 2);
        put32(at + 4, nodes[i].first);
        put32(at + 8, nodes[i].count);
        put32(at + 12, uint32_t(nodes[i].value));
    }
    for (uint16_t v : values) {
        image.push_back(uint8_t(v));
        image.push_back(uint8_t(v >> 8));
    }
    return image;
}

void MakeImages(std::vector<t_fuzzBase>& out) {
    const std::pair<int, t_fuzzBytes> made[] = {{kSyllables, MakeSyllableImage()},
                                                {kWords, MakeWordImage()},
                                                {kStrokes, MakeStrokeImage()},
                                                {kTraditional, MakeTraditionalImage()}};
    const char* names[] = {"syllables-small", "words-small", "strokes-small", "traditional-small"};
    for (const auto& [dict, bytes] : made)
        if (!bytes.empty()) out.push_back({dict, names[dict], bytes});
}

const t_fuzzTarget& Target() {
    static const t_fuzzTarget target = {
        kDicts,
        &MakeImages,
        {{kSyllables, "qzim_py.bin"},
         {kWords, "qzim_core.bin"},
         {kStrokes, "qzim_annex.bin"},
         {kTraditional, "qzim_tra.bin"}},
    };
    return target;
}

// ---- lookups ----

void RunSyllables(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_pyDict d;
    if (!d.Load(image, size)) return;
    for (const wchar_t* s : {L"zhong", L"a", L"xiang", L"lve", L"zz", L"Z"}) d.GetSyllableId(s);
    for (uint32_t ch : {uint32_t('a'), uint32_t('Z'), uint32_t('~'), 0x4E2Du}) d.GetLetterId(ch);
    const int16_t id1 = int16_t(pick.Next(460)), id2 = int16_t(pick.Next(460));
    if (const t_lstr* s = d.GetSyllableString(id1)) {
        std::wstring text;
        for (uint16_t i = 0; i < LstrGetLength(s); ++i) text.push_back(wchar_t(LstrGetUnit(s, i)));
        d.GetSyllableId(text.c_str());
    }
    d.GetIdCount();
    d.GetSyllableCount();
    d.IsSyllableId(id1);
    d.IsLetterId(id2);
    t_units ids, letters;
    ids.Push(uint16_t(id1));
    ids.Push(uint16_t(id2));
    d.AreAllLetterIds(ids.Get());
    d.HasLetterId(ids.Get());
    for (uint32_t n = 1 + pick.Next(6); n > 0; --n) letters.Push(uint16_t('a' + pick.Next(27)));
    uint16_t out[1 + 8];
    d.LettersToIds(letters.Get(), out);
    d.GetSyllableValue(id1);
    d.GetSyllablePairValue(id1, id2);
    const uint32_t a = 'a' + pick.Next(27), b = 'a' + pick.Next(27), c = 'a' + pick.Next(27);
    d.GetLetterTrigramValue(a, b, c == 'a' + 26 ? '~' : c);
    d.GetLetterXposValue(a, b, c);
}

void RunGram(const t_gramInfo* gram, t_fuzzPicker& pick) {
    if (!gram) return;
    const uint32_t n = gram->GetUnigramCount() + 2;
    const uint32_t id1 = pick.Next(n), id2 = pick.Next(n);
    GramGetUnigramFreq(gram, id1);
    uint8_t found = 0, backedOff = 0, flag0 = 0, flag1 = 0, used = 0;
    GramGetBigramScore(gram, id1, id2, &found, pick.Next(2), pick.Next(2), &backedOff, &flag1);
    int32_t hint = -1;
    gram->Search(id1, id2, &flag0, &flag1, &hint, int(pick.Next(8)));
    gram->BackOff(id1, id2, &used);
    gram->CachedQuery(id2, id1, &flag0, &flag1, &hint, 0);
    t_gramArc left, right;
    left.syllableCount = 1 + int(pick.Next(3));
    left.gramId = int32_t(id1);
    right.syllableCount = 1 + int(pick.Next(3));
    right.gramId = int32_t(id2);
    right.prevGramId = int32_t(id1);
    uint32_t bits = 0;
    hint = -1;
    GramGetWordPairScore(gram, &left, &right, &flag0, &found, &bits, &hint, 0);
}

void RunWords(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_sysDict d;
    if (!d.Load(image, size)) return;
    const uint32_t words = d.GetWordCount();
    for (int i = 0; i < 4; ++i) {
        const uint32_t w = pick.Next(words + 2);
        uint32_t textOffset = 0, gramId = 0;
        uint16_t cost = 0;
        uint8_t more = 0, cls[5];
        d.GetWordRecord(w, &textOffset, &cost, &gramId, &more);
        d.GetWordFlags(w);
        d.GetWordText(w);
        d.GetTextAt(textOffset);
        d.GetWordClassInfo(w, cls);
    }
    // A walk down the tree along the input's syllables, with its words.
    t_sysDictCursor cursor(&d);
    t_units path;
    t_scopeHeap heap(t_scopeHeap::kDefaultBlockSize);
    uint32_t wordIndex[16];
    t_lstr* paths[16];
    const uint16_t zhong = SyllableId(L"zhong"), guo = SyllableId(L"guo"), ren = SyllableId(L"ren");
    const uint16_t walk[] = {pick.Next(2) ? zhong : uint16_t(pick.Next(441)), guo, ren,
                             uint16_t(pick.Next(441))};
    for (uint16_t id : walk) {
        uint8_t stepped = 0;
        cursor.PushSyllable(id, &stepped);
        if (!stepped) break;
        path.Push(id);
        cursor.GetWords(path.Get(), wordIndex, paths, &heap, 16);
        cursor.GetSubtreeWordIndexes(wordIndex, 16);
        cursor.HasContinuation();
    }
    while (cursor.PopSyllable()) {
    }
    // Word look-ups by ids and text.
    t_units ids, text;
    for (uint16_t id : {zhong, guo}) ids.Push(id);
    for (uint16_t u : {0x4E2D, 0x56FD}) text.Push(u);
    if (pick.Next(2)) {
        ids.Push(uint16_t(pick.Next(441)));
        text.Push(uint16_t(0x4E00 + pick.Next(0x5000)));
    }
    uint32_t w = 0, textOffset = 0, gramId = 0;
    uint16_t cost = 0;
    d.FindWord(ids.Get(), text.Get(), &w, &textOffset, &gramId);
    d.FindWordEx(ids.Get(), text.Get(), &w, &textOffset, &cost, &gramId);
    d.CheckWordComposition(ids.Get(), text.Get());
    const int last = int(LstrGetLength(ids.Get())) - 1;
    d.FindSubWord(ids.Get(), text.Get(), 0, last, &w);
    d.SubWordHasClass(ids.Get(), text.Get(), 0, last, pick.Next(64), pick.Next(2));
    d.SubWordsHaveClasses(ids.Get(), text.Get(), 0, 0, 1, true, 1, last, 8, false);
    // The short-key table and the raw layout.
    uint32_t start = 0;
    uint8_t count = 0;
    if (d.GetShortKeyEntry(int(pick.Next(702)), &start, &count))
        for (uint32_t i = 0; i < count; ++i) d.GetShortKeyItem(start + i);
    uint32_t firstNode = 0;
    int32_t firstWord = 0;
    uint16_t mask = 0;
    int16_t skip = 0, id = 0;
    d.GetIndexEntry(pick.Next(n_sysDict::kIndexEntries + 1), &firstNode, &firstWord, &mask);
    d.GetNode(pick.Next(d.GetNodeCount() + 1), &skip, &id, &firstWord);
    RunGram(d.GetGram(), pick);
}

void RunStrokes(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_sysBhBsh d;
    if (!d.Load(image, size)) return;
    const uint32_t ch = pick.Next(2) ? 0x4E2D : 0x4E00 + pick.Next(0x5000);
    uint16_t ids[8];
    d.GetCharPinyinIds(ch, ids, 8);
    const int entry =
        pick.Next(2) ? d.FindCharIndex(ch) : int(pick.Next(uint32_t(d.GetCount()) + 2));
    d.GetEntryByIndex(entry);
    d.GetStrokeData(entry);
    std::wstring readings;
    d.GetReadingsText(entry, readings);
    d.GetCharReadingsText(ch, readings);
    int units = 0;
    const uint16_t* codes = nullptr;
    uint32_t tag = 0;
    if (d.GetCodeList(entry, &units, &codes, &tag))
        BhBshSkipToItem(codes, units, int(pick.Next(3)), &units);
    uint8_t strokes[2 + 2 * 64];
    d.GetStrokeCodes(ch, reinterpret_cast<t_lstr*>(strokes), sizeof strokes);
    d.GetConfigValue();
    // Stroke input, as typed.
    static const wchar_t kKeys[] = L"hspnz*'";
    std::wstring typed;
    for (uint32_t n = 1 + pick.Next(6); n > 0; --n) typed.push_back(kKeys[pick.Next(7)]);
    t_scopeHeap heap(t_scopeHeap::kDefaultBlockSize);
    t_candWord* found[16];
    d.SearchByInput(&heap, typed.c_str(), found, int(pick.Next(3)), 16);
    t_strokeMatcher matcher;
    matcher.Init(&d, typed.c_str());
    uint32_t matched = 0;
    matcher.MatchChar(ch, 0, &matched);
}

void RunTraditional(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_traDict d;
    if (!d.Load(image, size)) return;
    d.GetNodeSize();
    t_scopeHeap heap(t_scopeHeap::kDefaultBlockSize);
    t_units text;
    const uint16_t common[] = {0x5934, 0x53D1, 0x540E, 0x73B0, 0x56FD, 0x8FD9};
    for (uint32_t n = 1 + pick.Next(6); n > 0; --n)
        text.Push(pick.Next(2) ? common[pick.Next(6)] : uint16_t(0x4E00 + pick.Next(0x5000)));
    t_lstr* out = nullptr;
    d.MatchSuffix(&heap, &out, text.Get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzImageInit(Target());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static t_fuzzImage in;  // keeps its buffer: bases are megabytes
    if (!FuzzDecodeImage(data, size, Target(), in) || in.bytes.empty() ||
        in.bytes.size() > (64u << 20))
        return 0;
    t_fuzzPicker pick(data, size);
    t_fuzzReadOnlyImage image(in.bytes.data(), in.bytes.size());
    const int32_t n = int32_t(in.bytes.size());
    switch (in.variant) {
        case kSyllables:
            RunSyllables(image.Get(), n, pick);
            break;
        case kWords:
            RunWords(image.Get(), n, pick);
            break;
        case kStrokes:
            RunStrokes(image.Get(), n, pick);
            break;
        case kTraditional:
            RunTraditional(image.Get(), n, pick);
            break;
    }
    return 0;
}
