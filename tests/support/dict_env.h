// The kernel's directories and dictionary manager set up for one test: a
// private HOME, empty user / system / kind-4 directories configured as the
// kernel's, the version manager initialised and a fresh, initialised
// manager. Shared by the fixtures of every test folder; one test thread.
#pragma once

#include <memory>
#include <string>

#include "kernel/runtime/dict_manager.h"

namespace testsupport {

class t_dictManagerEnv {
public:
    // Sets HOME to home (which must exist), makes user, sys and dict4 empty
    // directories (mode 0700) and configures them, initialises the version
    // manager and makes `manager`. A step that fails is a fatal test failure
    // (check with ASSERT_NO_FATAL_FAILURE); Close still undoes the rest.
    void Open(const std::string& home, const std::string& user, const std::string& sys,
              const std::string& dict4);
    // Drops the manager and puts HOME back as it was before Open.
    void Close();

    std::unique_ptr<t_dictManager> manager;

private:
    std::string m_previousHome;
    bool m_hadHome = false;
    bool m_homeSet = false;
};

}  // namespace testsupport
