// The outer filter and the auxiliary-code filter.
// One conversion, one thread per filter object.
#include "kernel/convert/cand_filter.h"

#include <cwchar>
#include <new>

#include "kernel/lexicon/small_dicts.h"
#include "kernel/runtime/codepage.h"
#include "kernel/runtime/singleton.h"

namespace {

constexpr uint32_t kOuterScanUnits = 128;  // a longer text is judged by its beginning
constexpr const wchar_t* kAuxCodeNoRoom = L"为辅助码的解析申请空间失败";

bool IsPrivateUse(uint32_t u) {
    return u >= 0xE000 && u <= 0xE700;
}

}  // namespace

int t_outterCandFilter::AcceptWide(const wchar_t*) {
    return 1;
}

int t_outterCandFilter::AcceptLstr(const t_lstr* text) {
    const uint32_t n = LstrGetLength(text);
    if (n == 0) return 0;
    if (!t_singleton<t_supportCharDict>::Get().IsReady()) return 1;
    for (uint32_t i = 0; i < n && i < kOuterScanUnits; ++i)
        if (IsPrivateUse(LstrGetUnit(text, i))) return 0;
    return 1;
}

int t_commonCharFilter::AcceptWide(const wchar_t*) {
    return 1;
}

int t_commonCharFilter::AcceptLstr(const t_lstr* text) {
    for (uint32_t i = 0, n = LstrGetLength(text); i < n && i < kOuterScanUnits; ++i) {
        const uint16_t u = LstrGetUnit(text, i);
        if (u >= 0xD800 && u <= 0xDFFF) return 0;  // beyond the Basic Plane: none is common
        if (!((u >= 0x3400 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF))) continue;
        // GB 2312's characters keep their codes in GBK: lead byte 0xB0 to
        // 0xF7, trail byte 0xA1 to 0xFE.
        uint8_t bytes[4];
        const char units[2] = {char(u & 0xFF), char(u >> 8)};  // UCS-2LE
        const char* in = units;
        char* out = reinterpret_cast<char*>(bytes);
        size_t inLeft = 2, outLeft = sizeof bytes;
        // Quiet: a character GBK lacks is an expected answer, no error.
        if (!IconvConvert(kCharsetGbk, kCharsetUcs2, &in, &inLeft, &out, &outLeft, true) ||
            sizeof bytes - outLeft != 2 || bytes[0] < 0xB0 || bytes[0] > 0xF7 || bytes[1] < 0xA1 ||
            bytes[1] > 0xFE)
            return 0;
    }
    return 1;
}

t_partionedZiFilter::t_partionedZiFilter(const t_auxCodeServices& services)
    : m_services(services) {}

t_partionedZiFilter::~t_partionedZiFilter() = default;

int t_partionedZiFilter::AcceptLstr(const t_lstr* text) {
    if (!m_matcher) return 1;
    const uint32_t n = LstrGetLength(text);
    // Copied: a t_lstr's units need not be aligned.
    uint16_t units[kMaxAuxCodeLength + 1];
    const uint32_t take = n < kMaxAuxCodeLength + 1 ? n : kMaxAuxCodeLength + 1;
    for (uint32_t i = 0; i < take; ++i) units[i] = LstrGetUnit(text, i);
    // Characters beyond the code's length cannot change the answer, but
    // they tell that text is left: keep one of them.
    return MatchAuxCode(m_matcher.get(), units, take) ? 1 : 0;
}

int t_partionedZiFilter::AcceptWide(const wchar_t* text) {
    if (!m_matcher) return 1;
    uint16_t units[kMaxAuxCodeLength + 1];
    uint32_t n = 0;
    for (; text && text[n] && n < kMaxAuxCodeLength + 1; ++n)
        units[n] = uint32_t(text[n]) <= 0xFFFF ? uint16_t(text[n]) : uint16_t(0xFFFF);
    return MatchAuxCode(m_matcher.get(), units, n) ? 1 : 0;
}

int ParseAuxCode(t_partionedZiFilter* filter, std::wstring* error, t_scopeHeap* pool,
                 const wchar_t* code) {
    if (!filter) return 0;
    filter->m_matcher.reset();
    filter->m_arcs.reset();
    filter->m_code.clear();
    if (!code || !*code) return 1;
    (void)pool;  // the matcher keeps its scratch space itself
    size_t length = std::wcslen(code);
    if (length > kMaxAuxCodeLength) length = kMaxAuxCodeLength;
    filter->m_code.assign(code, length);
    filter->m_arcs.reset(new (std::nothrow) t_auxCodeArcs);
    if (filter->m_arcs) {
        filter->m_arcs->Build(filter->m_services.keyMap, filter->m_code.c_str(), uint32_t(length));
        filter->m_matcher.reset(new (std::nothrow) t_auxCodeMatcher(
            filter->m_code.c_str(), uint32_t(length), filter->m_arcs.get(), filter->m_services, 0));
    }
    if (!filter->m_matcher) {
        filter->m_arcs.reset();
        if (error) *error += kAuxCodeNoRoom;
        return 0;
    }
    return 1;
}
