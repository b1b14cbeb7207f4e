// t_candGenerator: turns one pinyin input into the ranked page of candidate
// records, chaining every source in its fixed order (custom phrases, the
// syllable and word lattices, collection, composition, corrections, art).
// One process-wide generator on the engine's thread; records live in its
// arena until the next run.
#pragma once

#include <cstdint>

#include "kernel/convert/convert_dicts.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/convert/py_lattice.h"
#include "kernel/runtime/scope_heap.h"

struct t_candWord;
class t_arrayWord;
struct t_correctionMode;
class t_candCollector;
struct t_inputCaseMap;
struct t_cloudRequestParams;
struct t_cloudAsked;
struct t_adjustRequest;
struct t_freqAdjust;
class i_candidateFilter;
class i_wordFinderSink;
struct t_pieceChain;

// One conversion as the kernel's pinyin branch asks for it.
struct t_convertRequest {
    const wchar_t* input = nullptr;
    const wchar_t* auxCode = nullptr;
    uint32_t pageStart = 0;
    uint32_t pageSize = 0;
    int32_t pinnedCount = 0;
    int32_t inputLength = 0;
    int32_t segmentLength = 0;   // 0: the whole input
    uint8_t correctionUsed = 0;  // result
    uint8_t noPhrase = 0;
    uint8_t hasCapitals = 0;
    uint8_t customPhrases = 0;
    uint8_t longWordHint = 0;
    uint8_t userWeightingOff = 0;
    uint8_t fixFirst = 0;
    uint8_t charArt = 0;
    uint8_t names = 0;
    uint8_t correction = 0;
    uint8_t noCloudCache = 0;
    uint8_t shuangPin = 0;
    uint8_t smartFuzzy = 0;
    uint8_t cloudCache = 0;
    uint8_t cellDict = 1;
    uint8_t allLowerCase = 0;
    uint8_t gameKeys = 0;  // result
    // Read every key as the syllables it begins too (a-z, at most 11).
    uint8_t secondaryCollection = 0;
    uint8_t strokeLookup = 0;  // the input after its first letter is a stroke code
    uint8_t firstTip = 0;      // tips of the tip dictionary
    uint8_t secondTip = 0;     // the typed keys of a fuzzy spelling
    // Result: bit i when result i merged a correction (with correctionUsed).
    uint16_t mergedMask = 0;
    // The caller's two context bytes, handed to the collector; the first
    // also picks the name-oriented generation's kind of names (2, 16).
    uint8_t contextBytes[2] = {};
    int32_t weightCurve = 127;  // the user dictionary's weight-curve parameter
    // What was committed before this input (null: no context): its words
    // raise their usual followers and recent inputs.
    const t_adjustRequest* context = nullptr;
};

// The generation options (forecast of long words).
struct t_generatorOptions {
    int32_t forecast = 0;
    int32_t longWordPosition = 2;
    int32_t maxLongWords = 2;
    int32_t longWordGate = 4;
    int32_t forecastMode = 1;
};

// 1 when the text looks like game-control keys: a key repeated four times
// in a row, or more than 90% of its characters among w q e r a s d.
int IsGameKeyInput(const wchar_t* text);

// What becomes of a composed person name of cost `cost` where the usual
// reading of the same syllables costs `best`: offered (within 699), only
// noted as a name input (within 849), or dropped.
enum : int { kNameDropped = 0, kNameNoted = 1, kNameOffered = 2 };
int DecideComposedName(int32_t cost, int32_t best);

// Over the first run of at least 5 identical keys of the input: the first
// whole-input record (ranked, then pinned; not a custom phrase or char art)
// whose characters over the run each take one key and mostly agree gives a
// pinned copy (place 1, kCandSourceGenerator) with all of them made that
// character. 1 when it was added.
int AddRepeatedKeyCandidate(t_arrayWord* array, t_scopeHeap* arena, const wchar_t* input,
                            int length);

// Lays out the head of the ranked list of an input of n keys as a user
// wants the first page: after the first record covering the whole input,
// at most two other whole readings that are real words or sentences
// priced close to it; then the first word of the best reading (its end
// firstWordEnd, 0 when unknown) and the longest word that starts the
// first record; then the word a close other reading reads those keys as;
// then the common dictionary words of the whole input; then the rest as
// ranked. 1 when the head was reordered.
int ArrangeFirstPage(t_arrayWord* array, const wchar_t* input, int n, int firstWordEnd);

class t_candGenerator {
public:
    t_candGenerator();
    t_candGenerator(const t_candGenerator&) = delete;
    t_candGenerator& operator=(const t_candGenerator&) = delete;

    void SetOptions(int32_t forecast, int32_t position, int32_t maxLongWords, int32_t gate);
    void SetForecastMode(int32_t value) { m_options.forecastMode = value; }
    const t_generatorOptions& GetOptions() const { return m_options; }
    void SetDebugDisplay(bool on) { m_debug = on; }
    void SetRepeatKeyMode(bool on) { m_repeatKey = on; }
    // The dictionaries a run reads; by default the kernel's singletons
    // (those that are ready) at every run.
    void SetDicts(const t_convertDicts* dicts) { m_fixedDicts = dicts; }

    // The filter every page refuses unwanted characters with (null: the
    // process-wide outer filter).
    void SetOuterFilter(i_candidateFilter* filter) { m_outerFilter = filter; }

    // The trusted two-syllable pairs of the cloud trigger (null: the table of
    // the system data directory).
    void SetTrustedPairs(const uint8_t* table) { m_trustedPairs = table; }

    // Converts the request into results (pageSize places); the number
    // written, 0 when nothing could be produced. With cloud parameters that
    // hold a buffer, the cloud request record is written there when the
    // local candidates warrant it, and asked tells whether it was.
    int Generate(t_convertRequest* request, t_candWord** results,
                 const t_cloudRequestParams* cloud = nullptr, t_cloudAsked* asked = nullptr);

    // The name-oriented generation: only the person names read over the
    // whole input (surname and given-name pieces chained by the name
    // lattice), ranked by their chain cost. The number of results written.
    int GenerateAlt(t_convertRequest* request, t_candWord** results);

    bool PersonNameFlag() const { return m_personName; }
    bool NamePathFound() const { return m_namePathFound; }
    int16_t BestPower() const { return m_bestPower; }

private:
    t_convertDicts RunDicts() const;
    void CollectCandidates(t_convertRequest* request, const t_pyLattice& syllables,
                           t_inputLattice* lattice, t_candCollector* collector, t_arrayWord* target,
                           const wchar_t* input, int n, i_wordFinderSink* weakTop = nullptr,
                           i_wordFinderSink* cloudCollector = nullptr);
    // The collection over the lattice of the keys read one by one.
    void SecondaryCollection(t_convertRequest* request, t_arrayWord* array,
                             const t_inputCaseMap* caseMap, int n);
    // The forecast's words join the target pinned at the long-word places,
    // one place after another as they are taken.
    void PlaceForecast(t_arrayWord* forecast, t_candWord** out, t_arrayWord* target);
    // holdSwapped: the homophone readings wait in m_swapped (the caller
    // adds them) instead of joining target at once. begun: a word of the
    // whole input that reads its last vowel only as begun; the input is
    // composed beside it, whatever the words of the whole input.
    void ComposePass(t_convertRequest* request, const t_pyLattice& syllables,
                     t_inputLattice* lattice, t_arrayWord* target, const wchar_t* input, int n,
                     int32_t fullLength, bool cloudFlag = false, bool holdSwapped = false,
                     const t_candWord* begun = nullptr);
    // A surname and given name read over the whole input, offered after the
    // composed reading (when there is one) unless its characters are far
    // rarer than the usual ones of the same syllables.
    void NamePass(const t_inputLattice* lattice, t_arrayWord* target, int n,
                  const t_candWord* reading);
    // After the page is laid out: pinyin tips, the extension entry of each
    // result and the mask of merged corrections.
    void Finish(t_convertRequest* request, t_candWord** results, int count, int n);
    // One chain of name pieces as a composed name record.
    void AddChainName(const t_pieceChain& chain, t_arrayWord* array, int n);
    // The context record of the words committed before (false: no context).
    bool PrepareAdjust(const t_convertRequest& request, t_freqAdjust* adjust) const;
    int RunFuzzyPass(t_convertRequest* request, t_arrayWord* main, int n);
    int SmartFuzzyPass(t_convertRequest* request, t_arrayWord* main, int n);
    // mode: what DecideCorrectionMode found (null: the default admission,
    // for an input of which nothing reads).
    int CorrectionPass(t_convertRequest* request, const t_pyLattice& syllables, t_arrayWord* main,
                       int n, const t_correctionMode* mode = nullptr);

    t_scopeHeap m_arena{4072};
    t_generatorOptions m_options;
    t_inputLattice m_lattice{&m_arena, &m_arena};
    t_candWord* m_swapped[4] = {};  // held homophone readings of the run's composition
    int m_swappedCount = 0;
    t_convertDicts m_dicts;
    const t_convertDicts* m_fixedDicts = nullptr;
    const uint8_t* m_trustedPairs = nullptr;
    i_candidateFilter* m_outerFilter = nullptr;
    i_candidateFilter* m_runOuterFilter = nullptr;  // the filters of the current run
    i_candidateFilter* m_runAuxFilter = nullptr;
    bool m_debug = false;
    bool m_repeatKey = false;
    bool m_personName = false;
    bool m_namePathFound = false;
    int16_t m_bestPower = 2000;
    int32_t m_secondaryLength = 0;  // the keys of a running secondary collection
    int32_t m_firstWordEnd = 0;     // of the run's composed reading of the whole input
};
