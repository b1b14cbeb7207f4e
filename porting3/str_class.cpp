// t_str: inline storage up to 131 units, then the heap; growth doubles with
// 16 units of slack and never shrinks.
#include "porting3/str_class.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "porting3/format16.h"
#include "porting3/str16.h"

namespace n_porting {

t_str::t_str() : m_text(m_inline) {
    m_inline[0] = 0;
    Clear();
}

t_str::t_str(const char16_t* text) : t_str() {
    Assign(text);
}

t_str::t_str(const t_str& other) : t_str() {
    Assign(other);
}

t_str& t_str::operator=(const t_str& other) {
    if (this != &other) Assign(other);
    return *this;
}

t_str::~t_str() {
    FreeRetired();
    if (!IsInline()) std::free(m_text);
}

void t_str::FreeRetired() {
    std::free(m_retired);
    m_retired = nullptr;
}

bool t_str::Reserve(size_t units) {
    if (units <= m_capacity) return true;
    FreeRetired();
    if (m_capacity > SIZE_MAX / 4 || units > SIZE_MAX / 2) return false;
    const size_t grown = (2 * m_capacity + 16) & ~size_t(15);
    const size_t capacity = units > grown ? units : grown;
    if (IsInline() && capacity <= kInlineUnits) {
        m_capacity = capacity;
        return true;
    }
    auto* block = static_cast<char16_t*>(std::malloc(capacity * 2));
    if (!block) return false;
    std::memcpy(block, m_text, (m_capacity < capacity ? m_capacity : capacity) * 2);
    if (!IsInline()) m_retired = m_text;
    m_text = block;
    m_capacity = capacity;
    return true;
}

bool t_str::Assign(const char16_t* text) {
    return AssignN(text, WcsLen16(text));
}

bool t_str::AssignN(const char16_t* text, size_t n) {
    if (!text) n = 0;
    if (n == SIZE_MAX || !Reserve(n + 1)) return false;
    std::memmove(m_text, text ? text : u"", n * 2);
    m_length = n;
    m_text[n] = 0;
    return true;
}

bool t_str::AssignLStr(const t_lstr* s) {
    if (!s) return AssignN(nullptr, 0);
    const size_t n = LstrGetLength(s);
    if (!Reserve(n + 1)) return false;
    std::memcpy(m_text, LstrGetBytes(s), n * 2);
    m_length = n;
    m_text[n] = 0;
    return true;
}

bool t_str::Append(const char16_t* text) {
    return AppendN(text, WcsLen16(text));
}

bool t_str::AppendN(const char16_t* text, size_t n) {
    if (!text || n == 0) return true;
    if (n > SIZE_MAX - m_length - 1 || !Reserve(m_length + n + 1)) return false;
    std::memmove(m_text + m_length, text, n * 2);
    m_length += n;
    m_text[m_length] = 0;
    return true;
}

bool t_str::SetLength(size_t n) {
    if (n == SIZE_MAX || !Reserve(n + 1)) return false;
    if (n > m_length) std::memset(m_text + m_length, 0, (n - m_length) * 2);
    m_length = n;
    m_text[n] = 0;
    return true;
}

void t_str::Clear() {
    m_pending = 0;
    if (!Reserve(1)) return;  // cannot fail: the inline area holds 16 units
    m_length = 0;
    m_text[0] = 0;
}

char16_t* t_str::LockBuffer(size_t n) {
    if (n >= SIZE_MAX - 1 || !Reserve(n + 1)) return nullptr;
    m_pending = n + 1;
    return m_text;
}

bool t_str::ReleaseBuffer() {
    const size_t pending = m_pending;
    m_pending = 0;
    const size_t n = WcsNLen16(m_text, pending);
    // No terminator inside the handed-out area: its text cannot be trusted.
    if (n == pending && (pending > 0 || m_text[0] != 0)) {
        Clear();
        return false;
    }
    m_length = n;
    return true;
}

bool t_str::Format(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    const bool ok = FormatV(format, args);
    va_end(args);
    return ok;
}

bool t_str::FormatV(const char16_t* format, va_list args) {
    // Into a fresh string first: an argument may be this string's own text.
    t_str formatted;
    if (!formatted.AppendFormatV(format, args)) return false;
    return Assign(formatted);
}

bool t_str::AppendFormat(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    const bool ok = AppendFormatV(format, args);
    va_end(args);
    return ok;
}

bool t_str::AppendFormatV(const char16_t* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int n = VswPrintf16(nullptr, 0, format, measure);
    va_end(measure);
    if (n < 0 || !Reserve(m_length + size_t(n) + 1)) return false;
    va_list write;
    va_copy(write, args);
    const int written = VswPrintf16(m_text + m_length, size_t(n) + 1, format, write);
    va_end(write);
    if (written != n) {
        m_text[m_length] = 0;
        return false;
    }
    m_length += size_t(n);
    return true;
}

t_str& t_str::operator<<(const char16_t* text) {
    AppendFormat(u"%s", text);
    return *this;
}

t_str& t_str::operator<<(double v) {
    AppendFormat(u"%.3g", v);
    return *this;
}

t_str& t_str::operator<<(int v) {
    AppendFormat(u"%d", v);
    return *this;
}

t_str& t_str::operator<<(unsigned v) {
    AppendFormat(u"%u", v);
    return *this;
}

t_str& t_str::operator<<(char16_t c) {
    AppendFormat(u"%c", c < 32 ? u'?' : c);
    return *this;
}

t_str& t_str::AppendHex32(uint32_t v) {
    AppendFormat(u"0x%08x", v);
    return *this;
}

bool t_str::FromMultiByte(const char* text, int codePage) {
    if (text && !*text) return AssignN(nullptr, 0);
    char16_t* converted = text ? MultiByteToStr16Alloc(codePage, text, std::strlen(text)) : nullptr;
    const bool ok = converted && Assign(converted);
    std::free(converted);
    if (!ok) Clear();
    return ok;
}

bool t_str::ToAnsi(char* buffer, size_t size) const {
    if (!buffer || size == 0) return false;
    buffer[0] = 0;
    if (m_length == 0) return true;
    char* converted = Str16ToMultiByteAlloc(kCodePageGbk, m_text, m_length);
    const bool ok = converted && std::strlen(converted) < size;
    if (ok) std::memcpy(buffer, converted, std::strlen(converted) + 1);
    std::free(converted);
    return ok;
}

size_t t_str::Find(char16_t c, size_t start) const {
    for (size_t i = start; i < m_length; ++i)
        if (m_text[i] == c) return i;
    return kNotFound;
}

size_t t_str::Find(const char16_t* text, size_t start, size_t end) const {
    const size_t n = WcsLen16(text);
    if (!text || start >= m_length) return kNotFound;
    for (size_t i = start; i + n <= m_length; ++i) {
        if (std::memcmp(m_text + i, text, n * 2) == 0)
            return end != kNotFound && i + n > end ? kNotFound : i;
    }
    return kNotFound;
}

size_t t_str::FindNoCase(const char16_t* text, size_t start, size_t end) const {
    if (!text || start >= m_length) return kNotFound;
    const int i = FindNoCase16(m_text + start, m_length - start, text);
    if (i < 0) return kNotFound;
    const size_t at = start + size_t(i);
    return end != kNotFound && at + WcsLen16(text) > end ? kNotFound : at;
}

size_t t_str::ReverseFind(char16_t c) const {
    for (size_t i = m_length; i-- > 0;)
        if (m_text[i] == c) return i;
    return kNotFound;
}

void t_str::Delete(size_t start, size_t end) {
    if (start >= m_length) return;
    if (end > m_length) end = m_length;
    if (end <= start) return;
    std::memmove(m_text + start, m_text + end, (m_length - end + 1) * 2);
    m_length -= end - start;
}

void t_str::Trim(const char16_t* set) {
    if (!set) return;
    size_t end = m_length;
    while (end > 0 && WcsChr16(set, m_text[end - 1]) && m_text[end - 1]) --end;
    size_t start = 0;
    while (start < end && WcsChr16(set, m_text[start])) ++start;
    m_text[end] = 0;
    m_length = end;
    Delete(0, start);
}

size_t t_str::Replace(char16_t from, char16_t to) {
    size_t count = 0;
    for (size_t i = 0; i < m_length; ++i)
        if (m_text[i] == from) {
            m_text[i] = to;
            ++count;
        }
    return count;
}

bool t_str::ReplaceRange(size_t start, size_t end, const char16_t* text, size_t n) {
    if (start > m_length) start = m_length;
    if (end > m_length) end = m_length;
    if (end < start) end = start;
    if (!text) n = 0;
    const std::u16string insert(text ? text : u"", n);  // text may lie inside this string
    const size_t length = m_length - (end - start) + n;
    if (!Reserve(length + 1)) return false;
    std::memmove(m_text + start + n, m_text + end, (m_length - end + 1) * 2);
    std::memcpy(m_text + start, insert.data(), n * 2);
    m_length = length;
    return true;
}

void t_str::MakeLower() {
    for (size_t i = 0; i < m_length; ++i) m_text[i] = ToLower16(m_text[i]);
}

void t_str::Mid(t_str& out, size_t start, size_t count) const {
    if (start >= m_length) {
        out.Clear();
        return;
    }
    if (count > m_length - start) count = m_length - start;
    out.AssignN(m_text + start, count);
}

void t_str::Right(t_str& out, size_t n) const {
    if (n > m_length) n = m_length;
    out.AssignN(m_text + m_length - n, n);
}

bool t_str::EndsWith(const char16_t* text, char16_t stop) const {
    size_t i = WcsLen16(text);
    size_t j = m_length;
    while (i > 0) {
        if (stop && text[i - 1] == stop) return true;
        if (j == 0 || text[i - 1] != m_text[j - 1]) return false;
        --i;
        --j;
    }
    return text != nullptr;
}

bool t_str::StartsWith(const char16_t* text, char16_t stop) const {
    if (!text) return false;
    for (size_t i = 0;; ++i) {
        if (!text[i] || (stop && text[i] == stop)) return true;
        if (i >= m_length || text[i] != m_text[i]) return false;
    }
}

bool t_str::EscapeAmpersands() {
    for (size_t i = 0; i < m_length; ++i) {
        if (m_text[i] != u'&') continue;
        if (!ReplaceRange(i, i + 1, u"&&", 2)) return false;
        ++i;
    }
    return true;
}

bool t_str::FormatTime(time_t t, const char16_t* pattern) {
    struct tm parts;
    if (!localtime_r(&t, &parts)) {
        Clear();
        return false;
    }
    if (!pattern) return true;
    for (const char16_t* p = pattern; *p; ++p) {
        if (*p != u'%') {
            AppendChar(*p);
            continue;
        }
        const char16_t key = p[1];
        bool ok = true;
        switch (key) {
            case u'Y':
                ok = AppendFormat(u"%04d", parts.tm_year + 1900);
                break;
            case u'M':
                ok = AppendFormat(u"%02d", parts.tm_mon + 1);
                break;
            case u'D':
                ok = AppendFormat(u"%02d", parts.tm_mday);
                break;
            case u'W':
                ok = AppendFormat(u"%01d", parts.tm_wday);
                break;
            case u'h':
                ok = AppendFormat(u"%02d", parts.tm_hour);
                break;
            case u'm':
                ok = AppendFormat(u"%02d", parts.tm_min);
                break;
            case u's':
                ok = AppendFormat(u"%02d", parts.tm_sec);
                break;
            case u'%':
                ok = AppendChar(u'%');
                break;
            default:
                return true;  // an unknown placeholder ends the pattern
        }
        if (!ok) return false;
        ++p;
    }
    return true;
}

bool t_str::operator==(const t_str& o) const {
    return m_length == o.m_length && std::memcmp(m_text, o.m_text, m_length * 2) == 0;
}

bool t_str::operator==(const char16_t* text) const {
    return WcsCmp16(m_text, text) == 0;
}

bool t_str::operator<(const t_str& o) const {
    return WcsCmp16(m_text, o.m_text) < 0;
}

bool t_str::operator<=(const t_str& o) const {
    return WcsCmp16(m_text, o.m_text) <= 0;
}

}  // namespace n_porting
