// Chinese numerals, digit spelling, thousands separators and Roman numerals.
// No shared state: every function works on the caller's data.
#include "kernel/convert/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr wchar_t kSimpleDigits[] = L"〇一二三四五六七八九";
constexpr wchar_t kFormalDigits[] = L"零壹贰叁肆伍陆柒捌玖";
// Units by unit index 1 to 8 (index 0, the ones place, is never written).
constexpr wchar_t kSimpleUnits[] = L"个十百千万十百千亿";
constexpr wchar_t kFormalUnits[] = L"个拾佰仟万拾佰仟亿";
constexpr wchar_t kZero = L'零';
constexpr int kTenThousandIndex = 4;
constexpr int kHundredMillionIndex = 8;

bool AllDigits(const wchar_t* digits, size_t count) {
    if (!digits || count == 0) return false;
    for (size_t i = 0; i < count; ++i)
        if (digits[i] < L'0' || digits[i] > L'9') return false;
    return true;
}

// The unit index of the digit at power p of ten: 1 to 8 for p >= 1, 0 for p = 0.
int UnitIndex(size_t p) {
    return p == 0 ? 0 : int((p - 1) % 8) + 1;
}

wchar_t* ToArena(t_scopeHeap& arena, const std::wstring& text) {
    return arena.DupWideN(text.data(), text.size());
}

}  // namespace

bool AppendChineseNumeral(std::wstring& out, const wchar_t* digits, size_t count,
                          bool keepLeadingOne, bool simple) {
    if (!AllDigits(digits, count)) return false;
    const wchar_t* digitChars = simple ? kSimpleDigits : kFormalDigits;
    const wchar_t* units = simple ? kSimpleUnits : kFormalUnits;
    std::wstring text;
    size_t first = 0;
    if (digits[0] == L'0') {
        text += digitChars[0];
        while (first < count && digits[first] == L'0') ++first;
        if (first == count) {
            out += text;
            return true;
        }
    }
    bool previousZero = false;
    // The highest 万 or 亿 index written since the last non-zero digit (its own
    // unit counts): a zero on a 万 or 亿 place writes its unit only when no
    // higher one stands there, so 1000000000 reads 十亿 and 10^12 一万亿.
    int highestBigUnit = 0;
    for (size_t i = first; i < count; ++i) {
        const int d = digits[i] - L'0';
        const size_t p = count - 1 - i;
        const int unit = UnitIndex(p);
        if (d != 0) {
            if (previousZero) text += kZero;
            const bool tenPlace = unit == 1 || unit == 5;
            if (!(d == 1 && i == first && tenPlace && !keepLeadingOne)) text += digitChars[d];
            highestBigUnit = 0;
            if (unit != 0) {
                text += units[unit];
                if (unit == kTenThousandIndex || unit == kHundredMillionIndex)
                    highestBigUnit = unit;
            }
        } else if ((unit == kTenThousandIndex || unit == kHundredMillionIndex) &&
                   highestBigUnit <= unit) {
            text += units[unit];
            highestBigUnit = unit;
        }
        previousZero = d == 0;
    }
    if (text.empty()) text += kZero;
    out += text;
    return true;
}

bool AppendChineseDigits(std::wstring& out, const wchar_t* digits, size_t count, bool simple) {
    if (!AllDigits(digits, count)) return false;
    const wchar_t* digitChars = simple ? kSimpleDigits : kFormalDigits;
    for (size_t i = 0; i < count; ++i) out += digitChars[digits[i] - L'0'];
    return true;
}

wchar_t* DigitsToChineseNumerals(t_scopeHeap& arena, const wchar_t* digits, size_t count,
                                 bool keepLeadingOne, bool simple) {
    std::wstring text;
    if (!AppendChineseNumeral(text, digits, count, keepLeadingOne, simple)) return nullptr;
    return ToArena(arena, text);
}

wchar_t* DigitsToChineseDigits(t_scopeHeap& arena, const wchar_t* digits, size_t count,
                               bool simple) {
    std::wstring text;
    if (!AppendChineseDigits(text, digits, count, simple)) return nullptr;
    return ToArena(arena, text);
}

bool FormatThousands(std::wstring& out, const wchar_t* text, size_t count) {
    if (!text) return false;
    size_t intEnd = 0;
    while (intEnd < count && text[intEnd] >= L'0' && text[intEnd] <= L'9') ++intEnd;
    if (intEnd < count) {
        const size_t fraction = count - intEnd - 1;
        if (text[intEnd] != L'.' || (fraction > 0 && !AllDigits(text + intEnd + 1, fraction)))
            return false;
    }
    size_t first = 0;
    while (first < intEnd && text[first] == L'0') ++first;
    const size_t digits = intEnd - first;
    if (digits < 4) return false;
    std::wstring result;
    const size_t head = (digits - 1) % 3 + 1;
    result.append(text + first, head);
    for (size_t i = first + head; i < intEnd; i += 3) {
        result += L',';
        result.append(text + i, 3);
    }
    result.append(text + intEnd, count - intEnd);
    out += result;
    return true;
}

bool FormatRoman(std::wstring& out, int value) {
    if (value < 1 || value > 99) return false;
    // Per place, highest first: the entries of thresholds 9, 5, 4 and 1.
    static const wchar_t* const kTens[] = {L"XC", L"L", L"XL", L"X"};
    static const wchar_t* const kUnits[] = {L"IX", L"V", L"IV", L"I"};
    static const int kThresholds[] = {9, 5, 4, 1};
    const int places[2] = {value / 10, value % 10};
    const wchar_t* const* entries[2] = {kTens, kUnits};
    for (int place = 0; place < 2; ++place) {
        int digit = places[place];
        for (int e = 0; e < 4; ++e) {
            while (digit >= kThresholds[e]) {
                out += entries[place][e];
                digit -= kThresholds[e];
            }
        }
    }
    return true;
}

namespace {

bool AppendChars(std::wstring& out, double value, std::chars_format format, int precision) {
    if (!std::isfinite(value)) return false;
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, format, precision);
    if (result.ec != std::errc()) return false;
    for (const char* p = buffer; p < result.ptr; ++p) out += wchar_t(*p);
    return true;
}

}  // namespace

// std::to_chars formats as printf does in the C locale, whatever the host set.
bool FormatGeneral10(std::wstring& out, double value) {
    return AppendChars(out, value, std::chars_format::general, 10);
}

bool FormatFixed2(std::wstring& out, double value) {
    return AppendChars(out, value, std::chars_format::fixed, 2);
}
