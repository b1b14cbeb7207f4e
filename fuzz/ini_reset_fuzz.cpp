// Fuzzes the reset of one flag in the front end's settings file: any bytes as
// the file and one of a few keys. A refused reset leaves the file's bytes
// alone; a done one leaves every other entry as iniparser reads it and the
// key "false"; lines that do not name the key stay byte for byte; and a file
// iniparser reads, holding the key, is always reset.
#include <iniparser/iniparser.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "src/fcitx/front_settings.h"

namespace {

const char* const kKeys[] = {"Account:SaveUsrDict", "Account:RestoreUsrDict", "Key:Switch2vetra",
                             "a:b"};

std::string ReadAll(const std::string& path) {
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) abort();
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

// The lines of `text` in which the key's own name does not appear.
std::vector<std::string> LinesWithout(const std::string& text, const std::string& name) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        const std::string line = text.substr(at, nl - at);
        if (Lower(line).find(name) == std::string::npos) out.push_back(line);
        at = nl + 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string key = kKeys[data[0] % 4];
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string path = FuzzPath("vetraEnv.ini");
    FuzzWriteFile(path, data + 1, size - 1);

    dictionary* before = iniparser_load(path.c_str());
    const bool held = before && iniparser_getstring(before, key.c_str(), nullptr) != nullptr;
    std::string expected;
    const bool scannable = n_fcitx::ResetIniValue(text, key.c_str(), &expected);
    const bool done = n_fcitx::IniResetFlag(path, key.c_str());
    const std::string after = ReadAll(path);
    if (!done) {
        FUZZ_CHECK(after == text);
        // a file iniparser reads, with the key on a line of its own, is reset
        FUZZ_CHECK(!(held && scannable && text.find('\\') == std::string::npos));
    } else {
        FUZZ_CHECK(held && scannable && after == expected);
        dictionary* now = iniparser_load(path.c_str());
        FUZZ_CHECK(now != nullptr);
        FUZZ_CHECK(strcmp(iniparser_getstring(now, key.c_str(), ""), "false") == 0);
        FUZZ_CHECK(now->n == before->n);
        for (ssize_t i = 0; i < before->size; ++i) {
            if (!before->key[i] || Lower(key) == before->key[i]) continue;
            const char* was = before->val[i];
            const char* is = iniparser_getstring(now, before->key[i], nullptr);
            FUZZ_CHECK((was == nullptr) == (is == nullptr));
            FUZZ_CHECK(!was || strcmp(was, is) == 0);
        }
        iniparser_freedict(now);
        const std::string name = Lower(key.substr(key.find(':') + 1));
        if (text.find('\\') == std::string::npos)
            FUZZ_CHECK(LinesWithout(after, name) == LinesWithout(text, name));
    }
    if (before) iniparser_freedict(before);
    return 0;
}
