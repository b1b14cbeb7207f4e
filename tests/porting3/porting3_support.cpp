// Decimal-comma locale and HOME override for the platform-layer tests.
#include "tests/porting3/porting3_support.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tests/support/test_dir.h"

namespace n_porting {

namespace {

constexpr char kCommaLocale[] = "de_DE.UTF-8";

// Builds the locale once; the folder goes when the process ends.
const std::string& CommaLocaleError() {
    static std::unique_ptr<testsupport::t_testDir> dir;
    static std::string error = [] {
        dir = std::make_unique<testsupport::t_testDir>("vetra-locale");
        if (dir->Path().empty()) return std::string("no temporary folder");
        const std::string target = dir->At(kCommaLocale);
        const std::string command = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return std::string("localedef failed (package locales)");
        setenv("LOCPATH", dir->Path().c_str(), 1);
        return std::string();
    }();
    return error;
}

}  // namespace

t_decimalCommaLocale::t_decimalCommaLocale() {
    m_why = CommaLocaleError();
    if (!m_why.empty()) return;
    m_old = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, kCommaLocale)) {
        m_why = "the built locale does not load";
        return;
    }
    m_active = std::strcmp(std::localeconv()->decimal_point, ",") == 0;
    if (!m_active) m_why = "the locale's decimal point is not a comma";
}

t_decimalCommaLocale::~t_decimalCommaLocale() {
    if (!m_old.empty()) std::setlocale(LC_NUMERIC, m_old.c_str());
}

t_homeOverride::t_homeOverride(const std::string& home) {
    if (const char* old = std::getenv("HOME")) {
        m_had = true;
        m_old = old;
    }
    setenv("HOME", home.c_str(), 1);
}

t_homeOverride::~t_homeOverride() {
    if (m_had)
        setenv("HOME", m_old.c_str(), 1);
    else
        unsetenv("HOME");
}

}  // namespace n_porting
