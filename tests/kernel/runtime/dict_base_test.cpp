// The dictionary base: helpers without a registration, safe image writes,
// truthful results and backups.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "tests/kernel/runtime/dict_stub_support.h"

namespace {

// Writes half of the bytes, then finds the disk full.
bool FailHalfway(int fd, const void* data, size_t size) {
    const ssize_t n = write(fd, data, size / 2);
    (void)n;
    errno = ENOSPC;
    return false;
}

}  // namespace

TEST(DictBaseTest, UnregisteredDictionaryIsNotReadyAndEveryHelperFails) {
    t_stubDict dict;
    const std::string image = MakeStubImage("x");
    wchar_t path[64];
    EXPECT_FALSE(dict.IsReady());
    EXPECT_EQ(-1, dict.GetStorageKind());
    EXPECT_EQ(-1, dict.GetLocalVersion());
    EXPECT_FALSE(dict.CommitImage(image.data(), int32_t(image.size())));
    EXPECT_FALSE(dict.IncreaseVersion());
    EXPECT_FALSE(dict.GetFilePath(path, 64));
    EXPECT_FALSE(dict.SaveAndNotify(image.data(), int32_t(image.size())));
    EXPECT_FALSE(dict.WriteFile(image.data(), int32_t(image.size())));
    EXPECT_FALSE(dict.WriteFileAndNotify(image.data(), int32_t(image.size())));
    EXPECT_FALSE(dict.Backup(image.data(), int32_t(image.size())));
}

class DictBaseFileTest : public DictTest {
protected:
    // A kind-1 user dictionary attached from a file holding `payload`.
    void AttachUser(const std::string& payload, uint32_t dir = kDirUser) {
        path = (dir == kDirSystem ? sys : user) + "/words.bin";
        ASSERT_TRUE(PutFile(path, MakeStubImage(payload)));
        ASSERT_TRUE(manager->Register(L"Words", &dict, 0, kStorageMemCopy, dir, L"words.bin", 0,
                                      kVersionMaskDict));
        ASSERT_TRUE(manager->LoadDict(L"Words"));
        ASSERT_EQ(payload, dict.Payload());
    }
    std::string VersionName() { return WideToAscii(dict.GetEntry()->block.GetVersionName()); }
    static std::string WideToAscii(const std::wstring& w) {
        return std::string(w.begin(), w.end());
    }

    t_stubDict dict;
    std::string path;
};

TEST_F(DictBaseFileTest, GetFilePathNamesTheEntryFileAndRefusesACutPath) {
    AttachUser("a");
    wchar_t buf[1024];
    ASSERT_TRUE(dict.GetFilePath(buf, 1024));
    EXPECT_EQ(WideOf(path), std::wstring(buf));
    wchar_t small[8];
    EXPECT_FALSE(dict.GetFilePath(small, 8));
    EXPECT_EQ(L'\0', small[0]);
    EXPECT_FALSE(dict.GetFilePath(small, 0));
}

TEST_F(DictBaseFileTest, WriteFileReportsAFullDiskAndLeavesTheOldFile) {
    AttachUser("old");
    const std::string before = GetFile(path);
    const std::string image = MakeStubImage("new and longer");
    SetDictWriteFunction(&FailWithNoSpace);
    EXPECT_FALSE(dict.WriteFile(image.data(), int32_t(image.size())));
    SetDictWriteFunction(&FailHalfway);
    EXPECT_FALSE(dict.WriteFileAndNotify(image.data(), int32_t(image.size())));
    EXPECT_EQ(0, dict.Calls(kOpOnFileWritten));
    EXPECT_EQ(before, GetFile(path));
    EXPECT_EQ(std::vector<std::string>{"words.bin"}, NamesIn(user));  // no temporary left

    SetDictWriteFunction(nullptr);
    EXPECT_TRUE(dict.WriteFileAndNotify(image.data(), int32_t(image.size())));
    EXPECT_EQ(1, dict.Calls(kOpOnFileWritten));
    EXPECT_EQ(image, GetFile(path));
}

TEST_F(DictBaseFileTest, FailedSaveAndNotifyKeepsTheVersionAndTheAttachedImage) {
    AttachUser("good");
    const std::string before = GetFile(path);
    const int version = Versions().GetVersion(WideOf(VersionName()).c_str());
    const int loads = dict.Calls(kOpLoad);
    const std::string image = MakeStubImage("lost");
    SetDictWriteFunction(&FailHalfway);
    EXPECT_FALSE(dict.SaveAndNotify(image.data(), int32_t(image.size())));
    EXPECT_EQ(version, Versions().GetVersion(WideOf(VersionName()).c_str()));
    EXPECT_EQ(loads, dict.Calls(kOpLoad));
    EXPECT_TRUE(dict.IsReady());
    EXPECT_EQ("good", dict.Payload());
    EXPECT_EQ(before, GetFile(path));
}

// Images are never rewritten in place: a reader that mapped the file (a
// block attached as a file mapping, another process) keeps its bytes whole
// while the base and the manager's flush put a new file in its place.
TEST_F(DictBaseFileTest, ImageWritesReplaceTheFileSoMappedReadersKeepTheirBytes) {
    AttachUser(std::string(64, 'o'));
    auto mapWhole = [&](std::string* bytes) -> const char* {
        *bytes = GetFile(path);
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) return nullptr;
        void* map = mmap(nullptr, bytes->size(), PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        return map == MAP_FAILED ? nullptr : static_cast<const char*>(map);
    };
    std::string before;
    const char* mapped = mapWhole(&before);
    ASSERT_NE(nullptr, mapped);
    const std::string image = MakeStubImage("new");
    ASSERT_TRUE(dict.WriteFile(image.data(), int32_t(image.size())));
    EXPECT_EQ(before, std::string(mapped, before.size()));
    EXPECT_EQ(image, GetFile(path));
    munmap(const_cast<char*>(mapped), before.size());

    // The flush takes up the file written since the attach (the older
    // attached image never goes over it) and writes it back by rename.
    std::string shortFile;
    mapped = mapWhole(&shortFile);
    ASSERT_NE(nullptr, mapped);
    ASSERT_TRUE(manager->SaveAll());
    EXPECT_EQ(image, std::string(mapped, shortFile.size()));
    EXPECT_EQ(image, GetFile(path));
    EXPECT_EQ("new", dict.Payload());
    munmap(const_cast<char*>(mapped), shortFile.size());
}

TEST_F(DictBaseFileTest, ShorterImageSavedOverALongerFileAttachesAfterwards) {
    AttachUser(std::string(200, 'L'));
    const std::string image = MakeStubImage("short");
    ASSERT_TRUE(dict.SaveAndNotify(image.data(), int32_t(image.size())));
    // The re-attach read the new file whole: no stale tail from the old one.
    EXPECT_EQ(image, GetFile(path));
    EXPECT_TRUE(dict.IsReady());
    EXPECT_EQ("short", dict.Payload());
    EXPECT_EQ(int32_t(image.size()), dict.GetEntry()->block.GetDataSize());
}

TEST_F(DictBaseFileTest, SaveAndNotifyOnASystemEntryWritesNothingButReloads) {
    AttachUser("system", kDirSystem);
    const std::string before = GetFile(path);
    const int version = Versions().GetVersion(WideOf(VersionName()).c_str());
    const int loads = dict.Calls(kOpLoad);
    g_writes = 0;
    SetDictWriteFunction(&CountingWrite);
    const std::string image = MakeStubImage("never written");
    EXPECT_TRUE(dict.SaveAndNotify(image.data(), int32_t(image.size())));
    EXPECT_EQ(0, g_writes.load());
    EXPECT_EQ(before, GetFile(path));
    EXPECT_EQ(loads + 1, dict.Calls(kOpLoad));
    EXPECT_EQ(version + 1, Versions().GetVersion(WideOf(VersionName()).c_str()));
    EXPECT_EQ("system", dict.Payload());
    EXPECT_FALSE(dict.WriteFile(image.data(), int32_t(image.size())));
}

// Backups of one second share one name: the later one replaces the earlier,
// and a failed one keeps what was there.
TEST_F(DictBaseFileTest, BackupsOfOneSecondShareANameAndAFailedOneKeepsTheLast) {
    AttachUser("a");
    g_testNow = time(nullptr);
    SetDictClockFunction(&TestClock);
    const std::string name = "words.bin." + StampOf(g_testNow);
    const std::string first = MakeStubImage("first"), second = MakeStubImage("second"),
                      third = MakeStubImage("third");
    ASSERT_TRUE(dict.Backup(first.data(), int32_t(first.size())));
    ASSERT_TRUE(dict.Backup(second.data(), int32_t(second.size())));
    EXPECT_EQ(std::vector<std::string>{name}, NamesIn(BackupDir()));
    EXPECT_EQ(second, GetFile(BackupDir() + "/" + name));
    SetDictWriteFunction(&FailHalfway);
    EXPECT_FALSE(dict.Backup(third.data(), int32_t(third.size())));
    EXPECT_EQ(std::vector<std::string>{name}, NamesIn(BackupDir()));
    EXPECT_EQ(second, GetFile(BackupDir() + "/" + name));
}

TEST_F(DictBaseFileTest, CommitImageNeverOverrunsAHeldBlock) {
    AttachUser("12345678");
    const int32_t held = dict.GetEntry()->block.GetDataSize();
    const std::string longer = MakeStubImage(std::string(100, 'x'));
    EXPECT_FALSE(dict.CommitImage(longer.data(), int32_t(longer.size())));
    EXPECT_EQ(held, dict.GetEntry()->block.GetDataSize());
    const std::string shorter = MakeStubImage("1");
    ASSERT_TRUE(dict.CommitImage(shorter.data(), int32_t(shorter.size())));
    const auto* data = static_cast<const char*>(dict.GetEntry()->block.GetData());
    EXPECT_EQ(shorter, std::string(data, shorter.size()));
    for (int32_t i = int32_t(shorter.size()); i < held; ++i) ASSERT_EQ(0, data[i]);
}

TEST_F(DictTest, PrivateBufferSaveAndNotifyReplacesTheBufferAndReloads) {
    t_stubDict dict;
    const std::string first = MakeStubImage("one");
    ASSERT_TRUE(manager->AttachBuffer(L"TemUsrDict", &dict, first.data(), int32_t(first.size())));
    EXPECT_EQ("one", dict.Payload());
    // The new image may come from the buffer that is replaced.
    t_dictEntry* entry = dict.GetEntry();
    const std::string second = MakeStubImage("two");
    memcpy(entry->buffer.get(), second.data(), second.size());
    ASSERT_TRUE(dict.SaveAndNotify(entry->buffer.get(), int32_t(second.size())));
    EXPECT_TRUE(dict.IsReady());
    EXPECT_EQ("two", dict.Payload());
    EXPECT_TRUE(NamesIn(user).empty());
}
