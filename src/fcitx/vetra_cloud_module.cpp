// The module addon "fcitx-vetracloudpinyin" of the same library: fcitx creates
// it before the input method. It holds no state yet; the cloud answer road
// fills these callbacks. Main thread only.
#include <fcitx/fcitx.h>
#include <fcitx/instance.h>
#include <fcitx/module.h>

namespace {

struct t_cloudModule {
    FcitxInstance* instance;
};

void* FcitxVetraCloudPinyinCreate(FcitxInstance* instance) { return new t_cloudModule{instance}; }
void FcitxVetraCloudPinyinSetFD(void*) {}
void FcitxVetraCloudPinyinProcessEvent(void*) {}
void FcitxVetraCloudPinyinDestroy(void* arg) { delete static_cast<t_cloudModule*>(arg); }
void FcitxVetraCloudPinyinReloadConfig(void*) {}

}  // namespace

extern "C" {
FCITX_DEFINE_PLUGIN(fcitx_vetracloudpinyin, module, FcitxModule) = {
    FcitxVetraCloudPinyinCreate, FcitxVetraCloudPinyinSetFD, FcitxVetraCloudPinyinProcessEvent,
    FcitxVetraCloudPinyinDestroy, FcitxVetraCloudPinyinReloadConfig};
}
