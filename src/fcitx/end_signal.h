// SIGTERM (a logout, a service stop) as a clean end of fcitx. fcitx 4 itself
// answers SIGTERM with a crash report and leaves without running any addon's
// Destroy, so learning not yet saved would be lost. Here the signal only
// writes a byte to a pipe; fcitx's select loop (the module addon watches the
// read end, or the input method's poll when that addon is disabled) then
// ends fcitx as its D-Bus Exit does, and every Destroy runs. Install (by
// whichever addon comes first) and the read end from fcitx's main thread;
// the handler is
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
// The module addon watches the read end in fcitx's select loop; without it
// (a user may disable that addon) the input method polls the pipe.
void SetEndSignalWatched();
bool EndSignalWatched();

}  // namespace n_fcitx
