// The expression calculator of the special input mode: "1+2*3" evaluates to
// 7 in double precision, with functions, factorial and list functions, and
// fails with a Chinese message. One thread at a time per calculator.
#pragma once

#include <cstddef>

#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"

class t_calcCore;

// Owns one evaluation state; the handle holds none when memory ran out.
class t_calculator {
public:
    // Room of the result and error texts, in characters with the terminator.
    static constexpr size_t kTextRoom = 64;

    t_calculator();
    ~t_calculator();
    t_calculator(const t_calculator&) = delete;
    t_calculator& operator=(const t_calculator&) = delete;

    // Evaluates a zero-terminated expression and writes the result ("%.10g",
    // "+∞" or "-∞") into out. False with the error text (possibly empty, for
    // an expression such as "1+" or a lone number) in out instead; without
    // a state "创建计算器实例失败".
    bool Calculate(const wchar_t* expression, wchar_t* out, size_t capacity);
    double GetResult() const;     // 0.0 without a state
    bool CanShowPercent() const;  // a division gave a result in (0, 2)
    // result x 100 as "25.00%"; false when the percent form is off.
    bool GetPercentText(wchar_t* out, size_t capacity) const;
    const wchar_t* GetErrorText() const;  // null without a state

private:
    t_calcCore* m_core;
};

// Records of an expression: the result, its percent form, the equation
// ("1+2*3=7") and for results of 1000 or more in magnitude the separated
// form ("1,000,000"), at most `capacity`, into out[0 ..] as contiguous
// records in the arena (kCandSourceCalculator). Returns how many; 0 when the
// expression does not evaluate.
int MakeCalculatorCandidates(t_scopeHeap& arena, const wchar_t* expression, t_candWord** out,
                             int capacity);
