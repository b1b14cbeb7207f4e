// The "/vetrapy" object's answers without a bus: messages built by libdbus,
// an engine that records the dictionary operations.
#include "src/fcitx/dbus_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/src/fcitx/fake_engine.h"

namespace {

using n_fcitx::AnswerVetraDBusMessage;
using n_fcitx::t_vetraDBusCalls;
using namespace std::chrono_literals;

class t_dictEngine : public fakes::t_engine {
public:
    bool SaveDicts() override { return Record("SaveDicts"); }
    bool SaveUsrDict() override { return Record("SaveUsrDict"); }
    bool ImportUsrDict(const char* path, uint32_t* n) override {
        *n = count;
        return Record("Import " + std::string(path));
    }
    bool RestoreUsrDict(const char* path) override {
        return Record("Restore " + std::string(path));
    }
    bool BackupUsrDict(const char* path, uint32_t* n) override {
        *n = count;
        return Record("Backup " + std::string(path));
    }
    bool RemoveUsrDict() override { return Record("Remove"); }

    std::vector<std::string> calls;
    bool result = true;
    uint32_t count = 0;

private:
    bool Record(const std::string& call) {
        calls.push_back(call);
        return result;
    }
};

struct t_message {
    DBusMessage* m;
    explicit t_message(DBusMessage* message) : m(message) {}
    ~t_message() {
        if (m) dbus_message_unref(m);
    }
};

// A call as a client sends it (with a serial, so a reply can refer to it);
// `arg` "s:TEXT" or "i:N" is its one argument.
DBusMessage* Call(const char* iface, const char* method, const char* arg) {
    DBusMessage* m =
        dbus_message_new_method_call("org.fcitx.Fcitx-0", n_fcitx::kVetraDBusPath, iface, method);
    const char* text = arg + 2;
    const int32_t n = 3;
    if (arg[0] == 's') dbus_message_append_args(m, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
    if (arg[0] == 'i') dbus_message_append_args(m, DBUS_TYPE_INT32, &n, DBUS_TYPE_INVALID);
    dbus_message_set_serial(m, 7);
    return m;
}

// The answer as text: "none", "true 3", "false", or "ERROR <name> <text>".
std::string Describe(DBusMessage* reply) {
    if (!reply) return "none";
    if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR) {
        const char* text = "";
        dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
        return std::string("ERROR ") + dbus_message_get_error_name(reply) + " " + text;
    }
    EXPECT_EQ(dbus_message_get_reply_serial(reply), 7u);
    dbus_bool_t ok = FALSE;
    int32_t n = 0;
    if (dbus_message_get_args(reply, nullptr, DBUS_TYPE_BOOLEAN, &ok, DBUS_TYPE_INT32, &n,
                              DBUS_TYPE_INVALID))
        return std::string(ok ? "true " : "false ") + std::to_string(n);
    if (dbus_message_get_args(reply, nullptr, DBUS_TYPE_BOOLEAN, &ok, DBUS_TYPE_INVALID))
        return ok ? "true" : "false";
    return "?";
}

constexpr const char* kIface = "org.fcitx.Fcitx.VetraPY";
constexpr const char* kUnknown =
    "ERROR org.freedesktop.DBus.Error.UnknownMethod No such method with signature ";

// Each message's engine calls, in order, and the answer they make.
TEST(VetraDBusService, AnswersCallTheEngineInOrder) {
    struct {
        const char* iface;
        const char* method;
        const char* arg;
        bool engineResult;
        uint32_t count;
        std::vector<std::string> calls;
        std::string answer;
    } cases[] = {
        {kIface, "UsrDictImport", "s:/d/words.txt", true, 42, {"Import /d/words.txt"}, "true 42"},
        // A count beyond the integer is its largest value, never negative.
        {kIface,
         "UsrDictImport",
         "s:/d/huge",
         true,
         0x80000000u,
         {"Import /d/huge"},
         "true 2147483647"},
        {kIface, "UsrDictRestore", "s:/d/b.bin", false, 0, {"Restore /d/b.bin"}, "false"},
        {kIface,
         "UsrDictBackup",
         "s:/d/b.bin",
         true,
         1,
         {"SaveDicts", "SaveUsrDict", "Backup /d/b.bin"},
         "true 1"},
        {kIface, "UsrDictRemove", "-", false, 0, {"Remove"}, "false"},
        // An empty file name is refused before the engine sees it.
        {kIface, "UsrDictImport", "s:", true, 5, {}, "false 0"},
        {kIface, "UsrDictRestore", "s:", true, 0, {}, "false"},
        {kIface, "UsrDictBackup", "s:", true, 1, {}, "false 0"},
        // So is a relative one: it would land in fcitx's working directory.
        {kIface, "UsrDictBackup", "s:b.bin", true, 1, {}, "false 0"},
        {kIface, "UsrDictBackup", "s:../x/b.bin", true, 1, {}, "false 0"},
        {kIface, "UsrDictImport", "s:words.txt", true, 5, {}, "false 0"},
        // Without the file name, or with another type, it is no method of the
        // object: the error names the signature sent.
        {kIface, "UsrDictImport", "-", true, 0, {}, std::string(kUnknown) + "()"},
        {kIface, "UsrDictRestore", "i:3", true, 0, {}, std::string(kUnknown) + "(i)"},
        {kIface, "UsrDictBackup", "-", true, 0, {}, std::string(kUnknown) + "()"},
        // Other messages are left to other handlers.
        {kIface, "UsrDictFrobnicate", "-", true, 0, {}, "none"},
        {"org.fcitx.Fcitx.Other", "UsrDictRemove", "-", true, 0, {}, "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.arg);
        t_dictEngine engine;
        engine.result = c.engineResult;
        engine.count = c.count;
        t_message call(Call(c.iface, c.method, c.arg));
        t_message answer(AnswerVetraDBusMessage(call.m, engine));
        EXPECT_EQ(Describe(answer.m), c.answer);
        EXPECT_EQ(engine.calls, c.calls);
    }
}

// The answer a call gets when it cannot run (calls stuck before it): the
// method's failure, without the engine.
TEST(VetraDBusService, RefusedCallsAnswerTheirFailure) {
    const struct {
        const char* method;
        const char* arg;
        const char* answer;
    } cases[] = {
        {"UsrDictImport", "s:/d/words.txt", "false 0"},
        {"UsrDictBackup", "s:/d/b.bin", "false 0"},
        {"UsrDictRestore", "s:/d/b.bin", "false"},
        {"UsrDictRemove", "-", "false"},
        {"UsrDictFrobnicate", "-", "none"},
    };
    for (const auto& c : cases) {
        t_message call(Call(kIface, c.method, c.arg));
        t_message answer(n_fcitx::RefuseVetraDBusMessage(call.m));
        EXPECT_EQ(Describe(answer.m), c.answer) << c.method;
    }
}

// An engine whose calls on a file under "/held" wait until the test lets
// them go, as on a file system that stopped answering; each call is
// recorded when it is done.
class t_heldEngine : public fakes::t_engine {
public:
    bool SaveDicts() override { return Record("SaveDicts", ""); }
    bool SaveUsrDict() override { return Record("SaveUsrDict", ""); }
    bool ImportUsrDict(const char* path, uint32_t* n) override {
        *n = 2;
        return Record("Import ", path);
    }
    bool RestoreUsrDict(const char* path) override { return Record("Restore ", path); }
    bool BackupUsrDict(const char* path, uint32_t* n) override {
        *n = 1;
        return Record("Backup ", path);
    }
    bool RemoveUsrDict() override { return Record("Remove", ""); }

    void WaitHeld() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_held > 0; });
    }
    void LetGo() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_letGo = true;
        m_changed.notify_all();
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

protected:
    bool Record(const std::string& what, const std::string& path) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (path.rfind("/held/", 0) == 0) {
            ++m_held;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_letGo; });
        }
        m_calls.push_back(what + path);
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_held = 0;
    bool m_letGo = false;
    std::vector<std::string> m_calls;
};

// The next `n` answers, as "<method> <answer>", in the order they came;
// fewer when they do not come within 5 s.
std::vector<std::string> Await(t_vetraDBusCalls& calls, size_t n) {
    std::vector<std::string> got;
    for (auto until = std::chrono::steady_clock::now() + 5s;
         got.size() < n && std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(2ms))
        for (t_vetraDBusCalls::t_call& call : calls.TakeAnswered(nullptr)) {
            got.push_back(std::string(dbus_message_get_member(call.message)) + " " +
                          Describe(call.answer));
            t_vetraDBusCalls::Finish(call);
        }
    return got;
}

struct t_sent {
    const char* method;
    const char* arg;
};

void Send(t_vetraDBusCalls& calls, const t_sent& sent) {
    t_message call(Call(kIface, sent.method, sent.arg));
    ASSERT_TRUE(calls.Queue(nullptr, call.m));
}

// The held call runs past the stuck time with the later one queued behind.
void HoldThenSend(t_vetraDBusCalls& calls, t_heldEngine& engine, const t_sent& held,
                  const t_sent& later) {
    Send(calls, held);
    engine.WaitHeld();
    Send(calls, later);
    std::this_thread::sleep_for(30ms);
    calls.PassStuckCall();
}

constexpr auto kStuckAfter = 20ms;

// Calls that change the dictionary are carried out in the order sent or not
// at all: one that would overtake a call still running is answered false at
// once, and the slow one lands alone (a later import, restore or removal
// used to run, answer true, and be undone or lost when the slow one
// landed). A backup changes nothing and may pass. Once the slow call ended,
// changes run again.
TEST(VetraDBusCalls, ChangesNeverOvertakeACallStillRunning) {
    const t_sent restore{"UsrDictRestore", "s:/held/b.bin"}, import{"UsrDictImport", "s:/held/w"},
        backup{"UsrDictBackup", "s:/held/b.bin"}, remove{"UsrDictRemove", "-"};
    const struct {
        t_sent held, later;
        std::string answer;
        std::vector<std::string> calls;
    } cases[] = {
        {restore, {"UsrDictImport", "s:/d/w"}, "UsrDictImport false 0", {"Restore /held/b.bin"}},
        {restore, remove, "UsrDictRemove false", {"Restore /held/b.bin"}},
        {import, remove, "UsrDictRemove false", {"Import /held/w"}},
        {import, {"UsrDictRestore", "s:/d/b.bin"}, "UsrDictRestore false", {"Import /held/w"}},
        {backup, remove, "UsrDictRemove false", {"SaveDicts", "SaveUsrDict", "Backup /held/b.bin"}},
        {restore,
         {"UsrDictBackup", "s:/d/b.bin"},
         "UsrDictBackup true 1",
         {"SaveDicts", "SaveUsrDict", "Backup /d/b.bin", "Restore /held/b.bin"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.held.method) + " then " + c.later.method);
        t_heldEngine engine;
        t_vetraDBusCalls calls(&engine, kStuckAfter);
        HoldThenSend(calls, engine, c.held, c.later);
        EXPECT_EQ(Await(calls, 1), std::vector<std::string>{c.answer});
        engine.LetGo();
        EXPECT_EQ(Await(calls, 1).size(), 1u);
        EXPECT_EQ(engine.Calls(), c.calls);
        Send(calls, remove);
        EXPECT_EQ(Await(calls, 1), std::vector<std::string>{"UsrDictRemove true"});
        EXPECT_TRUE(calls.Stop(1s));
    }
}

// The held engine keeping the order across processes: `others` stands for
// the changes other processes made; a change whose mark they moved is
// refused, as the kernel does.
class t_orderedEngine : public t_heldEngine, public IVetraUsrDictOrder {
public:
    uint64_t UsrDictChangeMark() override { return others; }
    bool ImportUsrDictSince(uint64_t mark, const char* path, uint32_t* n) override {
        return mark == others ? ImportUsrDict(path, n) : Refused("Import ", path);
    }
    bool RestoreUsrDictSince(uint64_t mark, const char* path) override {
        return mark == others ? RestoreUsrDict(path) : Refused("Restore ", path);
    }
    bool RemoveUsrDictSince(uint64_t mark) override {
        return mark == others ? RemoveUsrDict() : Refused("Remove", "");
    }
    bool BackupUsrDictSince(uint64_t mark, const char* path, uint32_t* status) override {
        return mark == others ? BackupUsrDict(path, status) : Refused("Backup ", path);
    }

    std::atomic<uint64_t> others{0};

private:
    bool Refused(const std::string& what, const std::string& path) {
        Record("refused " + what, path);
        return false;
    }
};

// A change notes the mark when it arrives, not when it runs: another
// process's change while it waits behind a slow call came from a later
// call, and the change is refused with nothing done (taken when it ran, the
// mark let it land after that later change, undoing it).
TEST(VetraDBusCalls, ChangesWaitingBehindASlowCallKeepTheirArrivalMark) {
    const struct {
        t_sent later;
        std::string answer, call;
    } cases[] = {
        {{"UsrDictImport", "s:/d/w"}, "UsrDictImport false 0", "refused Import /d/w"},
        {{"UsrDictRestore", "s:/d/b.bin"}, "UsrDictRestore false", "refused Restore /d/b.bin"},
        {{"UsrDictRemove", "-"}, "UsrDictRemove false", "refused Remove"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.later.method);
        t_orderedEngine engine;
        t_vetraDBusCalls calls(&engine);
        Send(calls, {"UsrDictBackup", "s:/held/b.bin"});
        engine.WaitHeld();
        Send(calls, c.later);
        ++engine.others;
        engine.LetGo();
        EXPECT_EQ(Await(calls, 2), (std::vector<std::string>{"UsrDictBackup true 1", c.answer}));
        EXPECT_EQ(engine.Calls().back(), c.call);
        EXPECT_TRUE(calls.Stop(1s));
    }
}

// fcitx's end waits for every call still using the engine, one that a later
// call passed too; when one does not end in time Stop says so, and the
// engine must stay (it used to report all ended and the engine was freed
// under the running call).
TEST(VetraDBusCalls, StopWaitsForCallsLeftBehind) {
    for (const bool endsInTime : {true, false}) {
        SCOPED_TRACE(endsInTime ? "ends in time" : "still held");
        t_heldEngine engine;
        t_vetraDBusCalls calls(&engine, kStuckAfter);
        HoldThenSend(calls, engine, {"UsrDictImport", "s:/held/w"},
                     {"UsrDictBackup", "s:/d/b.bin"});
        ASSERT_EQ(Await(calls, 1), std::vector<std::string>{"UsrDictBackup true 1"});
        std::thread letGo;
        if (endsInTime)
            letGo = std::thread([&engine] {
                std::this_thread::sleep_for(50ms);
                engine.LetGo();
            });
        const bool ended = calls.Stop(endsInTime ? 3s : 100ms);
        const std::vector<std::string> done = engine.Calls();
        EXPECT_EQ(ended, endsInTime);
        EXPECT_EQ(done.back() == "Import /held/w", endsInTime);
        if (!endsInTime) engine.LetGo();
        // The engine goes only once the held call is answered.
        EXPECT_EQ(Await(calls, 1), std::vector<std::string>{"UsrDictImport true 2"});
        if (letGo.joinable()) letGo.join();
    }
}

}  // namespace
