// Hash and compare policies of table-file key tables: a hash policy maps a key
// to one of the table's buckets, a compare policy orders the rows of a bucket.
// Both are chosen by the key table's policy id (key type without flag bits).
// Policies are immutable after creation; safe to share between threads.
#pragma once

#include <cstdint>

#include "kernel/storage/table_format.h"

// Keys are passed by pointer to their stored form: a length-prefixed value
// (u16 byte count, then the bytes) for every id but 4, a 32-bit integer for 4.
class t_baseHash {
public:
    // The value FindBucket returns for a key without bucket: offset -1, 0 rows.
    static constexpr uint64_t kNoBucket = 0xFFFFFFFFull;

    explicit t_baseHash(int32_t bucketCount) : m_bucketCount(bucketCount) {}
    virtual ~t_baseHash() = default;

    // Returns the 8-byte entry of the key's bucket from `bucketArray` (first-row
    // offset in the low 32 bits, row count in the high 32 bits) and stores the
    // bucket index in *outIndex. Without a bucket: kNoBucket, *outIndex untouched.
    virtual uint64_t FindBucket(const t_lstr* key, const uint8_t* bucketArray,
                                int32_t* outIndex) const;
    // The bucket index of `key`, or -1 when it has none (ids 4 and 5 return
    // their raw value unchecked, as the file contract says).
    virtual int32_t Index(const t_lstr* key) const = 0;
    // The bucket index, or -1 whenever the key falls outside 0 .. count-1.
    int32_t CheckedIndex(const t_lstr* key) const {
        const int32_t i = Index(key);
        return (i >= 0 && i < m_bucketCount) ? i : -1;
    }
    int32_t GetBucketCount() const { return m_bucketCount; }

protected:
    int32_t m_bucketCount;
};

class t_engHash : public t_baseHash {
public:
    using t_baseHash::t_baseHash;
    int32_t Index(const t_lstr* key) const override;
};
class t_pyidHash : public t_baseHash {
public:
    using t_baseHash::t_baseHash;
    int32_t Index(const t_lstr* key) const override;
};
class t_hzHash : public t_baseHash {
public:
    using t_baseHash::t_baseHash;
    int32_t Index(const t_lstr* key) const override;
};
class t_digHash : public t_baseHash {
public:
    using t_baseHash::t_baseHash;
    int32_t Index(const t_lstr* key) const override;
};
class t_segHash : public t_baseHash {
public:
    t_segHash(int32_t bucketCount, t_keyHashFn fn) : t_baseHash(bucketCount), m_fn(fn) {}
    int32_t Index(const t_lstr* key) const override;

private:
    t_keyHashFn m_fn;
};
class t_ldataHash : public t_baseHash {
public:
    using t_baseHash::t_baseHash;
    int32_t Index(const t_lstr* key) const override;
};

class t_baseCompare {
public:
    explicit t_baseCompare(t_keyCompareFn fn) : m_fn(fn) {}
    virtual ~t_baseCompare() = default;
    // Negative: a sorts before b; 0 equal; positive after. With the default
    // order, 1 / -1 mark a prefix relation (see LstrCompare).
    virtual int Compare(const t_lstr* a, const t_lstr* b) const { return m_fn ? m_fn(a, b) : 0; }
    // True when Compare is the default length-prefixed order.
    bool IsDefaultOrder() const;

protected:
    t_keyCompareFn m_fn;
};
class t_engCompare : public t_baseCompare {
    using t_baseCompare::t_baseCompare;
};
class t_pyidCompare : public t_baseCompare {
    using t_baseCompare::t_baseCompare;
};
class t_hzCompare : public t_baseCompare {
    using t_baseCompare::t_baseCompare;
};
class t_ldataCompare : public t_baseCompare {
    using t_baseCompare::t_baseCompare;
};
class t_segCompare : public t_baseCompare {
    using t_baseCompare::t_baseCompare;
};
class t_digCompare : public t_baseCompare {
public:
    t_digCompare() : t_baseCompare(nullptr) {}
    int Compare(const t_lstr*, const t_lstr*) const override { return 0; }
};

// Default bucket count of a policy id; 0 for ids that need an explicit count
// (4 and 5) and for unknown ids.
int32_t DefaultBucketCount(int policyId);
// A new hash policy, or null for an unknown id, for ids 4 and 5 without a
// positive count, or for id 5 without a hash function. A count of 0 selects
// the default of ids 1, 2, 3 and 6. The caller deletes it.
t_baseHash* CreateHashPolicy(int policyId, int32_t bucketCount, t_keyHashFn hashFn);
// A new compare policy, or null for an unknown id or for id 5 without a
// compare function. compareFn null selects LstrCompare for ids 1, 2, 3, 6.
t_baseCompare* CreateComparePolicy(int policyId, t_keyCompareFn compareFn);

// Compares two field values of `type` in length-prefixed order. Fixed-size
// values that do not hold a whole length-prefixed value inside their bytes
// are compared bytewise (-2, 0, 2), so the comparison never reads past them.
int TableFieldCompare(int type, const uint8_t* a, const uint8_t* b);
