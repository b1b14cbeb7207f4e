// Lookups over the compiled-in syllable inventory.
#include <cwchar>

#include "kernel/lexicon/syllable_table.h"

namespace {

const wchar_t* const kLetterTexts[kLetterCount] = {
    L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H", L"I", L"J", L"K", L"L", L"M",
    L"N", L"O", L"P", L"Q", L"R", L"S", L"T", L"U", L"V", L"W", L"X", L"Y", L"Z"};

}  // namespace

int SyllableTableFind(const wchar_t* text) {
    if (!text || !text[0]) return -1;
    const size_t n = wcsnlen(text, kMaxSyllableLookupChars + 1);
    if (n > kMaxSyllableLookupChars) return -1;
    if (n == 1 && text[0] >= L'A' && text[0] <= L'Z') return kSyllableCount + (text[0] - L'A');
    int lo = 0, hi = kSyllableCount - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = wcscmp(kSyllableTexts[mid], text);
        if (c == 0) return mid;
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

const wchar_t* SyllableTableText(int id) {
    if (id < 0 || id >= kPinyinIdCount) return nullptr;
    return id < kSyllableCount ? kSyllableTexts[id] : kLetterTexts[id - kSyllableCount];
}
