// Test support for the kernel's entry functions: a private HOME with user,
// system and kind-4 directories; the kernel is started on demand and shut
// down (and made restartable) after each test. One test thread.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "tests/support/test_dir.h"

// Members are public so that the cases of a table can prepare them.
class KernelTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // InitDictionaries over the fixture's directories, load now, policy 0;
    // its result in `started` (0 without the core system files).
    void Start();
    // Shuts the kernel down so that the next Start begins afresh.
    void Stop();
    // The shipped fuzzy, correction and shuangpin scheme files into sys.
    void CopySchemes();
    // Links every file of the built system data into sys but the named ones;
    // false (the test should skip) without built data.
    bool LinkBuiltData(const std::set<std::string>& except = {});
    // The start report as UTF-8.
    std::string Report() const;
    const t_lstr* Word(const wchar_t* text) { return m_arena.WideToLstr(text); }

    testsupport::t_testDir root{"vetra-api"};
    std::string home, user, sys, dict4;
    int started = 0;

private:
    std::string m_previousHome;
    bool m_hadHome = false;
    t_scopeHeap m_arena;
};

// The built system data directory (VETRA_SYSTEM_DATA_DIR); empty when unset
// or without the compiled lexicon.
std::string BuiltDataDir();

// The kernel started on the built system data with its key map, ready to
// convert; the test is skipped without built data.
class BuiltDataKernelTest : public KernelTest {
public:
    void SetUp() override;
};

// The fixture F started on the built system data (without the key map); the
// test is skipped without built data.
template <class F>
class StartedOnBuiltData : public F {
public:
    void SetUp() override {
        if (BuiltDataDir().empty()) GTEST_SKIP() << "no built system data (VETRA_SYSTEM_DATA_DIR)";
        KernelTest::SetUp();
        ASSERT_TRUE(this->LinkBuiltData());
        this->Start();
    }
};
