// The key table and its three indexes, all built at compile time: nothing
// runs at load, so no static-initialisation order is involved.
// Read-only: any thread.
#include "userenv/setting_keys.h"

#include <algorithm>
#include <array>

#include "porting3/str16.h"

namespace n_userenv {
namespace {

constexpr t_envEntryBase kEntries[] = {
#define SETTING_KEY(id, name, type, sync, group, def) \
    {id, name, type, sync, group, t_envDefault(def)},
#include "userenv/setting_keys.inc"
#undef SETTING_KEY
};
constexpr size_t kCount = std::size(kEntries);

constexpr char16_t Fold(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

// Ordinal (difference of the first unequal units), optionally ASCII case folded.
constexpr int Compare(const char16_t* a, const char16_t* b, bool fold) {
    for (;; ++a, ++b) {
        const char16_t x = fold ? Fold(*a) : *a;
        const char16_t y = fold ? Fold(*b) : *b;
        if (x != y || x == 0) return int(x) - int(y);
    }
}

constexpr auto kById = [] {
    std::array<int16_t, kMaxEnvKeyId + 1> index{};
    index.fill(-1);
    for (size_t i = 0; i < kCount; ++i) index[kEntries[i].id] = int16_t(i);
    return index;
}();

template <bool kFold>
constexpr auto SortedByName() {
    std::array<int16_t, kCount> order{};
    for (size_t i = 0; i < kCount; ++i) order[i] = int16_t(i);
    std::sort(order.begin(), order.end(), [](int16_t a, int16_t b) {
        return Compare(kEntries[a].name, kEntries[b].name, kFold) < 0;
    });
    return order;
}
constexpr auto kByFoldedName = SortedByName<true>();
constexpr auto kByName = SortedByName<false>();

template <size_t N>
const t_envEntryBase* Search(const std::array<int16_t, N>& order, const char16_t* name, bool fold) {
    if (!name) return nullptr;
    size_t lo = 0, hi = N;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        const int c = Compare(kEntries[order[mid]].name, name, fold);
        if (c == 0) return &kEntries[order[mid]];
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return nullptr;
}

constexpr bool NamesUnique() {
    for (size_t i = 1; i < kCount; ++i)
        if (Compare(kEntries[kByFoldedName[i - 1]].name, kEntries[kByFoldedName[i]].name, true) ==
            0)
            return false;
    return true;
}
static_assert(NamesUnique(), "the generator refuses names equal ignoring case");

constexpr bool Named(uint32_t id, const char16_t* name) {
    return kById[id] >= 0 && Compare(kEntries[kById[id]].name, name, false) == 0;
}
static_assert(Named(n_envKey::HanziSet, u"HanziSet") &&
                  Named(n_envKey::FreqUpMode, u"FreqUpMode") &&
                  Named(n_envKey::LearnNewWord, u"LearnNewWord") &&
                  Named(n_envKey::LearnFreq, u"LearnFreq") &&
                  Named(n_envKey::LimitWordCand, u"LimitWordCand") &&
                  Named(n_envKey::MaxWordCand, u"MaxWordCand") &&
                  Named(n_envKey::PageSize, u"PageSize") &&
                  Named(n_envKey::FontSize, u"FontSize") && Named(n_envKey::FontEn, u"FontEn") &&
                  Named(n_envKey::ConvertStyle, u"ConvertStyle") &&
                  Named(n_envKey::SelectStyle, u"SelectStyle") &&
                  Named(n_envKey::KeyFocusWord, u"KeyFocusWord") &&
                  Named(n_envKey::IntelligentDeleteWord, u"IntelligentDeleteWord") &&
                  Named(n_envKey::AllowArt, u"AllowArt") &&
                  Named(n_envKey::ArtWordMode, u"ArtWordMode") &&
                  Named(n_envKey::InputStatistics, u"InputStatistics") &&
                  Named(n_envKey::StateKeyShortcutEngFill, u"StateKeyShortcutEngFill") &&
                  Named(n_envKey::StateKeyShortcutMailUrl, u"StateKeyShortcutMailUrl") &&
                  Named(n_envKey::StateKeyShortcutName, u"StateKeyShortcutName") &&
                  Named(n_envKey::StateKeyShortcutQuickInput, u"StateKeyShortcutQuickInput") &&
                  Named(n_envKey::StateKeyShortcutUrlGuide, u"StateKeyShortcutUrlGuide") &&
                  Named(n_envKey::StateKeyShortcutSearch, u"StateKeyShortcutSearch") &&
                  Named(n_envKey::WizardReadFlags, u"WizardReadFlags") &&
                  Named(n_envKey::ShortcutJJGMenu, u"ShortcutJJGMenu") &&
                  Named(n_envKey::KeyShortcutJJGMenu, u"KeyShortcutJJGMenu") &&
                  Named(n_envKey::EnvVersion, u"ENV_VERSION"),
              "a key the settings code reads is missing from the table");

constexpr const char16_t* kTypeNames[] = {nullptr, u"b", u"n", u"u", u"s"};
constexpr const char16_t* kOriginNames[] = {nullptr, nullptr, u"local", u"remote", u"max", u"min"};

template <size_t N>
uint32_t LookupName(const char16_t* const (&names)[N], const char16_t* name) {
    if (!name) return 0;
    for (size_t i = 0; i < N; ++i)
        if (names[i] && n_porting::WcsCmp16(names[i], name) == 0) return uint32_t(i);
    return 0;
}

}  // namespace

uint32_t SettingKeyHash(const t_settingKey& key) {
    return key.id ? key.id : n_porting::HashStr16Pjw(key.name, true);
}

bool SettingKeyEqual(const t_settingKey& a, const t_settingKey& b) {
    if (a.id && b.id) return a.id == b.id;
    return n_porting::WcsICmp16(a.name ? a.name : u"", b.name ? b.name : u"") == 0;
}

int SettingKeyCompare(const t_settingKey& a, const t_settingKey& b) {
    if (a.id && b.id) return a.id < b.id ? -1 : a.id > b.id ? 1 : 0;
    const int c = n_porting::WcsICmp16(a.name ? a.name : u"", b.name ? b.name : u"");
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

uint32_t LookupValueType(const char16_t* name) {
    return LookupName(kTypeNames, name);
}
const char16_t* GetValueTypeName(uint32_t type) {
    return type < std::size(kTypeNames) ? kTypeNames[type] : nullptr;
}
uint32_t LookupOrigin(const char16_t* name) {
    return LookupName(kOriginNames, name);
}
const char16_t* GetOriginName(uint32_t syncMode) {
    return syncMode < std::size(kOriginNames) ? kOriginNames[syncMode] : nullptr;
}

size_t GetEnvEntryCount() {
    return kCount;
}
const t_envEntryBase& GetEnvEntryAt(size_t index) {
    return kEntries[index];
}

const t_envEntryBase* GetEnvEntryById(uint32_t id) {
    return id <= kMaxEnvKeyId && kById[id] >= 0 ? &kEntries[kById[id]] : nullptr;
}

uint32_t GetEnvKeyId(const char16_t* name) {
    const t_envEntryBase* e = Search(kByFoldedName, name, true);
    return e ? e->id : 0;
}

const t_envEntryBase* FindEnvEntry(const t_settingKey& key) {
    if (const t_envEntryBase* e = key.id ? GetEnvEntryById(key.id) : nullptr) return e;
    return Search(kByFoldedName, key.name, true);
}

const t_envEntryBase* FindEnvEntryExact(const char16_t* name) {
    return Search(kByName, name, false);
}

int32_t GetEnvEntryType(const t_settingKey& key) {
    const t_envEntryBase* e = FindEnvEntry(key);
    return e ? e->type : kTypeUnknown;
}

int32_t GetEnvEntrySyncMode(const t_settingKey& key) {
    const t_envEntryBase* e = FindEnvEntry(key);
    return e ? e->syncMode : kSyncRemote;
}

int32_t GetEnvEntryGroup(const t_settingKey& key) {
    const t_envEntryBase* e = FindEnvEntry(key);
    return e ? e->group : kNoGroup;
}

bool ShortEnvKey(n_porting::t_str& out, const char16_t* name) {
    out.Clear();
    for (const char16_t* p = name ? name : u""; *p; ++p) {
        if (n_porting::WcsChr16(u"aeiouy_", *p) || *p == out.GetLast()) continue;
        if (!out.AppendChar(*p)) return false;
    }
    return true;
}

}  // namespace n_userenv
