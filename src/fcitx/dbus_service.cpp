// The D-Bus object "/vetrapy": a settings tool's user-dictionary operations
// turned into engine calls, and the object's registration on fcitx's dbus
// addon. fcitx main thread only.
#include "src/fcitx/dbus_service.h"

#include <dbus/dbus.h>
// The addon's header uses libdbus's types without including it.
#include <fcitx/module/dbus/fcitx-dbus.h>

#include <fcitx-utils/log.h>

#include <cstdint>

namespace n_fcitx {
namespace {

constexpr const char* kIntrospection =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
    "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
    "<node name=\"/vetrapy\">\n"
    "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "    <method name=\"Introspect\">\n"
    "      <arg name=\"data\" direction=\"out\" type=\"s\"/>\n"
    "    </method>\n"
    "  </interface>\n"
    "  <interface name=\"org.fcitx.Fcitx.VetraPY\">\n"
    "    <method name=\"UsrDictImport\">\n"
    "      <arg name=\"szFilename\" direction=\"in\" type=\"s\"/>\n"
    "      <arg name=\"ret\" direction=\"out\" type=\"b\"/>\n"
    "      <arg name=\"importedWord\" direction=\"out\" type=\"i\"/>\n"
    "    </method>\n"
    "    <method name=\"UsrDictRestore\">\n"
    "      <arg name=\"szFilename\" direction=\"in\" type=\"s\"/>\n"
    "      <arg name=\"ret\" direction=\"out\" type=\"b\"/>\n"
    "    </method>\n"
    "    <method name=\"UsrDictBackup\">\n"
    "      <arg name=\"szFilename\" direction=\"in\" type=\"s\"/>\n"
    "      <arg name=\"ret\" direction=\"out\" type=\"b\"/>\n"
    "      <arg name=\"result\" direction=\"out\" type=\"i\"/>\n"
    "    </method>\n"
    "    <method name=\"UsrDictRemove\">\n"
    "      <arg name=\"ret\" direction=\"out\" type=\"b\"/>\n"
    "    </method>\n"
    "  </interface>\n"
    "</node>\n";

enum class t_method { kNone, kImport, kRestore, kBackup, kRemove };

t_method MethodOf(DBusMessage* message) {
    static constexpr struct {
        const char* name;
        t_method method;
    } kMethods[] = {{"UsrDictImport", t_method::kImport},
                    {"UsrDictRestore", t_method::kRestore},
                    {"UsrDictBackup", t_method::kBackup},
                    {"UsrDictRemove", t_method::kRemove}};
    for (const auto& m : kMethods)
        if (dbus_message_is_method_call(message, kVetraDBusInterface, m.name)) return m.method;
    return t_method::kNone;
}

// A method return carrying the boolean and, when `count` is set, the integer.
DBusMessage* Reply(DBusMessage* message, bool ok, const uint32_t* count) {
    DBusMessage* reply = dbus_message_new_method_return(message);
    if (!reply) return nullptr;
    const dbus_bool_t ret = ok ? TRUE : FALSE;
    // A count too large for the integer is sent as its largest value, never
    // as a negative one.
    const int32_t n = count ? (*count > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(*count)) : 0;
    const bool appended = count ? dbus_message_append_args(reply, DBUS_TYPE_BOOLEAN, &ret, DBUS_TYPE_INT32, &n,
                                                           DBUS_TYPE_INVALID)
                                : dbus_message_append_args(reply, DBUS_TYPE_BOOLEAN, &ret, DBUS_TYPE_INVALID);
    if (!appended) {
        dbus_message_unref(reply);
        return nullptr;
    }
    return reply;
}

}  // namespace

const char* VetraDBusIntrospection() { return kIntrospection; }

DBusMessage* AnswerVetraDBusMessage(DBusMessage* message, IVetraCoreEngine& engine) {
    if (dbus_message_is_method_call(message, DBUS_INTERFACE_INTROSPECTABLE, "Introspect")) {
        DBusMessage* reply = dbus_message_new_method_return(message);
        if (reply && !dbus_message_append_args(reply, DBUS_TYPE_STRING, &kIntrospection, DBUS_TYPE_INVALID)) {
            dbus_message_unref(reply);
            reply = nullptr;
        }
        return reply;
    }
    const t_method method = MethodOf(message);
    if (method == t_method::kNone) return nullptr;
    if (method == t_method::kRemove) {
        const bool ok = engine.RemoveUsrDict();
        FcitxLog(INFO, "FcitxVetraPYDBusEventHandler::UsrDictRemove = %d", int(ok));
        return Reply(message, ok, nullptr);
    }

    const char* name = nullptr;
    if (!dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
        const char* signature = dbus_message_get_signature(message);
        return dbus_message_new_error_printf(message, DBUS_ERROR_UNKNOWN_METHOD, "No such method with signature (%s)",
                                             signature ? signature : "");
    }
    // Any client of the session bus may call: an empty or relative name is
    // refused here (it would resolve against fcitx's working directory,
    // which no settings tool means), one too long for the kernel by the
    // engine (never cut to fit).
    const bool named = name && name[0] == '/';
    uint32_t count = 0;
    bool ok = false;
    switch (method) {
    case t_method::kImport:
        ok = named && engine.ImportUsrDict(name, &count);
        FcitxLog(INFO, "FcitxVetraPYDBusEventHandler::UsrDictImport = %d ,%d", int(ok), int(count));
        return Reply(message, ok, &count);
    case t_method::kRestore:
        ok = named && engine.RestoreUsrDict(name);
        return Reply(message, ok, nullptr);
    case t_method::kBackup:
        if (named) {
            // The backup copies the file: what was learned goes to it first.
            engine.SaveDicts();
            engine.SaveUsrDict();
            ok = engine.BackupUsrDict(name, &count);
        }
        FcitxLog(INFO, "FcitxVetraPYDBusEventHandler::UsrDictBackup = %d ,%d", int(ok), int(count));
        return Reply(message, ok, &count);
    default:
        return nullptr;
    }
}

t_vetraDBusService::t_vetraDBusService(FcitxInstance* instance, IVetraCoreEngine* engine) : m_engine(engine) {
    DBusConnection* found[2] = {FcitxDBusGetConnection(instance), FcitxDBusGetPrivConnection(instance)};
    if (!found[0] && !found[1]) {
        FcitxLog(ERROR, "DBus Not initialized");
        return;
    }
    static const DBusObjectPathVTable kVTable = {nullptr, &t_vetraDBusService::Handle, nullptr,
                                                 nullptr, nullptr,                     nullptr};
    for (int i = 0; i < 2; ++i) {
        DBusConnection* connection = found[i];
        if (!connection || (i == 1 && connection == found[0])) continue;
        if (!dbus_connection_register_object_path(connection, kVetraDBusPath, &kVTable, this)) {
            FcitxLog(ERROR, "cannot register %s on a D-Bus connection", kVetraDBusPath);
            continue;
        }
        m_connections[i] = dbus_connection_ref(connection);
    }
}

t_vetraDBusService::~t_vetraDBusService() {
    for (DBusConnection*& connection : m_connections) {
        if (!connection) continue;
        dbus_connection_unregister_object_path(connection, kVetraDBusPath);
        dbus_connection_unref(connection);
        connection = nullptr;
    }
}

DBusHandlerResult t_vetraDBusService::Handle(DBusConnection* connection, DBusMessage* message, void* data) {
    auto* self = static_cast<t_vetraDBusService*>(data);
    DBusMessage* answer = AnswerVetraDBusMessage(message, *self->m_engine);
    if (!answer) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    dbus_connection_send(connection, answer, nullptr);
    dbus_message_unref(answer);
    dbus_connection_flush(connection);
    return DBUS_HANDLER_RESULT_HANDLED;
}

}  // namespace n_fcitx
