// Shared helpers of the runtime tests: a private HOME for the whole test
// binary (set before any test runs, so no test can reach the real one), a
// per-test temporary HOME, small file helpers and bounded child processes.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_dir.h"

using testsupport::ListNames;
using testsupport::ReadFileBytes;
using testsupport::Widen;
using testsupport::WriteFileBytes;

// Makes a fresh directory under the binary's private HOME, points HOME at
// it, and on destruction restores the previous HOME and removes the tree.
class t_tempHome {
public:
    t_tempHome();
    ~t_tempHome();
    t_tempHome(const t_tempHome&) = delete;
    t_tempHome& operator=(const t_tempHome&) = delete;

    const std::string& Path() const { return m_path; }
    std::wstring WPath() const;
    // "<home>/.vetrainput" (not created here).
    std::string DataDir() const { return m_path + "/.vetrainput"; }
    // A path inside the temporary home.
    std::string At(const std::string& name) const { return m_path + "/" + name; }
    std::wstring WAt(const std::string& name) const;

private:
    std::string m_path;
    std::string m_previousHome;
};

// Fixture: every test runs with its own temporary HOME.
class TempHomeTest : public ::testing::Test {
protected:
    t_tempHome home;
};

// Runs `body` in a forked child that leaves with _exit(body()), never
// returning into the test framework. The child is killed by SIGALRM after
// `alarmSeconds` should it hang. Returns the child's pid (-1 on failure).
pid_t ForkChild(const std::function<int()>& body, unsigned alarmSeconds = 20);
// Waits up to timeoutMs for the child: its exit code, 128 + signal when a
// signal ended it, or -1 on timeout (the child is then killed and reaped).
int WaitChild(pid_t pid, int timeoutMs);
// Puts a copy of the file at `path` in its place (a backup put back, a sync
// tool), as another program would: the name then holds another file.
bool ReplaceByCopy(const std::string& path);
// Reads one byte from fd within timeoutMs; false on timeout or end of file.
bool ReadByteWithin(int fd, int timeoutMs);
