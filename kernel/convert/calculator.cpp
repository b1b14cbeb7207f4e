// Tokenising and precedence climbing over at most 96 tokens, the operators and
// functions, result formatting and the calculator's candidate records.
// One thread at a time per calculator.
#include "kernel/convert/calculator.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cwchar>
#include <new>
#include <string>

#include "kernel/convert/number_text.h"
#include "kernel/convert/special_records.h"

namespace {

enum t_tokenKind : uint32_t {
    kNumber = 3,
    kFunction = 4,
    kBinary = 5,
    kListFunction = 6,
    kPostfix = 7,
    kOpen = 8,
    kClose = 9,
    kComma = 10,
};

// Operator ids; 0 is the top-level context and 1 the context of a unary minus.
enum t_opId : uint32_t {
    kTop = 0,
    kUnary = 1,
    kAdd = 2,
    kSub = 3,
    kMul = 4,
    kDiv = 5,
    kMod = 6,
    kPow = 7,
    kLog = 8,
    kLn = 9,
    kSin = 10,
    kCos = 11,
    kTan = 12,
    kAtan = 13,
    kSqrt = 14,
    kExp = 15,
    kAcos = 16,
    kAsin = 17,
    kMin = 18,
    kMax = 19,
    kAvg = 20,
    kVar = 21,
    kStdev = 22,
    kFactorial = 23,
    kOpenId = 24,
    kCloseId = 25,
    kCommaId = 26,
};

struct t_operator {
    const wchar_t* text;
    t_tokenKind kind;
    int precedence;
};

// Indexed by id - 2 and tried in this order, case ignored.
const t_operator kOperators[] = {
    {L"+", kBinary, 10},
    {L"-", kBinary, 10},
    {L"*", kBinary, 20},
    {L"/", kBinary, 20},
    {L"mod", kBinary, 18},
    {L"^", kBinary, 26},
    {L"log", kFunction, 30},
    {L"ln", kFunction, 30},
    {L"sin", kFunction, 30},
    {L"cos", kFunction, 30},
    {L"tan", kFunction, 30},
    {L"arctan", kFunction, 30},
    {L"sqrt", kFunction, 30},
    {L"exp", kFunction, 30},
    {L"arccos", kFunction, 30},
    {L"arcsin", kFunction, 30},
    {L"min(", kListFunction, 30},
    {L"max(", kListFunction, 30},
    {L"avg(", kListFunction, 30},
    {L"var(", kListFunction, 30},
    {L"stdev(", kListFunction, 30},
    {L"!", kPostfix, 28},
    {L"(", kOpen, 1},
    {L")", kClose, 1},
    {L",", kComma, 0},
};
constexpr uint32_t kFirstOperatorId = 2;
constexpr uint32_t kOperatorCount = sizeof(kOperators) / sizeof(kOperators[0]);

int Precedence(uint32_t id) {
    if (id == kTop) return 0;
    if (id == kUnary) return 50;
    return kOperators[id - kFirstOperatorId].precedence;
}

constexpr double kPi = 3.141592653589793;
constexpr double kCleanHuge = 1.6e16;
constexpr double kCleanTiny = 2.220446049250313e-16;
constexpr double kFactorialLimit = 150;

const wchar_t kUnknownText[] = L"错误：含有不可识别的字符(串)";
const wchar_t kUnbalancedText[] = L"算式错误：左右括号不匹配";
const wchar_t kAdjacentNumbersText[] = L"格式错误：数字不能紧邻";
const wchar_t kNoLeftOperandText[] = L"算式错误：缺少左运算数";
const wchar_t kNoOperatorText[] = L"算式错误：缺少运算符";
const wchar_t kNoOpenText[] = L"算式错误：缺少左括号";
const wchar_t kNoFactorialOperandText[] = L"算式错误：阶乘缺少运算数";
const wchar_t kUnparsableText[] = L"算式无法解析";
const wchar_t kDivideByZeroText[] = L"错误：除数为零";
const wchar_t kModByZeroText[] = L"错误：模数为零";
const wchar_t kPowPositiveText[] = L"幂运算正溢出";
const wchar_t kPowNegativeText[] = L"幂运算负溢出";
const wchar_t kLogDomainText[] = L"错误：log运算数必须大于零";
const wchar_t kLnDomainText[] = L"错误：ln运算数必须大于零";
const wchar_t kSqrtDomainText[] = L"错误：开方数必须大于或等于零";
const wchar_t kExpOverflowText[] = L"自然指数幂运算溢出";
const wchar_t kAcosDomainText[] = L"错误：arccos运算数应该在[-1,+1]之间";
const wchar_t kAsinDomainText[] = L"错误：arcsin运算数应该在[-1,+1]之间";
const wchar_t kFactorialRangeText[] = L"错误：阶乘运算超出范围";
const wchar_t kFactorialFractionText[] = L"错误：阶乘不支持小数";
const wchar_t kTooManyArgumentsText[] = L"错误：多元运算的运算数过多";
const wchar_t kListFormatText[] = L"错误：多元运算格式错误";
const wchar_t kNoStateText[] = L"创建计算器实例失败";
const wchar_t kFormatFailedText[] = L"字符串转换失败";
// Not a real number, such as (-8)^(1/3) or tan(pi/2)-tan(pi/2).
const wchar_t kNotRealText[] = L"错误：运算结果不是实数";
// More than the token room: never evaluate a cut-off prefix.
const wchar_t kTooLongText[] = L"错误：算式过长";

bool MatchNoCase(const wchar_t* text, const wchar_t* word) {
    for (; *word; ++text, ++word) {
        wchar_t c = *text;
        if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
        if (c != *word) return false;
    }
    return true;
}

// Bounded copy with terminator; false when nothing fits.
bool CopyText(wchar_t* out, size_t capacity, const wchar_t* text, size_t length) {
    if (!out || capacity == 0) return false;
    const size_t n = length < capacity - 1 ? length : capacity - 1;
    std::wmemcpy(out, text, n);
    out[n] = 0;
    return n == length;
}

// Values too large or too small to be anything but rounding noise of an
// exact answer (sin(pi), tan(pi/2)) become infinity or zero.
double Clean(double v) {
    if (v > kCleanHuge) return INFINITY;
    if (v < -kCleanHuge) return -INFINITY;
    if (std::fabs(v) < kCleanTiny) return 0.0;
    return v;
}

}  // namespace

class t_calcCore {
public:
    static constexpr int kMaxTokens = 96;
    static constexpr int kMaxArguments = 48;

    t_calcCore() { SetError(L"NO_ERR"); }

    bool Evaluate(const wchar_t* expression, wchar_t* out, size_t capacity);
    bool FormatPercent(wchar_t* out, size_t capacity) const;

    double lastResult = 0.0;
    bool percent = false;
    wchar_t errorText[t_calculator::kTextRoom] = {};

private:
    struct t_token {
        uint32_t kind;
        uint32_t op;
        double value;
    };

    bool Tokenize(const wchar_t* text);
    bool EvalRange(int& pos, uint32_t context, double& value);
    bool EvalMultiArg(int& pos, uint32_t id, double& value);
    bool ApplyBinary(uint32_t op, double left, double right, double& value);
    bool ApplyUnary(uint32_t op, double x, double& value);
    bool Factorial(double x, double& value);
    bool ApplyMultiArg(uint32_t op, const double* args, int count, double& value);
    bool FormatResult(wchar_t* out, size_t capacity);
    bool Fail(const wchar_t* text) {
        SetError(text);
        return false;
    }
    // Every operation ends here: a NaN is no result at all.
    bool Result(double v, double& value) {
        if (std::isnan(v)) return Fail(kNotRealText);
        value = v;
        return true;
    }
    void SetError(const wchar_t* text) {
        CopyText(errorText, t_calculator::kTextRoom, text, std::wcslen(text));
    }

    t_token m_tokens[kMaxTokens];
    int m_count = 0;
    bool m_pi = false;
};

bool t_calcCore::Tokenize(const wchar_t* text) {
    m_count = 0;
    int open = 0;
    const wchar_t* p = text;
    while (*p) {
        if (*p == L'=' && p[1] == 0) break;  // a closing "=" ends the input
        if (m_count == kMaxTokens) return Fail(kTooLongText);
        t_token& t = m_tokens[m_count];
        if ((*p >= L'0' && *p <= L'9') || *p == L'.') {
            // digits[.digits]; a second "." starts the next number. from_chars
            // reads it in any locale.
            std::string ascii;
            bool dot = false;
            while ((*p >= L'0' && *p <= L'9') || (*p == L'.' && !dot)) {
                if (*p == L'.') dot = true;
                ascii += char(*p);
                ++p;
            }
            double v = 0.0;
            if (ascii != ".") {
                const auto r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
                if (r.ec == std::errc::result_out_of_range) {
                    const size_t intEnd = ascii.find('.');
                    const std::string whole = ascii.substr(0, intEnd);
                    v = whole.find_first_not_of('0') != std::string::npos ? HUGE_VAL : 0.0;
                }
            }
            t = {kNumber, 0, v};
            ++m_count;
            continue;
        }
        uint32_t id = 0;
        for (uint32_t i = 0; i < kOperatorCount; ++i) {
            if (MatchNoCase(p, kOperators[i].text)) {
                id = i + kFirstOperatorId;
                break;
            }
        }
        if (id != 0) {
            const t_operator& op = kOperators[id - kFirstOperatorId];
            if (op.kind == kOpen || op.kind == kListFunction) ++open;
            if (op.kind == kClose) --open;
            t = {uint32_t(op.kind), id, 0.0};
            ++m_count;
            p += std::wcslen(op.text);
            continue;
        }
        if (MatchNoCase(p, L"pi")) {
            m_pi = true;
            t = {kNumber, 0, kPi};
            ++m_count;
            p += 2;
            continue;
        }
        return Fail(kUnknownText);
    }
    if (open != 0) return Fail(kUnbalancedText);
    return m_count >= 2;
}

// Precedence climbing: evaluates from pos in the given context and stops at
// the first operator that binds no tighter than the context (left to the
// caller), at "," and at a closing parenthesis of an outer context.
bool t_calcCore::EvalRange(int& pos, uint32_t context, double& value) {
    bool has = false;
    double v = 0.0;
    const int contextPrecedence = Precedence(context);
    while (pos < m_count) {
        const t_token& t = m_tokens[pos];
        switch (t.kind) {
            case kNumber:
                if (has) return Fail(kAdjacentNumbersText);
                v = t.value;
                has = true;
                ++pos;
                break;
            case kBinary: {
                double right = 0.0;
                if (!has) {
                    if (t.op != kSub) return Fail(kNoLeftOperandText);
                    ++pos;
                    if (!EvalRange(pos, kUnary, right)) return false;
                    v = -right;
                    has = true;
                    break;
                }
                if (Precedence(t.op) <= contextPrecedence) {
                    value = v;
                    return true;
                }
                ++pos;
                if (!EvalRange(pos, t.op, right) || !ApplyBinary(t.op, v, right, v)) return false;
                break;
            }
            case kFunction: {
                if (has) return Fail(kNoOperatorText);
                double x = 0.0;
                ++pos;
                if (!EvalRange(pos, t.op, x) || !ApplyUnary(t.op, x, v)) return false;
                has = true;
                break;
            }
            case kPostfix:
                if (!has) return Fail(kNoFactorialOperandText);
                if (contextPrecedence > Precedence(kFactorial)) {
                    value = v;
                    return true;
                }
                if (!Factorial(v, v)) return false;
                ++pos;
                break;
            case kOpen:
                if (has) return Fail(kNoOperatorText);
                ++pos;
                if (!EvalRange(pos, kOpenId, v)) return false;
                has = true;
                break;
            case kListFunction:
                if (has) return Fail(kNoOperatorText);
                if (!EvalMultiArg(pos, t.op, v)) return false;
                has = true;
                break;
            case kClose:
                if (context == kTop) return Fail(kNoOpenText);
                if (context == kOpenId) ++pos;
                if (!has) return false;
                value = v;
                return true;
            case kComma:
                if (!has) return false;
                value = v;
                return true;
            default:
                if (t.kind > 1) return Fail(kUnparsableText);
                ++pos;
                break;
        }
    }
    if (!has) return false;
    value = v;
    return true;
}

// pos is at the list function; arguments follow, separated by ",", closed by ")".
bool t_calcCore::EvalMultiArg(int& pos, uint32_t id, double& value) {
    double args[kMaxArguments];
    int count = 0;
    for (;;) {
        ++pos;  // past the function or the comma
        double a = 0.0;
        if (!EvalRange(pos, kCommaId, a)) return false;
        if (count == kMaxArguments) return Fail(kTooManyArgumentsText);
        args[count++] = a;
        if (pos < m_count && m_tokens[pos].kind == kComma) continue;
        if (pos < m_count && m_tokens[pos].kind == kClose) {
            ++pos;
            break;
        }
        return Fail(kListFormatText);
    }
    return ApplyMultiArg(id, args, count, value);
}

bool t_calcCore::ApplyBinary(uint32_t op, double left, double right, double& value) {
    switch (op) {
        case kAdd:
            return Result(left + right, value);
        case kSub:
            return Result(left - right, value);
        case kMul:
            return Result(left * right, value);
        case kDiv:
            if (right == 0.0) return Fail(kDivideByZeroText);
            percent = true;
            return Result(left / right, value);
        case kMod:
            if (right == 0.0) return Fail(kModByZeroText);
            return Result(std::fmod(left, right), value);
        case kPow: {
            const double v = std::pow(left, right);
            if (v > DBL_MAX) return Fail(kPowPositiveText);
            if (v < -DBL_MAX) return Fail(kPowNegativeText);
            return Result(v, value);
        }
        default:
            return Fail(kUnparsableText);
    }
}

bool t_calcCore::ApplyUnary(uint32_t op, double x, double& value) {
    double v = 0.0;
    switch (op) {
        case kLog:
            if (!(x > 0.0)) return Fail(kLogDomainText);
            v = std::log10(x);
            break;
        case kLn:
            if (!(x > 0.0)) return Fail(kLnDomainText);
            v = std::log(x);
            break;
        case kSin:
            v = m_pi ? Clean(std::sin(x)) : std::sin(x);
            break;
        case kCos:
            v = m_pi ? Clean(std::cos(x)) : std::cos(x);
            break;
        case kTan:
            v = Clean(std::tan(x));
            break;
        case kAtan:
            v = m_pi ? Clean(std::atan(x)) : std::atan(x);
            break;
        case kSqrt:
            if (x < 0.0) return Fail(kSqrtDomainText);
            v = std::sqrt(x);
            break;
        case kExp:
            v = std::exp(x);
            if (v > DBL_MAX) return Fail(kExpOverflowText);
            break;
        case kAcos:
            if (x < -1.0 || x > 1.0) return Fail(kAcosDomainText);
            v = m_pi ? Clean(std::acos(x)) : std::acos(x);
            break;
        case kAsin:
            if (x < -1.0 || x > 1.0) return Fail(kAsinDomainText);
            v = m_pi ? Clean(std::asin(x)) : std::asin(x);
            break;
        default:
            return Fail(kUnparsableText);
    }
    return Result(v, value);
}

bool t_calcCore::Factorial(double x, double& value) {
    if (x < 0.0 || x >= kFactorialLimit) return Fail(kFactorialRangeText);
    if (x != std::floor(x)) return Fail(kFactorialFractionText);
    double v = 1.0;
    for (int i = int(x); i > 1; --i) v *= i;
    return Result(v, value);
}

bool t_calcCore::ApplyMultiArg(uint32_t op, const double* args, int count, double& value) {
    double v = args[0];
    double sum = 0.0;
    for (int i = 0; i < count; ++i) {
        if (op == kMin && args[i] < v) v = args[i];
        if (op == kMax && args[i] > v) v = args[i];
        sum += args[i];
    }
    if (op == kMin || op == kMax) return Result(v, value);
    const double mean = sum / count;
    if (op == kAvg) return Result(mean, value);
    double squares = 0.0;
    for (int i = 0; i < count; ++i) squares += (args[i] - mean) * (args[i] - mean);
    const double variance = squares / count;
    if (op == kVar) return Result(variance, value);
    if (op == kStdev) return Result(std::sqrt(variance), value);
    return Fail(kUnparsableText);
}

bool t_calcCore::FormatResult(wchar_t* out, size_t capacity) {
    std::wstring text;
    if (lastResult > DBL_MAX)
        text = L"+∞";
    else if (lastResult < -DBL_MAX)
        text = L"-∞";
    else if (!FormatGeneral10(text, lastResult))
        return Fail(kFormatFailedText);
    if (!CopyText(out, capacity, text.data(), text.size())) return Fail(kFormatFailedText);
    return true;
}

bool t_calcCore::FormatPercent(wchar_t* out, size_t capacity) const {
    std::wstring text;
    if (!FormatFixed2(text, lastResult * 100.0)) return false;
    text += L'%';
    return CopyText(out, capacity, text.data(), text.size());
}

bool t_calcCore::Evaluate(const wchar_t* expression, wchar_t* out, size_t capacity) {
    percent = false;
    m_pi = false;
    errorText[0] = 0;
    int pos = 0;
    double v = 0.0;
    bool ok = expression && Tokenize(expression) && EvalRange(pos, kTop, v);
    if (ok && pos < m_count) ok = false;  // stopped early: a stray "," at top level
    if (ok) {
        lastResult = v;
        percent = percent && v > 0.0 && v < 2.0;
        ok = FormatResult(out, capacity);
    }
    if (!ok) {
        percent = false;
        CopyText(out, capacity, errorText, std::wcslen(errorText));
    }
    return ok;
}

t_calculator::t_calculator() : m_core(new (std::nothrow) t_calcCore) {}

t_calculator::~t_calculator() {
    delete m_core;
}

bool t_calculator::Calculate(const wchar_t* expression, wchar_t* out, size_t capacity) {
    if (!m_core) {
        CopyText(out, capacity, kNoStateText, std::wcslen(kNoStateText));
        return false;
    }
    return m_core->Evaluate(expression, out, capacity);
}

double t_calculator::GetResult() const {
    return m_core ? m_core->lastResult : 0.0;
}

bool t_calculator::CanShowPercent() const {
    return m_core && m_core->percent;
}

bool t_calculator::GetPercentText(wchar_t* out, size_t capacity) const {
    return m_core && m_core->percent && m_core->FormatPercent(out, capacity);
}

const wchar_t* t_calculator::GetErrorText() const {
    return m_core ? m_core->errorText : nullptr;
}

int MakeCalculatorCandidates(t_scopeHeap& arena, const wchar_t* expression, t_candWord** out,
                             int capacity) {
    constexpr int kMaxRecords = 4;
    if (!expression || !out || capacity <= 0) return 0;
    t_calculator calculator;
    wchar_t result[t_calculator::kTextRoom];
    if (!calculator.Calculate(expression, result, t_calculator::kTextRoom)) return 0;
    t_specialRecords records(arena, out, capacity, kMaxRecords);
    const std::wstring resultText = result;
    records.Add(resultText, kCandSourceCalculator);
    wchar_t percent[t_calculator::kTextRoom];
    if (calculator.GetPercentText(percent, t_calculator::kTextRoom))
        records.Add(percent, kCandSourceCalculator);
    const std::wstring typed = expression;
    if (typed != resultText) {
        std::wstring equation = typed;
        if (equation.back() != L'=') equation += L'=';
        records.Add(equation + resultText, kCandSourceCalculator);
    }
    const double value = calculator.GetResult();
    if (value >= 1000.0 || value <= -1000.0) {
        const bool negative = resultText[0] == L'-';
        const std::wstring digits = negative ? resultText.substr(1) : resultText;
        std::wstring separated = negative ? L"-" : L"";
        if (FormatThousands(separated, digits.data(), digits.size()))
            records.Add(separated, kCandSourceCalculator);
    }
    return records.Count();
}
