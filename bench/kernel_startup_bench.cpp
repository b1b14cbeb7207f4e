// Kernel start-up as the user waits for it when the input method is first
// switched on: from InitDictionaries to every dictionary and the key map
// ready, each run in a fresh child process (fork) over a warm page cache,
// with the process's resident memory afterwards, and once more after a
// sentence has been typed (the pages the conversion reads come back). Needs
// the built system data in VETRA_SYSTEM_DATA_DIR. Goal: under 50 ms and
// under 30 MB.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "kernel/api/kernel_registry.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/convert/cand_generator.h"

namespace {

struct t_startResult {
    double seconds = 0;
    long rssKb = 0;
    long anonKb = 0;    // of which private memory (the rest: mapped files)
    long beforeKb = 0;  // the process before start-up
    int ready = 0;      // dictionaries ready, the key map included
    long typedKb = 0;   // resident after typing, when asked for
};

// Every prefix of a 12-syllable sentence converted twice, as the engine does.
void TypeSentence() {
    static t_candWord* results[2600];
    t_candGenerator generator;
    const std::wstring input = L"zhongguorenmindaxuejisuanjixueyuande";
    for (size_t k = 1; k <= input.size(); ++k) {
        const std::wstring prefix = input.substr(0, k);
        for (int twice = 0; twice < 2; ++twice) {
            t_convertRequest request;
            request.input = prefix.c_str();
            request.inputLength = int32_t(prefix.size());
            request.pageSize = 2600;
            request.allLowerCase = 1;
            benchmark::DoNotOptimize(generator.Generate(&request, results));
        }
    }
}

// A "<field>: <n> kB" line of /proc/self/status; -1 when missing.
long StatusKb(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    const size_t n = strlen(field);
    while (fgets(line, sizeof line, f))
        if (strncmp(line, field, n) == 0 && line[n] == ':') kb = atol(line + n + 1);
    fclose(f);
    return kb;
}

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

// One start in a child process whose HOME and user directory are under
// `home`; the result comes back through a pipe.
bool StartInChild(const std::string& data, const std::string& home, t_startResult& out,
                  bool type = false) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        setenv("HOME", home.c_str(), 1);
        fclose(stderr);  // the kernel's own notes would drown the table
        const std::wstring user = Wide(home + "/user"), sys = Wide(data);
        t_startResult r;
        r.beforeKb = StatusKb("VmRSS");
        const auto t0 = std::chrono::steady_clock::now();
        InitDictionaries(L"Vetra", user.c_str(), sys.c_str(), user.c_str(), L"bench", nullptr, 1, 0,
                         nullptr);
        r.ready = RegisterKeyPyMap(0);
        const auto t1 = std::chrono::steady_clock::now();
        r.seconds = std::chrono::duration<double>(t1 - t0).count();
        for (const t_kernelDictRow& row : kKernelDicts) r.ready += row.dict().IsReady() ? 1 : 0;
        r.rssKb = StatusKb("VmRSS");
        r.anonKb = StatusKb("RssAnon");
        if (type) {
            TypeSentence();
            r.typedKb = StatusKb("VmRSS");
        }
        GetDictManager().SaveAll();
        const bool written = write(fds[1], &r, sizeof r) == ssize_t(sizeof r);
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    const bool got = read(fds[0], &out, sizeof out) == ssize_t(sizeof out);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void RunStarts(benchmark::State& state, bool firstStart, bool type = false) {
    const char* data = getenv("VETRA_SYSTEM_DATA_DIR");
    if (!data || !std::filesystem::exists(std::string(data) + "/qzim_core.bin")) {
        state.SkipWithError("set VETRA_SYSTEM_DATA_DIR to the built system data");
        return;
    }
    char tmpl[] = "/tmp/vetra-bench-XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string home = tmpl;
    t_startResult r;
    // Warms the page cache and, for later starts, leaves the user's files.
    if (!StartInChild(data, home, r)) state.SkipWithError("start-up failed");
    for (auto _ : state) {
        if (firstStart) std::filesystem::remove_all(home + "/user");
        if (!StartInChild(data, home, r, type)) {
            state.SkipWithError("start-up failed");
            break;
        }
        state.SetIterationTime(r.seconds);
    }
    state.counters["rss_MB"] = double(r.rssKb) / 1024;
    state.counters["anon_MB"] = double(r.anonKb) / 1024;
    state.counters["before_MB"] = double(r.beforeKb) / 1024;
    state.counters["ready"] = r.ready;
    if (type) state.counters["typed_rss_MB"] = double(r.typedKb) / 1024;
    std::filesystem::remove_all(home);
}

// A user's first start: the user files are seeded and the key map is built.
void BM_KernelFirstStart(benchmark::State& state) {
    RunStarts(state, true);
}
// Every later start: the user's files are there.
void BM_KernelStart(benchmark::State& state) {
    RunStarts(state, false);
}
// A later start followed by a typed sentence: the memory of a process in use.
void BM_KernelStartAndType(benchmark::State& state) {
    RunStarts(state, false, true);
}

}  // namespace

BENCHMARK(BM_KernelFirstStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_KernelStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_KernelStartAndType)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
