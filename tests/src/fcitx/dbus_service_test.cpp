// The "/vetrapy" object's answers without a bus: messages built by libdbus,
// an engine that records the dictionary operations.
#include "src/fcitx/dbus_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/src/fcitx/fake_engine.h"

namespace {

using n_fcitx::AnswerVetraDBusMessage;

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

}  // namespace
