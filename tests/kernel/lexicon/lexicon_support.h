// Shared fixtures of the lexicon tests: a temporary directory with helpers
// to write and read files in it.
#pragma once

#include <gtest/gtest.h>

#include <string>

class LexiconDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Absolute path of a name inside the directory, narrow and wide.
    std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }
    std::wstring WPathOf(const std::string& name) const;
    // Writes text as UTF-8 with a byte-order mark (creating parent folders).
    void PutUtf8(const std::string& name, const std::string& text) const;
    std::string Get(const std::string& name) const;
    bool Exists(const std::string& name) const;

    std::string dir_;
};

// The repository root given by the test runner, or the build-time guess.
std::string SourceDir();
