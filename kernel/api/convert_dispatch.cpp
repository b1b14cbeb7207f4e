// The conversion dispatcher and its branches over the process-wide
// conversion arena and candidate generator. Engine thread only, one
// conversion at a time.
#include "kernel/api/convert_dispatch.h"

#include <algorithm>
#include <cwchar>

#include "kernel/api/kernel_options.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/convert/calculator.h"
#include "kernel/convert/cand_array.h"
#include "kernel/convert/cand_filter.h"
#include "kernel/convert/cand_generator.h"
#include "kernel/convert/cloud_request.h"
#include "kernel/convert/custom_cands.h"
#include "kernel/convert/english_cands.h"
#include "kernel/convert/freq_adjust.h"
#include "kernel/convert/input_strings.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/convert/number_cands.h"
#include "kernel/lexicon/stroke_annex.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"

namespace {

// Trace label of the English and web-address records in the debug display.
constexpr const wchar_t* kEnglishTraceLabel = L"英文输入法";
constexpr uint16_t kSourceUrlWord = 6;
constexpr uint16_t kSourceEnglishWord = 8;
// More places than any page asks for: a larger request is refused rather
// than allocated.
constexpr uint64_t kMaxPlaces = 1u << 20;

// Records of the special, stroke, English and raw-input branches live here
// until the next conversion.
t_scopeHeap& ConversionArena() {
    static t_scopeHeap arena(4072);
    return arena;
}

bool IsAsciiUpper(wchar_t c) {
    return c >= L'A' && c <= L'Z';
}

// Room for pageStart + pageSize record pointers in the arena; null when the
// page is empty or too large.
t_candWord** PlaceRoom(t_scopeHeap& arena, uint32_t pageStart, uint32_t pageSize,
                       uint32_t* places) {
    const uint64_t n = uint64_t(pageStart) + pageSize;
    if (pageSize == 0 || n > kMaxPlaces) return nullptr;
    *places = uint32_t(n);
    return static_cast<t_candWord**>(
        arena.AllocAligned(sizeof(t_candWord*) * size_t(n), alignof(t_candWord*)));
}

// An add that leaves the record out because the list is full or has no room.
bool AddFailed(int result) {
    return result == kArrayNotAdded || result == kArrayNoRoom;
}

// ForecastLongWord off for one plain conversion, put back however it ends.
class t_forecastPause {
public:
    explicit t_forecastPause(t_configuration& config)
        : m_config(config), m_previous(config.GetByte(n_config::ForecastLongWord)) {
        m_config.SetByte(n_config::ForecastLongWord, 0);
    }
    ~t_forecastPause() { m_config.SetByte(n_config::ForecastLongWord, m_previous); }
    t_forecastPause(const t_forecastPause&) = delete;
    t_forecastPause& operator=(const t_forecastPause&) = delete;

private:
    t_configuration& m_config;
    uint8_t m_previous;
};

void FillRequest(t_convertRequest* request, const wchar_t* input, int32_t length,
                 uint32_t pageStart, uint32_t pageSize, const wchar_t* auxCode) {
    *request = t_convertRequest{};
    request->input = input;
    request->inputLength = length;
    request->segmentLength = length;
    request->pageStart = pageStart;
    request->pageSize = pageSize;
    request->auxCode = auxCode;
}

uint16_t ScratchUnit(const uint8_t* at) {
    return uint16_t(at[0] | (at[1] << 8));
}

// The preceding word of the caller's record as two strings in the arena;
// false when the record holds none or a damaged one.
bool ReadScratchWord(const uint8_t* scratch, t_scopeHeap& arena, const t_lstr** text,
                     const t_lstr** ids) {
    if (!scratch || !(scratch[kScratchFlags] & kScratchHasWord)) return false;
    const uint32_t units = scratch[kScratchWordUnits];
    if (units == 0 || units > kScratchWordMaxUnits) return false;
    uint16_t t[kScratchWordMaxUnits], k[kScratchWordMaxUnits];
    for (uint32_t i = 0; i < units; ++i) {
        t[i] = ScratchUnit(scratch + kScratchWordText + 2 * i);
        k[i] = ScratchUnit(scratch + kScratchWordIds + 2 * i);
    }
    *text = arena.MakeLstr(t, 2 * size_t(units));
    *ids = arena.MakeLstr(k, 2 * size_t(units));
    return *text && *ids;
}

// Abbreviated input is read key by key as well: lower-case letters only, at
// most 11; in full pinyin only where the vowels typed are a, e or o.
uint8_t SecondaryCollectionWanted(const wchar_t* input, int32_t length, bool capitals,
                                  bool shuangPin, t_configuration& config) {
    if (capitals || length > 11 || !IsLowerAsciiString(input) ||
        !config.GetByte(n_config::SuperSPJP))
        return 0;
    if (shuangPin) return length > 3 ? 1 : 0;
    if (length <= 2 || !config.GetByte(n_config::ZCSForZhChSh)) return 0;
    bool vowel = false;
    for (int32_t i = 0; i < length; ++i) {
        const wchar_t c = input[i];
        if (c == L'i' || c == L'u' || c == L'v') return 0;
        if (c == L'a' || c == L'e' || c == L'o') vowel = true;
    }
    return vowel ? 1 : 0;
}

}  // namespace

bool WriteScratchWord(uint8_t* scratch, const uint16_t* text, const uint16_t* ids, size_t units) {
    if (!scratch || !text || !ids || units == 0 || units > kScratchWordMaxUnits) return false;
    for (size_t i = 0; i < units; ++i) {
        scratch[kScratchWordText + 2 * i] = uint8_t(text[i]);
        scratch[kScratchWordText + 2 * i + 1] = uint8_t(text[i] >> 8);
        scratch[kScratchWordIds + 2 * i] = uint8_t(ids[i]);
        scratch[kScratchWordIds + 2 * i + 1] = uint8_t(ids[i] >> 8);
    }
    scratch[kScratchWordUnits] = uint8_t(units);
    scratch[kScratchFlags] |= kScratchHasWord;
    return true;
}

t_candGenerator& GetKernelGenerator() {
    static t_candGenerator generator;
    return generator;
}

int32_t ConvertInput(wchar_t* input, t_candWord** results, uint8_t* scratch, uint32_t pageStart,
                     uint32_t pageSize, const t_cloudRequestParams* cloudParams,
                     t_cloudAsked* cloudAsked, uint8_t plainFlag, uint8_t englishFlag,
                     uint8_t urlFlag, uint8_t* cloudExtra) {
    if (!input || !results) return 0;
    // Bounded: the input is never read past the longest one converted.
    const size_t length = wcsnlen(input, kMaxConvertInputChars + 1);
    if (length > kMaxConvertInputChars) return 0;

    const wchar_t first = input[0];
    if (!englishFlag && !urlFlag && first != L'u' && first != L'>' && first != L'v' && first != 0 &&
        (std::wcschr(input, L'@') || std::wcschr(input, L'.')))
        urlFlag = 1;
    t_configuration& config = GetConfiguration();
    const bool cloudOn = config.GetByte(n_config::EnableCloudRequest) != 0;
    const bool shuangPin = config.GetByte(n_config::ShuangPin) != 0;
    if (englishFlag)
        return ConvertEnglishUrl(input, kConvertEnglishList, 1, pageStart, pageSize, results);
    if (urlFlag) return ConvertEnglishUrl(input, kConvertUrlList, 1, pageStart, pageSize, results);
    if (!cloudOn) {
        cloudParams = nullptr;
        cloudAsked = nullptr;
    }

    // Shuang-pin spells syllables with lower-case v and u, so there the
    // capitals open the modes.
    if (first == L'>' || first == (shuangPin ? L'V' : L'v')) {
        int32_t made = 0;
        return ConvertSpecialInput(input, input + 1, 1, results, pageStart, pageSize, &made);
    }
    t_convertRequest request;
    if (first == (shuangPin ? L'U' : L'u')) {
        const int32_t found =
            ConvertStrokeInput(input, input + 1, 1, results, pageStart, pageSize, 0);
        if (found > 0) return found;
        FillRequest(&request, input, int32_t(length), pageStart, pageSize, nullptr);
        return ConvertPinyin(&request, 1, results, scratch, cloudParams, cloudAsked, cloudExtra);
    }

    // A TAB opens the auxiliary code; a leading one separates nothing.
    const wchar_t* auxCode = nullptr;
    size_t converted = length;
    for (size_t i = 1; i < length; ++i) {
        if (input[i] != L'\t') continue;
        input[i] = 0;
        auxCode = input + i + 1;
        converted = i;
        break;
    }
    FillRequest(&request, input, int32_t(converted), pageStart, pageSize, auxCode);
    if (plainFlag) {
        t_forecastPause pause(config);
        return ConvertPinyin(&request, 0, results, scratch, cloudParams, cloudAsked, cloudExtra);
    }
    return ConvertPinyin(&request, 1, results, scratch, cloudParams, cloudAsked, cloudExtra);
}

int32_t ConvertPinyin(t_convertRequest* request, uint8_t normal, t_candWord** results,
                      uint8_t* scratch, const t_cloudRequestParams* cloudParams,
                      t_cloudAsked* cloudAsked, uint8_t* cloudExtra) {
    if (!request || !results || !request->input || !request->input[0] || request->inputLength <= 0)
        return 0;
    const wchar_t* input = request->input;
    const int32_t length = request->inputLength;
    const bool partial = request->segmentLength != length && request->segmentLength != 0;
    t_configuration& config = GetConfiguration();
    const uint8_t phrases = (normal && !partial) ? config.GetByte(n_config::UserPhrase) : 0;

    bool capitals = false, allCapitals = true;
    for (int32_t i = 0; i < length; ++i) {
        if (IsAsciiUpper(input[i]))
            capitals = true;
        else
            allCapitals = false;
    }
    request->hasCapitals = capitals ? 1 : 0;
    if (allCapitals)
        return ConvertRawInput(input, length, request->pageStart, request->pageSize, phrases,
                               results);
    if (cloudAsked) cloudAsked->asked = 0;
    if (capitals) {
        cloudParams = nullptr;
        cloudAsked = nullptr;
    }

    const bool shuangPin = config.GetByte(n_config::ShuangPin) != 0;
    const bool noPhrase = config.GetByte(n_config::NoPhrase) != 0;
    request->cellDict = 1;
    request->noPhrase = noPhrase ? 1 : 0;
    request->firstTip = config.GetByte(n_config::FirstPinyinTip);
    request->charArt = config.GetByte(n_config::CharArt);
    request->fixFirst = config.GetByte(n_config::FixFirst);
    request->names = config.GetByte(n_config::NameCands);
    request->correction = (!capitals && !shuangPin && config.GetByte(n_config::Correction)) ? 1 : 0;
    request->pinnedCount =
        config.GetByte(n_config::PinCands) ? config.GetInt(n_config::PinnedCandCount) : 0;
    request->customPhrases = phrases;
    if (scratch)
        std::copy(scratch + kScratchContextBytes, scratch + kScratchContextBytes + 2,
                  request->contextBytes);
    request->weightCurve = config.GetInt(n_config::UserWeightCurve);

    t_candGenerator& generator = GetKernelGenerator();
    const int32_t position = config.GetInt(n_config::LongWordCandPos);
    const int32_t maxLongWords = config.GetInt(n_config::MaxLongWord);
    const int32_t gate = config.GetInt(n_config::LongWordNumGate);
    if (cloudParams && cloudParams->value >= 1)
        generator.SetOptions(0, position, maxLongWords, gate);
    else
        generator.SetOptions((normal && !partial) ? config.GetByte(n_config::ForecastLongWord) : 0,
                             position, maxLongWords, gate);

    // The smart-fuzzy pass: for a plain conversion, else for one syllable
    // of two letters, where a slipped sound is likeliest and cheap to try.
    request->smartFuzzy = (!normal || length == 2) ? 1 : 0;
    const bool hasAux = request->auxCode && request->auxCode[0];
    request->longWordHint = (length <= 1 || hasAux)
                                ? 0
                                : ((config.GetByte(n_config::LearnEnglishCommits) &&
                                    !config.GetByte(n_config::NoLongWordHint))
                                       ? 1
                                       : 0);
    t_keyPyMap& keyMap = GetKeyPyMap();
    request->allLowerCase =
        (!capitals && !hasAux && IsLowerAsciiString(input) && keyMap.GetExtraFlagA()) ? 1 : 0;
    request->secondTip = ((keyMap.GetExtraFlagB() || config.GetByte(n_config::SecondPinyinTip)) &&
                          config.GetByte(n_config::SecondPinyinTipAllowed) && !shuangPin)
                             ? 1
                             : 0;
    request->secondaryCollection =
        SecondaryCollectionWanted(input, length, capitals, shuangPin, config);
    if (cloudExtra) *cloudExtra = 0;
    request->noCloudCache = 0;
    request->shuangPin = shuangPin ? 1 : 0;
    request->strokeLookup = (length > 1 && input[0] == (shuangPin ? L'U' : L'u')) ? 1 : 0;
    request->cloudCache = (!noPhrase && config.GetByte(n_config::EnableCloudRequest) &&
                           !(cloudParams && cloudParams->noCloud))
                              ? 1
                              : 0;
    keyMap.SetSmartFuzzyMode(false);
    generator.SetDebugDisplay(IsDebugDisplayOn());
    generator.SetRepeatKeyMode(IsRepeatKeyModeOn());
    t_scopeHeap& arena = ConversionArena();
    arena.FreeAll();
    // The word committed just before raises its usual followers.
    t_adjustRequest context;
    if (config.GetByte(n_config::ContextAdjust) &&
        ReadScratchWord(scratch, arena, &context.wordText, &context.wordIds)) {
        context.on = true;
        request->context = &context;
    }
    const int32_t n = generator.Generate(request, results, cloudParams, cloudAsked);
    request->context = nullptr;
    if (n != 0 || request->pageStart != 0 || normal || hasAux || request->pageSize == 0) return n;
    // A plain conversion that found nothing offers what was typed.
    t_candWord* raw = MakeRawInputCandidate(arena, input, length, IsDebugDisplayOn());
    if (!raw) return 0;
    results[0] = raw;
    return 1;
}

int32_t ConvertRawInput(const wchar_t* input, int32_t length, uint32_t pageStart, uint32_t pageSize,
                        uint8_t withPhrases, t_candWord** results) {
    t_scopeHeap& arena = ConversionArena();
    arena.FreeAll();
    if (!input || !results || length < 0 || pageSize == 0) return 0;
    t_arrayWord array(results, pageStart, pageSize, 0, nullptr, &arena);
    if (!array.IsValid()) return 0;
    int added = 0;
    if (withPhrases) added += AddCustomPhraseCandidatesEx(input, &array, &arena);
    if (length > 1) {
        if (t_candWord* w = MakeRawInputCandidate(arena, input, length, IsDebugDisplayOn())) {
            int filtered = 0;
            array.Add(w, &filtered);
            ++added;
        }
    }
    return added > 0 ? array.Arrange() : 0;
}

int32_t ConvertSpecialInput(const wchar_t* input, const wchar_t* body, uint8_t withPhrases,
                            t_candWord** results, uint32_t pageStart, uint32_t pageSize,
                            int32_t* countOut) {
    (void)withPhrases;  // the custom phrases follow UserPhrase here
    t_scopeHeap& arena = ConversionArena();
    arena.FreeAll();
    if (countOut) *countOut = 0;
    if (!input || !body || !results) return 0;
    uint32_t places = 0;
    t_candWord** made = PlaceRoom(arena, pageStart, pageSize, &places);
    if (!made) return 0;
    int n = MakeNumberCandidates(arena, body, made, int(places));
    if (n < int(places)) n += MakeCalculatorCandidates(arena, body, made + n, int(places) - n);
    if (countOut) *countOut = n;

    t_arrayWord array(results, pageStart, pageSize, 0, nullptr, &arena);
    if (!array.IsValid()) return 0;
    if (GetConfiguration().GetByte(n_config::UserPhrase))
        AddCustomPhraseCandidatesEx(input, &array, &arena);
    const uint32_t covered = uint32_t(std::wcslen(input));
    for (int i = 0; i < n; ++i) {
        t_candWord* w = made[i];
        w->rank = int16_t(i + 1);
        w->kind = kCandKindScored;
        w->positionFloor = 0;
        w->coveredLength = covered;
        int filtered = 0;
        // A full page keeps what it holds: the records come best first.
        if (AddFailed(array.Add(w, &filtered))) break;
    }
    return array.Arrange();
}

int32_t ConvertStrokeInput(const wchar_t* input, const wchar_t* body, uint8_t withPhrases,
                           t_candWord** results, uint32_t pageStart, uint32_t pageSize,
                           uint32_t annexValue) {
    t_scopeHeap& arena = ConversionArena();
    arena.FreeAll();
    if (!input || !body || !results) return 0;
    t_sysBhBsh& annex = t_singleton<t_sysBhBsh>::Get();
    t_outterCandFilter& outer = t_singleton<t_outterCandFilter>::Get();
    annex.SetCallerValue(annexValue);
    annex.SetFilter(0, &outer);
    uint32_t places = 0;
    t_candWord** found = PlaceRoom(arena, pageStart, pageSize, &places);
    if (!found) return 0;
    const int n = annex.SearchByInput(&arena, body, found, 0, int(places));
    if (n <= 0) return n;

    t_arrayWord array(results, pageStart, pageSize, 0, nullptr, &arena);
    if (!array.IsValid()) return 0;
    array.SetCandFilter(&outer);
    if (withPhrases && GetConfiguration().GetByte(n_config::UserPhrase))
        AddCustomPhraseCandidatesEx(input, &array, &arena);
    const uint32_t covered = uint32_t(std::wcslen(input));
    for (int i = 0; i < n; ++i) {
        t_candWord* w = found[i];
        w->score = 1.0;
        w->kind = kCandKindScored;
        w->rank = int16_t(i + 1 > 32767 ? 32767 : i + 1);
        w->positionFloor = 0;
        if (w->coveredLength < 1) w->coveredLength = covered;
        if (array.IsRejectedByFilter(w->text)) continue;
        int filtered = 0;
        if (AddFailed(array.Add(w, &filtered))) break;
    }
    return array.Arrange();
}

int32_t ConvertEnglishUrl(const wchar_t* input, uint32_t mode, uint8_t withPhrases,
                          uint32_t pageStart, uint32_t pageSize, t_candWord** results) {
    t_scopeHeap& arena = ConversionArena();
    arena.FreeAll();
    if (!input || !results) return 0;
    uint32_t places = 0;
    t_candWord** phraseOut = PlaceRoom(arena, pageStart, pageSize, &places);
    if (!phraseOut) return 0;
    const int32_t length = int32_t(std::wcslen(input));

    // Custom phrases of the input; those an earlier page showed are skipped.
    t_candWord** phrases = nullptr;
    int phraseCount = 0, shown = 0;
    if (withPhrases) {
        t_arrayWord array(phraseOut, 0, places, 0, nullptr, &arena);
        if (array.IsValid() && AddCustomPhraseCandidatesEx(input, &array, &arena) > 0)
            phraseCount = array.CopyPinned(&arena, &phrases);
        while (shown < phraseCount && uint32_t(shown) < pageStart &&
               phrases[shown]->wantedPlace <= int32_t(pageStart))
            ++shown;
    }

    t_engWordPage page;
    const bool url = (mode & kConvertUrlList) != 0;
    const int start = int(pageStart) - shown;
    bool listed = true;
    if (url)
        listed = SearchUrlWords(arena, input, start, int(pageSize), 0, &page, nullptr);
    else if (mode & (kConvertEnglishList | kConvertEnglishListCased))
        listed = SearchEnglishWords(arena, input, start, int(pageSize), 0, &page, nullptr);
    if (!listed) return 0;
    const t_lstr* mailWord = nullptr;
    uint8_t mailMark = 0;
    if (page.made == 0) {
        // Words written as capitalised pieces ("HelloWorld"): no such split
        // leaves the list empty.
        if (mode & kConvertEnglishList) {
            if (!CollectEnglishCandidates(arena, input, start, int(pageSize), &page))
                page = t_engWordPage{};
        } else if (url) {
            if (const wchar_t* at = FindMailAtSign(input)) {
                mailWord = MakeSegEnglishText(arena, input, int(at - input), length);
                if (mailWord) page.made = 1;
                page.words = &mailWord;
                page.marks = &mailMark;
            }
        }
    }
    if (page.made < 0) return -1;

    const int words = page.made < int(pageSize) ? page.made : int(pageSize);
    t_candWord* records = nullptr;
    if (words > 0) {
        records =
            static_cast<t_candWord*>(arena.AllocAligned(sizeof(t_candWord) * size_t(words), 8));
        if (!records) return 0;
    }
    const t_lstr* trace = IsDebugDisplayOn() ? arena.WideToLstr(kEnglishTraceLabel) : nullptr;
    for (int i = 0; i < words; ++i) {
        t_candWord* w = &records[i];
        t_candWord::Clear(w);
        t_candWord::SetText(w, page.words[i], nullptr);
        w->kind = kCandKindPinned;
        w->debugText = trace;
        w->sourceType =
            uint16_t((url ? kSourceUrlWord : kSourceEnglishWord) - (page.marks[i] ? 1 : 0));
        w->coveredLength = uint32_t(length);
        w->rank = kCandEnglishCompletionRank;
    }

    // A phrase goes before the words while it wants a place not after the
    // one being written.
    uint32_t written = 0;
    int p = shown, e = 0;
    while (written < pageSize && (p < phraseCount || e < words)) {
        if (p < phraseCount &&
            (e >= words || int64_t(phrases[p]->wantedPlace) <= int64_t(pageStart) + 1 + written))
            results[written++] = phrases[p++];
        else
            results[written++] = &records[e++];
    }
    return int32_t(written);
}
