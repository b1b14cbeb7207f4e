/*
 * lock_shim: preloaded into the end-to-end tests' fcitx, it has the file
 * system refuse one file lock, as a network folder whose lock service is
 * away does, through the environment:
 *   VETRA_REFUSE_LOCK=NAME  the first request for a write lock on a file
 *                           named NAME fails with ENOLCK, in one process
 *   VETRA_REFUSE_LOCK_IN=N  ... in the N-th process of the run that asks
 *                           for one (default 1; each process counts itself
 *                           by making the first free $HOME/NAME.refused.K)
 * Every other call goes straight to the C library. Only libc and libdl.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Set once this process asked for the refusal, granted or not. */
static int asked;

static int is_write_lock(int cmd, void* arg) {
    if (cmd != F_OFD_SETLK && cmd != F_OFD_SETLKW && cmd != F_SETLK && cmd != F_SETLKW) return 0;
    return arg && ((struct flock*)arg)->l_type == F_WRLCK;
}

/* True when fd is the named file and this process is the one that refuses. */
static int refuses(int fd) {
    const char* name = getenv("VETRA_REFUSE_LOCK");
    const char* home = getenv("HOME");
    if (asked || !name || !*name || !home) return 0;
    char link[64], path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = '\0';
    const char* base = strrchr(path, '/');
    if (strcmp(base ? base + 1 : path, name) != 0) return 0;
    asked = 1;
    const char* in = getenv("VETRA_REFUSE_LOCK_IN");
    const int turn = in && atoi(in) > 0 ? atoi(in) : 1;
    for (int k = 1; k < 100; ++k) {
        char mark[PATH_MAX];
        snprintf(mark, sizeof mark, "%s/%s.refused.%d", home, name, k);
        const int made = open(mark, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (made >= 0) {
            close(made);
            return k == turn;
        }
        if (errno != EEXIST) return 0;
    }
    return 0;
}

typedef int (*fcntl_fn)(int, int, ...);

static int forward(fcntl_fn real, int fd, int cmd, void* arg) {
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    if (is_write_lock(cmd, arg) && refuses(fd)) {
        errno = ENOLCK;
        return -1;
    }
    return real(fd, cmd, arg);
}

/* The argument, when there is one, is a word: an int or a pointer (the C
 * library reads it so too). */
int fcntl(int fd, int cmd, ...) {
    static fcntl_fn real;
    if (!real) real = (fcntl_fn)dlsym(RTLD_NEXT, "fcntl");
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return forward(real, fd, cmd, arg);
}

int fcntl64(int fd, int cmd, ...) {
    static fcntl_fn real;
    if (!real) real = (fcntl_fn)dlsym(RTLD_NEXT, "fcntl64");
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return forward(real, fd, cmd, arg);
}
