// The front end's own settings file "vetraEnv.ini" (read with iniparser, whose
// Debian build lower-cases section and key names), its one-shot account
// requests carried out on reload, the save-done FIFO and the switch hotkey.
// Main thread only (fcitx's callbacks).
#pragma once

#include <cstdint>
#include <string>

#include <fcitx/ime.h>
#include <fcitx/instance.h>

namespace n_fcitx {

constexpr const char* kSettingsFileName = "vetraEnv.ini";
constexpr const char* kDefaultSyncFifo = "/tmp/vetra_sync_fifo";
constexpr const char* kSyncFifoEnv = "VETRA_SYNC_FIFO";  // tests point the FIFO elsewhere
constexpr const char* kImeUniqueName = "vetrapinyin";
constexpr const char* kSwitchKey = "Key:Switch2vetra";
constexpr const char* kDefaultSwitchKey = "CTRL_,";
constexpr const char* kSaveRequest = "Account:SaveUsrDict";
constexpr const char* kRestoreRequest = "Account:RestoreUsrDict";
constexpr const char* kRebuildRequest = "Account:BuildUsrExtDict";

// The five switches of the settings file kept in the state record.
struct t_imeSettings {
    uint8_t englishRetain = 1;     // "Key:SwichEnglishRetainExist"
    uint8_t keypadDigits = 1;      // "Advance:KeyPadInputDigital"
    uint8_t shuangPin = 0;         // "Genelal:ShuangPin"
    uint8_t shuangPinHint = 1;     // "Genelal:HintSP"
    uint8_t semicolonIsEmpty = 0;  // "ShuangPin:FenHao_is_empt"
};

// "<home>/<relative>", the home taken from HOME or, when HOME is unset or
// empty, from the password database. Empty (missing) when there is no home or
// the path would not fit the kernel's path buffers.
std::string HomePath(const char* relative);
// "<home>/.config/VetraPY/vetraEnv.ini", or empty as above.
std::string GetSettingsIniPath();
// The FIFO a settings tool waits on: $VETRA_SYNC_FIFO when set, else
// "/tmp/vetra_sync_fifo".
std::string SyncFifoPath();

// The value of "section:key" in the file at `path`; `def` when the file cannot
// be loaded, the key is null or missing, or names a section.
std::string IniGetString(const std::string& path, const char* key, const std::string& def);
// 1 for a value starting with y, Y, t, T or 1; 0 for n, N, f, F or 0; `def`
// for anything else, a missing key or an unreadable file.
int IniGetBool(const std::string& path, const char* key, int def);

// Sets `key` to "false" in the text of an ini file: every line that defines
// it (as iniparser reads the text) gets "false" as its value; every other
// byte, the key's own spelling and any comment after the value stay. False,
// with `out` untouched, when no line defines the key or the text holds a
// line iniparser would read differently from this scan (a NUL byte).
bool ResetIniValue(const std::string& text, const char* key, std::string* out);
// ResetIniValue on the file at `path`, written through a temporary file beside
// it and renamed over it, after iniparser has read the new text back with
// only that key changed. False, leaving the file alone, when it cannot be
// loaded, does not hold the key, or cannot be written.
bool IniResetFlag(const std::string& path, const char* key);

// Reads the five switches (defaults for what the file lacks).
void LoadImeSettings(const std::string& path, t_imeSettings* settings);

enum class t_fifoSignal { kSignalled, kNoReader, kNotOurs, kFailed };
// Tells a process waiting to read the FIFO at `path` that the save is done by
// opening it for writing and closing it at once. Creates it (mode 0600,
// whatever the umask) when missing. Another user's FIFO at the path is
// reported once in fcitx's log. Never blocks: with no reader nothing is signalled.
// Only a FIFO owned by this user is opened (a symbolic link or any other file
// at the path is left alone).
t_fifoSignal SignalSyncFifo(const char* path);

// The hotkey that switches to this input method, parsed in place so that the
// filter registered once sees every reload's key.
struct t_switchHotkey {
    FcitxInstance* instance = nullptr;
    FcitxHotkey keys[2] = {};
    bool registered = false;
};
// Parses "Key:Switch2vetra" (default "CTRL_,") from the settings file into
// `keys`. A value that names no key fcitx knows (empty, or misspelt) would
// leave no way to switch: the default is parsed instead, and the log says so.
void ParseSwitchHotkey(const std::string& iniPath, FcitxHotkey keys[2]);
// ParseSwitchHotkey into `hotkey`, and FcitxVetraHotkeyFilter registered
// with fcitx on the first call.
void RegisterSwitchHotkey(FcitxInstance* instance, t_switchHotkey* hotkey,
                          const std::string& iniPath);
// Switches to "vetrapinyin" and enables it on the current input context unless
// already active; `arg` is the t_switchHotkey. Always IRV_DO_NOTHING.
INPUT_RETURN_VALUE FcitxVetraHotkeyFilter(void* arg);
// Frees the parsed key texts (the filter stays registered while fcitx runs).
void ReleaseSwitchHotkey(t_switchHotkey* hotkey);

// The reload callback's work. `engine` answers SaveDicts, SaveUsrDict,
// StartKernel, ReloadExtDict, NotifyAbbrUsrDictChanged, NotifyUsrDictV3Changed
// and NotifyUsrDictExtChanged. A save request saves, clears the request and
// signals the FIFO, and nothing else; otherwise the settings and the kernel
// are reloaded and a restore or rebuild request is carried out and cleared.
template <class Engine>
void ReloadFrontSettings(Engine& engine, const std::string& iniPath, const std::string& fifoPath,
                         t_imeSettings* settings, t_switchHotkey* hotkey) {
    if (IniGetBool(iniPath, kSaveRequest, 0)) {
        engine.SaveDicts();
        engine.SaveUsrDict();
        IniResetFlag(iniPath, kSaveRequest);
        SignalSyncFifo(fifoPath.c_str());
        return;
    }
    const bool restore = IniGetBool(iniPath, kRestoreRequest, 0);
    const bool rebuild = IniGetBool(iniPath, kRebuildRequest, 0);
    // A restored or rebuilt dictionary on disk is newer than the one in
    // memory: saving now would write the old words over it.
    if (!restore && !rebuild) engine.SaveDicts();
    LoadImeSettings(iniPath, settings);
    engine.StartKernel();
    engine.ReloadExtDict();
    engine.NotifyAbbrUsrDictChanged();
    if (restore) {
        engine.NotifyUsrDictV3Changed();
        IniResetFlag(iniPath, kRestoreRequest);
    }
    if (rebuild) {
        engine.NotifyUsrDictExtChanged();
        IniResetFlag(iniPath, kRebuildRequest);
    }
    if (hotkey && hotkey->instance) RegisterSwitchHotkey(hotkey->instance, hotkey, iniPath);
}

}  // namespace n_fcitx
