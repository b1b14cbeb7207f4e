// The kernel's word-list text format: UTF-16LE with a byte-order mark, a
// "FormatVersion=" header line, then one entry (word TAB code TAB number) or
// one comment ('#' text) per line. t_utf16TextReader parses it from a file or
// from memory; t_utf16TextWriter produces it into a file or a caller's buffer.
// One thread at a time per object.
//
//   FF FE | FormatVersion=v1.0 LF LF | [ni][hao]x TAB 你好x TAB 12 LF | #2 TAB 0 LF ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "kernel/runtime/fd_file.h"

// Limits of the format, in UTF-16 units.
inline constexpr int kWordListMaxLine = 510;       // units before the line end
inline constexpr int kWordListFieldUnits = 256;    // word, code, header value (with terminator)
inline constexpr int kWordListMaxWordWrite = 254;  // word units a writer accepts
inline constexpr int kWordListMaxCodeWrite = 254;  // code units a writer accepts
inline constexpr int kWordListMaxDigits = 19;      // digits of the number field
inline constexpr int kWordListMaxComment = 254;    // comment units a writer accepts

class t_utf16TextReader {
public:
    enum : int { kKindNone = 0, kKindEntry = 1, kKindComment = 2 };
    enum : int { kTokenGroup = 1, kTokenUnit = 2 };

    t_utf16TextReader() { Init(); }
    ~t_utf16TextReader() { Close(); }
    t_utf16TextReader(const t_utf16TextReader&) = delete;
    t_utf16TextReader& operator=(const t_utf16TextReader&) = delete;

    // Empty state, no source (an open file is not closed: call Close first).
    void Init();
    // Closes the file, if any, and returns to the empty state.
    void Close();

    // Opens a file and reads its mark and header line. Returns 0; -1 when the
    // path is null or no file exists there, -2 when it cannot be opened, -3
    // when the first unit is not 0xFEFF or the header line is missing, has no
    // '=' or a value of more than 255 units. On failure nothing stays open.
    int OpenFile(const wchar_t* path);
    // The same over `bytes` bytes of memory the caller keeps alive while
    // reading. Returns 0, or -1 for a null pointer or any header fault.
    int OpenMemory(const void* data, size_t bytes);

    // Reads the next entry or comment line. Returns 0 (a line was read), 1 at
    // the end of the source (also when nothing is open), or -1 for a malformed
    // line: longer than 510 units, not exactly two TABs, a number field with a
    // non-digit, more than 19 digits or a value above 2147483647, a word or
    // code of 256 units or more. A malformed line is consumed whole, so the
    // next call reads the line after it. A last line without a line end is
    // delivered like any other.
    int ReadEntry();

    int GetLineKind() const { return m_kind; }
    // Units including the terminator; -1 when the line is not an entry.
    int GetWordLength() const;
    int GetCodeLength() const;
    // Copies the field with its terminator; returns the units copied, or 0
    // when the line is not an entry or `size` units cannot hold it.
    int GetWord(uint16_t* buffer, int size) const;
    int GetCode(uint16_t* buffer, int size) const;
    // 1 with *out set when the entry's number field is not empty, else 0.
    int GetNumber(int* out) const;
    // 1 when the line is a comment and `size` exceeds its length (the comment
    // is copied with its terminator), else 0.
    int GetComment(uint16_t* buffer, int size) const;
    // 1 when the header value is shorter than `size` (copied with terminator).
    int GetHeaderValue(uint16_t* buffer, int size) const;

    // The next token of the word field: a "[...]" group (its inner text, type
    // kTokenGroup) or one unit (kTokenUnit). Returns 0 with the token
    // terminated in buffer, 1 when no tokens are left, -1 when the line is not
    // an entry, a group is never closed, or the token does not fit `size`
    // units with its terminator (the cursor then stays where it was).
    int NextWordToken(uint16_t* buffer, int size, int* type);
    // The same into 8-bit text (each unit cut to its low byte); a kTokenUnit
    // token here runs up to the next '[' or the end of the word.
    int NextWordTokenA(char* buffer, int size, int* type);

    // Lines read so far plus the CR and LF units still ahead in the source;
    // -1 without a source. The read position is kept.
    int64_t CountLines();

private:
    bool NextUnit(uint16_t* unit);
    // 0 a line is in m_line, 1 end of source, -1 line too long (consumed).
    int ReadRawLine();
    int ReadHeader();
    int ParseEntry();
    int NextToken(void* buffer, int size, int* type, bool narrow);

    enum : int { kSourceNone = -1, kSourceFile = 0, kSourceMemory = 1 };

    uint16_t m_header[kWordListFieldUnits];
    int m_headerLen;  // with terminator
    uint16_t m_line[kWordListMaxLine + 2];
    int m_lineLen;  // without terminator
    int m_kind;
    uint16_t m_word[kWordListFieldUnits];
    uint16_t m_code[kWordListFieldUnits];
    char m_number[kWordListMaxDigits + 1];
    int m_wordLen, m_codeLen, m_numberLen;  // with terminator
    int m_numberValue;                      // -1 when none
    uint16_t m_comment[kWordListMaxLine + 2];
    int m_commentLen;  // without terminator
    int m_tokenPos;
    FILE* m_file;
    const uint8_t* m_mem;
    size_t m_memLeft;
    int m_source;
    int64_t m_linesRead;
};

class t_utf16TextWriter {
public:
    enum : int {
        kOk = 0,
        kErrNotOpen = -1,  // nothing open, wrong target, or bad arguments
        kErrNoText = -2,   // nothing pending, or a text the format cannot carry
        kErrIncomplete = -3,
        kErrBufferFull = -4,
        kErrWrite = -9,    // the file is closed afterwards (target untouched)
        kErrCommit = -99,  // the file could not be made durable (target untouched)
    };

    t_utf16TextWriter() { Init(); }
    // Closes an open file as CloseFile does.
    ~t_utf16TextWriter() { CloseFile(); }
    t_utf16TextWriter(const t_utf16TextWriter&) = delete;
    t_utf16TextWriter& operator=(const t_utf16TextWriter&) = delete;

    // No target, no pending entry (an open file is abandoned, not committed).
    void Init();

    // Starts a new file at `path`: mark and header are written to a temporary
    // file beside it, which CloseFile renames over the target, so a failed
    // export never leaves a half-written file. Returns 0, -1 when the path is
    // null or no temporary can be made there, -9 when writing fails.
    int OpenFile(const wchar_t* path);
    // Writes mark and header into the caller's buffer of `size` bytes. Returns
    // 0; -1 for a null buffer; -4 when the header does not fit (writes need
    // room strictly below `size`), with nothing open afterwards.
    int OpenBuffer(void* buffer, size_t size);
    // Makes the file durable and moves it over the target. Returns 0 (also
    // when nothing was open) or -99 when that failed (the target is then as
    // before). A buffer target is simply released.
    int CloseFile();
    // Bytes written into the caller's buffer so far.
    size_t GetBufferUsed() const { return m_bufUsed; }

    // Entry setters: 1 on success, 0 on refusal. With nothing open they clear
    // the pending entry and refuse. Texts are zero-terminated UTF-16; a TAB,
    // CR or LF unit (which would break the line) is refused.
    int SetWordText(const uint16_t* text);     // replaces the word; at most 252 units
    int AppendWordText(const uint16_t* text);  // word total at most 254
    int AppendWordN(const uint16_t* units, size_t n);
    int AppendWordAnsi(const char* text);       // each byte widened as a signed char
    int AppendWordGroup(const uint16_t* text);  // "[" text "]", text at most 252 units
    int AppendWordGroupAnsi(const char* text);
    int SetCode(const uint16_t* text);  // non-empty, at most 254 units
    int SetNumber(int number);          // refused below 0: the reader takes digits only
    void ClearEntry();

    // Writes word TAB code TAB number LF once all three are set, then clears
    // the pending entry. Returns 0; -1 when the target is not a file (not a
    // buffer for ...ToBuffer); -2 with nothing pending; -3 when a field is
    // missing (pending entry cleared); -4 when the buffer cannot hold the whole
    // line (nothing of it is written); -9 write failure (file closed).
    int WriteEntry();
    int WriteEntryToBuffer();
    // Writes '#' text LF; the text must be shorter than 255 units and hold no
    // CR or LF (-2 otherwise). Other results as for WriteEntry.
    int WriteComment(const uint16_t* text);
    int WriteCommentToBuffer(const uint16_t* text);

private:
    enum : int { kTargetNone = 0, kTargetFile = 1, kTargetBuffer = 2 };
    enum : int { kPendingNone = 0, kPendingEntry = 1 };

    bool TargetOpen();
    int AppendWord(const uint16_t* units, size_t n, size_t limit);
    int WriteLine(const uint16_t* units, size_t n, int target);
    int WriteEntryTo(int target);
    int WriteCommentTo(const uint16_t* text, int target);
    int FlushFile();

    int m_target;
    t_safeFileWriter m_file;
    std::vector<uint8_t> m_fileBuf;  // bytes not yet handed to the file
    uint8_t* m_buf;
    size_t m_bufSize;
    size_t m_bufUsed;
    int m_pending;
    uint16_t m_word[kWordListMaxWordWrite + 1];
    size_t m_wordLen;  // without terminator
    uint16_t m_code[kWordListMaxCodeWrite + 1];
    size_t m_codeLen;  // with terminator, 0 when unset
    char m_number[16];
    size_t m_numberLen;  // with terminator, 0 when unset
    int m_numberValue;
};
