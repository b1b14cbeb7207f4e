// Fuzzes the phrase-file reader: any bytes as a file (as given, and behind a
// UTF-16LE mark so most inputs reach the parser). A file in another encoding
// is refused; every entry handed out must obey the format's limits and fit a
// table item.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/phrase_file.h"

namespace {

struct t_seen {
    int entries = 0;
};

bool Check(const t_phraseEntry& e, void* context) {
    FUZZ_CHECK(e.key && e.phrase);
    const uint16_t keyUnits = LstrGetLength(e.key);
    FUZZ_CHECK(keyUnits >= 1 && keyUnits <= kPhraseKeyMaxLetters);
    for (uint16_t i = 0; i < keyUnits; ++i) {
        const uint16_t c = LstrGetUnit(e.key, i);
        FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
    }
    FUZZ_CHECK(e.position >= -kPhrasePositionLimit && e.position <= kPhrasePositionLimit);
    const uint16_t bytes = LstrGetByteLength(e.phrase);
    FUZZ_CHECK(bytes >= 2 && bytes <= 32767 && bytes % 2 == 0);
    // Read the whole phrase: an entry must be wholly readable.
    uint32_t sum = 0;
    for (uint16_t i = 0; i < LstrGetLength(e.phrase); ++i) sum += LstrGetUnit(e.phrase, i);
    (void)sum;
    auto* seen = static_cast<t_seen*>(context);
    ++seen->entries;
    return seen->entries < 4096;
}

void ReadAs(const std::string& path, const uint8_t* data, size_t size) {
    FuzzWriteFile(path, data, size);
    const std::wstring w(path.begin(), path.end());
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_seen seen;
    // Only an empty file or one with a UTF-16 mark (not the UTF-32LE one) is read;
    // any other file is refused whole and hands out nothing.
    const bool utf16 = size == 0 || (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) ||
                       (size >= 2 && data[0] == 0xFF && data[1] == 0xFE &&
                        !(size >= 4 && data[2] == 0 && data[3] == 0));
    FUZZ_CHECK(ReadPhrasesFile(arena, w.c_str(), &Check, &seen) == utf16);
    FUZZ_CHECK(utf16 || seen.entries == 0);
    // The array reader stops at its maximum.
    t_phraseEntry entries[3];
    const int n = ParsePhrasesToArray(arena, w.c_str(), entries, 3);
    FUZZ_CHECK(n >= 0 && n <= 3 && n <= seen.entries);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadAs(FuzzPath("raw.ini"), data, size);
    std::vector<uint8_t> marked = {0xFF, 0xFE};
    marked.insert(marked.end(), data, data + size);
    ReadAs(FuzzPath("marked.ini"), marked.data(), marked.size());
    return 0;
}
