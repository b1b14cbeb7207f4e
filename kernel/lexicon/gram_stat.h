// Gram statistics of the system words: a unigram record per gram id and
// bigram pair scores in four sections, with back-off through class ids and a
// double-buffered cache of the queries of one conversion pass.
// One thread at a time (the kernel's conversion thread); the view points
// into the system word image and is valid while that image is attached.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

// Gram image layout (little-endian, offsets from the image start):
//   u32 magic, u32 second word, u32 U, U x 10-byte unigram records,
//   four bigram sections {u32, u32, u32 I, u32 R, I x u32 index, R x 3 bytes}.
namespace n_gram {
constexpr uint32_t kMagic = 20110307;
constexpr uint32_t kHeaderSize = 12;
constexpr uint32_t kUnigramSize = 10;
constexpr uint32_t kSectionHeaderSize = 16;
constexpr uint32_t kRecordSize = 3;
constexpr uint32_t kMinImage = 64;
constexpr uint32_t kMaxGramId = 0x1FFFF;  // 17 bits
constexpr int32_t kNeutral = 350;         // a pair that is not stored
constexpr int32_t kNoScore = 10000;       // no usable score
constexpr int32_t kMissingFreq = 1400;    // a word without a record
// Pair score of each 4-bit class of a bigram record.
constexpr int32_t kClassScores[16] = {-512, -458, -404, -350, -296, -242, -188, -158,
                                      -128, -98,  -68,  -38,  -8,   22,   52,   106};
}  // namespace n_gram

// Double-buffered cache of the bigram answers of a pass: the previous pass's
// answers are read back in order while the new ones are written.
class t_bigramQuerySerialCache {
public:
    struct t_entry {
        uint32_t id1;
        uint32_t id2;
        int32_t score;
        uint8_t flag;
        uint8_t flag1;  // the pair's second flag, so that a hit answers it too
    };
    static_assert(sizeof(t_entry) == 16);

    t_bigramQuerySerialCache() = default;
    ~t_bigramQuerySerialCache() { Free(); }
    t_bigramQuerySerialCache(const t_bigramQuerySerialCache&) = delete;
    t_bigramQuerySerialCache& operator=(const t_bigramQuerySerialCache&) = delete;

    // Allocates two zeroed arrays of `capacity` entries (disabled, read array
    // 0, write array 1). False, with no arrays, when allocation fails or the
    // capacity is not positive.
    bool Init(int32_t capacity);
    // Exchanges the read and write arrays and restarts both positions. The
    // answers just written end with an empty entry, so that the next pass
    // never reads on into the answers of an older one.
    void Swap();
    // Forgets every answer (the statistics they came from are gone).
    void Forget();
    void Free();

    // The next read entry when it holds (id1, id2): true with its score and
    // flags. Advances over any non-empty entry; an empty entry or the end of
    // the array stops reading.
    bool Read(uint32_t id1, uint32_t id2, int32_t* score, uint8_t* flag, uint8_t* flag1);
    // Appends an answer to the write array (dropped when it is full).
    void Write(uint32_t id1, uint32_t id2, int32_t score, uint8_t flag, uint8_t flag1);

    uint8_t enabled = 0;
    int32_t capacity = 0;

private:
    t_entry* m_arrays[2] = {nullptr, nullptr};
    int32_t m_read = 0;
    int32_t m_write = 1;
    int32_t m_readPos = 0;
    int32_t m_writePos = 0;
};

// The process-wide cache, made with room for 2000 answers on first use.
t_bigramQuerySerialCache& SerialBigramCache();

// Serial mode for the length of one conversion pass: while on, the pass's
// bigram answers are written for the next pass and read from the previous
// one; at the end the two arrays are swapped. Off, it does nothing.
class t_serialBigramPass {
public:
    explicit t_serialBigramPass(bool on);
    ~t_serialBigramPass();
    t_serialBigramPass(const t_serialBigramPass&) = delete;
    t_serialBigramPass& operator=(const t_serialBigramPass&) = delete;

private:
    t_bigramQuerySerialCache* m_cache = nullptr;
};

class t_gramInfo {
public:
    struct t_section {
        uint32_t word0 = 0, word1 = 0, indexCount = 0, recordCount = 0;
        const uint8_t* index = nullptr;
        const uint8_t* records = nullptr;
    };

    // Takes the cache singleton (made with capacity 2000 on first use).
    t_gramInfo();

    // Attaches the gram image [image, end). False, with nothing attached,
    // when a pointer is null, fewer than 64 bytes remain, the magic is
    // wrong, or any table, index entry or section runs past the end (every
    // index entry must be ascending and within its section's records).
    bool Attach(const uint8_t* image, const uint8_t* end);
    void Detach();
    bool IsAttached() const { return m_unigrams != nullptr; }
    // Whether the attached gram image lies inside [begin, end).
    bool LiesIn(const uint8_t* begin, const uint8_t* end) const {
        return m_unigrams && begin && m_unigrams >= begin && m_unigrams < end;
    }

    uint32_t GetMagic() const { return m_magic; }
    // The header's second word (the value the dictionary information reports).
    uint32_t GetSecondWord() const { return m_second; }
    uint32_t GetUnigramCount() const { return m_unigramCount; }
    const t_section& GetSection(int s) const { return m_sections[s & 3]; }
    // The 10-byte unigram record of an id; null for id 0 or id >= U.
    const uint8_t* GetUnigram(uint32_t id) const;

    // Plain search of a pair: the class score and flags when stored, else
    // 350. *hint: the run is taken to start there when >= 0 (bounded by max
    // records when max > 0); on return the position after the found record
    // or where it would stand.
    int32_t Search(uint32_t id1, uint32_t id2, uint8_t* flag0, uint8_t* flag1, int32_t* hint,
                   int max) const;
    // Search through the serial cache when it is enabled (the hint is left
    // as it was on a cache hit; both flags are answered).
    int32_t CachedQuery(uint32_t id1, uint32_t id2, uint8_t* flag0, uint8_t* flag1, int32_t* hint,
                        int max) const;
    // The back-off score of a pair that is not stored; *used = 1 when it
    // lies below the neutral 350.
    int32_t BackOff(uint32_t id1, uint32_t id2, uint8_t* used) const;

    t_bigramQuerySerialCache* GetCache() const { return m_cache; }

private:
    // The outcome of one search: what it would write and return.
    enum : uint8_t { kSetHint = 1, kSetFlags = 2 };
    struct t_pairMemo {
        uint32_t id1, id2;  // id1 0: an empty slot
        int16_t score;
        uint8_t flags;    // bit 0 flag0, bit 1 flag1
        uint8_t outputs;  // kSetHint, kSetFlags
        int32_t hint;
    };
    static_assert(sizeof(t_pairMemo) == 16);
    static constexpr size_t kPairMemoSlots = 16384;
    struct t_freeMemo {
        void operator()(t_pairMemo* p) const { std::free(p); }
    };
    // Searches the run of id1 for id2 (from hint when >= 0, at most max
    // records when max > 0) into *out.
    void SearchRecords(uint32_t id1, uint32_t id2, t_pairMemo* out, int32_t hint, int max) const;

    uint32_t m_magic = 0;
    uint32_t m_second = 0;
    uint32_t m_unigramCount = 0;
    const uint8_t* m_unigrams = nullptr;
    t_section m_sections[4];
    t_bigramQuerySerialCache* m_cache = nullptr;
    // Unbounded searches already made on the attached statistics (sets of
    // two slots; zeroed pages, so only the slots in use take memory).
    mutable std::unique_ptr<t_pairMemo[], t_freeMemo> m_pairMemo;
};

// Unigram frequency (cost) of a word; 1400 without gram information, for id
// 0 and for ids without a record.
int32_t GramGetUnigramFreq(const t_gramInfo* gram, uint32_t id);

// The score a pair that is not stored reads as with id as its first word:
// the word's cap, at most the neutral 350 (350 without a record).
int32_t GramGetPairCap(const t_gramInfo* gram, uint32_t id);

// Pair score of (id1, id2); see the header comment of gram_stat.cpp for the
// steps. 10000 when an id is invalid or no score exists.
int32_t GramGetBigramScore(const t_gramInfo* gram, uint32_t id1, uint32_t id2, uint8_t* found,
                           bool keepFlag, bool backOff, uint8_t* backedOff, uint8_t* flag1);

// The fields of a word-lattice arc that the pair score reads and writes; the
// conversion core copies them from and back into its own arcs.
struct t_gramArc {
    int32_t syllableCount = 0;
    int32_t gramId = 0;  // 0 or less: none
    uint16_t ownFreq = 0;
    int32_t prevGramId = 0;  // gram id of the preceding word's record; 0 = none
    int32_t kind = 0;
    uint8_t sourceType = 0;  // 3 and 24 use the arc's own frequency
    uint16_t freqUsed = 0;   // written
    int16_t adjust = 0;      // written
};

// Pair score of two adjacent lattice words (right->freqUsed and
// right->adjust are written). bits collects 8 (back-off used), 16 (short
// pair with a low score), 32 (no gram id), 64 (preference flag).
int32_t GramGetWordPairScore(const t_gramInfo* gram, const t_gramArc* left, t_gramArc* right,
                             uint8_t* flag0, uint8_t* found, uint32_t* bits, int32_t* hint,
                             int max);
