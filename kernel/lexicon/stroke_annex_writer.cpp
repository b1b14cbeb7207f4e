// Stroke-annex images through the table-file builder.
#include "kernel/lexicon/stroke_annex_writer.h"

#include "kernel/lexicon/stroke_annex.h"
#include "kernel/storage/table_builder.h"

namespace {

// A packed builder item: i32 size, then the fields.
class t_packed {
public:
    t_packed() : m_bytes(4, 0) {}
    t_packed& U16(uint16_t v) { return Le(v, 2); }
    t_packed& U32(uint32_t v) { return Le(v, 4); }
    // A variable-length field: i16 length, then the bytes.
    t_packed& Item(const std::vector<uint8_t>& bytes) {
        U16(uint16_t(bytes.size()));
        return Raw(bytes.data(), bytes.size());
    }
    const std::vector<uint8_t>& Done() {
        const uint32_t n = uint32_t(m_bytes.size() - 4);
        for (int i = 0; i < 4; ++i) m_bytes[size_t(i)] = uint8_t(n >> (8 * i));
        return m_bytes;
    }

private:
    t_packed& Le(uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) m_bytes.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    t_packed& Raw(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
        return *this;
    }
    std::vector<uint8_t> m_bytes;
};

void PutUnits(std::vector<uint8_t>& out, const std::vector<uint16_t>& units) {
    for (uint16_t u : units) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    }
}

std::vector<uint8_t> UnitBytes(const std::vector<uint16_t>& units) {
    std::vector<uint8_t> out;
    PutUnits(out, units);
    return out;
}

constexpr size_t kMaxItem = 32767;  // an item length is an i16

}  // namespace

t_strokeAnnexWriter::t_strokeAnnexWriter(uint32_t headerTag) : m_builder(new t_tableFileBuilder) {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    n_strokeAnnex::Descriptors(keys, attris, datas);
    if (!m_builder->InitStoreWithBuckets(keys, attris, datas, headerTag,
                                         n_strokeAnnex::kFormatVersion, {}, {},
                                         {0, 0, 0, n_strokeAnnex::kEntryBuckets}))
        m_lastError = m_builder->GetLastError();
}

t_strokeAnnexWriter::~t_strokeAnnexWriter() = default;

bool t_strokeAnnexWriter::Insert(const std::vector<uint8_t>& item, int table) {
    if (!m_builder->IsValid()) return false;
    if (m_builder->InsertOne(item.data(), table) != 1) {
        m_lastError = "the builder refused an item";
        return false;
    }
    return true;
}

bool t_strokeAnnexWriter::AddStrokeChar(const std::vector<uint16_t>& codes, uint16_t ch) {
    if (codes.empty() || codes.size() * 2 > kMaxItem) return false;
    t_packed item;
    item.Item(UnitBytes(codes)).U16(ch);
    return Insert(item.Done(), 0);
}

bool t_strokeAnnexWriter::SetPinyinIds(uint16_t ch, const std::vector<uint16_t>& ids) {
    if (ids.empty() || ids.size() * 2 > kMaxItem) return false;
    t_packed item;
    item.Item(UnitBytes({ch})).Item(UnitBytes(ids));
    return Insert(item.Done(), 1);
}

int t_strokeAnnexWriter::AddEntry(uint16_t ch, const std::vector<uint16_t>& strokes,
                                  const std::vector<t_annexReading>& readings, uint16_t codeTag,
                                  const std::vector<uint16_t>& codes) {
    if (m_entries >= n_strokeAnnex::kEntryBuckets) {
        m_lastError = "entry numbers must stay below 32768";
        return -1;
    }
    if (m_hasEntry[ch]) {
        m_lastError = "the character already has an entry";
        return -1;
    }
    std::vector<uint8_t> readingBytes;
    if (!readings.empty()) {
        std::vector<uint16_t> units{uint16_t(readings.size())};
        for (const t_annexReading& r : readings) {
            units.push_back(r.tone);
            units.push_back(uint16_t(r.id));
        }
        readingBytes = UnitBytes(units);
    }
    std::vector<uint8_t> codeBytes;
    if (!codes.empty()) {
        std::vector<uint16_t> units{codeTag, uint16_t(codes.size() * 2)};
        units.insert(units.end(), codes.begin(), codes.end());
        codeBytes = UnitBytes(units);
    }
    if (strokes.size() * 2 > kMaxItem || readingBytes.size() > kMaxItem ||
        codeBytes.size() > kMaxItem) {
        m_lastError = "an entry value is too long";
        return -1;
    }
    const int number = m_entries;
    t_packed index;
    index.Item(UnitBytes({ch})).U32(uint32_t(number));
    t_packed entry;
    entry.U32(uint32_t(number))
        .Item(UnitBytes({ch}))
        .Item(UnitBytes(strokes))
        .Item(readingBytes)
        .Item(codeBytes);
    if (!Insert(index.Done(), 2) || !Insert(entry.Done(), 3)) return -1;
    ++m_entries;
    m_hasEntry[ch] = true;
    return number;
}

bool t_strokeAnnexWriter::Build(std::vector<uint8_t>& out) {
    out.clear();
    if (!m_builder->IsValid()) return false;
    if (!m_builder->BuildPlainImage(out)) {
        m_lastError = "the image does not fit";
        return false;
    }
    return true;
}
