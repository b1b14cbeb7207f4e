// Compact images of an editable table file: only used rows and bytes are
// kept, and a compact image is expanded back to its full size on load.
// A compact image is untrusted input: its counts are checked against its own
// length before anything is sized by them.
#include "kernel/storage/editable_table.h"

#include <algorithm>
#include <cstring>

#include "kernel/storage/table_write.h"

using namespace n_tableFormat;

struct t_editableTableFile::t_compactPlan {
    t_tableLayout lay;
    uint32_t configSize = 0, headSize = 0, itemsSize = 0, extraSize = 0;
    std::vector<int32_t> bucketCounts;
    std::vector<uint32_t> off, alloc, used, unit;  // per table: key, attri, data
    uint64_t expanded = 0;
    uint64_t itemsOffset = 0;
};

bool t_editableTableFile::BuildCompactPlan(const uint8_t* c, uint64_t len,
                                           t_compactPlan& plan) const {
    if (!c || len < 8 + kConfigCountsSize + kHeaderFixedSize) return false;
    const int32_t cs = RdI32(c + 4);
    if (cs < int32_t(kConfigCountsSize) || uint64_t(cs) + 8 + kHeaderFixedSize > len) return false;
    plan.configSize = uint32_t(cs);
    uint32_t sum = 0;
    if (plan.lay.ParseConfig(c + 8, plan.configSize, sum)) return false;
    const t_tableLayout& lay = plan.lay;
    plan.headSize = lay.HeadSize();
    const uint64_t headerAt = 8 + uint64_t(plan.configSize);
    if (headerAt + plan.headSize > len) return false;
    const uint8_t* h = c + headerAt;
    const int32_t itemsSize = RdI32(h + 8);
    if (itemsSize <= 0 || uint64_t(RdI32(h + 12)) != lay.keys.size() ||
        uint64_t(RdI32(h + 16)) != lay.attris.size() || uint64_t(RdI32(h + 20)) != lay.datas.size())
        return false;
    plan.itemsSize = uint32_t(itemsSize);
    // The check number covers every size below: an image whose sizes were
    // changed is refused here, before anything is allocated by them.
    for (uint32_t w = 0; w < plan.headSize / 4; ++w) sum += Rd32(h + 4 * w);
    if (Rd32(c) != ~sum) return false;
    const size_t K = lay.keys.size(), A = lay.attris.size(), T = K + A + lay.datas.size();
    plan.off.resize(T);
    plan.alloc.resize(T);
    plan.used.resize(T);
    plan.unit.resize(T);
    plan.bucketCounts.resize(K);
    uint64_t tablesEnd = 0;
    for (size_t i = 0; i < T; ++i) {
        const uint8_t* rec = h + kHeaderFixedSize + kTableRecordSize * i;
        plan.off[i] = Rd32(rec);
        plan.alloc[i] = Rd32(rec + 4);
        plan.used[i] = Rd32(rec + 8);
        if (plan.used[i] > plan.alloc[i]) return false;
        uint64_t before = 0;
        if (i < K) {
            plan.unit[i] = lay.keyLayouts[i].rowSize;
            const int32_t configured = t_tableFile::GetConfiguredBucketCount(int(i));
            const int32_t bc =
                configured > 0 ? configured : DefaultBucketCount(lay.keyLayouts[i].policyId);
            if (bc <= 0) return false;
            plan.bucketCounts[i] = bc;
            before = uint64_t(bc) * kBucketEntrySize;
        } else if (i < K + A) {
            plan.unit[i] = lay.attriRowSizes[i - K];
        } else {
            plan.unit[i] = 1;
        }
        const uint64_t end = uint64_t(plan.off[i]) + uint64_t(plan.alloc[i]) * plan.unit[i];
        if (plan.off[i] < before || end > plan.itemsSize) return false;
        tablesEnd = std::max(tablesEnd, end);
    }
    // The tables fill the items area: a header that claims more is inflated.
    if (tablesEnd != plan.itemsSize) return false;

    // The compact body must be exactly as long as the used counts say.
    uint64_t pos = headerAt + plan.headSize;
    for (size_t k = 0; k < K; ++k) {
        const uint64_t arrayBytes = uint64_t(plan.bucketCounts[k]) * kBucketEntrySize;
        if (arrayBytes > len - pos) return false;
        const uint8_t* buckets = c + pos;
        pos += arrayBytes;
        uint64_t rows = 0, prevEnd = 0;
        const uint64_t rs = plan.unit[k], tableBytes = uint64_t(plan.alloc[k]) * rs;
        for (int32_t b = 0; b < plan.bucketCounts[k]; ++b) {
            const uint64_t start = Rd32(buckets + size_t(b) * kBucketEntrySize);
            const uint64_t n = Rd32(buckets + size_t(b) * kBucketEntrySize + 4);
            if (start % rs != 0 || start < prevEnd || start + n * rs > tableBytes) return false;
            prevEnd = start + n * rs;
            rows += n;
        }
        if (rows != plan.used[k] || rows * rs > len - pos) return false;
        pos += rows * rs;
    }
    for (size_t i = K; i < T; ++i) {
        const uint64_t bytes = uint64_t(plan.used[i]) * plan.unit[i];
        if (bytes > len - pos) return false;
        pos += bytes;
    }
    if (len - pos < 4) return false;
    plan.extraSize = Rd32(c + pos);
    if (uint64_t(plan.extraSize) != len - pos - 4) return false;
    plan.itemsOffset = headerAt + plan.headSize;
    plan.expanded = plan.itemsOffset + plan.itemsSize + 4 + plan.extraSize;
    return plan.expanded <= kMaxImageSize;
}

uint64_t t_editableTableFile::GetExpandedSize(const uint8_t* compact, uint64_t len,
                                              uint64_t* itemsOffset) const {
    if (!(m_mode & kModeCompact)) return 0;
    t_compactPlan plan;
    if (!BuildCompactPlan(compact, len, plan)) return 0;
    if (itemsOffset) *itemsOffset = plan.itemsOffset;
    return plan.expanded;
}

int t_editableTableFile::ExpandImageInto(const uint8_t* c, uint64_t len, uint8_t* dest,
                                         uint64_t destSize) const {
    if (!(m_mode & kModeCompact) || !dest) return 0;
    t_compactPlan plan;
    if (!BuildCompactPlan(c, len, plan) || destSize != plan.expanded) return 0;
    std::memset(dest, 0, destSize);
    std::memcpy(dest, c, plan.itemsOffset);
    uint8_t* items = dest + plan.itemsOffset;
    uint64_t pos = plan.itemsOffset;
    const size_t K = plan.lay.keys.size();
    for (size_t k = 0; k < K; ++k) {
        const uint64_t arrayBytes = uint64_t(plan.bucketCounts[k]) * kBucketEntrySize;
        const uint8_t* buckets = c + pos;
        std::memcpy(items + plan.off[k] - arrayBytes, buckets, arrayBytes);
        pos += arrayBytes;
        for (int32_t b = 0; b < plan.bucketCounts[k]; ++b) {
            const uint64_t bytes =
                uint64_t(Rd32(buckets + size_t(b) * kBucketEntrySize + 4)) * plan.unit[k];
            std::memcpy(items + plan.off[k] + Rd32(buckets + size_t(b) * kBucketEntrySize), c + pos,
                        bytes);
            pos += bytes;
        }
    }
    for (size_t i = K; i < plan.off.size(); ++i) {
        const uint64_t bytes = uint64_t(plan.used[i]) * plan.unit[i];
        std::memcpy(items + plan.off[i], c + pos, bytes);
        pos += bytes;
    }
    std::memcpy(items + plan.itemsSize, c + pos, 4 + uint64_t(plan.extraSize));
    return 1;
}

int t_editableTableFile::LoadCompactImage(const uint8_t* compact, uint64_t len,
                                          const std::vector<t_keyHashFn>& hashFns,
                                          const std::vector<t_keyCompareFn>& compareFns,
                                          uint32_t formatVersion) {
    if (!(m_mode & kModeCompact) || !m_alloc || m_inNotice) return 0;
    Detach();
    t_compactPlan plan;
    if (!BuildCompactPlan(compact, len, plan)) {
        m_lastError = "compact image damaged";
        return 0;
    }
    uint8_t* buffer = nullptr;
    if (!m_alloc(&buffer, uint32_t(plan.expanded), m_growthContext) || !buffer) return 0;
    if (!ExpandImageInto(compact, len, buffer, plan.expanded)) return 0;
    return AttachWithExtra(buffer, formatVersion, hashFns, compareFns, int64_t(plan.expanded)) ? 1
                                                                                               : 0;
}

// ---------------------------------------------------------------- writing

uint64_t t_editableTableFile::CompactSize() const {
    uint64_t size = 8 + uint64_t(t_tableFile::GetConfigSize()) + t_tableFile::GetHeadSize() + 4 +
                    uint32_t(m_extraSize);
    for (const t_editKey& t : m_keys)
        size +=
            uint64_t(t.bucketCount) * kBucketEntrySize + uint64_t(Rd32(t.record + 8)) * t.rowSize;
    for (size_t a = 0; a < m_attriCount; ++a)
        size += uint64_t(Rd32(AttriRecord(int(a)) + 8)) *
                uint32_t(t_tableFile::GetAttriRowSize(int(a)));
    for (size_t d = 0; d < m_dataCount; ++d) size += Rd32(DataRecord(int(d)) + 8);
    return size;
}

int t_editableTableFile::CompactImageInto(uint8_t* dest, uint64_t destCap,
                                          uint64_t* written) const {
    if (written) *written = 0;
    if (!(m_mode & kModeCompact) || !t_tableFile::IsAttached() || !dest) return 0;
    const uint64_t size = CompactSize();
    if (size > destCap) return 0;
    const uint8_t* img = t_tableFile::GetImage();
    const uint64_t prefix = 8 + uint64_t(t_tableFile::GetConfigSize()) + t_tableFile::GetHeadSize();
    uint8_t* p = dest;
    auto put = [&](const void* src, uint64_t n) {
        std::memcpy(p, src, n);
        p += n;
    };
    put(img, prefix);
    for (const t_editKey& t : m_keys) {
        put(t.buckets, uint64_t(t.bucketCount) * kBucketEntrySize);
        for (int b = 0; b < t.bucketCount; ++b)
            put(t.rows + BucketStart(t, b), uint64_t(BucketRows(t, b)) * t.rowSize);
    }
    for (size_t a = 0; a < m_attriCount; ++a)
        put(AttriRows(int(a)), uint64_t(Rd32(AttriRecord(int(a)) + 8)) *
                                   uint32_t(t_tableFile::GetAttriRowSize(int(a))));
    for (size_t d = 0; d < m_dataCount; ++d) put(DataBase(int(d)), Rd32(DataRecord(int(d)) + 8));
    const uint32_t extraSize = uint32_t(m_extraSize);
    put(&extraSize, 4);
    if (extraSize) put(m_extra, extraSize);
    if (uint64_t(p - dest) != size) return 0;
    if (written) *written = size;
    return 1;
}

int t_editableTableFile::SaveCompact(const wchar_t* path) const {
    if (!(m_mode & kModeCompact) || !t_tableFile::IsAttached()) return 0;
    std::vector<uint8_t> image(CompactSize());
    uint64_t n = 0;
    if (!CompactImageInto(image.data(), image.size(), &n)) return 0;
    const uint64_t prefix = 8 + uint64_t(t_tableFile::GetConfigSize()) + t_tableFile::GetHeadSize();
    const uint64_t tail = 4 + uint32_t(m_extraSize);
    const uint8_t* p = image.data();
    t_tableImageWriter w;
    return (w.Open(path) && w.Put(p, 4, "write checknum failed !\r") &&
            w.Put(p + 4, 4, "write configsize failed !\r") &&
            w.Put(p + 8, prefix - 8, "write header failed !\r") &&
            w.Put(p + prefix, n - prefix - tail, "write item failed !\r") &&
            w.Put(p + n - tail, 4, "write extrasize failed !\r") &&
            w.Put(p + n - tail + 4, tail - 4, "write extra failed !\r") && w.Commit())
               ? 1
               : 0;
}
