// Locating the built system data for the tests.
#include "tests/kernel/lexicon/built_data_support.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "kernel/runtime/dir_settings.h"
#include "tests/support/test_dir.h"

namespace {

std::string NamedDataDir() {
    // Lets a build without the data (a sanitizer build, say) test another build's files.
    if (const char* dir = getenv("VETRA_SYSTEM_DATA_DIR"); dir && *dir) return dir;
#ifdef VETRA_BUILT_DATA_DIR
    return VETRA_BUILT_DATA_DIR;
#else
    return std::string();
#endif
}

// A directory that is named but missing fails the test: a wrong path must not
// pass as "no data built" and skip.
std::string SystemDataDir() {
    const std::string dir = NamedDataDir();
    if (!dir.empty() && !std::filesystem::is_directory(dir))
        ADD_FAILURE() << "the system data directory " << dir << " does not exist";
    return dir;
}

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

}  // namespace

std::string BuiltSystemDir() {
    return SystemDataDir();
}

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
    dir_ = testsupport::TempDirUntilExit("vetra-lexicon-dict");
    ASSERT_FALSE(dir_.empty());
    ASSERT_NO_FATAL_FAILURE(env_.Open(dir_, dir_ + "/user", dir_ + "/sys", dir_ + "/dict4"));
}

void DictManagerDirTest::TearDown() {
    env_.Close();
    std::filesystem::remove_all(dir_);
}

void DictManagerDirTest::UseSystemDir(const std::string& dir) {
    SetConfiguredSysDir(Wide(dir).c_str());
}
