// Locating the built system data for the tests.
#include "tests/kernel/lexicon/built_data_support.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"

namespace {

std::string SystemDataDir() {
    // Lets a build without the data (a sanitizer build, say) test another build's files.
    if (const char* dir = getenv("VETRA_SYSTEM_DATA_DIR"); dir && *dir) return dir;
#ifdef VETRA_BUILT_DATA_DIR
    return VETRA_BUILT_DATA_DIR;
#else
    return std::string();
#endif
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

std::string BuiltSystemDir() { return SystemDataDir(); }

bool ReadBuiltSystemFile(const std::string& name, std::vector<unsigned char>& out) {
    out.clear();
    const std::string dir = SystemDataDir();
    if (dir.empty()) return false;
    std::ifstream in(dir + "/" + name, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return !out.empty();
}

void DictManagerDirTest::SetUp() {
    char tmpl[] = "/tmp/vetra-lexicon-dict-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    const char* home = getenv("HOME");
    hadHome_ = home != nullptr;
    if (home) oldHome_ = home;
    setenv("HOME", dir_.c_str(), 1);
    for (const char* d : {"/user", "/sys", "/dict4"}) ASSERT_EQ(0, mkdir((dir_ + d).c_str(), 0700));
    SetConfiguredUserDir(Wide(dir_ + "/user").c_str());
    SetConfiguredSysDir(Wide(dir_ + "/sys").c_str());
    SetConfiguredDictDir4(Wide(dir_ + "/dict4").c_str());
    ASSERT_TRUE(t_singleton<t_versionManager>::Get().Init());
    manager_ = std::make_unique<t_dictManager>();
    ASSERT_TRUE(manager_->Init());
}

void DictManagerDirTest::TearDown() {
    manager_.reset();
    if (hadHome_)
        setenv("HOME", oldHome_.c_str(), 1);
    else
        unsetenv("HOME");
    std::filesystem::remove_all(dir_);
}

void DictManagerDirTest::UseSystemDir(const std::string& dir) { SetConfiguredSysDir(Wide(dir).c_str()); }
