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

}  // namespace

t_runtime& t_runtime::GetInstance() {
    static t_runtime instance;
    return instance;
}

bool t_runtime::Init(t_errorContext& ctx) {
    if (m_inited) return true;
    bool ok = m_installDir.Assign(n_porting::GetInstallDir());
    ok = m_userDataDir.Assign(m_installDir) && ok;
    char16_t id[16];
    ok = ULToW16(HashStr16Pjw(m_userDataDir.GetStr()), id, 16, 16) == 0 && m_userFolderId.Assign(id) && ok;
    ok = m_buildNumber.Assign(n_porting::GetBuildNumber()) && ok;
    ok = m_hostCommand.Assign(u"unknown") && ok;
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
