// Fuzzes the user dictionary's image: attached in place as the dictionary
// manager hands it over (storage kind 4), as a private copy, read from its
// file (whose save patches the file in place), or expanded from a compact
// backup; then the lookups, one learned and one deleted
// word, and a save into the work directory. A save that reports success
// must leave a file that attaches again and still holds the learned word.
// Every placement and save runs on a private work directory; one thread.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/image_fuzz.h"
#include "kernel/runtime/lstr.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_validators.h"

namespace {

enum : int { kInPlace = 0, kCopy = 1, kCompact = 2, kFile = 3, kVariants = 4 };

// A length-prefixed string of units in its own buffer.
struct t_units {
    uint8_t bytes[2 + 2 * 64] = {};
    t_units() = default;
    t_units(std::initializer_list<uint16_t> units) {
        for (uint16_t u : units) Push(u);
    }
    void Push(uint16_t u) {
        const uint16_t n = LstrGetByteLength(Get());
        if (n >= 2 * 64) return;
        std::memcpy(bytes + 2 + n, &u, 2);
        LstrSetByteLength(Get(), uint16_t(n + 2));
    }
    t_lstr* Get() { return reinterpret_cast<t_lstr*>(bytes); }
};

void MakeImages(std::vector<t_fuzzBase>& out) {
    t_usrDictV3Core dict;
    if (!dict.CreateEmpty(16)) return;
    struct {
        t_units reading, word;
    } words[] = {
        {{100, 200}, {0x4E2D, 0x56FD}},
        {{100}, {0x4E2D}},
        {{100, 200, 300}, {0x4E2D, 0x56FD, 0x4EBA}},
        {{5, 6}, {0x4F60, 0x597D}},
        {{5, 6}, {0x62DF, 0x53F7}},
    };
    for (auto& w : words) dict.LearnWord(w.reading.Get(), w.word.Get(), 0);
    dict.DeleteWord(words[4].reading.Get(), words[4].word.Get());
    const uint8_t* image = nullptr;
    uint64_t size = 0;
    if (!dict.GetImageBytes(&image, &size)) return;
    const t_fuzzBytes bytes(image, image + size);
    out.push_back({kInPlace, "usr-small", bytes});
    out.push_back({kCopy, "usr-small-copy", bytes});
    out.push_back({kFile, "usr-small-file", bytes});
    const std::wstring path = FuzzWidePath("compact.bin");
    t_fuzzBytes compact;
    if (dict.SaveCompactTemp(path.c_str()) &&
        n_fuzzImage::ReadAll(FuzzPath("compact.bin"), compact))
        out.push_back({kCompact, "usr-small-compact", compact});
    t_usrDictV3Core empty;
    if (empty.CreateEmpty(kUsrDefaultCapacity) && empty.GetImageBytes(&image, &size))
        out.push_back({kInPlace, "usr-default-empty", t_fuzzBytes(image, image + size)});
    FuzzClearWorkDir();
}

const t_fuzzTarget& Target() {
    static const t_fuzzTarget target = {kVariants, &MakeImages, {}};
    return target;
}

void Lookups(t_usrDictV3Core& dict, t_fuzzPicker& pick) {
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    dict.CollectItems(pairs);
    uint8_t text[2 + 260];
    size_t n = 0;
    for (const auto& pair : pairs) {
        if (++n > 64) break;
        const t_lstr* reading = nullptr;
        t_usrWordAttr attr;
        if (!dict.ReadPair(pair, &reading, &attr)) continue;
        dict.GetWordText(attr.textId, attr.checksum, reinterpret_cast<t_lstr*>(text));
        int longer = 0;
        const int32_t group = dict.Find(reading, &longer);
        uint32_t ids[8];
        uint16_t flags[8], sums[8], freqs[8], extras[8];
        uint32_t stamps[8], weights[8];
        dict.GetEntries(group, ids, flags, sums, freqs, stamps, extras, 8);
        dict.GetWords(0, group, ids, flags, sums, freqs, stamps, weights, extras, 8);
        int32_t groups[4];
        const t_lstr* keys[4];
        int count = 0;
        dict.FindAll(reading, groups, keys, 4, &count);
    }
    t_units reading;
    for (uint32_t i = 1 + pick.Next(4); i > 0; --i)
        reading.Push(uint16_t(pick.Next(kPinyinIdLimit)));
    int longer = 0;
    const int32_t group = dict.Find(reading.Get(), &longer);
    uint32_t ids[8];
    dict.GetEntries(group, ids, nullptr, nullptr, nullptr, nullptr, nullptr, 8);
    t_units part1{0x4E2D}, part2{0x56FD};
    int32_t g = 0;
    uint16_t f = 0, e = 0;
    dict.FindUsrDictWordForAssoc(reading.Get(), part1.Get(), part2.Get(), &g, &f, &e);
    std::vector<t_usrContinuation> rests;
    dict.CollectWordContinuations(reading.Get(), part1.Get(), reading.Get(), rests);
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
    t_usrDictV3Core dict;
    std::unique_ptr<uint8_t[]> block;
    std::vector<uint8_t> region;
    bool loaded = false;
    if (in.variant == kInPlace) {
        block = FuzzHeapImage(in.bytes,
                              dict.GetReservedSize(in.bytes.data(), int32_t(in.bytes.size())));
        loaded = dict.Load(block.get(), int32_t(in.bytes.size()));
    } else if (in.variant == kCopy) {
        loaded = dict.AttachCopy(in.bytes.data(), in.bytes.size());
    } else if (in.variant == kFile) {
        // Read from its file, the dictionary patches only its changes into
        // that file when it saves.
        FuzzWriteFile(FuzzPath("usr.bin"), in.bytes.data(), in.bytes.size());
        loaded = dict.AttachFile(FuzzWidePath("usr.bin").c_str());
    } else {
        region.assign(1 << 16, 0);
        loaded = dict.LoadCompact(in.bytes.data(), in.bytes.size(),
                                  pick.Next(2) ? region.data() : nullptr, region.size());
    }
    if (!loaded) return 0;
    dict.Validate();
    dict.SetupWeightCurve(pick.Next(8));
    Lookups(dict, pick);

    // One deleted word and one learned one.
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (dict.CollectItems(pairs) && !pairs.empty()) {
        const t_lstr* r = nullptr;
        t_usrWordAttr attr;
        uint8_t text[2 + 260];
        const auto& victim = pairs[pick.Next(uint32_t(pairs.size()))];
        if (dict.ReadPair(victim, &r, &attr) && r != nullptr &&
            dict.GetWordText(attr.textId, attr.checksum, reinterpret_cast<t_lstr*>(text))) {
            // Copy first: the delete may move what r points into.
            uint8_t readingCopy[2 + 260];
            if (LstrGetTotalBytes(r) <= sizeof readingCopy) {
                std::memcpy(readingCopy, r, LstrGetTotalBytes(r));
                dict.DeleteWord(reinterpret_cast<t_lstr*>(readingCopy),
                                reinterpret_cast<t_lstr*>(text));
            }
        }
    }
    // One learned word (after the delete, so that it cannot be the one deleted).
    t_units reading, word;
    for (uint32_t i = 1 + pick.Next(3); i > 0; --i) {
        reading.Push(uint16_t(pick.Next(413)));
        word.Push(uint16_t(0x4E00 + pick.Next(0x5000)));
    }
    // Now and then enough words to fill the small seeds, so that growth and
    // trimming run on the damaged images too.
    for (uint32_t i = pick.Next(4) == 0 ? pick.Next(40) : 0; i > 0; --i) {
        t_units r, w;
        for (uint32_t n = 1 + pick.Next(3); n > 0; --n) {
            r.Push(uint16_t(pick.Next(413)));
            w.Push(uint16_t(0x4E00 + pick.Next(0x5000)));
        }
        dict.LearnWord(r.Get(), w.Get(), 0);
    }
    dict.LearnWord(reading.Get(), word.Get(), uint16_t(pick.Next(4)));
    // A damaged image may hide a word in a bucket out of order; a save must
    // not lose one that was found.
    t_usrWordAttr attr;
    const bool before = dict.GetWordRecord(reading.Get(), word.Get(), &attr) && attr.freq > 0;
    const std::wstring path = FuzzWidePath("usr.bin");
    if (dict.SaveToFile(path.c_str(), int(pick.Next(2)))) {
        t_usrDictV3Core again;
        FUZZ_CHECK(again.AttachFile(path.c_str()));
        FUZZ_CHECK(!before || again.GetWordRecord(reading.Get(), word.Get(), nullptr));
    }
    FuzzClearWorkDir();
    return 0;
}
