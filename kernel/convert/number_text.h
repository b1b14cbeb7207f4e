// Written forms of digit strings: Chinese numerals in the simple and the
// formal (banking) style, digits spelled one by one, thousands separators and
// Roman numerals. Used by the digit candidates, the calculator and the time
// keywords of custom phrases. No shared state; results live in the caller's arena.
#pragma once

#include <cstddef>
#include <string>

#include "kernel/runtime/scope_heap.h"

// The numeral of `count` ASCII digits, for example 1001 -> 一千零一,
// 100100 -> 十万零一百, 05 -> 〇五. With keepLeadingOne off a leading 1 on a
// 十 place is left out (10 -> 十, 一十 with it on). simple picks
// 〇一二…/十百千 over 零壹贰…/拾佰仟. Null when count is 0, digits is null, a
// character is no ASCII digit, or the arena is out of memory.
wchar_t* DigitsToChineseNumerals(t_scopeHeap& arena, const wchar_t* digits, size_t count,
                                 bool keepLeadingOne, bool simple);

// Each digit replaced by its character of the chosen style (2026 ->
// 二〇二六). Null as above.
wchar_t* DigitsToChineseDigits(t_scopeHeap& arena, const wchar_t* digits, size_t count,
                               bool simple);

// The same two conversions into a std::wstring; false (out untouched) when a
// character is no ASCII digit or count is 0.
bool AppendChineseNumeral(std::wstring& out, const wchar_t* digits, size_t count,
                          bool keepLeadingOne, bool simple);
bool AppendChineseDigits(std::wstring& out, const wchar_t* digits, size_t count, bool simple);

// A plain decimal text ("1234567", "1234.5", "01234") in thousands-separated
// form ("1,234,567", "1,234.5", "1,234"). Leading zeros of the integer part
// are dropped; false when the text is not digits with at most one "." and a
// fraction of digits, or when fewer than 4 integer digits remain.
bool FormatThousands(std::wstring& out, const wchar_t* text, size_t count);

// The Roman numeral of 1 to 99; false for any other value.
bool FormatRoman(std::wstring& out, int value);

// Locale-independent "%.10g" and "%.2f" of a double (the host's LC_NUMERIC
// never changes the decimal point). False when the value is not finite.
bool FormatGeneral10(std::wstring& out, double value);
bool FormatFixed2(std::wstring& out, double value);
