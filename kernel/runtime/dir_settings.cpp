// Directory settings, object names and backup time stamps.
#include "kernel/runtime/dir_settings.h"

#include <cwchar>

namespace {

enum {
    kInfoTitle,
    kUserDir,
    kSysDir,
    kSmartInfoDir,
    kBuildTime,
    kUserId,
    kReservedPath,
    kSettingCount
};

std::wstring& Setting(int i) {
    // Never destroyed: a dictionary's last words at process exit (its
    // change file) still need the directories.
    static std::wstring* const settings = new std::wstring[kSettingCount];
    return settings[i];
}

bool Store(int i, const wchar_t* text) {
    if (!text) return false;
    Setting(i) = text;
    return true;
}

}  // namespace

bool SetInfoTitle(const wchar_t* text) {
    return Store(kInfoTitle, text);
}
bool SetConfiguredUserDir(const wchar_t* text) {
    return Store(kUserDir, text);
}
bool SetConfiguredSysDir(const wchar_t* text) {
    return Store(kSysDir, text);
}
bool SetConfiguredSmartInfoDir(const wchar_t* text) {
    return Store(kSmartInfoDir, text);
}
bool SetBuildTimeText(const wchar_t* text) {
    return Store(kBuildTime, text);
}
bool SetConfiguredUserId(const wchar_t* text) {
    return Store(kUserId, text);
}
bool SetConfiguredReservedPath(const wchar_t* text) {
    return Store(kReservedPath, text);
}

const wchar_t* GetInfoTitle() {
    return Setting(kInfoTitle).c_str();
}
const wchar_t* GetConfiguredUserDir() {
    return Setting(kUserDir).c_str();
}
const wchar_t* GetConfiguredSysDir() {
    return Setting(kSysDir).c_str();
}
const wchar_t* GetConfiguredSmartInfoDir() {
    return Setting(kSmartInfoDir).c_str();
}
const wchar_t* GetBuildTimeText() {
    return Setting(kBuildTime).c_str();
}
const wchar_t* GetConfiguredUserId() {
    return Setting(kUserId).c_str();
}
const wchar_t* GetConfiguredReservedPath() {
    return Setting(kReservedPath).c_str();
}

bool MakeSafeFileName(const wchar_t* base, const wchar_t* suffix, std::wstring& out) {
    if (!base) return false;
    out.clear();
    for (const wchar_t* p = base; *p; ++p) {
        switch (*p) {
            case L'\r':
            case L'\n':
            case L'\t':
            case L' ':
            case L'\\':
            case L':':
            case L'.':
            case L'/':
                out += L'_';
                break;
            default:
                out += *p;
        }
    }
    if (suffix) out += suffix;
    return true;
}

time_t ParseTimestamp14(const wchar_t* text) {
    if (!text) return -1;
    int digits[14];
    for (int i = 0; i < 14; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return -1;  // also stops at the end
        digits[i] = text[i] - L'0';
    }
    if (text[14] != 0) return -1;
    auto field = [&](int from, int n) {
        int v = 0;
        for (int i = from; i < from + n; ++i) v = v * 10 + digits[i];
        return v;
    };
    struct tm t = {};
    t.tm_year = field(0, 4) - 1900;
    t.tm_mon = field(4, 2) - 1;
    t.tm_mday = field(6, 2);
    t.tm_hour = field(8, 2);
    t.tm_min = field(10, 2);
    t.tm_sec = field(12, 2);
    t.tm_isdst = -1;  // let the library decide daylight saving
    return mktime(&t);
}
