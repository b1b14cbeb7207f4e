// Where the tests find the system data that the data build made: the
// directory in VETRA_SYSTEM_DATA_DIR, else the one the build configured
// (VETRA_BUILT_DATA_DIR). Tests of built data skip themselves when the file
// they need is not there, and fail when the named directory is missing.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kernel/runtime/dict_manager.h"
#include "tests/support/dict_env.h"

// Reads "<system data dir>/<name>" whole; false when it is not there.
bool ReadBuiltSystemFile(const std::string& name, std::vector<unsigned char>& out);

// The directory of the built system data; empty when none is known.
std::string BuiltSystemDir();

// A private HOME with user, system and kind-4 directories set as the
// kernel's directories, an initialised version manager and a fresh,
// initialised dictionary manager. UseSystemDir points the kernel's system
// directory elsewhere (the built data).
class DictManagerDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void UseSystemDir(const std::string& dir);
    std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
    testsupport::t_dictManagerEnv env_;
    std::unique_ptr<t_dictManager>& manager_ = env_.manager;
};
