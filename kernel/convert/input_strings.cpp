// Input-string tests and views (see the header). Pure; any thread.
#include "kernel/convert/input_strings.h"

#include <cwchar>

#include "kernel/runtime/text_helpers.h"

namespace {

bool IsAsciiLetter(uint32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsAsciiLetterOrDigit(uint32_t c) {
    return IsAsciiLetter(c) || (c >= '0' && c <= '9');
}

const wchar_t* const kDomainSuffixes[] = {
    L".com",  L".net", L".org",  L".cn",   L".biz",    L".name", L".tv",  L".info",
    L".mobi", L".cc",  L".hk",   L".tw",   L".us",     L".eu",   L".gov", L".int",
    L".edu",  L".mil", L".coop", L".aero", L".museum", L".arpa",
};

}  // namespace

bool IsAsciiLetterString(const wchar_t* s) {
    if (!s) return false;
    for (; *s; ++s)
        if (!IsAsciiLetter(uint32_t(*s))) return false;
    return true;
}

bool IsLowerAsciiString(const wchar_t* s) {
    if (!s) return false;
    for (; *s; ++s)
        if (*s < L'a' || *s > L'z') return false;
    return true;
}

bool HasOnlyAeoVowels(const wchar_t* s) {
    if (!s || !*s || s[0] == L'i' || s[0] == L'u' || s[0] == L'v') return false;
    bool aeo = false;
    for (; *s; ++s) {
        if (*s == L'u' || *s == L'i' || *s == L'v') return false;
        if (*s == L'a' || *s == L'e' || *s == L'o') aeo = true;
    }
    return aeo;
}

const wchar_t* FindMailAtSign(const wchar_t* s) {
    if (!s || !*s) return nullptr;
    const wchar_t* at = std::wcschr(s + 1, L'@');
    return at && IsAsciiLetterOrDigit(uint32_t(at[1])) ? at : nullptr;
}

const wchar_t* CheckMailDomain(const wchar_t* s) {
    const wchar_t* at = FindMailAtSign(s);
    if (!at) return nullptr;
    int dots = 0;
    for (const wchar_t* p = at + 1; *p; ++p) {
        if (*p != L'.') continue;
        if (p[-1] == L'.') return nullptr;
        ++dots;
    }
    return dots >= 1 && dots <= 3 ? at : nullptr;
}

bool EndsWithDomainSuffix(const wchar_t* s) {
    if (!s || std::wcsstr(s, L"..")) return false;
    const size_t n = std::wcslen(s);
    for (const wchar_t* suffix : kDomainSuffixes) {
        const wchar_t* first = std::wcsstr(s, suffix);
        if (first && size_t(first - s) + std::wcslen(suffix) == n) return true;
    }
    return false;
}

uint32_t DecodeUtf16Pair(int* count, const uint16_t* units, int available) {
    if (!units || available < 1) {
        if (count) *count = 0;
        return 0;
    }
    const uint16_t lead = units[0];
    if (lead >= 0xD800 && lead <= 0xDBFF && available >= 2 && units[1] >= 0xDC00 &&
        units[1] <= 0xDFFF) {
        if (count) *count = 2;
        return 0x10000u + ((uint32_t(lead) - 0xD800u) << 10) + (uint32_t(units[1]) - 0xDC00u);
    }
    if (count) *count = 1;
    return lead;
}

// ---------------------------------------------------------------- segmented string

t_segmentedStr::t_segmentedStr(const wchar_t* t, const t_lstr* e)
    : text(t),
      ends(e ? LstrGetUnits(e) : nullptr),
      length(t ? int32_t(std::wcslen(t)) : 0),
      count(e ? int32_t(LstrGetLength(e)) : 0) {}

const wchar_t* t_segmentedStr::GetSegment(int index, int* segLength) const {
    if (!text || !ends || index < 1 || index > count) return nullptr;
    const int32_t end = ends[index - 1];
    const int32_t start = index == 1 ? 0 : ends[index - 2];
    // Ends that go backwards would give a negative length.
    if (end > length || start >= length || start > end) return nullptr;
    if (segLength) *segLength = end - start;
    return text + start;
}

t_lstr* t_segmentedStr::GetSegmentTrimmed(t_scopeHeap& pool, int index) const {
    int n = 0;
    const wchar_t* p = GetSegment(index, &n);
    if (!p) return nullptr;
    while (n > 0 && p[n - 1] == L'\'') --n;
    if (n == 0) return nullptr;
    const wchar_t* copy = pool.DupWideN(p, size_t(n));
    return copy ? WideToLstr16(pool, copy) : nullptr;
}

// ---------------------------------------------------------------- tokenizer

t_lstrTokenizer::t_lstrTokenizer(const t_lstr* s)
    : m_string(s), m_length(s ? int32_t(LstrGetLength(s)) : 0) {
    m_current = s ? LstrGetUnits(s) : nullptr;
    m_end = m_current ? m_current + m_length : nullptr;
}

const uint16_t* t_lstrTokenizer::Next(int* length) {
    if (!m_current || m_current >= m_end) return nullptr;
    const uint16_t* start = m_current;
    if (IsAsciiLetter(*m_current)) {
        while (m_current < m_end && IsAsciiLetter(*m_current)) ++m_current;
    } else {
        ++m_current;
    }
    const int n = int(m_current - start);
    if (length) *length = n;
    ++m_tokens;
    m_units += n;
    return start;
}
