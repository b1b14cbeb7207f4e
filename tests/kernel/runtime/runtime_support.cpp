// Shared helpers of the runtime tests.
#include "tests/kernel/runtime/runtime_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// The binary's private HOME, made before main() so that nothing in the
// test binary ever sees the real one. Removed at exit by the parent only.
struct t_binaryHome {
    std::string path;
    pid_t owner;
    t_binaryHome() : owner(getpid()) {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vetra-test-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) abort();
        path = buf.data();
        setenv("HOME", path.c_str(), 1);
    }
    ~t_binaryHome() {
        if (getpid() == owner) testsupport::RemoveTree(path);
    }
};

t_binaryHome& BinaryHome() {
    static t_binaryHome home;
    return home;
}

[[maybe_unused]] const bool kBinaryHomeReady = !BinaryHome().path.empty();

}  // namespace

t_tempHome::t_tempHome() {
    const char* previous = getenv("HOME");
    m_previousHome = previous ? previous : "";
    std::string tmpl = BinaryHome().path + "/home-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) abort();
    m_path = buf.data();
    setenv("HOME", m_path.c_str(), 1);
}

t_tempHome::~t_tempHome() {
    setenv("HOME", m_previousHome.empty() ? BinaryHome().path.c_str() : m_previousHome.c_str(), 1);
    testsupport::RemoveTree(m_path);
}

std::wstring t_tempHome::WPath() const {
    return Widen(m_path);
}
std::wstring t_tempHome::WAt(const std::string& name) const {
    return Widen(At(name));
}

pid_t ForkChild(const std::function<int()>& body, unsigned alarmSeconds) {
    fflush(stdout);
    fflush(stderr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    signal(SIGALRM, SIG_DFL);
    alarm(alarmSeconds);
    _exit(body());
}

int WaitChild(pid_t pid, int timeoutMs) {
    if (pid <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
            return -1;
        }
        if (r < 0) return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool ReplaceByCopy(const std::string& path) {
    return WriteFileBytes(path + ".copy", ReadFileBytes(path)) &&
           rename((path + ".copy").c_str(), path.c_str()) == 0;
}

bool ReadByteWithin(int fd, int timeoutMs) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return false;
    char c;
    return read(fd, &c, 1) == 1;
}
