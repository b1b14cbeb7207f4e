// libFuzzer target of the user-dictionary import path: format detection,
// the parsers of all three formats, and carrying the words into a dictionary.
// Not part of the unit tests; build with clang, for example:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     tests/kernel/userdict/usr_import_fuzz.cpp kernel/userdict/usr_dict_file_ops.cpp \
//     kernel/userdict/usr_dict_v3.cpp kernel/userdict/usr_learn.cpp \
//     kernel/userdict/usr_scramble.cpp kernel/userdict/usr_validators.cpp \
//     kernel/userdict/usr_text_io.cpp kernel/lexicon/*.cpp \
//     kernel/storage/*.cpp kernel/runtime/*.cpp -lpthread -o usr_import_fuzz
//   ./usr_import_fuzz -max_total_time=300 -max_len=16384 corpus
// Seed the corpus with files of each format (the test writers of
// usr_support.h make them).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "kernel/userdict/usr_dict_v3.h"

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
