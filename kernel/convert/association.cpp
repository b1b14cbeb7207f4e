// The association pass: the lattice walk that finds three-syllable readings
// of the input, the user-word boost and the predicted word's placing.
// One conversion's thread.
#include "kernel/convert/association.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/cand_collector.h"
#include "kernel/convert/freq_adjust.h"
#include "kernel/convert/post_process.h"
#include "kernel/convert/py_lattice.h"
#include "kernel/convert/word_finder.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

// Syllables of the readings the pass continues.
constexpr int kAssociationSyllables = 3;
constexpr uint32_t kPredictPlaces = 3;
constexpr int kMaxBoostEntries = 32;

struct t_walk {
    const t_pyLattice* lattice;
    const t_pyDict* py;
    i_wordFinderSink* sink;
    t_sysDictCursor* cursor;
    uint16_t ids[kAssociationSyllables];
    uint16_t positions[kAssociationSyllables];
    int paths = 0;
};

void Walk(t_walk& w, int p, int depth, double prob) {
    const int n = w.lattice->GetLength();
    for (const t_pyArcLink* l = w.lattice->Out(p); l; l = l->next) {
        const t_pyArc* a = l->arc;
        if ((a->flags & kPyArcDead) || !w.py->IsSyllableId(int16_t(a->id))) continue;
        // Only paths that reach the end with their third syllable count.
        if ((a->end == n) != (depth + 1 == kAssociationSyllables)) continue;
        uint8_t stepped = 0;
        w.cursor->PushSyllable(a->id, &stepped);
        if (!stepped) continue;
        w.ids[depth] = a->id;
        w.positions[depth] = uint16_t(a->end);
        const double p2 = prob * double(a->prob);
        if (a->end == n) {
            w.sink->ScoreAssociation(0, w.ids, w.positions, kAssociationSyllables, p2);
            ++w.paths;
        } else {
            Walk(w, a->end, depth + 1, p2);
        }
        w.cursor->PopSyllable();
    }
}

}  // namespace

int AssociationLatticeWalk(const t_pyLattice& lattice, const t_convertDicts& dicts,
                           i_wordFinderSink* sink) {
    if (!dicts.sys || !dicts.py || !sink || lattice.GetLength() <= 0) return 0;
    t_sysDictCursor cursor(dicts.sys);
    t_walk w{&lattice, dicts.py, sink, &cursor, {}, {}, 0};
    Walk(w, 0, 0, 1.0);
    return w.paths;
}

int UserAssociationBoost(t_arrayWord* array, t_scopeHeap* arena, const t_convertDicts& dicts,
                         const t_hzDict* hz, bool debug) {
    t_usrDictV3Core* user = dicts.user;
    if (!array || !arena || !user || !user->IsLoaded()) return 0;
    t_candWord** list = nullptr;
    const int n = array->CopyRanked(arena, &list);
    int added = 0;
    for (int i = 0; i < n; ++i) {
        const t_candWord* w = list[i];
        if (!w->syllableIds || !w->text) continue;
        int longer = 0;
        const int32_t group = user->Find(w->syllableIds, &longer);
        if (group < 0) continue;
        uint32_t textIds[kMaxBoostEntries], weights[kMaxBoostEntries];
        uint16_t checksums[kMaxBoostEntries];
        const int rows = user->GetWords(0, group, textIds, nullptr, checksums, nullptr, nullptr,
                                        weights, nullptr, kMaxBoostEntries);
        for (int k = 0; k < rows; ++k) {
            uint8_t buf[2 + 2 * 130];
            auto* tmp = reinterpret_cast<t_lstr*>(buf);
            if (!user->GetWordText(textIds[k], checksums[k], tmp) ||
                t_arrayWord::CompareText(tmp, w->text) != 0 ||
                !CheckWordPinyin(dicts.py, hz, w->syllableIds, tmp))
                continue;
            t_candWord* copy = t_candWord::NewCopy(*arena, w);
            if (!copy) return added;
            copy->kind = kCandKindUser;
            copy->score = 1.0;
            copy->sourceType = kCandSourceUser;
            copy->positionFloor = 0;
            copy->orderNumber = int32_t(std::min<uint32_t>(weights[k], INT32_MAX));
            if (debug) {
                wchar_t label[64];
                std::swprintf(label, 64, L"-用户联想优化(综合词频%d)", copy->orderNumber);
                if (const t_lstr* s = arena->WideToLstr(label)) copy->debugText = s;
            }
            int filtered = 0;
            array->Add(copy, &filtered);
            ++added;
            break;
        }
    }
    return added;
}

int AddPredictedWord(const t_predictRequest& request, t_arrayWord* main) {
    if (!main || !request.arena || !request.syllables || !request.dicts.sys) return 0;
    t_scopeHeap& arena = *request.arena;
    auto** out =
        static_cast<t_candWord**>(arena.AllocAligned(sizeof(t_candWord*) * kPredictPlaces, 8));
    if (!out) return 0;
    t_arrayWord predictions(out, 0, kPredictPlaces, 0, nullptr, &arena);
    if (!predictions.IsValid()) return 0;
    predictions.EnableDelWordFilter();
    t_inputLattice none(&arena, &arena);
    t_candCollector collector(&arena, request.dicts, &none, &predictions);
    collector.SetFilters(request.filter, nullptr);
    collector.SetCharReadings(request.hz);
    collector.SetDebugMode(request.debug);
    if (AssociationLatticeWalk(*request.syllables, request.dicts, &collector) == 0) return 0;
    UserAssociationBoost(&predictions, &arena, request.dicts, request.hz, request.debug);
    const int n = predictions.Arrange();
    return PlacePredictedWord(main, out, n, request.strict);
}
