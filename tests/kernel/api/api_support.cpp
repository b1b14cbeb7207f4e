// The kernel started over private directories for one test; one test
// thread, everything removed with the test's temporary tree.
#include "tests/kernel/api/api_support.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "kernel/api/kernel_options.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/runtime/codepage.h"
#include "kernel/runtime/dict_base.h"

namespace fs = std::filesystem;

std::string BuiltDataDir() {
    const char* dir = getenv("VETRA_SYSTEM_DATA_DIR");
    if (!dir || !*dir || !fs::exists(std::string(dir) + "/qzim_core.bin")) return {};
    return dir;
}

void KernelTest::SetUp() {
    ASSERT_FALSE(root.Path().empty());
    home = root.At("home");
    user = root.At("user");
    sys = root.At("sys");
    dict4 = root.At("dict4");
    for (const std::string* dir : {&home, &user, &sys, &dict4})
        ASSERT_EQ(0, mkdir(dir->c_str(), 0700));
    const char* previous = getenv("HOME");
    m_hadHome = previous != nullptr;
    if (previous) m_previousHome = previous;
    setenv("HOME", home.c_str(), 1);
}

void KernelTest::TearDown() {
    Stop();
    SetDictWriteFunction(nullptr);
    SetKernelDelegate(nullptr);
    SetDebugModeListener(nullptr);
    if (m_hadHome)
        setenv("HOME", m_previousHome.c_str(), 1);
    else
        unsetenv("HOME");
}

void KernelTest::Start() {
    const std::wstring u = testsupport::Widen(user), s = testsupport::Widen(sys),
                       d = testsupport::Widen(dict4);
    started = InitDictionaries(L"Vetra", u.c_str(), s.c_str(), d.c_str(), L"build", nullptr, 1, 0,
                               nullptr);
}

void KernelTest::Stop() {
    ShutdownDictionaries();
    ResetKernelStartForTesting();
}

void KernelTest::CopySchemes() {
    const char* source = getenv("VETRA_SOURCE_DIR");
    ASSERT_NE(nullptr, source);
    fs::copy(fs::path(source) / "data" / "schemes", sys,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

bool KernelTest::LinkBuiltData(const std::set<std::string>& except) {
    const std::string data = BuiltDataDir();
    if (data.empty()) return false;
    for (const fs::directory_entry& e : fs::directory_iterator(data)) {
        const std::string name = e.path().filename().string();
        if (!except.count(name)) fs::create_symlink(e.path(), fs::path(sys) / name);
    }
    return true;
}

std::string KernelTest::Report() const {
    const wchar_t* report = GetKernelStartReport();
    if (!*report) return {};
    std::string out(wcslen(report) * 4 + 1, '\0');
    size_t capacity = out.size() - 1;
    if (!WideToBytesUtf8(report, out.data(), capacity)) return "?";
    out.resize(capacity);
    return out;
}

void BuiltDataKernelTest::SetUp() {
    if (BuiltDataDir().empty()) GTEST_SKIP() << "no built system data (VETRA_SYSTEM_DATA_DIR)";
    KernelTest::SetUp();
    ASSERT_TRUE(LinkBuiltData());
    Start();
    ASSERT_EQ(1, RegisterKeyPyMap(0));
}
