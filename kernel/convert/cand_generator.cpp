// The candidate generator: one run per conversion, every source in its
// fixed order into one candidate array. Engine thread only.
#include "kernel/convert/cand_generator.h"

#include <algorithm>
#include <cstring>

#include "kernel/runtime/cand_word.h"
#include "kernel/convert/cand_array.h"
#include "kernel/convert/cand_collector.h"
#include "kernel/convert/cloud_request.h"
#include "kernel/convert/correction_cands.h"
#include "kernel/convert/custom_cands.h"
#include "kernel/convert/english_cands.h"
#include "kernel/convert/spell_variants.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/convert/post_process.h"
#include "kernel/convert/word_finder.h"
#include "kernel/convert/word_lattice.h"
#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

// Probability of the scratch record of leading capitals.
constexpr double kCapitalsProb = 0.998001;
// Weight of a word that leaves letters unconverted, low enough for every
// word of the whole input to come first. The system words carry
// unigram costs, so at equal probability a character would outrank every
// word of the whole input that contains it; a user expects the whole input
// first and its parts after.
// Places of the smart-fuzzy pass's own array.
constexpr uint32_t kSmartFuzzyPlaces = 25;
// English words that begin with the input, at most.
constexpr int kMaxEnglishPrefixWords = 8;
// Added to the rank of a composed reading of corrected letters.
constexpr int kComposedCorrectionExtra = 25;
// A power of two, so that composition gets the probabilities back exactly.
constexpr float kPartialEndWeight = 1.0f / 16384;

// Scales the arcs from the start that end before n.
void WeighPartialArcs(const t_inputLattice& lattice, int n, float factor) {
    for (int e = 1; e < n; ++e)
        for (const t_wordArcNode* node = lattice.NodesEndingAt(e); node; node = node->next)
            if (node->start == 0)
                for (t_wordArc* a = node->arcs; a; a = a->next) a->prob *= factor;
}

template <typename T>
T* IfReady() {
    T& d = t_singleton<T>::Get();
    return d.IsReady() ? &d : nullptr;
}

bool IsAsciiUpper(wchar_t c) { return c >= L'A' && c <= L'Z'; }

}  // namespace

int IsGameKeyInput(const wchar_t* text) {
    if (!text) return 0;
    const size_t n = std::wcslen(text);
    if (n < 4) return 0;
    size_t keys = 0, run = 0;
    for (size_t i = 0; i < n; ++i) {
        run = (i > 0 && text[i] == text[i - 1]) ? run + 1 : 1;
        if (run >= 4) return 1;
        if (std::wcschr(L"wqerasd", text[i]) && text[i]) ++keys;
    }
    return double(keys) / double(n) > 0.9 ? 1 : 0;
}

t_candGenerator::t_candGenerator() = default;

void t_candGenerator::SetOptions(int32_t forecast, int32_t position, int32_t maxLongWords, int32_t gate) {
    m_options.forecast = forecast;
    m_options.longWordPosition = (position >= 1 && position <= 5) ? position : 2;
    m_options.maxLongWords = maxLongWords < 1 ? 1 : (maxLongWords > 20 ? 20 : maxLongWords);
    m_options.longWordGate = (gate >= 1 && gate <= 5) ? gate : 4;
}

t_convertDicts t_candGenerator::RunDicts() const {
    if (m_fixedDicts) return *m_fixedDicts;
    t_convertDicts d;
    d.py = IfReady<t_pyDict>();
    d.keyMap = IfReady<t_keyPyMap>();
    d.sys = IfReady<t_sysDict>();
    d.cell = IfReady<t_extDict>();
    t_usrDictV3Core& user = t_singleton<t_usrDictV3Core>::Get();
    d.user = user.IsLoaded() ? &user : nullptr;
    return d;
}

void t_candGenerator::CollectCandidates(t_convertRequest* request, const t_pyLattice& syllables,
                                        t_inputLattice* lattice, t_candCollector* collector, t_arrayWord* target,
                                        const wchar_t* input, int n) {
    lattice->Reset(syllables.GetLength());
    lattice->SetShuangPin(request->shuangPin != 0);
    t_wordFinder finder(m_dicts, lattice, &syllables, input, &m_arena);
    finder.SetWideLookup(request->allLowerCase != 0,
                         request->pageStart + request->pageSize >= 20 || request->pinnedCount > 0);
    t_findSwitches on;
    on.cell = request->cellDict != 0;
    on.user = !request->userWeightingOff;
    on.privilege = true;
    on.cloudCache = request->noCloudCache == 0 && request->cloudCache != 0;
    // A short tail of initials reads as the short-key table's words.
    lattice->AddAbbreviationArcs(0, input, m_dicts.sys);
    finder.FindWordsAt(0, on);
    WeighPartialArcs(*lattice, syllables.GetLength(), kPartialEndWeight);

    // Leading capitals are offered as typed.
    int capitals = 0;
    while (capitals < n && IsAsciiUpper(input[capitals])) ++capitals;
    if (capitals > 0 && m_dicts.py) {
        auto* w = static_cast<t_candWord*>(m_arena.AllocAligned(sizeof(t_candWord), 8));
        uint16_t* ids = static_cast<uint16_t*>(m_arena.AllocAligned(sizeof(uint16_t) * size_t(capitals), 2));
        if (w && ids) {
            t_candWord::Clear(w);
            uint16_t units[kMaxInputChars];
            for (int i = 0; i < capitals; ++i) {
                units[i] = uint16_t(input[i]);
                const wchar_t letter[2] = {wchar_t(input[i] - L'A' + L'a'), 0};
                ids[i] = uint16_t(m_dicts.py->GetSyllableId(letter));
            }
            w->text = m_arena.MakeLstr(units, 2 * size_t(capitals));
            w->syllableIds = m_arena.MakeLstr(ids, 2 * size_t(capitals));
            w->score = kCapitalsProb;
            w->coveredLength = uint32_t(capitals);
            w->multiChar = capitals > 1 ? 1 : 0;
            w->rank = 32767;
            int filtered = 0;
            if (w->text) target->Add(w, &filtered);
        }
    }
    if (lattice->GetArcCount() > 0) {
        collector->SetDebugMode(m_debug);
        double probs[kMaxPositions] = {};
        for (int e = 0; e <= syllables.GetLength(); ++e) probs[e] = syllables.GetForward(e);
        collector->CollectAll(probs, capitals > 1);
    }
    // Composition prices the arcs by their own probabilities.
    WeighPartialArcs(*lattice, syllables.GetLength(), 1.0f / kPartialEndWeight);
}

void t_candGenerator::ComposePass(t_convertRequest* request, const t_pyLattice& syllables, t_inputLattice* lattice,
                                  t_arrayWord* target, const wchar_t* input, int n, int32_t fullLength) {
    t_wordFinder finder(m_dicts, lattice, &syllables, input, &m_arena);
    finder.SetWideLookup(request->allLowerCase != 0,
                         request->pageStart + request->pageSize > 19 || request->pinnedCount > 0);
    finder.SetGameKeys(request->gameKeys != 0);
    t_findSwitches on;
    on.cell = !request->gameKeys;
    on.user = !request->gameKeys && !request->userWeightingOff;
    for (int p = 1; p < n; ++p) {
        if (!(syllables.GetForward(p) > 0)) continue;
        lattice->AddAbbreviationArcs(p, input, m_dicts.sys);
        finder.FindWordsAt(p, on);
    }
    lattice->FinaliseWordCounts();
    t_composeRequest compose;
    compose.dicts = m_dicts;
    compose.lattice = lattice;
    compose.arena = &m_arena;
    compose.n = n;
    compose.fullLengthWords = fullLength;
    compose.gameKeys = request->gameKeys != 0;
    compose.hasCapitals = request->hasCapitals != 0;
    compose.debug = m_debug;
    t_segmentNodes segments;
    t_wordLattice words;
    t_composeOutcome out;
    ComposeWords(compose, &segments, &words, target, &out);
    // Capitals that no path reads are offered as typed.
    if (request->hasCapitals && !out.plain) AddRawInputCandidate(m_arena, target, input, m_debug);
}

int t_candGenerator::RunFuzzyPass(t_convertRequest* request, t_arrayWord* main, int n) {
    t_keyPyMap* keyMap = m_dicts.keyMap;
    if (keyMap->IsSmartFuzzyMode()) return SmartFuzzyPass(request, main, n);
    keyMap->SetSmartFuzzyMode(true);
    const int result = SmartFuzzyPass(request, main, n);
    keyMap->SetSmartFuzzyMode(false);
    return result;
}

int t_candGenerator::SmartFuzzyPass(t_convertRequest* request, t_arrayWord* main, int n) {
    SmartFuzzyCounters counters;
    SmartFuzzyCounters::Init(&counters);
    t_candWord** pinned = nullptr;
    t_candWord** ranked = nullptr;
    const int pinnedCount = main->CopyPinned(&m_arena, &pinned);
    const int rankedCount = main->CopyRanked(&m_arena, &ranked);
    if (!ShouldRunSmartFuzzy(&counters, pinned, pinnedCount) || !ShouldRunSmartFuzzy(&counters, ranked, rankedCount))
        return 0;
    // A plain request: no other pass runs inside this one.
    t_convertRequest fuzzy = *request;
    fuzzy.customPhrases = fuzzy.fixFirst = fuzzy.charArt = fuzzy.correction = fuzzy.smartFuzzy = 0;
    fuzzy.cloudCache = 0;
    fuzzy.pageStart = 0;
    fuzzy.pageSize = kSmartFuzzyPlaces;
    fuzzy.pinnedCount = 0;
    t_pyLattice syllables;
    if (!syllables.Build(&m_arena, m_dicts.keyMap, m_dicts.py, request->input, n, false, request->shuangPin != 0))
        return 0;
    auto** out = static_cast<t_candWord**>(m_arena.AllocAligned(sizeof(t_candWord*) * kSmartFuzzyPlaces, 8));
    if (!out) return 0;
    t_arrayWord array(out, 0, kSmartFuzzyPlaces, 0, nullptr, &m_arena);
    if (!array.IsValid()) return 0;
    t_inputLattice lattice(&m_arena, &m_arena);
    t_candCollector collector(&m_arena, m_dicts, &lattice, &array);
    collector.SetCharReadings(IfReady<t_hzDict>());
    CollectCandidates(&fuzzy, syllables, &lattice, &collector, &array, request->input, n);
    t_candWord** found = nullptr;
    const int foundCount = array.CopyRanked(&m_arena, &found);
    t_candWord* pick = PickSmartFuzzyCandidate(&counters, found, foundCount);
    if (!pick) return 0;
    int filtered = 0;
    main->Add(pick, &filtered);
    return 1;
}

int t_candGenerator::CorrectionPass(t_convertRequest* request, const t_pyLattice& syllables, t_arrayWord* main,
                                    int n) {
    const wchar_t* input = request->input;
    t_spellModels models;
    models.py = m_dicts.py;
    models.keyMap = m_dicts.keyMap;
    t_spellCorrector corrector(&m_arena, models);
    if (!corrector.MakeVariants(input, n)) return 0;
    const t_candWord* top = main->GetFirstRanked();
    const bool composedTop = top && (top->sourceType & ~kCandSourceMerged) == kCandSourceComposed;
    t_spellChoice choice;
    if (!corrector.ChooseBest(syllables.GetForward(n), syllables.BestBigramPathCost(m_dicts.py), composedTop, nullptr,
                              &choice) ||
        !choice.variant || !choice.lattice)
        return 0;
    const wchar_t* letters = choice.variant->letters;
    const int length = choice.variant->length;

    // The corrected letters go through collection and composition of their own.
    const uint32_t places = (input[0] == L'i' && request->pinnedCount == 0) ? 5 : 3;
    auto** out = static_cast<t_candWord**>(m_arena.AllocAligned(sizeof(t_candWord*) * places, 8));
    if (!out) return 0;
    t_arrayWord corrections(out, 0, places, 0, nullptr, &m_arena);
    if (!corrections.IsValid()) return 0;
    t_inputLattice lattice(&m_arena, &m_arena);
    t_candCollector collector(&m_arena, m_dicts, &lattice, &corrections);
    collector.SetCharReadings(IfReady<t_hzDict>());
    CollectCandidates(request, *choice.lattice, &lattice, &collector, &corrections, letters, length);
    if (lattice.GetArcCount() == 0) return 0;
    if (collector.GetFirstAddedEnd() < uint32_t(length) && !request->noPhrase)
        ComposePass(request, *choice.lattice, &lattice, &corrections, letters, length, collector.GetFullLengthAdded());
    t_candWord** ranked = nullptr;
    const int count = corrections.CopyRanked(&m_arena, &ranked);
    if (count == 0) return 0;
    // A composed reading of the corrected letters is less sure than a word.
    for (int i = 0; i < count && ranked[i]->score >= 1.0; ++i)
        if ((ranked[i]->sourceType & ~kCandSourceMerged) == kCandSourceComposed)
            ranked[i]->rank = int16_t(std::min(ranked[i]->rank + kComposedCorrectionExtra, 32767));
    ShiftSegmentEnds(&m_arena, ranked, count, choice.variant->kind, choice.variant->position);
    t_admissionParams params;
    const int merged = main->MergeCorrections(&corrections, false, choice.score, params);
    if (merged) {
        const t_lstr* shown = WideToLstr16(m_arena, letters);
        for (int i = 0; i < count; ++i) ranked[i]->secondText = shown;
    }
    return merged;
}

int t_candGenerator::Generate(t_convertRequest* request, t_candWord** results, const t_cloudRequestParams* cloud,
                              t_cloudAsked* asked) {
    m_arena.FreeAll();
    m_bestPower = 10000;
    m_personName = m_namePathFound = false;
    if (asked) asked->asked = 0;
    // Without a buffer there is nowhere to write a request.
    if (cloud && !cloud->buffer) asked = nullptr;
    if (!request || !results || !request->input || request->pageSize == 0) return 0;
    request->correctionUsed = 0;
    m_dicts = RunDicts();
    if (!m_dicts.py || !m_dicts.keyMap || !m_dicts.sys) return 0;
    const wchar_t* input = request->input;
    const int length = request->inputLength > 0 ? request->inputLength : int(std::wcslen(input));
    const int l = request->segmentLength > 0 ? request->segmentLength : length;
    if (l >= kMaxInputChars) return 0;
    const int n = l;

    t_arrayWord array(results, request->pageStart, request->pageSize, uint32_t(request->pinnedCount), nullptr,
                      &m_arena);
    if (!array.IsValid()) return 0;
    array.EnableDelWordFilter();
    t_inputCaseMap caseMap;
    caseMap.Init(&m_arena, input, n);
    t_candCollector collector(&m_arena, m_dicts, &m_lattice, &array, &caseMap);
    collector.SetCharReadings(IfReady<t_hzDict>());

    // English words that begin with the input, added after the Chinese ones.
    t_candWord* english[kMaxEnglishPrefixWords] = {};
    int englishCount = 0;
    if (length == n && request->noCloudCache == 0)
        AddEnglishPrefixCandidates(m_arena, input, n, english, kMaxEnglishPrefixWords, &englishCount, m_debug);

    int customAdded = 0, fixedAdded = 0;
    if (request->customPhrases) customAdded = AddCustomPhraseCandidatesEx(input, &array, &m_arena);
    if (request->fixFirst) fixedAdded = AddFixFirstCandidates(input, &array, &m_arena, m_debug);

    t_pyLattice syllables;
    if (!syllables.Build(&m_arena, m_dicts.keyMap, m_dicts.py, input, n, request->noCloudCache == 0,
                         request->shuangPin != 0))
        return 0;
    const double endProb = syllables.GetForward(syllables.GetLength());
    request->gameKeys = (IsGameKeyInput(input) && endProb < double(0.1f)) ? 1 : 0;

    CollectCandidates(request, syllables, &m_lattice, &collector, &array, input, n);
    const uint32_t longest = uint32_t(collector.GetLongestArcValue());
    const uint32_t firstWordEnd = collector.GetFirstWordEnd();
    const int32_t fullLength = collector.GetFullLengthAdded();

    t_cloudTrigger trigger(&syllables, &array, n, m_trustedPairs);
    const bool whole = request->segmentLength == 0 || request->segmentLength == length;
    bool confident = false;
    if (m_lattice.GetArcCount() == 0) {
        if (n > 1 && request->correction && CorrectionPass(request, syllables, &array, n)) request->correctionUsed = 1;
    } else {
        if ((!request->auxCode || !*request->auxCode) && whole) trigger.SetRequest(asked);
        confident = endProb > double(0.97f);
        const bool sure = (endProb >= 0.009 && (longest == 3 || longest == 4));
        const bool compose = !request->noPhrase && !(firstWordEnd == uint32_t(n) && !sure);
        if (compose) {
            if (n == 2 && IsAsciiUpper(input[0]) && input[1] >= L'a' && input[1] <= L'z')
                AddRawInputCandidate(m_arena, &array, input, m_debug);
            else {
                // A longer input's pair queries mostly repeat the last pass's.
                const t_serialBigramPass serial(n > 5);
                ComposePass(request, syllables, &m_lattice, &array, input, n, fullLength);
            }
        }
    }
    bool askCloud = trigger.HasRequest() && trigger.ShouldRequest(&m_arena) == 1;
    if (askCloud && cloud) {
        t_cloudSources sources;
        sources.py = m_dicts.py;
        sources.user = m_dicts.user;
        sources.sys = m_dicts.sys;
        sources.hz = IfReady<t_hzDict>();
        sources.trustedPairs = m_trustedPairs;
        BuildCloudRequestData(&syllables, &m_lattice, input, &array, &m_arena, sources, cloud, asked);
        askCloud = asked && asked->asked;
    }
    // Spelling correction when the typed letters read poorly.
    if (request->correction && !request->hasCapitals && !request->shuangPin && n >= 2 && customAdded == 0 &&
        fixedAdded == 0 && whole && m_lattice.GetArcCount() > 0) {
        t_correctionMode mode;
        if (DecideCorrectionMode(syllables, input, n, &array, request->gameKeys != 0, &mode) > 0 &&
            CorrectionPass(request, syllables, &array, n))
            request->correctionUsed = 1;
    }
    for (int i = 0; i < englishCount; ++i) {
        if (!english[i]) continue;
        english[i]->score = syllables.GetBackward(int(english[i]->coveredLength));
        int filtered = 0;
        array.Add(english[i], &filtered);
    }
    bool cloudAnswer = false;
    if (request->noCloudCache == 0 && request->cloudCache) {
        bool found = false;
        t_candWord* answer = AddCloudCacheCandidates(m_arena, input, &array, &found, m_debug);
        if (answer) {
            int filtered = 0;
            array.AddChecked(answer, &filtered);
            cloudAnswer = true;
        }
    }
    if (!request->hasCapitals && request->smartFuzzy && m_lattice.GetArcCount() > 0) RunFuzzyPass(request, &array, n);
    // An unsure correction, a cached answer or any later page asks nothing.
    if (askCloud && ((request->correctionUsed && !confident) || request->pageStart > 0 || cloudAnswer))
        asked->asked = 0;
    if (request->charArt) AddCharArtCandidates(&array, &m_arena, uint32_t(length), int(request->pageSize));
    return array.Arrange();
}
