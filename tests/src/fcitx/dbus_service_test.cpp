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
    bool RestoreUsrDict(const char* path) override { return Record("Restore " + std::string(path)); }
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

// A call as a client sends it: with a serial, so a reply can refer to it.
DBusMessage* Call(const char* iface, const char* method, const char* arg = nullptr) {
    DBusMessage* m = dbus_message_new_method_call("org.fcitx.Fcitx-0", n_fcitx::kVetraDBusPath, iface, method);
    if (arg) dbus_message_append_args(m, DBUS_TYPE_STRING, &arg, DBUS_TYPE_INVALID);
    dbus_message_set_serial(m, 7);
    return m;
}

// The reply's arguments as text: "true 3", "false", or "ERROR <name> <text>".
std::string Describe(DBusMessage* reply) {
    if (!reply) return "none";
    if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR) {
        const char* text = "";
        dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
        return std::string("ERROR ") + dbus_message_get_error_name(reply) + " " + text;
    }
    EXPECT_EQ(dbus_message_get_reply_serial(reply), 7u);
    std::string out;
    DBusMessageIter it;
    if (!dbus_message_iter_init(reply, &it)) return out;
    do {
        if (!out.empty()) out += ' ';
        if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_BOOLEAN) {
            dbus_bool_t b = FALSE;
            dbus_message_iter_get_basic(&it, &b);
            out += b ? "true" : "false";
        } else if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_INT32) {
            int32_t n = 0;
            dbus_message_iter_get_basic(&it, &n);
            out += std::to_string(n);
        } else {
            out += "?";
        }
    } while (dbus_message_iter_next(&it));
    return out;
}

constexpr const char* kIface = "org.fcitx.Fcitx.VetraPY";

// Each method's engine calls, in order, and the reply they make.
TEST(VetraDBusService, MethodsCallTheEngineAndReplyItsResult) {
    struct {
        const char* method;
        const char* arg;
        bool engineResult;
        uint32_t count;
        std::vector<std::string> calls;
        const char* reply;
    } cases[] = {
        {"UsrDictImport", "/d/words.txt", true, 42, {"Import /d/words.txt"}, "true 42"},
        {"UsrDictImport", "/d/bad.txt", false, 0, {"Import /d/bad.txt"}, "false 0"},
        // A count beyond the integer is its largest value, never negative.
        {"UsrDictImport", "/d/huge", true, 0x80000000u, {"Import /d/huge"}, "true 2147483647"},
        {"UsrDictRestore", "/d/b.bin", true, 0, {"Restore /d/b.bin"}, "true"},
        {"UsrDictRestore", "/d/b.bin", false, 0, {"Restore /d/b.bin"}, "false"},
        {"UsrDictBackup", "/d/b.bin", true, 1, {"SaveDicts", "SaveUsrDict", "Backup /d/b.bin"}, "true 1"},
        {"UsrDictRemove", nullptr, true, 0, {"Remove"}, "true"},
        {"UsrDictRemove", nullptr, false, 0, {"Remove"}, "false"},
        // An empty file name is refused before the engine sees it.
        {"UsrDictImport", "", true, 5, {}, "false 0"},
        {"UsrDictRestore", "", true, 0, {}, "false"},
        {"UsrDictBackup", "", true, 1, {}, "false 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + (c.arg ? c.arg : "-"));
        t_dictEngine engine;
        engine.result = c.engineResult;
        engine.count = c.count;
        t_message call(Call(kIface, c.method, c.arg));
        t_message reply(AnswerVetraDBusMessage(call.m, engine));
        EXPECT_EQ(Describe(reply.m), c.reply);
        EXPECT_EQ(engine.calls, c.calls);
    }
}

// A method missing its file name, or given another type, is no method of the
// object: the UnknownMethod error names the signature sent; nothing runs.
TEST(VetraDBusService, WrongSignatureAnswersUnknownMethod) {
    for (const char* method : {"UsrDictImport", "UsrDictRestore", "UsrDictBackup"}) {
        SCOPED_TRACE(method);
        t_dictEngine engine;
        t_message bare(Call(kIface, method));
        t_message bareReply(AnswerVetraDBusMessage(bare.m, engine));
        EXPECT_EQ(Describe(bareReply.m),
                  "ERROR org.freedesktop.DBus.Error.UnknownMethod No such method with signature ()");

        t_message typed(Call(kIface, method));
        const int32_t n = 3;
        dbus_message_append_args(typed.m, DBUS_TYPE_INT32, &n, DBUS_TYPE_INVALID);
        t_message typedReply(AnswerVetraDBusMessage(typed.m, engine));
        EXPECT_EQ(Describe(typedReply.m),
                  "ERROR org.freedesktop.DBus.Error.UnknownMethod No such method with signature (i)");
        EXPECT_TRUE(engine.calls.empty());
    }
}

// Messages that are not the object's methods are left to other handlers.
TEST(VetraDBusService, OtherMessagesAreLeftUnanswered) {
    t_dictEngine engine;
    const struct {
        const char* iface;
        const char* method;
    } cases[] = {{kIface, "UsrDictFrobnicate"},
                 {"org.fcitx.Fcitx.Other", "UsrDictRemove"},
                 {DBUS_INTERFACE_PROPERTIES, "GetAll"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        t_message call(Call(c.iface, c.method));
        EXPECT_EQ(AnswerVetraDBusMessage(call.m, engine), nullptr);
    }
    t_message signal(dbus_message_new_signal(n_fcitx::kVetraDBusPath, kIface, "UsrDictRemove"));
    EXPECT_EQ(AnswerVetraDBusMessage(signal.m, engine), nullptr);
    EXPECT_TRUE(engine.calls.empty());
}

}  // namespace
