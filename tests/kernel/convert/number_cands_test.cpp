// Digit input read as numerals, amounts, dates, times and symbols.
#include <iconv.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel/convert/number_cands.h"
#include "kernel/convert/number_text.h"
#include "kernel/convert/special_records.h"
#include "tests/kernel/convert/special_input_support.h"

namespace {

using convert_test::RecordTexts;
using convert_test::Texts;

std::vector<std::wstring> Make(const wchar_t* input, int capacity = 20) {
    t_scopeHeap heap;
    std::vector<t_candWord*> out(size_t(capacity), nullptr);
    const int n = MakeNumberCandidates(heap, input, out.data(), capacity);
    return Texts(out.data(), n);
}

TEST(ChineseNumeralTest, ZerosAndBigUnitsReadAsWritten) {
    struct {
        const wchar_t* digits;
        const wchar_t* simple;  // leading one left out
        const wchar_t* formal;  // leading one kept
    } cases[] = {
        {L"0", L"〇", L"零"},
        {L"05", L"〇五", L"零伍"},
        {L"10", L"十", L"壹拾"},
        {L"1001", L"一千零一", L"壹仟零壹"},
        {L"10010", L"一万零一十", L"壹万零壹拾"},
        {L"100100", L"十万零一百", L"壹拾万零壹佰"},
        {L"100000000", L"一亿", L"壹亿"},
        {L"200000000", L"二亿", L"贰亿"},
        {L"1000000000", L"十亿", L"壹拾亿"},
        {L"1000010000", L"十亿零一万", L"壹拾亿零壹万"},
        {L"1000000000000", L"一万亿", L"壹万亿"},
        {L"100000001", L"一亿零一", L"壹亿零壹"},
        {L"10000000000000000", L"一亿亿", L"壹亿亿"},
        {L"1234", L"一千二百三十四", L"壹仟贰佰叁拾肆"},
    };
    t_scopeHeap heap;
    for (const auto& c : cases) {
        const size_t n = std::wcslen(c.digits);
        const wchar_t* simple = DigitsToChineseNumerals(heap, c.digits, n, false, true);
        const wchar_t* formal = DigitsToChineseNumerals(heap, c.digits, n, true, false);
        ASSERT_TRUE(simple && formal) << c.digits;
        EXPECT_STREQ(c.simple, simple) << c.digits;
        EXPECT_STREQ(c.formal, formal) << c.digits;
    }
    EXPECT_EQ(nullptr, DigitsToChineseNumerals(heap, L"12a", 3, false, true));
    EXPECT_EQ(nullptr, DigitsToChineseDigits(heap, L"", 0, true));
}

TEST(NumberCandidatesTest, EachShapeGivesItsReadingsInOrder) {
    struct {
        const wchar_t* input;
        std::vector<std::wstring> texts;
    } cases[] = {
        {L"0", {L"〇", L"零"}},
        {L"10", {L"十", L"壹拾", L"X", L"一〇", L"壹零"}},
        {L"1234", {L"一千二百三十四", L"壹仟贰佰叁拾肆", L"一二三四", L"壹贰叁肆", L"1,234"}},
        {L"0012345",
         {L"〇一万二千三百四十五", L"零壹万贰仟叁佰肆拾伍", L"〇〇一二三四五", L"零零壹贰叁肆伍",
          L"12,345"}},
        {L"12.5", {L"一十二元五角", L"壹拾贰元伍角"}},
        {L"5.05", {L"五元零五分", L"伍元零伍分"}},
        {L"0.30", {L"三角整", L"叁角整"}},
        {L"3.0", {L"三元整", L"叁元整"}},
        {L"0.00", {}},
        {L"1234.56", {L"一千二百三十四元五角六分", L"壹仟贰佰叁拾肆元伍角陆分", L"1,234.56"}},
        {L"2012.2.29", {L"2012年2月29日(星期三)", L"二〇一二年二月二十九日(星期三)"}},
        {L"2024/12/1", {L"2024年12月1日(星期日)", L"二〇二四年十二月一日(星期日)"}},
        {L"2013.2.29", {}},
        {L"1900.2.29", {}},
        {L"2012.4.31", {}},
        {L"2012-3-", {L"2012年3月", L"二〇一二年三月"}},
        {L"2012-3", {}},
        {L"2012.3-4", {}},
        {L"12:05", {L"十二时〇五分", L"十二分〇五秒"}},
        {L"25:30", {L"二十五分三十秒"}},
        {L"75:30", {}},
        {L"23:59:59", {L"二十三时五十九分五十九秒"}},
        {L"3y5r", {L"3月5日", L"三月五日"}},
        {L"5ri12yue", {L"5日12月", L"五日十二月"}},
        {L"2012n", {L"2012年", L"二〇一二年"}},
        {L"2012n2y30r", {}},
        {L"2012n2y29r", {L"2012年2月29日", L"二〇一二年二月二十九日"}},
        {L"3y5x", {}},
        {L"12+3", {}},
        {L"a12", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.texts, Make(c.input)) << c.input;
}

TEST(NumberCandidatesTest, SingleDigitFillsItsSymbolPageUpToCapacity) {
    t_scopeHeap heap;
    t_candWord* out[6] = {};
    ASSERT_EQ(6, MakeNumberCandidates(heap, L"7", out, 6));
    const std::vector<convert_test::t_recordText> expected = {
        {L"七", kCandSourceNumeral}, {L"柒", kCandSourceNumeral}, {L"VII", kCandSourceRoman},
        {L"А", kCandSourceSymbol},   {L"Б", kCandSourceSymbol},   {L"В", kCandSourceSymbol}};
    const auto got = RecordTexts(out, 6);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].text, got[i].text) << i;
        EXPECT_EQ(expected[i].sourceType, got[i].sourceType) << i;
        EXPECT_EQ(1.0, out[i]->score);
        EXPECT_EQ(kCandKindSpecial, out[i]->kind);
    }
    EXPECT_EQ(out[0] + 1, out[1]) << "records lie one after another";
    EXPECT_EQ(3 + 66, int(Make(L"7", kMaxNumberRecords).size()));
    EXPECT_EQ(0, MakeNumberCandidates(heap, L"7", out, 0));
}

// An independent reading of Roman numerals: every value 1 to 99 must read
// back as itself and use no letter four times in a row.
TEST(NumberCandidatesTest, RomanNumeralsOfOneToNinetyNineReadBack) {
    auto value = [](wchar_t c) {
        return c == L'I'   ? 1
               : c == L'V' ? 5
               : c == L'X' ? 10
               : c == L'L' ? 50
               : c == L'C' ? 100
                           : 0;
    };
    for (int n = 1; n <= 99; ++n) {
        std::wstring roman;
        ASSERT_TRUE(FormatRoman(roman, n));
        int total = 0;
        for (size_t i = 0; i < roman.size(); ++i) {
            const int v = value(roman[i]);
            total += (i + 1 < roman.size() && v < value(roman[i + 1])) ? -v : v;
        }
        EXPECT_EQ(n, total) << n;
        EXPECT_EQ(std::wstring::npos, roman.find(L"IIII")) << n;
        EXPECT_EQ(std::wstring::npos, roman.find(L"XXXX")) << n;
    }
    std::wstring roman;
    EXPECT_FALSE(FormatRoman(roman, 0));
    EXPECT_FALSE(FormatRoman(roman, 100));
    EXPECT_EQ(L"XLIX", (FormatRoman(roman, 49), roman));
}

// The pages follow GB2312's symbol rows as GBK decodes them, plus the GBK
// cells of rows 6 and 8 that have private-use (or later) code points.
TEST(NumberCandidatesTest, SymbolPagesFollowTheGbkRows) {
    const struct {
        int row;
        int cell;
        wchar_t code;
    } extras[] = {{6, 57, 0xE78D}, {6, 58, 0xE78E}, {6, 59, 0xE78F}, {6, 60, 0xE790},
                  {6, 61, 0xE791}, {6, 62, 0xE792}, {6, 63, 0xE793}, {6, 76, 0xE794},
                  {6, 77, 0xE795}, {6, 83, 0xE796}, {8, 28, 0xE7C7}, {8, 31, 0x01F9}};
    iconv_t cd = iconv_open("WCHAR_T", "GBK");
    ASSERT_NE(iconv_t(-1), cd);
    for (int row = 1; row <= 9; ++row) {
        std::wstring expected;
        for (int cell = 1; cell <= 94; ++cell) {
            char in[2] = {char(0xA0 + row), char(0xA0 + cell)};
            wchar_t w = 0;
            char* inp = in;
            size_t inLeft = 2;
            char* outp = reinterpret_cast<char*>(&w);
            size_t outLeft = sizeof(w);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1) && w >= 0x80) {
                expected += w;
                continue;
            }
            for (const auto& e : extras)
                if (e.row == row && e.cell == cell) expected += e.code;
        }
        EXPECT_EQ(expected, GetSymbolPage(row)) << "row " << row;
    }
    iconv_close(cd);
    EXPECT_EQ(nullptr, GetSymbolPage(0));
    EXPECT_EQ(nullptr, GetSymbolPage(10));
}

}  // namespace
