// The version table and its change sinks, including sinks that change the
// registrations from inside their own calls (run under ASan in CI).
#include "kernel/runtime/version_manager.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/kernel/runtime/runtime_support.h"

namespace {

// A sink that records its calls and runs an optional action inside them.
struct t_probeSink final : t_versionManagerEventSinkBase {
    explicit t_probeSink(std::vector<std::string>* log, std::string tag,
                         std::function<void()> action = nullptr)
        : m_log(log), m_tag(std::move(tag)), m_action(std::move(action)) {}
    bool OnVersion(int v) override {
        m_log->push_back(m_tag + ":" + std::to_string(v));
        if (m_action) m_action();
        return true;
    }
    bool OnName(const wchar_t*) override {
        m_log->push_back(m_tag + ":name");
        return true;
    }
    std::vector<std::string>* m_log;
    std::string m_tag;
    std::function<void()> m_action;
};

class VersionManagerTest : public TempHomeTest {
protected:
    void SetUp() override { ASSERT_TRUE(vm.Init()); }

    // Adds `name` and registers a probe at its index with the current version.
    bool Watch(const wchar_t* name, uint32_t mask, const std::string& tag,
               std::function<void()> action = nullptr) {
        int version = 0;
        const int index = vm.FindOrAdd(name, &version);
        if (index < 0) return false;
        std::unique_ptr<t_versionManagerEventSinkBase> sink(
            new t_probeSink(&log, tag, std::move(action)));
        return vm.RegisterSink(name, mask, index, version, sink);
    }

    t_versionManager vm;
    std::vector<std::string> log;
};

TEST_F(VersionManagerTest, TableHoldsThreeHundredNames) {
    for (int i = 0; i < t_versionManager::kMaxEntries; ++i) {
        const std::wstring name = L"name" + std::to_wstring(i);
        int version = 0;
        ASSERT_EQ(i, vm.FindOrAdd(name.c_str(), &version));
        ASSERT_EQ(1, version);
    }
    EXPECT_EQ(-1, vm.FindOrAdd(L"one too many", nullptr));
    EXPECT_STREQ(kVmErrTableFull, vm.GetLastError());
    EXPECT_EQ(299, vm.FindOrAdd(L"name299", nullptr));  // existing names still found
    std::unique_ptr<t_versionManagerEventSinkBase> sink(new t_probeSink(&log, "x"));
    EXPECT_FALSE(vm.RegisterSink(L"one too many", 2, -1, 1, sink));
    EXPECT_STREQ(kVmErrBadIndex, vm.GetLastError());
    EXPECT_FALSE(vm.RegisterSink(L"one too many", 2, 300, 1, sink));
    EXPECT_NE(nullptr, sink.get());  // still the caller's
}

TEST_F(VersionManagerTest, SinkCalledOncePerIncrease) {
    ASSERT_TRUE(Watch(L"Dict_Event_", 2, "dict"));
    EXPECT_EQ(1, vm.GetVersion(L"Dict_Event_"));
    ASSERT_TRUE(vm.CheckUpdate2());
    EXPECT_TRUE(log.empty());
    ASSERT_TRUE(vm.IncreaseVersion(L"Dict_Event_"));
    EXPECT_EQ(2, vm.GetVersion(L"Dict_Event_"));
    ASSERT_TRUE(vm.CheckUpdate2());
    ASSERT_TRUE(vm.CheckUpdate2());
    EXPECT_EQ(std::vector<std::string>{"dict:2"}, log);
    vm.IncreaseVersion(L"Dict_Event_");
    vm.CheckUpdateAll();
    EXPECT_EQ((std::vector<std::string>{"dict:2", "dict:3"}), log);
}

TEST_F(VersionManagerTest, MaskFiltersSinks) {
    ASSERT_TRUE(Watch(L"Manager_Event", 8, "manager"));
    ASSERT_TRUE(Watch(L"Block_Event", 2, "block"));
    vm.IncreaseVersion(L"Manager_Event");
    vm.IncreaseVersion(L"Block_Event");
    vm.CheckUpdate2();
    EXPECT_EQ(std::vector<std::string>{"block:2"}, log);
    vm.CheckUpdate(1 | 4);
    EXPECT_EQ(std::vector<std::string>{"block:2"}, log);
    vm.CheckUpdate8();
    EXPECT_EQ((std::vector<std::string>{"block:2", "manager:2"}), log);
}

TEST_F(VersionManagerTest, NamesAndUnknownNames) {
    const int count = vm.FindOrAdd(L"first", nullptr);
    EXPECT_TRUE(vm.IncreaseVersion(L"never added"));
    EXPECT_EQ(count + 1, vm.FindOrAdd(L"second", nullptr));  // nothing was added
    EXPECT_EQ(-1, vm.GetVersion(L"never added"));
    EXPECT_EQ(-1, vm.GetVersion(L"FIRST"));  // exact only
    ASSERT_TRUE(Watch(L"Mixed_Case", 2, "m"));
    EXPECT_EQ(1, vm.GetLocalVersion(L"mixed_case"));  // case-insensitive
    EXPECT_EQ(-1, vm.GetLocalVersion(L"other"));
    EXPECT_TRUE(vm.Unregister(L"MIXED_CASE"));  // exact only: nothing removed
    EXPECT_EQ(1, vm.GetLocalVersion(L"Mixed_Case"));
    EXPECT_TRUE(vm.Unregister(L"Mixed_Case"));
    EXPECT_EQ(-1, vm.GetLocalVersion(L"Mixed_Case"));
    EXPECT_FALSE(vm.Unregister(nullptr));
    EXPECT_STREQ(kVmErrNotReadyOrBadName, vm.GetLastError());
}

TEST_F(VersionManagerTest, IndexTakenByAnotherNameIsRefused) {
    ASSERT_TRUE(Watch(L"owner", 2, "owner"));
    std::unique_ptr<t_versionManagerEventSinkBase> sink(new t_probeSink(&log, "intruder"));
    EXPECT_FALSE(vm.RegisterSink(L"intruder", 2, 0, 1, sink));
    EXPECT_STREQ(kVmErrIndexTaken, vm.GetLastError());
    EXPECT_NE(nullptr, sink.get());
    // The same name may register again; the old sink is released.
    EXPECT_TRUE(vm.RegisterSink(L"owner", 2, 0, 1, sink));
    EXPECT_EQ(nullptr, sink.get());
    vm.IncreaseVersion(L"owner");
    vm.CheckUpdate2();
    EXPECT_EQ(std::vector<std::string>{"intruder:2"}, log);
}

// Regression: a sink that unregistered or re-registered inside its own call
// was freed while still running. Here every sink does what a re-attaching
// block does: unregister, register a fresh sink and raise a version.
TEST_F(VersionManagerTest, SinksReRegisterAndRaiseVersionsInsideCheckUpdate) {
    const wchar_t* kName = L"Reload_Event_";
    int rounds = 0;
    std::function<void()> reattach = [&] {
        ++rounds;
        vm.Unregister(kName);  // frees the running sink's record
        int version = 0;
        const int index = vm.FindOrAdd(kName, &version);
        std::unique_ptr<t_versionManagerEventSinkBase> fresh(
            new t_probeSink(&log, "fresh", rounds < 3 ? reattach : nullptr));
        vm.RegisterSink(kName, 2, index, version, fresh);
        vm.IncreaseVersion(L"Other_Event_");
    };
    ASSERT_TRUE(Watch(kName, 2, "first", reattach));
    ASSERT_TRUE(Watch(L"Other_Event_", 2, "other"));
    vm.IncreaseVersion(kName);
    ASSERT_TRUE(vm.CheckUpdate2());
    // "other" was raised during the round; it is seen by the next check.
    EXPECT_EQ(std::vector<std::string>{"first:2"}, log);
    ASSERT_TRUE(vm.CheckUpdate2());
    EXPECT_EQ((std::vector<std::string>{"first:2", "other:2"}), log);
    vm.IncreaseVersion(kName);
    vm.CheckUpdate2();
    vm.IncreaseVersion(kName);
    vm.CheckUpdate2();
    EXPECT_EQ((std::vector<std::string>{"first:2", "other:2", "fresh:3", "fresh:4", "other:3"}),
              log);
    EXPECT_EQ(3, rounds);
}

TEST_F(VersionManagerTest, SinkUnregisteredByAnEarlierSinkIsNotCalled) {
    ASSERT_TRUE(Watch(L"a", 2, "a", [&] { vm.Unregister(L"b"); }));
    ASSERT_TRUE(Watch(L"b", 2, "b"));
    vm.IncreaseVersion(L"a");
    vm.IncreaseVersion(L"b");
    ASSERT_TRUE(vm.CheckUpdate2());
    EXPECT_EQ(std::vector<std::string>{"a:2"}, log);
}

TEST_F(VersionManagerTest, NotifyAllReachesEverySinkObject) {
    ASSERT_TRUE(Watch(L"a", 2, "a"));
    ASSERT_TRUE(Watch(L"b", 8, "b"));
    ASSERT_TRUE(vm.NotifyAll(L"UserDirChanged"));
    EXPECT_EQ((std::vector<std::string>{"a:name", "b:name"}), log);
}

int g_callbackVersion = 0;
bool RecordVersion(int v) {
    g_callbackVersion = v;
    return true;
}

TEST_F(VersionManagerTest, PlainCallbackStartsAtCurrentVersion) {
    vm.FindOrAdd(L"cb", nullptr);
    vm.IncreaseVersion(L"cb");
    ASSERT_TRUE(vm.RegisterCallback(L"cb", 4, &RecordVersion));
    vm.CheckUpdate4();
    EXPECT_EQ(0, g_callbackVersion);  // registered at version 2: nothing new
    vm.IncreaseVersion(L"cb");
    vm.CheckUpdate4();
    EXPECT_EQ(3, g_callbackVersion);
}

TEST(VersionManagerNotReadyTest, EverythingFailsBeforeInit) {
    t_versionManager vm;
    EXPECT_FALSE(vm.IsReady());
    EXPECT_EQ(-1, vm.FindOrAdd(L"x", nullptr));
    EXPECT_STREQ(kVmErrNotReady, vm.GetLastError());
    EXPECT_FALSE(vm.IncreaseVersion(L"x"));
    EXPECT_FALSE(vm.CheckUpdate2());
    EXPECT_FALSE(vm.NotifyAll(L"x"));
    std::vector<std::string> log;
    std::unique_ptr<t_versionManagerEventSinkBase> sink(new t_probeSink(&log, "x"));
    EXPECT_FALSE(vm.RegisterSink(L"x", 2, 0, 1, sink));
    EXPECT_STREQ(kVmErrLockUnusable, vm.GetLastError());
}

}  // namespace
