// The settings store: values in a pooled map inside the store's arena, typed
// reads with their fixed overrides, merging, and the binary image.
// One thread at a time per store.
#include "userenv/env_store.h"

#include <cstring>
#include <new>

#include "porting3/str16.h"
#include "porting3/version_reg.h"

namespace n_userenv {

using n_porting::t_heap;
using n_porting::t_str;

namespace {

uint64_t TextBytes(const char16_t* text) {
    return (uint64_t(text ? n_porting::WcsLen16(text) : 0) + 1) * 2;
}

bool IsText(uint32_t type) {
    return type == kTypeUnknown || type == kTypeString;
}

// env.ini holds one value a line: a line break would cut the value there and
// make the rest other keys.
bool HasLineBreak(const char16_t* text, size_t units) {
    for (size_t i = 0; i < units; ++i)
        if (text[i] == u'\r' || text[i] == u'\n') return true;
    return false;
}

}  // namespace

// Unsigned values above 2^31 must survive their text form, so the number is
// taken modulo 2^32 rather than clamped to the int range.
int32_t ParseSettingNumber(const char16_t* text) {
    const char16_t* p = text ? text : u"";
    while (*p == u' ' || *p == u'\t') ++p;
    const bool negative = *p == u'-';
    if (*p == u'-' || *p == u'+') ++p;
    uint32_t n = 0;
    for (; *p >= u'0' && *p <= u'9'; ++p) n = n * 10 + uint32_t(*p - u'0');
    return int32_t(negative ? 0u - n : n);
}

// ---- t_envValue ----

void t_envValue::Init() {
    type = kTypeUnknown;
    syncMode = 0;
    group = kNoGroup;
    payload = nullptr;
    capacity = 0;
    dirty = 0;
}

bool t_envValue::Reserve(t_heap& heap, uint64_t n) {
    if (payload && capacity >= n) return true;
    void* p = n <= SIZE_MAX ? heap.Alloc(size_t(n)) : nullptr;
    if (!p) return false;
    payload = p;
    capacity = n;
    return true;
}

uint64_t t_envValue::PayloadBytes() const {
    if (IsText(type)) return TextBytes(static_cast<const char16_t*>(payload));
    return type == kTypeBool ? 1 : 4;
}

bool t_envValue::SetFromText(t_heap& heap, const t_settingKey& key, const char16_t* text,
                             const char16_t* typeKeyword, const char16_t* syncKeyword) {
    dirty = 1;
    if (!text) text = u"";
    type = LookupValueType(typeKeyword);
    syncMode = LookupOrigin(syncKeyword);
    if (syncMode == 0) syncMode = uint32_t(GetEnvEntrySyncMode(key));
    if (group == kNoGroup) group = GetEnvEntryGroup(key);
    if (type == 0) type = uint32_t(GetEnvEntryType(key));
    const size_t units = n_porting::WcsNLen16(text, kMaxTextUnits + 1);
    if (units > kMaxTextUnits) return false;
    if (IsText(type)) {
        if (HasLineBreak(text, units) || !Reserve(heap, (uint64_t(units) + 1) * 2)) return false;
        std::memcpy(payload, text, (units + 1) * 2);
        return true;
    }
    const int32_t n = ParseSettingNumber(text);
    if (type == kTypeBool) {
        if (!Reserve(heap, 1)) return false;
        *static_cast<uint8_t*>(payload) = n != 0;
        return true;
    }
    if (!Reserve(heap, 4)) return false;
    std::memcpy(payload, &n, 4);
    return true;
}

int32_t t_envValue::ToInt() const {
    if (!payload) return 0;
    if (IsText(type)) return ParseSettingNumber(static_cast<const char16_t*>(payload));
    if (type == kTypeBool) return *static_cast<const uint8_t*>(payload) != 0;
    int32_t n;
    std::memcpy(&n, payload, 4);
    return n;
}

const char16_t* t_envValue::ToString() const {
    if (!IsText(type)) return nullptr;
    return payload ? static_cast<const char16_t*>(payload) : u"";
}

bool t_envValue::ToText(t_str& out) const {
    out.Clear();
    switch (type) {
        case kTypeUnknown:
        case kTypeString:
            return out.Assign(ToString());
        case kTypeBool:
            return out.Assign(ToInt() ? u"1" : u"0");
        case kTypeInt:
            return out.Format(u"%d", ToInt());
        case kTypeUInt:
            return out.Format(u"%u", ToUInt());
        default:
            return true;
    }
}

bool t_envValue::CopyFrom(const t_envValue& other, t_heap& heap) {
    const uint64_t n = other.payload ? other.PayloadBytes() : 0;
    if (n && !Reserve(heap, n)) return false;
    if (n)
        std::memcpy(payload, other.payload, size_t(n));
    else
        payload = nullptr;
    type = other.type;
    syncMode = other.syncMode;
    group = other.group;
    dirty = 1;
    return true;
}

// ---- t_env ----

t_env::t_env() : m_heap(kBlockSize) {}

void t_env::Reset() {
    m_heap.Reset();
    m_map = nullptr;
}

const t_envValue* t_env::FindValue(const t_settingKey& key) const {
    if (!m_map) return nullptr;
    const t_map::t_node* n = m_map->Find(key);
    return n ? n->value : nullptr;
}

const t_envValue* t_env::Lookup(const t_envEntryBase& e) const {
    return FindValue({e.id, e.name});
}

t_envValue* t_env::FindOrAdd(const t_settingKey& key) {
    if (!m_map) {
        void* p = m_heap.Alloc(sizeof(t_map));
        if (!p) return nullptr;
        m_map = new (p) t_map(&m_heap);
    }
    if (t_map::t_node* n = m_map->Find(key)) return n->value;
    const size_t bytes = (n_porting::WcsLen16(key.name) + 1) * 2;
    auto* name = static_cast<char16_t*>(m_heap.Alloc(bytes));
    auto* value = static_cast<t_envValue*>(m_heap.Alloc(sizeof(t_envValue)));
    if (!name || !value) return nullptr;
    std::memcpy(name, key.name, bytes);
    value->Init();
    return m_map->Insert({key.id, name}, value) ? value : nullptr;
}

t_envValue* t_env::WriteFrom(const t_envEntryBase& e, uint64_t bytes) {
    t_envValue* v = FindOrAdd({e.id, e.name});
    if (!v || !v->Reserve(m_heap, bytes)) return nullptr;
    v->type = uint32_t(e.type);
    v->syncMode = uint32_t(e.syncMode);
    v->group = e.group;
    v->dirty = 1;
    return v;
}

bool t_env::ReadBool(const t_envEntryBase& e) const {
    return ReadInt(e) != 0;
}

int32_t t_env::ReadInt(const t_envEntryBase& e) const {
    const t_envValue* v = Lookup(e);
    if (v) return v->ToInt();
    return e.type == kTypeBool ? e.def.b : e.type == kTypeUInt ? int32_t(e.def.u) : e.def.i;
}

bool t_env::GetBool(const t_envEntryBase& e) const {
    switch (e.id) {
        case n_envKey::InputStatistics:
        case n_envKey::IntelligentDeleteWord:
        case n_envKey::AllowArt:
            return true;
        case n_envKey::SelectStyle:
            return GetBool(EnvEntry(n_envKey::ConvertStyle)) && ReadBool(e);
        default:
            return ReadBool(e);
    }
}

int32_t t_env::GetInt(const t_envEntryBase& e) const {
    if (e.id == n_envKey::ArtWordMode) return 1;
    if (e.id == n_envKey::HanziSet) return 5;
    return ReadInt(e);
}

uint32_t t_env::GetUInt(const t_envEntryBase& e) const {
    return uint32_t(ReadInt(e));
}

const char16_t* t_env::GetString(const t_envEntryBase& e) const {
    const t_envValue* v = Lookup(e);
    if (v) return v->ToString();
    return e.type == kTypeString ? e.def.s : nullptr;
}

bool t_env::SetBool(const t_envEntryBase& e, bool v) {
    m_modified = 1;
    t_envValue* value = WriteFrom(e, 1);
    if (value) *static_cast<uint8_t*>(value->payload) = v;
    return value != nullptr;
}

bool t_env::SetInt(const t_envEntryBase& e, int32_t v) {
    m_modified = 1;
    t_envValue* value = WriteFrom(e, 4);
    if (value) std::memcpy(value->payload, &v, 4);
    return value != nullptr;
}

bool t_env::SetUInt(const t_envEntryBase& e, uint32_t v) {
    return SetInt(e, int32_t(v));
}

bool t_env::SetString(const t_envEntryBase& e, const char16_t* v) {
    m_modified = 1;
    if (!v) v = u"";
    const size_t units = n_porting::WcsNLen16(v, t_envValue::kMaxTextUnits + 1);
    if (units > t_envValue::kMaxTextUnits || HasLineBreak(v, units)) return false;
    // The text may live in the value's own payload: copy it out first.
    t_str copy;
    if (!copy.AssignN(v, units)) return false;
    t_envValue* value = WriteFrom(e, (uint64_t(units) + 1) * 2);
    if (value) std::memcpy(value->payload, copy.GetStr(), (units + 1) * 2);
    return value != nullptr;
}

namespace {
const t_envEntryBase* Typed(const char16_t* name, int32_t type) {
    const t_envEntryBase* e = FindEnvEntryExact(name);
    return e && e->type == type ? e : nullptr;
}
}  // namespace

int32_t t_env::GetIntByName(const char16_t* name) const {
    const t_envEntryBase* e = Typed(name, kTypeInt);
    return e ? ReadInt(*e) : 0;
}
uint32_t t_env::GetUIntByName(const char16_t* name) const {
    const t_envEntryBase* e = Typed(name, kTypeUInt);
    return e ? uint32_t(ReadInt(*e)) : 0;
}
bool t_env::GetBoolByName(const char16_t* name) const {
    const t_envEntryBase* e = Typed(name, kTypeBool);
    return e && ReadBool(*e);
}
const char16_t* t_env::GetStringByName(const char16_t* name) const {
    const t_envEntryBase* e = Typed(name, kTypeString);
    return e ? GetString(*e) : nullptr;
}

bool t_env::SetIntByName(const char16_t* name, int32_t v) {
    const t_envEntryBase* e = Typed(name, kTypeInt);
    const uint8_t flag = m_modified;
    const bool ok = e && SetInt(*e, v);
    m_modified = flag;
    return ok;
}
bool t_env::SetUIntByName(const char16_t* name, uint32_t v) {
    const t_envEntryBase* e = Typed(name, kTypeUInt);
    const uint8_t flag = m_modified;
    const bool ok = e && SetUInt(*e, v);
    m_modified = flag;
    return ok;
}
bool t_env::SetBoolByName(const char16_t* name, bool v) {
    const t_envEntryBase* e = Typed(name, kTypeBool);
    const uint8_t flag = m_modified;
    const bool ok = e && SetBool(*e, v);
    m_modified = flag;
    return ok;
}
bool t_env::SetStringByName(const char16_t* name, const char16_t* v) {
    const t_envEntryBase* e = Typed(name, kTypeString);
    const uint8_t flag = m_modified;
    const bool ok = e && SetString(*e, v);
    m_modified = flag;
    return ok;
}

void t_env::Remove(const t_envEntryBase& e) {
    if (m_map) m_map->Erase(m_map->Find({e.id, e.name}));
}

bool t_env::StoreValue(const t_settingKey& key, const t_envValue& value) {
    t_envValue* v = FindOrAdd(key);
    return v && v->CopyFrom(value, m_heap);
}

int t_env::Merge(t_env& dest, n_porting::t_errorContext& ctx, t_env& source, bool bumpGroups) {
    if (source.m_map) {
        for (t_map::t_node* n = source.m_map->First(); n; n = source.m_map->Next(n)) {
            t_envValue* v = n->value;
            if (!v->dirty) continue;
            if (!dest.StoreValue(n->key, *v)) {
                ctx.SetError(u"合并设置失败：内存不足");
                return 0;
            }
            v->dirty = 0;
            if (bumpGroups && v->group != kNoGroup)
                n_porting::t_versionReg::UpdateVersion(v->group);
        }
    }
    source.m_modified = 0;
    return 1;
}

bool t_env::CopyFrom(const t_env& source) {
    Reset();
    if (!source.m_map) return true;
    for (const t_map::t_node* n = source.m_map->First(); n; n = source.m_map->Next(n))
        if (!StoreValue(n->key, *n->value)) return false;
    return true;
}

void t_env::ClearDirty() {
    if (m_map)
        for (t_map::t_node* n = m_map->First(); n; n = m_map->Next(n)) n->value->dirty = 0;
    m_modified = 0;
}

// ---- the image ----

namespace {
constexpr uint64_t kRecordFixedBytes = 2 + 4 + 1 + 1 + 4;  // terminator, id, type, sync, size
}

uint64_t t_env::GetImageSize() const {
    uint64_t size = 4 + 2;
    if (m_map)
        for (const t_map::t_node* n = m_map->First(); n; n = m_map->Next(n))
            size += 2 * uint64_t(n_porting::WcsLen16(n->key.name)) + kRecordFixedBytes +
                    n->value->PayloadBytes();
    return size;
}

bool t_env::WriteImage(void* buffer, uint64_t capacity) const {
    const uint64_t size = GetImageSize();
    if (!buffer || size > 0xFFFFFFFFull || size > capacity) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    const uint32_t size32 = uint32_t(size);
    std::memcpy(out, &size32, 4);
    uint64_t at = 4;
    if (m_map) {
        for (const t_map::t_node* n = m_map->First(); n; n = m_map->Next(n)) {
            const t_envValue& v = *n->value;
            const uint64_t nameBytes = 2 * uint64_t(n_porting::WcsLen16(n->key.name)) + 2;
            std::memcpy(out + at, n->key.name, nameBytes);
            at += nameBytes;
            std::memcpy(out + at, &n->key.id, 4);
            out[at + 4] = uint8_t(v.type);
            out[at + 5] = uint8_t(v.syncMode);
            const uint32_t payloadBytes = uint32_t(v.PayloadBytes());
            std::memcpy(out + at + 6, &payloadBytes, 4);
            at += 10;
            if (v.payload)
                std::memcpy(out + at, v.payload, payloadBytes);
            else
                std::memset(out + at, 0, payloadBytes);
            at += payloadBytes;
        }
    }
    out[at] = out[at + 1] = 0;
    return true;
}

int t_env::ReadImage(const void* image, uint64_t available) {
    Reset();
    const auto* in = static_cast<const uint8_t*>(image);
    uint32_t total = 0;
    if (!in || available < 6) return 0;
    std::memcpy(&total, in, 4);
    if (total < 6 || total > available) return 0;
    auto unitAt = [in](uint64_t at) { return char16_t(in[at] | (in[at + 1] << 8)); };
    uint64_t at = 4;
    t_str name;
    for (;;) {
        if (at + 2 > total) break;
        if (unitAt(at) == 0) {
            if (at + 2 == total) return 1;  // the terminator ends the image exactly
            break;
        }
        uint64_t end = at;
        while (end + 2 <= total && unitAt(end) != 0) end += 2;
        if (end + kRecordFixedBytes > total) break;
        name.Clear();
        for (uint64_t p = at; p < end; p += 2)
            if (!name.AppendChar(unitAt(p))) break;
        if (name.GetLength() != (end - at) / 2) break;
        uint32_t id, payloadBytes;
        std::memcpy(&id, in + end + 2, 4);
        const uint8_t type = in[end + 6];
        const uint8_t sync = in[end + 7];
        std::memcpy(&payloadBytes, in + end + 8, 4);
        at = end + kRecordFixedBytes;
        if (payloadBytes > t_envValue::kMaxPayloadBytes || payloadBytes > total - at) break;
        const uint8_t* payload = in + at;
        at += payloadBytes;
        // Ids come from the registry: any other id would give the name a second key.
        if (type > kTypeString || id != GetEnvKeyId(name.GetStr())) break;
        if (IsText(type)) {
            // Whole units, the last one the terminator and no other zero unit.
            if (payloadBytes < 2 || payloadBytes % 2) break;
            bool ok = payload[payloadBytes - 1] == 0 && payload[payloadBytes - 2] == 0;
            for (uint32_t p = 0; ok && p + 2 < payloadBytes; p += 2)
                ok = payload[p] | payload[p + 1];
            if (!ok) break;
        } else if (payloadBytes != (type == kTypeBool ? 1u : 4u)) {
            break;
        }
        t_envValue* v = FindOrAdd({id, name.GetStr()});
        if (!v || !v->Reserve(m_heap, payloadBytes)) break;
        std::memcpy(v->payload, payload, payloadBytes);
        v->type = type;
        v->syncMode = sync;
        v->group = kNoGroup;
        v->dirty = 1;
    }
    Reset();
    return 0;
}

}  // namespace n_userenv
