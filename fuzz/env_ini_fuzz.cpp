// Fuzzes the settings file: any bytes as env.ini through t_env::Load, Save and
// Load again must give the same keys, values and sync modes; a file that
// does not load is set aside and a good one written in its place, which
// loads; the same bytes as a store image must be read whole or refused,
// never read past.
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzz/fuzz_support.h"
#include "porting3/str_class.h"
#include "userenv/env_store.h"

using namespace n_userenv;

namespace {

std::u16string U16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

void CheckSame(const t_env& first, const t_env& second) {
    size_t kept = 0;
    const t_env::t_map* map = first.GetMap();
    for (const t_env::t_map::t_node* n = map ? map->First() : nullptr; n; n = map->Next(n)) {
        ++kept;
        const t_envValue* other = second.FindValue(n->key);
        FUZZ_CHECK(other != nullptr);
        FUZZ_CHECK(other->type == n->value->type);
        FUZZ_CHECK(other->syncMode == n->value->syncMode);
        n_porting::t_str a, b;
        FUZZ_CHECK(n->value->ToText(a) && other->ToText(b));
        FUZZ_CHECK(a == b);
    }
    FUZZ_CHECK(second.GetValueCount() == kept);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        t_env image;
        if (image.ReadImage(data, size) == 1) {
            // What was read whole writes back to the same size.
            FUZZ_CHECK(image.GetImageSize() <= size);
        }
    }

    const std::string path = FuzzPath("env.ini");
    const std::string saved = FuzzPath("saved/env.ini");
    FuzzWriteFile(path, data, size);
    const std::u16string path16 = U16(path), saved16 = U16(saved);
    n_porting::t_errorContext ctx;
    t_env first;
    if (first.Load(ctx, path16.c_str(), 1) != 1) {
        t_env replaced;
        FUZZ_CHECK(replaced.Load(ctx, path16.c_str(), 1) == 1);
        // The set-aside copies would pile up over the run.
        std::error_code ignored;
        std::filesystem::remove_all(FuzzPath("Backup"), ignored);
        return 0;
    }
    FUZZ_CHECK(first.Save(ctx, saved16.c_str()) == 1);
    t_env second;
    FUZZ_CHECK(second.Load(ctx, saved16.c_str(), 1) == 1);
    CheckSame(first, second);
    return 0;
}
