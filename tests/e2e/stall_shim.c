/*
 * stall_shim: preloaded into the end-to-end tests' fcitx, it makes files
 * misbehave the way the cases need, through the environment:
 *   VETRA_STALL_DIR=DIR    opening any file under DIR (relative: under
 *                          $HOME), or making a temporary file there, never
 *                          returns: a network mount whose server died
 *   VETRA_STALL_MS=N       ... or returns after N milliseconds, each time: a
 *                          mount whose server answers that late
 *   VETRA_STALL_UNTIL=FILE ... or returns once FILE (relative: under $HOME)
 *                          exists, at most after 60 s: a mount that answers
 *                          when the test says so
 *   VETRA_REDIRECT=FROM=TO opening FROM opens TO instead: a file the package
 *                          installs, taken from the build
 * Every other call goes straight to the C library. Only libc and libdl.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static int under_stall_dir(const char* path) {
    const char* dir = getenv("VETRA_STALL_DIR");
    const char* home = getenv("HOME");
    if (!dir || !*dir || !path) return 0;
    if (dir[0] != '/') {  // relative to HOME
        const size_t h = home ? strlen(home) : 0;
        if (h == 0 || strncmp(path, home, h) != 0 || path[h] != '/') return 0;
        path += h + 1;
    }
    const size_t n = strlen(dir);
    return strncmp(path, dir, n) == 0 && (path[n] == '/' || path[n] == '\0');
}

static void sleep_ms(long ms) {
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

/* Until VETRA_STALL_UNTIL names a file that exists, for 60 s at most. */
static void stall_until(const char* file) {
    char path[4096];
    const char* home = getenv("HOME");
    if (file[0] != '/' && home)
        snprintf(path, sizeof path, "%s/%s", home, file);
    else
        snprintf(path, sizeof path, "%s", file);
    for (int i = 0; i < 3000 && access(path, F_OK) != 0; ++i) sleep_ms(20);
}

/* Blocks for VETRA_STALL_MS, until VETRA_STALL_UNTIL, or for good without
 * either; a signal handler still runs (and fcitx's end kills it). */
static void stall_if_under(const char* path) {
    if (!under_stall_dir(path)) return;
    const char* until = getenv("VETRA_STALL_UNTIL");
    if (until && *until) {
        stall_until(until);
        return;
    }
    const char* ms = getenv("VETRA_STALL_MS");
    const long hold = ms ? atol(ms) : 0;
    if (hold <= 0)
        for (;;) pause();
    sleep_ms(hold);
}

static const char* redirected(const char* path) {
    const char* redirect = getenv("VETRA_REDIRECT");
    const char* eq = redirect ? strchr(redirect, '=') : NULL;
    if (!eq || !path) return path;
    const size_t n = (size_t)(eq - redirect);
    return strlen(path) == n && strncmp(path, redirect, n) == 0 ? eq + 1 : path;
}

#define REAL(name)                        \
    static __typeof__(&name) real_##name; \
    if (!real_##name) real_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

/* the fortified opens; declared by fcntl.h only when fortifying */
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);

static mode_t mode_of(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_of(flags, ap);
    va_end(ap);
    REAL(open);
    stall_if_under(path);
    return real_open(redirected(path), flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_of(flags, ap);
    va_end(ap);
    REAL(open64);
    stall_if_under(path);
    return real_open64(redirected(path), flags, mode);
}

int __open_2(const char* path, int flags) {
    REAL(__open_2);
    stall_if_under(path);
    return real___open_2(redirected(path), flags);
}

int __open64_2(const char* path, int flags) {
    REAL(__open64_2);
    stall_if_under(path);
    return real___open64_2(redirected(path), flags);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_of(flags, ap);
    va_end(ap);
    REAL(openat);
    stall_if_under(path);
    return real_openat(dirfd, redirected(path), flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_of(flags, ap);
    va_end(ap);
    REAL(openat64);
    stall_if_under(path);
    return real_openat64(dirfd, redirected(path), flags, mode);
}

FILE* fopen(const char* path, const char* mode) {
    REAL(fopen);
    stall_if_under(path);
    return real_fopen(redirected(path), mode);
}

FILE* fopen64(const char* path, const char* mode) {
    REAL(fopen64);
    stall_if_under(path);
    return real_fopen64(redirected(path), mode);
}

int mkstemp(char* templ) {
    REAL(mkstemp);
    stall_if_under(templ);
    return real_mkstemp(templ);
}

int mkostemp(char* templ, int flags) {
    REAL(mkostemp);
    stall_if_under(templ);
    return real_mkostemp(templ, flags);
}
