// Loading the three input-scheme configurations together.
#include "kernel/lexicon/scheme_config.h"

#include "kernel/runtime/path.h"

namespace {

constexpr const wchar_t* kDefaultScheme = L"Vetra";

// Paths under an unset directory are empty, so nothing is read from "/".
std::wstring JoinFile(const std::wstring& dir, const wchar_t* name) {
    if (dir.empty()) return std::wstring();
    t_pathName path(dir.c_str());
    path.Append(name);
    return path.IsValid() ? path.Str() : std::wstring();
}

std::wstring SchemePath(const std::wstring& dir, const std::wstring& scheme) {
    if (dir.empty()) return std::wstring();
    t_pathName path(dir.c_str());
    path.Append(L"ShuangPinSchemes");
    path.Append(scheme.c_str());
    path.Concat(L".ini");
    return path.IsValid() ? path.Str() : std::wstring();
}

}  // namespace

int t_schemeConfigs::LoadAll(std::wstring& messages, const t_schemeLoadSettings& settings) {
    const std::wstring fuzzyUser = JoinFile(settings.userDir, L"Fuzzy.dat");
    const std::wstring fuzzySystem = JoinFile(settings.systemDir, L"Fuzzy.dat");
    // A file refused is told by its loader, in a line naming it; these say
    // that there was none.
    size_t told = messages.size();
    if (!m_fuzzy.Load(messages, fuzzySystem.c_str(), fuzzyUser.c_str()) && messages.size() == told)
        messages += L"load fuzzy failed.";

    const std::wstring correctUser = JoinFile(settings.userDir, L"Correction.ini");
    const std::wstring correctSystem = JoinFile(settings.systemDir, L"Correction.ini");
    told = messages.size();
    if (!m_correction.Load(messages, correctSystem.c_str(), correctUser.c_str()) &&
        messages.size() == told)
        messages += L"load correct failed.";

    const std::wstring scheme = settings.schemeName.empty() ? kDefaultScheme : settings.schemeName;
    const std::wstring p0 = SchemePath(settings.systemDir, scheme);
    const std::wstring p1 = SchemePath(settings.userDir, scheme);
    const std::wstring p2 = SchemePath(settings.systemDir, kDefaultScheme);
    const std::wstring p3 = SchemePath(settings.userDir, kDefaultScheme);
    if (!m_scheme.Load(messages, p0.c_str(), p1.c_str(), p2.c_str(), p3.c_str())) {
        messages += L"load sp file failed.";
    }
    return 1;
}

void t_schemeConfigs::ClearFuzzyAndCorrection() {
    m_fuzzy.Clear();
    m_correction.Clear();
}

void t_schemeConfigs::Clear() {
    m_fuzzy.Clear();
    m_correction.Clear();
    m_scheme.Clear();
}
