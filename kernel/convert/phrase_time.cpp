// Parsing and expansion of "#" time templates. Formatting runs in the C
// locale (uselocale, per thread), so the host's locale never changes a text.
// The conversion thread expands; the version source is set at start-up.
#include "kernel/convert/phrase_time.h"

#include <locale.h>
#include <atomic>
#include <clocale>
#include <cwchar>
#include <string>

#include "kernel/convert/lunar_calendar.h"
#include "kernel/convert/number_text.h"
#include "kernel/lexicon/small_dicts_arena.h"

namespace {

enum class t_chineseForm { Digits, Numeral, Weekday, AmPm, AsIs, None };

struct t_keyword {
    const wchar_t* name;
    const wchar_t* format;  // for wcsftime; null for the special keywords
    t_chineseForm chinese;
};

// Tried in this order, so that YEAR_YY wins over YEAR and so on.
const t_keyword kKeywords[] = {
    {L"YEAR_YY", L"%y", t_chineseForm::Digits},   {L"YEAR", L"%Y", t_chineseForm::Digits},
    {L"MONTH_MM", L"%m", t_chineseForm::Numeral}, {L"MONTH", L"%m", t_chineseForm::Numeral},
    {L"FULLMONTH", L"%B", t_chineseForm::AsIs},   {L"HALFMONTH", L"%b", t_chineseForm::AsIs},
    {L"DAY_DD", L"%d", t_chineseForm::Numeral},   {L"DAY", L"%d", t_chineseForm::Numeral},
    {L"WEEKDAY", L"%w", t_chineseForm::Weekday},  {L"FULLDAY", L"%A", t_chineseForm::AsIs},
    {L"HALFDAY", L"%a", t_chineseForm::AsIs},     {L"FULLHOUR_HH", L"%H", t_chineseForm::Numeral},
    {L"FULLHOUR", L"%H", t_chineseForm::Numeral}, {L"HALFHOUR_HH", L"%I", t_chineseForm::Numeral},
    {L"HALFHOUR", L"%I", t_chineseForm::Numeral}, {L"AMPM", L"%p", t_chineseForm::AmPm},
    {L"MINUTE", L"%M", t_chineseForm::Numeral},   {L"SECOND", L"%S", t_chineseForm::Numeral},
    {L"VERSION", nullptr, t_chineseForm::None},   {L"LUNARDATE", nullptr, t_chineseForm::None},
    {L"YESTERDAY", nullptr, t_chineseForm::None}, {L"TOMORROW", nullptr, t_chineseForm::None},
};
constexpr uint32_t kKeywordCount = sizeof(kKeywords) / sizeof(kKeywords[0]);
static_assert(kKeywordCount == kTimeTomorrow - kTimeYearYY + 1);

constexpr size_t kPieceRoom = 64;
constexpr size_t kVersionRoom = 256;

std::atomic<t_dictVersionSource> g_versionSource{nullptr};

bool MatchNoCase(const wchar_t* text, const wchar_t* word) {
    for (; *word; ++text, ++word) {
        wchar_t c = *text;
        if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
        wchar_t w = *word;
        if (w >= L'a' && w <= L'z') w = wchar_t(w - L'a' + L'A');
        if (c != w) return false;
    }
    return true;
}

bool AddItem(t_phraseTimeExpr& expr, t_timeItem**& tail, t_scopeHeap& arena, uint32_t kind,
             bool chinese, const wchar_t* text, size_t length) {
    auto* item = static_cast<t_timeItem*>(ArenaAllocAligned(arena, sizeof(t_timeItem)));
    if (!item) return false;
    *item = {kind, uint8_t(chinese ? 1 : 0), text, uint32_t(length), nullptr};
    *tail = item;
    tail = &item->next;
    ++expr.itemCount;
    if (kind != kTimeLiteral) ++expr.keywordCount;
    return true;
}

// Switches the calling thread to the C locale for one scope.
class t_cLocaleScope {
public:
    t_cLocaleScope() {
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
        if (cLocale) m_previous = uselocale(cLocale);
    }
    ~t_cLocaleScope() {
        if (m_previous) uselocale(m_previous);
    }
    t_cLocaleScope(const t_cLocaleScope&) = delete;
    t_cLocaleScope& operator=(const t_cLocaleScope&) = delete;

private:
    locale_t m_previous = locale_t(0);
};

void AppendVersion(std::wstring& out) {
    const t_dictVersionSource source = g_versionSource.load();
    t_dictVersionInfo info;
    if (!source || !source(&info)) return;
    std::wstring text = info.setupText ? info.setupText : L"";
    text += L"\r\n系统词频: " + std::to_wstring(info.values[0]);
    text += L"\r\n组词数据: " + std::to_wstring(info.values[1]);
    text += L"\r\n辅助码  : " + std::to_wstring(info.values[2]);
    text += L"\r\n编译时间: ";
    if (info.buildTime) text += info.buildTime;
    out.append(text, 0, kVersionRoom);
}

void AppendKeyword(std::wstring& out, const t_timeItem& item, const struct tm& local) {
    if (item.kind == kTimeYesterday || item.kind == kTimeTomorrow) return;
    if (item.kind == kTimeVersion) return AppendVersion(out);
    wchar_t piece[kPieceRoom];
    if (item.kind == kTimeLunarDate) {
        if (GetLunarDateText(piece, kPieceRoom, local.tm_year + 1900, local.tm_mon + 1,
                             local.tm_mday))
            out += piece;
        return;
    }
    const t_keyword& keyword = kKeywords[item.kind - kTimeYearYY];
    size_t n = 0;
    {
        t_cLocaleScope cLocale;
        n = wcsftime(piece, kPieceRoom, keyword.format, &local);
    }
    if (n == 0) return;
    // Dates and hours are written and read without a leading zero (7月7日,
    // 九点); the _MM, _DD and _HH keywords keep it in digits.
    const bool plain = item.kind == kTimeMonth || item.kind == kTimeDay ||
                       item.kind == kTimeFullHour || item.kind == kTimeHalfHour;
    const bool spoken = plain || item.kind == kTimeMonthMM || item.kind == kTimeDayDD ||
                        item.kind == kTimeFullHourHH || item.kind == kTimeHalfHourHH;
    const wchar_t* digits = piece;
    if (n == 2 && piece[0] == L'0' && (plain || (spoken && item.chinese))) {
        ++digits;
        --n;
    }
    if (!item.chinese) {
        out.append(digits, n);
        return;
    }
    switch (keyword.chinese) {
        case t_chineseForm::Digits:
            AppendChineseDigits(out, digits, n, true);
            break;
        case t_chineseForm::Numeral:
            AppendChineseNumeral(out, digits, n, false, true);
            break;
        case t_chineseForm::Weekday:
            if (piece[0] == L'0')
                out += L"日";
            else
                AppendChineseNumeral(out, piece, n, false, true);
            break;
        case t_chineseForm::AmPm:
            out += local.tm_hour < 12 ? L"上午" : L"下午";
            break;
        case t_chineseForm::AsIs:
        case t_chineseForm::None:
            out.append(piece, n);
            break;
    }
}

}  // namespace

int ParsePhraseTimeExpr(t_phraseTimeExpr& expr, t_scopeHeap& arena, const wchar_t* text) {
    expr = t_phraseTimeExpr();
    if (!text || !*text) return 0;
    t_timeItem** tail = &expr.first;
    const wchar_t* literal = text;
    const wchar_t* p = text;
    while (*p) {
        if (*p != L'$') {
            ++p;
            continue;
        }
        uint32_t kind = 0;
        size_t length = 0;
        for (uint32_t i = 0; i < kKeywordCount; ++i) {
            if (MatchNoCase(p + 1, kKeywords[i].name)) {
                kind = kTimeYearYY + i;
                length = 1 + std::wcslen(kKeywords[i].name);
                break;
            }
        }
        if (kind == 0) {  // no keyword: the "$" stays text
            ++p;
            continue;
        }
        const bool chinese = MatchNoCase(p + length, L"_cn");
        if (chinese) length += 3;
        if ((p > literal &&
             !AddItem(expr, tail, arena, kTimeLiteral, false, literal, size_t(p - literal))) ||
            !AddItem(expr, tail, arena, kind, chinese, p, length)) {
            expr = t_phraseTimeExpr();
            return 0;
        }
        p += length;
        literal = p;
    }
    if (p > literal &&
        !AddItem(expr, tail, arena, kTimeLiteral, false, literal, size_t(p - literal))) {
        expr = t_phraseTimeExpr();
        return 0;
    }
    return expr.itemCount;
}

int DayShiftOfKeywords(const t_timeItem* first) {
    int days = 0;
    for (const t_timeItem* item = first; item; item = item->next) {
        if (item->kind == kTimeYesterday) --days;
        if (item->kind == kTimeTomorrow) ++days;
    }
    return days;
}

bool ShiftCalendarDays(struct tm* local, int days) {
    if (!local) return false;
    if (days == 0) return true;
    // The date is stepped at noon, which every day has whatever its
    // daylight-saving change; the time of day stays the clock's.
    struct tm day = *local;
    day.tm_mday += days;
    day.tm_hour = 12;
    day.tm_min = day.tm_sec = 0;
    day.tm_isdst = -1;
    if (mktime(&day) == time_t(-1)) return false;
    local->tm_year = day.tm_year;
    local->tm_mon = day.tm_mon;
    local->tm_mday = day.tm_mday;
    local->tm_wday = day.tm_wday;
    local->tm_yday = day.tm_yday;
    return true;
}

const wchar_t* ExpandPhraseTimeExpr(t_phraseTimeExpr& expr, t_scopeHeap& arena, const wchar_t* text,
                                    time_t now) {
    if (ParsePhraseTimeExpr(expr, arena, text) == 0) return nullptr;
    if (expr.keywordCount == 0) return text;
    struct tm local;
    if (!localtime_r(&now, &local) || !ShiftCalendarDays(&local, DayShiftOfKeywords(expr.first)))
        return nullptr;
    std::wstring out;
    for (const t_timeItem* item = expr.first; item; item = item->next) {
        if (item->kind == kTimeLiteral)
            out.append(item->text, item->length);
        else
            AppendKeyword(out, *item, local);
    }
    if (out.empty()) return nullptr;
    return arena.DupWideN(out.data(), out.size());
}

const wchar_t* ExpandPhraseTimeExpr(t_phraseTimeExpr& expr, t_scopeHeap& arena,
                                    const wchar_t* text) {
    return ExpandPhraseTimeExpr(expr, arena, text, time(nullptr));
}

void SetDictVersionSource(t_dictVersionSource source) {
    g_versionSource.store(source);
}
