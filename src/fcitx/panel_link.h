// The link to the separate candidate panel and its watchdog over the session
// bus, and the watchdog's launch. Main thread only (fcitx's callbacks); the
// launch is safe in a process that already runs other threads.
#pragma once

#include <cstddef>

namespace n_fcitx {

// The program that keeps the panel alive, looked up on PATH.
constexpr const char* kWatchdogProgram = "vetra-imepanel-watchdog";

// "com.fcitx_imepanel.hotel_<display>" and the watchdog's name
// "com.fcitx_imepanel_watchdog.hotel_<display>"; false when `size` is too small.
bool PanelBusName(int display, char* out, size_t size);
bool WatchdogBusName(int display, char* out, size_t size);

// Whether the panel's bus name has an owner; true when the session bus cannot
// be reached or the owner query fails (the panel may well be there).
bool IsImepanelPresent();

// Calls the panel's "VetraImePinYinShow" (show != 0) or "VetraImeHide" when
// its name has an owner, without waiting for a reply (a hung panel must not
// stall typing). True when the call was queued and flushed; false with
// nothing sent when the name is unowned.
bool dbus_setVetraImeVisible(unsigned show);

// Tell the watchdog that the panel is missing ("qtDbusSot_showMessage") and
// to clear its count ("qtDbusSot_clearCount"), without waiting for a reply.
// Sent when the watchdog's name has an owner or the owner query fails; true
// when the message was queued and flushed.
bool NotifyImepanelWatchdog();
bool ClearImepanelWatchdog();

// Finds `program` in the directories of `path` (colon-separated; an empty
// entry is the current directory) as an executable regular file. False when
// none is found or a joined name would not fit `size`.
bool FindOnPath(const char* program, const char* path, char* out, size_t size);

// Starts the watchdog detached by a double fork: the program is found on PATH
// first (nothing is forked when it is missing), the child only forks again
// and leaves, the grandchild only calls execve, and the child is reaped here,
// so no signal handler changes and nothing sleeps. False when the program is
// missing or the first fork failed.
bool LaunchPanelWatchdog();

}  // namespace n_fcitx
