// Edit codes, correction labels, the admission rule and the merge of the
// correction candidates into the main array. One conversion's thread.
#include "kernel/convert/correction_cands.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"

namespace {

constexpr uint8_t kOpSwap = 1, kOpInsert = 2, kOpReplace = 3;

// The margins are in this project's path costs and letter priors, where a
// single edit's prior (trigram cost plus the kind's base cost) is 450 to
// 760. Measured on the calibration phrases and a typo set made from them:
// at level 4 (a sure reading) a correction competes for the first place
// only 600 below the typed reading and is offered at all up to about 700
// above it, so that a phrase typed as meant shows no correction first and
// one in 15 at place 2. Below level 4 the typed reading's own path cost
// covers only the part it can read, so it is no measure to reject the
// first correction by.
constexpr int32_t kAdmissionOffset[5] = {-1000, -100, 0, 100, 500};
constexpr int32_t kLaterOffset[5] = {-500, -20000, -20000, -20000, -450};
// The prior of one ordinary edit, at most: level 4 admits no correction
// that needed a rarer one.
constexpr int32_t kMaxSureEditPrior = 799;
// Strict admission: the corrected reading may cost at most this much more
// than the typed one (before its edit's prior).
constexpr int32_t kStrictSlack = 100;
constexpr int32_t kLaterKindOffset[5][6] = {
    {0, 40, -90, -100, -20, 0}, {0, 40, -90, -90, -30, 0}, {0, 40, -100, -90, -30, 0},
    {0, 40, -55, -45, 0, 0},    {0, 40, -70, -60, 0, 0},
};
constexpr const wchar_t* kKindNames[6] = {L"err", L"sub", L"del", L"ins", L"tra", L"err"};
constexpr const wchar_t kLabelHead[] =
    L"adj(原串语言模型:纠错串语言模型+纠错通用模型+个性模型=得分):";

int Level(const t_admissionParams& p) {
    return std::clamp(p.level, 0, 4);
}
int KindIndex(int32_t kind) {
    return kind >= 0 && kind <= 5 ? kind : 5;
}

const wchar_t* ArenaText(t_scopeHeap* arena, const std::wstring& s) {
    if (!arena) return nullptr;
    auto* out = static_cast<wchar_t*>(
        arena->AllocAligned((s.size() + 1) * sizeof(wchar_t), alignof(wchar_t)));
    if (!out) return nullptr;
    std::wmemcpy(out, s.c_str(), s.size() + 1);
    return out;
}

// A signed decimal at *p, moved past; false when there is none.
bool ReadInt(const wchar_t*& p, int32_t* v) {
    const wchar_t* start = p;
    if (*p == L'-') ++p;
    if (*p < L'0' || *p > L'9') return false;
    int64_t n = 0;
    while (*p >= L'0' && *p <= L'9') {
        n = n * 10 + (*p++ - L'0');
        if (n > INT32_MAX) return false;
    }
    *v = int32_t(*start == L'-' ? -n : n);
    return true;
}

bool Expect(const wchar_t*& p, wchar_t c) {
    return *p == c ? (++p, true) : false;
}

}  // namespace

int EncodeEditCode(uint8_t code[2], const t_editRequest& edit, int position) {
    if (!code || position < 0 || position > kMaxEditPosition) return 0;
    if (edit.kind == 2) {
        code[0] = uint8_t(kOpSwap << 6 | position);
        code[1] = 0;
        return 1;
    }
    if (edit.kind != 1) return 0;
    if (edit.oldChar == kEditGap) {
        code[0] = uint8_t(kOpInsert << 6 | position);
        code[1] = uint8_t(edit.newChar);
    } else {
        code[0] = uint8_t(kOpReplace << 6 | position);
        code[1] = uint8_t(edit.newChar);
    }
    return 1;
}

int ApplyEditCode(const uint8_t code[2], const wchar_t* input, int length, wchar_t* out, int* size,
                  int* kind, int* position) {
    if (!code || !input || !out || !size || length < 0) return 0;
    const int op = code[0] >> 6, pos = code[0] & 0x3F;
    const wchar_t ch = wchar_t(code[1]);
    int newLength, k;
    // The position comes from a stored file: it must lie inside the input.
    switch (op) {
        case kOpSwap:
            if (pos >= length - 1) return 0;
            k = kEditSwap, newLength = length;
            break;
        case kOpInsert:
            if (pos > length) return 0;
            k = kEditInsert, newLength = length + 1;
            break;
        case kOpReplace:
            if (pos >= length) return 0;
            k = ch == kEditGap ? kEditDelete : kEditSubstitute;
            newLength = k == kEditDelete ? length - 1 : length;
            break;
        default:
            return 0;
    }
    if (*size < newLength + 1) return 0;
    switch (k) {
        case kEditSwap:
            std::wmemcpy(out, input, size_t(length));
            std::swap(out[pos], out[pos + 1]);
            break;
        case kEditInsert:
            std::wmemcpy(out, input, size_t(pos));
            out[pos] = ch;
            std::wmemcpy(out + pos + 1, input + pos, size_t(length - pos));
            break;
        case kEditDelete:
            std::wmemcpy(out, input, size_t(pos));
            std::wmemcpy(out + pos, input + pos + 1, size_t(length - pos - 1));
            break;
        default:
            std::wmemcpy(out, input, size_t(length));
            out[pos] = ch;
            break;
    }
    out[newLength] = 0;
    *size = newLength;
    if (kind) *kind = k;
    if (position) *position = pos;
    return 1;
}

int IsAllLowerAscii(const wchar_t* text) {
    if (!text) return 0;
    for (; *text; ++text)
        if (*text < L'a' || *text > L'z') return 0;
    return 1;
}

const wchar_t* GetEditKindName(int32_t kind) {
    return kKindNames[KindIndex(kind)];
}

int32_t ParseEditKind(const wchar_t* text) {
    if (!text) return kEditUnknown;
    for (int32_t k = kEditSubstitute; k <= kEditSwap; ++k)
        if (std::wcsncmp(text, kKindNames[k], 3) == 0) return k;
    return kEditUnknown;
}

const wchar_t* FormatCorrectionLabel(t_scopeHeap* arena, const wchar_t* text,
                                     const t_correctionScore& s) {
    std::wstring out = kLabelHead;
    if (text) out += text;
    out += L"_";
    out += GetEditKindName(s.kind);
    const int64_t sum = int64_t(s.corrected) + s.general + s.personal;
    out += L"(" + std::to_wstring(s.typed) + L":" + std::to_wstring(s.corrected) + L"+" +
           std::to_wstring(s.general) + L"+" + std::to_wstring(s.personal) + L"=" +
           std::to_wstring(sum) + L")";
    return ArenaText(arena, out);
}

const wchar_t* ParseCorrectionLabel(t_scopeHeap* arena, t_correctionScore* score, int32_t* sum,
                                    const wchar_t* label) {
    const size_t head = std::wcslen(kLabelHead);
    if (!label || !score || std::wcsncmp(label, kLabelHead, head) != 0) return nullptr;
    // The scores follow the last "_kind(" of the label; the text may hold "_".
    const wchar_t* open = std::wcsrchr(label + head, L'(');
    if (!open || open < label + head + 4 || open[-4] != L'_') return nullptr;
    t_correctionScore s;
    s.kind = ParseEditKind(open - 3);
    int32_t total = 0;
    const wchar_t* p = open + 1;
    if (!ReadInt(p, &s.typed) || !Expect(p, L':') || !ReadInt(p, &s.corrected) ||
        !Expect(p, L'+') || !ReadInt(p, &s.general) || !Expect(p, L'+') ||
        !ReadInt(p, &s.personal) || !Expect(p, L'=') || !ReadInt(p, &total) || !Expect(p, L')') ||
        *p != 0)
        return nullptr;
    if (int64_t(s.corrected) + s.general + s.personal != total) return nullptr;
    s.total = total;
    const wchar_t* text = ArenaText(arena, std::wstring(label + head, open - 4));
    if (!text) return nullptr;
    *score = s;
    if (sum) *sum = total;
    return text;
}

bool AdmitCorrection(const t_admissionParams& params, const t_correctionScore& s, bool shorter) {
    const int level = Level(params);
    const int32_t offset = kAdmissionOffset[level];
    const int64_t total = s.total, typed = s.typed;
    if (params.relaxed) {
        if (s.kind == kEditSwap && s.multi) return true;
        if (shorter) return s.corrected < s.typed;
        return total + offset <= typed + 150;
    }
    if (shorter) return total + offset <= typed + 150;
    if (level == 4)
        return total + kAdmissionOffset[4] - typed < -100 && s.general <= kMaxSureEditPrior;
    return total + offset <= typed + 150;
}

bool IsLaterCorrectionRejected(const t_correctionScore& s, const t_admissionParams& params) {
    if (s.keep) return false;
    const int64_t rank = s.corrected, typed = s.typed;
    if (params.strict && rank > typed + kStrictSlack) return true;
    if (params.relaxed && s.close && rank + 200 < typed) return false;
    const int level = Level(params);
    return int64_t(s.total) + kLaterOffset[level] + kLaterKindOffset[level][KindIndex(s.kind)] -
               typed >
           250;
}

int t_arrayWord::MergeCorrections(const t_arrayWord* corrections, bool shorter,
                                  const t_correctionScore& score, const t_admissionParams& params) {
    if (!corrections || !IsValid()) return 0;
    t_candWord** records = nullptr;
    const int n = corrections->CopyRanked(m_heap, &records);
    if (n <= 0) return 0;
    int any = 0, filtered = 0;
    const t_candWord* top = GetFirstRanked();
    if (!top) {
        for (int i = 0; i < n; ++i) {
            Add(records[i], &filtered);
            t_candWord::MarkMerged(records[i]);
            any = 1;
        }
        return any;
    }
    const int level = Level(params);
    const auto isUser = [](const t_candWord* w) {
        return (w->sourceType & ~(kCandSourceFlag | kCandSourceMerged)) == kCandSourceUser;
    };
    for (int i = 0; i < n; ++i) {
        t_candWord* r = records[i];
        if (r->coveredLength == top->coveredLength && LstrCompare(r->text, top->text) == 0)
            continue;
        // A word the keys as typed give too stays theirs: merged, it would
        // take their place.
        if (params.neverFirst && !params.joinHeld && FindWord(r->text)) continue;
        if (i > 0) {
            if (!score.multi || level == 4) continue;
            if (level == 3) {
                t_correctionScore seen = score;
                seen.corrected = r->rank;
                seen.total = r->rank + score.general + score.personal;
                if (IsLaterCorrectionRejected(seen, params)) continue;
            } else if (r->rank > top->rank) {
                continue;
            }
        }
        const bool shorterText = LstrGetLength(r->text) < LstrGetLength(top->text);
        const bool composed = (r->sourceType & 0xFF) == kCandSourceComposed;
        const int32_t margin =
            (((i > 0 && level != 3) || score.multi) && shorterText && !composed && shorter) ? 200
                                                                                            : 300;
        bool good = r->coveredLength > top->coveredLength || (isUser(r) && !isUser(top));
        if (!good) {
            if (isUser(r) || isUser(top)) good = r->rank + margin < top->rank;
            if (!good)
                good = r->kind == kCandKindScored && top->kind == kCandKindScored &&
                       r->rank + 150 < top->rank;
        }
        // A correction that covers less of the input and is no better ends the merge.
        if (!good && r->coveredLength < top->coveredLength) break;
        if (params.strict && !good) break;
        if ((isUser(r) && !isUser(top) && r->rank + 50 < top->rank) ||
            AdmitCorrection(params, score, shorter)) {
            if (r->coveredLength > top->coveredLength && top->score >= 1.0) r->score *= 1.01;
            if (params.neverFirst) r->positionFloor = 2;
            Add(r, &filtered);
            // Joined with a record of its text, it takes that record's floor.
            t_candWord* kept = params.joinHeld ? FindWord(r->text) : nullptr;
            if (kept && kept->positionFloor < 2) kept->positionFloor = 2;
        } else {
            const bool sameText = LstrCompare(r->text, top->text) == 0;
            if (sameText && params.neverFirst) continue;
            r->rank = kCorrectionPinnedRank;
            r->kind = kCandKindPinned;
            r->wantedPlace = sameText ? 1 : 2;
            r->orderNumber = n - i;
            AddChecked(r, &filtered);
        }
        t_candWord::MarkMerged(r);
        any = 1;
    }
    return any;
}
