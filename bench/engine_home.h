// The engine object on the built system data (VETRA_SYSTEM_DATA_DIR) in a
// temporary HOME of its own, removed at exit: for the benchmarks that drive
// the kernel as the front end does.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "src/engine/engine_iface.h"

namespace n_bench {

// Starts an engine in a new HOME ("/tmp/<tag>-XXXXXX", removed at exit),
// after `prepare` (may be null) has filled the user folder it is given
// (HOME/.config). Null when the data is not there, a folder cannot be made
// or `prepare` or Init fails. The caller keeps it: each benchmark file
// starts its own, once.
inline IVetraCoreEngine* StartEngine(const std::string& tag,
                                     bool (*prepare)(const std::string& usrDir)) {
    const char* data = getenv("VETRA_SYSTEM_DATA_DIR");
    if (!data || !std::filesystem::exists(std::string(data) + "/qzim_core.bin")) return nullptr;
    std::string home = "/tmp/" + tag + "-XXXXXX";
    if (!mkdtemp(home.data())) return nullptr;
    static std::vector<std::string> homes;
    if (homes.empty())
        std::atexit([] {
            for (const std::string& h : homes) std::filesystem::remove_all(h);
        });
    homes.push_back(home);
    setenv("HOME", home.c_str(), 1);
    const std::string usr = home + "/.config";
    std::filesystem::create_directories(usr + "/VetraPY");
    if (prepare && !prepare(usr)) return nullptr;
    IVetraCoreEngine* e = CreateVetraCoreEngine();
    return e && e->Init(data, usr.c_str()) ? e : nullptr;
}

}  // namespace n_bench
