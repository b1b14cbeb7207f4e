// Locating the built system data and building a key map for the tests.
#include "tests/kernel/convert/filter_support.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "kernel/lexicon/key_map_builder.h"

bool ReadSystemDataFile(const std::string& name, std::vector<uint8_t>& out) {
    out.clear();
    std::string dir;
    if (const char* env = getenv("VETRA_SYSTEM_DATA_DIR"); env && *env) dir = env;
#ifdef VETRA_BUILT_DATA_DIR
    if (dir.empty()) dir = VETRA_BUILT_DATA_DIR;
#endif
    if (dir.empty()) return false;
    std::ifstream in(dir + "/" + name, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return !out.empty();
}

std::unique_ptr<t_keyPyMap> BuildDefaultKeyMap(t_scopeHeap& arena) {
    uint8_t* image = nullptr;
    uint32_t size = 0;
    // The project's own scheme files; the default options use none of their
    // rules, so the map holds the plain spellings, abbreviations and partials.
    std::string source;
    if (const char* env = getenv("VETRA_SOURCE_DIR"); env && *env)
        source = env;
    else
        source = std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/tests/"));
    const std::string schemes = source + "/data/schemes";
    const std::wstring dir(schemes.begin(), schemes.end());
    std::wstring notes;
    if (!t_keyPyMapBuilder::Build(arena, &image, &size, t_keyMapOptions{}, {dir, dir, L""}, &notes))
        return nullptr;
    auto map = std::make_unique<t_keyPyMap>();
    if (!map->Attach(image, size)) return nullptr;
    return map;
}
