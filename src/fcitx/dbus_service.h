// The D-Bus object "/vetrapy" through which a settings tool imports,
// restores, backs up and removes the user dictionary, on the connections of
// fcitx's dbus addon. fcitx main thread only (those connections dispatch there).
#pragma once

#include <dbus/dbus.h>

#include <fcitx/instance.h>

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

// The object registered on the addon's bus connection and on its private
// connection, each when it exists; unregistered when this goes. Each
// connection is referenced meanwhile, so the unregistering is safe even when
// the addon closed it first.
class t_vetraDBusService {
public:
    t_vetraDBusService(FcitxInstance* instance, IVetraCoreEngine* engine);
    ~t_vetraDBusService();
    t_vetraDBusService(const t_vetraDBusService&) = delete;
    t_vetraDBusService& operator=(const t_vetraDBusService&) = delete;

    // Connections the object is registered on (0 to 2).
    int Registered() const { return (m_connections[0] != nullptr) + (m_connections[1] != nullptr); }

private:
    static DBusHandlerResult Handle(DBusConnection* connection, DBusMessage* message, void* data);

    IVetraCoreEngine* m_engine;
    DBusConnection* m_connections[2] = {};
};

}  // namespace n_fcitx
