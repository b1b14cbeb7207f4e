// The typed configuration store.
#include "kernel/runtime/configuration.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"

// ---- t_growBuf -----------------------------------------------------------

namespace {
constexpr size_t kGrowBufFirst = 10240;
}  // namespace

t_growBuf::~t_growBuf() {
    free(m_data);
}

bool t_growBuf::Reserve(size_t extra) {
    const uint64_t need = uint64_t(m_size) + extra;
    if (need <= m_capacity) return true;
    if (need > UINT32_MAX) return false;
    uint64_t capacity = m_capacity ? m_capacity : kGrowBufFirst;
    while (capacity < need) capacity *= 2;
    if (capacity > UINT32_MAX) capacity = UINT32_MAX;
    auto* grown = static_cast<uint8_t*>(malloc(capacity));
    if (!grown) return false;
    if (m_size) memcpy(grown, m_data, m_size);
    free(m_data);
    m_data = grown;
    m_capacity = static_cast<uint32_t>(capacity);
    return true;
}

bool t_growBuf::AppendBytes(const void* data, size_t n) {
    if (!data || n == 0) return true;
    if (!Reserve(n)) return false;
    memcpy(m_data + m_size, data, n);
    m_size += static_cast<uint32_t>(n);
    return true;
}

bool t_growBuf::AppendByte(uint8_t v) {
    return AppendBytes(&v, 1);
}

bool t_growBuf::AppendU16(uint16_t v) {
    const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    return AppendBytes(b, 2);
}

bool t_growBuf::AppendU32(uint32_t v) {
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return AppendBytes(b, 4);
}

bool t_growBuf::AppendWstr(const wchar_t* s) {
    if (!s) return true;
    return AppendBytes(s, (wcslen(s) + 1) * sizeof(wchar_t));
}

bool t_growBuf::AppendWstrSlot(const wchar_t* s, size_t n) {
    const size_t slotBytes = (n + 1) * sizeof(wchar_t);
    if (!Reserve(slotBytes)) return false;
    uint8_t* slot = m_data + m_size;
    memset(slot, 0, slotBytes);
    if (s) memcpy(slot, s, wcsnlen(s, n) * sizeof(wchar_t));
    m_size += static_cast<uint32_t>(slotBytes);
    return true;
}

bool t_growBuf::AppendLstr(const t_lstr* s) {
    if (!s) return AppendU16(0);
    const uint16_t bytes = LstrGetByteLength(s);
    if (!Reserve(size_t(bytes) + 2)) return false;
    AppendU16(bytes);
    return AppendBytes(LstrGetBytes(s), bytes);
}

// ---- registry and items --------------------------------------------------

t_configRegistry& t_configRegistry::Global() {
    static t_configRegistry registry;
    return registry;
}

void t_configRegistry::Register(t_configItem& item) {
    if (item.bank >= kConfigBankCount) item.bank = 1;
    t_growBuf& bank = m_banks[item.bank];
    item.offset = bank.Size();
    switch (item.type) {
        case kConfigByte:
            bank.AppendByte(static_cast<uint8_t>(item.intDefault));
            break;
        case kConfigInt:
            bank.AppendU32(static_cast<uint32_t>(item.intDefault));
            break;
        default:
            bank.AppendWstrSlot(item.stringDefault, kConfigSlotChars - 1);
            break;
    }
}

const t_growBuf* t_configRegistry::GetBank(uint32_t bank) const {
    return bank < kConfigBankCount ? &m_banks[bank] : nullptr;
}

t_configItem::t_configItem(t_configRegistry& registry, uint32_t type_, uint32_t bank_,
                           int32_t intDefault_, const wchar_t* stringDefault_)
    : type(type_), bank(bank_), offset(0), intDefault(intDefault_), stringDefault(stringDefault_) {
    registry.Register(*this);
}

// Registered in this order, which fixes their offsets (no padding).
namespace n_config {
#define VETRA_BYTE(name, def) t_configItem name(t_configRegistry::Global(), kConfigByte, 0, def)
#define VETRA_INT(name, def) t_configItem name(t_configRegistry::Global(), kConfigInt, 0, def)
VETRA_INT(LongWordCandPos, 2);
VETRA_INT(MaxLongWord, 2);
VETRA_INT(LongWordNumGate, 4);
VETRA_INT(PinyinMismatchCount1, 0);
VETRA_INT(PinyinMismatchCount2, 0);
VETRA_BYTE(LearnEnglishCommits, 1);
VETRA_BYTE(LearnFreq, 1);
VETRA_BYTE(LearnNewWord, 1);
VETRA_BYTE(LearnAddressCommits, 1);
VETRA_BYTE(LearnEnglishAllWords, 1);
VETRA_BYTE(LearnEnglishNewWords, 1);
VETRA_BYTE(EnglishListCase, 1);
VETRA_INT(FuzzyPairCount, 0);
VETRA_BYTE(NoPhrase, 0);
VETRA_BYTE(FirstPinyinTip, 1);
VETRA_BYTE(CharArt, 1);
VETRA_BYTE(FixFirst, 1);
VETRA_BYTE(NameCands, 1);
VETRA_BYTE(ShuangPin, 0);
VETRA_BYTE(Correction, 1);
VETRA_BYTE(PinCands, 0);
VETRA_INT(PinnedCandCount, 10);
VETRA_INT(UserWeightCurve, 127);
VETRA_BYTE(UserPhrase, 1);
VETRA_BYTE(NoLongWordHint, 0);
VETRA_BYTE(ForecastLongWord, 1);
VETRA_BYTE(SecondPinyinTip, 1);
VETRA_BYTE(SecondPinyinTipAllowed, 1);
VETRA_BYTE(SuperSPJP, 1);
VETRA_BYTE(QuanPin, 1);
VETRA_BYTE(ZCSForZhChSh, 1);
VETRA_BYTE(ContextAdjust, 1);
VETRA_BYTE(EnableCloudRequest, 1);
VETRA_BYTE(SmartFuzzyKeys, 1);
VETRA_BYTE(ReservedByte, 1);
VETRA_BYTE(AllowQuanPin, 0);
t_configItem ShuangPinName(t_configRegistry::Global(), kConfigString, 0, 0, L"Vetra");
VETRA_BYTE(SystemUserPhrase, 1);
#undef VETRA_BYTE
#undef VETRA_INT
}  // namespace n_config

// ---- t_configurationImpl -------------------------------------------------

namespace {
const wchar_t kGlobalConfigName[] = L"GlobalConfig";
}  // namespace

bool t_configShareMemory::OnVersionChanged(int) {
    m_owner->ReloadShared();
    return true;
}

t_configurationImpl::t_configurationImpl(t_configRegistry& registry) : m_registry(registry) {}

t_configurationImpl::~t_configurationImpl() {
    for (uint8_t*& bank : m_banks) {
        free(bank);
        bank = nullptr;
    }
}

bool t_configurationImpl::Init() {
    for (uint32_t i = 0; i < kConfigBankCount; ++i) {
        const t_growBuf* defaults = m_registry.GetBank(i);
        free(m_banks[i]);
        m_bankSizes[i] = defaults->Size();
        m_banks[i] = static_cast<uint8_t*>(calloc(1, m_bankSizes[i] ? m_bankSizes[i] : 1));
        if (m_banks[i] && m_bankSizes[i]) memcpy(m_banks[i], defaults->Data(), m_bankSizes[i]);
        if (!m_banks[i]) m_bankSizes[i] = 0;
    }
    const int32_t size = static_cast<int32_t>(m_bankSizes[0]);
    if (!m_block.OpenMemory(kGlobalConfigName, -1) && size > 0 &&
        m_block.OpenMemory(kGlobalConfigName, size) && m_block.GetDataSize() >= size) {
        memcpy(m_block.GetData(), m_banks[0], static_cast<size_t>(size));
        t_singleton<t_versionManager>::Get().IncreaseVersion(m_block.GetVersionName().c_str());
    }
    ReloadShared();
    return true;
}

bool t_configurationImpl::InBank(const t_configItem& item, uint32_t bytes) const {
    if (item.bank >= kConfigBankCount || !m_banks[item.bank]) return false;
    return uint64_t(item.offset) + bytes <= m_bankSizes[item.bank];
}

uint8_t t_configurationImpl::GetByte(const t_configItem& item) {
    return InBank(item, 1) ? m_banks[item.bank][item.offset] : 0;
}

int32_t t_configurationImpl::GetInt(const t_configItem& item) {
    if (!InBank(item, 4)) return 0;
    return RdI32(m_banks[item.bank] + item.offset);  // items are unaligned
}

const wchar_t* t_configurationImpl::GetString(const t_configItem& item) {
    if (!InBank(item, kConfigSlotBytes)) return nullptr;
    const uint8_t* slot = m_banks[item.bank] + item.offset;
    if (reinterpret_cast<uintptr_t>(slot) % alignof(wchar_t) != 0) return nullptr;
    return reinterpret_cast<const wchar_t*>(slot);
}

void t_configurationImpl::Write(const t_configItem& item, const void* data, uint32_t bytes) {
    memcpy(m_banks[item.bank] + item.offset, data, bytes);
    if (item.bank != 0) return;
    if (uint64_t(item.offset) + bytes > uint64_t(m_block.GetDataSize())) return;
    memcpy(static_cast<uint8_t*>(m_block.GetData()) + item.offset, data, bytes);
    t_singleton<t_versionManager>::Get().IncreaseVersion(m_block.GetVersionName().c_str());
}

void t_configurationImpl::SetByte(const t_configItem& item, uint8_t value) {
    if (!m_block.IsValid() || !InBank(item, 1)) return;
    Write(item, &value, 1);
}

void t_configurationImpl::SetInt(const t_configItem& item, int32_t value) {
    if (!m_block.IsValid() || !InBank(item, 4)) return;
    uint8_t bytes[4];
    Wr32(bytes, uint32_t(value));
    Write(item, bytes, 4);
}

void t_configurationImpl::SetString(const t_configItem& item, const wchar_t* text) {
    if (!m_block.IsValid() || !text || !InBank(item, kConfigSlotBytes)) return;
    wchar_t slot[kConfigSlotChars] = {};
    wmemcpy(slot, text, wcsnlen(text, kConfigMaxStringChars));
    Write(item, slot, kConfigSlotBytes);
}

void t_configurationImpl::ReloadShared() {
    if (!m_block.IsValid() || !m_banks[0]) return;
    const uint32_t n = m_bankSizes[0];
    if (uint64_t(m_block.GetDataSize()) < n) return;
    memcpy(m_banks[0], m_block.GetData(), n);
}
