// The candidate word record every candidate source fills and the candidate
// filter interface that sources consult before they add a text.
// Plain data: records live in the conversion's arena, one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernel/runtime/lstr.h"

// Kind values a source sets.
inline constexpr uint16_t kCandKindScored = 0;
inline constexpr uint16_t kCandKindUser = 1;
inline constexpr uint16_t kCandKindPinned = 2;
inline constexpr uint16_t kCandKindCell = 3;
inline constexpr uint16_t kCandKindSpecial = 11;  // what Init sets

// Source types of the sources built so far.
inline constexpr uint16_t kCandSourceStroke = 28;

// One candidate: its texts, the syllables it was read from, how much input it
// covers, its frequency and score, its wanted place, its kind and source.
// Strings are t_lstr pointers into the arena or a dictionary image; null is
// an empty string. Zero the record (Clear) before its first use.
struct t_candWord {
    int32_t statCounts[3];
    uint16_t statValues[3];
    uint8_t arcClass;
    const t_lstr* text;
    const t_lstr* furtherText;
    const t_lstr* secondText;     // shown instead of text when present
    const t_lstr* thirdText;
    const t_lstr* syllableIds;    // u16 PinyinId units
    const t_lstr* segmentList;
    uint32_t coveredLength;
    uint8_t multiChar;
    uint8_t segmentBest;
    uint16_t associationMark;
    int32_t frequency;
    double score;
    int32_t wantedPlace;
    int16_t positionFloor;
    uint16_t kind;
    uint16_t sourceType;
    uint32_t adjustFlags;
    const t_lstr* debugText;
    void* reserved;
    int8_t nameMark;
    uint8_t markCompanion;
    int32_t cloudMark;
    int32_t orderNumber;
    int32_t privilegeOrder;
    int16_t rank;
    void* attachedData;
    uint8_t arcFlags;
    uint8_t countable;
    uint8_t cloudPriority;
    int16_t externalClass;
    // Room for data of the source that owns the record; copied whole.
    uint8_t sourceRoom[1072];

    // Zeroes the whole record.
    static void Clear(t_candWord* w) { std::memset(static_cast<void*>(w), 0, sizeof(t_candWord)); }
    // Kind 11; clears the syllable ids, segment list, covered length,
    // association mark, frequency, adjust flags, debug text, reserved pointer
    // and name mark. Texts, score and places stay. No failure.
    static void Init(t_candWord* w) {
        w->kind = kCandKindSpecial;
        w->syllableIds = nullptr;
        w->segmentList = nullptr;
        w->coveredLength = 0;
        w->associationMark = 0;
        w->frequency = 0;
        w->adjustFlags = 0;
        w->debugText = nullptr;
        w->reserved = nullptr;
        w->nameMark = 0;
    }
};
static_assert(sizeof(t_candWord) == 1240, "the candidate record is 1240 bytes");

// A test a source runs on each candidate text before adding it.
class i_candidateFilter {
public:
    virtual ~i_candidateFilter() = default;
    // Non-zero keeps the text.
    virtual int AcceptWide(const wchar_t* text) = 0;
    virtual int AcceptLstr(const t_lstr* text) = 0;
};
