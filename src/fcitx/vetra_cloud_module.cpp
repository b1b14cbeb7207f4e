// The module addon "fcitx-vetracloudpinyin" of the same library: fcitx creates
// it before the input method, so its socket pair exists when the input method
// starts the cloud worker. fcitx's select loop watches the read end; a byte
// there means the worker parked an answer. fcitx main thread only.
#include <libintl.h>
#include <sys/select.h>

#include <new>

#include <fcitx-utils/log.h>
#include <fcitx/fcitx.h>
#include <fcitx/instance.h>
#include <fcitx/module.h>

#include "src/fcitx/addon_paths.h"
#include "src/fcitx/cloud_road.h"

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
    if (!module) CloudRoad().CloseReadEnd();
    return module;
}

void FcitxVetraCloudPinyinSetFD(void* arg) {
    auto* module = static_cast<t_cloudModule*>(arg);
    if (module->readEnd < 0 || module->readEnd >= FD_SETSIZE) return;
    FD_SET(module->readEnd, FcitxInstanceGetReadFDSet(module->instance));
    if (FcitxInstanceGetMaxFD(module->instance) < module->readEnd)
        FcitxInstanceSetMaxFD(module->instance, module->readEnd);
}

void FcitxVetraCloudPinyinProcessEvent(void* arg) {
    auto* module = static_cast<t_cloudModule*>(arg);
    if (module->readEnd < 0 || module->readEnd >= FD_SETSIZE) return;
    if (!FD_ISSET(module->readEnd, FcitxInstanceGetReadFDSet(module->instance))) return;
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
