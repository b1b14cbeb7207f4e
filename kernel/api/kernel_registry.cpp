// The registration table of the kernel's dictionaries. Constant after static
// initialisation; the getters create their singletons on the engine thread.
#include "kernel/api/kernel_registry.h"

#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/privilege_dict.h"
#include "kernel/lexicon/punct_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/spell_model.h"
#include "kernel/lexicon/string_dict.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/lexicon/stroke_annex.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/lexicon/trad_dict.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/deleted_words.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/fixed_words.h"
#include "kernel/userdict/phrase_dict.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

template <class T>
t_dictStorageBase& Held() {
    return t_singleton<T>::Get();
}

// Backup copy when the newest is a week old, restored through the
// dictionary's own import; and the user dictionary's extra version mask.
constexpr uint32_t kUsrDictBackup = 0x102;
constexpr uint32_t kUsrDictMask = 10;

}  // namespace

const t_kernelDictRow kKernelDicts[kKernelDictCount] = {
    {L"pydict", L"qzim_py.bin", &Held<t_pyDict>, 'P', kStorageFileMap, kDirSystem, 0, 2},
    {L"hzdict", L"qzim_hz.bin", &Held<t_hzDict>, 'P', kStorageFileMap, kDirSystem, 0, 2},
    {L"SysDict", L"qzim_core.bin", &Held<t_sysDict>, 'P', kStorageFileMap, kDirSystem, 0, 2},
    {L"AdjCache", L"qzim_adjcache.bin", &Held<t_adjCache>, 'T', kStorageFileMap, kDirSystem, 0, 2},
    {L"BhbshDict", L"qzim_annex.bin", &Held<t_sysBhBsh>, 'P', kStorageFileMap, kDirSystem, 0, 2},
    {L"PyTipDict", L"qzim_tip.bin", &Held<t_pyTip>, 'T', kStorageMemCopy, kDirSystem, 0, 2},
    {L"AbbrSysDict", L"qzim_phrases.bin", &Held<t_abbrSysDict>, 'T', kStorageFileMap, kDirSystem, 0,
     2},
    {L"TraditionDict", L"qzim_tra.bin", &Held<t_traDict>, 'T', kStorageFileMap, kDirSystem, 0, 2},
    {L"QuickSysDict", L"qzim_quick.bin", &Held<t_quickSysDict>, 'T', kStorageFileMap, kDirSystem, 0,
     2},
    {L"EngSysDict", L"qzim_eng.bin", &Held<t_engSysDict>, 'P', kStorageFileMap, kDirSystem, 0, 2},
    {L"engpredict", L"qzim_eng_pre.bin", &Held<t_preEngDict>, 'T', kStorageFileMap, kDirSystem, 0,
     2},
    {L"UrlSysDict", L"qzim_url.bin", &Held<t_urlSysDict>, 'T', kStorageFileMap, kDirSystem, 0, 2},
    {L"UrlGuideDict", L"qzim_urlGuide.bin", &Held<t_urlGuideDict>, 'T', kStorageMemCopy, kDirSystem,
     0, 2},
    {L"SupportCharDict", L"qzim_charvalid.bin", &Held<t_supportCharDict>, '0', kStorageSource,
     kDirSystem, 0, 2},
    {L"NumFreqAdjustDict", L"qzim_numFreqAdjust.bin", &Held<t_numFreqAdjustDict>, 'T',
     kStorageMemCopy, kDirUserSeeded, 0, 2},
    {L"infokeyict", L"qzim_infokey.bin", &Held<t_infoKey>, 'T', kStorageMemCopy, kDirUserSeeded, 0,
     2},
    {L"infoblackict", L"qzim_blackIfk.bin", &Held<t_infoBlack>, 'T', kStorageMemCopy,
     kDirUserSeeded, 0, 2},
    {L"smartinfo", L"qzim_smartInfo.bin", &Held<t_smartInfoCore>, 'T', kStorageMemCopy,
     kDirSmartInfo, 0, 2},
    {L"PunctureDict", L"punctures.ini", &Held<t_punctureDict>, '0', kStorageSource,
     kDirUserOrSystem, 0, 2},
    {L"CloudCachecDict", nullptr, &Held<t_cloudCacheDict>, 'T', kStorageNoFile, kDirUser, 0, 2},
    {L"CloudCachecDictLongWord", nullptr, &Held<t_cloudCacheDictLongWord>, 'T', kStorageNoFile,
     kDirUser, 0, 2},
    {L"UsrDict", L"qzim_usr_v3new.bin", &Held<t_usrDictV3Core>, 'P', kStorageReserved,
     kDirUserSeeded, kUsrDictBackup, kUsrDictMask},
    {L"ExtDict", L"qzim_ext.bin", &Held<t_extDict>, 'T', kStorageMemCopy, kDirUser, 0, 2},
    {L"UsrExtDict", L"qzim_usr_v3_ext.bin", &Held<t_usrDictExtCore>, 'T', kStorageMemCopy, kDirUser,
     0, 2},
    {L"FixFirstDict", L"qzim_fix_first.bin", &Held<t_fixFirstDict>, 'T', kStorageMemCopy,
     kDirUserSeeded, 0, 2},
    {L"DelWordDict", L"qzim_del_word.bin", &Held<t_delWordDict>, 'P', kStorageMemCopy, kDirUser, 0,
     2},
    {L"AbbrUsrDict", L"qzim_phrases.bin", &Held<t_abbrUsrDict>, 'T', kStorageMemCopy, kDirUser, 0,
     2},
    {L"UserSpellModelDict", L"qzim_uspm.bin", &Held<t_userSpellModelDict>, 'T', kStorageMemCopy,
     kDirUser, 0, 2},
    {L"PrivilegeDict", L"qzim_privilege.bin", &Held<t_privilegeDictCore>, 'T', kStorageMemCopy,
     kDirUser, 0, 2},
    {L"EngUsrDict", L"qzim_eng_usr.bin", &Held<t_engUsrDict>, 'T', kStorageMemCopy, kDirUser, 0, 2},
    {L"UrlUsrDict", L"qzim_url_usr.bin", &Held<t_urlUsrDict>, 'T', kStorageMemCopy, kDirUser, 0, 2},
};

const t_kernelDictRow kKeyMapRow = {
    L"KeyPyMap", L"qzim_keymap.bin", &Held<t_keyPyMap>, 'P', kStorageMemCopy, kDirUser, 0, 2};

uint32_t KernelDictLoadPolicy(const t_kernelDictRow& row, uint8_t policyArgument) {
    switch (row.policy) {
        case kRowPolicyArgument:
            return policyArgument ? kLoadPhase2 : kLoadPhase1;
        case kRowPolicyDeferred:
            return policyArgument ? kLoadThread1 : kLoadPhase1;
        default:
            return kLoadPhase1;
    }
}
