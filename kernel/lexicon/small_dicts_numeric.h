// The number-frequency adjuster of the conversion: remembers, once per
// input, which number word the user took, and raises candidates whose text
// the number-frequency dictionary marks. One thread (the conversion's).
#pragma once

#include <cstdint>
#include <map>

#include "kernel/lexicon/small_dicts.h"
#include "kernel/runtime/cand_word.h"

class t_Numeric {
public:
    // Inputs during which a forgotten candidate is left alone.
    static constexpr uint32_t kForgetInputs = 16;
    static constexpr uint32_t kAdjustedFlag = 0x100;

    // Works on the process-wide number-frequency dictionary.
    t_Numeric();
    // Works on the given dictionary (not owned).
    explicit t_Numeric(t_numFreqAdjustDict* dict) : m_dict(dict) {}

    // Starts an input: enabled = pending = flag; the input counter advances.
    void BeginInput(bool flag);
    // Counts a number word taken in this input (once per input: the pending
    // flag is cleared). A word of kind 0 becomes kind 1 with count 1, others
    // count one more; a positive id is no longer remembered as forgotten.
    // False when not pending or the text is not in the dictionary.
    bool RecordNumber(const t_lstr* text, int32_t id);
    // Raises the candidate's score by its count x 10 (kind 1), x 100 (kind
    // 2) or x 1 (other kinds) and sets flag 0x100. False when not enabled,
    // when its id was forgotten less than 16 inputs ago, or when its text
    // has kind 0 or a count below 1.
    bool AdjustCandidate(t_candWord* candidate);
    // Remembers the id as forgotten at this input and lowers the count (a
    // kind-1 word whose count reaches 0 returns to kind 0). False when not
    // enabled or the text is absent or of kind 0.
    bool ForgetNumber(const t_lstr* text, int32_t id);

private:
    t_numFreqAdjustDict* m_dict;
    bool m_enabled = false;
    bool m_pending = false;
    std::map<int32_t, uint32_t> m_forgotten;  // candidate id -> input number
    uint32_t m_input = 0;
};
