// The key-to-pinyin map over an editable table file.
//
// Image: one key table (letter hash, 27 buckets) of key strings, each key
// row linking a chain of 13-byte mapping rows:
//   u16 syllable id | u16 flags | i32 count | u8 state | u32 next
// and an extra block of 450 u32 syllable counters and two option bytes.
#include "kernel/lexicon/key_py_map.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/singleton.h"
#include "kernel/storage/table_builder.h"

using namespace n_tableFormat;

namespace {

// Offsets inside a mapping row, checked against the image's layout on attach.
constexpr uint32_t kIdOffset = 0, kFlagsOffset = 2, kCountOffset = 4, kStateOffset = 8;
constexpr uint32_t kAttriRowSize = 13;

bool LessByCount(const uint8_t* a, const uint8_t* b) {
    return RdI32(a + kCountOffset) < RdI32(b + kCountOffset);
}
int RemoveNothing(uint8_t*, uint8_t*, void*, int) {
    return 1;
}
int RemovedWhenNegative(const uint8_t* row, void*) {
    return RdI32(row + kCountOffset) < 0 ? kRowRemoved : kRowLive;
}

void Descriptors(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
                 std::vector<uint32_t>& datas) {
    t_keyDesc key;
    key.keyType = 1;
    key.fieldTypes = {0, 6, 6, 7, 2};  // key, id, flags, count, state
    key.attriIndex = 0;
    key.keyDataTable = 0;
    key.valueDataTable = kNone;
    key.capacity = t_keyPyMap::kKeyRows;
    t_attriDesc attri;
    attri.fieldCount = 4;
    attri.ownerKey = 0;
    attri.dataTable = kNone;
    attri.capacity = t_keyPyMap::kAttriRows;
    keys = {key};
    attris = {attri};
    datas = {t_keyPyMap::kKeyBytes};
}

}  // namespace

// A key (and optionally a mapping) in item encoding: i16 byte length, UTF-16
// units, then id, flags, count and state.
struct t_keyPyMap::t_keyItem {
    uint8_t bytes[2 + 2 * kMaxKeyChars + 9];
    uint32_t keyBytes = 0;  // length word + units

    bool SetKey(const wchar_t* key) {
        if (!key || !key[0]) return false;
        const size_t n = wcsnlen(key, kMaxKeyChars + 1);
        if (n > kMaxKeyChars) return false;
        for (size_t i = 0; i < n; ++i) {
            if (uint32_t(key[i]) > 0xFFFF || (key[i] >= 0xD800 && key[i] <= 0xDFFF)) return false;
            Wr16(bytes + 2 + 2 * i, uint16_t(key[i]));
        }
        Wr16(bytes, uint16_t(2 * n));
        keyBytes = uint32_t(2 + 2 * n);
        return true;
    }
    uint8_t* Value() { return bytes + keyBytes; }
    uint32_t SetMapping(uint16_t id, uint16_t flags, int32_t count, uint8_t state) {
        uint8_t* v = Value();
        Wr16(v + kIdOffset, id);
        Wr16(v + kFlagsOffset, flags);
        Wr32(v + kCountOffset, uint32_t(count));
        v[kStateOffset] = state;
        return keyBytes + 9;
    }
    const t_lstr* Key() const { return reinterpret_cast<const t_lstr*>(bytes); }
};

t_keyPyMap::t_keyPyMap()
    : m_table(&LessByCount, &RemoveNothing, nullptr, &RemovedWhenNegative, nullptr, kExtraSize) {}

t_keyPyMap::t_keyPyMap(t_growing) : m_table(&OnGrown, this, kExtraSize) {}

uint8_t* t_keyPyMap::OnGrown(const t_grownImage& image, void* context) {
    auto* self = static_cast<t_keyPyMap*>(context);
    if (image.totalSize > kMaxGrownBytes) {
        self->m_full = true;
        return nullptr;
    }
    // The doubled image was put together apart from the old one, so the old
    // buffer can go now.
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[image.totalSize]);
    if (!grown) {
        self->m_full = true;
        return nullptr;
    }
    self->m_ownImage = std::move(grown);
    return self->m_ownImage.get();
}

t_keyPyMap::~t_keyPyMap() = default;

bool t_keyPyMap::Attach(void* image, int64_t size) {
    SetReady(false);
    Changed();
    m_table.Detach();
    m_full = false;
    m_ownMade = false;
    if (!image || size <= 0) return false;
    if (!m_table.AttachWithExtra(image, kFormatVersion, {}, {}, size)) return false;
    // Only this map's own layout is accepted: the row offsets above rely on it.
    const t_tableLayout& layout = m_table.GetLayout();
    bool ok = layout.keys.size() == 1 && layout.attris.size() == 1 && layout.datas.size() == 1 &&
              layout.keys[0].keyType == 1 &&
              layout.keys[0].fieldTypes == std::vector<int16_t>{0, 6, 6, 7, 2} &&
              layout.keys[0].attriIndex == 0 && layout.keys[0].keyDataTable == 0 &&
              layout.attris[0].fieldCount == 4 &&
              m_table.GetAttriRowSize(0) == int32_t(kAttriRowSize) &&
              m_table.GetExtraData(kExtraSize) != nullptr;
    if (ok) {
        const t_keyLayout& k = layout.keyLayouts[0];
        ok = k.keyRowFields == 1 && k.attriFieldOffsets.size() == 4 &&
             k.attriFieldOffsets[0] == kIdOffset && k.attriFieldOffsets[1] == kFlagsOffset &&
             k.attriFieldOffsets[2] == kCountOffset && k.attriFieldOffsets[3] == kStateOffset;
    }
    if (!ok) {
        m_table.Detach();
        return false;
    }
    SetReady(true);
    return true;
}

bool t_keyPyMap::StartEmpty() {
    std::vector<uint8_t> empty;
    if (!BuildEmptyImage(empty)) return false;
    std::unique_ptr<uint8_t[]> own(new (std::nothrow) uint8_t[empty.size()]);
    if (!own) return false;
    std::memcpy(own.get(), empty.data(), empty.size());
    if (!Attach(own.get(), int64_t(empty.size()))) return false;
    m_ownImage = std::move(own);
    m_ownMade = true;
    return true;
}

bool t_keyPyMap::Ready() const {
    return IsReady() && m_table.IsAttached() && Extra() != nullptr;
}

uint8_t* t_keyPyMap::Extra() const {
    return m_table.GetExtraData(kExtraSize);
}

bool t_keyPyMap::Save(const void*, int32_t) {
    t_configuration& store = t_singleton<t_configurationImpl>::Get();
    const wchar_t* scheme = store.GetString(n_config::ShuangPinName);
    const t_schemeLoadSettings settings{GetConfiguredSysDir(), GetConfiguredUserDir(),
                                        scheme ? scheme : L""};
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    uint8_t* image = nullptr;
    uint32_t size = 0;
    m_buildNotes.clear();
    if (!t_keyPyMapBuilder::Build(arena, &image, &size, ReadKeyMapOptions(store), settings,
                                  &m_buildNotes))
        return false;
    return CommitImage(image, int32_t(size));
}

bool t_keyPyMap::Locate(const wchar_t* key, uint16_t id, t_keyItem& item,
                        t_editLocation& loc) const {
    if (!item.SetKey(key)) return false;
    item.SetMapping(id, 0, 0, 0);
    return m_table.FindKeyValue(item.bytes, item.Value(), &loc) && loc.itemFound;
}

bool t_keyPyMap::WriteAttri(const t_editLocation& loc, uint32_t offset, const void* value,
                            uint32_t len) {
    Changed();
    return m_table.SetFieldAt(value, len, loc.attriRow, offset, false);
}

void t_keyPyMap::AddToCounter(int id, int64_t delta) {
    Changed();
    uint8_t* extra = Extra();
    if (!extra || id < 0 || id >= kCounterCount) return;
    uint8_t* p = extra + 4 * size_t(id);
    int64_t v = int64_t(Rd32(p)) + delta;
    if (v < 0) v = 0;
    if (v > int64_t(UINT32_MAX)) v = UINT32_MAX;
    Wr32(p, uint32_t(v));
}

int t_keyPyMap::AddMapping(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly) {
    return Found(key, id, AddMappingUnchecked(key, id, flags, smartOnly));
}

int t_keyPyMap::AddNewMapping(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly) {
    if (!Ready()) return 0;
    t_keyItem item;
    if (!item.SetKey(key)) return 0;
    const uint16_t stored = smartOnly ? uint16_t(flags | kKeyFlagSmartOnly) : flags;
    return Found(key, id, AddLocatedMapping(item, id, stored, 0, kKeyStateNew));
}

int t_keyPyMap::AddMappingUnchecked(const wchar_t* key, uint16_t id, uint16_t flags,
                                    bool smartOnly) {
    if (!Ready()) return 0;
    if (smartOnly) flags |= kKeyFlagSmartOnly;
    t_keyItem item;
    t_editLocation loc;
    if (Locate(key, id, item, loc)) {
        const uint16_t stored = Rd16(loc.attriRow.ptr + kFlagsOffset);
        const uint16_t merged = MergeMappingFlags(stored, flags);
        uint8_t v[2];
        Wr16(v, merged);
        if (merged != stored && !WriteAttri(loc, kFlagsOffset, v, 2)) return 0;
        return 1;
    }
    return AddLocatedMapping(item, id, flags, 0, kKeyStateNew);
}

int t_keyPyMap::AddLocatedMapping(t_keyItem& item, uint16_t id, uint16_t flags, int32_t count,
                                  uint8_t state) {
    if (!item.keyBytes || m_full) return 0;
    Changed();
    const uint32_t len = item.SetMapping(id, flags, count, state);
    const int result = m_table.AddItem(item.bytes, len, 0, nullptr, nullptr);
    if (result != 0 || !m_full) return result;
    // The growth refused at the limit came after the row went in: it stays,
    // and the rows from here on are refused above.
    t_editLocation loc;
    return m_table.FindKeyValue(item.bytes, item.Value(), &loc) && loc.itemFound ? 4 : 0;
}

int t_keyPyMap::Found(const wchar_t* key, uint16_t id, int result) const {
    // A damaged image can take a row, or hold one, where the lookups do not
    // find it: such an add is a failure, not a mapping the next save drops.
    // An image made here is not damaged, and a build is spared the lookups.
    if (m_ownMade) return result;
    t_keyItem item;
    t_editLocation loc;
    if (result != 0 && (!Locate(key, id, item, loc) || FindKey(key, nullptr) < 0)) return 0;
    return result;
}

bool t_keyPyMap::RaiseCount(const t_editLocation& loc, uint16_t id, int32_t count) {
    const int32_t storedCount = RdI32(loc.attriRow.ptr + kCountOffset);
    if (count <= storedCount) return true;
    uint8_t v[4];
    Wr32(v, uint32_t(count));
    if (!WriteAttri(loc, kCountOffset, v, 4)) return false;
    AddToCounter(id, int64_t(count) - storedCount);
    return true;
}

int t_keyPyMap::AddEntry(const wchar_t* key, uint16_t id, uint16_t flags, int32_t count,
                         uint8_t state) {
    return Found(key, id, AddEntryUnchecked(key, id, flags, count, state));
}

int t_keyPyMap::AddEntryUnchecked(const wchar_t* key, uint16_t id, uint16_t flags, int32_t count,
                                  uint8_t state) {
    if (!Ready()) return 0;
    t_keyItem item;
    t_editLocation loc;
    if (!Locate(key, id, item, loc)) {
        return AddLocatedMapping(item, id, flags, count, state);
    }
    if (!RaiseCount(loc, id, count)) return 0;
    if (state != 0 && loc.attriRow.ptr[kStateOffset] == 0) {
        uint8_t f[2];
        Wr16(f, flags);
        if (!WriteAttri(loc, kStateOffset, &state, 1) || !WriteAttri(loc, kFlagsOffset, f, 2))
            return 0;
    }
    return 1;
}

int t_keyPyMap::MergeEntry(const wchar_t* key, uint16_t id, uint16_t flags, int32_t count,
                           uint8_t state) {
    return Found(key, id, MergeEntryUnchecked(key, id, flags, count, state));
}

int t_keyPyMap::MergeEntryUnchecked(const wchar_t* key, uint16_t id, uint16_t flags, int32_t count,
                                    uint8_t state) {
    if (!Ready()) return 0;
    t_keyItem item;
    t_editLocation loc;
    if (!Locate(key, id, item, loc)) {
        // A mapping the fresh map does not make stays, but switched off.
        return AddLocatedMapping(item, id, flags, count, kKeyStateDisabled);
    }
    if (!RaiseCount(loc, id, count)) return 0;
    const uint16_t storedFlags = Rd16(loc.attriRow.ptr + kFlagsOffset);
    const uint8_t storedState = loc.attriRow.ptr[kStateOffset];
    uint8_t newState = storedState;
    if (storedFlags != flags)
        newState = kKeyStateConflict;
    else if (state == 0 && storedState == kKeyStateNew)
        newState = kKeyStateNormal;
    else if (state != 0 && storedState == 0)
        newState = state;
    if (newState != storedState && !WriteAttri(loc, kStateOffset, &newState, 1)) return 0;
    return 1;
}

bool t_keyPyMap::DisableEntry(const wchar_t* key, uint16_t id) {
    if (!Ready()) return false;
    t_keyItem item;
    t_editLocation loc;
    if (!Locate(key, id, item, loc)) return false;
    const uint8_t state = kKeyStateDisabled;
    if (!WriteAttri(loc, kStateOffset, &state, 1)) return false;
    RecordChange(t_changeRecord(kChangeDisable).PutLstr(item.Key()).Put16(id));
    return true;
}

namespace {

// A key of up to nine ASCII characters packed behind a leading 1 bit, so
// that every such key has its own number; 0 for any other key.
uint64_t PackKey(const wchar_t* key) {
    if (!key) return 0;
    uint64_t packed = 1;
    for (int i = 0; key[i]; ++i) {
        if (i == 9 || key[i] <= 0 || key[i] >= 128) return 0;
        packed = packed << 7 | uint64_t(key[i]);
    }
    return packed == 1 ? 0 : packed;
}

size_t MemoSlot(uint64_t key, size_t slots) {
    return size_t((key * 0x9E3779B97F4A7C15ull) >> 40) % slots;
}

}  // namespace

int32_t t_keyPyMap::FindKey(const wchar_t* key, bool* longerFollows) const {
    const uint64_t packed = Ready() ? PackKey(key) : 0;
    if (!packed) return FindKeyUncached(key, longerFollows);
    if (!m_keyMemo) m_keyMemo.reset(new (std::nothrow) t_keyMemo[kKeyMemoSlots]);
    if (!m_keyMemo) return FindKeyUncached(key, longerFollows);
    t_keyMemo& m = m_keyMemo[MemoSlot(packed, kKeyMemoSlots)];
    const uint64_t generation = m_table.GetGeneration();
    if (m.key != packed || m.stamp != m_stamp || m.generation != generation) {
        m.row = FindKeyUncached(key, &m.longer);
        m.key = packed;
        m.stamp = m_stamp;
        m.generation = generation;
    }
    if (longerFollows) *longerFollows = m.longer;
    return m.row;
}

int32_t t_keyPyMap::FindKeyUncached(const wchar_t* key, bool* longerFollows) const {
    if (longerFollows) *longerFollows = false;
    if (!Ready()) return -1;
    t_keyItem item;
    if (!item.SetKey(key)) return -1;
    int32_t row = 0, bucketStart = 0, bucket = -1;
    const bool found = m_table.Find(item.Key(), 0, &row, &bucketStart, &bucket);
    if (bucket < 0) return -1;
    if (longerFollows) {
        const int32_t next = found ? row + 1 : row;
        if (next < m_table.GetBucketRowCount(0, bucket)) {
            const t_lstr* stored = m_table.Reader().GetKeyRow(0, bucketStart, next);
            *longerFollows = stored && LstrCompare(stored, item.Key()) == 1;
        }
    }
    if (!found) return -1;
    const int64_t offset = int64_t(bucketStart) + int64_t(row) * m_table.GetKeyRowSize(0);
    return offset > INT32_MAX ? -1 : int32_t(offset);
}

float t_keyPyMap::MappingWeight(uint16_t flags, int32_t count, uint32_t counter) {
    if (!(flags & (kKeyFlagAbbrev | kKeyFlagPartial | kKeyFlagSmartOnly))) return 1.0f;
    // Below 100 the curve's denominator reaches 0 (at 90) and turns negative.
    const float c = counter < kCounterStart ? float(kCounterStart) : float(counter);
    const float w = ((c - 100.0f) / (c + 10.0f - 100.0f) + 1.0f) * 0.5f;
    const float base = (flags & (kKeyFlagAbbrev | kKeyFlagPartial)) ? 20.0f : 80.0f;
    return (float(count) + base) / c * w;
}

uint32_t t_keyPyMap::GetCounter(int id) const {
    const uint8_t* extra = Ready() ? Extra() : nullptr;
    if (!extra || id < 0 || id >= kCounterCount) return 0;
    return Rd32(extra + 4 * size_t(id));
}

int t_keyPyMap::List(int32_t keyIndex, uint16_t* ids, float* weights, uint16_t* flags, int max,
                     bool smart) const {
    if (!Ready() || keyIndex < 0 || max <= 0) return 0;
    if (!ids || !weights || !flags)
        return ListUncached(keyIndex, ids, weights, flags, max, smart, nullptr);
    if (!m_listMemo) m_listMemo.reset(new (std::nothrow) t_listMemo[kListMemoSlots]);
    if (!m_listMemo) return ListUncached(keyIndex, ids, weights, flags, max, smart, nullptr);
    t_listMemo& m =
        m_listMemo[MemoSlot(uint64_t(keyIndex) * 2 + (smart ? 1 : 0) + 1, kListMemoSlots)];
    const uint64_t generation = m_table.GetGeneration();
    if (m.keyIndex == keyIndex && m.smart == smart && m.stamp == m_stamp &&
        m.generation == generation) {
        const int n = std::min<int>(m.count, max);
        std::copy(m.ids, m.ids + n, ids);
        std::copy(m.flags, m.flags + n, flags);
        std::copy(m.weights, m.weights + n, weights);
        return n;
    }
    bool whole = false;
    const int n = ListUncached(keyIndex, ids, weights, flags, max, smart, &whole);
    // Only a whole list is kept: a shorter max would otherwise hide the rest.
    if (whole && n <= kListMemoIds) {
        m.keyIndex = keyIndex;
        m.smart = smart;
        m.count = uint8_t(n);
        m.stamp = m_stamp;
        m.generation = generation;
        std::copy(ids, ids + n, m.ids);
        std::copy(flags, flags + n, m.flags);
        std::copy(weights, weights + n, m.weights);
    }
    return n;
}

int t_keyPyMap::ListUncached(int32_t keyIndex, uint16_t* ids, float* weights, uint16_t* flags,
                             int max, bool smart, bool* whole) const {
    if (whole) *whole = false;
    if (!Ready() || keyIndex < 0 || max <= 0) return 0;
    const int32_t rowSize = m_table.GetKeyRowSize(0);
    if (rowSize <= 0 || keyIndex % rowSize != 0) return 0;
    const uint8_t* row = m_table.GetBucketRow(0, 0, keyIndex);
    if (!row) return 0;
    const t_keyLayout& L = m_table.GetLayout().keyLayouts[0];
    // Walked in place (no allocation on the keystroke path); a chain longer
    // than the table's rows is damaged and ends the walk.
    const int64_t maxSteps = m_table.GetAttriRowCount(0);
    uint32_t offset = Rd32(row + L.linkOffset);
    int n = 0;
    for (int64_t step = 0; offset != kNone && step < maxSteps && n < max; ++step) {
        const uint8_t* a = m_table.GetAttriRowPtr(0, offset);
        if (!a) break;
        offset = Rd32(a + L.attriLinkOffset);
        const uint8_t state = a[kStateOffset];
        const uint16_t f = Rd16(a + kFlagsOffset);
        if (state == kKeyStateDisabled) continue;
        if (!smart && (f & kKeyFlagSmartOnly)) continue;
        const uint16_t id = Rd16(a + kIdOffset);
        if (ids) ids[n] = id;
        if (flags) flags[n] = f;
        if (weights) {
            if (smart)
                weights[n] = (f & kKeyFlagSmartOnly) ? 0.5f : 1.0f;
            else
                weights[n] = MappingWeight(f, RdI32(a + kCountOffset),
                                           id < kCounterCount ? GetCounter(id) : kCounterStart);
        }
        ++n;
    }
    if (whole) *whole = offset == kNone;
    return n;
}

int t_keyPyMap::GetPinyinIds(int32_t keyIndex, uint16_t* ids, float* weights, uint16_t* flags,
                             int max) const {
    return List(keyIndex, ids, weights, flags, max, m_smartFuzzy);
}

int t_keyPyMap::GetAllPinyinIds(int32_t keyIndex, uint16_t* ids, float* weights, uint16_t* flags,
                                int max) const {
    return List(keyIndex, ids, weights, flags, max, true);
}

bool t_keyPyMap::IsKeyMappedToPy(const wchar_t* key, int id) const {
    if (id < 0 || id >= kSyllableCount) return false;
    const int32_t index = FindKey(key, nullptr);
    if (index < 0) return false;
    uint16_t ids[kMaxListed], flags[kMaxListed];
    const int n = List(index, ids, nullptr, flags, kMaxListed, true);
    for (int i = 0; i < n; ++i) {
        if (ids[i] == id)
            return (flags[i] & (m_smartFuzzy ? kKeyFlagSmartOnly : kKeyFlagFuzzy)) != 0;
    }
    return false;
}

bool t_keyPyMap::IncreaseUsage(int32_t keyIndex, int id) {
    if (!Ready() || id < 0 || id >= kCounterCount || keyIndex < 0) return false;
    const int32_t rowSize = m_table.GetKeyRowSize(0);
    if (rowSize <= 0 || keyIndex % rowSize != 0) return false;
    const uint8_t* row = m_table.GetBucketRow(0, 0, keyIndex);
    const t_lstr* key = row ? m_table.GetRowKey(0, row) : nullptr;
    if (!key) return false;
    AddToCounter(id, 1);
    uint8_t value[2];
    Wr16(value, uint16_t(id));
    t_editLocation loc;
    if (!m_table.FindKeyValue(reinterpret_cast<const uint8_t*>(key), value, &loc) || !loc.itemFound)
        return false;
    const int32_t count = RdI32(loc.attriRow.ptr + kCountOffset);
    RecordChange(t_changeRecord(kChangeUsage).PutLstr(key).Put16(uint16_t(id)).Put32(1));
    if (count == INT32_MAX) return true;
    uint8_t v[4];
    Wr32(v, uint32_t(count + 1));
    return WriteAttri(loc, kCountOffset, v, 4);
}

bool t_keyPyMap::AddUsage(const wchar_t* key, int id, int32_t delta) {
    if (!Ready() || id < 0 || id >= kCounterCount) return false;
    if (FindKey(key, nullptr) < 0) return false;
    AddToCounter(id, delta);
    t_keyItem item;
    t_editLocation loc;
    if (!Locate(key, uint16_t(id), item, loc)) return false;
    int64_t count = int64_t(RdI32(loc.attriRow.ptr + kCountOffset)) + delta;
    if (count > INT32_MAX) count = INT32_MAX;
    if (count < INT32_MIN) count = INT32_MIN;
    uint8_t v[4];
    Wr32(v, uint32_t(int32_t(count)));
    if (!WriteAttri(loc, kCountOffset, v, 4)) return false;
    RecordChange(t_changeRecord(kChangeUsage)
                     .PutLstr(item.Key())
                     .Put16(uint16_t(id))
                     .Put32(uint32_t(delta)));
    return true;
}

bool t_keyPyMap::ApplyChange(t_changeReader& change) {
    const t_lstr* stored = nullptr;
    uint16_t id = 0;
    if (!change.GetLstr(&stored) || !change.Get16(&id)) return false;
    const uint16_t n = LstrGetLength(stored);
    if (n == 0 || n > kMaxKeyChars) return false;
    wchar_t key[kMaxKeyChars + 1];
    for (uint16_t i = 0; i < n; ++i) key[i] = wchar_t(LstrGetUnit(stored, i));
    key[n] = L'\0';
    uint32_t delta = 0;
    if (change.Op() == kChangeUsage)
        return change.Get32(&delta) && AddUsage(key, id, int32_t(delta));
    return change.Op() == kChangeDisable && DisableEntry(key, id);
}

uint8_t t_keyPyMap::GetExtraFlagA() const {
    const uint8_t* extra = Ready() ? Extra() : nullptr;
    return extra ? extra[kOptionAOffset] : 0;
}

uint8_t t_keyPyMap::GetExtraFlagB() const {
    const uint8_t* extra = Ready() ? Extra() : nullptr;
    return extra ? extra[kOptionBOffset] : 0;
}

void t_keyPyMap::SetExtraFlagA(uint8_t value) {
    if (uint8_t* extra = Ready() ? Extra() : nullptr) extra[kOptionAOffset] = value;
}

void t_keyPyMap::SetExtraFlagB(uint8_t value) {
    if (uint8_t* extra = Ready() ? Extra() : nullptr) extra[kOptionBOffset] = value;
}

bool t_keyPyMap::SetCounters(const uint8_t* counters) {
    uint8_t* extra = Ready() ? Extra() : nullptr;
    if (!extra || !counters) return false;
    Changed();
    std::memcpy(extra, counters, 4 * size_t(kCounterCount));
    return true;
}

bool t_keyPyMap::GetAllItems(t_scopeHeap& arena, t_keyMapItem** items, int* count,
                             const uint8_t** extra) const {
    if (!items || !count || !Ready()) return false;
    *items = nullptr;
    *count = 0;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!m_table.CollectItems(0, pairs)) return false;
    auto* out = static_cast<t_keyMapItem*>(
        arena.Alloc(sizeof(t_keyMapItem) * (pairs.empty() ? 1 : pairs.size())));
    if (!out) return false;
    int n = 0;
    for (const auto& [keyRow, attri] : pairs) {
        const t_lstr* key = m_table.GetRowKey(0, keyRow);
        if (!key || !attri) return false;
        const uint16_t units = LstrGetLength(key);
        auto* text = static_cast<wchar_t*>(arena.Alloc(sizeof(wchar_t) * (size_t(units) + 1)));
        if (!text) return false;
        for (uint16_t i = 0; i < units; ++i) text[i] = wchar_t(LstrGetUnit(key, i));
        text[units] = L'\0';
        out[n++] = {text, Rd16(attri + kIdOffset), Rd16(attri + kFlagsOffset),
                    RdI32(attri + kCountOffset), attri[kStateOffset]};
    }
    *items = out;
    *count = n;
    if (extra) *extra = Extra();
    return true;
}

bool t_keyPyMap::SaveFile(const wchar_t* path) const {
    if (!path || !path[0] || !Ready()) return false;
    t_tempPath temp(path);
    if (!temp.Append(L".temp") || !temp.IsValid()) return false;
    if (!m_table.SaveToFile(temp.GetFull())) return false;
    const t_pathName target(path);
    if (!PathRename(temp, target)) return false;  // temp's destructor removes the work file
    temp.Forget();
    char bytes[kPathBufBytes];
    return target.ToBytes(bytes, sizeof bytes) && SyncParentDir(bytes);
}

bool t_keyPyMap::BuildEmptyImage(std::vector<uint8_t>& out) {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    Descriptors(keys, attris, datas);
    std::vector<uint8_t> extra(kExtraSize, 0);
    for (int i = 0; i < kCounterCount; ++i) Wr32(extra.data() + 4 * i, kCounterStart);
    t_tableFileBuilder builder(keys, attris, datas, kFormatVersion, kFormatVersion, {}, {},
                               extra.data(), uint32_t(extra.size()));
    if (!builder.IsValid()) return false;
    const int32_t size = builder.GetTotalSize(nullptr);
    if (size <= 0) return false;
    out.assign(size_t(size), 0);
    return builder.BuildToBuffer(out.data(), size);
}

bool t_keyPyMap::WriteImage(const wchar_t* path) {
    std::vector<uint8_t> image;
    if (!path || !BuildEmptyImage(image)) return false;
    const t_pathName target(path);
    return DictWriteFileSafely(target, image.data(), image.size());
}
