// Kernel start-up, user-directory changes and shut-down: the entry functions
// that register every dictionary with the dictionary manager and tear the
// kernel down. Called on the engine's thread before (and apart from) any
// conversion; none of them is safe to run concurrently with another.
#pragma once

#include <cstdint>
#include <string>

// Starts the kernel once per process: stores the directory settings (a null
// one stays unset; pathUserId is ignored), brings up the version manager,
// the configuration store, the dictionary manager and the dictionary lock,
// registers the kernel's dictionaries and, with loadNow, attaches the
// first-phase ones before returning. 1, or 0 when loadNow found a core
// system file (syllables, characters, words) missing or damaged: nothing
// could be converted. A later call does nothing and returns 1. What could
// not be set up is listed by GetKernelStartReport; the host process's
// locale is never changed.
int InitDictionaries(const wchar_t* title, const wchar_t* userDir, const wchar_t* sysDir,
                     const wchar_t* smartInfoDir, const wchar_t* buildTime,
                     const wchar_t* pathUserId, uint8_t loadNow, uint8_t policy,
                     const wchar_t* reservedPath);

// Registers the key-to-pinyin map (built from the configuration items when
// the user has none). Policy 0 attaches it at once and returns whether it
// is ready; any other policy defers it and returns 1. What a build left out
// goes into the start report.
int RegisterKeyPyMap(uint8_t policy);
// The report of a rebuild of the key map for changed settings: the lines of
// notes (what the rebuild left out) and, when it failed, that the map in
// use stays. Replaces the start report and prints as start-up does.
void ReportKeyMapRebuild(bool rebuilt, const std::wstring& notes);

// A non-null dir becomes the user directory; then the dictionaries whose
// data changed re-attach. 1.
int SetUserDirAndCheckUpdate(const wchar_t* dir);
// Runs the version check of mask 4. 1.
int KernelCheckUpdate4();
// Saves every dictionary into the current user directory, makes dir the
// user directory and re-attaches every user dictionary from it. 1.
int ChangeUserDir(const wchar_t* dir);

// Saves what changed, destroys every kernel object in reverse order of
// creation and closes the dictionary lock. 1, or 0 when a save failed (what
// it held is lost; the objects are destroyed all the same). The kernel
// cannot be started again in this process.
int ShutdownDictionaries();

// One line per problem met by the last start-up, user-directory change or
// key-map rebuild (unusable directories, dictionaries left not ready,
// refused user files set aside, scheme rules left out); empty when all went
// well. Never null.
const wchar_t* GetKernelStartReport();

// Tests only: lets a process whose kernel was shut down start it again.
void ResetKernelStartForTesting();
