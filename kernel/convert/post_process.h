// Candidate post-processing: the merged mark collected into a bit mask, the
// smart-fuzzy decision with its tuning file "SmartFParams.txt", the "clearly
// better" order of the association pass, and the weak-top gate.
// The parameters are a process-wide singleton read on the conversion thread;
// everything else works on one conversion's records.
#pragma once

#include <cstdint>

#include "kernel/runtime/singleton.h"

struct t_candWord;
class t_arrayWord;
class t_scopeHeap;

// For each record i below 16 whose source type carries the merged mark, sets
// bit i of *mask; clears the mark on every record (a page holds far more
// records than the mask has bits). Null records are skipped.
void CollectMergedMask(t_candWord** records, int n, uint16_t* mask);

// Tuning of the smart-fuzzy pass, read from "SmartFParams.txt" in the user
// data directory: line 1 the number 20090410, line 2 a positive count (kept
// as the data version), line 3 "max user words,max system words,min system
// rank,score factor", none negative.
class t_smartFuzzyParams {
public:
    static constexpr int32_t kFileMark = 20090410;
    static constexpr int kMaxLine = 1024;
    static constexpr const wchar_t* kFileName = L"SmartFParams.txt";

    t_smartFuzzyParams() { Reset(); }
    void Reset();
    // 1 when the file was read whole; 0 (the defaults stay) when it is
    // missing or any line is wrong.
    int Load(const wchar_t* path);
    // Load of the file in the configured user data directory.
    int LoadDefaultFile();

    int32_t maxUserWords;
    int32_t maxSystemWords;
    int32_t minSystemRank;
    float scoreFactor;
    int32_t dataVersion;
};

struct SmartFuzzyCounters {
    int32_t userCount;
    int32_t systemCount;
    uint8_t systemSeen;
    int16_t firstSystemRank;
    float scoreFactor;

    static void Init(SmartFuzzyCounters* c);
};

// 1 when the smart-fuzzy pass is worth running over the leading records
// (params: null takes the process-wide ones, made with the defaults on
// first use).
int ShouldRunSmartFuzzy(SmartFuzzyCounters* c, t_candWord* const* records, int n,
                        const t_smartFuzzyParams* params = nullptr);
// The fuzzy record to keep from the fuzzy pass's records, or null.
// weights[i] is the weight the spelling of record i was given (null: 1.0
// each): a record is sure when its score reaches it, as a plain reading is
// at 1.0.
t_candWord* PickSmartFuzzyCandidate(const SmartFuzzyCounters* c, t_candWord* const* records, int n,
                                    const double* weights = nullptr);

// Whether a ranks clearly before b (the association pass's strict test).
bool IsClearlyBetter(const t_candWord* a, const t_candWord* b);

// The last step of the association pass: the first of the arranged
// association results (n of them) joins the main array with association
// mark 1, at position floor 2 unless the main array's top word is pinned
// (kCandKindPinned or kCandKindPinnedLike), or it covers less of the input
// than the result and the result is clearly better than it. With strict,
// two or more results must have a clearly better first. 1 when it was added.
int PlacePredictedWord(t_arrayWord* main, t_candWord* const* results, int n, bool strict);

// Tells the generator whether its leading candidates are weak.
struct WeakTopGate {
    t_scopeHeap* arena;
    int32_t inputLength;
    uint8_t enabled;
    uint8_t strict;
    uint8_t loose;

    static void Init(WeakTopGate* g, t_scopeHeap* arena, int32_t inputLength);
    // Enabled only when asked and the three generator options are at their
    // defaults 2, 2 and 4.
    static void SetOptions(WeakTopGate* g, bool asked, int option1, int option2, int option3);
    static void SetLevel(WeakTopGate* g, int level, bool loose);
    static bool Accept(const WeakTopGate* g, int flagA, int flagB, const t_arrayWord* array);
};
