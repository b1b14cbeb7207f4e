// Test support for the dictionary base and manager: a stand-in dictionary
// that accepts small test images and counts its eight operations, temporary
// user / system / kind-4 directories under a private HOME, and the kernel's
// 31-entry registry. One test thread; the counters may be bumped by loaders.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/version_manager.h"
#include "tests/support/dict_env.h"

// The operations of a dictionary, in slot order.
enum t_stubOp : int {
    kOpLoad,
    kOpSave,
    kOpOnFlush,
    kOpImport,
    kOpExport,
    kOpLoadFromFile,
    kOpOnFileWritten,
    kOpGetReservedSize,
    kOpCount
};

// A test image: "VTST", the payload length (u32, little-endian), the
// payload. Anything else, or any byte more or less, is refused.
std::string MakeStubImage(const std::string& payload);
bool ParseStubImage(const void* data, size_t size, std::string* payload);

class t_stubDict : public t_dictStorageBase {
public:
    t_stubDict();

    bool Load(void* data, int32_t size) override;
    bool Save(const void* data, int32_t size) override;
    bool OnFlush(void* data, int32_t size) override;
    bool Import(const void* data, int32_t size) override;
    bool Export(const void* data, int32_t size) override;
    bool LoadFromFile(const wchar_t* path) override;
    bool OnFileWritten(const wchar_t* path) override;
    uint32_t GetReservedSize(const void* data, int32_t size) override;

    int Calls(t_stubOp op) const { return m_calls[op].load(); }
    // The payload of the image last accepted by Load.
    std::string Payload() const;

    // Load refuses every image / images with this payload.
    bool refuseAll = false;
    std::string refusedPayload = "CORRUPT";
    // Room GetReservedSize asks for.
    uint32_t reserved = 0;
    // Payload of the image Save builds when there is no file.
    std::string defaultPayload = "default";

private:
    int32_t ImageSize(int32_t size) const;  // without the reserved room
    std::atomic<int> m_calls[kOpCount];
    mutable std::mutex m_mutex;
    std::string m_payload;  // guarded by m_mutex
};

// Fixture: a private HOME, empty user, system and kind-4 directories set as
// the kernel's directories, an initialised version manager and a fresh,
// initialised manager. Write and clock hooks are reset after each test.
class DictTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static std::string Join(const std::string& dir, const std::string& name) {
        return dir + "/" + name;
    }
    std::string UserFile(const std::string& name) const { return Join(user, name); }
    std::string SysFile(const std::string& name) const { return Join(sys, name); }
    std::string BackupDir() const { return Join(user, "Backup"); }
    // Registers dict with the manager (load policy 0, no backups, mask 2
    // unless given).
    bool Reg(const wchar_t* name, t_stubDict& dict, uint32_t storage, uint32_t dir,
             const wchar_t* file, uint32_t backup = 0, uint32_t mask = 2, uint32_t policy = 0) {
        return manager->Register(name, &dict, policy, storage, dir, file, backup, mask);
    }

    std::string root;  // the per-process temporary tree
    std::string user;
    std::string sys;
    std::string dict4;
    testsupport::t_dictManagerEnv env;
    std::unique_ptr<t_dictManager>& manager = env.manager;
};

std::wstring WideOf(const std::string& s);
bool PutFile(const std::string& path, const std::string& content);
// Empty when missing.
std::string GetFile(const std::string& path);
bool Exists(const std::string& path);
// Names in a directory (not "." / ".."), sorted; empty when missing.
std::vector<std::string> NamesIn(const std::string& dir);
// "YYYYMMDDhhmmss" of a local time.
std::string StampOf(time_t when);

// A clock that tests move by hand.
extern std::atomic<time_t> g_testNow;
time_t TestClock();

// Write hooks: one that finds the disk full, and one that writes and counts
// its calls in g_writes.
bool FailWithNoSpace(int fd, const void* data, size_t size);
extern std::atomic<int> g_writes;
bool CountingWrite(int fd, const void* data, size_t size);
// The process's version manager.
t_versionManager& Versions();

// One registration of the kernel's registry. policy: 'P' the load
// argument, 'T' 2 when it is non-zero else 0, '0' always 0.
struct t_registryRow {
    const wchar_t* name;
    const wchar_t* file;  // null: none
    char policy;
    uint32_t storage;
    uint32_t dir;
    uint32_t backupFlags;
    uint32_t mask;
};
extern const t_registryRow kKernelRegistry[31];
uint32_t RegistryPolicy(const t_registryRow& row, int loadArgument);
