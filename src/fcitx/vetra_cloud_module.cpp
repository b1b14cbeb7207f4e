// The module addon "fcitx-vetracloudpinyin" of the same library: fcitx creates
// it before the input method, so its socket pair exists when the input method
// starts the cloud worker. fcitx's select loop watches the read end; a byte
// there means the worker parked an answer. It also watches the SIGTERM pipe
// and ends fcitx cleanly when the signal came. fcitx main thread only.
#include <libintl.h>
#include <sys/select.h>

#include <new>

#include <fcitx-utils/log.h>
#include <fcitx/fcitx.h>
#include <fcitx/instance.h>
#include <fcitx/module.h>

#include "src/fcitx/addon_paths.h"
#include "src/fcitx/cloud_road.h"
#include "src/fcitx/end_signal.h"

namespace n_fcitx {
namespace {

constexpr const char* kModuleTextDomain = "fcitx-vetracloudpinyin";

struct t_cloudModule {
    FcitxInstance* instance;
    int readEnd;
};

void* FcitxVetraCloudPinyinCreate(FcitxInstance* instance) {
    bindtextdomain(kModuleTextDomain, kLocaleDir);
    bind_textdomain_codeset(kModuleTextDomain, "UTF-8");
    if (!CloudRoad().OpenWakeChannel()) {
        FcitxLog(ERROR, "cannot create the cloud wake-up socket pair");
        return nullptr;
    }
    auto* module = new (std::nothrow) t_cloudModule{instance, CloudRoad().ReadEnd()};
    if (!module) {
        CloudRoad().CloseReadEnd();
        return nullptr;
    }
    if (InstallEndSignal())
        SetEndSignalWatched();
    else
        FcitxLog(WARNING, "SIGTERM is left to fcitx: learning since the last save may be lost");
    return module;
}

void Watch(FcitxInstance* instance, int fd) {
    if (fd < 0 || fd >= FD_SETSIZE) return;
    FD_SET(fd, FcitxInstanceGetReadFDSet(instance));
    if (FcitxInstanceGetMaxFD(instance) < fd) FcitxInstanceSetMaxFD(instance, fd);
}

bool Ready(FcitxInstance* instance, int fd) {
    return fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, FcitxInstanceGetReadFDSet(instance));
}

void FcitxVetraCloudPinyinSetFD(void* arg) {
    auto* module = static_cast<t_cloudModule*>(arg);
    Watch(module->instance, module->readEnd);
    Watch(module->instance, EndSignalReadEnd());
}

void FcitxVetraCloudPinyinProcessEvent(void* arg) {
    auto* module = static_cast<t_cloudModule*>(arg);
    if (Ready(module->instance, EndSignalReadEnd()) && TakeEndSignal()) {
        // As D-Bus Exit does: every addon's Destroy runs (the input
        // method's saves what it learned).
        FcitxLog(INFO, "SIGTERM: ending fcitx");
        FcitxInstanceEnd(module->instance);
        return;
    }
    if (!Ready(module->instance, module->readEnd)) return;
    // Every byte goes, whatever happens to the answers: a byte left behind
    // (its answer dropped by a reset) would keep select returning at once.
    DrainWakeSocket(module->readEnd);
    CloudRoad().OnWake();
}

void FcitxVetraCloudPinyinDestroy(void* arg) {
    CloudRoad().CloseReadEnd();
    delete static_cast<t_cloudModule*>(arg);
}

void FcitxVetraCloudPinyinReloadConfig(void*) {}

}  // namespace
}  // namespace n_fcitx

extern "C" {
FCITX_DEFINE_PLUGIN(fcitx_vetracloudpinyin, module, FcitxModule) = {
    n_fcitx::FcitxVetraCloudPinyinCreate, n_fcitx::FcitxVetraCloudPinyinSetFD,
    n_fcitx::FcitxVetraCloudPinyinProcessEvent, n_fcitx::FcitxVetraCloudPinyinDestroy,
    n_fcitx::FcitxVetraCloudPinyinReloadConfig};
}
