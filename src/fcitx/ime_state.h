// The input method's composition state and the selection record that each
// fcitx candidate carries, with the limits fcitx and the panel impose.
// Plain data of the fcitx main thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/engine/engine_iface.h"

inline constexpr int kRawInputMax = 64;   // typed characters kept
inline constexpr int kSelectionMax = 64;  // selections before a forced commit
inline constexpr int kSegmentMax = 65;    // segment ends of the unconsumed input
inline constexpr size_t kSelectionRecordBytes = 3880;
inline constexpr size_t kFcitxOutputRoom = 1801;  // fcitx's output string, NUL included
inline constexpr size_t kMessageRoom = 900;       // one fcitx message, NUL included

// What each candidate word carries as its private data and what a selection
// keeps. fcitx frees it with free(): one zeroed malloc block that owns
// nothing (the element reference is held by the deferred releases).
struct t_selectionRecord {
    int32_t tag;  // list index (+1 with a cursor prefix); 1 the prefix itself; -1 cloud
    IVetraCoreResultElement* element;
    IVetraCoreResultElement* cloudElement;  // also set for a cloud candidate
    uint32_t keptChars;                     // 0: the whole candidate
    uint32_t coveredInput;                  // raw-input characters consumed
    uint32_t textBytes;
    char text[kSelectionRecordBytes - 36];  // UTF-8, NUL-terminated
};
static_assert(sizeof(t_selectionRecord) == kSelectionRecordBytes);
inline constexpr size_t kSelectionTextRoom = sizeof(t_selectionRecord::text);

inline constexpr size_t kSelectionHeaderBytes = offsetof(t_selectionRecord, text);

// Fills a whole record; a text longer than the room is cut at the last
// whole character that fits.
void FillSelectionRecord(t_selectionRecord* record, int32_t tag, IVetraCoreResultElement* element,
                         uint32_t coveredInput, const char* text);
// A candidate's record: a zeroed malloc block filled as above but only as
// long as its text needs (a page of 2600 full blocks would cost a
// keystroke several milliseconds of zeroing). Null when memory runs out.
t_selectionRecord* NewSelectionRecord(int32_t tag, IVetraCoreResultElement* element,
                                      uint32_t coveredInput, const char* text);
// Copies a record of either kind into a whole one: the header and the text.
void CopySelectionRecord(t_selectionRecord* to, const t_selectionRecord& from);

// The five switches of the front end's settings file.
struct t_sessionSettings {
    bool englishRetain = true;  // closing by the user commits the typed letters
    bool keypadDigits = true;   // keypad digits are input text
    bool shuangpin = false;
    bool shuangpinHint = true;    // pinyin of the highlighted candidate in the preedit
    bool semicolonEmpty = false;  // with shuangpin, ";" is not input text
};

// Everything a reset clears: zeroing the whole record is the reset. One
// spare selection slot lets a cursor prefix and the chosen candidate both be
// recorded when only one would fit; that selection then commits at once.
struct t_composition {
    int32_t highlight;    // index of the highlighted candidate in the whole list
    bool highlightMoved;  // paging or highlight keys in this key event
    bool cloudInserted;
    char raw[kRawInputMax + 1];
    int32_t rawLength;
    int32_t cursor;
    int32_t selectionCount;
    t_selectionRecord selections[kSelectionMax + 1];
    int32_t consumed;              // raw position up to which selections used the input
    int32_t segEnds[kSegmentMax];  // relative to consumed
    int32_t segCount;
    int32_t rawLengthAtConversion;
    int32_t conversionStart;  // raw position the shown candidates were converted from
};
