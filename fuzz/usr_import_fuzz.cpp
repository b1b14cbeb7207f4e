// Fuzzes the user-dictionary import path: format detection, the parsers of
// all three formats, and carrying the words into a dictionary.
// VETRA_FUZZ_SEED_DIR=<dir> writes a seed of each format there and exits
// (scripts/fuzz does). One thread; the dictionary lives for the process.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_validators.h"

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    std::memcpy(b.data() + at, &v, 4);
}

// A current-format image with a few words, and the first bytes of the two
// older formats (their magic numbers), from which the fuzzer grows the rest.
void WriteSeeds(const std::string& dir) {
    t_usrDictV3Core dict;
    if (dict.CreateEmpty(16)) {
        const uint8_t reading[] = {4, 0, 100, 0, 200, 0}, word[] = {4, 0, 0x2D, 0x4E, 0xFD, 0x56};
        dict.LearnWord(reinterpret_cast<const t_lstr*>(reading),
                       reinterpret_cast<const t_lstr*>(word), 0);
        const uint8_t* image = nullptr;
        uint64_t size = 0;
        if (dict.GetImageBytes(&image, &size)) FuzzWriteFile(dir + "/v3-small", image, size);
    }
    std::vector<uint8_t> v1(64, 0);
    Put32(v1, 0, kV1MagicA);
    FuzzWriteFile(dir + "/v1-header", v1.data(), v1.size());
    Put32(v1, 0, kV1MagicB);
    FuzzWriteFile(dir + "/v1b-header", v1.data(), v1.size());
    std::vector<uint8_t> v2(32 + kV2HeaderBytes, 0);
    Put32(v2, 32, kV2Magic);
    FuzzWriteFile(dir + "/v2-header", v2.data(), v2.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* dir = getenv("VETRA_FUZZ_SEED_DIR"); dir && *dir) {
        WriteSeeds(dir);
        exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int format = 0;
    if (!DetectUsrDictFormatBytes(data, size, &format)) return 0;
    t_scopeHeap arena;
    t_usrWordRecords words;
    if (!ParseUsrDictImage(data, size, format, arena, words)) return 0;
    static t_usrDictV3Core* dict = [] {
        auto* d = new t_usrDictV3Core();
        d->CreateEmpty(kUsrDefaultCapacity);
        return d;
    }();
    for (const UsrWordRecord* rec : words) {
        t_usrWordFields w;
        if (!ReadUsrWordRecord(rec, &w)) continue;
        if (format == kUsrFormatV2)
            dict->RestoreWord(w.reading, w.word, w.freq, w.flags, w.stamp, w.extra);
        else
            dict->MergeWord(w.reading, w.word, w.freq, w.flags, w.stamp);
    }
    // Start afresh now and then, so the dictionary does not only grow.
    if (dict->GetWordCount() > 5000) dict->CreateEmpty(kUsrDefaultCapacity);
    return 0;
}
