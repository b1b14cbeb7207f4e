// Descriptor checks and row layout of the table-file image.
#include "kernel/storage/table_format.h"

using namespace n_tableFormat;

namespace {

bool DataIndexOk(uint32_t index, size_t dataCount) {
    return index == kNone || index < dataCount;
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

const char* t_tableLayout::Derive() {
    keyLayouts.assign(keys.size(), t_keyLayout());
    attriRowSizes.assign(attris.size(), 0);
    if (keys.size() > size_t(kMaxKeyTables)) return "more than ten key tables";
    for (const t_attriDesc& a : attris) {
        if (a.ownerKey >= keys.size()) return "attri table names a missing owner key";
        if (!DataIndexOk(a.dataTable, datas.size())) return "attri data table index out of range";
    }
    for (size_t k = 0; k < keys.size(); ++k) {
        const t_keyDesc& d = keys[k];
        t_keyLayout& L = keyLayouts[k];
        if (d.keyType < 0 || d.keyType > kMaxKeyType) return "key type out of range";
        L.policyId = PolicyId(d.keyType);
        if (L.policyId < 1 || L.policyId > 6) return "unknown key policy";
        const bool sorted = d.keyType & kFlagSortedAttri, packed = d.keyType & kFlagPackedAttri;
        if (sorted && packed) return "key type has both attri layouts";
        const size_t fieldCount = d.fieldTypes.size();
        if (fieldCount < 1) return "key table without fields";
        if (fieldCount > 0x7FFF) return "too many fields";
        for (int16_t t : d.fieldTypes)
            if (t < 0 || t > kMaxFieldType) return "field type out of range";
        if (!DataIndexOk(d.keyDataTable, datas.size()) ||
            !DataIndexOk(d.valueDataTable, datas.size()))
            return "key data table index out of range";
        L.hasAttri = d.attriIndex != kNone && d.attriIndex != kNoAttriNoWord;
        uint32_t attriFields = 0;
        if (L.hasAttri) {
            if (d.attriIndex >= attris.size()) return "attri index out of range";
            L.attri = d.attriIndex;
            attriFields = attris[L.attri].fieldCount;
            if (attriFields > fieldCount - 1)
                return "attri table holds more fields than the key has";
        }
        L.keyRowFields = uint32_t(fieldCount - attriFields);

        // Key row.
        uint32_t off = 0;
        L.keyFieldSize = L.policyId == 4 ? 0 : FieldSize(d.fieldTypes[0]);
        off += L.keyFieldSize;
        if (d.keyType & kFlagPrefixSkip) {
            const int kt = d.fieldTypes[0];
            if (L.policyId == 4 || !(kt == 0 || kt == 10 || kt == 12) || d.keyDataTable == kNone)
                return "prefix-skip table without a string key item";
            L.skipOffset = off;
            off += 4;
        }
        L.fieldOffsets.assign(L.keyRowFields, 0);
        for (uint32_t f = 1; f < L.keyRowFields; ++f) {
            L.fieldOffsets[f] = off;
            off += FieldSize(d.fieldTypes[f]);
        }
        if (L.hasAttri) {
            if (sorted || packed) {
                L.countOffset = off;
                off += 4;
            }
            L.linkOffset = off;
            off += 4;
        } else if (d.attriIndex == kNone) {
            off += 4;  // a slot the owning dictionary may use
        }
        if (off == 0) return "key row of zero bytes";
        L.rowSize = off;

        // Attri row of this key's attri table.
        if (L.hasAttri) {
            uint32_t a = 0;
            L.attriFieldOffsets.assign(attriFields, 0);
            for (uint32_t i = 0; i < attriFields; ++i) {
                L.attriFieldOffsets[i] = a;
                a += FieldSize(d.fieldTypes[L.keyRowFields + i]);
                if (i == 0 && sorted) {
                    const int t0 = d.fieldTypes[L.keyRowFields];
                    if (!(t0 == 0 || t0 == 10 || t0 == 12) || attris[L.attri].dataTable == kNone)
                        return "sorted attri rows without a string first field";
                    L.attriSkipOffset = a;
                    a += 4;
                }
            }
            if (sorted && attriFields == 0) return "sorted attri rows without fields";
            if (!sorted && !packed) {
                L.attriLinkOffset = a;
                a += 4;
            }
            if (a == 0) return "attri row of zero bytes";
            L.attriRowSize = a;
            uint32_t& shared = attriRowSizes[L.attri];
            if (shared != 0 && shared != a) return "key tables disagree on an attri row size";
            shared = a;
        }
    }
    return nullptr;
}

const char* t_tableLayout::ParseConfig(const uint8_t* block, uint32_t size, uint32_t& sum) {
    *this = t_tableLayout();
    const uint8_t* p = block;
    const uint8_t* end = block + size;
    if (size < kConfigCountsSize) return "configuration size out of range";
    const int32_t kc = RdI32(p), ac = RdI32(p + 4), dc = RdI32(p + 8);
    p += kConfigCountsSize;
    if (kc < 0 || ac < 0 || dc < 0) return "negative table count";
    // Each descriptor takes at least this much, so the counts are bounded
    // before anything is sized by them.
    const uint64_t least = 20ull * uint64_t(kc) + 16ull * uint64_t(ac) + 4ull * uint64_t(dc);
    if (least > uint64_t(end - p)) return "table counts do not fit the configuration";
    if (kc > kMaxKeyTables) return "more than ten key tables";
    sum += size + uint32_t(kc) + uint32_t(ac) + uint32_t(dc);

    keys.resize(size_t(kc));
    for (t_keyDesc& d : keys) {
        if (end - p < 4) return "key descriptor cut short";
        d.keyType = RdI16(p);
        const int16_t fc = RdI16(p + 2);
        p += 4;
        if (d.keyType < 0 || d.keyType > kMaxKeyType) return "key type out of range";
        if (fc < 0) return "negative field count";
        if (uint64_t(end - p) < 2ull * uint64_t(fc) + 16) return "key descriptor cut short";
        sum += uint32_t(int32_t(d.keyType)) + uint32_t(int32_t(fc));
        d.fieldTypes.resize(size_t(fc));
        for (int16_t& t : d.fieldTypes) {
            t = RdI16(p);
            p += 2;
            if (t < 0 || t > kMaxFieldType) return "field type out of range";
            sum += uint32_t(int32_t(t));
        }
        d.attriIndex = Rd32(p);
        d.keyDataTable = Rd32(p + 4);
        d.valueDataTable = Rd32(p + 8);
        d.capacity = Rd32(p + 12);
        p += 16;
        sum += d.attriIndex + d.keyDataTable + d.valueDataTable + d.capacity;
    }
    attris.resize(size_t(ac));
    for (t_attriDesc& a : attris) {
        if (end - p < 16) return "attri descriptor cut short";
        a.fieldCount = Rd32(p);
        a.ownerKey = Rd32(p + 4);
        a.dataTable = Rd32(p + 8);
        a.capacity = Rd32(p + 12);
        p += 16;
        sum += a.fieldCount + a.ownerKey + a.dataTable + a.capacity;
    }
    datas.resize(size_t(dc));
    for (uint32_t& w : datas) {
        if (end - p < 4) return "data descriptor cut short";
        w = Rd32(p);
        p += 4;
        sum += w;
    }
    if (p != end) return "descriptors do not end at the header";
    return Derive();
}

uint32_t t_tableLayout::ConfigSize() const {
    uint64_t size = kConfigCountsSize + 16ull * attris.size() + 4ull * datas.size();
    for (const t_keyDesc& d : keys) size += 20 + 2ull * d.fieldTypes.size();
    return size > 0x7FFFFFFFu ? 0 : uint32_t(size);
}

uint32_t t_tableLayout::HeadSize() const {
    return kHeaderFixedSize +
           kTableRecordSize * uint32_t(keys.size() + attris.size() + datas.size());
}

void t_tableLayout::WriteConfig(std::vector<uint8_t>& out, uint32_t& sum) const {
    const uint32_t counts[3] = {uint32_t(keys.size()), uint32_t(attris.size()),
                                uint32_t(datas.size())};
    for (uint32_t c : counts) {
        Put32(out, c);
        sum += c;
    }
    for (const t_keyDesc& d : keys) {
        Put16(out, uint16_t(d.keyType));
        Put16(out, uint16_t(d.fieldTypes.size()));
        sum += uint32_t(int32_t(d.keyType)) + uint32_t(int32_t(int16_t(d.fieldTypes.size())));
        for (int16_t t : d.fieldTypes) {
            Put16(out, uint16_t(t));
            sum += uint32_t(int32_t(t));
        }
        for (uint32_t w : {d.attriIndex, d.keyDataTable, d.valueDataTable, d.capacity}) {
            Put32(out, w);
            sum += w;
        }
    }
    for (const t_attriDesc& a : attris)
        for (uint32_t w : {a.fieldCount, a.ownerKey, a.dataTable, a.capacity}) {
            Put32(out, w);
            sum += w;
        }
    for (uint32_t w : datas) {
        Put32(out, w);
        sum += w;
    }
}
