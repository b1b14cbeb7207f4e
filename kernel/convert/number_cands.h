// Candidates of a typed text that starts with a digit, in the special input
// mode: numerals, digits one by one, thousands separators, Roman numerals,
// money amounts with 元角分, dates with their weekday, times, and a symbol
// page for a single digit. One conversion thread at a time.
#pragma once

#include <cstddef>
#include <string>

#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"

// Never more records than this per input (3 readings and a page of 94 symbols).
inline constexpr int kMaxNumberRecords = 100;

// The input shape, decided from the runs of one character class.
enum class t_numberShape {
    Number = 0,        // one run of digits
    DottedDate = 1,    // 2012.2.29, 2012-3-, 2012/3/5
    LetteredDate = 2,  // 3y5r, 2012n
    FullTime = 3,      // 12:05:30
    ShortTime = 4,     // 12:05
    Decimal = 5,       // 12.5
    SingleDigit = 6,   // 1 to 9
    None = 7,
};

// The shape of a text of `count` characters.
t_numberShape ClassifyNumberInput(const wchar_t* text, size_t count);

// Makes the records of `input` (zero-terminated; its first character must be
// a digit) into out[0 ..], at most `capacity`, and returns how many were
// made. The records lie one after another in the arena; each is made with
// t_candWord::Init and has score 1.0 and its source type (21 numerals, 22
// money, 23 dates and times, 24 Roman, 26 symbols). 0 when the input is of
// no shape, or for a null input or out.
int MakeNumberCandidates(t_scopeHeap& arena, const wchar_t* input, t_candWord** out, int capacity);

// A money amount ("12.5", "0.30", "7.") in 元角分, simple or formal digits:
// 12.5 -> 一十二元五角, 5.05 -> 五元零五分, 0.30 -> 三角整. False (out
// untouched) when the text is no amount or reads as nothing (0.00).
bool MoneyToChinese(std::wstring& out, const wchar_t* text, size_t count, bool simple);

// The symbols of digit 1 to 9 (GB2312 symbol row of that number), null otherwise.
const wchar_t* GetSymbolPage(int digit);
