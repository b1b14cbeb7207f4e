// Named memory blocks following their data set's version.
#include "kernel/runtime/named_memory.h"

#include <unistd.h>

#include <cstring>

#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "tests/kernel/runtime/runtime_support.h"

namespace {

class NamedMemoryTest : public TempHomeTest {
protected:
    void SetUp() override { ASSERT_TRUE(vm().Init()); }
    static t_versionManager& vm() { return t_singleton<t_versionManager>::Get(); }
};

TEST_F(NamedMemoryTest, MissingFileFailsButStaysRegistered) {
    t_shareMemory block;
    const std::wstring path = home.WAt("absent.dat");
    EXPECT_FALSE(block.OpenFileMap(path.c_str()));
    EXPECT_FALSE(block.IsValid());
    EXPECT_TRUE(block.GetAttachedName().empty());
    std::wstring expected;
    MakeSafeFileName(path.c_str(), L"_Event_", expected);
    EXPECT_EQ(expected, block.GetVersionName());
    EXPECT_GE(vm().GetVersion(expected.c_str()), 1);
    EXPECT_GE(vm().GetLocalVersion(expected.c_str()), 1);
    EXPECT_EQ(0, access((home.DataDir() + "/absent_dat_FileLocker").c_str(), F_OK));
}

TEST_F(NamedMemoryTest, VersionBumpMapsTheFileAfresh) {
    const std::string path = home.At("dict.bin");
    ASSERT_TRUE(WriteFileBytes(path, "AAAA"));
    t_shareMemory block;
    ASSERT_TRUE(block.OpenFileMap(Widen(path).c_str()));
    EXPECT_EQ(4, block.GetDataSize());
    EXPECT_EQ(-1, block.GetOpenSize());
    // A writer replaces the file (new inode) and raises the version.
    ASSERT_TRUE(WriteFileBytes(path + ".new", "BBBBBB"));
    ASSERT_EQ(0, rename((path + ".new").c_str(), path.c_str()));
    EXPECT_EQ(0, memcmp(block.GetData(), "AAAA", 4));
    ASSERT_TRUE(vm().IncreaseVersion(block.GetVersionName().c_str()));
    ASSERT_TRUE(vm().CheckUpdate2());
    ASSERT_TRUE(block.IsValid());
    ASSERT_EQ(6, block.GetDataSize());
    EXPECT_EQ(0, memcmp(block.GetData(), "BBBBBB", 6));
    EXPECT_EQ(Widen(path), block.GetAttachedName());
    // It is registered again and follows the next change too.
    ASSERT_TRUE(WriteFileBytes(path + ".new", "CC"));
    ASSERT_EQ(0, rename((path + ".new").c_str(), path.c_str()));
    vm().IncreaseVersion(block.GetVersionName().c_str());
    vm().CheckUpdate2();
    ASSERT_EQ(2, block.GetDataSize());
    EXPECT_EQ(0, memcmp(block.GetData(), "CC", 2));
}

TEST_F(NamedMemoryTest, SecondOpenOfHeldBlockKeepsIt) {
    t_shareMemory block;
    ASSERT_TRUE(block.OpenMemory(L"Scratch", 16));
    EXPECT_EQ(L"Scratch", block.GetAttachedName());  // the plain name
    static_cast<uint8_t*>(block.GetData())[3] = 0x5A;
    ASSERT_TRUE(block.OpenMemory(L"Scratch", 64));
    EXPECT_EQ(16, block.GetDataSize());
    EXPECT_EQ(0x5A, static_cast<uint8_t*>(block.GetData())[3]);
    t_shareMemory fresh;
    EXPECT_FALSE(fresh.OpenMemory(L"Fresh", -1));  // nothing held, no size
    EXPECT_TRUE(fresh.GetAttachedName().empty());
}

// Reopening a private block after a version change used to drop it and make
// a zeroed one: the block is its only copy, so the data was lost.
TEST_F(NamedMemoryTest, PrivateBlockKeepsItsDataAcrossVersionChanges) {
    t_shareMemory block;
    ASSERT_TRUE(block.OpenMemory(L"Keeps", 8));
    memcpy(block.GetData(), "12345678", 8);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(vm().IncreaseVersion(block.GetVersionName().c_str()));
        ASSERT_TRUE(vm().CheckUpdate2());
        ASSERT_TRUE(block.IsValid());
        EXPECT_EQ(0, memcmp(block.GetData(), "12345678", 8));
        EXPECT_EQ(vm().GetVersion(block.GetVersionName().c_str()),
                  vm().GetLocalVersion(block.GetVersionName().c_str()));
    }
}

TEST_F(NamedMemoryTest, DestroyedBlockIsNoLongerCalled) {
    std::wstring name;
    {
        t_shareMemory block;
        ASSERT_TRUE(block.OpenMemory(L"ShortLived", 8));
        name = block.GetVersionName();
    }
    EXPECT_EQ(-1, vm().GetLocalVersion(name.c_str()));
    vm().IncreaseVersion(name.c_str());
    EXPECT_TRUE(vm().CheckUpdate2());  // would reach a freed block under ASan
}

}  // namespace
