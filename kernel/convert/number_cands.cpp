// Readings of digit input: the input is cut into runs of one character class,
// its shape picks the builders, each builder adds zero or more records.
// One conversion thread at a time; everything lives in the caller's arena.
#include "kernel/convert/number_cands.h"

#include <cwchar>
#include <vector>

#include "kernel/convert/number_text.h"
#include "kernel/convert/special_records.h"

namespace {

enum t_charClass : int { kOther = 0, kDigit = 1, kLetter = 2, kColon = 3, kDot = 4, kDash = 5 };

struct t_run {
    size_t start;
    size_t length;
    int cls;
};

// Longest dotted date, short or full time the builders read.
constexpr size_t kMaxDateInput = 20;
constexpr size_t kMaxTimeInput = 12;
// A weekday is added only behind a date text of at most this many characters.
constexpr size_t kMaxTextBeforeWeekday = 15;
constexpr int kMaxYear = 9999;
constexpr int kMaxWeekdayYear = 3000;

int ClassOf(wchar_t c) {
    if (c >= L'0' && c <= L'9') return kDigit;
    if (c >= L'a' && c <= L'z') return kLetter;
    if (c == L':') return kColon;
    if (c == L'.') return kDot;
    if (c == L'-' || c == L'/') return kDash;
    return kOther;
}

std::vector<t_run> SplitRuns(const wchar_t* text, size_t count) {
    std::vector<t_run> runs;
    for (size_t i = 0; i < count;) {
        const int cls = ClassOf(text[i]);
        size_t j = i + 1;
        while (j < count && ClassOf(text[j]) == cls) ++j;
        runs.push_back({i, j - i, cls});
        i = j;
    }
    return runs;
}

size_t CountRuns(const std::vector<t_run>& runs, int cls) {
    size_t n = 0;
    for (const t_run& r : runs) n += r.cls == cls;
    return n;
}

// The value of a digit run, capped at kMaxYear + 1 so that no run overflows.
int RunValue(const wchar_t* text, const t_run& run) {
    int value = 0;
    for (size_t i = 0; i < run.length; ++i) {
        value = value * 10 + (text[run.start + i] - L'0');
        if (value > kMaxYear) return kMaxYear + 1;
    }
    return value;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of a month; February has 29 when the year is unknown (year < 0).
int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) return (year < 0 || IsLeapYear(year)) ? 29 : 28;
    return kDays[month - 1];
}

bool DayFits(int year, int month, int day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

// 0 = Sunday, for the proleptic Gregorian calendar (what mktime normalises to).
int Weekday(int year, int month, int day) {
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = long(era) * 146097 + doe - 719468;  // days since 1970-01-01, a Thursday
    return int(((days % 7) + 7 + 4) % 7);
}

struct t_builder {
    const wchar_t* text;
    const std::vector<t_run>& runs;
    t_specialRecords& records;

    std::wstring Digits(const t_run& r) const { return std::wstring(text + r.start, r.length); }
    void Numeral(std::wstring& out, const t_run& r) const {
        AppendChineseNumeral(out, text + r.start, r.length, false, true);
    }

    // Dotted date: year, separator, month, separator[, day]; 2012.2.29 ->
    // 2012年2月29日(星期三) and 二〇一二年二月二十九日(星期三).
    void DottedDate(size_t count) const {
        if (count > kMaxDateInput) return;
        const t_run& yearRun = runs[0];
        const t_run& monthRun = runs[2];
        if (runs[1].cls == kDigit || monthRun.cls != kDigit || runs[3].cls == kDigit) return;
        const int year = RunValue(text, yearRun);
        const int month = RunValue(text, monthRun);
        if (year > kMaxYear || monthRun.length > 2 || month < 1 || month > 12) return;
        std::wstring digits = Digits(yearRun) + L"年" + Digits(monthRun) + L"月";
        std::wstring chinese;
        AppendChineseDigits(chinese, text + yearRun.start, yearRun.length, true);
        chinese += L"年";
        Numeral(chinese, monthRun);
        chinese += L"月";
        if (runs.size() == 5) {
            const t_run& dayRun = runs[4];
            const int day = RunValue(text, dayRun);
            if (dayRun.length > 2 || !DayFits(year, month, day)) return;
            digits += Digits(dayRun) + L"日";
            Numeral(chinese, dayRun);
            chinese += L"日";
            if (year <= kMaxWeekdayYear) {
                if (digits.size() > kMaxTextBeforeWeekday || chinese.size() > kMaxTextBeforeWeekday)
                    return;
                static const wchar_t* const kWeekdays[7] = {L"(星期日)", L"(星期一)", L"(星期二)",
                                                            L"(星期三)", L"(星期四)", L"(星期五)",
                                                            L"(星期六)"};
                const wchar_t* weekday = kWeekdays[Weekday(year, month, day)];
                digits += weekday;
                chinese += weekday;
            }
        }
        records.Add(digits, kCandSourceDateTime);
        records.Add(chinese, kCandSourceDateTime);
    }

    // The date word (年, 月 or 日) a letter run starts with: 'n', 'y' or 'r',
    // or 0 when the run is not made of the words nian/n, yue/y, ri/r.
    wchar_t LetterWord(const t_run& r) const {
        static const wchar_t* const kWords[] = {L"nian", L"n", L"yue", L"y", L"ri", L"r"};
        wchar_t first = 0;
        for (size_t i = r.start; i < r.start + r.length;) {
            size_t matched = 0;
            for (const wchar_t* w : kWords) {
                const size_t n = std::wcslen(w);
                if (n <= r.start + r.length - i && std::wcsncmp(text + i, w, n) == 0) {
                    matched = n;
                    break;
                }
            }
            if (matched == 0) return 0;
            if (first == 0) first = text[i];
            i += matched;
        }
        return first;
    }

    // Lettered date: 3y5r -> 3月5日 and 三月五日; the letters must name a
    // sensible date (see the table of combinations below).
    void LetteredDate() const {
        std::wstring letters;
        std::vector<int> values;
        for (const t_run& r : runs) {
            if (r.cls == kLetter) {
                const wchar_t w = LetterWord(r);
                if (w == 0) return;
                letters += w;
            } else {
                values.push_back(RunValue(text, r));
            }
        }
        if (!LetteredDateValid(letters, values)) return;
        std::wstring digits, chinese;
        for (size_t i = 0; i < runs.size(); i += 2) {
            const t_run& number = runs[i];
            const wchar_t word = letters[i / 2];
            const wchar_t* unit = word == L'n' ? L"年" : word == L'y' ? L"月" : L"日";
            digits += Digits(number) + unit;
            if (word == L'n')
                AppendChineseDigits(chinese, text + number.start, number.length, true);
            else
                Numeral(chinese, number);
            chinese += unit;
        }
        records.Add(digits, kCandSourceDateTime);
        records.Add(chinese, kCandSourceDateTime);
    }

    static bool LetteredDateValid(const std::wstring& letters, const std::vector<int>& v) {
        if (letters.size() == 1) return true;
        if (letters == L"yr") return DayFits(-1, v[0], v[1]);
        if (letters == L"ry") return DayFits(-1, v[1], v[0]);
        if (letters == L"ny") return v[0] <= kMaxYear && v[1] >= 1 && v[1] <= 12;
        if (letters == L"yn") return v[1] <= kMaxYear && v[0] >= 1 && v[0] <= 12;
        if (letters == L"nyr") return v[0] <= kMaxYear && DayFits(v[0], v[1], v[2]);
        if (letters == L"nry") return v[0] <= kMaxYear && DayFits(v[0], v[2], v[1]);
        if (letters == L"ryn") return v[2] <= kMaxYear && DayFits(v[2], v[1], v[0]);
        if (letters == L"yrn") return v[2] <= kMaxYear && DayFits(v[2], v[0], v[1]);
        return false;
    }

    // Digit runs as time parts with the given units: 12:05 -> 十二时〇五分.
    bool Time(const wchar_t* const* units, const int* limits) const {
        std::wstring out;
        for (size_t i = 0; i < runs.size(); i += 2) {
            const t_run& part = runs[i];
            if (part.length > 2 || RunValue(text, part) > limits[i / 2]) return false;
            Numeral(out, part);
            out += units[i / 2];
        }
        return records.Add(out, kCandSourceDateTime);
    }

    void Times(size_t count) const {
        if (count > kMaxTimeInput) return;
        static const wchar_t* const kHms[] = {L"时", L"分", L"秒"};
        static const int kLimits[] = {23, 59, 59};
        if (runs.size() == 5) {
            Time(kHms, kLimits);
        } else {
            Time(kHms, kLimits);
            Time(kHms + 1, kLimits + 1);
        }
    }

    void Separated(size_t count) const {
        std::wstring out;
        if (FormatThousands(out, text, count)) records.Add(out, kCandSourceNumeral);
    }

    void Number(size_t count, bool single) const {
        std::wstring simple, formal;
        AppendChineseNumeral(simple, text, count, false, true);
        AppendChineseNumeral(formal, text, count, true, false);
        records.Add(simple, kCandSourceNumeral);
        records.Add(formal, kCandSourceNumeral);
        size_t first = 0;
        while (first < count && text[first] == L'0') ++first;
        std::wstring roman;
        if (count - first >= 1 && count - first <= 2 &&
            FormatRoman(roman, RunValue(text, {first, count - first, kDigit})))
            records.Add(roman, kCandSourceRoman);
        if (count > 1) {
            std::wstring digits;
            AppendChineseDigits(digits, text, count, true);
            records.Add(digits, kCandSourceNumeral);
            digits.clear();
            AppendChineseDigits(digits, text, count, false);
            records.Add(digits, kCandSourceNumeral);
        }
        Separated(count);
        if (single) {
            for (const wchar_t* p = GetSymbolPage(text[0] - L'0'); p && *p && !records.Full(); ++p)
                records.Add(std::wstring(1, *p), kCandSourceSymbol);
        }
    }
};

}  // namespace

t_numberShape ClassifyNumberInput(const wchar_t* text, size_t count) {
    if (!text || count == 0) return t_numberShape::None;
    const std::vector<t_run> runs = SplitRuns(text, count);
    const size_t n = runs.size();
    const size_t digitRuns = CountRuns(runs, kDigit);
    if (n == 1 && runs[0].cls == kDigit)
        return runs[0].length == 1 && text[0] != L'0' ? t_numberShape::SingleDigit
                                                      : t_numberShape::Number;
    if (((n == 5 && digitRuns == 3) || (n == 4 && digitRuns == 2)) &&
        (CountRuns(runs, kDot) == 2 || CountRuns(runs, kDash) == 2))
        return t_numberShape::DottedDate;
    const bool digitFirst = runs[0].cls == kDigit;
    if (n == 3 && digitFirst && digitRuns == 2 && runs[1].cls == kColon)
        return t_numberShape::ShortTime;
    if (n == 5 && digitFirst && digitRuns == 3 && CountRuns(runs, kColon) == 2)
        return t_numberShape::FullTime;
    const size_t letterRuns = CountRuns(runs, kLetter);
    if (digitRuns + letterRuns == n && digitRuns == letterRuns) return t_numberShape::LetteredDate;
    const size_t dotRuns = CountRuns(runs, kDot);
    if (digitRuns + dotRuns == n && (digitRuns == 1 || digitRuns == 2) && dotRuns == 1)
        return t_numberShape::Decimal;
    return t_numberShape::None;
}

bool MoneyToChinese(std::wstring& out, const wchar_t* text, size_t count, bool simple) {
    if (!text) return false;
    size_t dot = 0;
    while (dot < count && text[dot] >= L'0' && text[dot] <= L'9') ++dot;
    if (dot == 0 || dot >= count || text[dot] != L'.') return false;
    const wchar_t* fraction = text + dot + 1;
    const size_t fractionDigits = count - dot - 1;
    if (fractionDigits > 2) return false;
    for (size_t i = 0; i < fractionDigits; ++i)
        if (fraction[i] < L'0' || fraction[i] > L'9') return false;
    size_t first = 0;
    while (first < dot && text[first] == L'0') ++first;
    const bool hasInteger = first < dot;
    std::wstring result;
    if (hasInteger) {
        AppendChineseNumeral(result, text + first, dot - first, true, simple);
        result += L"元";
    }
    const bool jiaoZero = fractionDigits == 0 || fraction[0] == L'0';
    if (!jiaoZero) {
        AppendChineseDigits(result, fraction, 1, simple);
        result += L"角";
    }
    if (fractionDigits == 1 && jiaoZero && hasInteger) result += L"整";
    if (fractionDigits == 2) {
        if (fraction[1] != L'0') {
            if (jiaoZero && hasInteger) result += L"零";
            AppendChineseDigits(result, fraction + 1, 1, simple);
            result += L"分";
        } else if (hasInteger || !jiaoZero) {
            result += L"整";
        }
    }
    if (result.empty()) return false;
    out += result;
    return true;
}

int MakeNumberCandidates(t_scopeHeap& arena, const wchar_t* input, t_candWord** out, int capacity) {
    if (!input || !out || capacity <= 0 || !(input[0] >= L'0' && input[0] <= L'9')) return 0;
    const size_t count = std::wcslen(input);
    const t_numberShape shape = ClassifyNumberInput(input, count);
    if (shape == t_numberShape::None) return 0;
    const std::vector<t_run> runs = SplitRuns(input, count);
    t_specialRecords records(arena, out, capacity, kMaxNumberRecords);
    const t_builder builder{input, runs, records};
    switch (shape) {
        case t_numberShape::Number:
        case t_numberShape::SingleDigit:
            builder.Number(count, shape == t_numberShape::SingleDigit);
            break;
        case t_numberShape::DottedDate:
            builder.DottedDate(count);
            break;
        case t_numberShape::LetteredDate:
            builder.LetteredDate();
            break;
        case t_numberShape::FullTime:
        case t_numberShape::ShortTime:
            builder.Times(count);
            break;
        case t_numberShape::Decimal: {
            std::wstring money;
            if (MoneyToChinese(money, input, count, true)) records.Add(money, kCandSourceMoney);
            money.clear();
            if (MoneyToChinese(money, input, count, false)) records.Add(money, kCandSourceMoney);
            builder.Separated(count);
            break;
        }
        case t_numberShape::None:
            break;
    }
    return records.Count();
}
