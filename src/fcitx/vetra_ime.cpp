// A minimal input method in the addon: it registers itself, links the panel,
// reads its settings and leaves every key to fcitx, until the conversion front
// end takes this file over. Main thread only (fcitx's callbacks).
#include <libintl.h>

#include <cstdlib>

#include <fcitx/context.h>
#include <fcitx/fcitx.h>
#include <fcitx/frontend.h>
#include <fcitx/ime.h>
#include <fcitx/instance.h>

#include "src/fcitx/addon_paths.h"
#include "src/fcitx/front_settings.h"
#include "src/fcitx/panel_link.h"

namespace {

// Stands for the engine in a reload until the conversion front end is here.
struct t_noEngine {
    void SaveDicts() {}
    void SaveUsrDict() {}
    void StartKernel() {}
    void ReloadExtDict() {}
    void NotifyAbbrUsrDictChanged() {}
    void NotifyUsrDictV3Changed() {}
    void NotifyUsrDictExtChanged() {}
};

struct t_minimalIme {
    FcitxInstance* instance = nullptr;
    n_fcitx::t_imeSettings settings;
    n_fcitx::t_switchHotkey hotkey;
};

boolean MinimalInit(void* arg) {
    auto* ime = static_cast<t_minimalIme*>(arg);
    if (!FcitxInstanceGetCurrentIC(ime->instance)) return false;
    if (FcitxInstanceGetCurrentState(ime->instance) == IS_ACTIVE) n_fcitx::dbus_setVetraImeVisible(1);
    return true;
}

void MinimalReset(void*) {}

INPUT_RETURN_VALUE MinimalDoInput(void*, FcitxKeySym, unsigned int) { return IRV_TO_PROCESS; }

INPUT_RETURN_VALUE MinimalGetCandWords(void*) { return IRV_CLEAN; }

void MinimalReloadConfig(void* arg) {
    auto* ime = static_cast<t_minimalIme*>(arg);
    t_noEngine engine;
    n_fcitx::ReloadFrontSettings(engine, n_fcitx::GetSettingsIniPath(), n_fcitx::SyncFifoPath(), &ime->settings,
                                 &ime->hotkey);
}

void MinimalOnClose(void*, FcitxIMCloseEventType) { n_fcitx::dbus_setVetraImeVisible(0); }

void* MinimalCreate(FcitxInstance* instance) {
    bindtextdomain(n_fcitx::kTextDomain, n_fcitx::kLocaleDir);
    bind_textdomain_codeset(n_fcitx::kTextDomain, "UTF-8");
    auto* ime = new t_minimalIme;
    ime->instance = instance;
    const std::string ini = n_fcitx::GetSettingsIniPath();
    n_fcitx::LoadImeSettings(ini, &ime->settings);
    FcitxIMIFace iface = {};
    iface.ResetIM = MinimalReset;
    iface.DoInput = MinimalDoInput;
    iface.GetCandWords = MinimalGetCandWords;
    iface.Init = MinimalInit;
    iface.ReloadConfig = MinimalReloadConfig;
    iface.OnClose = MinimalOnClose;
    FcitxInstanceRegisterIMv2(instance, ime, n_fcitx::kImeUniqueName, dgettext(n_fcitx::kTextDomain, "Vetra Pinyin"),
                              "vetrapinyin", iface, 5, "zh_CN");
    n_fcitx::RegisterSwitchHotkey(instance, &ime->hotkey, ini);
    n_fcitx::LaunchPanelWatchdog();
    return ime;
}

void MinimalDestroy(void* arg) {
    auto* ime = static_cast<t_minimalIme*>(arg);
    n_fcitx::ReleaseSwitchHotkey(&ime->hotkey);
    delete ime;
}

}  // namespace

extern "C" {
FCITX_EXPORT_API int ABI_VERSION = FCITX_ABI_VERSION;
FCITX_EXPORT_API FcitxIMClass ime = {MinimalCreate, MinimalDestroy};
}
