// t_env, one user's settings in memory (values keyed by setting key, all
// memory in the store's own arena), its binary image for the shared copy, and
// its settings file env.ini. One thread at a time per store.
#pragma once

#include <cstddef>
#include <cstdint>

#include "porting3/block_heap.h"
#include "porting3/path16.h"
#include "porting3/str_class.h"
#include "userenv/setting_keys.h"

namespace n_userenv {

struct t_envValue {
    // A text may hold up to 65535 units and its terminator.
    static constexpr uint32_t kMaxTextUnits = 65535;
    static constexpr uint32_t kMaxPayloadBytes = (kMaxTextUnits + 1) * 2;

    uint32_t type;
    uint32_t syncMode;
    int32_t group;
    void* payload;
    uint64_t capacity;
    uint8_t dirty;

    void Init();
    // Parses text for the key (see the settings file): the type and sync
    // keywords, when not given, come from the registry. False for a text of
    // 65536 units or more, a text value with CR or LF, or when memory runs out.
    bool SetFromText(n_porting::t_heap& heap, const t_settingKey& key, const char16_t* text,
                     const char16_t* typeKeyword, const char16_t* syncKeyword);
    bool ToBool() const { return ToInt() != 0; }
    int32_t ToInt() const;
    uint32_t ToUInt() const { return uint32_t(ToInt()); }
    const char16_t* ToString() const;  // null unless text
    bool ToText(n_porting::t_str& out) const;
    bool IsSynced() const { return syncMode >= 3 && syncMode <= 5; }
    bool CopyFrom(const t_envValue& other, n_porting::t_heap& heap);
    // Payload space of n bytes, reusing the old space when it fits.
    bool Reserve(n_porting::t_heap& heap, uint64_t n);
    uint64_t PayloadBytes() const;
};

class t_env {
public:
    static constexpr uint64_t kBlockSize = 16384;

    t_env();
    virtual ~t_env() = default;
    t_env(const t_env&) = delete;
    t_env& operator=(const t_env&) = delete;

    void Reset();

    // Typed reads: stored value or default, with the fixed overrides (HanziSet
    // 5, ArtWordMode 1, three switches always on, SelectStyle under ConvertStyle).
    bool GetBool(const t_envEntryBase& e) const;
    int32_t GetInt(const t_envEntryBase& e) const;
    uint32_t GetUInt(const t_envEntryBase& e) const;
    const char16_t* GetString(const t_envEntryBase& e) const;
    bool ReadBool(const t_envEntryBase& e) const;
    int32_t ReadInt(const t_envEntryBase& e) const;

    // Flagged writes; false when memory runs out. A text with CR or LF is
    // refused (false, the value unchanged): env.ini could not give it back.
    bool SetBool(const t_envEntryBase& e, bool v);
    bool SetInt(const t_envEntryBase& e, int32_t v);
    bool SetUInt(const t_envEntryBase& e, uint32_t v);
    bool SetString(const t_envEntryBase& e, const char16_t* v);

    // By exact name, entries of the matching type only, no overrides, no flag.
    int32_t GetIntByName(const char16_t* name) const;
    uint32_t GetUIntByName(const char16_t* name) const;
    bool GetBoolByName(const char16_t* name) const;
    const char16_t* GetStringByName(const char16_t* name) const;
    bool SetIntByName(const char16_t* name, int32_t v);
    bool SetUIntByName(const char16_t* name, uint32_t v);
    bool SetBoolByName(const char16_t* name, bool v);
    bool SetStringByName(const char16_t* name, const char16_t* v);

    void Remove(const t_envEntryBase& e);
    bool StoreValue(const t_settingKey& key, const t_envValue& value);
    const t_envValue* FindValue(const t_settingKey& key) const;
    size_t GetValueCount() const { return m_map ? m_map->GetCount() : 0; }

    // Copies the source's dirty values into dest and clears them; with
    // bumpGroups a changed value of a group bumps that version slot. 0 only
    // when memory runs out (the values not copied stay dirty).
    static int Merge(t_env& dest, n_porting::t_errorContext& ctx, t_env& source, bool bumpGroups);
    bool CopyFrom(const t_env& source);
    void ClearDirty();
    bool IsModified() const { return m_modified != 0; }
    uint32_t GetStamp() const { return m_stamp; }
    void SetStamp(uint32_t stamp) { m_stamp = stamp; }

    // The image: u32 size, records (name, terminator, u32 id, u8 type, u8
    // sync, u32 payload bytes, payload), a 0 unit.
    uint64_t GetImageSize() const;
    // False, nothing written, when the image is above 4 GiB or capacity.
    bool WriteImage(void* buffer, uint64_t capacity) const;
    // 1, or 0 with the store empty when the image is malformed in any part.
    int ReadImage(const void* image, uint64_t available);

    // env.ini. Load: 1, or 0 (store as after clear) when the file fails; an
    // existing file that fails is moved into Backup beside it and a file of
    // no values written in its place.
    int Load(n_porting::t_errorContext& ctx, const char16_t* path, int clear);
    // Through the ini document's safe save: on failure (0) the old file stays.
    int Save(n_porting::t_errorContext& ctx, const char16_t* path) const;
    bool MigrateVersion();

    // Iteration in the map's order.
    using t_map = n_porting::t_poolHashMap<t_settingKey, t_envValue*, t_settingKeyPolicy>;
    const t_map* GetMap() const { return m_map; }

private:
    t_envValue* FindOrAdd(const t_settingKey& key);
    t_envValue* WriteFrom(const t_envEntryBase& e, uint64_t bytes);
    const t_envValue* Lookup(const t_envEntryBase& e) const;

    n_porting::t_heap m_heap;
    uint32_t m_stamp = 0;
    t_map* m_map = nullptr;
    uint8_t m_modified = 0;
};

// Decimal with an optional sign, up to the first other unit, modulo 2^32.
int32_t ParseSettingNumber(const char16_t* text);
// The four dot-separated decimal parts; missing parts are 0.
void ParseVersion(const char16_t* text, uint32_t parts[4]);
// Makes the folder of the file's path (one level). 0 with the error set.
int EnsureFileDirectory(n_porting::t_errorContext& ctx, const char16_t* filePath);

// Where the one line about an env.ini that did not load goes (given without
// its line break): standard error, unless a program whose log has a form
// of its own (the input method: fcitx's) sets a function. Any thread.
using t_envLog = void (*)(const char* line);
void SetEnvLog(t_envLog log);

}  // namespace n_userenv
