// The expression calculator: results, error texts and its candidate records.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "kernel/convert/calculator.h"
#include "kernel/convert/special_records.h"
#include "tests/kernel/convert/special_input_support.h"

namespace {

struct t_outcome {
    bool ok;
    std::wstring text;  // the result, or the error text
};

t_outcome Calculate(const std::wstring& expression) {
    t_calculator calculator;
    wchar_t out[t_calculator::kTextRoom] = {};
    const bool ok = calculator.Calculate(expression.c_str(), out, t_calculator::kTextRoom);
    return {ok, out};
}

std::vector<std::wstring> Records(const wchar_t* expression, int capacity = 8) {
    t_scopeHeap heap;
    std::vector<t_candWord*> out(size_t(capacity), nullptr);
    const int n = MakeCalculatorCandidates(heap, expression, out.data(), capacity);
    for (int i = 0; i < n; ++i) EXPECT_EQ(kCandSourceCalculator, out[size_t(i)]->sourceType);
    return convert_test::Texts(out.data(), n);
}

// "1+1+...+1" of n ones after an optional lead.
std::wstring Sum(const std::wstring& lead, int ones) {
    std::wstring s = lead + L"1";
    for (int i = 1; i < ones; ++i) s += L"+1";
    return s;
}

std::wstring List(int arguments) {
    std::wstring s = L"min(";
    for (int i = 0; i < arguments; ++i) s += i ? L",1" : L"1";
    return s + L")";
}

TEST(CalculatorTest, ExpressionsEvaluateOrFailWithTheirMessage) {
    struct {
        std::wstring expression;
        bool ok;
        std::wstring text;
    } table[] = {
        {L"1+2*3", true, L"7"},
        {L"2^3^2", true, L"64"},
        {L"10mod3", true, L"1"},
        {L"-7mod3", true, L"-1"},
        {L"2*-3", true, L"-6"},
        {L"1/4", true, L"0.25"},
        {L".5+1.", true, L"1.5"},
        {L"min(3,1,2)", true, L"1"},
        {L"max(3,(1+5),2)", true, L"6"},
        {L"avg(1,2,3,4)", true, L"2.5"},
        {L"var(1,2,3,4)", true, L"1.25"},
        {L"stdev(2,4,4,4,5,5,7,9)", true, L"2"},
        {L"SIN(PI)", true, L"0"},
        {L"sin(pi)*0+sqrt2", true, L"1.414213562"},
        {L"tan(pi/2)", true, L"+∞"},
        {L"-tan(pi/2)", true, L"-∞"},
        {L"sin30+1", true, L"0.01196837591"},
        {L"149!", true, L"3.808922638e+260"},
        {L"0!+1", true, L"2"},
        {L"2+3=", true, L"5"},
        {L"10 mod 3", false, L"错误：含有不可识别的字符(串)"},
        {L"sin 30+1", false, L"错误：含有不可识别的字符(串)"},
        {L"2=3", false, L"错误：含有不可识别的字符(串)"},
        {L"(1+2", false, L"算式错误：左右括号不匹配"},
        {L"1.2.3", false, L"格式错误：数字不能紧邻"},
        {L"*3", false, L"算式错误：缺少左运算数"},
        {L"2(3)", false, L"算式错误：缺少运算符"},
        {L"2sin1", false, L"算式错误：缺少运算符"},
        {L"1)+(2", false, L"算式错误：缺少左括号"},
        {L"!1", false, L"算式错误：阶乘缺少运算数"},
        {L"1/0", false, L"错误：除数为零"},
        {L"5mod0", false, L"错误：模数为零"},
        {L"10^400", false, L"幂运算正溢出"},
        {L"(-10)^401", false, L"幂运算负溢出"},
        {L"ln0", false, L"错误：ln运算数必须大于零"},
        {L"log(-1)", false, L"错误：log运算数必须大于零"},
        {L"sqrt(-1)", false, L"错误：开方数必须大于或等于零"},
        {L"exp(1000)", false, L"自然指数幂运算溢出"},
        {L"arccos2", false, L"错误：arccos运算数应该在[-1,+1]之间"},
        {L"arcsin(-2)", false, L"错误：arcsin运算数应该在[-1,+1]之间"},
        {L"-3!", false, L"错误：阶乘运算超出范围"},
        {L"150!", false, L"错误：阶乘运算超出范围"},
        {L"2.5!", false, L"错误：阶乘不支持小数"},
        {L"min(1 2)", false, L"错误：含有不可识别的字符(串)"},
        {L"min()", false, L""},
        {L"5", false, L""},
        {L"5=", false, L""},
        {L"1+", false, L""},
        {L"1,2", false, L""},  // a stray "," stops the evaluation early
        // Not a real number: no result, not -∞.
        {L"(-8)^(1/3)", false, L"错误：运算结果不是实数"},
        {L"tan(pi/2)-tan(pi/2)", false, L"错误：运算结果不是实数"},
        {L"min((-8)^(1/3),1)", false, L"错误：运算结果不是实数"},
        // 96 tokens are read; a 97th is refused instead of evaluating the
        // first 96 as if they were the whole.
        {Sum(L"-", 48), true, L"46"},
        {Sum(L"-", 48) + L"!", false, L"错误：算式过长"},
        {List(47), true, L"1"},
        {List(48), false, L"错误：算式过长"},
    };
    for (const auto& c : table) {
        const t_outcome got = Calculate(c.expression);
        EXPECT_EQ(c.ok, got.ok) << c.expression;
        EXPECT_EQ(c.text, got.text) << c.expression;
    }
}

TEST(CalculatorTest, PercentFormOnlyForQuotientsBetweenZeroAndTwo) {
    struct {
        const wchar_t* expression;
        const wchar_t* percent;  // null: no percent form
    } cases[] = {{L"1/4", L"25.00%"},
                 {L"3/2", L"150.00%"},
                 {L"8/2", nullptr},
                 {L"1*0.5", nullptr},
                 {L"-1/4", nullptr}};
    for (const auto& c : cases) {
        t_calculator calculator;
        wchar_t out[t_calculator::kTextRoom];
        ASSERT_TRUE(calculator.Calculate(c.expression, out, t_calculator::kTextRoom))
            << c.expression;
        wchar_t percent[t_calculator::kTextRoom] = {};
        EXPECT_EQ(c.percent != nullptr, calculator.GetPercentText(percent, t_calculator::kTextRoom))
            << c.expression;
        if (c.percent) {
            EXPECT_STREQ(c.percent, percent);
        }
    }
}

TEST(CalculatorTest, RecordsAreResultPercentEquationAndSeparatedForm) {
    struct {
        const wchar_t* expression;
        int capacity;
        std::vector<std::wstring> texts;
    } cases[] = {
        {L"1+2*3", 8, {L"7", L"1+2*3=7"}},
        {L"1/4", 8, {L"0.25", L"25.00%", L"1/4=0.25"}},
        {L"1000*1000", 8, {L"1000000", L"1000*1000=1000000", L"1,000,000"}},
        {L"-2000*1", 8, {L"-2000", L"-2000*1=-2000", L"-2,000"}},
        {L"10^20", 8, {L"1e+20", L"10^20=1e+20"}},
        {L"2+3=", 8, {L"5", L"2+3=5"}},
        {L"1/4", 2, {L"0.25", L"25.00%"}},
        {L"(-8)^(1/3)", 8, {}},
        {L"1/0", 8, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.texts, Records(c.expression, c.capacity)) << c.expression;
}

// The host's LC_NUMERIC (fcitx sets the user's locale) never changes the
// decimal point of a result or of a typed number.
TEST(CalculatorTest, DecimalCommaLocaleChangesNoText) {
    convert_test::t_testLocale german("de_DE.UTF-8", "de_DE");
    if (!german.Ready()) GTEST_SKIP() << "de_DE.UTF-8 cannot be made here";
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "de_DE.UTF-8"));
    const std::vector<std::wstring> texts = Records(L"1.5/4");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ((std::vector<std::wstring>{L"0.375", L"37.50%", L"1.5/4=0.375"}), texts);
}

}  // namespace
