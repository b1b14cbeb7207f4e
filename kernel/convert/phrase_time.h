// "#" custom-phrase templates: literal text with time keywords led by "$"
// ("$YEAR年$MONTH_cn月", "$LUNARDATE", "$YESTERDAY$DAY"), expanded at the local
// time. Expansion is for the conversion thread; the dictionary-information
// source is installed once at start-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "kernel/runtime/scope_heap.h"

// Item kinds: 1 a literal piece, 2 to 23 the keywords in table order.
enum t_timeItemKind : uint32_t {
    kTimeLiteral = 1,
    kTimeYearYY = 2,
    kTimeYear,
    kTimeMonthMM,
    kTimeMonth,
    kTimeFullMonth,
    kTimeHalfMonth,
    kTimeDayDD,
    kTimeDay,
    kTimeWeekday,
    kTimeFullDay,
    kTimeHalfDay,
    kTimeFullHourHH,
    kTimeFullHour,
    kTimeHalfHourHH,
    kTimeHalfHour,
    kTimeAmPm,
    kTimeMinute,
    kTimeSecond,
    kTimeVersion,
    kTimeLunarDate,
    kTimeYesterday,
    kTimeTomorrow = 23,
};

struct t_timeItem {
    uint32_t kind;
    uint8_t chinese;      // "_cn" followed the keyword
    const wchar_t* text;  // into the template; the keyword's "$" for a keyword
    uint32_t length;      // characters of text the item covers
    t_timeItem* next;
};

// A parsed template; its items live in the arena the parse was given.
struct t_phraseTimeExpr {
    t_timeItem* first = nullptr;
    int itemCount = 0;
    int keywordCount = 0;
};

// Parses a template (the phrase without its "#"). Returns the number of
// items; 0 for a null or empty text or when the arena is out of memory.
int ParsePhraseTimeExpr(t_phraseTimeExpr& expr, t_scopeHeap& arena, const wchar_t* text);

// Days to step: one back for each YESTERDAY and one forward for each
// TOMORROW item from `first` on.
int DayShiftOfKeywords(const t_timeItem* first);
// Steps the calendar date of a local time by days (the time of day and the
// daylight-saving change of the days between do not move it); false when
// the date cannot be represented.
bool ShiftCalendarDays(struct tm* local, int days);

// Expands a template at `now` (local time of the process's TZ): a text in the
// arena, the template itself when it holds no keyword, or null when it has
// no items, expands to nothing, or memory ran out. Month and day names are
// always English (C locale); AMPM_cn reads 上午 before 12 o'clock, else 下午.
// MONTH, DAY, FULLHOUR and HALFHOUR give no leading zero, their _MM, _DD
// and _HH forms two digits; in Chinese none of them reads a zero (七日).
const wchar_t* ExpandPhraseTimeExpr(t_phraseTimeExpr& expr, t_scopeHeap& arena, const wchar_t* text,
                                    time_t now);
// The same at the current time.
const wchar_t* ExpandPhraseTimeExpr(t_phraseTimeExpr& expr, t_scopeHeap& arena,
                                    const wchar_t* text);

// What the VERSION keyword reports: the text given to kernel set-up, the
// three data numbers of the dictionaries and the build time.
struct t_dictVersionInfo {
    const wchar_t* setupText = nullptr;
    int32_t values[3] = {0, 0, 0};
    const wchar_t* buildTime = nullptr;
};
// Fills info; false when there is nothing to report.
using t_dictVersionSource = bool (*)(t_dictVersionInfo* info);

// Installed by the kernel's entry API at start-up; null (the default) makes
// VERSION expand to nothing.
void SetDictVersionSource(t_dictVersionSource source);
