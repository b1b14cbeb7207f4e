// The panel link: show, hide and watchdog notices over a session connection
// of its own, and the watchdog's detached launch. Main thread only.
#include "src/fcitx/panel_link.h"

#include <dbus/dbus.h>
#include <errno.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcitx-utils/log.h>
#include <fcitx-utils/utils.h>

#include "kernel/runtime/path.h"

extern char** environ;

namespace n_fcitx {
namespace {

constexpr const char* kPanelInterface = "com.fcitx_imepanel.hotel";
constexpr const char* kWatchdogInterface = "com.fcitx_imepanel_watchdog.hotel";
constexpr size_t kBusNameBytes = 64;

bool FormatName(const char* format, int display, char* out, size_t size) {
    const int n = snprintf(out, size, format, display);
    return n >= 0 && static_cast<size_t>(n) < size;
}

// A new reference to the panel link's own session connection, or null
// (logged). Not the shared one: fcitx's D-Bus addon serves that, and a
// blocking owner query on it would read a client's next message (a key)
// into its queue where nothing dispatches it, so the key would go
// unanswered until other traffic came. Made once; again after a disconnect.
DBusConnection* SessionBus() {
    static DBusConnection* own = nullptr;
    if (own && !dbus_connection_get_is_connected(own)) {
        dbus_connection_close(own);
        dbus_connection_unref(own);
        own = nullptr;
    }
    if (!own) {
        DBusError err;
        dbus_error_init(&err);
        own = dbus_bus_get_private(DBUS_BUS_SESSION, &err);
        if (!own) {
            FcitxLog(WARNING, "dbus_bus_get Error (%s)",
                     err.message ? err.message : "no session bus");
            dbus_error_free(&err);
            return nullptr;
        }
        dbus_connection_set_exit_on_disconnect(own, FALSE);
    }
    return dbus_connection_ref(own);
}

enum class Owner { kNone, kOwned, kUnknown };

Owner QueryOwner(DBusConnection* conn, const char* name) {
    DBusError err;
    dbus_error_init(&err);
    const bool owned = dbus_bus_name_has_owner(conn, name, &err);
    if (dbus_error_is_set(&err)) {
        FcitxLog(WARNING, "dbus_bus_name_has_owner Error (%s)", err.message);
        dbus_error_free(&err);
        return Owner::kUnknown;
    }
    return owned ? Owner::kOwned : Owner::kNone;
}

// One method call without arguments to the name `busName` makes for
// display 0 and the rest, no reply wanted: a hung program never holds
// fcitx's main thread. Sent when the name has an owner, or also when the
// owner query fails if `unknownSends`; true when queued and flushed.
bool SendNoReply(bool (*busName)(int, char*, size_t), const char* interface, const char* method,
                 bool unknownSends, const char* failureLog) {
    DBusConnection* conn = SessionBus();
    if (!conn) return false;
    char name[kBusNameBytes];
    bool sent = false;
    const Owner owner = busName(fcitx_utils_get_display_number(), name, sizeof name)
                            ? QueryOwner(conn, name)
                            : Owner::kNone;
    if (owner == Owner::kOwned || (owner == Owner::kUnknown && unknownSends)) {
        DBusMessage* msg = dbus_message_new_method_call(name, "/", interface, method);
        if (msg) {
            dbus_message_set_no_reply(msg, TRUE);
            sent = dbus_connection_send(conn, msg, nullptr);
            dbus_message_unref(msg);
        }
        if (sent)
            dbus_connection_flush(conn);  // nobody else may write this connection soon
        else
            FcitxLog(WARNING, failureLog, 1);
    }
    dbus_connection_unref(conn);
    return sent;
}

bool SendToWatchdog(const char* method, const char* failureLog) {
    return SendNoReply(WatchdogBusName, kWatchdogInterface, method, true, failureLog);
}

}  // namespace

bool PanelBusName(int display, char* out, size_t size) {
    return FormatName("com.fcitx_imepanel.hotel_%d", display, out, size);
}

bool WatchdogBusName(int display, char* out, size_t size) {
    return FormatName("com.fcitx_imepanel_watchdog.hotel_%d", display, out, size);
}

bool IsImepanelPresent() {
    DBusConnection* conn = SessionBus();
    if (!conn) return true;
    char name[kBusNameBytes];
    bool present = true;
    if (PanelBusName(fcitx_utils_get_display_number(), name, sizeof name))
        present = QueryOwner(conn, name) != Owner::kNone;
    dbus_connection_unref(conn);
    return present;
}

bool dbus_setVetraImeVisible(unsigned show) {
    return SendNoReply(PanelBusName, kPanelInterface, show ? "VetraImePinYinShow" : "VetraImeHide",
                       false, "dbus_setVetraImeVisible Error: %d");
}

bool NotifyImepanelWatchdog() {
    return SendToWatchdog("qtDbusSot_showMessage", "notifyImepanelWatchdogError: %d");
}

bool ClearImepanelWatchdog() {
    return SendToWatchdog("qtDbusSot_clearCount", "clearImepanelWatchdogError: %d");
}

bool FindOnPath(const char* program, const char* path, char* out, size_t size) {
    if (!program || !*program || !path || !out || size == 0) return false;
    for (const char* entry = path;;) {
        const char* end = std::strchr(entry, ':');
        const size_t length = end ? static_cast<size_t>(end - entry) : std::strlen(entry);
        // An empty entry is the current directory, as for execvp.
        const int n =
            length == 0 ? snprintf(out, size, "%s", program)
                        : snprintf(out, size, "%.*s/%s", static_cast<int>(length), entry, program);
        struct stat st;
        if (n >= 0 && static_cast<size_t>(n) < size && stat(out, &st) == 0 && S_ISREG(st.st_mode) &&
            access(out, X_OK) == 0)
            return true;
        if (!end) break;
        entry = end + 1;
    }
    out[0] = '\0';
    return false;
}

bool LaunchPanelWatchdog() {
    char program[kPathBufBytes];
    const char* path = getenv("PATH");
    if (!FindOnPath(kWatchdogProgram, path ? path : "/bin:/usr/bin", program, sizeof program)) {
        FcitxLog(WARNING, "%s: not found on PATH", kWatchdogProgram);
        return false;
    }
    // Everything the children need is ready before the fork: the process may
    // run other threads, so the children call only async-signal-safe functions.
    char name[] = "vetra-imepanel-watchdog";
    char* const argv[] = {name, nullptr};
    char** const envp = environ;
    const pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return false;
    }
    if (child == 0) {
        const pid_t grandchild = _Fork();
        if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
        execve(program, argv, envp);
        _exit(1);
    }
    // The child leaves at once; reap it so no zombie stays. ECHILD means the
    // process ignores SIGCHLD and the system reaped it already.
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

}  // namespace n_fcitx
