// The printf engine of the platform layer: a state machine over the format's
// units, integer digits in a fixed area, floating text from the C library in
// the C locale.
#include "porting3/format16.h"

#include <locale.h>

#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include "porting3/str16.h"

namespace n_porting {

namespace {

enum : uint32_t {
    kSign = 1u << 0,
    kSpace = 1u << 1,
    kLeft = 1u << 2,
    kLeadZero = 1u << 3,
    kLong = 1u << 4,
    kShort = 1u << 5,
    kAlternate = 1u << 6,
    kNegative = 1u << 7,
    kWide = 1u << 8,
    kLongLong = 1u << 9,
    k64 = 1u << 10,
};

constexpr int kMaxPrecision = 512;

// Next state by class (rows) and current state (columns).
constexpr uint8_t kNextState[9][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0},  // other
    {1, 0, 0, 0, 0, 0, 0, 1},  // %
    {0, 4, 4, 4, 0, 0, 0, 0},  // .
    {0, 3, 3, 0, 5, 0, 0, 0},  // *
    {0, 2, 2, 3, 5, 5, 0, 0},  // 0
    {0, 3, 3, 3, 5, 5, 0, 0},  // 1-9
    {0, 2, 2, 0, 0, 0, 0, 0},  // flags
    {0, 6, 6, 6, 6, 6, 6, 0},  // sizes
    {0, 7, 7, 7, 7, 7, 7, 0},  // types
};

// The unit classes of the state machine: 1 '%', 2 '.', 3 '*', 4 '0', 5 '1'-'9',
// 6 flags, 7 sizes, 8 conversion types, 0 everything else.
int ClassOf(char16_t c) {
    if (c == u'%') return 1;
    if (c == u'.') return 2;
    if (c == u'*') return 3;
    if (c == u'0') return 4;
    if (c >= u'1' && c <= u'9') return 5;
    if (c > 127) return 0;
    const char b = char(c);
    if (b && std::string_view(" #+-").find(b) != std::string_view::npos) return 6;
    if (b && std::string_view("FILNhlw").find(b) != std::string_view::npos) return 7;
    if (b && std::string_view("ACEGSXZacdefginopsux").find(b) != std::string_view::npos) return 8;
    return 0;
}

int SaturatingDigit(int value, char16_t digit) {
    const int d = digit - u'0';
    if (value > (INT_MAX - d) / 10) return INT_MAX;
    return value * 10 + d;
}

// Writes units into the caller's buffer, or only counts them.
class t_sink {
public:
    t_sink(char16_t* base, size_t room) : m_base(base), m_room(room) {}

    void Put(char16_t c) {
        if (m_failed) return;
        if (m_base) {
            if (m_written >= m_room) {
                m_failed = true;
                return;
            }
            m_base[m_written++] = c;
        }
        Count(1);
    }
    void Repeat(char16_t c, int64_t n) {
        if (n <= 0) return;
        if (!m_base) {
            Count(uint64_t(n));
            return;
        }
        for (int64_t i = 0; i < n && !m_failed; ++i) Put(c);
    }
    void Fail() { m_failed = true; }
    bool Failed() const { return m_failed; }
    int64_t Produced() const { return int64_t(m_count); }

private:
    void Count(uint64_t n) {
        m_count += n;
        if (m_count > uint64_t(INT_MAX)) m_failed = true;
    }

    char16_t* m_base;
    size_t m_room;
    size_t m_written = 0;
    uint64_t m_count = 0;
    bool m_failed = false;
};

// Number of code page 936 characters in at most `limit` of them (-1: all),
// and the bytes they take.
size_t CountGbkChars(const char* s, int precision, size_t* bytes) {
    size_t chars = 0, i = 0;
    while (s[i] && (precision < 0 || chars < size_t(precision))) {
        i += (static_cast<uint8_t>(s[i]) & 0x80) && s[i + 1] ? 2 : 1;
        ++chars;
    }
    *bytes = i;
    return chars;
}

// Floating text for "%.<precision><type>" in the C locale, measured first so
// no magnitude or precision can overflow the buffer.
std::string FormatDouble(double v, int precision, char16_t type) {
    char format[16];
    std::snprintf(format, sizeof format, "%%.%d%c", precision, char(type));
    const locale_t old = uselocale(CNumericLocale());
    std::string text;
    const int n = std::snprintf(nullptr, 0, format, v);
    if (n > 0) {
        text.resize(size_t(n) + 1);
        std::snprintf(text.data(), text.size(), format, v);
        text.resize(size_t(n));
    }
    uselocale(old);
    return text;
}

// The point that '#' asks for when the precision is 0: after the digits of the
// mantissa, before the exponent ("3.", "3.e+00", "0x1.p+1"); "inf" and "nan"
// get none.
void AddDecimalPoint(std::string& text, char16_t type) {
    if (type != u'e' && type != u'E' && type != u'f' && type != u'a' && type != u'A') return;
    if (text.find_first_of("nN") != std::string::npos) return;  // "inf", "nan"
    size_t at = text.size();
    if (type != u'f') at = text.find_first_of(type == u'a' || type == u'A' ? "pP" : "eE");
    if (at == std::string::npos || at == 0) return;
    text.insert(at, 1, '.');
}

}  // namespace

int VswPrintf16(char16_t* buffer, size_t capacity, const char16_t* format, va_list argsIn) {
    if ((!buffer && capacity != 0) || !format) return -1;
    t_sink sink(buffer, capacity);
    va_list args;
    va_copy(args, argsIn);

    int state = 0;
    uint32_t flags = 0;
    int width = 0, precision = -1;
    for (const char16_t* p = format; *p && !sink.Failed(); ++p) {
        const char16_t c = *p;
        state = kNextState[ClassOf(c)][state];
        switch (state) {
            case 0:
                sink.Put(c);
                break;
            case 1:
                flags = 0;
                width = 0;
                precision = -1;
                break;
            case 2:
                if (c == u' ')
                    flags |= kSpace;
                else if (c == u'#')
                    flags |= kAlternate;
                else if (c == u'+')
                    flags |= kSign;
                else if (c == u'-')
                    flags |= kLeft;
                else if (c == u'0')
                    flags |= kLeadZero;
                break;
            case 3:
                if (c == u'*') {
                    const int w = va_arg(args, int);
                    if (w < 0) {
                        flags |= kLeft;
                        width = w == INT_MIN ? INT_MAX : -w;
                    } else {
                        width = w;
                    }
                } else {
                    width = SaturatingDigit(width, c);
                }
                break;
            case 4:
                precision = 0;
                break;
            case 5:
                if (c == u'*') {
                    precision = va_arg(args, int);
                    if (precision < 0) precision = -1;
                } else {
                    precision = SaturatingDigit(precision, c);
                }
                break;
            case 6:
                if (c == u'h') {
                    flags |= kShort;
                } else if (c == u'l') {
                    if (p[1] == u'l') {
                        flags |= kLongLong;
                        ++p;
                    } else {
                        flags |= kLong;
                    }
                } else if (c == u'w') {
                    flags |= kWide;
                } else if (c == u'I') {
                    flags |= k64;
                    if (p[1] == u'6' && p[2] == u'4') {
                        p += 2;
                    } else if (p[1] == u'3' && p[2] == u'2') {
                        flags &= ~k64;
                        p += 2;
                    } else if (!(p[1] && std::u16string_view(u"dioxXu").find(p[1]) !=
                                             std::u16string_view::npos)) {
                        sink.Put(c);
                        state = 0;
                    }
                }
                break;
            case 7: {
                char16_t type = c;
                const char16_t* text16 = nullptr;  // the converted value, 16-bit
                const char* textBytes = nullptr;   // or code page 936 bytes
                size_t textLength = 0;             // units, or characters of textBytes
                size_t byteLength = 0;
                char16_t unit = 0;
                char16_t prefix[2];
                int prefixLength = 0;
                char digits[kMaxPrecision + 8];
                std::string floating;
                bool output = true;
                switch (type) {
                    case u'C':
                        if (!(flags & (kShort | kLong | kWide))) flags |= kShort;
                        [[fallthrough]];
                    case u'c': {
                        const int v = va_arg(args, int);
                        text16 = &unit;
                        if (!(flags & kShort)) {
                            unit = char16_t(v);
                            textLength = 1;
                        } else {
                            const char byte[2] = {char(v), 0};
                            if (byte[0] == 0)
                                textLength = 1;
                            else
                                textLength = MbToWc16(&unit, byte) == 1 ? 1 : 0;
                        }
                        break;
                    }
                    case u'S':
                        if (!(flags & (kShort | kLong | kWide))) flags |= kShort;
                        [[fallthrough]];
                    case u's':
                        if (flags & kShort) {
                            textBytes = va_arg(args, const char*);
                            if (!textBytes) textBytes = "(null)";
                            textLength = CountGbkChars(textBytes, precision, &byteLength);
                        } else {
                            text16 = va_arg(args, const char16_t*);
                            if (!text16) text16 = u"(null)";
                            textLength =
                                WcsNLen16(text16, precision < 0 ? SIZE_MAX : size_t(precision));
                        }
                        break;
                    case u'Z': {
                        const auto* record = va_arg(args, const t_countedString*);
                        if (!record || !record->buffer) {
                            text16 = u"(null)";
                            textLength = 6;
                        } else if (flags & kWide) {
                            text16 = static_cast<const char16_t*>(record->buffer);
                            textLength = record->length / 2;
                        } else {
                            textBytes = static_cast<const char*>(record->buffer);
                            byteLength = record->length;
                            textLength = 0;
                            for (size_t i = 0; i < byteLength; ++textLength)
                                i += (static_cast<uint8_t>(textBytes[i]) & 0x80) &&
                                             i + 1 < byteLength
                                         ? 2
                                         : 1;
                        }
                        break;
                    }
                    case u'd':
                    case u'i':
                    case u'u':
                    case u'o':
                    case u'x':
                    case u'X':
                    case u'p': {
                        const bool isSigned = type == u'd' || type == u'i';
                        uint64_t v;
                        if (type == u'p') {
                            flags |= k64;
                            precision = 16;
                            v = reinterpret_cast<uintptr_t>(va_arg(args, void*));
                            type = u'X';
                        } else if (flags & (k64 | kLongLong)) {
                            const long long raw = va_arg(args, long long);
                            v = uint64_t(raw);
                            if (isSigned && raw < 0) {
                                flags |= kNegative;
                                v = uint64_t(0) - v;
                            }
                        } else if (flags & kShort) {
                            const int raw = va_arg(args, int);
                            const int16_t s = int16_t(raw);
                            v = isSigned ? uint64_t(int64_t(s)) : uint16_t(raw);
                            if (isSigned && s < 0) {
                                flags |= kNegative;
                                v = uint64_t(-int64_t(s));
                            }
                        } else {
                            const int raw = va_arg(args, int);
                            v = isSigned ? uint64_t(int64_t(raw)) : uint32_t(raw);
                            if (isSigned && raw < 0) {
                                flags |= kNegative;
                                v = uint64_t(-int64_t(raw));
                            }
                        }
                        int digitsWanted = 1;
                        if (precision >= 0) {
                            flags &= ~kLeadZero;
                            digitsWanted = precision > kMaxPrecision ? kMaxPrecision : precision;
                        }
                        const unsigned radix = type == u'o'                     ? 8
                                               : (type == u'x' || type == u'X') ? 16
                                                                                : 10;
                        const char* alphabet =
                            type == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
                        if ((type == u'x' || type == u'X') && (flags & kAlternate) && v != 0) {
                            prefix[0] = u'0';
                            prefix[1] = type;
                            prefixLength = 2;
                        }
                        char* end = digits + sizeof digits;
                        char* q = end;
                        while ((digitsWanted-- > 0 || v != 0) && q > digits + 1) {
                            *--q = alphabet[v % radix];
                            v /= radix;
                        }
                        if (type == u'o' && (flags & kAlternate) && (q == end || *q != '0'))
                            *--q = '0';
                        textBytes = q;
                        byteLength = textLength = size_t(end - q);
                        if (isSigned) {
                            if (flags & kNegative)
                                prefix[prefixLength++] = u'-';
                            else if (flags & kSign)
                                prefix[prefixLength++] = u'+';
                            else if (flags & kSpace)
                                prefix[prefixLength++] = u' ';
                        }
                        break;
                    }
                    case u'e':
                    case u'E':
                    case u'f':
                    case u'g':
                    case u'G':
                    case u'a':
                    case u'A': {
                        const double v = va_arg(args, double);
                        const bool given = precision >= 0;
                        int prec = given ? precision : 6;
                        if (prec == 0 && (type == u'g' || type == u'G')) prec = 1;
                        if (prec > kMaxPrecision) prec = kMaxPrecision;
                        floating = FormatDouble(v, prec, type);
                        if ((flags & kAlternate) && given && precision == 0)
                            AddDecimalPoint(floating, type);
                        size_t start = 0;
                        if (!floating.empty() && floating[0] == '-') {
                            flags |= kNegative;
                            start = 1;
                        }
                        textBytes = floating.c_str() + start;
                        byteLength = textLength = floating.size() - start;
                        if (flags & kNegative)
                            prefix[prefixLength++] = u'-';
                        else if (flags & kSign)
                            prefix[prefixLength++] = u'+';
                        else if (flags & kSpace)
                            prefix[prefixLength++] = u' ';
                        break;
                    }
                    case u'n':
                        (void)va_arg(args, void*);
                        output = false;
                        break;
                    default:
                        output = false;
                        break;
                }
                if (!output) break;
                const int64_t pad = int64_t(width) - int64_t(textLength) - prefixLength;
                if (!(flags & (kLeft | kLeadZero))) sink.Repeat(u' ', pad);
                for (int i = 0; i < prefixLength; ++i) sink.Put(prefix[i]);
                if ((flags & kLeadZero) && !(flags & kLeft)) sink.Repeat(u'0', pad);
                if (textBytes) {
                    for (size_t i = 0; i < byteLength && !sink.Failed();) {
                        char pair[3] = {textBytes[i],
                                        i + 1 < byteLength ? textBytes[i + 1] : char(0), 0};
                        char16_t u;
                        const int used = MbToWc16(&u, pair);
                        if (used < 1) {
                            sink.Fail();
                            break;
                        }
                        sink.Put(u);
                        i += size_t(used);
                    }
                } else {
                    for (size_t i = 0; i < textLength && !sink.Failed(); ++i) sink.Put(text16[i]);
                }
                if (flags & kLeft) sink.Repeat(u' ', pad);
                break;
            }
        }
    }
    va_end(args);
    if (sink.Failed()) return -1;
    const int64_t produced = sink.Produced();
    if (buffer) {
        sink.Put(0);  // the terminator needs room as well
        if (sink.Failed()) return -1;
    }
    return int(produced);
}

int SwPrintf16(char16_t* buffer, size_t capacity, const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = VswPrintf16(buffer, capacity, format, args);
    va_end(args);
    return n;
}

}  // namespace n_porting
