// "#" time templates expanded at a fixed clock, in China's time zone and
// under a Chinese locale, as fcitx runs the kernel.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

#include "kernel/convert/phrase_time.h"
#include "tests/kernel/convert/special_input_support.h"

namespace {

// Seconds since the epoch of a wall-clock time in UTC+8.
time_t ChinaTime(int y, int mo, int d, int h, int mi, int s) {
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return timegm(&t) - 8 * 3600;
}

class PhraseTimeTest : public testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "CST-8", 1);
        tzset();
        if (!m_locale.Ready() || !std::setlocale(LC_ALL, "zh_CN.UTF-8"))
            GTEST_SKIP() << "zh_CN.UTF-8 cannot be made here";
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        unsetenv("TZ");
        tzset();
    }
    std::wstring Expand(const wchar_t* text, time_t now) {
        t_phraseTimeExpr expr;
        const wchar_t* out = ExpandPhraseTimeExpr(expr, m_heap, text, now);
        return out ? out : L"<null>";
    }

    convert_test::t_testLocale m_locale{"zh_CN.UTF-8", "zh_CN"};
    t_scopeHeap m_heap;
};

TEST_F(PhraseTimeTest, KeywordsExpandAtTheClock) {
    const time_t monday = ChinaTime(2026, 12, 7, 9, 5, 3);
    const time_t afternoon = ChinaTime(2026, 12, 9, 15, 0, 0);  // a Wednesday
    const time_t sunday = ChinaTime(2026, 12, 13, 10, 0, 0);
    const time_t newYearsEve = ChinaTime(2023, 12, 31, 23, 0, 0);
    struct {
        const wchar_t* text;
        time_t now;
        const wchar_t* expected;
    } cases[] = {
        {L"$YEAR年$MONTH月$DAY日", monday, L"2026年12月7日"},  // as dates are written
        {L"$year_cn年$Month_CN月$DAY_cn日", monday, L"二〇二六年十二月七日"},
        {L"$MONTH_MM_cn月$DAY_DD_cn日", monday, L"十二月七日"},  // no zero read
        {L"$YEAR_YY/$MONTH_MM/$DAY_DD", monday, L"26/12/07"},
        {L"$YEARx", monday, L"2026x"},
        {L"$HOUR:$MINUTE:$SECOND", monday, L"$HOUR:05:03"},
        {L"$FULLHOUR_cn点$MINUTE_cn分", monday, L"九点〇五分"},
        {L"$FULLHOUR:$MINUTE", monday, L"9:05"},
        {L"$FULLHOUR_cn点", sunday, L"十点"},
        {L"$HALFHOUR_HH:$FULLHOUR", afternoon, L"03:15"},
        {L"星期$WEEKDAY_cn", monday, L"星期一"},
        {L"星期$WEEKDAY_cn", afternoon, L"星期三"},
        {L"星期$WEEKDAY_cn", sunday, L"星期日"},
        // AM/PM by the hour, and names in English whatever the host's locale.
        {L"$AMPM_cn", monday, L"上午"},
        {L"$AMPM_cn", afternoon, L"下午"},
        {L"$AMPM", monday, L"AM"},
        {L"$FULLMONTH $HALFMONTH $FULLDAY $HALFDAY_cn", monday, L"December Dec Monday Mon"},
        // The day shift applies to every keyword of the template.
        {L"$YESTERDAY$DAY", monday, L"6"},
        {L"$YESTERDAY$YESTERDAY$DAY_DD", monday, L"05"},
        {L"$DAY$YESTERDAY", monday, L"6"},
        {L"$TOMORROW$DAY$YESTERDAY", monday, L"7"},
        {L"$TOMORROW$YEAR-$MONTH_MM-$DAY_DD", newYearsEve, L"2024-01-01"},
        {L"农历$LUNARDATE", monday, L"农历马(丙午)年十月廿九"},
        // Local midnight has passed in China, not yet in UTC.
        {L"$LUNARDATE", ChinaTime(2021, 2, 12, 0, 30, 0), L"牛(辛丑)年正月初一"},
        {L"$LUNARDATE", ChinaTime(1921, 2, 7, 12, 0, 0), L"<null>"},
        {L"$YESTERDAY", monday, L"<null>"},
        {L"", monday, L"<null>"},
        {L"$ $ $DAYS", monday, L"$ $ 7S"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Expand(c.text, c.now)) << c.text;
}

// Yesterday and tomorrow are calendar days, also over a daylight-saving
// change, when a day has 23 or 25 hours.
TEST_F(PhraseTimeTest, YesterdayAndTomorrowStepTheCalendarDate) {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // 2026: March 29 and October 25
    tzset();
    const auto local = [](int mo, int d, int h, int mi) {
        struct tm t = {};
        t.tm_year = 2026 - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_isdst = -1;
        return mktime(&t);
    };
    const struct {
        time_t now;
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {local(3, 30, 0, 30), L"$YESTERDAY$MONTH-$DAY $FULLHOUR_HH:$MINUTE", L"3-29 00:30"},
        {local(3, 29, 0, 30), L"$TOMORROW$MONTH-$DAY $FULLHOUR_HH:$MINUTE", L"3-30 00:30"},
        {local(10, 25, 0, 30), L"$TOMORROW$MONTH-$DAY", L"10-26"},
        {local(10, 26, 23, 30), L"$YESTERDAY$MONTH-$DAY 星期$WEEKDAY_cn", L"10-25 星期日"},
        {local(12, 31, 12, 0), L"$TOMORROW$YEAR-$MONTH-$DAY", L"2027-1-1"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Expand(c.text, c.now)) << c.text;
}

TEST_F(PhraseTimeTest, TemplateWithoutKeywordIsItsOwnText) {
    const wchar_t* text = L"plain $HOUR text";
    t_phraseTimeExpr expr;
    EXPECT_EQ(text, ExpandPhraseTimeExpr(expr, m_heap, text, 0));
    EXPECT_EQ(1, expr.itemCount);
    EXPECT_EQ(0, expr.keywordCount);
}

TEST_F(PhraseTimeTest, VersionComesFromTheInstalledSource) {
    const time_t now = ChinaTime(2026, 12, 7, 9, 0, 0);
    SetDictVersionSource(nullptr);
    EXPECT_EQ(L"<null>", Expand(L"$VERSION", now));
    SetDictVersionSource([](t_dictVersionInfo* info) {
        info->setupText = L"Vetra 1.0";
        info->values[0] = 20261207;
        info->values[1] = 3;
        info->values[2] = -1;
        info->buildTime = L"Dec  7 2026";
        return true;
    });
    EXPECT_EQ(
        L"[Vetra 1.0\r\n系统词频: 20261207\r\n组词数据: 3\r\n辅助码  : -1\r\n编译时间: Dec  7 "
        L"2026]",
        Expand(L"[$VERSION]", now));
    SetDictVersionSource(nullptr);
}

}  // namespace
