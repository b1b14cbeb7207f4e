// A temporary directory for one test, removed with everything in it when the
// object goes, plus small whole-file helpers. Shared by every test folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace testsupport {

// Removes a file or a whole tree without following symbolic links.
void RemoveTree(const std::string& path);

// Where tests make their directories: $TMPDIR when set, else /tmp. ctest sets
// TMPDIR to a folder of the build that a last test checks is left empty.
std::string TempBase();
// A fresh directory "<TempBase()>/<prefix>-XXXXXX" for helpers that hand out
// paths rather than objects: removed with everything in it when the test
// binary exits (by the process that made it, never by a forked child), or
// earlier by the caller. Empty when it could not be made.
std::string TempDirUntilExit(const char* prefix);

bool WriteFileBytes(const std::string& path, const std::string& content);
// Empty when the file cannot be read.
std::string ReadFileBytes(const std::string& path);
// Names in a directory other than "." and "..", sorted.
std::vector<std::string> ListNames(const std::string& dir);
// Test texts as kernel paths: multibyte text decoded in the current locale,
// any byte that does not decode taken as one character.
std::wstring Widen(const std::string& s);

// The things that may stand where a file is expected and must never be read
// as one (each would block open or read, or read without end): a FIFO, a
// folder, /dev/zero, and a symbolic link to each.
const std::vector<std::string>& NonRegularKinds();
// Puts the thing of that kind at `path` (the FIFO and the folder a link
// points to are made at "<path>.target"; /dev/zero itself is a new device
// node, which needs root). False when it could not be made.
bool MakeNonRegular(const std::string& kind, const std::string& path);
// Where a test finds the thing of that kind: `path` once MakeNonRegular
// made it there, or, for /dev/zero when no device node can be made (no
// root), the system's /dev/zero itself, which code that opens or checks a
// path meets as it would a node made at `path` (never to be removed by the
// test). Empty when neither could be had.
std::string NonRegularAt(const std::string& kind, const std::string& path);

// While alive, this process is bound by file modes as a user is, root
// included: the capabilities that open any file leave its effective set,
// and come back when it goes. Ok() is false where they cannot be dropped.
class t_boundByFileModes {
public:
    t_boundByFileModes();
    ~t_boundByFileModes();
    t_boundByFileModes(const t_boundByFileModes&) = delete;
    t_boundByFileModes& operator=(const t_boundByFileModes&) = delete;
    bool Ok() const { return m_ok; }

private:
    unsigned m_effective[2] = {0, 0};
    bool m_ok = false;
};

// Ends the test binary with SIGALRM when the scope lasts longer than
// `seconds`: a call that blocks fails the test instead of hanging it.
class t_hangGuard {
public:
    explicit t_hangGuard(unsigned seconds);
    ~t_hangGuard();
    t_hangGuard(const t_hangGuard&) = delete;
    t_hangGuard& operator=(const t_hangGuard&) = delete;
};

// Folder `from` shown again at `to` (made when missing) by a bind mount
// that only the calling thread sees: it first enters a mount namespace of
// its own, whose mounts never reach the system's. Root makes one directly;
// another user makes it in a user namespace of its own, keeping its ids,
// which a process of more than one thread cannot enter: use it in a forked
// child. Ok() is false when that cannot be had (a system without user
// namespaces, or one that refuses); the mount goes with the object.
class t_bindMount {
public:
    t_bindMount(const std::string& from, const std::string& to);
    ~t_bindMount();
    t_bindMount(const t_bindMount&) = delete;
    t_bindMount& operator=(const t_bindMount&) = delete;

    bool Ok() const { return m_ok; }

private:
    std::string m_to;
    bool m_ok = false;
};

class t_testDir {
public:
    // Makes "<TempBase()>/<prefix>-XXXXXX"; Path() is empty when that failed.
    // Only the process that made it removes it (a forked child leaves it).
    explicit t_testDir(const char* prefix = "vetra-test");
    ~t_testDir();
    t_testDir(const t_testDir&) = delete;
    t_testDir& operator=(const t_testDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string At(const std::string& name) const { return m_path + "/" + name; }
    std::wstring WAt(const std::string& name) const { return Widen(At(name)); }
    bool Put(const std::string& name, const std::string& bytes) const {
        return WriteFileBytes(At(name), bytes);
    }
    std::string Get(const std::string& name) const { return ReadFileBytes(At(name)); }
    size_t EntryCount() const { return ListNames(m_path).size(); }

private:
    std::string m_path;
    int m_owner = 0;
};

}  // namespace testsupport
