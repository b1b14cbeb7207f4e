// Reader of the phrase file. Kept apart from the dictionaries so that it can
// be fuzzed on its own.
#include <cstring>

#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/text_file.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/phrase_file.h"

namespace {

inline bool IsLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}
inline bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}
inline bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// blanks, letters, blanks, ",", ["-"] digit, digits, "=".
bool IsHeaderLine(const wchar_t* s) {
    size_t i = 0;
    while (IsBlank(s[i])) ++i;
    if (!IsLetter(s[i])) return false;
    while (IsLetter(s[i])) ++i;
    while (IsBlank(s[i])) ++i;
    if (s[i++] != L',') return false;
    if (s[i] == L'-') ++i;
    if (!IsDigit(s[i])) return false;
    while (IsDigit(s[i])) ++i;
    return s[i] == L'=';
}

// Longest string a table item holds: its byte length is an i16.
constexpr size_t kItemMaxBytes = 32767;

// w[0..n) as a table item's string (UTF-16, pairs above U+FFFF); null for an
// empty text, a value beyond U+10FFFF, or more than 32767 bytes. w[n] must
// lie in w's buffer: it is terminated for the conversion and restored.
t_lstr* ToItemLstr(t_scopeHeap& arena, wchar_t* w, size_t n) {
    if (n == 0 || n > kItemMaxBytes / 2) return nullptr;
    const wchar_t saved = w[n];
    w[n] = 0;
    t_lstr* s = WideToLstr16(arena, w);
    w[n] = saved;
    return s && LstrGetByteLength(s) <= kItemMaxBytes ? s : nullptr;
}

class t_phraseParser {
public:
    t_phraseParser(t_scopeHeap& arena, wchar_t* value, t_phraseEntrySink sink, void* context)
        : m_arena(arena), m_value(value), m_sink(sink), m_context(context) {}

    // False when the sink asked to stop.
    bool Line(wchar_t* line, size_t n) {
        if (line[0] == L';') return true;
        if (!IsHeaderLine(line)) {
            ValueLine(line, n);
            return true;
        }
        if (!FinishPending()) return false;
        return Header(line);
    }
    bool End() { return FinishPending(); }

private:
    void ValueLine(const wchar_t* line, size_t n) {
        if (!m_pending) return;  // text outside any entry
        if (m_justOpened) {
            m_justOpened = false;
            m_overflow = false;
            m_valueLen = 0;
        } else if (m_overflow) {
            return;
        }
        if (m_valueLen + n + 1000 > size_t(kPhraseLineChars)) {
            m_overflow = true;
            return;
        }
        std::memcpy(m_value + m_valueLen, line, n * sizeof(wchar_t));
        m_valueLen += n;
        m_value[m_valueLen] = 0;
    }

    bool FinishPending() {
        if (!m_pending) return true;
        m_pending = false;
        const bool overflow = m_overflow;
        m_overflow = false;
        if (overflow || m_justOpened) {
            m_justOpened = false;
            return true;  // dropped, or the value never got a line
        }
        size_t n = m_valueLen;
        if (n >= 2 && m_value[n - 2] == L'\r' && m_value[n - 1] == L'\n') n -= 2;
        return Store(m_key, m_keyLen, m_value, n, m_position);
    }

    bool Header(wchar_t* s) {
        size_t i = 0;
        while (IsLetter(s[i])) ++i;
        const size_t keyLen = i;
        if (keyLen == 0 || keyLen >= 64 || keyLen > size_t(kPhraseKeyMaxLetters)) return true;
        while (IsBlank(s[i])) ++i;
        if (s[i] != L',') return true;
        ++i;
        bool negative = false;
        if (s[i] == L'-') {
            negative = true;
            ++i;
        }
        int value = 0;
        while (IsDigit(s[i]) && value < 10000) value = value * 10 + (s[i++] - L'0');
        if (value > kPhrasePositionLimit || s[i] != L'=') return true;
        ++i;
        const int16_t position = int16_t(negative ? -value : value);
        int blanks = 0;
        while (IsBlank(s[i])) {
            ++i;
            ++blanks;
        }
        wchar_t* rest = s + i;
        if (rest[0] == L'\r' && rest[1] == L'\n' && rest[2] == 0) {
            if (blanks >= 2) return true;
            std::memcpy(m_key, s, keyLen * sizeof(wchar_t));
            m_keyLen = keyLen;
            m_position = position;
            m_pending = true;
            m_justOpened = true;
            m_overflow = false;
            m_valueLen = 0;
            return true;
        }
        size_t n = wcslen(rest);
        while (n > 0 && (rest[n - 1] == L'\r' || rest[n - 1] == L'\n')) --n;
        return Store(s, keyLen, rest, n, position);
    }

    bool Store(wchar_t* key, size_t keyLen, wchar_t* value, size_t n, int16_t position) {
        t_lstr* k = ToItemLstr(m_arena, key, keyLen);
        t_lstr* v = ToItemLstr(m_arena, value, n);
        if (!k || !v) return true;  // over-long (or empty) phrases are not stored
        return m_sink(t_phraseEntry{k, v, position}, m_context);
    }

    t_scopeHeap& m_arena;
    wchar_t* m_value;
    size_t m_valueLen = 0;
    t_phraseEntrySink m_sink;
    void* m_context;
    wchar_t m_key[kPhraseKeyMaxLetters + 1] = {};
    size_t m_keyLen = 0;
    int16_t m_position = 0;
    bool m_pending = false;     // a header opened a multi-line value
    bool m_justOpened = false;  // ... and no line of it was read yet
    bool m_overflow = false;
};

struct t_arraySink {
    t_phraseEntry* entries;
    int maximum;
    int count;
};

bool AddToArray(const t_phraseEntry& e, void* context) {
    auto* a = static_cast<t_arraySink*>(context);
    if (a->count >= a->maximum) return false;
    a->entries[a->count++] = e;
    return a->count < a->maximum;
}

}  // namespace

int IsValidPhraseKey(const wchar_t* s) {
    if (!s) return 0;
    size_t n = 0;
    for (; s[n]; ++n)
        if (n >= size_t(kPhraseKeyMaxLetters) || !IsLetter(s[n])) return 0;
    return 1;
}

bool ReadPhrasesFile(t_scopeHeap& arena, const wchar_t* textPath, t_phraseEntrySink sink,
                     void* context) {
    if (!textPath || !sink) return false;
    t_textFile file;
    if (!file.Open(textPath, kOpenRead, kTextUtf16Le)) return false;
    // A file in another encoding reads as no entries, and an import would then
    // mark every phrase deleted: refuse it. An empty file is still an empty set.
    const int encoding = file.GetEncoding();
    if (encoding != kTextUtf16Le && encoding != kTextUtf16Be && file.GetSize() > 0) return false;
    auto* line = static_cast<wchar_t*>(arena.Alloc(sizeof(wchar_t) * kPhraseLineChars));
    auto* value = static_cast<wchar_t*>(arena.Alloc(sizeof(wchar_t) * kPhraseLineChars));
    if (!line || !value) return false;
    t_phraseParser parser(arena, value, sink, context);
    // Room is kept for the appended CR LF and the terminator: a longer line
    // is cut there (the reader drops its tail).
    while (file.ReadLineUtf16(line, kPhraseLineChars - 2)) {
        size_t n = wcslen(line);
        line[n++] = L'\r';
        line[n++] = L'\n';
        line[n] = 0;
        if (!parser.Line(line, n)) return true;
    }
    parser.End();
    return true;
}

int ParsePhrasesToArray(t_scopeHeap& arena, const wchar_t* textPath, t_phraseEntry* entries,
                        int maximum) {
    if (!entries || maximum < 1) return 0;
    t_arraySink sink{entries, maximum, 0};
    if (!ReadPhrasesFile(arena, textPath, &AddToArray, &sink)) return 0;
    return sink.count;
}
