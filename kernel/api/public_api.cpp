// The readers of a candidate record and the verbosity switch that the public
// header offers, and the compile-time check that every function the header
// declares is the kernel's own (a differing declaration would make a second
// overload, and taking its address below would no longer compile). Any thread.
#include "include/vetra/vetra_kernel.h"

#include "kernel/api/convert_dispatch.h"
#include "kernel/api/kernel_dict_ops.h"
#include "kernel/api/kernel_learn.h"
#include "kernel/api/kernel_options.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/path.h"

namespace {

template <class... F>
constexpr bool AllResolve(F...) {
    return true;
}
static_assert(AllResolve(&InitDictionaries, &RegisterKeyPyMap, &ChangeUserDir,
                         &ShutdownDictionaries, &GetKernelStartReport, &SetKernelOptions,
                         &ConvertInput, &LearnCommittedText, &LearnEnglishWord, &AddUsrPhrase,
                         &DeleteUsrPhrase, &GetUsrPhraseCount, &ExportPhrasesFile,
                         &ImportPhrasesFile, &OpenOrConvertUsrDict, &BackupUsrDictV3,
                         &ExportUsrDictToText, &GetUserWordTotal, &DeleteCandidateWord,
                         &GetCandidateText, &GetCandidateCoveredLength, &GetCandidateSourceType,
                         &GetCandidateSyllables, &SetKernelVerbose));

}  // namespace

void SetKernelVerbose(uint8_t verbose) {
    SetPathNotesVerbose(verbose != 0);
}

const uint16_t* GetCandidateText(const t_candWord* candidate, size_t* length) {
    if (length) *length = 0;
    if (!candidate || !candidate->text) return nullptr;
    if (length) *length = LstrGetLength(candidate->text);
    return LstrGetUnits(candidate->text);
}

uint32_t GetCandidateCoveredLength(const t_candWord* candidate) {
    return candidate ? candidate->coveredLength : 0;
}

uint16_t GetCandidateSourceType(const t_candWord* candidate) {
    return candidate ? uint16_t(candidate->sourceType & ~(kCandSourceMerged | kCandSourceFlag)) : 0;
}

const t_lstr* GetCandidateSyllables(const t_candWord* candidate) {
    return candidate && t_candWord::HasReading(candidate) ? candidate->syllableIds : nullptr;
}
