// t_str: the growable 16-bit string of the platform layer, and the error
// context that every failing operation of the layer takes.
// One thread at a time per object.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "kernel/runtime/lstr.h"

namespace n_porting {

class t_str {
public:
    // Units that stay inside the object before the text moves to the heap.
    static constexpr size_t kInlineUnits = 131;
    static constexpr size_t kNotFound = ~size_t(0);

    t_str();
    t_str(const char16_t* text);  // null gives the empty string
    t_str(const t_str& other);
    t_str& operator=(const t_str& other);
    virtual ~t_str();

    size_t GetLength() const { return m_length; }
    bool IsEmpty() const { return m_length == 0; }
    const char16_t* GetStr() const { return m_text; }
    char16_t GetAt(size_t i) const { return i < m_length ? m_text[i] : 0; }
    char16_t GetFirst() const { return m_text[0]; }
    char16_t GetLast() const { return m_length ? m_text[m_length - 1] : 0; }
    const char16_t* GetPtrAt(size_t i) const { return i <= m_length ? m_text + i : nullptr; }
    size_t GetCapacity() const { return m_capacity; }
    bool IsInline() const { return m_text == m_inline; }

    // Every operation that may grow the text returns false, text unchanged,
    // when memory runs out. Arguments may point into the string itself.
    bool Assign(const char16_t* text);
    bool AssignN(const char16_t* text, size_t n);
    bool Assign(const t_str& other) { return AssignN(other.m_text, other.m_length); }
    bool AssignLStr(const t_lstr* s);
    bool Append(const char16_t* text);
    bool AppendN(const char16_t* text, size_t n);
    bool Append(const t_str& other) { return AppendN(other.m_text, other.m_length); }
    bool AppendChar(char16_t c) { return AppendN(&c, 1); }
    // New units up to n are zero.
    bool SetLength(size_t n);
    void Clear();
    // A writable area of n + 1 units; null when n + 1 would wrap or memory
    // runs out. ReleaseBuffer then recounts the length, and clears the string
    // and returns false when no terminator was written inside the area.
    char16_t* LockBuffer(size_t n);
    bool ReleaseBuffer();

    // Formatting (the layer's printf engine): the text is measured first and
    // the storage grown once; when formatting fails (-1) the string is
    // unchanged and the result false.
    bool Format(const char16_t* format, ...);
    bool FormatV(const char16_t* format, va_list args);
    bool AppendFormat(const char16_t* format, ...);
    bool AppendFormatV(const char16_t* format, va_list args);
    t_str& operator<<(const char16_t* text);  // "%s"
    t_str& operator<<(double v);              // "%.3g"
    t_str& operator<<(float v) { return *this << double(v); }
    t_str& operator<<(int v);        // "%d"
    t_str& operator<<(unsigned v);   // "%u"
    t_str& operator<<(char16_t c);   // "%c"; units below 32 as '?'
    t_str& AppendHex32(uint32_t v);  // "0x%08x"

    // From bytes in a code page; false (string cleared) unless all converts.
    bool FromMultiByte(const char* text, int codePage);
    // To code page 936 with a terminator; false (empty text) when it does not
    // convert whole or fit.
    bool ToAnsi(char* buffer, size_t size) const;

    size_t Find(char16_t c, size_t start = 0) const;
    // A match must end at or before `end` (kNotFound: anywhere).
    size_t Find(const char16_t* text, size_t start = 0, size_t end = kNotFound) const;
    size_t FindNoCase(const char16_t* text, size_t start = 0, size_t end = kNotFound) const;
    size_t ReverseFind(char16_t c) const;
    void Delete(size_t start, size_t end);
    void Trim(const char16_t* set);
    size_t Replace(char16_t from, char16_t to);
    bool ReplaceRange(size_t start, size_t end, const char16_t* text, size_t n);
    void MakeLower();
    void Mid(t_str& out, size_t start, size_t count) const;
    void Left(t_str& out, size_t n) const { Mid(out, 0, n); }
    void Right(t_str& out, size_t n) const;
    bool EndsWith(const char16_t* text, char16_t stop = 0) const;
    bool StartsWith(const char16_t* text, char16_t stop = 0) const;
    bool EscapeAmpersands();
    // Appends the local time of t through the placeholders %Y %M %D %W %h %m
    // %s %%; another unit after '%' ends the pattern there. False (string
    // cleared) when the time cannot be broken down.
    bool FormatTime(time_t t, const char16_t* pattern);

    bool operator==(const t_str& o) const;
    bool operator==(const char16_t* text) const;
    bool operator<(const t_str& o) const;
    bool operator<=(const t_str& o) const;
    bool operator>(const t_str& o) const { return o < *this; }
    bool operator>=(const t_str& o) const { return o <= *this; }

private:
    // Room for `units` units (terminator included), growing as the layer
    // always has; a block that moves is kept until the next growth, so
    // arguments that point into the old text stay readable.
    bool Reserve(size_t units);
    void FreeRetired();

    char16_t* m_text;
    size_t m_length = 0;
    size_t m_capacity = 0;
    size_t m_pending = 0;
    char16_t* m_retired = nullptr;
    char16_t m_inline[kInlineUnits];
};

// Where the failing operations of the layer leave their failure text.
class t_errorContext {
public:
    void SetError(const char16_t* text) { m_text.Assign(text); }
    const char16_t* GetError() const { return m_text.GetStr(); }
    void ClearError() { m_text.Clear(); }

private:
    t_str m_text;
};

}  // namespace n_porting
