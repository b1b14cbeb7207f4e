// Fuzzes the UTF-8 helpers of the engine: decoding with and without a byte
// length, character offsets and stepping, escaping and unescaping. Reads must
// stay inside the bytes given (the sanitizer sees every overrun: the texts sit
// in heap blocks of their exact size), walks must agree with each other, and
// an escaped text must unescape to the text again.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "src/engine/utf_helpers.h"

using namespace n_engine;

namespace {

// The text as the helpers see it: each character decoded, re-encoded.
std::string Reencoded(const char* text) {
    std::string out;
    for (int i = 0; text[i];) {
        char bytes[4];
        const int n = Utf8EncodeChar(bytes, Utf8DecodeChar(text, &i));
        out.append(bytes, size_t(n));
    }
    return out;
}

void CheckBoundedDecoding(const uint8_t* data, size_t size) {
    // No terminator: only the length bounds the reads.
    char* bytes = static_cast<char*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(bytes, data, size);
    std::vector<uint32_t> cps(size + 1);
    const int n = Utf8ToUtf32(cps.data(), int(cps.size()), bytes, int(size));
    FUZZ_CHECK(n >= 0 && size_t(n) <= size && cps[size_t(n)] == 0);
    if (n > 0) {
        int index = -1;
        FUZZ_CHECK(Utf8FindCharN(bytes, int(size), cps[0], &index) == bytes && index == 0);
    }
    std::vector<uint32_t> small(4);
    FUZZ_CHECK(Utf8ToUtf32(small.data(), 4, bytes, int(size)) <= 3);
    std::free(bytes);
}

void CheckTerminatedText(const char* text) {
    const int length = int(std::strlen(text));
    const int count = Utf8CharCount(text);
    FUZZ_CHECK(Utf8CharOffset(text, count) == length);
    FUZZ_CHECK(Utf8CharOffset(text, count + 5) == length);
    FUZZ_CHECK(Utf8CharIndex(text, length) == count);

    // Forward and backward walks visit the same number of starts.
    int steps = 0;
    for (int i = 0; i < length; ++steps) {
        const int before = i;
        Utf8NextChar(text, &i);
        FUZZ_CHECK(i > before && i <= length);
        FUZZ_CHECK(Utf8CharOffset(text, steps + 1) == i);
    }
    FUZZ_CHECK(steps == count);
    for (int i = length; i > 0;) {
        const int before = i;
        Utf8PrevChar(text, &i);
        FUZZ_CHECK(i < before && i >= 0);
    }

    // Whole-text decoding stops at the first cut sequence; what it gives back
    // encodes and decodes to itself.
    std::vector<uint32_t> cps(size_t(length) + 1);
    const int n = Utf8ToUtf32(cps.data(), int(cps.size()), text, -1);
    std::vector<uint32_t> valid;
    for (int i = 0; i < n; ++i)
        if (cps[size_t(i)] && cps[size_t(i)] < 0x110000) valid.push_back(cps[size_t(i)]);
    valid.push_back(0);
    std::string utf8(valid.size() * 4 + 1, '\0');
    FUZZ_CHECK(Utf32ToUtf8(utf8.data(), int(utf8.size()), valid.data(), -1) ==
               int(valid.size()) - 1);
    std::vector<uint32_t> again(valid.size() + 1);
    const int m = Utf8ToUtf32(again.data(), int(again.size()), utf8.c_str(), -1);
    FUZZ_CHECK(m == int(valid.size()) - 1);
    for (int i = 0; i < m; ++i) FUZZ_CHECK(again[size_t(i)] == valid[size_t(i)]);

    // Escaping, then unescaping, gives the text back (every character takes
    // at most ten bytes escaped and four unescaped).
    for (bool quote : {false, true}) {
        std::string escaped(size_t(count) * 10 + 1, '\0');
        const int e = EscapeUtf8String(escaped.data(), int(escaped.size()), text, quote);
        FUZZ_CHECK(e >= 0 && e < int(escaped.size()) && escaped[size_t(e)] == 0);
        std::string plain(size_t(count) * 4 + 1, '\0');
        const int p = UnescapeToUtf8(plain.data(), int(plain.size()), escaped.c_str());
        FUZZ_CHECK(std::string(plain.c_str(), size_t(p)) == Reencoded(text));
    }
    // Short buffers are filled, never overrun, and stay terminated.
    for (int size : {1, 2, 5, 11}) {
        std::vector<char> out(static_cast<size_t>(size), 1);
        int used = EscapeUtf8String(out.data(), size, text, true);
        FUZZ_CHECK(used < size && out[size_t(used)] == 0);
        used = UnescapeToUtf8(out.data(), size, text);
        FUZZ_CHECK(used < size && out[size_t(used)] == 0);
    }

    // The text read as escapes and as a locale name.
    uint32_t cp = 0;
    FUZZ_CHECK(ParseEscapeSequence(text, &cp) <= length);
    ParseLocaleCodeset(text);
    int index = -1;
    if (n > 0) FUZZ_CHECK(Utf8FindChar(text, cps[0], &index) == text && index == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckBoundedDecoding(data, size);
    char* text = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(text, data, size);
    text[size] = 0;
    CheckTerminatedText(text);
    std::free(text);
    return 0;
}
