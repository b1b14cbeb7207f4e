// Character-boundary cuts and the panel's candidate encoding.
// Pure functions; any thread.
#include "src/fcitx/ime_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "porting3/crypto.h"

size_t Utf8PrefixBelow(const char* text, size_t length, size_t room) {
    if (!text || room == 0) return 0;
    if (length < room) return length;
    size_t cut = room - 1;
    // Step back over continuation bytes to the start of the cut character.
    while (cut > 0 && (uint8_t(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

void ScrambleBytes(uint8_t* bytes, size_t n, uint8_t mask) {
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = bytes[i], r = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (b & (1u << bit)) r |= uint8_t(0x80u >> bit);
        bytes[i] = uint8_t(r ^ mask);
    }
}

std::string EncodedCandidate(const char* text, int flag, const char* extra, uint8_t mask) {
    char flagText[16];
    const int flagLength = snprintf(flagText, sizeof flagText, "%d", flag);
    const size_t textLength = text ? strlen(text) : 0, extraLength = extra ? strlen(extra) : 0;
    std::string plain;
    plain.reserve(textLength + 1 + size_t(flagLength) + extraLength);
    plain.append(text ? text : "", textLength).push_back('\x1D');
    plain.append(flagText, size_t(flagLength)).append(extra ? extra : "", extraLength);
    if (plain.size() > size_t(INT32_MAX / 2)) return {};
    ScrambleBytes(reinterpret_cast<uint8_t*>(plain.data()), plain.size(), mask);
    const int64_t base64Length = n_porting::Base64EncodedSize(int32_t(plain.size()));
    char countText[24];
    const int countLength = snprintf(countText, sizeof countText, "%zu", plain.size());
    std::string out(size_t(countLength) + 1 + size_t(base64Length) + 1, '\0');
    memcpy(out.data(), countText, size_t(countLength));
    out[size_t(countLength)] = '\x1D';
    const int written = n_porting::Base64Encode(out.data() + countLength + 1,
                                                reinterpret_cast<const uint8_t*>(plain.data()),
                                                int32_t(plain.size()));
    out.resize(size_t(countLength) + 1 + size_t(written));
    return out;
}

char* EncodeCandidateString(const char* text, int flag, const char* extra, uint8_t mask) {
    const std::string encoded = EncodedCandidate(text, flag, extra, mask);
    if (encoded.empty()) return nullptr;
    char* out = static_cast<char*>(malloc(encoded.size() + 1));
    if (out) memcpy(out, encoded.c_str(), encoded.size() + 1);
    return out;
}
