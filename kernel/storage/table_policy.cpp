// Hash and compare policies of table-file key tables.
#include "kernel/storage/table_policy.h"

#include <cstring>

#include "kernel/runtime/lstr.h"

using namespace n_tableFormat;

namespace {

inline uint32_t KeyBytes(const t_lstr* key) {
    return key ? LstrGetByteLength(key) : 0;
}

}  // namespace

uint64_t t_baseHash::FindBucket(const t_lstr* key, const uint8_t* bucketArray,
                                int32_t* outIndex) const {
    const int32_t i = CheckedIndex(key);
    if (i < 0 || !bucketArray) return kNoBucket;
    if (outIndex) *outIndex = i;
    const uint8_t* e = bucketArray + size_t(i) * kBucketEntrySize;
    return uint64_t(Rd32(e)) | (uint64_t(Rd32(e + 4)) << 32);
}

int32_t t_engHash::Index(const t_lstr* key) const {
    // Upper and lower case share a bucket; keys without a letter, and the
    // empty key, go to the last one.
    if (KeyBytes(key) >= 2) {
        const uint16_t u = LstrGetUnit(key, 0);
        if (u >= 'A' && u <= 'Z') return u - 'A';
        if (u >= 'a' && u <= 'z') return u - 'a';
    }
    return m_bucketCount - 1;
}

int32_t t_pyidHash::Index(const t_lstr* key) const {
    if (KeyBytes(key) < 2) return -1;
    const int32_t id = int16_t(LstrGetUnit(key, 0));
    return (id >= 0 && id < m_bucketCount) ? id : -1;
}

int32_t t_hzHash::Index(const t_lstr* key) const {
    // Only the low byte of the first unit counts: files depend on this placement.
    if (KeyBytes(key) == 0) return 0;
    return int32_t(LstrGetBytes(key)[0] % uint32_t(m_bucketCount));
}

int32_t t_digHash::Index(const t_lstr* key) const {
    if (!key) return -1;
    return RdI32(reinterpret_cast<const uint8_t*>(key));
}

int32_t t_segHash::Index(const t_lstr* key) const {
    return m_fn(key);
}

int32_t t_ldataHash::Index(const t_lstr* key) const {
    const uint32_t n = KeyBytes(key);
    if (n == 0) return 0;
    const uint8_t* p = LstrGetBytes(key);
    uint32_t h = 0;
    for (uint32_t i = 0; i < n; ++i) h = h * 131 + p[i];
    return int32_t((h & 0x7FFFFFFFu) % uint32_t(m_bucketCount));
}

bool t_baseCompare::IsDefaultOrder() const {
    return m_fn == &LstrCompare;
}

int32_t DefaultBucketCount(int policyId) {
    switch (policyId) {
        case 1:
            return 27;
        case 2:
            return 414;
        case 3:
            return 512;
        case 6:
            return 512;
        default:
            return 0;
    }
}

t_baseHash* CreateHashPolicy(int policyId, int32_t bucketCount, t_keyHashFn hashFn) {
    if (bucketCount < 0) return nullptr;
    if (bucketCount == 0) bucketCount = DefaultBucketCount(policyId);
    if (bucketCount <= 0) return nullptr;
    switch (policyId) {
        case 1:
            return new t_engHash(bucketCount);
        case 2:
            return new t_pyidHash(bucketCount);
        case 3:
            return new t_hzHash(bucketCount);
        case 4:
            return new t_digHash(bucketCount);
        case 5:
            return hashFn ? new t_segHash(bucketCount, hashFn) : nullptr;
        case 6:
            return new t_ldataHash(bucketCount);
        default:
            return nullptr;
    }
}

t_baseCompare* CreateComparePolicy(int policyId, t_keyCompareFn compareFn) {
    t_keyCompareFn fn = compareFn ? compareFn : &LstrCompare;
    switch (policyId) {
        case 1:
            return new t_engCompare(fn);
        case 2:
            return new t_pyidCompare(fn);
        case 3:
            return new t_hzCompare(fn);
        case 4:
            return new t_digCompare();
        case 5:
            return compareFn ? new t_segCompare(compareFn) : nullptr;
        case 6:
            return new t_ldataCompare(fn);
        default:
            return nullptr;
    }
}

int TableFieldCompare(int type, const uint8_t* a, const uint8_t* b) {
    const t_lstr* la = reinterpret_cast<const t_lstr*>(a);
    const t_lstr* lb = reinterpret_cast<const t_lstr*>(b);
    if (IsVarLenType(type)) return LstrCompare(la, lb);
    const uint32_t size = FieldSize(type);
    if (uint32_t(Rd16(a)) + 2 <= size && uint32_t(Rd16(b)) + 2 <= size) return LstrCompare(la, lb);
    const int c = std::memcmp(a, b, size);
    return c < 0 ? -2 : (c > 0 ? 2 : 0);
}
