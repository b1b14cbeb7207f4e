// SIGTERM (a logout, a service stop) as a clean end of fcitx. fcitx 4 itself
// answers SIGTERM with a crash report and leaves without running any addon's
// Destroy, so learning not yet saved would be lost. Here the signal only
// writes a byte to a pipe; fcitx's select loop (the module addon watches the
// read end) then ends fcitx as its D-Bus Exit does, and every Destroy runs.
// Install and the read end from fcitx's main thread; the handler is
// async-signal-safe.
#pragma once

namespace n_fcitx {

// Creates the pipe and installs the handler for SIGTERM; false (the signal
// left as it was) when the pipe cannot be made or the handler not set.
bool InstallEndSignal();
// The pipe's read end, -1 before InstallEndSignal succeeded.
int EndSignalReadEnd();
// Reads every byte waiting; true when a signal came since the last call.
bool TakeEndSignal();

}  // namespace n_fcitx
