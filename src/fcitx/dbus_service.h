// The D-Bus object "/vetrapy" through which a settings tool imports,
// restores, backs up and removes the user dictionary, on the connections of
// fcitx's dbus addon. fcitx main thread only (those connections dispatch there).
#pragma once

#include <dbus/dbus.h>

#include <fcitx/instance.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "src/engine/engine_iface.h"

namespace n_fcitx {

inline constexpr const char* kVetraDBusPath = "/vetrapy";
inline constexpr const char* kVetraDBusInterface = "org.fcitx.Fcitx.VetraPY";

// The fixed introspection document of the object.
const char* VetraDBusIntrospection();

// The answer to one message sent to the object: a method return or an error
// (the caller sends and unrefs it), or null when the message is not one of the
// object's methods (other handlers, and libdbus's own UnknownMethod error,
// answer it) or no answer could be made.
DBusMessage* AnswerVetraDBusMessage(DBusMessage* message, IVetraCoreEngine& engine);
// The failure answer of one of the object's methods (false, and a count of
// 0 where the method has one), without running it; null for other messages.
DBusMessage* RefuseVetraDBusMessage(DBusMessage* message);

// The object registered on the addon's bus connection and on its private
// connection, each when it exists; unregistered when this goes. Each
// connection is referenced meanwhile, so the unregistering is safe even when
// the addon closed it first. The methods run in order on a thread of their
// own (an import of a large file must not hold keystrokes up); their
// answers are sent from fcitx's main thread, which a short timeout polls
// while calls are outstanding. A call that has run longer than kStuckAfter
// with calls queued behind it (a file system that stopped answering) is
// left to its thread, and a new thread runs the queue; once kMaxStuck
// threads are left so, calls queued behind another such one are answered
// false at once.
class t_vetraDBusService {
public:
    t_vetraDBusService(FcitxInstance* instance, IVetraCoreEngine* engine);
    // Stop with kStopWait unless stopped before.
    ~t_vetraDBusService();
    t_vetraDBusService(const t_vetraDBusService&) = delete;
    t_vetraDBusService& operator=(const t_vetraDBusService&) = delete;

    // How long fcitx's end waits for calls still running.
    static constexpr std::chrono::milliseconds kStopWait{3000};
    // How long a call may run before the calls queued behind it go on
    // without it, and how many calls may be left running so.
    static constexpr std::chrono::milliseconds kStuckAfter{5000};
    static constexpr int kMaxStuck = 4;

    // Calls still queued are run and answered, waiting at most `wait` for
    // them. False when one is still running then (blocked, say, in a read
    // of a file system that stopped answering): the calls behind it are
    // answered false, and its thread is left to the process's end, holding
    // what it uses (the engine: its owner must leave it alive), as are the
    // threads left with a stuck call before. Once only.
    bool Stop(std::chrono::milliseconds wait);

    // Connections the object is registered on (0 to 2).
    int Registered() const { return (m_connections[0] != nullptr) + (m_connections[1] != nullptr); }

private:
    struct t_call {
        DBusConnection* connection = nullptr;  // referenced
        DBusMessage* message = nullptr;        // referenced
        DBusMessage* answer = nullptr;         // once run; null: none could be made
    };
    // What the calls' thread uses: it outlives this object when the thread
    // is left running.
    struct t_calls {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable idle;  // nothing queued, the serving thread free
        std::deque<t_call> queued;     // waiting for the thread
        std::vector<t_call> done;      // answered, to be sent
        size_t outstanding = 0;        // queued, running or done but not sent
        uint64_t server = 0;           // the thread that takes queued calls
        bool busy = false;             // it runs a call, begun at `since`
        std::chrono::steady_clock::time_point since;
        int stuck = 0;  // threads left with a call that ran too long
        bool stop = false;
    };

    static DBusHandlerResult Handle(DBusConnection* connection, DBusMessage* message, void* data);
    static void Poll(void* data);
    // Thread `id`: runs queued calls while it is the server; a thread that
    // was left behind ends after its call.
    static void Run(std::shared_ptr<t_calls> calls, IVetraCoreEngine* engine, uint64_t id);
    // Queues the call for the thread; false when no thread can run it.
    bool Queue(DBusConnection* connection, DBusMessage* message);
    // Under the calls' mutex: starts a thread for the queue when the
    // server's call has run too long, or answers the queue false.
    void PassStuckCallLocked();
    // Under the calls' mutex: every queued call answered false.
    void RefuseQueuedLocked();
    // Main thread: sends the answers of the calls done; true while calls
    // are outstanding.
    bool SendAnswers();

    FcitxInstance* m_instance;
    IVetraCoreEngine* m_engine;
    DBusConnection* m_connections[2] = {};
    std::shared_ptr<t_calls> m_calls = std::make_shared<t_calls>();
    bool m_polling = false;  // main thread only
    bool m_stopped = false;
    std::thread m_thread;
};

}  // namespace n_fcitx
