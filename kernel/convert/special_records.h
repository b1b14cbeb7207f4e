// Candidate records of the special input mode ("v" or ">" first): numbers,
// amounts, dates, times, symbols and calculator results, written into the
// caller's array of record pointers. One conversion thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"

// Source types of the special-input records.
inline constexpr uint16_t kCandSourceNumeral = 21;  // numerals, digits, separated numbers
inline constexpr uint16_t kCandSourceMoney = 22;
inline constexpr uint16_t kCandSourceDateTime = 23;
inline constexpr uint16_t kCandSourceRoman = 24;
inline constexpr uint16_t kCandSourceCalculator = 25;
inline constexpr uint16_t kCandSourceSymbol = 26;

// Makes records one after another in one contiguous block of the arena and
// puts a pointer to each into out[0 .. capacity-1]. Each record is cleared,
// made with t_candWord::Init, and gets its text, score 1.0 and source type.
class t_specialRecords {
public:
    // Room for min(capacity, maxRecords) records is taken at the first Add.
    t_specialRecords(t_scopeHeap& arena, t_candWord** out, int capacity, int maxRecords);

    bool Full() const { return m_count >= m_room; }
    int Count() const { return m_count; }
    // False (nothing made) when full, the text is empty or the arena is out
    // of memory.
    bool Add(const std::wstring& text, uint16_t sourceType);

private:
    t_scopeHeap& m_arena;
    t_candWord** m_out;
    t_candWord* m_block = nullptr;
    int m_room;
    int m_count = 0;
};
