// The ini-style configuration file: loading, lookups, edits and saving.
#include "kernel/runtime/file_config.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>

namespace {

constexpr wchar_t kErrBadArgument[] = L"参数错误";
constexpr wchar_t kErrNoSection[] = L"未找到Section";
constexpr wchar_t kErrNoKey[] = L"未找到Key";
constexpr wchar_t kErrNotLoaded[] = L"尚未打开文件";
constexpr wchar_t kErrNoMemory[] = L"内存不足";
constexpr wchar_t kDefaultSeparator[] = L"=";
constexpr wchar_t kIdeographicSpace = 0x3000;

bool IsTrimmed(wchar_t c) {
    return c == kIdeographicSpace || c == L' ' || c == L'\t' || c == L'\r';
}

bool HoldsLineBreak(const wchar_t* text) {
    return text && wcspbrk(text, L"\r\n") != nullptr;
}

// Case-insensitive order of separators.
int CompareNoCase(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        const wint_t x = towlower(static_cast<wint_t>(*a));
        const wint_t y = towlower(static_cast<wint_t>(*b));
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

}  // namespace

bool t_fileConfig::t_codePointLess::operator()(std::wstring_view a, std::wstring_view b) const {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const uint32_t x = static_cast<uint32_t>(a[i]);
        const uint32_t y = static_cast<uint32_t>(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

const t_fileConfig::t_keyRecord* t_fileConfig::t_section::Find(std::wstring_view key) const {
    const auto upper = m_keys.upper_bound(key);
    if (upper == m_keys.begin()) return nullptr;
    const auto last = std::prev(upper);
    return t_codePointLess()(last->first, key) ? nullptr : last->second;
}

t_fileConfig::t_fileConfig() : m_heap(t_scopeHeap::kDefaultBlockSize) {
    AddSeparator(kDefaultSeparator);
}

wchar_t* t_fileConfig::Trim(wchar_t* text) {
    if (!text) return nullptr;
    while (IsTrimmed(*text)) ++text;
    size_t n = wcslen(text);
    while (n > 0 && IsTrimmed(text[n - 1])) --n;
    text[n] = 0;
    return text;
}

const wchar_t* t_fileConfig::CopyText(const wchar_t* text, size_t n) {
    auto* copy = static_cast<wchar_t*>(m_heap.Alloc((n + 1) * sizeof(wchar_t)));
    if (!copy) return nullptr;
    memcpy(copy, text, n * sizeof(wchar_t));
    copy[n] = 0;
    return copy;
}

const wchar_t* t_fileConfig::AddSeparator(const wchar_t* text) {
    if (!text || !*text) {
        m_lastError = kErrBadArgument;
        return nullptr;
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    size_t insertAt = 0;
    for (size_t i = 0; i < m_separators.size(); ++i) {
        const int c = CompareNoCase(m_separators[i], text);
        if (c == 0) return m_separators[i];
        if (c > 0) insertAt = i;
    }
    const wchar_t* copy = CopyText(text, wcslen(text));
    if (!copy) {
        m_lastError = kErrNoMemory;
        return nullptr;
    }
    m_separators.insert(m_separators.begin() + static_cast<std::ptrdiff_t>(insertAt), copy);
    return copy;
}

bool t_fileConfig::Load(const wchar_t* path) {
    t_textFile file;
    if (!path || !file.Open(path, kOpenRead, kTextGbk)) {
        m_lastError = file.GetErrorText();
        return false;
    }
    m_fileName = path;
    m_encoding = file.GetEncoding();
    // One character more than a line may hold tells an over-long line apart.
    wchar_t buf[kMaxLineChars + 2];
    const wchar_t* section = nullptr;
    while (file.ReadLine(buf, static_cast<int>(kMaxLineChars + 2))) {
        if (wcslen(buf) > kMaxLineChars) continue;
        LoadLine(buf, &section);
    }
    m_undecodableNote = file.UndecodableNote();
    return true;
}

void t_fileConfig::LoadLine(wchar_t* raw, const wchar_t** section) {
    wchar_t* line = Trim(raw);
    const size_t n = wcslen(line);
    if (n == 0) return;
    if (n >= 2 && line[0] == L'[' && line[n - 1] == L']') {
        line[n - 1] = 0;
        const auto found = m_sections.find(std::wstring_view(line + 1));
        if (found != m_sections.end()) {
            *section = found->first.data();
            return;
        }
        const wchar_t* name = CopyText(line + 1, n - 2);
        if (!name) {
            m_lastError = kErrNoMemory;
            return;
        }
        m_sections.emplace(std::wstring_view(name, n - 2), t_section());
        *section = name;
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const wchar_t* separator : m_separators) {
        wchar_t* at = wcsstr(line, separator);
        if (!at) continue;
        if (at == line) return;  // no key
        *at = 0;
        PutValue(*section, line, at + wcslen(separator), separator, true);
        return;
    }
}

bool t_fileConfig::Save() {
    if (m_fileName.empty()) {
        m_lastError = kErrNotLoaded;
        return false;
    }
    const std::wstring path = m_fileName;
    return SaveAs(path.c_str());
}

bool t_fileConfig::SaveAs(const wchar_t* path) {
    t_textFile file;
    if (!path || !file.Open(path, kOpenTruncate, m_encoding)) {
        m_lastError = file.GetErrorText();
        return false;
    }
    std::wstring line;
    for (const auto& [name, section] : m_sections) {
        line.assign(L"[").append(name).append(L"]\n");
        file.WriteLine(line.c_str());
        for (const auto& [key, record] : section) {
            line.assign(key).append(record->separator);
            if (record->value) line.append(record->value);
            line.push_back(L'\n');
            file.WriteLine(line.c_str());
        }
    }
    if (!file.Close()) {
        m_lastError = file.GetLastError();
        return false;
    }
    return true;
}

const t_fileConfig::t_section* t_fileConfig::FindSection(const wchar_t* name) {
    if (!name) {
        m_lastError = kErrBadArgument;
        return nullptr;
    }
    const auto found = m_sections.find(std::wstring_view(name));
    if (found == m_sections.end()) {
        m_lastError = kErrNoSection;
        return nullptr;
    }
    return &found->second;
}

const wchar_t* t_fileConfig::GetValue(const wchar_t* section, const wchar_t* key,
                                      const wchar_t** separator) {
    if (!section || !key) {
        m_lastError = kErrBadArgument;
        return nullptr;
    }
    const t_section* s = FindSection(section);
    if (!s) return nullptr;
    const t_keyRecord* record = s->Find(key);
    if (!record) {
        m_lastError = kErrNoKey;
        return nullptr;
    }
    if (separator) *separator = record->separator;
    return record->value;
}

const wchar_t* t_fileConfig::GetString(const wchar_t* section, const wchar_t* key,
                                       const wchar_t** separator, const wchar_t* def) {
    const wchar_t* value = GetValue(section, key, separator);
    return value ? value : def;
}

int t_fileConfig::GetInt(const wchar_t* section, const wchar_t* key, const wchar_t** separator,
                         int def) {
    const wchar_t* p = GetValue(section, key, separator);
    if (!p) return def;
    while (iswspace(static_cast<wint_t>(*p))) ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
    int64_t v = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        v = v * 10 + (*p - L'0');
        if (v > int64_t(INT_MAX) + 1) v = int64_t(INT_MAX) + 1;  // clamped below
    }
    if (negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

bool t_fileConfig::CheckArguments(const wchar_t* section, const wchar_t* key,
                                  const wchar_t* value) {
    // A line break inside a text would turn into extra lines on saving.
    if (!section || !key || !*key || HoldsLineBreak(section) || HoldsLineBreak(key) ||
        HoldsLineBreak(value)) {
        m_lastError = kErrBadArgument;
        return false;
    }
    return true;
}

bool t_fileConfig::SetValue(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                            const wchar_t* separator) {
    return PutValue(section, key, value, separator, false);
}

bool t_fileConfig::AddValue(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                            const wchar_t* separator) {
    return PutValue(section, key, value, separator, true);
}

bool t_fileConfig::SetInt(const wchar_t* section, const wchar_t* key, int number,
                          const wchar_t* separator) {
    wchar_t text[16];
    swprintf(text, sizeof text / sizeof text[0], L"%d", number);
    return SetValue(section, key, text, separator);
}

bool t_fileConfig::PutValue(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                            const wchar_t* separator, bool addLine) {
    if (!CheckArguments(section, key, value)) return false;
    const wchar_t* pooled = AddSeparator(separator ? separator : kDefaultSeparator);
    if (!pooled) return false;
    const wchar_t* valueCopy = nullptr;
    if (value && *value) {
        valueCopy = CopyText(value, wcslen(value));
        if (!valueCopy) {
            m_lastError = kErrNoMemory;
            return false;
        }
    }
    auto found = m_sections.find(std::wstring_view(section));
    if (found == m_sections.end()) {
        const size_t n = wcslen(section);
        const wchar_t* name = CopyText(section, n);
        if (!name) {
            m_lastError = kErrNoMemory;
            return false;
        }
        found = m_sections.emplace(std::wstring_view(name, n), t_section()).first;
    }
    t_section& s = found->second;
    if (!addLine) {
        if (auto* record = const_cast<t_keyRecord*>(s.Find(key))) {
            record->separator = pooled;
            record->value = valueCopy;
            return true;
        }
    }
    const size_t keyLength = wcslen(key);
    const wchar_t* keyCopy = CopyText(key, keyLength);
    if (!keyCopy) {
        m_lastError = kErrNoMemory;
        return false;
    }
    t_keyRecord* record = &m_records.emplace_back(t_keyRecord{keyCopy, pooled, valueCopy});
    s.m_lines.push_back(record);
    // Inserted after any equal keys, so one key's lines keep their order.
    s.m_keys.emplace(std::wstring_view(keyCopy, keyLength), record);
    return true;
}
