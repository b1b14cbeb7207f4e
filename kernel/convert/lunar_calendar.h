// Gregorian dates to Chinese lunar dates (lunar years 1921 to 2100) and their
// text with the stem-branch year: 2021-02-12 -> 牛(辛丑)年正月初一.
// Constant tables only; every function is safe on any thread.
#pragma once

#include <cstddef>

struct t_lunarDate {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 30
    bool leap = false;
};

// First and last lunar year of the table.
inline constexpr int kLunarFirstYear = 1921;
inline constexpr int kLunarLastYear = 2100;

// The lunar date of a Gregorian date. False (out untouched) for an invalid
// date, a date before 1921-02-08 (lunar 1921, first month, first day) or
// after the last day of lunar 2100.
bool SolarToLunar(int year, int month, int day, t_lunarDate* out);

// Writes "鸡(辛酉)年正月初一" (a leap month reads 闰四月) into buffer with its
// terminator. False (buffer untouched) when the year is below 4, the month
// is not 1 to 12, the day not 1 to 30, or the text does not fit.
bool FormatLunarDate(wchar_t* buffer, size_t capacity, const t_lunarDate& date);

// SolarToLunar then FormatLunarDate.
bool GetLunarDateText(wchar_t* buffer, size_t capacity, int year, int month, int day);
