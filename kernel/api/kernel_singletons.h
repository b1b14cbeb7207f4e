// Named getters of the process-wide kernel objects that the entry layer and
// the conversion core reach most. Each object lives in its t_singleton
// holder: created on first use, destroyed by ShutdownDictionaries (or at
// process exit) in reverse order of creation. First use on the engine's
// thread.
#pragma once

#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/contacts.h"

inline t_versionManager& GetVersionManager() {
    return t_singleton<t_versionManager>::Get();
}
inline t_configurationImpl& GetConfiguration() {
    return t_singleton<t_configurationImpl>::Get();
}
inline t_dictManager& GetDictManager() {
    return t_singleton<t_dictManager>::Get();
}
inline t_sysDict& GetSysDict() {
    return t_singleton<t_sysDict>::Get();
}
inline t_keyPyMap& GetKeyPyMap() {
    return t_singleton<t_keyPyMap>::Get();
}
inline t_extDict& GetExtDict() {
    return t_singleton<t_extDict>::Get();
}
// The conversion passes' bigram answers (made with its 2000 places).
inline t_bigramQuerySerialCache& GetBigramQuerySerialCache() {
    return SerialBigramCache();
}
// Not among the start-up registrations; its users attach it themselves.
inline t_contactsDict& GetContactsDict() {
    return t_singleton<t_contactsDict>::Get();
}
