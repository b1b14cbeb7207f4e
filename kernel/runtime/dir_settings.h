// The kernel's directory settings (stored once by kernel set-up), the
// builder of lock, block and version names, and the parser of the 14-digit
// time stamps of backup names. Set on the set-up thread before other use.
#pragma once

#include <ctime>
#include <string>

// Each setter copies the text; a null text returns false and keeps the value.
bool SetInfoTitle(const wchar_t* text);
bool SetConfiguredUserDir(const wchar_t* text);
bool SetConfiguredSysDir(const wchar_t* text);
bool SetConfiguredSmartInfoDir(const wchar_t* text);
bool SetBuildTimeText(const wchar_t* text);
bool SetConfiguredUserId(const wchar_t* text);        // the user id of block names
bool SetConfiguredReservedPath(const wchar_t* text);  // kept, read by nobody

// Each getter returns the stored text, never null (empty until set).
const wchar_t* GetInfoTitle();
const wchar_t* GetConfiguredUserDir();
const wchar_t* GetConfiguredSysDir();
const wchar_t* GetConfiguredSmartInfoDir();
const wchar_t* GetBuildTimeText();
const wchar_t* GetConfiguredUserId();
const wchar_t* GetConfiguredReservedPath();

// out = base with CR, LF, tab, space, '\', ':', '.' and '/' each turned into
// '_', then suffix (unchanged; may be null). A null base returns false and
// leaves out as it was.
bool MakeSafeFileName(const wchar_t* base, const wchar_t* suffix, std::wstring& out);

// "YYYYMMDDhhmmss" (exactly 14 decimal digits) as local time; -1 for any
// other text.
time_t ParseTimestamp14(const wchar_t* text);
