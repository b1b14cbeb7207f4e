// The conversion dispatcher: the one entry the engine calls on every
// keystroke. It routes the typed input to the English or web-address list,
// the special mode ("v" or ">": numbers, amounts, calculator), the stroke
// mode ("u") or the pinyin generator. Engine thread only: the branches share
// the process-wide conversion arena and generator, and the records they
// hand back stay valid until the next conversion call.
#pragma once

#include <cstddef>
#include <cstdint>

struct t_candWord;
struct t_cloudRequestParams;
struct t_cloudAsked;
struct t_convertRequest;
class t_candGenerator;

// Longest input converted, in characters; a longer one gives no candidates.
inline constexpr size_t kMaxConvertInputChars = 78;
// Size of the caller's zeroed context record.
inline constexpr size_t kConvertScratchBytes = 64;

// Converts the whole typed input into up to pageSize candidates after the
// first pageStart places and returns how many pointers it wrote into
// results (0 when there is nothing, also for a null or over-long input).
// A TAB after the first character is overwritten with a terminator: the
// text after it is the auxiliary code that narrows the candidates of the
// text before it. plainFlag converts without the long-word forecast (and
// offers the input itself when nothing else is found); englishFlag and
// urlFlag ask for the English or the web-address list. The cloud records
// (may be null) are used only while cloud requests are enabled; cloudExtra
// (may be null) is cleared by the pinyin branch.
int32_t ConvertInput(wchar_t* input, t_candWord** results, uint8_t* scratch, uint32_t pageStart, uint32_t pageSize,
                     const t_cloudRequestParams* cloudParams, t_cloudAsked* cloudAsked, uint8_t plainFlag,
                     uint8_t englishFlag, uint8_t urlFlag, uint8_t* cloudExtra);

// Mode bits of ConvertEnglishUrl.
enum : uint32_t {
    kConvertEnglishList = 1,
    kConvertUrlList = 2,
    kConvertEnglishListCased = 4,  // the English list, its case byte from configuration item 12
};

// The branches, each emptying the conversion arena first. Their counts are
// what ConvertInput returns; -1 from ConvertEnglishUrl when its list failed.
int32_t ConvertEnglishUrl(const wchar_t* input, uint32_t mode, uint8_t withPhrases, uint32_t pageStart,
                          uint32_t pageSize, t_candWord** results);
// body: the input after its first character. *countOut (may be null): the
// number and calculator records made.
int32_t ConvertSpecialInput(const wchar_t* input, const wchar_t* body, uint8_t withPhrases, t_candWord** results,
                            uint32_t pageStart, uint32_t pageSize, int32_t* countOut);
// The characters whose strokes begin with body; a non-positive result when
// none (the caller then converts the input as pinyin).
int32_t ConvertStrokeInput(const wchar_t* input, const wchar_t* body, uint8_t withPhrases, t_candWord** results,
                           uint32_t pageStart, uint32_t pageSize, uint32_t annexValue);
// The pinyin branch over a request whose input, lengths, page and auxiliary
// code are set; normal clear is a plain conversion (no custom phrases, no
// forecast, the input itself when nothing is found on the first page).
int32_t ConvertPinyin(t_convertRequest* request, uint8_t normal, t_candWord** results, uint8_t* scratch,
                      const t_cloudRequestParams* cloudParams, t_cloudAsked* cloudAsked, uint8_t* cloudExtra);
// The typed text itself (when longer than one character), after the custom
// phrases of the input when withPhrases is set.
int32_t ConvertRawInput(const wchar_t* input, int32_t length, uint32_t pageStart, uint32_t pageSize,
                        uint8_t withPhrases, t_candWord** results);

// The process-wide candidate generator of the pinyin branch.
t_candGenerator& GetKernelGenerator();
