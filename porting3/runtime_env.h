// The runtime environment of the platform layer: the t_runtime singleton with
// its folders, the version and build-date texts, and the Windows-style system
// shims over POSIX. Main thread, except the clock and file shims (any thread).
#pragma once

#include <cstddef>
#include <cstdint>

#include "porting3/str_class.h"

namespace n_porting {

// What the layer knows of the application it serves, from the host's
// executable path and name. A flag of a role list is set when the path
// contains a listed name or the name equals one (on this platform also
// without its ".exe"); the three "allows" flags are set unless a name of
// their lists matches.
struct t_hostFlags {
    uint8_t isBrowser = 0;
    uint8_t isIeBrowser = 0;
    uint8_t isChromiumBrowser = 0;
    uint8_t isGame = 0;
    uint8_t isFullScreenGame = 0;
    uint8_t isConsole = 0;
    uint8_t isConsoleHost = 0;
    uint8_t isWordProcessor = 0;
    uint8_t isSpreadsheet = 0;
    uint8_t isPresentation = 0;
    uint8_t isOfficeSuite = 0;
    uint8_t isMail = 0;
    uint8_t isNoteTaking = 0;
    uint8_t isDesign = 0;
    uint8_t isCad = 0;
    uint8_t isModelling = 0;
    uint8_t isVideoPlayer = 0;
    uint8_t isMusicPlayer = 0;
    uint8_t isIde = 0;
    uint8_t isTextEditor = 0;
    uint8_t isExplorer = 0;         // explorer.exe
    uint8_t isNotepad = 0;          // notepad.exe
    uint8_t isTaskManager = 0;      // taskmgr.exe
    uint8_t isLockScreen = 0;       // lockapp.exe
    uint8_t isSearchHost = 0;       // searchui.exe
    uint8_t isRemoteDesktop = 0;    // mstsc.exe
    uint8_t isJavaHost = 0;         // javaw.exe
    uint8_t allowsInlineText = 1;   // off in consoles, console hosts and CAD programs
    uint8_t allowsCaretFollow = 1;  // off in games and console hosts
    uint8_t allowsStatusBar = 1;    // off in full-screen games
    int32_t hostIndex = -1;  // the first matching name in the table of all names, -1 for none
};

// The role lists: names (lower case) in null-terminated lists.
constexpr int kHostListCount = 20;
const char16_t* const* GetHostList(int index);

// Scan code of a virtual-key code through the 256-entry table; codes from
// 256 use entry 0 (0).
uint32_t MapVirtualKeyToScanCode(uint32_t virtualKey);

class t_runtime {
public:
    static t_runtime& GetInstance();

    // Runs once; later calls return true at once. Fails ("t_runtime初始化失败")
    // only when a step fails.
    bool Init(t_errorContext& ctx);
    bool IsInited() const { return m_inited; }
    const char16_t* GetModuleFilePath();
    const char16_t* GetInstallDir() const { return m_installDir.GetStr(); }
    // The install folder: per-user settings live under it.
    const char16_t* GetUserDataDir() const { return m_userDataDir.GetStr(); }
    // HashStr16Pjw of the user data folder in lower-case hexadecimal.
    const char16_t* GetUserFolderId() const { return m_userFolderId.GetStr(); }
    const char16_t* GetBuildNumber() const { return m_buildNumber.GetStr(); }
    const char16_t* GetHostCommandName() const { return m_hostCommand.GetStr(); }
    const char16_t* GetHostExePath() const { return m_hostPath.GetStr(); }
    const char16_t* GetHostExeName() const { return m_hostName.GetStr(); }
    const t_hostFlags& GetHostFlags() const { return m_host; }
    // Sets every host flag from the executable's path and name (either may
    // be empty); Init runs it for this process.
    void DetectHost(const char16_t* exePath, const char16_t* exeName);

private:
    t_runtime() = default;

    bool m_inited = false;
    t_str m_modulePath;
    t_str m_installDir;
    t_str m_userDataDir;
    t_str m_userFolderId;
    t_str m_buildNumber;
    t_str m_hostCommand;
    t_str m_hostPath;
    t_str m_hostName;
    t_hostFlags m_host;
};

// Version and build-date texts: byte text as given and its 16-bit form
// (code page 936). The byte text is null until set.
void SetProductVersion(const char* version);
const char* GetProductVersionA();
const char16_t* GetProductVersionW();
void SetBuildDate(const char* date);
const char* GetBuildDateA();
const char16_t* GetBuildDateW();
const char16_t* GetBuildNumber();
const char16_t* GetProductTag();

// Module path and install folder: the set texts (at most 1024 units), else
// the defaults.
bool SetModuleFilePath(const char16_t* path);
bool SetInstallDir(const char16_t* dir);
const char16_t* GetModuleFilePath();
const char16_t* GetInstallDir();

// ---- system shims ----

struct t_systemTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

// Milliseconds since 2009-12-22 00:00:00 UTC, wrapping at 32 bits.
uint32_t GetTickCount();
int QueryMicroseconds(uint64_t* out);
int QueryPerformanceFrequency(uint64_t* out);
void Sleep(uint32_t ms);
void GetLocalTime(t_systemTime* out);
inline uint32_t GetLastError() {
    return 0;
}
inline void SetLastError(uint32_t) {}
int CreateDirectoryW(const char16_t* path);
int DeleteFile16(const char16_t* path);
int MoveFile16(const char16_t* from, const char16_t* to, uint32_t flags);
// Whole-file copy through a temporary beside the target: 1 only when every
// byte was read, written and closed; a failure leaves the target as it was.
int CopyFile16(const char16_t* from, const char16_t* to, int failIfExists);
int GetFileAttrs16(const char16_t* path, bool* isFile, uint64_t* size);
inline int RemoveDirectory(const char16_t*) {
    return 1;
}
inline int SetObjectAccess(const char16_t*, int, uint32_t) {
    return 1;
}
inline int SetObjectSecurity(const char16_t*, int) {
    return 1;
}
inline int CreateMutex(const char16_t*) {
    return 1;
}
inline int OpenMutex(const char16_t*) {
    return 1;
}
inline int ReleaseMutex(int) {
    return 1;
}
inline int QZWaitForSingleObject(int, uint32_t) {
    return 0;
}
struct t_criticalSectionShim {};  // storage of a critical section: nothing here
inline int InitializeCriticalSectionAndSpinCount(t_criticalSectionShim*, uint32_t) {
    return 1;
}
inline void EnterCriticalSection(t_criticalSectionShim*) {}
inline void LeaveCriticalSection(t_criticalSectionShim*) {}
inline void DeleteCriticalSection(t_criticalSectionShim*) {}
uint32_t InterlockedIncrement(uint32_t* v);
uint32_t InterlockedDecrement(uint32_t* v);
uint32_t InterlockedExchange(uint32_t* v, uint32_t value);
uint32_t InterlockedCompareExchange(uint32_t* v, uint32_t value, uint32_t comparand);
void* InterlockedCompareExchangePointer(void** v, void* value, void* comparand);
bool IsFinite(double v);
inline char16_t PathSeparator() {
    return u'/';
}
inline const char16_t* PathSeparatorText() {
    return u"/";
}
inline void DebugLog(const char16_t*, ...) {}
void SetProcessValue(int v);
int GetProcessValue();

}  // namespace n_porting
