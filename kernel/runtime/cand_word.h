// The candidate word record every candidate source fills and the candidate
// filter interface that sources consult before they add a text.
// Plain data: records live in the conversion's arena, one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

// Kind values a source sets.
inline constexpr uint16_t kCandKindScored = 0;
inline constexpr uint16_t kCandKindUser = 1;    // ranks before every other kind at equal score
inline constexpr uint16_t kCandKindPinned = 2;  // shown at its wanted place
inline constexpr uint16_t kCandKindCell = 3;
inline constexpr uint16_t kCandKindPinnedLike =
    10;                                            // tested like kCandKindPinned; no source sets it
inline constexpr uint16_t kCandKindSpecial = 11;   // what Init sets
inline constexpr uint16_t kCandKindExternal = 31;  // external user word

// Source types (the producers' values).
inline constexpr uint16_t kCandSourceSystem = 0;
inline constexpr uint16_t kCandSourceUser = 1;
inline constexpr uint16_t kCandSourceCell = 3;
inline constexpr uint16_t kCandSourceComposed = 4;
inline constexpr uint16_t kCandSourceEnglishPrefix = 7;
inline constexpr uint16_t kCandSourceEnglishCompletion = 8;
inline constexpr uint16_t kCandSourceComposedName = 9;
inline constexpr uint16_t kCandSourceFixedFirst = 10;
inline constexpr uint16_t kCandSourceCustomPhrase = 12;
inline constexpr uint16_t kCandSourceCharArt = 13;
inline constexpr uint16_t kCandSourceUserPhrase = 14;
inline constexpr uint16_t kCandSourceRawInput = 17;
inline constexpr uint16_t kCandSourceStroke = 28;
inline constexpr uint16_t kCandSourceCloud = 29;
inline constexpr uint16_t kCandSourcePrivilege = 30;
inline constexpr uint16_t kCandSourceExternalUser = 31;
inline constexpr uint16_t kCandSourceGenerator = 34;
// Bits of the source type beside the type itself.
inline constexpr uint16_t kCandSourceFlag = 0x4000;  // masked off by the predicates
inline constexpr uint16_t kCandSourceMerged = 0x8000;

// Values the ranking code gives meaning to.
inline constexpr int16_t kCandNoPower = 32767;     // rank of a record without power
inline constexpr int16_t kCandRawInputRank = 199;  // rank of the typed input echoed back
inline constexpr uint8_t kCandArcStrong = 0x10;    // arc flag of a strong candidate
inline constexpr int8_t kCandNameMarkPerson = 64;
inline constexpr int32_t kCandCloudMark = 2;
inline constexpr uint32_t kCandAdjustComposedBigram = 0x2;
inline constexpr uint32_t kCandAdjustUserCache = 0x80;
// A composed reading of at most 4 characters whose lone characters the
// statistics pair with their neighbours.
inline constexpr uint32_t kCandAdjustPiecesJoined = 0x200;
// A composed reading that exchanges the best one's last word, a lone
// character, for another that the statistics do not pair with the word
// before.
inline constexpr uint32_t kCandAdjustStrayChar = 0x400;

// a + b for order numbers and sums that must stay in 32 bits: computed in 64
// bits, a negative sum becomes 2147483647 (it could only come from a wrap),
// and a sum above 2147483647 stays at 2147483647.
inline int32_t SaturatedOrderSum(int64_t a, int64_t b) {
    const int64_t sum = a + b;  // the operands are 32-bit values: no 64-bit wrap
    if (sum < 0 || sum > INT32_MAX) return INT32_MAX;
    return int32_t(sum);
}

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
    const t_lstr* secondText;  // shown instead of text when present
    const t_lstr* thirdText;
    const t_lstr* syllableIds;  // u16 PinyinId units
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
    uint8_t smartFuzzy;  // 1 on the record the smart-fuzzy pass added
    int16_t externalClass;
    // Room for data of the source that owns the record; copied whole.
    uint8_t sourceRoom[1072];

    // Zeroes the whole record.
    static void Clear(t_candWord* w) { std::memset(static_cast<void*>(w), 0, sizeof(t_candWord)); }
    // Kind 11; clears the syllable ids, segment list, association mark,
    // frequency, adjust flags, debug text, reserved pointer and name mark.
    // Texts, covered length, score and places stay. No failure.
    static void Init(t_candWord* w) {
        w->kind = kCandKindSpecial;
        w->syllableIds = nullptr;
        w->segmentList = nullptr;
        w->associationMark = 0;
        w->frequency = 0;
        w->adjustFlags = 0;
        w->debugText = nullptr;
        w->reserved = nullptr;
        w->nameMark = 0;
    }
    // A record in the arena with every field cleared; null when the arena
    // fails. The source room is left as the arena had it (nothing in the
    // kernel reads it): zeroing it would write six times the bytes of the
    // fields, and a long page makes thousands of records per keystroke.
    static t_candWord* New(t_scopeHeap& arena) {
        void* w = arena.AllocAlignedUncleared(sizeof(t_candWord), 8);
        if (w) std::memset(w, 0, offsetof(t_candWord, sourceRoom));
        return static_cast<t_candWord*>(w);
    }
    // A cleared record set up by Init; null when the arena fails.
    static t_candWord* NewSpecial(t_scopeHeap& arena) {
        t_candWord* w = New(arena);
        if (w) Init(w);
        return w;
    }
    // A copy of `from` in the arena; null when the arena fails.
    static t_candWord* NewCopy(t_scopeHeap& arena, const t_candWord* from) {
        t_candWord* w = New(arena);
        if (w) CopyFrom(w, from);
        return w;
    }
    // The whole record; strings are shared, not duplicated.
    static void CopyFrom(t_candWord* to, const t_candWord* from) {
        std::memcpy(static_cast<void*>(to), from, sizeof(t_candWord));
    }
    // The text and the text shown instead of it (null when none).
    static void SetText(t_candWord* w, const t_lstr* text, const t_lstr* second) {
        w->text = text;
        w->secondText = second;
    }
    static void SetThirdText(t_candWord* w, const t_lstr* text) { w->thirdText = text; }
    // The merged mark of a record taken over from a second array.
    static void MarkMerged(t_candWord* w) { w->sourceType |= kCandSourceMerged; }
    static void ClearMerged(t_candWord* w) { w->sourceType &= uint16_t(~kCandSourceMerged); }
    static bool CoversAtLeast(const t_candWord* w, uint32_t n) { return w->coveredLength >= n; }

    // Merges other, a record of the same text, into kept (which stays in the
    // list): missing frequency, texts, readings and data are taken over, the
    // higher name mark wins, the lower position floor stays, and the source
    // type moves where a user, system or cloud reading tells more (see the
    // table in the .cpp).
    static void MergeFrom(t_candWord* kept, const t_candWord* other);

    // Predicates over the source type with bit 0x4000 masked off.
    // Whether the record is a word of a dictionary (not a special text).
    static bool IsLexicalWord(const t_candWord* w);
    // The typed input shown back as it is.
    static bool IsInputEcho(const t_candWord* w);
    static bool HasReading(const t_candWord* w) { return !IsInputEcho(w) && w->syllableIds; }
    static bool HasSyllableIds(const t_candWord* w) { return w->syllableIds != nullptr; }
    // The order number of a composed person name, else 0.
    static int32_t GetNameOrder(const t_candWord* w);
    static bool IsPrivilege(const t_candWord* w) { return w->sourceType == kCandSourcePrivilege; }
    // One unit in U+E000..U+E700, the range the outer filter refuses.
    static bool IsPrivateUseChar(const t_candWord* w);
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
