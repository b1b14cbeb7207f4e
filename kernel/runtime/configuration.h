// The kernel's typed configuration store: byte, int32 and short string
// items at fixed offsets in banks of bytes. Defaults are registered at
// start-up; bank 0 is mirrored in the named block "GlobalConfig" and
// reloaded after the next version check when a writer changed it.
// Set-up and setters on the kernel's thread; getters on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/lstr.h"
#include "kernel/runtime/named_memory.h"

// A byte buffer that grows by doubling (first allocation 10240 bytes).
class t_growBuf {
public:
    t_growBuf() = default;
    ~t_growBuf();
    t_growBuf(const t_growBuf&) = delete;
    t_growBuf& operator=(const t_growBuf&) = delete;

    // Each append returns false (buffer unchanged) when memory is short.
    bool AppendByte(uint8_t v);
    bool AppendU16(uint16_t v);
    bool AppendU32(uint32_t v);                    // little-endian, unaligned
    bool AppendBytes(const void* data, size_t n);  // null data appends nothing
    bool AppendWstr(const wchar_t* s);             // with its terminator; null: nothing
    // A slot of n + 1 characters holding at most n characters, terminated.
    bool AppendWstrSlot(const wchar_t* s, size_t n);
    // The count and the units; a null string appends a 16-bit 0.
    bool AppendLstr(const t_lstr* s);

    const uint8_t* Data() const { return m_data; }
    uint32_t Size() const { return m_size; }
    uint32_t Capacity() const { return m_capacity; }

private:
    bool Reserve(size_t extra);
    uint8_t* m_data = nullptr;
    uint32_t m_capacity = 0;
    uint32_t m_size = 0;
};

enum : uint32_t { kConfigByte = 0, kConfigInt = 1, kConfigString = 2 };

inline constexpr uint32_t kConfigBankCount = 3;
// A string item's slot: 65 wide characters (260 bytes).
inline constexpr uint32_t kConfigSlotChars = 65;
inline constexpr uint32_t kConfigSlotBytes = kConfigSlotChars * sizeof(wchar_t);
// Longest text a setter stores.
inline constexpr size_t kConfigMaxStringChars = 63;

class t_configRegistry;

// One item: its type, bank, offset (given at registration) and default.
struct t_configItem {
    t_configItem(t_configRegistry& registry, uint32_t type, uint32_t bank, int32_t intDefault,
                 const wchar_t* stringDefault = nullptr);

    uint32_t type;
    uint32_t bank;    // 0..2; a larger bank number is stored as 1
    uint32_t offset;  // inside the bank
    int32_t intDefault;
    const wchar_t* stringDefault;
};

// The banks of defaults that items register into, in registration order.
class t_configRegistry {
public:
    static t_configRegistry& Global();
    // Sets the item's bank and offset and appends its default.
    void Register(t_configItem& item);
    // Null above bank 2.
    const t_growBuf* GetBank(uint32_t bank) const;

private:
    t_growBuf m_banks[kConfigBankCount];
};

// The kernel's items (all in bank 0), in their stored order.
namespace n_config {
extern t_configItem LongWordCandPos, MaxLongWord, LongWordNumGate, PinyinMismatchCount1,
    PinyinMismatchCount2,
    LearnEnglishCommits,  // learn English committed in Chinese mode; also the long-word hint
    LearnFreq, LearnNewWord,
    LearnAddressCommits,   // learn text committed as typed, not all letters, as an address
    LearnEnglishAllWords,  // English-mode commits: learn every word
    LearnEnglishNewWords,  // English-mode commits: learn only words the system does not know
    EnglishListCase,       // the case byte of the English list when the caller asks for it
    FuzzyPairCount,        // spellings the user corrected by one fuzzy pair (int)
    NoPhrase,
    FirstPinyinTip,  // conversion request: the first pinyin tip
    CharArt,         // conversion request: character art wanted
    FixFirst,        // conversion request: keep the first candidate in place
    NameCands,       // conversion request: personal-name candidates
    ShuangPin, Correction,
    PinCands,         // pass PinnedCandCount on to the candidate array, else 0
    PinnedCandCount,  // (int)
    UserWeightCurve,  // the user dictionary's weight-curve parameter (int, 0..255)
    UserPhrase,
    NoLongWordHint,  // turns the long-word hint off
    ForecastLongWord,
    SecondPinyinTip,         // the second pinyin tip even without the key map's flag
    SecondPinyinTipAllowed,  // the second pinyin tip at all
    SuperSPJP, QuanPin, ZCSForZhChSh,
    ContextAdjust,  // the word committed just before raises its usual followers
    EnableCloudRequest,
    SmartFuzzyKeys,  // key-map builder: the "Gray" fuzzy set becomes smart-fuzzy-only keys
    ReservedByte,    // stored, read by nobody
    AllowQuanPin, ShuangPinName, SystemUserPhrase;
}  // namespace n_config

class t_configuration {
public:
    virtual ~t_configuration() = default;
    virtual bool Init() = 0;
    virtual uint8_t GetByte(const t_configItem& item) = 0;
    virtual void SetByte(const t_configItem& item, uint8_t value) = 0;
    virtual int32_t GetInt(const t_configItem& item) = 0;
    virtual void SetInt(const t_configItem& item, int32_t value) = 0;
    virtual const wchar_t* GetString(const t_configItem& item) = 0;
    virtual void SetString(const t_configItem& item, const wchar_t* text) = 0;
    virtual void ReloadShared() = 0;
};

class t_configurationImpl;

// The "GlobalConfig" block: a version change reloads the owner's bank 0.
class t_configShareMemory final : public t_shareMemory {
public:
    explicit t_configShareMemory(t_configurationImpl* owner) : m_owner(owner) {}
    bool OnVersionChanged(int version) override;
    bool OnNameEvent(const wchar_t*) override { return true; }

private:
    t_configurationImpl* m_owner;
};

class t_configurationImpl final : public t_configuration {
public:
    explicit t_configurationImpl(t_configRegistry& registry = t_configRegistry::Global());
    ~t_configurationImpl() override;

    // Copies the defaults into local banks and opens "GlobalConfig" (made
    // from the defaults when new). Needs an initialised version manager for
    // change notification. Returns true; when no block can be opened the
    // store reads its defaults and ignores setters.
    bool Init() override;
    // Out-of-range items (bad bank, offset outside the bank) read as 0 / null.
    uint8_t GetByte(const t_configItem& item) override;
    int32_t GetInt(const t_configItem& item) override;
    const wchar_t* GetString(const t_configItem& item) override;
    // Ignored before Init or for out-of-range items. Bank 0 values also go to
    // the block and raise its version. Strings keep their first 63 characters.
    void SetByte(const t_configItem& item, uint8_t value) override;
    void SetInt(const t_configItem& item, int32_t value) override;
    void SetString(const t_configItem& item, const wchar_t* text) override;
    // Copies bank 0 from the block into the local bank.
    void ReloadShared() override;
    // The "GlobalConfig" block, for diagnostics.
    t_shareMemory& SharedBlock() { return m_block; }

private:
    bool InBank(const t_configItem& item, uint32_t bytes) const;
    void Write(const t_configItem& item, const void* data, uint32_t bytes);

    t_configRegistry& m_registry;
    uint8_t* m_banks[kConfigBankCount] = {};
    uint32_t m_bankSizes[kConfigBankCount] = {};
    t_configShareMemory m_block{this};
};
