// The number-frequency adjuster.
#include "kernel/lexicon/small_dicts_numeric.h"

#include "kernel/runtime/singleton.h"

t_Numeric::t_Numeric() : m_dict(&t_singleton<t_numFreqAdjustDict>::Get()) {}

void t_Numeric::BeginInput(bool flag) {
    m_enabled = m_pending = flag;
    ++m_input;
}

bool t_Numeric::RecordNumber(const t_lstr* text, int32_t id) {
    if (!m_pending) return false;
    m_pending = false;
    uint16_t kind = 0;
    uint32_t count = 0;
    if (!m_dict || !m_dict->Get(text, &kind, &count)) return false;
    if (id > 0) m_forgotten.erase(id);
    if (kind == 0) return m_dict->SetKind(text, 1) && m_dict->SetCount(text, 1);
    return m_dict->SetCount(text, count + 1);
}

bool t_Numeric::AdjustCandidate(t_candWord* candidate) {
    if (!m_enabled || !candidate || !m_dict) return false;
    const auto it = m_forgotten.find(candidate->frequency);
    if (it != m_forgotten.end() && m_input - it->second < kForgetInputs) return false;
    uint16_t kind = 0;
    uint32_t count = 0;
    if (!m_dict->Get(candidate->text, &kind, &count) || kind == 0 || int32_t(count) < 1)
        return false;
    const double factor = kind == 1 ? 10.0 : kind == 2 ? 100.0 : 1.0;
    candidate->score += double(count) * factor;
    candidate->adjustFlags |= kAdjustedFlag;
    return true;
}

bool t_Numeric::ForgetNumber(const t_lstr* text, int32_t id) {
    if (!m_enabled || !m_dict) return false;
    uint16_t kind = 0;
    uint32_t count = 0;
    if (!m_dict->Get(text, &kind, &count) || kind == 0) return false;
    m_forgotten[id] = m_input;
    if (count > 0) --count;
    if (!m_dict->SetCount(text, count)) return false;
    if (kind == 1 && count == 0) m_dict->SetKind(text, 0);
    return true;
}
