// t_runtime, the version texts and the system shims.
#include "porting3/runtime_env.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/runtime/os_helpers.h"
#include "kernel/runtime/path.h"
#include "porting3/path16.h"
#include "porting3/str16.h"

namespace n_porting {

namespace {

constexpr size_t kMaxSetPathUnits = 1024;

// The texts set by the host before the layer starts; main thread.
struct t_settings {
    t_str modulePath{u"/web/porting/porting3/Bin/VetraInput"};
    t_str installDir{u"/web/porting/porting3"};
    std::string versionA;
    bool versionSet = false;
    t_str versionW{u"5.3.0.0000"};
    std::string buildDateA{"May 13 2019 15:42:30"};
    t_str buildDateW{u"May 13 2019 15:42:30"};
    int processValue = 0;
};

t_settings& Settings() {
    static t_settings s;
    return s;
}

bool SetBoundedPath(t_str& target, const char16_t* text) {
    if (!text || WcsLen16(text) > kMaxSetPathUnits) return false;
    return target.Assign(text);
}

void SetByteText(const char* text, std::string& bytes, t_str& wide) {
    bytes = text ? text : "";
    if (!wide.FromMultiByte(bytes.c_str(), kCodePageGbk)) wide.Clear();
}

// ---- host applications ----

const char16_t* const kBrowsers[] = {
    u"iexplore.exe",     u"chrome.exe",       u"firefox.exe",   u"msedge.exe",  u"opera.exe",
    u"360se.exe",        u"360chrome.exe",    u"qqbrowser.exe", u"maxthon.exe", u"seamonkey.exe",
    u"liebao.exe",       u"2345explorer.exe", u"theworld.exe",  u"safari.exe",  u"ucbrowser.exe",
    u"baidubrowser.exe", u"vivaldi.exe",      u"brave.exe",     nullptr};
const char16_t* const kIeBrowsers[] = {u"iexplore.exe", u"360se.exe", u"theworld.exe",
                                       u"maxthon.exe", nullptr};
const char16_t* const kChromiumBrowsers[] = {u"chrome.exe",    u"msedge.exe", u"360chrome.exe",
                                             u"qqbrowser.exe", u"liebao.exe", u"vivaldi.exe",
                                             u"brave.exe",     nullptr};
const char16_t* const kGames[] = {u"dnf.exe",       u"lol.exe",           u"league of legends.exe",
                                  u"wow.exe",       u"dota2.exe",         u"csgo.exe",
                                  u"crossfire.exe", u"qqgame.exe",        u"tslgame.exe",
                                  u"overwatch.exe", u"hearthstone.exe",   u"war3.exe",
                                  u"gta5.exe",      u"minecraft.exe",     u"pubg.exe",
                                  u"yuanshen.exe",  u"genshinimpact.exe", u"valorant.exe",
                                  nullptr};
const char16_t* const kFullScreenGames[] = {
    u"dnf.exe",       u"league of legends.exe", u"wow.exe",  u"dota2.exe", u"csgo.exe",
    u"crossfire.exe", u"tslgame.exe",           u"gta5.exe", nullptr};
const char16_t* const kConsoles[] = {
    u"cmd.exe",   u"powershell.exe", u"pwsh.exe", u"windowsterminal.exe",
    u"putty.exe", u"mintty.exe",     u"bash.exe", u"wsl.exe",
    nullptr};
const char16_t* const kConsoleHosts[] = {u"conhost.exe", u"openconsole.exe", u"csrss.exe", nullptr};
const char16_t* const kWordProcessors[] = {u"winword.exe", u"wps.exe", u"swriter.exe",
                                           u"wordpad.exe", nullptr};
const char16_t* const kSpreadsheets[] = {u"excel.exe", u"et.exe", u"scalc.exe", nullptr};
const char16_t* const kPresentations[] = {u"powerpnt.exe", u"wpp.exe", u"simpress.exe",
                                          u"pptview.exe", nullptr};
const char16_t* const kOfficeSuites[] = {u"wpsoffice.exe", u"soffice.exe", u"soffice.bin",
                                         u"ksolaunch.exe", nullptr};
const char16_t* const kMail[] = {u"outlook.exe", u"foxmail.exe",    u"thunderbird.exe",
                                 u"winmail.exe", u"mailmaster.exe", nullptr};
const char16_t* const kNoteTaking[] = {u"onenote.exe", u"evernote.exe", u"youdaonote.exe",
                                       u"wiz.exe",     u"notion.exe",   nullptr};
const char16_t* const kDesign[] = {
    u"photoshop.exe", u"illustrator.exe", u"indesign.exe", u"coreldrw.exe",
    u"fireworks.exe", u"gimp-2.10.exe",   u"inkscape.exe", u"painter.exe",
    u"xd.exe",        u"figma.exe",       nullptr};
const char16_t* const kCad[] = {u"acad.exe",     u"zwcad.exe", u"gcad.exe",
                                u"sldworks.exe", u"xtop.exe",  u"ugraf.exe",
                                u"cnext.exe",    u"revit.exe", nullptr};
const char16_t* const kModelling[] = {u"3dsmax.exe",  u"maya.exe",      u"sketchup.exe",
                                      u"blender.exe", u"cinema 4d.exe", nullptr};
const char16_t* const kVideoPlayers[] = {
    u"wmplayer.exe", u"potplayer.exe", u"potplayermini.exe", u"potplayermini64.exe",
    u"kmplayer.exe", u"vlc.exe",       u"qqplayer.exe",      u"stormplayer.exe",
    u"mpc-hc.exe",   u"mpc-hc64.exe",  u"baofeng.exe",       u"iqiyi.exe",
    u"youku.exe",    nullptr};
const char16_t* const kMusicPlayers[] = {u"kugou.exe",   u"cloudmusic.exe", u"qqmusic.exe",
                                         u"kwmusic.exe", u"foobar2000.exe", u"itunes.exe",
                                         nullptr};
const char16_t* const kIdes[] = {u"devenv.exe",    u"code.exe",    u"idea64.exe",  u"idea.exe",
                                 u"pycharm64.exe", u"clion64.exe", u"eclipse.exe", u"qtcreator.exe",
                                 u"studio64.exe",  nullptr};
const char16_t* const kTextEditors[] = {u"notepad++.exe", u"sublime_text.exe", u"gvim.exe",
                                        u"vim.exe",       u"emacs.exe",        u"atom.exe",
                                        u"ultraedit.exe", u"uedit32.exe",      nullptr};

const char16_t* const* const kHostLists[kHostListCount] = {
    kBrowsers,     kIeBrowsers,   kChromiumBrowsers, kGames,        kFullScreenGames,
    kConsoles,     kConsoleHosts, kWordProcessors,   kSpreadsheets, kPresentations,
    kOfficeSuites, kMail,         kNoteTaking,       kDesign,       kCad,
    kModelling,    kVideoPlayers, kMusicPlayers,     kIdes,         kTextEditors};

// The name equals the listed one, with or without its ".exe" (executables
// here have none), ignoring ASCII case.
bool NameMatches(const char16_t* name, const char16_t* listed) {
    if (!name || !*name) return false;
    if (WcsICmp16(name, listed) == 0) return true;
    const size_t n = WcsLen16(listed);
    return n > 4 && WcsICmp16(listed + n - 4, u".exe") == 0 && WcsLen16(name) == n - 4 &&
           WcsNICmp16(name, listed, n - 4) == 0;
}

// The path holds the listed name, ignoring ASCII case.
bool PathHolds(const char16_t* path, const char16_t* listed) {
    if (!path || !*path) return false;
    t_str folded(path), want(listed);
    folded.MakeLower();
    want.MakeLower();
    return WcsStr16(folded.GetStr(), want.GetStr()) != nullptr;
}

bool Matches(const char16_t* path, const char16_t* name, const char16_t* listed) {
    return NameMatches(name, listed) || PathHolds(path, listed);
}

bool InList(const char16_t* path, const char16_t* name, const char16_t* const* list) {
    for (; *list; ++list)
        if (Matches(path, name, *list)) return true;
    return false;
}

// Scan codes (set 1) of the virtual-key codes; 0 for keys without one.
constexpr uint8_t kScanCodes[256] = {
    // 0x00-0x0F: -, buttons, cancel, -, -, -, -, backspace, tab, -, -, clear, enter
    0,
    0,
    0,
    0x46,
    0,
    0,
    0,
    0,
    0x0E,
    0x0F,
    0,
    0,
    0x4C,
    0x1C,
    0,
    0,
    // 0x10-0x1F: shift, control, alt, pause, caps lock, ime keys, escape, ime keys
    0x2A,
    0x1D,
    0x38,
    0x45,
    0x3A,
    0,
    0,
    0,
    0,
    0,
    0,
    0x01,
    0,
    0,
    0,
    0,
    // 0x20-0x2F: space, page up/down, end, home, arrows, select, print, execute,
    // print screen, insert, delete, help
    0x39,
    0x49,
    0x51,
    0x4F,
    0x47,
    0x4B,
    0x48,
    0x4D,
    0x50,
    0,
    0,
    0,
    0x54,
    0x52,
    0x53,
    0x63,
    // 0x30-0x3F: digits 0-9
    0x0B,
    0x02,
    0x03,
    0x04,
    0x05,
    0x06,
    0x07,
    0x08,
    0x09,
    0x0A,
    0,
    0,
    0,
    0,
    0,
    0,
    // 0x40-0x4F: -, A-O
    0,
    0x1E,
    0x30,
    0x2E,
    0x20,
    0x12,
    0x21,
    0x22,
    0x23,
    0x17,
    0x24,
    0x25,
    0x26,
    0x32,
    0x31,
    0x18,
    // 0x50-0x5F: P-Z, left and right logo keys, menu, -, sleep
    0x19,
    0x10,
    0x13,
    0x1F,
    0x14,
    0x16,
    0x2F,
    0x11,
    0x2D,
    0x15,
    0x2C,
    0x5B,
    0x5C,
    0x5D,
    0,
    0x5F,
    // 0x60-0x6F: keypad 0-9, multiply, add, separator, subtract, decimal, divide
    0x52,
    0x4F,
    0x50,
    0x51,
    0x4B,
    0x4C,
    0x4D,
    0x47,
    0x48,
    0x49,
    0x37,
    0x4E,
    0,
    0x4A,
    0x53,
    0x35,
    // 0x70-0x7F: F1-F16
    0x3B,
    0x3C,
    0x3D,
    0x3E,
    0x3F,
    0x40,
    0x41,
    0x42,
    0x43,
    0x44,
    0x57,
    0x58,
    0x64,
    0x65,
    0x66,
    0x67,
    // 0x80-0x8F: F17-F24
    0x68,
    0x69,
    0x6A,
    0x6B,
    0x6C,
    0x6D,
    0x6E,
    0x76,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    // 0x90-0x9F: num lock, scroll lock
    0x45,
    0x46,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    // 0xA0-0xAF: left/right shift, control, alt; browser keys; volume keys
    0x2A,
    0x36,
    0x1D,
    0x1D,
    0x38,
    0x38,
    0x6A,
    0x69,
    0x67,
    0x68,
    0x65,
    0x66,
    0x32,
    0x20,
    0x2E,
    0x30,
    // 0xB0-0xBF: media keys, mail, media select, applications; ; = , - . /
    0x19,
    0x10,
    0x24,
    0x22,
    0x6C,
    0x6D,
    0x6B,
    0x21,
    0,
    0,
    0x27,
    0x0D,
    0x33,
    0x0C,
    0x34,
    0x35,
    // 0xC0-0xCF: `
    0x29,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    // 0xD0-0xDF: [ \ ] '
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0x1A,
    0x2B,
    0x1B,
    0x28,
    0,
    // 0xE0-0xEF: the 102nd key
    0,
    0,
    0x56,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    // 0xF0-0xFF
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
};

// Reads a /proc entry of this process as UTF-8 text into out; false when it
// cannot be read.
bool ReadOwnExePath(t_str& out) {
    char bytes[kPathBytes];
    const ssize_t n = readlink("/proc/self/exe", bytes, sizeof bytes - 1);
    if (n <= 0) return false;
    bytes[n] = 0;
    char16_t* text = Utf8ToStr16Alloc(bytes);
    const bool ok = text && out.Assign(text);
    std::free(text);
    return ok;
}

bool ReadOwnCommandName(t_str& out) {
    FILE* f = std::fopen("/proc/self/comm", "re");
    if (!f) return false;
    char bytes[64] = {};
    const size_t n = std::fread(bytes, 1, sizeof bytes - 1, f);
    std::fclose(f);
    size_t end = n;
    while (end > 0 && (bytes[end - 1] == '\n' || bytes[end - 1] == 0)) --end;
    bytes[end] = 0;
    char16_t* text = end ? Utf8ToStr16Alloc(bytes) : nullptr;
    const bool ok = text && out.Assign(text);
    std::free(text);
    return ok;
}

}  // namespace

const char16_t* const* GetHostList(int index) {
    return index >= 0 && index < kHostListCount ? kHostLists[index] : nullptr;
}

uint32_t MapVirtualKeyToScanCode(uint32_t virtualKey) {
    return kScanCodes[virtualKey < 256 ? virtualKey : 0];
}

void t_runtime::DetectHost(const char16_t* path, const char16_t* name) {
    m_hostPath.Assign(path ? path : u"");
    m_hostName.Assign(name ? name : u"");
    path = m_hostPath.GetStr();
    name = m_hostName.GetStr();
    t_hostFlags& f = m_host;
    f = t_hostFlags();
    uint8_t* const roles[kHostListCount] = {
        &f.isBrowser,      &f.isIeBrowser,      &f.isChromiumBrowser,
        &f.isGame,         &f.isFullScreenGame, &f.isConsole,
        &f.isConsoleHost,  &f.isWordProcessor,  &f.isSpreadsheet,
        &f.isPresentation, &f.isOfficeSuite,    &f.isMail,
        &f.isNoteTaking,   &f.isDesign,         &f.isCad,
        &f.isModelling,    &f.isVideoPlayer,    &f.isMusicPlayer,
        &f.isIde,          &f.isTextEditor};
    int32_t index = 0;
    for (int i = 0; i < kHostListCount; ++i) {
        for (const char16_t* const* listed = kHostLists[i]; *listed; ++listed, ++index) {
            if (!Matches(path, name, *listed)) continue;
            *roles[i] = 1;
            if (f.hostIndex < 0) f.hostIndex = index;
        }
    }
    const struct {
        uint8_t* flag;
        const char16_t* listed;
    } singles[] = {{&f.isExplorer, u"explorer.exe"},   {&f.isNotepad, u"notepad.exe"},
                   {&f.isTaskManager, u"taskmgr.exe"}, {&f.isLockScreen, u"lockapp.exe"},
                   {&f.isSearchHost, u"searchui.exe"}, {&f.isRemoteDesktop, u"mstsc.exe"},
                   {&f.isJavaHost, u"javaw.exe"}};
    for (const auto& single : singles) *single.flag = NameMatches(name, single.listed);
    f.allowsInlineText = !(f.isConsole || f.isConsoleHost || InList(path, name, kCad));
    f.allowsCaretFollow = !(f.isGame || f.isConsoleHost);
    f.allowsStatusBar = !f.isFullScreenGame;
}

t_runtime& t_runtime::GetInstance() {
    static t_runtime instance;
    return instance;
}

bool t_runtime::Init(t_errorContext& ctx) {
    if (m_inited) return true;
    bool ok = m_installDir.Assign(n_porting::GetInstallDir());
    ok = m_userDataDir.Assign(m_installDir) && ok;
    char16_t id[16];
    ok = ULToW16(HashStr16Pjw(m_userDataDir.GetStr()), id, 16, 16) == 0 &&
         m_userFolderId.Assign(id) && ok;
    ok = m_buildNumber.Assign(n_porting::GetBuildNumber()) && ok;
    // The executable of this process; its name is what follows the last '/'.
    t_str exe, command;
    if (!ReadOwnExePath(exe)) exe.Clear();
    const size_t slash = exe.ReverseFind(u'/');
    DetectHost(exe.GetStr(), slash == t_str::kNotFound ? exe.GetStr() : exe.GetStr() + slash + 1);
    ok = m_hostCommand.Assign(ReadOwnCommandName(command) ? command.GetStr() : u"unknown") && ok;
    m_inited = true;
    if (!ok) ctx.SetError(u"t_runtime初始化失败");
    return ok;
}

const char16_t* t_runtime::GetModuleFilePath() {
    m_modulePath.Assign(n_porting::GetModuleFilePath());
    return m_modulePath.GetStr();
}

void SetProductVersion(const char* version) {
    t_settings& s = Settings();
    SetByteText(version, s.versionA, s.versionW);
    s.versionSet = version != nullptr;
}

const char* GetProductVersionA() {
    const t_settings& s = Settings();
    return s.versionSet ? s.versionA.c_str() : nullptr;
}

const char16_t* GetProductVersionW() {
    return Settings().versionW.GetStr();
}

void SetBuildDate(const char* date) {
    t_settings& s = Settings();
    SetByteText(date, s.buildDateA, s.buildDateW);
}

const char* GetBuildDateA() {
    return Settings().buildDateA.c_str();
}

const char16_t* GetBuildDateW() {
    return Settings().buildDateW.GetStr();
}

const char16_t* GetBuildNumber() {
    return u"0000";
}

const char16_t* GetProductTag() {
    return u"vetra_ime/5.3.0.0000";
}

bool SetModuleFilePath(const char16_t* path) {
    return SetBoundedPath(Settings().modulePath, path);
}

bool SetInstallDir(const char16_t* dir) {
    return SetBoundedPath(Settings().installDir, dir);
}

const char16_t* GetModuleFilePath() {
    return Settings().modulePath.GetStr();
}

const char16_t* GetInstallDir() {
    return Settings().installDir.GetStr();
}

uint32_t GetTickCount() {
    return uint32_t(uint64_t(GetTickMs()));
}

int QueryMicroseconds(uint64_t* out) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    if (out) *out = uint64_t(tv.tv_sec) * 1000000u + uint64_t(tv.tv_usec);
    return 1;
}

int QueryPerformanceFrequency(uint64_t* out) {
    if (out) *out = 1000000;
    return 1;
}

void Sleep(uint32_t ms) {
    SleepMs(ms);
}

void GetLocalTime(t_systemTime* out) {
    if (!out) return;
    const time_t now = std::time(nullptr);
    struct tm parts;
    std::memset(out, 0, sizeof *out);
    if (!localtime_r(&now, &parts)) return;
    out->year = uint16_t(parts.tm_year + 1900);
    out->month = uint16_t(parts.tm_mon + 1);
    out->dayOfWeek = uint16_t(parts.tm_wday);
    out->day = uint16_t(parts.tm_mday);
    out->hour = uint16_t(parts.tm_hour);
    out->minute = uint16_t(parts.tm_min);
    out->second = uint16_t(parts.tm_sec);
}

int CreateDirectoryW(const char16_t* path) {
    char bytes[kPathBytes];
    return Str16ToPathBytes(path, bytes, sizeof bytes) && mkdir(bytes, 0777) == 0;
}

int DeleteFile16(const char16_t* path) {
    char bytes[kPathBytes];
    return Str16ToPathBytes(path, bytes, sizeof bytes) && unlink(bytes) == 0;
}

int MoveFile16(const char16_t* from, const char16_t* to, uint32_t) {
    char a[kPathBytes], b[kPathBytes];
    return Str16ToPathBytes(from, a, sizeof a) && Str16ToPathBytes(to, b, sizeof b) &&
           std::rename(a, b) == 0;
}

int CopyFile16(const char16_t* from, const char16_t* to, int) {
    char a[kPathBytes], b[kPathBytes];
    return Str16ToPathBytes(from, a, sizeof a) && Str16ToPathBytes(to, b, sizeof b) &&
           PathCopyFileBytes(a, b);
}

int GetFileAttrs16(const char16_t* path, bool* isFile, uint64_t* size) {
    struct stat st;
    if (Stat16(path, &st) != 0) return 0;
    if (isFile) *isFile = !S_ISDIR(st.st_mode);
    if (size) *size = uint64_t(st.st_size);
    return 1;
}

uint32_t InterlockedIncrement(uint32_t* v) {
    return v ? ++*v : 0;
}

uint32_t InterlockedDecrement(uint32_t* v) {
    return v ? --*v : 0;
}

uint32_t InterlockedExchange(uint32_t* v, uint32_t value) {
    if (!v) return 0;
    const uint32_t old = *v;
    *v = value;
    return old;
}

uint32_t InterlockedCompareExchange(uint32_t* v, uint32_t value, uint32_t comparand) {
    if (!v) return 0;
    const uint32_t old = *v;
    if (old == comparand) *v = value;
    return old;
}

void* InterlockedCompareExchangePointer(void** v, void* value, void* comparand) {
    if (!v) return nullptr;
    void* old = *v;
    if (old == comparand) *v = value;
    return old;
}

bool IsFinite(double v) {
    return std::fabs(v) <= 1.7976931348623157e308;
}

void SetProcessValue(int v) {
    Settings().processValue = v;
}

int GetProcessValue() {
    return Settings().processValue;
}

}  // namespace n_porting
