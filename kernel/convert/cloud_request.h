// The cloud request: whether a keystroke's local candidates warrant asking
// the cloud, the compact record of the input written into the caller's
// buffer, and the request delay from the typing speed. Engine thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class t_arrayWord;
class t_inputLattice;
class t_pyLattice;
class t_pyDict;
class t_usrDictV3Core;
class t_sysDict;
class t_hzDict;
class t_scopeHeap;

inline constexpr int kCloudRecordLimit = 1024;
inline constexpr uint8_t kCloudRecordFormat = 9;
inline constexpr int kTrustedPairSide = 413;
inline constexpr size_t kTrustedPairBytes = size_t(kTrustedPairSide) * kTrustedPairSide;
// The trusted-pair table of the system data directory.
inline constexpr wchar_t kTrustedPairFile[] = L"qzim_trustpair.bin";

// Reads a trusted-pair table: exactly kTrustedPairBytes bytes, each 0 or 1.
// False, with *table emptied, for a missing, short, long or damaged file.
bool LoadTrustedPairs(const wchar_t* path, std::vector<uint8_t>* table);
// The table of the configured system data directory, read on first use and
// again when the directory changes; null when it cannot be read (then every
// pair asks the cloud).
const uint8_t* KernelTrustedPairs();

// The caller's record of the cloud request of a run.
struct t_cloudAsked {
    uint8_t asked = 0;  // 1: a record was written this run
    int32_t delay = 0;  // milliseconds before the request is sent
};

// The caller's cloud parameters; the conversion reads only these fields.
struct t_cloudRequestParams {
    uint8_t* buffer = nullptr;  // kCloudRecordLimit bytes; null: no request
    float unused = 0;
    int16_t speedFactor = 0;
    int32_t plainOffset = 0;    // delay offset when the input ends in a plain syllable
    int32_t partialOffset = 0;  // otherwise
    uint8_t reserved = 0;
    int32_t reservedValue = 0;
    uint8_t noCloud = 0;
    const char* stringA = nullptr;
    int32_t value = 0;  // also the forecast field
    uintptr_t passThrough = 0;
    uint8_t compositionOff = 0;  // non-zero hides the cloud flag from composition
    const char* stringB = nullptr;
};

// Weight byte of an arc: (p x 128) AND 0xE0, 1 for 0. The probability is
// clamped to [0, 1] first: a learned key-map weight above 1 or a ratio of a
// zero count would otherwise give a meaningless or undefined byte.
uint8_t CloudArcWeight(double p);

// The dictionaries the record and the trigger read (null ones are skipped).
struct t_cloudSources {
    const t_pyDict* py = nullptr;
    t_usrDictV3Core* user = nullptr;
    const t_sysDict* sys = nullptr;
    const t_hzDict* hz = nullptr;
    // kTrustedPairSide x kTrustedPairSide bytes, 1 = the local word of the
    // pair is trusted; null: every pair asks.
    const uint8_t* trustedPairs = nullptr;
};

class t_cloudTrigger {
public:
    t_cloudTrigger(const t_pyLattice* lattice, const t_arrayWord* array, int n,
                   const uint8_t* trustedPairs)
        : m_lattice(lattice), m_array(array), m_n(n), m_trusted(trustedPairs) {}
    void SetRequest(t_cloudAsked* asked) {
        m_asked = asked;
        m_hasRequest = asked != nullptr;
    }
    bool HasRequest() const { return m_hasRequest && m_asked; }
    t_cloudAsked* GetRequest() const { return m_asked; }
    // 1 when the cloud should be asked.
    int ShouldRequest(t_scopeHeap* arena);

private:
    const t_pyLattice* m_lattice;
    const t_arrayWord* m_array;
    int m_n;
    const uint8_t* m_trusted;
    int32_t m_local = 0;
    int32_t m_user = 0;
    t_cloudAsked* m_asked = nullptr;
    bool m_hasRequest = false;
};

class t_latticePacker {
public:
    t_latticePacker(const t_pyLattice* syllables, const t_inputLattice* words, const wchar_t* input,
                    const t_arrayWord* array, t_scopeHeap* arena, const t_cloudSources& sources);
    // The size of the record without its tagged values; 0 when the lattice
    // has no kept arc.
    int ComputeSize(int limit);
    // Writes the record into out (limit bytes); 1 when it was written.
    int Write(uint8_t* out, const char* a, int32_t v, const char* b, int limit);

private:
    int TextsSize(int size, int limit);
    int UserWordEstimate() const;
    bool KeptArc(uint16_t id, uint16_t flags) const;
    int CollectTexts();

    const t_pyLattice* m_syllables;
    const t_inputLattice* m_words;
    const wchar_t* m_input;
    const t_arrayWord* m_array;
    t_scopeHeap* m_arena;
    t_cloudSources m_sources;
    const void* m_texts[5] = {};
    int m_textCount = 0;
    int m_size = 0;      // lattice and texts, the check byte included
    int m_userSize = 4;  // the user-word section with its length field
};

// Writes the record into params->buffer and the delay into asked when the
// lattice has a kept arc and everything fits; asked->asked tells.
void BuildCloudRequestData(const t_pyLattice* syllables, const t_inputLattice* words,
                           const wchar_t* input, const t_arrayWord* array, t_scopeHeap* arena,
                           const t_cloudSources& sources, const t_cloudRequestParams* params,
                           t_cloudAsked* asked);

// Typing speed, process-wide: the average interval between key presses.
class t_keyPressSpeedStat {
public:
    void KeyPress(uint64_t nowMs);
    void Update(uint64_t nowMs);
    void Reset(uint32_t savedMicroseconds);
    // The long-term value to save in microseconds; false (no value, nothing
    // changed) with fewer than 11 counted intervals.
    bool ValueToSave(uint32_t* out);
    uint32_t GetAverage() const { return m_average; }

private:
    uint64_t m_last = 0;
    uint32_t m_count = 0;
    double m_sum = 0;
    double m_previous = 0;
    uint32_t m_average = 250;
    uint32_t m_saved = 0;
};

// The process-wide statistics, created on first use.
t_keyPressSpeedStat& GetKeyPressSpeedStat();

// The delay of a request: average x factor / 256 plus the offset for how
// the input ends; never negative.
int32_t CloudRequestDelay(uint32_t averageMs, int16_t factor, bool lacksPlainSyllable,
                          int32_t plainOffset, int32_t partialOffset);
