// The merged mask, the smart-fuzzy parameters and decision, the clearly-
// better order and the weak-top gate. One conversion's thread.
#include "kernel/convert/post_process.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cwchar>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/text_file.h"

namespace {

constexpr int32_t kDefaultMinSystemRank = 100;
constexpr int16_t kNoSystemRank = 10240;
// ln(factor) / this widens the rank a fuzzy pick may have.
constexpr double kFactorScale = -0.015113637810048184;

uint16_t TypeOf(const t_candWord* w) {
    return w->sourceType & uint16_t(~(kCandSourceFlag | kCandSourceMerged));
}

// A whole decimal number and nothing else (spaces and a trailing CR aside).
bool ParseWhole(const wchar_t* s, long* out) {
    wchar_t* end = nullptr;
    const long v = std::wcstol(s, &end, 10);
    if (end == s) return false;
    while (*end == L' ' || *end == L'\r' || *end == L'\t') ++end;
    if (*end) return false;
    *out = v;
    return true;
}

}  // namespace

void CollectMergedMask(t_candWord** records, int n, uint16_t* mask) {
    if (mask) *mask = 0;
    if (!records) return;
    for (int i = 0; i < n; ++i) {
        t_candWord* w = records[i];
        if (!w) continue;
        if ((w->sourceType & kCandSourceMerged) && i < 16 && mask)
            *mask = uint16_t(*mask | (1u << i));
        t_candWord::ClearMerged(w);
    }
}

void t_smartFuzzyParams::Reset() {
    maxUserWords = 0;
    maxSystemWords = 0;
    minSystemRank = kDefaultMinSystemRank;
    scoreFactor = 1.0f;
    dataVersion = kFileMark;
}

int t_smartFuzzyParams::Load(const wchar_t* path) {
    if (!path || !path[0]) return 0;
    t_textFile file;
    if (!file.Open(path, 1, kTextGbk)) return 0;
    wchar_t line[kMaxLine + 1];
    long mark = 0, count = 0;
    if (!file.ReadLine(line, kMaxLine + 1) || !ParseWhole(line, &mark) || mark != kFileMark)
        return 0;
    if (!file.ReadLine(line, kMaxLine + 1) || !ParseWhole(line, &count) || count <= 0 ||
        count > INT32_MAX)
        return 0;
    if (!file.ReadLine(line, kMaxLine + 1)) return 0;
    int users = 0, systems = 0, rank = 0;
    float factor = 0;
    if (std::swscanf(line, L"%d,%d,%d,%f", &users, &systems, &rank, &factor) != 4) return 0;
    if (users < 0 || systems < 0 || rank < 0 || !(factor >= 0)) return 0;
    maxUserWords = users;
    maxSystemWords = systems;
    minSystemRank = rank;
    scoreFactor = factor;
    dataVersion = int32_t(count);
    return 1;
}

int t_smartFuzzyParams::LoadDefaultFile() {
    t_pathName p;
    const wchar_t* dir = GetConfiguredUserDir();
    // Most users have none: no message for a missing file.
    if (!dir[0] || !p.InitJoin(dir, kFileName) || !PathIsFile(p)) return 0;
    return Load(p.GetFull());
}

void SmartFuzzyCounters::Init(SmartFuzzyCounters* c) {
    if (!c) return;
    c->userCount = 0;
    c->systemCount = 0;
    c->systemSeen = 0;
    c->firstSystemRank = kNoSystemRank;
    c->scoreFactor = 1.0f;
}

int ShouldRunSmartFuzzy(SmartFuzzyCounters* c, t_candWord* const* records, int n,
                        const t_smartFuzzyParams* params) {
    if (!c || (n > 0 && !records)) return 0;
    if (n >= 1 && records[0] &&
        !(records[0]->kind == kCandKindPinned && records[0]->wantedPlace > 0) &&
        LstrGetByteLength(records[0]->text) > 10)
        return 0;
    for (int i = 0; i < n; ++i) {
        const t_candWord* w = records[i];
        if (!w || w->score < 1.0) continue;
        const uint16_t type = TypeOf(w);
        if (type == kCandSourceSystem) {
            if (!c->systemSeen) {
                c->systemSeen = 1;
                c->firstSystemRank = w->rank;
            }
            ++c->systemCount;
        } else if (type == kCandSourceUser || type == kCandSourceFixedFirst) {
            ++c->userCount;
        }
    }
    if (!params) {
        t_smartFuzzyParams& held = t_singleton<t_smartFuzzyParams>::Get();
        params = &held;
    }
    c->scoreFactor = params->scoreFactor;
    if (c->userCount > params->maxUserWords || c->systemCount > params->maxSystemWords) return 0;
    if (!c->systemSeen) return 1;
    return c->firstSystemRank >= params->minSystemRank ? 1 : 0;
}

t_candWord* PickSmartFuzzyCandidate(const SmartFuzzyCounters* c, t_candWord* const* records, int n,
                                    const double* weights) {
    if (!c || !records) return nullptr;
    t_candWord* pick = nullptr;
    for (int i = 0; i < n && !pick; ++i) {
        t_candWord* w = records[i];
        if (!w) continue;
        const uint16_t type = TypeOf(w);
        // A fuzzy spelling weighs less than a plain one: its reading is as
        // sure as a plain one when its score reaches that weight, not 1.0,
        // which no fuzzy reading reaches. Unsure, only source types 2 and
        // 10 (fixed-first words) are passed over.
        const double sure = weights && weights[i] > 0 && weights[i] < 1.0 ? weights[i] : 1.0;
        if (w->score < sure && type != 2 && type != kCandSourceFixedFirst) return nullptr;
        if (w->arcFlags & kCandArcStrong) pick = w;
    }
    if (!pick) return nullptr;
    const uint16_t type = TypeOf(pick);
    if (c->scoreFactor <= 0 || type == kCandSourcePrivilege || type == kCandSourceUser ||
        type == kCandSourceExternalUser)
        return pick;
    if (type != 0) return nullptr;
    if (!c->systemSeen) return pick;
    const double widened = std::log(double(c->scoreFactor)) / kFactorScale + c->firstSystemRank;
    return widened > pick->rank ? pick : nullptr;
}

bool IsClearlyBetter(const t_candWord* a, const t_candWord* b) {
    if (!a || !b) return false;
    if (a->kind == kCandKindUser) {
        if (b->kind == kCandKindUser) return int64_t(a->orderNumber) >= 2 * int64_t(b->orderNumber);
        if (b->kind == kCandKindScored) return b->rank > 1024;
        return true;
    }
    if (a->kind == kCandKindScored) {
        if (b->kind == kCandKindUser) return false;
        if (b->kind == kCandKindScored) return b->rank > 1023 && a->rank + 144 < b->rank;
        return true;
    }
    return false;
}

int PlacePredictedWord(t_arrayWord* main, t_candWord* const* results, int n, bool strict) {
    if (!main || !results || n < 1 || !results[0]) return 0;
    t_candWord* first = results[0];
    if (strict && n >= 2 && results[1] && !IsClearlyBetter(first, results[1])) return 0;
    if (const t_candWord* top = main->GetTopWord()) {
        const bool pinnedTop = top->kind == kCandKindPinned || top->kind == kCandKindPinnedLike;
        // Where the keys read whole, that reading comes first: a word that
        // reads on beyond them would commit characters never typed.
        const bool wholeTop = top->coveredLength >= first->coveredLength;
        if (!pinnedTop && (wholeTop || !IsClearlyBetter(first, top))) first->positionFloor = 2;
    }
    int filtered = 0;
    main->Add(first, &filtered);
    first->associationMark = 1;
    return 1;
}

void WeakTopGate::Init(WeakTopGate* g, t_scopeHeap* arena, int32_t inputLength) {
    if (!g) return;
    g->arena = arena;
    g->inputLength = inputLength;
    g->enabled = g->strict = g->loose = 0;
}

void WeakTopGate::SetOptions(WeakTopGate* g, bool asked, int option1, int option2, int option3) {
    if (g) g->enabled = asked && option1 == 2 && option2 == 2 && option3 == 4;
}

void WeakTopGate::SetLevel(WeakTopGate* g, int level, bool loose) {
    if (!g || level != 3) return;
    g->strict = 1;
    if (loose) g->loose = 1;
}

bool WeakTopGate::Accept(const WeakTopGate* g, int flagA, int flagB, const t_arrayWord* array) {
    if (!g || !g->enabled || flagA != 0 || flagB != 0 || !g->strict || !array) return false;
    t_candWord** list = nullptr;
    const int n = g->arena ? array->CopyRanked(g->arena, &list) : 0;
    if (n <= 0) return true;
    const uint32_t length = uint32_t(g->inputLength > 0 ? g->inputLength : 0);
    if (list[0]->coveredLength < length) return true;
    if (TypeOf(list[0]) == kCandSourceUser) return false;
    const t_candWord* kept = nullptr;
    for (int i = 0; i < n && list[i]->coveredLength >= length; ++i) {
        const uint16_t type = TypeOf(list[i]);
        if (type == kCandSourceUser) return false;
        if (!kept && (type == kCandSourceSystem || type == kCandSourceComposed)) kept = list[i];
    }
    if (!kept) return true;
    if (kept->kind != kCandKindScored) return false;
    return kept->rank > 1023;
}
