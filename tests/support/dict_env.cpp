// The kernel's directories and dictionary manager for one test.
#include "tests/support/dict_env.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "tests/support/test_dir.h"

namespace testsupport {

namespace {
std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}
}  // namespace

void t_dictManagerEnv::Open(const std::string& home, const std::string& user,
                            const std::string& sys, const std::string& dict4) {
    const char* previous = getenv("HOME");
    m_hadHome = previous != nullptr;
    if (previous) m_previousHome = previous;
    setenv("HOME", home.c_str(), 1);
    m_homeSet = true;
    for (const std::string* dir : {&user, &sys, &dict4}) {
        RemoveTree(*dir);
        ASSERT_EQ(0, mkdir(dir->c_str(), 0700)) << *dir;
    }
    SetConfiguredUserDir(Wide(user).c_str());
    SetConfiguredSysDir(Wide(sys).c_str());
    SetConfiguredSmartInfoDir(Wide(dict4).c_str());
    ASSERT_TRUE(t_singleton<t_versionManager>::Get().Init());
    manager = std::make_unique<t_dictManager>();
    ASSERT_TRUE(manager->Init());
}

void t_dictManagerEnv::Close() {
    manager.reset();
    if (!m_homeSet) return;
    m_homeSet = false;
    if (m_hadHome)
        setenv("HOME", m_previousHome.c_str(), 1);
    else
        unsetenv("HOME");
}

}  // namespace testsupport
