// Temporary directories and whole-file helpers for tests.
#include "tests/support/test_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace testsupport {

void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* d = opendir(path.c_str())) {
            while (struct dirent* e = readdir(d)) {
                if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
                RemoveTree(path + "/" + e->d_name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::wstring Widen(const std::string& s) {
    std::wstring out;
    std::mbstate_t state{};
    const char* p = s.c_str();
    const char* end = p + s.size();
    while (p < end) {
        wchar_t c;
        size_t n = mbrtowc(&c, p, static_cast<size_t>(end - p), &state);
        if (n == 0 || n > static_cast<size_t>(end - p)) {  // not decodable: take the byte
            c = static_cast<unsigned char>(*p);
            n = 1;
        }
        out += c;
        p += n;
    }
    return out;
}

bool WriteFileBytes(const std::string& path, const std::string& content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok =
        write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    return close(fd) == 0 && ok;
}

std::string ReadFileBytes(const std::string& path) {
    std::string out;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

std::vector<std::string> ListNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string TempBase() {
    const char* base = getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

namespace {

std::string MakeDir(const char* prefix) {
    const std::string tmpl = TempBase() + "/" + prefix + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}

// The directories of TempDirUntilExit, removed when static objects go.
struct t_exitDirs {
    std::vector<std::string> paths;
    pid_t owner = getpid();
    ~t_exitDirs() {
        if (getpid() != owner) return;
        for (const std::string& p : paths) RemoveTree(p);
    }
};

}  // namespace

std::string TempDirUntilExit(const char* prefix) {
    static t_exitDirs dirs;
    std::string path = MakeDir(prefix);
    if (!path.empty()) dirs.paths.push_back(path);
    return path;
}

t_testDir::t_testDir(const char* prefix) : m_path(MakeDir(prefix)), m_owner(getpid()) {}

t_testDir::~t_testDir() {
    if (!m_path.empty() && getpid() == m_owner) RemoveTree(m_path);
}

const std::vector<std::string>& NonRegularKinds() {
    static const std::vector<std::string> kinds = {
        "FIFO", "folder", "/dev/zero", "link to a FIFO", "link to a folder", "link to /dev/zero"};
    return kinds;
}

bool MakeNonRegular(const std::string& kind, const std::string& path) {
    const bool link = kind.rfind("link to ", 0) == 0;
    const std::string what = link ? kind.substr(8) : kind;
    const std::string at = link ? path + ".target" : path;
    bool made = false;
    if (what == "FIFO" || what == "a FIFO")
        made = mkfifo(at.c_str(), 0600) == 0;
    else if (what == "folder" || what == "a folder")
        made = mkdir(at.c_str(), 0700) == 0;
    else if (what == "/dev/zero")
        made = link || mknod(at.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
    if (!made) return false;
    const std::string target = what == "/dev/zero" ? "/dev/zero" : at;
    return !link || symlink(target.c_str(), path.c_str()) == 0;
}

std::string NonRegularAt(const std::string& kind, const std::string& path) {
    if (MakeNonRegular(kind, path)) return path;
    return kind == "/dev/zero" && errno == EPERM ? kind : "";
}

t_hangGuard::t_hangGuard(unsigned seconds) {
    signal(SIGALRM, SIG_DFL);
    alarm(seconds);
}

t_hangGuard::~t_hangGuard() {
    alarm(0);
}

namespace {

bool WriteWhole(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
    return close(fd) == 0 && ok;
}

// The calling thread in a mount namespace of its own, once: true when it
// is. Without root the whole process enters a user namespace first, where
// this user keeps its ids and may mount in that namespace only.
bool OwnMountNamespace() {
    static bool entered = false;
    if (entered) return true;
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) != 0) return false;
    } else {
        const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
            !WriteWhole("/proc/self/setgroups", "deny") ||
            !WriteWhole("/proc/self/uid_map", uid + " " + uid + " 1") ||
            !WriteWhole("/proc/self/gid_map", gid + " " + gid + " 1"))
            return false;
    }
    // Nothing mounted here is passed on to the namespace left.
    entered = mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return entered;
}

}  // namespace

t_boundByFileModes::t_boundByFileModes() {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return;
    m_effective[0] = data[0].effective;
    m_effective[1] = data[1].effective;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[cap / 32].effective &= ~(1u << (cap % 32));
    m_ok = syscall(SYS_capset, &header, data) == 0;
}

t_boundByFileModes::~t_boundByFileModes() {
    if (!m_ok) return;
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return;
    data[0].effective = m_effective[0];
    data[1].effective = m_effective[1];
    syscall(SYS_capset, &header, data);
}

t_bindMount::t_bindMount(const std::string& from, const std::string& to) : m_to(to) {
    if (!OwnMountNamespace()) return;
    mkdir(to.c_str(), 0700);
    m_ok = mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

t_bindMount::~t_bindMount() {
    if (m_ok) umount2(m_to.c_str(), MNT_DETACH);
}

}  // namespace testsupport
