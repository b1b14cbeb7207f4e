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
#include <optional>
#include <thread>
#include <vector>

#include "src/engine/engine_iface.h"
#include "src/engine/usr_dict_order.h"

namespace n_fcitx {

inline constexpr const char* kVetraDBusPath = "/vetrapy";
inline constexpr const char* kVetraDBusInterface = "org.fcitx.Fcitx.VetraPY";

// The fixed introspection document of the object.
const char* VetraDBusIntrospection();

// The answer to one message sent to the object: a method return or an error
// (the caller sends and unrefs it), or null when the message is not one of the
// object's methods (other handlers, and libdbus's own UnknownMethod error,
// answer it) or no answer could be made. `mark`: the engine's user
// dictionary mark (IVetraUsrDictOrder) noted when the message arrived, or
// null; a change or a backup is then refused when another process's change
// came since.
DBusMessage* AnswerVetraDBusMessage(DBusMessage* message, IVetraCoreEngine& engine,
                                    const uint64_t* mark = nullptr);
// The failure answer of one of the object's methods (false, and a count of
// 0 where the method has one), without running it; null for other messages.
DBusMessage* RefuseVetraDBusMessage(DBusMessage* message);

// The object's calls, run in order on a thread of their own (an import of
// a large file must not hold keystrokes up); the caller collects the
// answers. A call that has run longer than `stuckAfter` with calls queued
// behind it (a file system that stopped answering) is left to its thread,
// and a new thread runs the queue; once kMaxStuck threads are left so,
// calls queued behind another such one are answered false at once. Calls
// that change the dictionary (import, restore, removal) never overtake:
// while a call left behind still runs, each is answered false at once
// without running. A backup, which changes nothing, may pass. Each call
// notes the engine's mark when it is queued (IVetraUsrDictOrder, when the
// engine offers it), so that one overtaken by another process's change,
// behind a slow call or while reading its file, is refused as well (a
// backup then copies nothing).
class t_vetraDBusCalls {
public:
    // How long fcitx's end waits for calls still running.
    static constexpr std::chrono::milliseconds kStopWait{3000};
    // How long a call may run before the calls queued behind it go on
    // without it, and how many calls may be left running so.
    static constexpr std::chrono::milliseconds kStuckAfter{5000};
    static constexpr int kMaxStuck = 4;

    struct t_call {
        DBusConnection* connection = nullptr;  // referenced; null: nobody to answer
        DBusMessage* message = nullptr;        // referenced
        DBusMessage* answer = nullptr;         // once run; null: none could be made
        std::optional<uint64_t> mark;          // noted when queued
    };

    explicit t_vetraDBusCalls(IVetraCoreEngine* engine,
                              std::chrono::milliseconds stuckAfter = kStuckAfter);
    // Stop with kStopWait unless stopped before.
    ~t_vetraDBusCalls();
    t_vetraDBusCalls(const t_vetraDBusCalls&) = delete;
    t_vetraDBusCalls& operator=(const t_vetraDBusCalls&) = delete;

    // Queues the call (the connection may be null); false when no thread
    // can run it.
    bool Queue(DBusConnection* connection, DBusMessage* message);
    // Starts a thread for the queue when the running call has run too
    // long, or answers the queue false.
    void PassStuckCall();
    // The calls answered since the last take; `outstanding` tells whether
    // calls are still queued, running, or answered but not taken.
    std::vector<t_call> TakeAnswered(bool* outstanding);
    bool Outstanding() const;
    // Sends the call's answer, when it has one and a connection, and
    // drops the call's references.
    static void Finish(t_call& call);

    // Calls still queued are run and answered, waiting at most `wait` for
    // them and for the calls left behind before. False when one is still
    // running then (blocked, say, in a read of a file system that stopped
    // answering): the calls queued are answered false, and the threads
    // still running are left to the process's end, holding what they use
    // (the engine: its owner must leave it alive). True only when no
    // thread uses the engine any more. Once only.
    bool Stop(std::chrono::milliseconds wait);

private:
    // What the calls' threads use: it outlives this object when a thread
    // is left running.
    struct t_shared {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable idle;  // a call ended
        std::deque<t_call> queued;     // waiting for the thread
        std::vector<t_call> done;      // answered, to be taken
        size_t outstanding = 0;        // queued, running or done but not taken
        uint64_t server = 0;           // the thread that takes queued calls
        bool busy = false;             // it runs a call, begun at `since`
        std::chrono::steady_clock::time_point since;
        int stuck = 0;  // threads left with a call that ran too long, still running it
        bool stop = false;
    };

    // Thread `id`: runs queued calls while it is the server; a thread that
    // was left behind ends after its call.
    static void Run(std::shared_ptr<t_shared> shared, IVetraCoreEngine* engine, uint64_t id);
    // Under the mutex: every queued call answered false.
    void RefuseQueuedLocked();

    IVetraCoreEngine* m_engine;
    std::chrono::milliseconds m_stuckAfter;
    std::shared_ptr<t_shared> m_shared = std::make_shared<t_shared>();
    bool m_stopped = false;
    std::thread m_thread;
};

// The object registered on the addon's bus connection and on its private
// connection, each when it exists; unregistered when this goes. Each
// connection is referenced meanwhile, so the unregistering is safe even when
// the addon closed it first. The methods run as t_vetraDBusCalls runs them;
// their answers are sent from fcitx's main thread, which a short timeout
// polls while calls are outstanding.
class t_vetraDBusService {
public:
    t_vetraDBusService(FcitxInstance* instance, IVetraCoreEngine* engine);
    // Stop with kStopWait unless stopped before.
    ~t_vetraDBusService();
    t_vetraDBusService(const t_vetraDBusService&) = delete;
    t_vetraDBusService& operator=(const t_vetraDBusService&) = delete;

    static constexpr std::chrono::milliseconds kStopWait = t_vetraDBusCalls::kStopWait;

    // t_vetraDBusCalls::Stop, and the answers sent. Once only.
    bool Stop(std::chrono::milliseconds wait);

    // Connections the object is registered on (0 to 2).
    int Registered() const { return (m_connections[0] != nullptr) + (m_connections[1] != nullptr); }

private:
    static DBusHandlerResult Handle(DBusConnection* connection, DBusMessage* message, void* data);
    static void Poll(void* data);
    // Main thread: sends the answers of the calls done; true while calls
    // are outstanding.
    bool SendAnswers();

    FcitxInstance* m_instance;
    IVetraCoreEngine* m_engine;
    DBusConnection* m_connections[2] = {};
    t_vetraDBusCalls m_calls;
    bool m_polling = false;  // main thread only
    bool m_stopped = false;
};

}  // namespace n_fcitx
