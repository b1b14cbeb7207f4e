// SIGTERM through a self-pipe into fcitx's main loop. The handler only
// writes; everything else runs on fcitx's main thread.
#include "src/fcitx/end_signal.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace n_fcitx {
namespace {

int g_pipe[2] = {-1, -1};
bool g_watched = false;

void OnEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a pending request.
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

bool InstallEndSignal() {
    if (g_pipe[0] >= 0) return true;
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    g_pipe[0] = fds[0];
    g_pipe[1] = fds[1];
    struct sigaction action = {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &action, nullptr) == 0) return true;
    close(fds[0]);
    close(fds[1]);
    g_pipe[0] = g_pipe[1] = -1;
    return false;
}

int EndSignalReadEnd() {
    return g_pipe[0];
}

bool TakeEndSignal() {
    if (g_pipe[0] < 0) return false;
    bool came = false;
    char buffer[64];
    ssize_t n;
    while ((n = read(g_pipe[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        came = came || n > 0;
    return came;
}

void SetEndSignalWatched() {
    g_watched = true;
}

bool EndSignalWatched() {
    return g_watched;
}

}  // namespace n_fcitx
