// The D-Bus object "/vetrapy": a settings tool's user-dictionary operations
// turned into engine calls, and the object's registration on fcitx's dbus
// addon. fcitx main thread, but for the calls, which run on the object's
// own thread (AnswerVetraDBusMessage touches only the message and the
// serialized engine).
#include "src/fcitx/dbus_service.h"

#include <dbus/dbus.h>
// The addon's header uses libdbus's types without including it.
#include <fcitx/module/dbus/fcitx-dbus.h>

#include <fcitx-utils/log.h>

#include <cstdint>
#include <system_error>

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

// How often fcitx's main thread looks for answers while calls run.
constexpr long kAnswerPollMs = 10;

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

// Import, restore and removal change the dictionary; a backup only reads it.
bool ChangesDictionary(DBusMessage* message) {
    const t_method method = MethodOf(message);
    return method == t_method::kImport || method == t_method::kRestore ||
           method == t_method::kRemove;
}

// A method return carrying the boolean and, when `count` is set, the integer.
DBusMessage* Reply(DBusMessage* message, bool ok, const uint32_t* count) {
    DBusMessage* reply = dbus_message_new_method_return(message);
    if (!reply) return nullptr;
    const dbus_bool_t ret = ok ? TRUE : FALSE;
    // A count too large for the integer is sent as its largest value, never
    // as a negative one.
    const int32_t n = count ? (*count > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(*count)) : 0;
    const bool appended =
        count ? dbus_message_append_args(reply, DBUS_TYPE_BOOLEAN, &ret, DBUS_TYPE_INT32, &n,
                                         DBUS_TYPE_INVALID)
              : dbus_message_append_args(reply, DBUS_TYPE_BOOLEAN, &ret, DBUS_TYPE_INVALID);
    if (!appended) {
        dbus_message_unref(reply);
        return nullptr;
    }
    return reply;
}

}  // namespace

const char* VetraDBusIntrospection() {
    return kIntrospection;
}

DBusMessage* AnswerVetraDBusMessage(DBusMessage* message, IVetraCoreEngine& engine,
                                    const uint64_t* mark) {
    if (dbus_message_is_method_call(message, DBUS_INTERFACE_INTROSPECTABLE, "Introspect")) {
        DBusMessage* reply = dbus_message_new_method_return(message);
        if (reply && !dbus_message_append_args(reply, DBUS_TYPE_STRING, &kIntrospection,
                                               DBUS_TYPE_INVALID)) {
            dbus_message_unref(reply);
            reply = nullptr;
        }
        return reply;
    }
    const t_method method = MethodOf(message);
    if (method == t_method::kNone) return nullptr;
    IVetraUsrDictOrder* order = mark ? dynamic_cast<IVetraUsrDictOrder*>(&engine) : nullptr;
    if (method == t_method::kRemove) {
        const bool ok = order ? order->RemoveUsrDictSince(*mark) : engine.RemoveUsrDict();
        FcitxLog(INFO, "FcitxVetraPYDBusEventHandler::UsrDictRemove = %d", int(ok));
        return Reply(message, ok, nullptr);
    }

    const char* name = nullptr;
    if (!dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
        const char* signature = dbus_message_get_signature(message);
        return dbus_message_new_error_printf(message, DBUS_ERROR_UNKNOWN_METHOD,
                                             "No such method with signature (%s)",
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
            ok = named && (order ? order->ImportUsrDictSince(*mark, name, &count)
                                 : engine.ImportUsrDict(name, &count));
            FcitxLog(INFO, "FcitxVetraPYDBusEventHandler::UsrDictImport = %d ,%d", int(ok),
                     int(count));
            return Reply(message, ok, &count);
        case t_method::kRestore:
            ok = named &&
                 (order ? order->RestoreUsrDictSince(*mark, name) : engine.RestoreUsrDict(name));
            return Reply(message, ok, nullptr);
        case t_method::kBackup:
            if (named) {
                // The backup copies the file: what was learned goes to it first.
                engine.SaveDicts();
                engine.SaveUsrDict();
                ok = order ? order->BackupUsrDictSince(*mark, name, &count)
                           : engine.BackupUsrDict(name, &count);
            }
            FcitxLog(INFO, "FcitxVetraPYDBusEventHandler::UsrDictBackup = %d ,%d", int(ok),
                     int(count));
            return Reply(message, ok, &count);
        default:
            return nullptr;
    }
}

DBusMessage* RefuseVetraDBusMessage(DBusMessage* message) {
    const uint32_t none = 0;
    switch (MethodOf(message)) {
        case t_method::kImport:
        case t_method::kBackup:
            return Reply(message, false, &none);
        case t_method::kRestore:
        case t_method::kRemove:
            return Reply(message, false, nullptr);
        default:
            return nullptr;
    }
}

t_vetraDBusCalls::t_vetraDBusCalls(IVetraCoreEngine* engine, std::chrono::milliseconds stuckAfter)
    : m_engine(engine), m_stuckAfter(stuckAfter) {}

t_vetraDBusCalls::~t_vetraDBusCalls() {
    if (!m_stopped) Stop(kStopWait);
    if (m_thread.joinable()) m_thread.detach();
}

bool t_vetraDBusCalls::Stop(std::chrono::milliseconds wait) {
    if (m_stopped) return true;
    m_stopped = true;
    bool ended;
    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        m_shared->stop = true;
        m_shared->wake.notify_all();
        // Every thread that may still use the engine counts: the serving
        // one and those left behind with a call that ran too long.
        ended = m_shared->idle.wait_for(lock, wait, [this] {
            return m_shared->queued.empty() && !m_shared->busy && m_shared->stuck == 0;
        });
        if (!ended) RefuseQueuedLocked();
    }
    if (!ended) {
        // fcitx must end all the same (a logout waits for it); what the
        // call would have written goes through a temporary file, so nothing
        // half-written is left.
        FcitxLog(WARNING, "a user dictionary call is still running: fcitx ends without it");
        m_thread.detach();
        return false;
    }
    if (m_thread.joinable()) m_thread.join();
    return true;
}

bool t_vetraDBusCalls::Queue(DBusConnection* connection, DBusMessage* message) {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    if (m_shared->stop) return false;
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread(&t_vetraDBusCalls::Run, m_shared, m_engine, m_shared->server);
        } catch (const std::system_error&) {
            return false;
        }
    }
    t_call call{connection ? dbus_connection_ref(connection) : nullptr, dbus_message_ref(message),
                nullptr, std::nullopt};
    // Noted now, not when the call runs: a change another process makes
    // while this one waits behind a slow call came from a later call (a
    // backup would copy what that one left).
    if (MethodOf(message) != t_method::kNone)
        if (auto* order = dynamic_cast<IVetraUsrDictOrder*>(m_engine))
            call.mark = order->UsrDictChangeMark();
    m_shared->queued.push_back(call);
    ++m_shared->outstanding;
    m_shared->wake.notify_all();
    return true;
}

void t_vetraDBusCalls::RefuseQueuedLocked() {
    for (t_call& call : m_shared->queued) {
        call.answer = RefuseVetraDBusMessage(call.message);
        m_shared->done.push_back(call);
    }
    m_shared->queued.clear();
}

void t_vetraDBusCalls::PassStuckCall() {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    t_shared& c = *m_shared;
    if (!c.busy || c.queued.empty() || c.stop ||
        std::chrono::steady_clock::now() - c.since < m_stuckAfter)
        return;
    if (c.stuck < kMaxStuck) {
        // The stuck call keeps its thread (it may still end); the queue
        // goes on on a new one.
        try {
            std::thread next(&t_vetraDBusCalls::Run, m_shared, m_engine, c.server + 1);
            FcitxLog(WARNING, "a user dictionary call runs for long: the calls after it go on");
            ++c.server;
            c.busy = false;
            ++c.stuck;
            m_thread.detach();
            m_thread = std::move(next);
            return;
        } catch (const std::system_error&) {
        }
    }
    FcitxLog(WARNING, "user dictionary calls are stuck: the ones queued are answered false");
    RefuseQueuedLocked();
}

void t_vetraDBusCalls::Run(std::shared_ptr<t_shared> shared, IVetraCoreEngine* engine,
                           uint64_t id) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        shared->wake.wait(lock, [&shared] { return shared->stop || !shared->queued.empty(); });
        if (shared->queued.empty()) break;  // stopping with nothing left
        t_call call = shared->queued.front();
        shared->queued.pop_front();
        if (shared->stuck > 0 && ChangesDictionary(call.message)) {
            // A call sent before this one still runs on a thread left
            // behind (a slow restore reads its file before it takes the
            // engine's lock, so it would land last and undo this one).
            // Refused, changes keep the order they were sent in; and since
            // no change runs while an earlier call runs, a call left
            // behind never lands after a later change either.
            FcitxLog(WARNING,
                     "a user dictionary change sent while an earlier call still runs "
                     "is answered false");
            call.answer = RefuseVetraDBusMessage(call.message);
            shared->done.push_back(call);
            continue;
        }
        shared->busy = true;
        shared->since = std::chrono::steady_clock::now();
        lock.unlock();
        call.answer =
            AnswerVetraDBusMessage(call.message, *engine, call.mark ? &*call.mark : nullptr);
        lock.lock();
        shared->done.push_back(call);
        if (shared->server != id) {  // left behind: another thread serves the queue
            --shared->stuck;
            shared->idle.notify_all();
            return;
        }
        shared->busy = false;
        shared->idle.notify_all();
    }
    shared->idle.notify_all();
}

std::vector<t_vetraDBusCalls::t_call> t_vetraDBusCalls::TakeAnswered(bool* outstanding) {
    std::vector<t_call> done;
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    done.swap(m_shared->done);
    m_shared->outstanding -= done.size();
    if (outstanding) *outstanding = m_shared->outstanding > 0;
    return done;
}

bool t_vetraDBusCalls::Outstanding() const {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->outstanding > 0;
}

void t_vetraDBusCalls::Finish(t_call& call) {
    if (call.answer) {
        if (call.connection) {
            dbus_connection_send(call.connection, call.answer, nullptr);
            dbus_connection_flush(call.connection);
        }
        dbus_message_unref(call.answer);
    }
    dbus_message_unref(call.message);
    if (call.connection) dbus_connection_unref(call.connection);
    call = {};
}

t_vetraDBusService::t_vetraDBusService(FcitxInstance* instance, IVetraCoreEngine* engine)
    : m_instance(instance), m_engine(engine), m_calls(engine) {
    DBusConnection* found[2] = {FcitxDBusGetConnection(instance),
                                FcitxDBusGetPrivConnection(instance)};
    if (!found[0] && !found[1]) {
        FcitxLog(ERROR, "DBus Not initialized");
        return;
    }
    static const DBusObjectPathVTable kVTable = {
        nullptr, &t_vetraDBusService::Handle, nullptr, nullptr, nullptr, nullptr};
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
    if (!m_stopped) Stop(kStopWait);
    if (m_polling) FcitxInstanceRemoveTimeoutByFunc(m_instance, &t_vetraDBusService::Poll);
    for (DBusConnection*& connection : m_connections) {
        if (!connection) continue;
        dbus_connection_unregister_object_path(connection, kVetraDBusPath);
        dbus_connection_unref(connection);
        connection = nullptr;
    }
}

bool t_vetraDBusService::Stop(std::chrono::milliseconds wait) {
    if (m_stopped) return true;
    m_stopped = true;
    const bool ended = m_calls.Stop(wait);
    // The calls run, and those refused, get their answers.
    SendAnswers();
    return ended;
}

bool t_vetraDBusService::SendAnswers() {
    bool outstanding = false;
    for (t_vetraDBusCalls::t_call& call : m_calls.TakeAnswered(&outstanding))
        t_vetraDBusCalls::Finish(call);
    return outstanding;
}

void t_vetraDBusService::Poll(void* data) {
    auto* self = static_cast<t_vetraDBusService*>(data);
    self->m_calls.PassStuckCall();
    self->SendAnswers();
    // The flush may have read a client's next messages (a key) into the
    // queue: dispatched here, as fcitx's addon would, or they would wait
    // for other traffic. A call among them is queued as usual.
    for (DBusConnection* connection : self->m_connections)
        if (connection)
            while (dbus_connection_dispatch(connection) == DBUS_DISPATCH_DATA_REMAINS) {
            }
    self->m_polling = self->m_calls.Outstanding();
    if (self->m_polling)
        FcitxInstanceAddTimeout(self->m_instance, kAnswerPollMs, &t_vetraDBusService::Poll, self);
}

DBusHandlerResult t_vetraDBusService::Handle(DBusConnection* connection, DBusMessage* message,
                                             void* data) {
    auto* self = static_cast<t_vetraDBusService*>(data);
    if (MethodOf(message) != t_method::kNone && self->m_instance &&
        self->m_calls.Queue(connection, message)) {
        self->m_calls.PassStuckCall();
        if (!self->m_polling) {
            self->m_polling = true;
            FcitxInstanceAddTimeout(self->m_instance, kAnswerPollMs, &t_vetraDBusService::Poll,
                                    self);
        }
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    DBusMessage* answer = AnswerVetraDBusMessage(message, *self->m_engine);
    if (!answer) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    dbus_connection_send(connection, answer, nullptr);
    dbus_message_unref(answer);
    dbus_connection_flush(connection);
    return DBUS_HANDLER_RESULT_HANDLED;
}

}  // namespace n_fcitx
