// Shared by the libFuzzer targets: a private work directory (on tmpfs when
// there is one, so the synced writes of the code under test stay fast), a
// plain file writer, and a check that stops the run with a message.
#pragma once

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// Reports a broken property of the code under test as a finding. The text
// goes through the sanitizer's report channel, which libFuzzer keeps open
// when it silences the target's own standard error (-close_fd_mask=2).
#define FUZZ_CHECK(cond)                                         \
    do {                                                         \
        if (!(cond)) FuzzCheckFailed(#cond, __FILE__, __LINE__); \
    } while (0)

[[noreturn]] inline void FuzzCheckFailed(const char* what, const char* file, int line) {
    char text[512];
    snprintf(text, sizeof text, "fuzz check failed: %s at %s:%d", what, file, line);
    __sanitizer_report_error_summary(text);
    abort();
}

// A directory of this process, made on first use and removed at exit.
inline const std::string& FuzzWorkDir() {
    struct t_dir {
        std::string path;
        t_dir() {
            std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
            path = base + "/vetra-fuzz-XXXXXX";
            if (!mkdtemp(path.data())) abort();
        }
        ~t_dir() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const t_dir dir;
    return dir.path;
}

inline std::string FuzzPath(const char* name) {
    return FuzzWorkDir() + "/" + name;
}

inline std::wstring FuzzWidePath(const char* name) {
    const std::string p = FuzzPath(name);
    return std::wstring(p.begin(), p.end());
}

// Replaces the file at path with size bytes of data.
inline void FuzzWriteFile(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) abort();
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n <= 0) abort();
        data += n;
        size -= static_cast<size_t>(n);
    }
    close(fd);
}
