// The process-wide engine of the engine tests and the second-process probe.
// One test thread.
#include "tests/src/engine/engine_support.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/test_dir.h"

namespace {
bool g_initFailed = false;
}  // namespace

std::string BuiltSystemDataDir() {
    const char* dir = getenv("VETRA_SYSTEM_DATA_DIR");
    if (!dir || !*dir || !std::filesystem::exists(std::string(dir) + "/qzim_core.bin")) return {};
    return dir;
}

const t_engineDirs& EngineDirs() {
    static const t_engineDirs dirs = [] {
        t_engineDirs d;
        d.sys = BuiltSystemDataDir();
        d.root = testsupport::TempDirUntilExit("vetra-engine");
        if (d.root.empty()) return d;
        const std::string home = d.root + "/home";
        mkdir(home.c_str(), 0700);
        setenv("HOME", home.c_str(), 1);
        d.usr = home + "/.config";
        mkdir(d.usr.c_str(), 0700);
        d.data = d.usr + "/VetraPY";
        return d;
    }();
    return dirs;
}

IVetraCoreEngine* TheEngine() {
    static IVetraCoreEngine* engine = []() -> IVetraCoreEngine* {
        const t_engineDirs& d = EngineDirs();
        if (d.sys.empty() || d.root.empty()) return nullptr;
        IVetraCoreEngine* e = CreateVetraCoreEngine();
        e->SetVersion("1.0.0.0", "20261207");
        if (!e->Init(d.sys.c_str(), d.usr.c_str())) {
            g_initFailed = true;
            return nullptr;
        }
        return e;
    }();
    return engine;
}

bool InitFailed() {
    TheEngine();
    return g_initFailed;
}

std::vector<std::string> Candidates(IVetraCoreEngine* engine, const std::string& input) {
    std::vector<std::string> texts;
    if (IVetraCoreResult* result = engine->Convert(input.c_str(), 0xFFFFFFFFu, nullptr, 0)) {
        for (int32_t i = 0; i < result->GetCount(); ++i)
            texts.push_back(result->GetElement(i)->GetText());
        result->Release();
    }
    return texts;
}

int RankOf(const std::vector<std::string>& texts, const std::string& text) {
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i] == text) return int(i);
    return -1;
}

int RunProbe(const std::string& sys, const std::string& usr, const std::string& input,
             std::string* out) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execl(VETRA_ENGINE_PROBE, VETRA_ENGINE_PROBE, sys.c_str(), usr.c_str(), input.c_str(),
              (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out->append(buffer, size_t(n));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::vector<std::string> FreshProcessCandidates(const std::string& input) {
    const t_engineDirs& d = EngineDirs();
    std::string out;
    if (RunProbe(d.sys, d.usr, input, &out) != 0) return {};
    std::vector<std::string> texts;
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        texts.push_back(out.substr(start, end - start));
    return texts;
}
