// Locating the built system data for the tests.
#include "tests/kernel/lexicon/built_data_support.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

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

}  // namespace

bool ReadBuiltSystemFile(const std::string& name, std::vector<unsigned char>& out) {
    out.clear();
    const std::string dir = SystemDataDir();
    if (dir.empty()) return false;
    std::ifstream in(dir + "/" + name, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return !out.empty();
}
