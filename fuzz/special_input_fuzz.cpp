// Fuzzes the special input mode: any bytes (one character each, so the
// digits, operators and letters the user types are near) as digit input and
// as an expression. Records must stay within the capacity, carry a text and
// their source type; a calculator result is a number text or an infinity.
#include <cstring>
#include <cwchar>
#include <string>

#include "fuzz/fuzz_support.h"
#include "kernel/convert/calculator.h"
#include "kernel/convert/number_cands.h"
#include "kernel/convert/special_records.h"
#include "kernel/runtime/scope_heap.h"

namespace {

constexpr int kCapacity = 12;

void CheckRecords(t_candWord* const* out, int count, int capacity, uint16_t low, uint16_t high) {
    FUZZ_CHECK(count >= 0 && count <= capacity);
    for (int i = 0; i < count; ++i) {
        FUZZ_CHECK(out[i] && out[i]->text && LstrGetByteLength(out[i]->text) >= 2);
        FUZZ_CHECK(out[i]->sourceType >= low && out[i]->sourceType <= high);
        FUZZ_CHECK(out[i]->score == 1.0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 200) return 0;  // the kernel refuses input beyond 78 characters anyway
    std::wstring input;
    for (size_t i = 0; i < size; ++i) input += data[i] ? wchar_t(data[i]) : L'0';
    t_scopeHeap heap;
    t_candWord* out[kCapacity] = {};
    const int capacity = size ? 1 + data[0] % kCapacity : kCapacity;

    int n = MakeNumberCandidates(heap, input.c_str(), out, capacity);
    CheckRecords(out, n, capacity, kCandSourceNumeral, kCandSourceSymbol);

    n = MakeCalculatorCandidates(heap, input.c_str(), out, capacity);
    CheckRecords(out, n, capacity, kCandSourceCalculator, kCandSourceCalculator);

    t_calculator calculator;
    wchar_t text[t_calculator::kTextRoom];
    const bool ok = calculator.Calculate(input.c_str(), text, t_calculator::kTextRoom);
    FUZZ_CHECK(std::wcslen(text) < t_calculator::kTextRoom);
    if (ok) {
        const std::wstring result = text;
        FUZZ_CHECK(result == L"+∞" || result == L"-∞" ||
                   result.find_first_not_of(L"0123456789.-+e") == std::wstring::npos);
        FUZZ_CHECK(!(calculator.GetResult() != calculator.GetResult()));  // never NaN
    }
    return 0;
}
