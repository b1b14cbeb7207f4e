// UTF-8 decoding, encoding, stepping, escapes and the locale's code set.
// No shared state: any thread.
#include "src/engine/utf_helpers.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace n_engine {
namespace {

// What the six-bit accumulation of an n-byte sequence adds beyond the code
// point: the lead byte's marker bits and those of each continuation byte.
constexpr uint32_t kSeqOffsets[6] = {0, 0x3080, 0xE2080, 0x3C82080, 0xFA082080, 0x82082080};

bool IsContinuation(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

struct t_seq {
    int bytes = 0;          // bytes of the sequence that are present (at least 1)
    bool complete = false;  // every continuation byte was there
    uint32_t cp = 0;        // meaningful when complete
};

// Reads the sequence at s[i] (not the NUL). `limit` is the byte length of the
// text, -1 when only its NUL ends it; a continuation byte is read only when it
// lies before the limit and really is one, so neither the NUL nor the limit is
// ever passed.
t_seq ReadSeq(const uint8_t* s, int i, int limit) {
    const int need = Utf8SeqLength(s[i]);
    t_seq seq;
    seq.bytes = 1;
    uint32_t cp = s[i];
    while (seq.bytes < need && (limit < 0 || i + seq.bytes < limit) &&
           IsContinuation(s[i + seq.bytes])) {
        cp = (cp << 6) + s[i + seq.bytes];
        ++seq.bytes;
    }
    seq.complete = seq.bytes == need;
    seq.cp = cp - kSeqOffsets[seq.bytes - 1];
    return seq;
}

const uint8_t* Bytes(const char* text) {
    return reinterpret_cast<const uint8_t*>(text);
}

}  // namespace

int Utf8SeqLength(uint8_t first) {
    if (first < 0xC0) return 1;
    if (first < 0xE0) return 2;
    if (first < 0xF0) return 3;
    if (first < 0xF8) return 4;
    if (first < 0xFC) return 5;
    if (first < 0xFE) return 6;
    return 1;
}

int Utf8ToUtf32(uint32_t* out, int capacity, const char* text, int length) {
    if (!out || capacity < 1) return 0;
    int written = 0;
    if (text) {
        const uint8_t* s = Bytes(text);
        int i = 0;
        while (written < capacity - 1 && (length < 0 || i < length) && s[i]) {
            const t_seq seq = ReadSeq(s, i, length);
            if (!seq.complete) break;
            out[written++] = seq.cp;
            i += seq.bytes;
        }
    }
    out[written] = 0;
    return written;
}

int Utf8EncodeChar(char* out, uint32_t cp) {
    auto* o = reinterpret_cast<uint8_t*>(out);
    if (cp < 0x80) {
        o[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        o[0] = uint8_t(0xC0 | (cp >> 6));
        o[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        o[0] = uint8_t(0xE0 | (cp >> 12));
        o[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        o[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp < 0x110000) {
        o[0] = uint8_t(0xF0 | (cp >> 18));
        o[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
        o[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        o[3] = uint8_t(0x80 | (cp & 0x3F));
        return 4;
    }
    return 0;
}

int Utf32ToUtf8(char* out, int size, const uint32_t* codePoints, int count) {
    if (!out || size < 1 || !codePoints) return 0;
    int consumed = 0;
    int used = 0;
    for (; count < 0 ? codePoints[consumed] != 0 : consumed < count; ++consumed) {
        char bytes[4];
        const int n = Utf8EncodeChar(bytes, codePoints[consumed]);
        if (n > size - used) break;
        std::memcpy(out + used, bytes, size_t(n));
        used += n;
    }
    if (used < size) out[used] = 0;
    return consumed;
}

int Utf8CharOffset(const char* text, int n) {
    if (!text || n < 1) return 0;
    int i = 0;
    for (int k = 0; k < n && text[i]; ++k) Utf8NextChar(text, &i);
    return i;
}

int Utf8CharIndex(const char* text, int offset) {
    if (!text) return 0;
    int count = 0;
    for (int i = 0; i < offset && text[i]; ++count) Utf8NextChar(text, &i);
    return count;
}

uint32_t Utf8DecodeChar(const char* text, int* index) {
    if (!text || !index || *index < 0 || !text[*index]) return 0;
    const t_seq seq = ReadSeq(Bytes(text), *index, -1);
    *index += seq.bytes;
    return seq.complete ? seq.cp : 0xFFFD;
}

int Utf8CharCount(const char* text) {
    if (!text) return 0;
    int count = 0;
    for (int i = 0; text[i]; ++count) Utf8NextChar(text, &i);
    return count;
}

void Utf8NextChar(const char* text, int* index) {
    if (!text || !index || *index < 0 || !text[*index]) return;
    *index += ReadSeq(Bytes(text), *index, -1).bytes;
}

void Utf8PrevChar(const char* text, int* index) {
    if (!text || !index || *index <= 0) return;
    const uint8_t* s = Bytes(text);
    int i = *index - 1;
    // A sequence has at most five continuation bytes after its lead.
    for (int k = 0; k < 5 && i > 0 && IsContinuation(s[i]); ++k) --i;
    *index = i;
}

bool IsOctalDigit(int c) {
    return c >= '0' && c <= '7';
}

bool IsHexDigit(int c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

}  // namespace

int ParseEscapeSequence(const char* text, uint32_t* cp) {
    uint32_t value = '\\';
    int used = 0;
    if (text && text[0]) {
        static constexpr char kLetters[] = "ntrbfva";
        static constexpr uint8_t kControls[] = {10, 9, 13, 8, 12, 11, 7};
        const char c = text[0];
        const char* letter = std::strchr(kLetters, c);
        int hexDigits = c == 'x' ? 2 : c == 'u' ? 4 : c == 'U' ? 8 : 0;
        if (letter) {
            value = kControls[letter - kLetters];
            used = 1;
        } else if (IsOctalDigit(c)) {
            value = 0;
            while (used < 3 && IsOctalDigit(text[used]))
                value = value * 8 + uint32_t(text[used++] - '0');
        } else if (hexDigits && IsHexDigit(text[1])) {
            value = 0;
            used = 1;
            while (hexDigits-- > 0 && IsHexDigit(text[used]))
                value = (value << 4) | uint32_t(HexValue(text[used++]));
        } else {
            value = Utf8DecodeChar(text, &used);
        }
    }
    if (cp) *cp = value;
    return used;
}

int UnescapeToUtf8(char* out, int size, const char* text) {
    if (!out || size < 1) return 0;
    int used = 0;
    for (int i = 0; text && text[i];) {
        uint32_t cp;
        if (text[i] == '\\') {
            const int n = ParseEscapeSequence(text + i + 1, &cp);
            i += 1 + n;
        } else {
            cp = Utf8DecodeChar(text, &i);
        }
        char bytes[4];
        const int n = Utf8EncodeChar(bytes, cp);
        if (n >= size - used) break;  // keeps room for the terminator
        std::memcpy(out + used, bytes, size_t(n));
        used += n;
    }
    out[used] = 0;
    return used;
}

int EscapeCodePoint(char* out, int size, uint32_t cp) {
    if (!out || size < 1) return 0;
    char text[16];
    switch (cp) {
        case '\n':
            std::strcpy(text, "\\n");
            break;
        case '\t':
            std::strcpy(text, "\\t");
            break;
        case '\r':
            std::strcpy(text, "\\r");
            break;
        case '\b':
            std::strcpy(text, "\\b");
            break;
        case '\f':
            std::strcpy(text, "\\f");
            break;
        case '\v':
            std::strcpy(text, "\\v");
            break;
        case '\a':
            std::strcpy(text, "\\a");
            break;
        case '\\':
            std::strcpy(text, "\\\\");
            break;
        default:
            // Always two hex digits: a hex digit that follows in the text is
            // then never read back as part of the escape.
            if (cp < 32 || cp == 127)
                std::snprintf(text, sizeof text, "\\x%.2hhX", static_cast<unsigned char>(cp));
            else if (cp > 0xFFFF)
                std::snprintf(text, sizeof text, "\\U%.8X", cp);
            else if (cp >= 128)
                std::snprintf(text, sizeof text, "\\u%.4hX", static_cast<unsigned short>(cp));
            else
                text[0] = char(cp), text[1] = 0;
    }
    const size_t n = std::strlen(text);
    if (n >= size_t(size)) {
        out[0] = 0;
        return 0;
    }
    std::memcpy(out, text, n + 1);
    return int(n);
}

int EscapeUtf8String(char* out, int size, const char* text, bool quote) {
    if (!out || size < 1) return 0;
    int used = 0;
    out[0] = 0;
    for (int i = 0; text && text[i];) {
        const uint32_t cp = Utf8DecodeChar(text, &i);
        int n;
        if (quote && cp == '"') {
            if (size - used < 3) break;
            std::memcpy(out + used, "\\\"", 3);
            n = 2;
        } else {
            n = EscapeCodePoint(out + used, size - used, cp);
            if (n == 0) break;
        }
        used += n;
    }
    return used;
}

const char* Utf8FindChar(const char* text, uint32_t cp, int* index) {
    return Utf8FindCharN(text, -1, cp, index);
}

const char* Utf8FindCharN(const char* text, int length, uint32_t cp, int* index) {
    if (!text) return nullptr;
    const uint8_t* s = Bytes(text);
    for (int i = 0, k = 0; (length < 0 || i < length) && s[i]; ++k) {
        const t_seq seq = ReadSeq(s, i, length);
        if (seq.complete && seq.cp == cp) {
            if (index) *index = k;
            return text + i;
        }
        i += seq.bytes;
    }
    return nullptr;
}

bool ParseLocaleCodeset(const char* locale) {
    const char* dot = locale ? std::strchr(locale, '.') : nullptr;
    if (!dot) return false;
    const char* set = dot + 1;
    const size_t n = std::strcspn(set, "@+,");
    return (n == 4 && std::strncmp(set, "utf8", 4) == 0) ||
           (n == 5 && std::strncmp(set, "UTF-8", 5) == 0);
}

void DebugPrintWide(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    uint32_t cps[512];
    const int n = Utf8ToUtf32(cps, 512, text, -1);
    wchar_t wide[512];
    for (int i = 0; i <= n; ++i) wide[i] = wchar_t(cps[i]);
    std::fprintf(stderr, "%ls", wide);
}

void DebugPrintf(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fputs(text, stderr);
}

}  // namespace n_engine
