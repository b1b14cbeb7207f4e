// t_schemeConfigs: the three input-scheme configurations the key-map
// builder needs (fuzzy sounds, spelling corrections, the shuangpin scheme),
// loaded together from the user and system data directories.
// No lock: used by one builder on one thread.
#pragma once

#include <string>

#include "kernel/lexicon/correction_config.h"
#include "kernel/lexicon/fuzzy_config.h"
#include "kernel/lexicon/shuangpin.h"

// Where the configuration files are looked for.
struct t_schemeLoadSettings {
    std::wstring systemDir;
    std::wstring userDir;
    std::wstring schemeName;  // shuangpin scheme; empty means "Vetra"
};

class t_schemeConfigs {
public:
    t_schemeConfigs() = default;
    ~t_schemeConfigs() { Clear(); }
    t_schemeConfigs(const t_schemeConfigs&) = delete;
    t_schemeConfigs& operator=(const t_schemeConfigs&) = delete;

    // Loads "Fuzzy.dat", "Correction.ini" and the scheme from
    // "ShuangPinSchemes" (falling back to "Vetra.ini"), user copies first.
    // Always 1: a configuration that fails stays empty (the scheme keeps its
    // defaults). Messages gain the loaders' own lines, one for each file
    // refused or read with bytes that are no text, naming it, and "load
    // fuzzy failed." or "load correct failed." when there was no such file,
    // "load sp file failed." when no scheme was taken.
    int LoadAll(std::wstring& messages, const t_schemeLoadSettings& settings);
    void ClearFuzzyAndCorrection();
    void Clear();
    // The fuzzy configuration has a rule that is on or a committed pair.
    bool HasFuzzyRules() const { return m_fuzzy.HasActiveRules(); }

    t_correctionConfig& Correction() { return m_correction; }
    t_fuzzyConfig& Fuzzy() { return m_fuzzy; }
    t_spScheme& Scheme() { return m_scheme; }
    const t_correctionConfig& Correction() const { return m_correction; }
    const t_fuzzyConfig& Fuzzy() const { return m_fuzzy; }
    const t_spScheme& Scheme() const { return m_scheme; }

private:
    t_correctionConfig m_correction;
    t_fuzzyConfig m_fuzzy;
    t_spScheme m_scheme;
};
