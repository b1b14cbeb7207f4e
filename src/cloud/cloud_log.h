// The cloud client's diagnostic texts go through one hook, so a host can keep
// them and tests can tell the failures apart. Any thread; the hook is swapped atomically.
#pragma once

namespace n_cloud {

// Called with the message and, when the failure has one, a detail (a system
// error text); detail may be null. The hook must be safe to call from any thread.
using t_cloudLogHook = void (*)(const char* message, const char* detail);

// Null drops every message (the default: the diagnostic log keeps nothing).
void SetCloudLogHook(t_cloudLogHook hook);
void CloudLog(const char* message, const char* detail = nullptr);

}  // namespace n_cloud
