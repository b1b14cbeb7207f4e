// The one hook every diagnostic text of the cloud client passes through.
#include "src/cloud/cloud_log.h"

#include <atomic>

namespace n_cloud {

namespace {
std::atomic<t_cloudLogHook> g_hook{nullptr};
}

void SetCloudLogHook(t_cloudLogHook hook) {
    g_hook.store(hook);
}

void CloudLog(const char* message, const char* detail) {
    if (const t_cloudLogHook hook = g_hook.load()) hook(message, detail);
}

}  // namespace n_cloud
