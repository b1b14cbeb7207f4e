// Merging and the predicates of the candidate record.
// Plain functions over records of one conversion; no shared state.
#include "kernel/runtime/cand_word.h"

namespace {

uint16_t MaskedType(const t_candWord* w) {
    return uint16_t(w->sourceType & ~kCandSourceFlag);
}

// Source types of special texts, which are no dictionary word.
bool IsSpecialType(uint16_t type) {
    switch (type) {
        case 6:
        case 11:
        case 13:
        case 14:
        case 17:
        case 21:
        case 22:
        case 23:
        case 24:
        case 25:
        case 26:
        case 27:
        case 28:
        case 76:
            return true;
        default:
            return false;
    }
}

}  // namespace

// The source type after a merge:
//   kept 0  <- other 1   becomes 1 (a user word of the same text)
//   kept 4  <- other 0   becomes 0 when other has a frequency
//   kept 4  <- other 29  becomes 29 with cloud mark 2
//   kept 0/1/4 <- other 4 with no frequency of its own: takes other's
//                         statistics slots it lacks
//   anything else keeps its type.
void t_candWord::MergeFrom(t_candWord* kept, const t_candWord* other) {
    if (!kept || !other || kept == other) return;
    if (kept->frequency == 0) kept->frequency = other->frequency;
    // Signed: 128, the mark of fixed-first, cell and cloud-cache words, is
    // the lowest of all.
    if (kept->nameMark < other->nameMark) {
        kept->nameMark = other->nameMark;
        kept->markCompanion = other->markCompanion;
    }
    if (!kept->syllableIds) {
        kept->syllableIds = other->syllableIds;
        if (kept->coveredLength == other->coveredLength) kept->segmentList = other->segmentList;
    }
    if (!kept->furtherText) kept->furtherText = other->furtherText;
    if (!kept->attachedData) kept->attachedData = other->attachedData;
    if (other->positionFloor < kept->positionFloor) kept->positionFloor = other->positionFloor;

    const uint16_t k = kept->sourceType, o = other->sourceType;
    if (k == kCandSourceSystem && o == kCandSourceUser) {
        kept->sourceType = kCandSourceUser;
    } else if (k == kCandSourceComposed && o == kCandSourceSystem) {
        if (other->frequency >= 1) kept->sourceType = kCandSourceSystem;
    } else if (k == kCandSourceComposed && o == kCandSourceCloud) {
        kept->sourceType = kCandSourceCloud;
        kept->cloudMark = kCandCloudMark;
    } else if ((k == kCandSourceSystem || k == kCandSourceUser || k == kCandSourceComposed) &&
               o == kCandSourceComposed && kept->frequency == 0) {
        for (int i = 0; i < 3; ++i) {
            if (kept->statCounts[i] == 0 && other->statCounts[i] > 0) {
                kept->statCounts[i] = other->statCounts[i];
                kept->statValues[i] = other->statValues[i];
            }
        }
    }
    kept->countable = (kept->countable || other->countable) ? 1 : 0;
}

bool t_candWord::IsLexicalWord(const t_candWord* w) {
    const uint16_t type = MaskedType(w);
    if (IsSpecialType(type)) return false;
    return type != 0 || w->multiChar;
}

bool t_candWord::IsInputEcho(const t_candWord* w) {
    return MaskedType(w) == kCandSourceRawInput && w->kind == kCandKindScored && !w->multiChar &&
           w->score == 1.0 && w->rank == kCandRawInputRank;
}

int32_t t_candWord::GetNameOrder(const t_candWord* w) {
    return MaskedType(w) == kCandSourceComposedName && w->nameMark == kCandNameMarkPerson
               ? w->orderNumber
               : 0;
}

bool t_candWord::IsPrivateUseChar(const t_candWord* w) {
    if (LstrGetLength(w->text) != 1) return false;
    const uint16_t unit = LstrGetUnit(w->text, 0);
    return unit >= 0xE000 && unit <= 0xE700;
}
