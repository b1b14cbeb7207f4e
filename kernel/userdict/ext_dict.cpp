// The user extension dictionary: lookups over its read-only image and the
// merge of a new image into its file.
//
// Image: one key table (PinyinId hash, 500 buckets) of readings in data
// table 0, each key row linking a chain of attribute rows:
//   u32 text offset (data table 1, plain text) | u16 frequency | u16 flags |
//   u32 stamp | u16 checksum | u16 extra count | u16 reserved | u32 next
#include "kernel/userdict/ext_dict.h"

#include <cstring>

#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/scope_heap.h"

using namespace n_tableFormat;

namespace {

const std::vector<int16_t> kFieldTypes = {10, 0, 6, 6, 7, 6, 6, 6};

// Extension files hold imported word lists: far below this.
constexpr int64_t kMaxExtFileBytes = int64_t(256) << 20;

// The whole file behind a u32 byte count, in the arena. Null for a missing,
// empty, unreadable or oversized file.
const uint8_t* ReadSizedImage(t_scopeHeap& arena, const wchar_t* path) {
    t_fdFile file;
    if (!path || !path[0] || !file.Open(path, kOpenRead)) return nullptr;
    const int64_t bytes = file.GetSize();
    if (bytes <= 0 || bytes > kMaxExtFileBytes) return nullptr;
    auto* buffer = static_cast<uint8_t*>(arena.Alloc(4 + size_t(bytes)));
    if (!buffer || !file.ReadExact(buffer + 4, size_t(bytes))) return nullptr;
    Wr32(buffer, uint32_t(bytes));
    return buffer;
}

}  // namespace

t_usrDictExtCore::t_usrDictExtCore() {
    m_table.SetBucketCount(0, kUsrDictExtBuckets);
}

t_usrDictExtCore::~t_usrDictExtCore() = default;

void t_usrDictExtCore::Describe(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
                                std::vector<uint32_t>& datas) {
    t_keyDesc key;
    key.keyType = 2;
    key.fieldTypes = kFieldTypes;
    key.attriIndex = 0;
    key.keyDataTable = 0;
    key.valueDataTable = kNone;
    t_attriDesc attri;
    attri.fieldCount = uint32_t(kFieldTypes.size() - 1);
    attri.ownerKey = 0;
    attri.dataTable = 1;
    keys = {key};
    attris = {attri};
    datas = {0, 0};
}

bool t_usrDictExtCore::InitBuilder(t_tableFileBuilder& builder) {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    Describe(keys, attris, datas);
    return builder.InitStoreWithBuckets(keys, attris, datas, kUsrDictExtVersion, kUsrDictExtVersion,
                                        {}, {}, {kUsrDictExtBuckets});
}

bool t_usrDictExtCore::Load(void* data, int32_t size) {
    SetReady(false);
    m_table.Detach();
    if (!data || size <= 0) return false;
    if (!m_table.Attach(data, kUsrDictExtVersion, size)) return false;
    // The offsets below rely on exactly this layout.
    const t_tableLayout& layout = m_table.GetLayout();
    bool ok = layout.keys.size() == 1 && layout.attris.size() == 1 && layout.datas.size() == 2 &&
              layout.keys[0].keyType == 2 && layout.keys[0].fieldTypes == kFieldTypes &&
              layout.keys[0].keyDataTable == 0 && layout.attris[0].dataTable == 1 &&
              m_table.GetBucketCount(0) == kUsrDictExtBuckets;
    if (ok) {
        const t_keyLayout& k = layout.keyLayouts[0];
        ok = k.hasAttri && k.keyRowFields == 1 &&
             k.attriFieldOffsets.size() == kUsrDictExtFields - 1;
        if (ok) {
            for (size_t i = 0; i + 1 < kUsrDictExtFields; ++i) m_off[i] = k.attriFieldOffsets[i];
            m_keyLink = k.linkOffset;
            m_attriLink = k.attriLinkOffset;
        }
    }
    if (!ok) {
        m_table.Detach();
        return false;
    }
    SetReady(true);
    return true;
}

bool t_usrDictExtCore::Ready() const {
    return IsReady() && m_table.IsAttached();
}

const uint8_t* t_usrDictExtCore::GroupRow(int32_t group) const {
    const int32_t rowSize = m_table.GetKeyRowSize(0);
    if (!Ready() || group < 0 || rowSize <= 0 || group % rowSize != 0) return nullptr;
    return m_table.GetBucketRow(0, 0, group);
}

template <class Fn>
void t_usrDictExtCore::WalkChain(const uint8_t* keyRow, Fn fn) const {
    // A chain longer than the table's rows is damaged: the walk ends there.
    const int64_t maxSteps = m_table.GetAttriRowCount(0);
    uint32_t offset = Rd32(keyRow + m_keyLink);
    for (int64_t step = 0; offset != kNone && step < maxSteps; ++step) {
        const uint8_t* row = m_table.GetAttriRowPtr(0, offset);
        if (!row || !fn(row)) return;
        offset = Rd32(row + m_attriLink);
    }
}

int32_t t_usrDictExtCore::Find(const t_lstr* reading, int* hasLonger) const {
    if (hasLonger) *hasLonger = 0;
    if (!Ready() || !reading) return -1;
    int32_t row = 0, start = 0, bucket = -1;
    const bool found = m_table.Find(reading, 0, &row, &start, &bucket);
    if (bucket < 0) return -1;
    if (hasLonger) {
        const int32_t used = m_table.GetBucketRowCount(0, bucket);
        for (int32_t n = row; n <= row + 1 && n < used; ++n) {
            const t_lstr* stored = m_table.GetKeyRow(0, start, n);
            if (stored && LstrCompare(stored, reading) == 1) {
                *hasLonger = 1;
                break;
            }
        }
    }
    if (!found) return -1;
    const int64_t group = int64_t(start) + int64_t(row) * m_table.GetKeyRowSize(0);
    return group > INT32_MAX ? -1 : int32_t(group);
}

bool t_usrDictExtCore::FindAll(const t_lstr* reading, int32_t* ids, const t_lstr** keys, int max,
                               int* count) const {
    if (count) *count = 0;
    if (!Ready() || !reading || !count) return false;
    int32_t row = 0, start = 0, bucket = -1;
    const bool found = m_table.Find(reading, 0, &row, &start, &bucket);
    if (bucket < 0) return false;
    const int32_t used = m_table.GetBucketRowCount(0, bucket);
    const int64_t rowSize = m_table.GetKeyRowSize(0);
    for (int32_t n = found ? row + 1 : row; n < used && *count < max; ++n) {
        const t_lstr* stored = m_table.GetKeyRow(0, start, n);
        if (!stored || LstrCompare(stored, reading) != 1) break;
        const int64_t group = int64_t(start) + n * rowSize;
        if (group > INT32_MAX) break;
        if (ids) ids[*count] = int32_t(group);
        if (keys) keys[*count] = stored;
        ++*count;
    }
    return true;
}

int t_usrDictExtCore::GetEntries(int32_t group, uint32_t* textIds, uint16_t* flags, uint16_t* freqs,
                                 uint32_t* stamps, int max) const {
    const uint8_t* keyRow = GroupRow(group);
    if (!keyRow || max <= 0) return 0;
    int n = 0;
    WalkChain(keyRow, [&](const uint8_t* row) {
        if (textIds) textIds[n] = Rd32(row + m_off[0]);
        if (freqs) freqs[n] = Rd16(row + m_off[1]);
        if (flags) flags[n] = Rd16(row + m_off[2]);
        if (stamps) stamps[n] = Rd32(row + m_off[3]);
        return ++n < max;
    });
    return n;
}

bool t_usrDictExtCore::GetString(uint32_t textId, t_lstr* out, uint32_t capacity) const {
    if (!Ready() || !out) return false;
    const t_lstr* text = m_table.GetDataPtr(1, textId);
    if (!text || LstrGetByteLength(text) == 0) return false;
    const uint32_t total = LstrGetTotalBytes(text);
    if (total > capacity) return false;
    std::memcpy(out, text, total);
    return true;
}

bool t_usrDictExtCore::FindWordId(const t_lstr* reading, const t_lstr* word,
                                  uint32_t* textId) const {
    if (!Ready() || !reading || !word) return false;
    const uint8_t* keyRow = nullptr;
    if (!m_table.FindRow(reading, 0, &keyRow) || !keyRow) return false;
    bool found = false;
    WalkChain(keyRow, [&](const uint8_t* row) {
        const uint32_t id = Rd32(row + m_off[0]);
        const t_lstr* text = m_table.GetDataPtr(1, id);
        if (text && LstrCompare(text, word) == 0) {
            found = true;
            if (textId) *textId = id;
            return false;
        }
        return true;
    });
    return found;
}

bool t_usrDictExtCore::GetCount(int32_t* n) const {
    if (!n) return false;
    *n = 0;
    if (!Ready()) return false;
    // Builder images leave the used-row words at 0: count the chained rows.
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!m_table.EnumerateItems(0, pairs)) return false;
    *n = pairs.size() > size_t(INT32_MAX) ? INT32_MAX : int32_t(pairs.size());
    return *n > 0;
}

int ExtMergeRecord(int32_t, const std::vector<uint8_t*>& incoming,
                   const std::vector<const uint8_t*>& stored) {
    if (incoming.size() != kUsrDictExtFields || stored.size() != kUsrDictExtFields) return 0;
    for (size_t i = 0; i < kUsrDictExtFields; ++i)
        if (!incoming[i] || !stored[i]) return 0;
    // The incoming values replace the stored ones: give them the stored
    // frequency, stamp and counts, so only the source flags change.
    for (size_t i = kExtFieldFreq; i < kUsrDictExtFields; ++i) {
        if (i == size_t(kExtFieldFlags)) continue;
        std::memcpy(incoming[i], stored[i], FieldSize(kFieldTypes[i]));
    }
    Wr16(incoming[kExtFieldFlags],
         uint16_t(Rd16(incoming[kExtFieldFlags]) | Rd16(stored[kExtFieldFlags])));
    return 1;
}

int MergeExtFiles(const wchar_t* path, const wchar_t* newPath) {
    if (!path || !path[0] || !newPath || !newPath[0]) return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    const uint8_t* existing = ReadSizedImage(arena, path);
    const uint8_t* added = ReadSizedImage(arena, newPath);
    if (!existing || !added) return 0;

    t_tableFileBuilder builder;
    if (!t_usrDictExtCore::InitBuilder(builder)) return 0;
    t_tempPath merged(path);
    if (!merged.Append(L".merge") || !merged.IsValid()) return 0;
    int result = 0;
    if (!builder.MergeFiles(existing, added, merged.GetFull(), &result, &ExtMergeRecord)) return 0;

    // The merged file replaces the live one in a single rename, so the live
    // file is never seen truncated or half copied.
    const t_pathName target(path);
    if (!PathRename(merged, target)) return 0;
    merged.Forget();
    char bytes[kPathBufBytes];
    if (target.ToBytes(bytes, sizeof bytes)) SyncParentDir(bytes);
    return 1;
}

int WriteExtImage(const wchar_t* path, const t_usrWordRecords& records) {
    if (!path || !path[0]) return 0;
    t_tableFileBuilder builder;
    if (!t_usrDictExtCore::InitBuilder(builder)) return 0;
    // A record is laid out as a packed item of the image's eight fields.
    std::vector<std::vector<const uint8_t*>> lists(1);
    lists[0].reserve(records.size());
    for (const UsrWordRecord* record : records) {
        t_usrWordFields f;
        if (ReadUsrWordRecord(record, &f))
            lists[0].push_back(reinterpret_cast<const uint8_t*>(record));
    }
    return builder.InsertAndSave(path, lists);
}

int MergeUsrDictExtFile(const wchar_t* path, const t_usrWordRecords& records) {
    if (!path || !path[0]) return 0;
    if (!PathIsFile(t_pathName(path))) return WriteExtImage(path, records);
    t_tempPath added(path);
    if (!added.Append(L".temp") || !added.IsValid()) return 0;
    return WriteExtImage(added.GetFull(), records) && MergeExtFiles(path, added.GetFull()) ? 1 : 0;
}
