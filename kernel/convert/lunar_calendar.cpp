// The lunar month table and the conversion from a real day count.
// Constant data; any thread.
#include "kernel/convert/lunar_calendar.h"

#include <cwchar>
#include <string>

namespace {

// One word per lunar year from 1921: the low 12 bits (13 in a year with a
// leap month) give the month lengths, the first month in the highest of
// them, 1 = 30 days and 0 = 29; the bits from 16 up give the leap month.
// Derived from the widely published 1900-2100 month table as the npm package
// js-calendar-converter 0.0.7 (GPL-3.0-or-later) carries it, re-encoded; every
// day from 1921-02-08 to 2100-12-31 was checked against the astronomical
// calendar of lunar-javascript 1.7.7 (MIT). They differ only in lunar 2057:
// the published table gives months 8 and 9 29 and 30 days, the astronomical
// calendar 30 and 29 (month 9 begins on 2057-09-29); 2057 follows the
// astronomy (word 0x006B2 instead of 0x006AA).
constexpr int kYearWords[kLunarLastYear - kLunarFirstYear + 1] = {
    // 1921-1930
    0x00A4B,
    0x5164B,
    0x006A5,
    0x006D4,
    0x415B5,
    0x002B6,
    0x00957,
    0x2092F,
    0x00497,
    0x60C96,
    // 1931-1940
    0x00D4A,
    0x00EA5,
    0x50DA9,
    0x005AD,
    0x002B6,
    0x3126E,
    0x0092E,
    0x7192D,
    0x00C95,
    0x00D4A,
    // 1941-1950
    0x61B4A,
    0x00B55,
    0x0056A,
    0x4155B,
    0x0025D,
    0x0092D,
    0x2192B,
    0x00A95,
    0x71695,
    0x006CA,
    // 1951-1960
    0x00B55,
    0x50AB5,
    0x004DA,
    0x00A5B,
    0x30A57,
    0x0052B,
    0x8152A,
    0x00E95,
    0x006AA,
    0x615AA,
    // 1961-1970
    0x00AB5,
    0x004B6,
    0x414AE,
    0x00A57,
    0x00526,
    0x31D26,
    0x00D95,
    0x70B55,
    0x0056A,
    0x0096D,
    // 1971-1980
    0x5095D,
    0x004AD,
    0x00A4D,
    0x41A4D,
    0x00D25,
    0x81AA5,
    0x00B54,
    0x00B6A,
    0x612DA,
    0x0095B,
    // 1981-1990
    0x0049B,
    0x41497,
    0x00A4B,
    0xA164B,
    0x006A5,
    0x006D4,
    0x615B4,
    0x00AB6,
    0x00957,
    0x5092F,
    // 1991-2000
    0x00497,
    0x0064B,
    0x30D4A,
    0x00EA5,
    0x80D65,
    0x005AC,
    0x00AB6,
    0x5126D,
    0x0092E,
    0x00C96,
    // 2001-2010
    0x41A95,
    0x00D4A,
    0x00DA5,
    0x20B55,
    0x0056A,
    0x7155B,
    0x0025D,
    0x0092D,
    0x5192B,
    0x00A95,
    // 2011-2020
    0x00B4A,
    0x416AA,
    0x00AD5,
    0x90AB5,
    0x004BA,
    0x00A5B,
    0x60A57,
    0x0052B,
    0x00A93,
    0x40E95,
    // 2021-2030
    0x006AA,
    0x00AD5,
    0x209B5,
    0x004B6,
    0x614AE,
    0x00A4E,
    0x00D26,
    0x51D26,
    0x00D53,
    0x005AA,
    // 2031-2040
    0x30D6A,
    0x0096D,
    0xB095D,
    0x004AD,
    0x00A4D,
    0x61A4B,
    0x00D25,
    0x00D52,
    0x51B54,
    0x00B5A,
    // 2041-2050
    0x0056D,
    0x2095B,
    0x0049B,
    0x71497,
    0x00A4B,
    0x00AA5,
    0x516A5,
    0x006D2,
    0x00ADA,
    0x30AB6,
    // 2051-2060
    0x00937,
    0x8092F,
    0x00497,
    0x0064B,
    0x60D4A,
    0x00EA5,
    0x006B2,
    0x4156C,
    0x00AAE,
    0x0092E,
    // 2061-2070
    0x3192E,
    0x00C96,
    0x71A95,
    0x00D4A,
    0x00DA5,
    0x50B55,
    0x0056A,
    0x00A6D,
    0x40A5D,
    0x0052D,
    // 2071-2080
    0x8152B,
    0x00A95,
    0x00B4A,
    0x616AA,
    0x00AD5,
    0x0055A,
    0x414BA,
    0x00A5B,
    0x0052B,
    0x31527,
    // 2081-2090
    0x00693,
    0x70E53,
    0x006AA,
    0x00AD5,
    0x509B5,
    0x004B6,
    0x00A57,
    0x40A4E,
    0x00D16,
    0x81D26,
    // 2091-2100
    0x00D52,
    0x00DAA,
    0x60D6A,
    0x0056D,
    0x004AE,
    0x4149D,
    0x00A2D,
    0x00D15,
    0x21B25,
    0x00D52,
};

constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

const wchar_t* const kStems[10] = {L"甲", L"乙", L"丙", L"丁", L"戊",
                                   L"己", L"庚", L"辛", L"壬", L"癸"};
const wchar_t* const kBranches[12] = {L"子", L"丑", L"寅", L"卯", L"辰", L"巳",
                                      L"午", L"未", L"申", L"酉", L"戌", L"亥"};
const wchar_t* const kAnimals[12] = {L"鼠", L"牛", L"虎", L"兔", L"龙", L"蛇",
                                     L"马", L"羊", L"猴", L"鸡", L"狗", L"猪"};
const wchar_t* const kMonthNames[12] = {L"正", L"二", L"三", L"四", L"五",   L"六",
                                        L"七", L"八", L"九", L"十", L"十一", L"腊"};
const wchar_t* const kDayNames[30] = {
    L"初一", L"初二", L"初三", L"初四", L"初五", L"初六", L"初七", L"初八", L"初九", L"初十",
    L"十一", L"十二", L"十三", L"十四", L"十五", L"十六", L"十七", L"十八", L"十九", L"二十",
    L"廿一", L"廿二", L"廿三", L"廿四", L"廿五", L"廿六", L"廿七", L"廿八", L"廿九", L"三十"};

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days since 1 January of year 1 (proleptic Gregorian), 1 for that day.
long DayNumber(int year, int month, int day) {
    const long y = year - 1;
    long days = y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[month - 1] + day;
    if (month > 2 && IsLeapYear(year)) ++days;
    return days;
}

}  // namespace

bool SolarToLunar(int year, int month, int day, t_lunarDate* out) {
    if (!out || year < 1 || month < 1 || month > 12 || day < 1) return false;
    const int monthDays = month == 2 ? (IsLeapYear(year) ? 29 : 28) : 31 - ((month - 1) % 7) % 2;
    if (day > monthDays) return false;
    // n counts from 1 on the first day of lunar 1921 (8 February 1921).
    long n = DayNumber(year, month, day) - DayNumber(1921, 2, 8) + 1;
    if (n < 1) return false;
    for (int y = 0; y <= kLunarLastYear - kLunarFirstYear; ++y) {
        const int word = kYearWords[y];
        const int leapMonth = word >> 16;
        const int months = leapMonth ? 13 : 12;
        for (int m = 1; m <= months; ++m) {
            const int length = 29 + ((word >> (months - m)) & 1);
            if (n <= length) {
                t_lunarDate date;
                date.year = kLunarFirstYear + y;
                date.day = int(n);
                date.month = m;
                if (leapMonth && m > leapMonth) {
                    date.month = m - 1;
                    date.leap = m == leapMonth + 1;
                }
                *out = date;
                return true;
            }
            n -= length;
        }
    }
    return false;
}

bool FormatLunarDate(wchar_t* buffer, size_t capacity, const t_lunarDate& date) {
    if (!buffer || date.year < 4 || date.month < 1 || date.month > 12 || date.day < 1 ||
        date.day > 30)
        return false;
    const int k = (date.year - 4) % 60;
    std::wstring text =
        std::wstring(kAnimals[k % 12]) + L"(" + kStems[k % 10] + kBranches[k % 12] + L")年";
    if (date.leap) text += L"闰";
    text += kMonthNames[date.month - 1];
    text += L"月";
    text += kDayNames[date.day - 1];
    if (text.size() + 1 > capacity) return false;
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

bool GetLunarDateText(wchar_t* buffer, size_t capacity, int year, int month, int day) {
    t_lunarDate date;
    return SolarToLunar(year, month, day, &date) && FormatLunarDate(buffer, capacity, date);
}
