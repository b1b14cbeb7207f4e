// Shared set-up of the platform-layer tests: a decimal-comma numeric locale
// made with localedef in a temporary folder, and a temporary HOME.
#pragma once

#include <string>

namespace n_porting {

// Switches LC_NUMERIC to a locale whose decimal point is a comma (built once
// per process under LOCPATH, removed at exit) for the object's life.
class t_decimalCommaLocale {
public:
    t_decimalCommaLocale();
    ~t_decimalCommaLocale();
    bool Active() const { return m_active; }
    const std::string& Why() const { return m_why; }

private:
    bool m_active = false;
    std::string m_old;
    std::string m_why;
};

// Sets HOME for the object's life and puts the old value back.
class t_homeOverride {
public:
    explicit t_homeOverride(const std::string& home);
    ~t_homeOverride();

private:
    bool m_had = false;
    std::string m_old;
};

}  // namespace n_porting
