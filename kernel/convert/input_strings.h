// Tests and views over typed input that the English, web-address and
// learning routines share: letter and vowel tests, mail and domain tests,
// UTF-16 pair decoding, the segmented string and the letter-run tokenizer.
// Pure functions and small views over the caller's text; any thread.
#pragma once

#include <cstdint>

#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

// Only 'A'-'Z' and 'a'-'z'; true for an empty string, false for null.
bool IsAsciiLetterString(const wchar_t* s);
// Only 'a'-'z'; true for an empty string, false for null.
bool IsLowerAsciiString(const wchar_t* s);
// A spelling whose vowels are only a, e and o: false when empty or null,
// when it starts with i, u or v or holds any of them; else true when it
// holds a, e or o.
bool HasOnlyAeoVowels(const wchar_t* s);

// The first '@' at index 1 or later, when an ASCII letter or digit follows
// it; null otherwise.
const wchar_t* FindMailAtSign(const wchar_t* s);
// The '@' of FindMailAtSign when the text after it holds one to three dots,
// none directly after another; null otherwise.
const wchar_t* CheckMailDomain(const wchar_t* s);
// False when the text holds ".."; else true when, for one of the 22 domain
// suffixes (".com" ... ".arpa"), its first occurrence ends the text.
bool EndsWithDomainSuffix(const wchar_t* s);

// A lead unit (U+D800-U+DBFF) followed, within `available` units, by a
// trail unit (U+DC00-U+DFFF) gives their code point and *count 2; any
// other unit gives itself and *count 1. 0 with *count 0 when nothing is
// available.
uint32_t DecodeUtf16Pair(int* count, const uint16_t* units, int available);

// A wide text cut into segments by a list of u16 end offsets (a t_lstr of
// ends: count = byte length / 2). Segment i (from 1) runs from the end of
// segment i - 1 (0 for the first) to end i. Views only: the text and the
// ends stay the caller's.
struct t_segmentedStr {
    const wchar_t* text = nullptr;
    const uint16_t* ends = nullptr;
    int32_t length = 0;
    int32_t count = 0;

    t_segmentedStr(const wchar_t* text, const t_lstr* ends);
    // Start and length of segment index; null when the index is outside
    // 1..count, when its end lies beyond the text, when its start is at or
    // past the text's end, or when the ends go backwards.
    const wchar_t* GetSegment(int index, int* length) const;
    // The segment without its trailing apostrophes, in pool; null when it is
    // missing, empty or only apostrophes.
    t_lstr* GetSegmentTrimmed(t_scopeHeap& pool, int index) const;
};

// Walks a t_lstr token by token: a run of ASCII letters, or one other unit.
class t_lstrTokenizer {
public:
    explicit t_lstrTokenizer(const t_lstr* s);
    // The next token and its length in units; null at the end.
    const uint16_t* Next(int* length);
    int32_t TokenCount() const { return m_tokens; }
    int32_t UnitCount() const { return m_units; }

private:
    int32_t m_tokens = 0;
    int32_t m_units = 0;
    const t_lstr* m_string;
    int32_t m_length;
    const uint16_t* m_end;
    const uint16_t* m_current;
};
