// The conversion dispatcher: the one entry the engine calls on every
// keystroke. It routes the typed input to the English or web-address list,
// the special mode ("v" or ">": numbers, amounts, calculator), the stroke
// mode ("u") or the pinyin generator. Engine thread only: the branches share
// the process-wide conversion arena and generator, and the records they
// hand back stay valid until the next conversion call.
#pragma once

#include <cstdint>

#include "include/vetra/vetra_kernel.h"

struct t_convertRequest;
class t_candGenerator;

// ConvertInput, the entry of every keystroke, is declared in the public
// header with its limits.

// The caller's context record of ConvertInput (kConvertScratchBytes, zeroed:
// no context). Byte 0 holds flags, bytes 1-2 the two context bytes, byte 3
// the units of the preceding word, then its UTF-16 units and as many
// syllable ids (little-endian u16 each).
enum : uint32_t {
    kScratchFlags = 0,
    kScratchContextBytes = 1,
    kScratchWordUnits = 3,
    kScratchWordText = 4,
    kScratchWordMaxUnits = 14,
    kScratchWordIds = kScratchWordText + 2 * kScratchWordMaxUnits,
};
enum : uint8_t { kScratchHasWord = 1 };  // flag: a preceding word is stored
// Stores the preceding word (one syllable id per UTF-16 unit, 1 to
// kScratchWordMaxUnits units) in a zeroed record; false, and nothing
// stored, when it does not fit.
bool WriteScratchWord(uint8_t* scratch, const uint16_t* text, const uint16_t* ids, size_t units);

// Mode bits of ConvertEnglishUrl.
enum : uint32_t {
    kConvertEnglishList = 1,
    kConvertUrlList = 2,
    kConvertEnglishListCased = 4,  // the English list, its case byte from EnglishListCase
};

// The branches, each emptying the conversion arena first. Their counts are
// what ConvertInput returns; -1 from ConvertEnglishUrl when its list failed.
int32_t ConvertEnglishUrl(const wchar_t* input, uint32_t mode, uint8_t withPhrases,
                          uint32_t pageStart, uint32_t pageSize, t_candWord** results);
// body: the input after its first character. *countOut (may be null): the
// number and calculator records made.
int32_t ConvertSpecialInput(const wchar_t* input, const wchar_t* body, uint8_t withPhrases,
                            t_candWord** results, uint32_t pageStart, uint32_t pageSize,
                            int32_t* countOut);
// The characters whose strokes begin with body; a non-positive result when
// none (the caller then converts the input as pinyin).
int32_t ConvertStrokeInput(const wchar_t* input, const wchar_t* body, uint8_t withPhrases,
                           t_candWord** results, uint32_t pageStart, uint32_t pageSize,
                           uint32_t annexValue);
// The pinyin branch over a request whose input, lengths, page and auxiliary
// code are set; normal clear is a plain conversion (no custom phrases, no
// forecast, the input itself when nothing is found on the first page).
int32_t ConvertPinyin(t_convertRequest* request, uint8_t normal, t_candWord** results,
                      uint8_t* scratch, const t_cloudRequestParams* cloudParams,
                      t_cloudAsked* cloudAsked, uint8_t* cloudExtra);
// The typed text itself (when longer than one character), after the custom
// phrases of the input when withPhrases is set.
int32_t ConvertRawInput(const wchar_t* input, int32_t length, uint32_t pageStart, uint32_t pageSize,
                        uint8_t withPhrases, t_candWord** results);

// The process-wide candidate generator of the pinyin branch.
t_candGenerator& GetKernelGenerator();
