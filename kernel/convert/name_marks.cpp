// Person-name marks of word records and composed names. One conversion on
// one thread.
#include "kernel/convert/name_marks.h"

#include "kernel/candidate/cand_word.h"
#include "kernel/convert/cand_array.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

namespace {

constexpr uint8_t kClassKindName = 2;
constexpr int8_t kNameMarkClass = 2;
constexpr int8_t kNameMarkOther = int8_t(128 - 256);  // 128 in the byte
constexpr uint32_t kNameBufBytes = 512;

}  // namespace

void SetSystemWordNameMark(t_nameMarkState* state, uint32_t entry, const t_sysDict* sys, t_candWord* w,
                           bool namesWanted, bool fullSpan) {
    if (!w) return;
    w->nameMark = 0;
    w->markCompanion = 0;
    if (!sys) return;
    const uint8_t flags = sys->GetWordFlags(entry);
    if (state && !state->marked && namesWanted && fullSpan) {
        if (flags & n_sysDict::kFlagPersonName) {
            state->found = 1;
            state->marked = 1;
            w->nameMark = kCandNameMarkPerson;
            return;
        }
        if (flags & n_sysDict::kFlagNameLike) state->found = 1;
    }
    uint8_t cls[n_sysDict::kClassSize];
    if (sys->GetWordClassInfo(entry, cls) && (cls[0] & 7) == kClassKindName && cls[4] != 0) {
        w->nameMark = kNameMarkClass;
        w->markCompanion = cls[4];
    }
}

void SetUserWordNameMark(t_nameMarkState* state, int nameType, t_candWord* w, bool namesWanted, bool fullSpan) {
    if (!w) return;
    nameType &= 3;
    w->nameMark = 0;
    w->markCompanion = 0;
    if (nameType == 0) return;
    if (nameType != 2) {
        w->nameMark = kNameMarkOther;
        w->markCompanion = uint8_t(nameType);
        return;
    }
    w->nameMark = kCandNameMarkPerson;
    w->markCompanion = 2;
    if (state && !state->marked && namesWanted && fullSpan) state->found = 1;
}

int AddComposedNames(t_arrayWord* out, t_scopeHeap* arena, const t_sysDict* sys, uint32_t covered,
                     const t_nameNode* nodes, int count, int16_t value, bool debug) {
    if (!out || !arena || !sys || !nodes || count <= 0) return 0;
    auto* ids = static_cast<t_lstr*>(arena->Alloc(kNameBufBytes));
    auto* segments = static_cast<t_lstr*>(arena->Alloc(kNameBufBytes));
    auto* text = static_cast<t_lstr*>(arena->Alloc(kNameBufBytes));
    auto* w = static_cast<t_candWord*>(arena->AllocAligned(sizeof(t_candWord), 8));
    if (!ids || !segments || !text || !w) return 0;
    for (int i = 0; i < count; ++i) {
        const t_lstr* piece = sys->GetTextAt(nodes[i].textOffset);
        if (!piece || !nodes[i].ids || !nodes[i].segments) return 0;
        if (!LstrAppendBounded(ids, kNameBufBytes, nodes[i].ids) ||
            !LstrAppendBounded(segments, kNameBufBytes, nodes[i].segments) ||
            !LstrAppendBounded(text, kNameBufBytes, piece))
            return 0;
    }
    t_candWord::Clear(w);
    w->text = text;
    w->syllableIds = ids;
    w->segmentList = segments;
    w->coveredLength = covered;
    w->multiChar = 1;
    w->rank = value;
    w->sourceType = kCandSourceComposedName;
    w->orderNumber = 1;
    w->score = 1.0;
    w->kind = kCandKindScored;
    w->nameMark = kCandNameMarkPerson;
    if (debug) w->debugText = arena->DupLstr(text);  // the names it was joined from follow "-组名: "
    int filtered = 0;
    return out->Add(w, &filtered);
}
