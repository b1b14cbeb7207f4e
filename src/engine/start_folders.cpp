// The checks of the system data folder and the user folder made before the
// kernel starts on them.
#include "src/engine/start_folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace n_startFolders {
namespace {

// Deep enough for the data's scheme folder; a loop of links ends here.
constexpr int kListDepth = 4;

// Why the file cannot be read, empty when it can. Never blocks on a FIFO.
std::string WhyUnreadable(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return strerror(errno);
    struct stat st;
    const bool file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return file ? std::string() : "not a file";
}

void List(const std::string& dir, const std::string& prefix, int depth,
          std::vector<std::string>& out) {
    DIR* d = opendir(dir.c_str());
    if (!d) {
        // Told by UnreadableFiles as the folder it is.
        if (!prefix.empty()) out.push_back(prefix.substr(0, prefix.size() - 1));
        return;
    }
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (stat((dir + "/" + name).c_str(), &st) != 0 || S_ISREG(st.st_mode)) {
            out.push_back(prefix + name);
        } else if (S_ISDIR(st.st_mode) && depth < kListDepth) {
            List(dir + "/" + name, prefix + name + "/", depth + 1, out);
        }
    }
    closedir(d);
}

bool IsUsableFolder(const std::string& dir, bool write, std::string* why) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        *why = dir + ": " + strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = dir + ": not a folder";
        return false;
    }
    if (faccessat(AT_FDCWD, dir.c_str(), R_OK | X_OK | (write ? W_OK : 0), AT_EACCESS) != 0) {
        *why = dir + ": " + strerror(errno);
        return false;
    }
    return true;
}

// Makes the folders of `relative` one by one below `base`, which is there
// ("" the current folder, "/" the root).
bool MakeBelow(const std::string& base, const std::string& relative, std::string* why) {
    std::string path = base;
    size_t from = 0;
    while (from < relative.size()) {
        size_t slash = relative.find('/', from);
        if (slash == std::string::npos) slash = relative.size();
        if (slash > from) {
            if (!path.empty() && path.back() != '/') path += '/';
            path += relative.substr(from, slash - from);
            if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
                *why = path + ": " + strerror(errno);
                return false;
            }
        }
        from = slash + 1;
    }
    return true;
}

// `ok`; a failure on `dir` itself is told without its name, which the
// caller gives.
bool Told(const std::string& dir, bool ok, std::string* why) {
    if (!ok && why->compare(0, dir.size() + 2, dir + ": ") == 0) why->erase(0, dir.size() + 2);
    return ok;
}

// The absolute path as the file system reads it: each part that is there
// resolved (links, "."/"..") as the kernel would open it, the rest, which
// cannot hold links, taken as written with its ".." dropping a part.
std::string Resolved(const std::string& path) {
    std::string done;  // the resolved part, or where the unmade parts start
    if (path.empty() || path[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        done = cwd ? cwd : "";
        free(cwd);
    }
    bool real = true;  // done is a resolved folder that is there
    size_t from = 0;
    while (from <= path.size()) {
        size_t slash = path.find('/', from);
        if (slash == std::string::npos) slash = path.size();
        const std::string part = path.substr(from, slash - from);
        from = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == ".." && !real) {
            const size_t cut = done.rfind('/');
            done.erase(cut == std::string::npos ? 0 : cut);
            continue;
        }
        const std::string next = done + "/" + part;
        if (real) {
            if (char* r = realpath(next.c_str(), nullptr)) {
                done = std::strcmp(r, "/") == 0 ? "" : r;
                free(r);
                continue;
            }
            real = false;
        }
        done = next;
    }
    return done.empty() ? "/" : done;
}

// True when `inner` lies below `outer` (both resolved).
bool Below(const std::string& inner, const std::string& outer) {
    if (outer == "/") return inner != "/";
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           inner[outer.size()] == '/';
}

// The resolved path's folder one up ("/" stays).
std::string Parent(const std::string& path) {
    const size_t cut = path.rfind('/');
    return cut == 0 || cut == std::string::npos ? "/" : path.substr(0, cut);
}

bool SameFolder(const std::string& path, const struct stat& folder) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && st.st_dev == folder.st_dev && st.st_ino == folder.st_ino;
}

// 0 when the resolved `path` is the very folder `folder`, 1 when one of its
// parents is, -1 when none (parts not made yet are no folder).
int Reaches(std::string path, const struct stat& folder) {
    for (int up = 0;; ++up) {
        if (SameFolder(path, folder)) return up == 0 ? 0 : 1;
        if (path == "/") return -1;
        path = Parent(path);
    }
}

}  // namespace

std::string UserFolderClash(const std::string& user, const std::string& data) {
    const std::string u = Resolved(user), d = Resolved(data);
    if (u == d) return "is";
    if (Below(d, u)) return "holds";
    if (Below(u, d)) return "lies in";
    // The names apart, the folders themselves may not be: a bind mount shows
    // one folder under two names that no link resolution joins.
    struct stat st;
    if (stat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        const int where = Reaches(u, st);
        if (where >= 0) return where == 0 ? "is" : "lies in";
    }
    if (stat(u.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && d != "/" && Reaches(Parent(d), st) >= 0)
        return "holds";
    return {};
}

std::string UnreadableFiles(const std::string& dir, const std::vector<std::string>& names) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) return strerror(errno);
    if (!S_ISDIR(st.st_mode)) return "not a folder";
    // Reasons in the order first met, each with its files.
    std::vector<std::pair<std::string, std::string>> reasons;
    for (const std::string& name : names) {
        const std::string why = WhyUnreadable(dir + "/" + name);
        if (why.empty()) continue;
        auto it = std::find_if(reasons.begin(), reasons.end(),
                               [&](const auto& r) { return r.first == why; });
        if (it == reasons.end())
            reasons.emplace_back(why, name);
        else
            it->second += ", " + name;
    }
    std::string out;
    for (const auto& [why, files] : reasons) out += (out.empty() ? "" : "; ") + files + ": " + why;
    return out;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> out;
    List(dir, "", 0, out);
    std::sort(out.begin(), out.end());
    return out;
}

bool PrepareUserFolder(const std::string& home, const std::string& relative, bool write,
                       std::string* dir, std::string* why) {
    dir->clear();
    // A home folder that is not there is not made: that is not this
    // program's to decide, and it would be made from the root down.
    if (home.empty()) {
        *why = "HOME is not set";
        return false;
    }
    *dir = home + "/" + relative;
    struct stat st;
    if (stat(home.c_str(), &st) != 0) {
        *why = "home folder " + home + ": " + strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = "home folder " + home + ": not a folder";
        return false;
    }
    return Told(*dir, MakeBelow(home, relative, why) && IsUsableFolder(*dir, write, why), why);
}

bool PrepareFolder(const std::string& dir, std::string* why) {
    if (dir.empty()) {
        *why = "no folder named";
        return false;
    }
    const bool absolute = dir[0] == '/';
    return Told(dir,
                MakeBelow(absolute ? "/" : "", dir.substr(absolute ? 1 : 0), why) &&
                    IsUsableFolder(dir, true, why),
                why);
}

}  // namespace n_startFolders
