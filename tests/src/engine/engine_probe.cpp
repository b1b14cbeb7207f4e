// A second process for the engine tests: starts the engine over the given
// directories, prints the candidate texts of one input, one per line, and
// leaves without saving. Single-threaded.
#include <cstdio>

#include "src/engine/engine_iface.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: engine_probe <system dir> <user dir> <input>\n");
        return 2;
    }
    IVetraCoreEngine* engine = CreateVetraCoreEngine();
    if (!engine || !engine->Init(argv[1], argv[2])) return 1;
    if (IVetraCoreResult* result = engine->Convert(argv[3], 0xFFFFFFFFu, nullptr, 0)) {
        for (int32_t i = 0; i < result->GetCount(); ++i)
            if (const IVetraCoreResultElement* e = result->GetElement(i))
                std::printf("%s\n", e->GetText());
        result->Release();
    }
    return 0;
}
