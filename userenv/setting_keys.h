// The registry of the settings keys (id, name, type, sync mode, group,
// default), a constant table compiled from data/settings/keys.tsv, and the
// setting key with its hash and comparisons. Read-only: any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "porting3/str_class.h"

namespace n_userenv {

// Value-type codes; a stored value of an unknown key is text (0).
constexpr int32_t kTypeUnknown = 0;
constexpr int32_t kTypeBool = 1;
constexpr int32_t kTypeInt = 2;
constexpr int32_t kTypeUInt = 3;
constexpr int32_t kTypeString = 4;

// Sync-mode codes (1 has no keyword); 3, 4 and 5 are synchronised.
constexpr int32_t kSyncLocal = 2;
constexpr int32_t kSyncRemote = 3;
constexpr int32_t kSyncMax = 4;
constexpr int32_t kSyncMin = 5;

constexpr int32_t kNoGroup = -1;
constexpr uint32_t kMaxEnvKeyId = 400;

struct t_envDefault {
    bool b = false;
    int32_t i = 0;
    uint32_t u = 0;
    const char16_t* s = nullptr;
    constexpr t_envDefault(bool v) : b(v) {}
    constexpr t_envDefault(int v) : i(v) {}
    constexpr t_envDefault(unsigned v) : u(v) {}
    constexpr t_envDefault(const char16_t* v) : s(v) {}
};

struct t_envEntryBase {
    uint32_t id;
    const char16_t* name;
    int32_t type;
    int32_t syncMode;
    int32_t group;
    t_envDefault def;
};

// A setting's key: the registry id (0 for a key the registry does not know)
// and the name.
struct t_settingKey {
    uint32_t id;
    const char16_t* name;
};

// The id itself, else the case-insensitive ELF hash of the name.
uint32_t SettingKeyHash(const t_settingKey& key);
// Registry ids are exact, so two known keys compare by id; a key without an
// id always compares by name (ASCII case ignored), never by hash.
bool SettingKeyEqual(const t_settingKey& a, const t_settingKey& b);
int SettingKeyCompare(const t_settingKey& a, const t_settingKey& b);

struct t_settingKeyPolicy {
    static uint32_t Hash(const t_settingKey& k) { return SettingKeyHash(k); }
    static bool Equal(const t_settingKey& a, const t_settingKey& b) {
        return SettingKeyEqual(a, b);
    }
};

// "b" 1, "n" 2, "u" 3, "s" 4; anything else (or null) 0.
uint32_t LookupValueType(const char16_t* name);
const char16_t* GetValueTypeName(uint32_t type);  // null for other codes
// "remote" 3, "local" 2, "min" 5, "max" 4; anything else 0.
uint32_t LookupOrigin(const char16_t* name);
const char16_t* GetOriginName(uint32_t syncMode);  // null for other codes

// The registry.
size_t GetEnvEntryCount();
const t_envEntryBase& GetEnvEntryAt(size_t index);  // in table order
const t_envEntryBase* GetEnvEntryById(uint32_t id);
// The id of the key named so ignoring ASCII case, 0 when unknown.
uint32_t GetEnvKeyId(const char16_t* name);
// By id when it is registered, else by name ignoring case.
const t_envEntryBase* FindEnvEntry(const t_settingKey& key);
// Case-sensitive, as the by-name accessors of the store want.
const t_envEntryBase* FindEnvEntryExact(const char16_t* name);
int32_t GetEnvEntryType(const t_settingKey& key);      // 0 when unknown
int32_t GetEnvEntrySyncMode(const t_settingKey& key);  // 3 when unknown
int32_t GetEnvEntryGroup(const t_settingKey& key);     // -1 when unknown
// The name without lower-case vowels, 'y', '_' and repeats of the last kept unit.
bool ShortEnvKey(n_porting::t_str& out, const char16_t* name);

// Ids of the keys the settings code itself reads (checked against the table).
namespace n_envKey {
constexpr uint32_t HanziSet = 1;
constexpr uint32_t FreqUpMode = 3;
constexpr uint32_t LearnNewWord = 4;
constexpr uint32_t LearnFreq = 5;
constexpr uint32_t LimitWordCand = 27;
constexpr uint32_t MaxWordCand = 28;
constexpr uint32_t PageSize = 29;
constexpr uint32_t FontSize = 30;
constexpr uint32_t FontEn = 32;
constexpr uint32_t ConvertStyle = 44;
constexpr uint32_t SelectStyle = 45;
constexpr uint32_t KeyFocusWord = 54;
constexpr uint32_t IntelligentDeleteWord = 85;
constexpr uint32_t AllowArt = 95;
constexpr uint32_t ArtWordMode = 96;
constexpr uint32_t InputStatistics = 106;
constexpr uint32_t StateKeyShortcutEngFill = 301;
constexpr uint32_t StateKeyShortcutMailUrl = 302;
constexpr uint32_t StateKeyShortcutName = 303;
constexpr uint32_t StateKeyShortcutQuickInput = 304;
constexpr uint32_t StateKeyShortcutUrlGuide = 305;
constexpr uint32_t StateKeyShortcutSearch = 306;
constexpr uint32_t WizardReadFlags = 316;
constexpr uint32_t ShortcutJJGMenu = 359;
constexpr uint32_t KeyShortcutJJGMenu = 360;
constexpr uint32_t EnvVersion = 377;
}  // namespace n_envKey

// The entry of a key id the code relies on (never null for n_envKey ids).
inline const t_envEntryBase& EnvEntry(uint32_t id) {
    return *GetEnvEntryById(id);
}

}  // namespace n_userenv
