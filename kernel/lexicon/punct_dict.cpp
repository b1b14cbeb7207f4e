// The punctuation map and its letter-pair encoded ini file.
#include "kernel/lexicon/punct_dict.h"

#include <cstring>
#include <cwchar>

#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/file_config.h"
#include "kernel/runtime/os_helpers.h"

int DecodeLetterPairs(const wchar_t* text, uint8_t* dest, size_t capacity) {
    if (!text) return -1;
    const size_t n = wcslen(text);
    if (n < 2 || (n & 1)) return -1;
    uint8_t check = 0;
    for (size_t i = 0; i < n; ++i)
        if (text[i] < L'a' || text[i] > L'z') return -1;
    const size_t bytes = n / 2 - 1;  // without the check byte
    if (bytes > capacity || (bytes > 0 && !dest)) return -1;
    for (size_t i = 0; i < n; i += 2) {
        const uint32_t v = uint32_t(text[i] - L'a') * 16 + uint32_t(text[i + 1] - L'a');
        if (v > 0xFF) return -1;
        check ^= uint8_t(v);
    }
    if (check != 0) return -1;
    for (size_t i = 0; i < bytes; ++i)
        dest[i] = uint8_t(uint32_t(text[2 * i] - L'a') * 16 + uint32_t(text[2 * i + 1] - L'a'));
    return int(bytes);
}

namespace {

// Decodes a text value into 32-bit little-endian units at dest (kTextUnits
// units, the last kept 0); false when absent, empty or too long.
bool DecodeText(const wchar_t* value, uint8_t* dest) {
    const size_t capacity = size_t(t_punctureDict::kTextUnits - 1) * 4;
    const int n = DecodeLetterPairs(value, dest, capacity);
    return n >= 1;
}

}  // namespace

bool t_punctureDict::LoadFromFile(const wchar_t* path) {
    m_loadNote.clear();
    if (!path) return false;
    t_fileConfig ini;
    if (!ini.Load(path)) return false;
    std::vector<uint8_t> image(kImageSize, 0);
    uint32_t records = 0;
    for (const auto& [name, section] : ini.GetSections()) {
        if (records == kRecordCount) break;
        const t_fileConfig::t_keyRecord* half = section.Find(L"ChHalf");
        const t_fileConfig::t_keyRecord* full = section.Find(L"ChFull");
        if (!half || !full) continue;
        const std::wstring sectionName(name);
        uint8_t* rec = image.data() + size_t(records) * kRecordSize;
        uint8_t key[4] = {0, 0, 0, 0};
        if (DecodeLetterPairs(sectionName.c_str(), key, sizeof key) < 1) continue;
        const uint32_t code = Rd32(key);
        if (code == 0) continue;
        if (!DecodeText(half->value, rec + 4) ||
            !DecodeText(full->value, rec + 4 + kTextUnits * 4)) {
            std::memset(rec, 0, kRecordSize);
            continue;
        }
        Wr32(rec, code);
        ++records;
    }
    if (records < kRecordCount)
        m_loadNote = std::to_wstring(records) + L" of its " + std::to_wstring(kRecordCount) +
                     L" punctuation marks readable";
    if (!ini.UndecodableNote().empty())
        m_loadNote += (m_loadNote.empty() ? L"" : L"; ") + ini.UndecodableNote();
    return CommitImage(image.data(), int32_t(image.size()));
}

bool t_punctureDict::Load(void* data, int32_t size) {
    m_map.clear();
    m_records.clear();
    auto fail = [this] {
        m_map.clear();
        m_records.clear();
        SetReady(false);
        return false;
    };
    if (!data || size < 0 || uint32_t(size) % kRecordSize != 0) return fail();
    const uint8_t* img = static_cast<const uint8_t*>(data);
    const uint32_t count = uint32_t(size) / kRecordSize;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* rec = img + size_t(i) * kRecordSize;
        const uint32_t code = Rd32(rec);
        if (code == 0 || m_map.count(code)) continue;
        t_record r;
        std::memcpy(r.half, rec + 4, sizeof r.half);
        std::memcpy(r.full, rec + 4 + sizeof r.half, sizeof r.full);
        // A text must end inside its field, or lookups would run past it.
        if (wmemchr(r.half, 0, kTextUnits) == nullptr || wmemchr(r.full, 0, kTextUnits) == nullptr)
            return fail();
        m_records.push_back(r);
        m_map.emplace(code, m_records.size() - 1);
        if (m_map.size() > kRecordCount) return fail();
    }
    if (m_map.size() != kRecordCount) return fail();
    SetReady(true);
    return true;
}

const wchar_t* t_punctureDict::GetPunctuation(uint32_t key, bool fullWidth, bool pairing) {
    if (!IsReady()) return nullptr;
    if (pairing && key == kSingleQuote) {
        if (m_singleState) key = kSingleQuoteClose;
        m_singleState ^= 1;
    } else if (pairing && key == kDoubleQuote) {
        const int64_t now = GetTickMs();
        if (m_doubleState && now - m_lastDoubleMs < kQuotePairMs) {
            key = kDoubleQuoteClose;
            m_doubleState = 0;
        } else {
            m_doubleState = 1;
        }
        m_lastDoubleMs = now;
    }
    const auto it = m_map.find(key);
    if (it == m_map.end()) return nullptr;
    const t_record& r = m_records[it->second];
    return fullWidth ? r.full : r.half;
}

void t_punctureDict::ResetQuoteState() {
    m_doubleState = 0;
}
