// Shared fixtures of the lexicon tests.
#include "tests/kernel/lexicon/lexicon_support.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/test_dir.h"

namespace fs = std::filesystem;

void LexiconDirTest::SetUp() {
    dir_ = testsupport::TempDirUntilExit("vetra-lexicon");
    ASSERT_FALSE(dir_.empty());
}

void LexiconDirTest::TearDown() {
    fs::remove_all(dir_);
}

std::wstring LexiconDirTest::WPathOf(const std::string& name) const {
    const std::string p = PathOf(name);
    return std::wstring(p.begin(), p.end());
}

void LexiconDirTest::PutUtf8(const std::string& name, const std::string& text) const {
    const fs::path p = PathOf(name);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << "\xEF\xBB\xBF" << text;
}

std::string LexiconDirTest::Get(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool LexiconDirTest::Exists(const std::string& name) const {
    return fs::exists(PathOf(name));
}

std::string SourceDir() {
    if (const char* dir = getenv("VETRA_SOURCE_DIR")) return dir;
    return fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path().string();
}
