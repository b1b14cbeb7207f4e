// The character dictionary over a table-file image: one key row per
// character (its text, its reading count, the head of a chain of attri rows
// each holding one syllable id).
#include "kernel/lexicon/hz_dict.h"

#include "kernel/runtime/lstr.h"

using n_tableFormat::kNone;
using n_tableFormat::Rd16;
using n_tableFormat::Rd32;
using n_tableFormat::RdI16;
using n_tableFormat::Wr16;

namespace {

// The key text of one character: one unit, or a surrogate pair beyond U+FFFF.
struct t_charKey {
    uint8_t bytes[6];
    explicit t_charKey(uint32_t ch) {
        if (ch > 0xFFFF) {
            Wr16(bytes, 4);
            Wr16(bytes + 2, uint16_t(0xD7C0 + (ch >> 10)));
            Wr16(bytes + 4, uint16_t(0xDC00 + (ch & 0x3FF)));
        } else {
            Wr16(bytes, 2);
            Wr16(bytes + 2, uint16_t(ch));
        }
    }
    const t_lstr* Get() const { return reinterpret_cast<const t_lstr*>(bytes); }
};

}  // namespace

t_hzDict::t_hzDict() = default;
t_hzDict::~t_hzDict() = default;

void t_hzDict::Describe(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
                        std::vector<uint32_t>& datas) {
    t_keyDesc k;
    k.keyType = 3;
    k.fieldTypes = {0, 5, 6};
    k.attriIndex = 0;
    k.keyDataTable = 0;
    k.valueDataTable = kNone;
    keys = {k};
    t_attriDesc a;
    a.fieldCount = 1;
    a.ownerKey = 0;
    a.dataTable = kNone;
    attris = {a};
    datas = {0};
}

bool t_hzDict::Load(void* data, int32_t size) {
    SetReady(false);
    m_table.Detach();
    if (!data || size <= 0) return false;
    if (!m_table.Attach(data, kFormatVersion, size)) return false;
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    Describe(keys, attris, datas);
    const t_tableLayout& L = m_table.GetLayout();
    const bool ok = L.keys.size() == 1 && L.attris.size() == 1 &&
                    L.keys[0].keyType == keys[0].keyType &&
                    L.keys[0].fieldTypes == keys[0].fieldTypes && m_table.GetAttriIndex(0) == 0 &&
                    L.attris[0].fieldCount == 1 && m_table.GetKeyDataTable(0) == 0;
    if (!ok) {
        m_table.Detach();
        return false;
    }
    SetReady(true);
    return true;
}

const uint8_t* t_hzDict::RowOf(uint32_t ch) const {
    if (!IsReady()) return nullptr;
    const t_charKey key(ch);
    const uint8_t* row = nullptr;
    return m_table.FindRow(key.Get(), 0, &row) ? row : nullptr;
}

int t_hzDict::GetCharReadingCount(uint32_t ch) const {
    const uint8_t* row = RowOf(ch);
    if (!row) return 0;
    const int16_t n = RdI16(row + m_table.GetLayout().keyLayouts[0].fieldOffsets[1]);
    return n > 0 ? n : 0;
}

int t_hzDict::GetCharPinyinIds(uint32_t ch, uint16_t* out, int capacity) const {
    if (!out) return 0;
    const uint8_t* row = RowOf(ch);
    if (!row) return 0;
    const t_keyLayout& L = m_table.GetLayout().keyLayouts[0];
    const int16_t count = RdI16(row + L.fieldOffsets[1]);
    uint32_t link = Rd32(row + L.linkOffset);
    if (count <= 0 || count > capacity || link == kNone) return 0;
    int n = 0;
    while (link != kNone && n < count) {
        const uint8_t* a = m_table.GetAttriRowPtr(0, link);
        if (!a) return 0;
        out[n++] = Rd16(a + L.attriFieldOffsets[0]);
        link = Rd32(a + L.attriLinkOffset);
    }
    return (n == count && link == kNone) ? n : 0;
}

bool t_hzDict::Contains(uint32_t ch) const {
    return RowOf(ch) != nullptr;
}

int32_t t_hzDict::GetCharCount() const {
    return IsReady() ? m_table.GetKeyRowCount(0) : 0;
}

uint32_t t_hzDict::GetCharAt(int32_t i) const {
    if (!IsReady() || i < 0 || i >= GetCharCount()) return 0;
    const t_lstr* s = m_table.GetDataPtr(0, int64_t(i) * 4);
    if (!s || LstrGetLength(s) < 1) return 0;
    return LstrGetUnit(s, 0);
}
