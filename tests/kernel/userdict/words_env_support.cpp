#include "tests/kernel/userdict/words_env_support.h"

#include <cstdlib>
#include <string>

#include "kernel/runtime/configuration.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "tests/support/test_dir.h"

namespace {

class t_pyDictStandIn final : public t_dictStorageBase {
public:
    bool Load(void*, int32_t size) override { return size > 0; }
};

// Kept for the whole process: the manager unlinks it when it goes.
t_pyDictStandIn* const g_pyDict = new t_pyDictStandIn;

bool SetUpOnce() {
    static const std::string home = testsupport::TempDirUntilExit("vetra_words_home");
    if (home.empty()) return false;
    setenv("HOME", home.c_str(), 1);
    if (!t_singleton<t_versionManager>::Get().Init()) return false;
    if (!t_singleton<t_configurationImpl>::Get().Init()) return false;
    t_dictManager& manager = t_singleton<t_dictManager>::Get();
    if (!manager.Init()) return false;
    return manager.Register(L"pydict", g_pyDict, 0, kStorageFileMap, kDirSystem, L"qzim_py.bin", 0,
                            2);
}

}  // namespace

bool EnsureKernelEnv() {
    static const bool ok = SetUpOnce();
    return ok;
}

t_dictStorageBase& PyDictStandIn() {
    return *g_pyDict;
}
