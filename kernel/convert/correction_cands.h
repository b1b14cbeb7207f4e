// Correction candidates: the two-byte code of one edit of the typed input and
// its application, the score record of a corrected variant with its debug
// label, and the admission rule that lets a correction compete, pins it at
// place 1 or 2, or drops it. Stateless helpers; one conversion's thread.
#pragma once

#include <cstdint>

class t_scopeHeap;

// Edit kinds (their names are three characters long).
enum : int32_t {
    kEditNone = 0,
    kEditSubstitute = 1,
    kEditDelete = 2,
    kEditInsert = 3,
    kEditSwap = 4,
    kEditUnknown = 5,
};

// The edit an encoder is given: kind 1 replaces old by new ("~" as old:
// insert new; "~" as new: delete), kind 2 swaps the character at the
// position with the next one.
struct t_editRequest {
    int32_t kind = 0;
    wchar_t oldChar = 0;
    wchar_t newChar = 0;
};

inline constexpr int kMaxEditPosition = 63;
inline constexpr wchar_t kEditGap = L'~';

// Byte 0: operation in bits 7-6 (01 swap, 10 insert, 11 substitute or,
// with "~" in byte 1, delete), position in bits 5-0. 1, or 0 for a
// position outside 0..63 or an unknown kind.
int EncodeEditCode(uint8_t code[2], const t_editRequest& edit, int position);
// Applies a code to input[0..length) into out; *size holds out's capacity
// in characters and receives the new length. 0 when the code is unknown,
// the position lies outside the input (a swap needs a next character, an
// insert may stand at the end), or out cannot hold the result and its
// terminator. *kind receives 1 sub, 2 del, 3 ins or 4 tra.
int ApplyEditCode(const uint8_t code[2], const wchar_t* input, int length, wchar_t* out, int* size,
                  int* kind, int* position);

// 1 when text is empty or only "a" to "z"; 0 for null.
int IsAllLowerAscii(const wchar_t* text);
const wchar_t* GetEditKindName(int32_t kind);  // "err" outside 1..4
int32_t ParseEditKind(const wchar_t* text);    // 1..4 by the leading name, else 5
inline bool IsInsOrTra(int32_t kind) {
    return kind == kEditInsert || kind == kEditSwap;
}
inline bool IsSubOrDel(int32_t kind) {
    return kind == kEditSubstitute || kind == kEditDelete;
}
inline bool IsNotTra(int32_t kind) {
    return kind != kEditSwap;
}

// The four model scores of a corrected variant (lower is likelier).
struct t_correctionScore {
    int32_t corrected = 0;  // language model of the corrected input
    int32_t general = 0;    // the correction in the general model
    int32_t personal = 0;   // the correction in the user's model
    int32_t typed = 0;      // language model of the input as typed
    int32_t total = 0;      // corrected + general + personal
    uint8_t keep = 0;       // never rejected by the later-candidate test
    uint8_t close = 0;      // the later-candidate test's 200 margin applies
    uint8_t multi = 0;      // more than one correction may be considered
    int32_t kind = kEditUnknown;
};

struct t_admissionParams {
    int32_t level = 2;  // 0..4, the correction strength
    uint8_t strict = 0;
    uint8_t relaxed = 0;
    uint8_t neverFirst = 0;  // a correction never stands at place 1
    // With neverFirst: a correction whose text the keys as typed give too
    // joins that record, kept from place 1 as well, instead of being left out.
    uint8_t joinHeld = 0;
};

// "adj(...):" text "_" kind "(" typed ":" corrected "+" general "+"
// personal "=" sum ")" in the arena; null when the arena fails.
const wchar_t* FormatCorrectionLabel(t_scopeHeap* arena, const wchar_t* text,
                                     const t_correctionScore& score);
// The text of a label of that form whose sum equals its three parts (in
// the arena), with the record and the sum; null for anything else.
const wchar_t* ParseCorrectionLabel(t_scopeHeap* arena, t_correctionScore* score, int32_t* sum,
                                    const wchar_t* label);

// True: the correction competes normally; false: it is pinned.
bool AdmitCorrection(const t_admissionParams& params, const t_correctionScore& score, bool shorter);
// True: drop a later correction candidate (its rank in score.corrected).
bool IsLaterCorrectionRejected(const t_correctionScore& score, const t_admissionParams& params);

// Rank and order of a pinned correction.
inline constexpr int16_t kCorrectionPinnedRank = 29990;
