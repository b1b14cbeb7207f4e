// Lookups over the compiled-in syllable inventory.
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "kernel/lexicon/syllable_table.h"

namespace {

const wchar_t* const kLetterTexts[kLetterCount] = {
    L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H", L"I", L"J", L"K", L"L", L"M",
    L"N", L"O", L"P", L"Q", L"R", L"S", L"T", L"U", L"V", L"W", L"X", L"Y", L"Z"};

// The longest syllable: "chuang", "shuang", "zhuang".
constexpr size_t kLongestSyllable = 6;

// Whether some syllable begins with the n letters at s (lower case).
bool BeginsSyllable(const wchar_t* s, size_t n) {
    const wchar_t* const* end = kSyllableTexts + kSyllableCount;
    const wchar_t* const* at =
        std::lower_bound(kSyllableTexts, end, s,
                         [n](const wchar_t* a, const wchar_t* b) { return wcsncmp(a, b, n) < 0; });
    return at != end && wcsncmp(*at, s, n) == 0;
}

}  // namespace

bool ReadsAsPinyinSyllables(const wchar_t* text) {
    if (!text || !text[0]) return false;
    std::wstring lower(text);
    for (wchar_t& c : lower) {
        if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
        if ((c < L'a' || c > L'z') && c != L'\'') return false;
    }
    // reach[i]: the first i letters are whole syllables.
    const size_t n = lower.size();
    std::vector<bool> reach(n + 1, false);
    reach[0] = true;
    wchar_t piece[kLongestSyllable + 1];
    for (size_t i = 0; i < n; ++i) {
        if (!reach[i]) continue;
        if (lower[i] == L'\'') {
            if (i > 0 && i + 1 < n) reach[i + 1] = true;
            continue;
        }
        for (size_t k = 1; k <= kLongestSyllable && i + k <= n; ++k) {
            std::wmemcpy(piece, lower.data() + i, k);
            piece[k] = 0;
            if (i + k == n && BeginsSyllable(piece, k)) return true;
            if (SyllableTableFind(piece) >= 0) reach[i + k] = true;  // lower case: no letter ids
        }
    }
    return reach[n];
}

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
