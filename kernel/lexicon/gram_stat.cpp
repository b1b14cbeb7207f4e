// Gram statistics: attach-time validation of the gram image, pair search,
// back-off and the two scoring operations of the conversion core.
#include "kernel/lexicon/gram_stat.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kernel/runtime/singleton.h"
#include "kernel/storage/table_format.h"

using n_tableFormat::Rd16;
using n_tableFormat::Rd32;
using namespace n_gram;

// ---------------------------------------------------------------- serial cache

bool t_bigramQuerySerialCache::Init(int32_t cap) {
    Free();
    enabled = 0;
    m_read = 0;
    m_write = 1;
    m_readPos = m_writePos = 0;
    if (cap <= 0) return false;
    for (t_entry*& a : m_arrays) {
        a = static_cast<t_entry*>(std::calloc(size_t(cap), sizeof(t_entry)));
        if (!a) {
            Free();
            return false;
        }
    }
    capacity = cap;
    return true;
}

void t_bigramQuerySerialCache::Swap() {
    if (t_entry* arr = m_arrays[m_write]; arr && m_writePos < capacity) arr[m_writePos].id1 = 0;
    std::swap(m_read, m_write);
    m_readPos = m_writePos = 0;
}

void t_bigramQuerySerialCache::Forget() {
    for (t_entry* arr : m_arrays)
        if (arr && capacity > 0) arr[0].id1 = 0;
    m_readPos = m_writePos = 0;
}

void t_bigramQuerySerialCache::Free() {
    for (t_entry*& a : m_arrays) {
        std::free(a);
        a = nullptr;
    }
    capacity = 0;
}

bool t_bigramQuerySerialCache::Read(uint32_t id1, uint32_t id2, int32_t* score, uint8_t* flag,
                                    uint8_t* flag1) {
    const t_entry* arr = m_arrays[m_read];
    if (!arr || m_readPos >= capacity) return false;
    const t_entry& e = arr[m_readPos];
    if (e.id1 == 0) return false;
    ++m_readPos;
    if (e.id1 != id1 || e.id2 != id2) return false;
    *score = e.score;
    *flag = e.flag;
    *flag1 = e.flag1;
    return true;
}

void t_bigramQuerySerialCache::Write(uint32_t id1, uint32_t id2, int32_t score, uint8_t flag,
                                     uint8_t flag1) {
    t_entry* arr = m_arrays[m_write];
    if (!arr || m_writePos >= capacity) return;
    arr[m_writePos++] = {id1, id2, score, flag, flag1};
}

t_bigramQuerySerialCache& SerialBigramCache() {
    const bool fresh = !t_singleton<t_bigramQuerySerialCache>::Exists();
    t_bigramQuerySerialCache& cache = t_singleton<t_bigramQuerySerialCache>::Get();
    if (fresh) cache.Init(2000);
    return cache;
}

t_serialBigramPass::t_serialBigramPass(bool on) {
    if (!on) return;
    m_cache = &SerialBigramCache();
    m_cache->enabled = 1;
}

t_serialBigramPass::~t_serialBigramPass() {
    if (!m_cache) return;
    m_cache->enabled = 0;
    m_cache->Swap();
}

// ---------------------------------------------------------------- attach

t_gramInfo::t_gramInfo() : m_cache(&SerialBigramCache()) {}

void t_gramInfo::Detach() {
    m_magic = m_second = m_unigramCount = 0;
    m_unigrams = nullptr;
    for (t_section& s : m_sections) s = t_section();
    // Answers taken from the statistics being let go would outlive them.
    if (m_cache) m_cache->Forget();
    m_pairMemo.reset();
}

bool t_gramInfo::Attach(const uint8_t* image, const uint8_t* end) {
    Detach();
    if (!image || !end || end < image) return false;
    const uint64_t size = uint64_t(end - image);
    if (size < kMinImage || Rd32(image) == 0 || Rd32(image) != kMagic) return false;
    const uint32_t magic = Rd32(image), second = Rd32(image + 4), count = Rd32(image + 8);
    uint64_t pos = kHeaderSize + uint64_t(count) * kUnigramSize;
    if (pos >= size) return false;
    t_section sections[4];
    for (t_section& s : sections) {
        if (pos + kSectionHeaderSize > size) return false;
        const uint8_t* h = image + pos;
        s.word0 = Rd32(h);
        s.word1 = Rd32(h + 4);
        s.indexCount = Rd32(h + 8);
        s.recordCount = Rd32(h + 12);
        pos += kSectionHeaderSize;
        // Only the low 16 bits of a first id select a run.
        if (s.indexCount > 0x10000) return false;
        const uint64_t indexBytes = uint64_t(s.indexCount) * 4,
                       recordBytes = uint64_t(s.recordCount) * kRecordSize;
        if (pos + indexBytes + recordBytes > size) return false;
        s.index = image + pos;
        s.records = image + pos + indexBytes;
        // Every run must lie inside the section's records, in ascending order.
        uint32_t prev = 0;
        for (uint32_t k = 0; k < s.indexCount; ++k) {
            const uint32_t e = Rd32(s.index + 4ull * k);
            if (e < prev || e > s.recordCount) return false;
            prev = e;
        }
        pos += indexBytes + recordBytes;
    }
    m_magic = magic;
    m_second = second;
    m_unigramCount = count;
    m_unigrams = image + kHeaderSize;
    std::copy(sections, sections + 4, m_sections);
    return true;
}

const uint8_t* t_gramInfo::GetUnigram(uint32_t id) const {
    if (!m_unigrams || id == 0 || id >= m_unigramCount) return nullptr;
    return m_unigrams + uint64_t(id) * kUnigramSize;
}

// ---------------------------------------------------------------- search

int32_t t_gramInfo::Search(uint32_t id1, uint32_t id2, uint8_t* flag0, uint8_t* flag1,
                           int32_t* hint, int max) const {
    if (id1 == 0 || id2 == 0) return kNeutral;
    if (!m_unigrams || id1 > kMaxGramId || id2 > kMaxGramId) return kNeutral;
    // An unbounded search is the same for the same pair: its outcome is
    // kept, and answered again without touching the records.
    t_pairMemo* memo = nullptr;
    if (!hint || *hint < 0) {
        if (!m_pairMemo)
            m_pairMemo.reset(
                static_cast<t_pairMemo*>(std::calloc(kPairMemoSlots, sizeof(t_pairMemo))));
        if (m_pairMemo) {
            // Two ways a set: a pair that collides with another one keeps
            // its answer while the newer of the two takes the first way.
            t_pairMemo* set = &m_pairMemo[2 * (size_t((id1 * 0x9E3779B1u) ^ (id2 * 0x85EBCA77u)) %
                                               (kPairMemoSlots / 2))];
            if (set[1].id1 == id1 && set[1].id2 == id2) {
                memo = &set[1];
            } else {
                memo = &set[0];
                if (memo->id1 != id1 || memo->id2 != id2) set[1] = set[0];
            }
        }
    }
    if (!memo || memo->id1 != id1 || memo->id2 != id2) {
        t_pairMemo found{id1, id2, kNeutral, 0, 0, 0};
        SearchRecords(id1, id2, &found, hint ? *hint : -1, max);
        if (!memo) {
            if (hint && (found.outputs & kSetHint)) *hint = found.hint;
            if (found.outputs & kSetFlags) {
                if (flag0) *flag0 = found.flags & 1;
                if (flag1) *flag1 = found.flags >> 1;
            }
            return found.score;
        }
        *memo = found;
    }
    if (hint && (memo->outputs & kSetHint)) *hint = memo->hint;
    if (memo->outputs & kSetFlags) {
        if (flag0) *flag0 = memo->flags & 1;
        if (flag1) *flag1 = memo->flags >> 1;
    }
    return memo->score;
}

void t_gramInfo::SearchRecords(uint32_t id1, uint32_t id2, t_pairMemo* out, int32_t hint,
                               int max) const {
    const t_section& s = m_sections[2 * (id1 >> 16) + (id2 >> 16)];
    const uint32_t k = id1 & 0xFFFF;
    if (k >= s.indexCount) return;
    uint32_t lo = k ? Rd32(s.index + 4ull * (k - 1)) : 0;
    uint32_t hi = Rd32(s.index + 4ull * k);
    if (hint >= 0) {
        lo = std::clamp(uint32_t(hint), lo, hi);
        if (max > 0) hi = uint32_t(std::min<uint64_t>(hi, uint64_t(lo) + uint32_t(max)));
    }
    const uint16_t want = uint16_t(id2 & 0xFFFF);
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        const uint8_t* r = s.records + uint64_t(mid) * kRecordSize;
        const uint16_t v = Rd16(r);
        if (v == want) {
            out->hint = int32_t(mid + 1);
            out->flags = uint8_t((r[2] & 1) | (((r[2] >> 1) & 1) << 1));
            out->outputs = kSetHint | kSetFlags;
            out->score = int16_t(kClassScores[r[2] >> 4]);
            return;
        }
        if (v < want)
            lo = mid + 1;
        else
            hi = mid;
    }
    out->hint = int32_t(lo);
    out->outputs = kSetHint;
}

int32_t t_gramInfo::CachedQuery(uint32_t id1, uint32_t id2, uint8_t* flag0, uint8_t* flag1,
                                int32_t* hint, int max) const {
    t_bigramQuerySerialCache* c = m_cache && m_cache->enabled ? m_cache : nullptr;
    if (c) {
        int32_t score;
        uint8_t flag, second;
        if (c->Read(id1, id2, &score, &flag, &second)) {
            if (flag0) *flag0 = flag;
            if (flag1 && score != kNeutral) *flag1 = second;
            c->Write(id1, id2, score, flag, second);
            return score;
        }
    }
    uint8_t f0 = 0, f1 = 0;
    const int32_t score = Search(id1, id2, &f0, &f1, hint, max);
    if (flag0) *flag0 = f0;
    if (flag1 && score != kNeutral) *flag1 = f1;
    if (c) c->Write(id1, id2, score, f0, f1);
    return score;
}

int32_t t_gramInfo::BackOff(uint32_t id1, uint32_t id2, uint8_t* used) const {
    const uint8_t* u1 = GetUnigram(id1);
    const uint8_t* u2 = GetUnigram(id2);
    const uint32_t left = u1 ? Rd16(u1 + 8) + ((Rd16(u1) & 0x4000) ? 0x10000u : 0u) : 0;
    const uint32_t right = u2 ? Rd16(u2 + 6) + ((Rd16(u2) & 0x8000) ? 0x10000u : 0u) : 0;
    int32_t a = kNeutral, b = kNeutral;
    if (left) {
        int32_t hint = -1;
        a = CachedQuery(left, id2, nullptr, nullptr, &hint, 0);
    }
    if (right) {
        int32_t hint = -1;
        b = CachedQuery(id1, right, nullptr, nullptr, &hint, 0);
    }
    const int32_t s = (std::min(a, b) + kNeutral) / 2;
    if (used) *used = s < kNeutral;
    return s;
}

// ---------------------------------------------------------------- scores

int32_t GramGetUnigramFreq(const t_gramInfo* gram, uint32_t id) {
    const uint8_t* u = gram ? gram->GetUnigram(id) : nullptr;
    return u ? int32_t(Rd16(u) & 0x3FFF) : kMissingFreq;
}

int32_t GramGetPairCap(const t_gramInfo* gram, uint32_t id) {
    const uint8_t* u = gram && id > 0 ? gram->GetUnigram(id) : nullptr;
    return u ? std::min<int32_t>(Rd16(u + 2), kNeutral) : kNeutral;
}

// Steps: an invalid id gives 10000; a stored pair its class score, else
// (with backOff) the back-off score; either capped by the first word's cap.
// A pair neither stored nor backed off gives 10000. Without keepFlag a
// preference flag lowers the score by 200; with keepFlag a clear flag
// resets *found.
int32_t GramGetBigramScore(const t_gramInfo* gram, uint32_t id1, uint32_t id2, uint8_t* found,
                           bool keepFlag, bool backOff, uint8_t* backedOff, uint8_t* flag1) {
    if (found) *found = 0;
    if (backedOff) *backedOff = 0;
    if (flag1) *flag1 = 0;
    if (!gram || int32_t(id2) <= 0 || int32_t(id1) < 1) return kNoScore;
    const uint32_t count = gram->GetUnigramCount();
    int32_t score = kNeutral;
    bool isFound = false, used = false;
    uint8_t pref = 0;
    if (id1 < count && id2 < count) {
        int32_t hint = -1;
        int32_t s = gram->CachedQuery(id1, id2, &pref, flag1, &hint, 0);
        isFound = s != kNeutral;
        if (backOff && !isFound) {
            uint8_t u = 0;
            s = gram->BackOff(id1, id2, &u);
            used = u;
        }
        score = std::min<int32_t>(Rd16(gram->GetUnigram(id1) + 2), s);
    }
    if (backedOff) *backedOff = used;
    if (!isFound && !used) return kNoScore;
    if (!keepFlag) {
        if (found) *found = isFound;
        return (isFound && pref) ? score - 200 : score;
    }
    if (found) *found = isFound && pref;
    return score;
}

int32_t GramGetWordPairScore(const t_gramInfo* gram, const t_gramArc* left, t_gramArc* right,
                             uint8_t* flag0, uint8_t* found, uint32_t* bits, int32_t* hint,
                             int max) {
    uint8_t f0 = 0, fnd = 0;
    uint32_t b = 0;
    const uint32_t count = gram ? gram->GetUnigramCount() : 0;
    auto flagsOf = [&](int32_t id) -> uint16_t {
        const uint8_t* u = (gram && id > 0) ? gram->GetUnigram(uint32_t(id)) : nullptr;
        return u ? Rd16(u + 4) : 0;
    };
    auto capOf = [&](int32_t id) -> int32_t {
        const uint8_t* u = gram ? gram->GetUnigram(uint32_t(id)) : nullptr;
        return u ? int32_t(Rd16(u + 2)) : kNeutral;
    };
    const uint16_t leftFlags = flagsOf(left->gramId), rightFlags = flagsOf(right->gramId);

    int32_t pair;
    if (left->gramId < 1 || right->gramId < 1) {
        pair = kNeutral;
        b = 32;
    } else {
        const uint32_t l = uint32_t(left->gramId), r = uint32_t(right->gramId);
        const int32_t n = left->syllableCount + right->syllableCount;
        if (n == 2) {
            if (l >= count || r >= count) {
                pair = 525;
            } else {
                int32_t h = -1;
                const int32_t s = gram->CachedQuery(l, r, nullptr, nullptr, &h, 0);
                const int32_t m = std::min(capOf(left->gramId), s);
                pair = m + 175;
                if (m <= 255) b |= 16;
            }
        } else if (l >= count || r >= count) {
            pair = kNeutral;
        } else {
            int32_t s = gram->CachedQuery(l, r, &f0, nullptr, hint, max);
            fnd = s != kNeutral;
            if (n >= 4 && !fnd) {
                uint8_t used = 0;
                s = gram->BackOff(l, r, &used);
                if (used) b |= 8;
            }
            if (f0) b |= 64;
            pair = std::min(capOf(left->gramId), s);
        }
    }

    int32_t freq;
    if (right->gramId < 1 || right->sourceType == 3 || right->sourceType == 24)
        freq = right->ownFreq;
    else
        freq = GramGetUnigramFreq(gram, uint32_t(right->gramId));

    int32_t adj = 0;
    bool done = false;
    if (left->gramId >= 1 && leftFlags != 0) {
        if (left->kind == 1) {
            adj = (leftFlags & 1) ? 150 : 0;
        } else if (left->kind == 0) {
            if (leftFlags & 0x10) {
                if (right->gramId < 1) {
                    done = true;
                } else if (left->prevGramId > 0) {
                    int32_t h = -1;
                    adj = (gram->CachedQuery(uint32_t(left->prevGramId), uint32_t(right->gramId),
                                             nullptr, nullptr, &h, 0) -
                           kNeutral) /
                          2;
                }
            } else {
                adj = (leftFlags & 1) ? 150 : 0;
            }
        }
    }
    if (!done && right->gramId > 0 && rightFlags != 0) {
        if (right->kind == 0 && (rightFlags & 5))
            adj += 150;
        else if (right->kind == 2)
            adj += (rightFlags & 4) ? 150 : ((rightFlags & 2) ? -100 : 0);
    }
    right->freqUsed = uint16_t(freq);
    right->adjust = int16_t(adj);
    if (flag0) *flag0 = f0;
    if (found) *found = fnd;
    if (bits) *bits = b;
    return adj + freq + pair;
}
