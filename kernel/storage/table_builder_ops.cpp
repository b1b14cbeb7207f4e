// Builder operations on whole images: load an attached image, merge a second
// one, apply update lists, and write the store as a populated image.
#include <cstdio>
#include <cstring>

#include "kernel/runtime/lstr.h"
#include "kernel/storage/table_builder.h"
#include "kernel/storage/table_file.h"
#include "kernel/storage/table_write.h"

using namespace n_tableFormat;

namespace {

inline const t_lstr* AsLstr(const uint8_t* p) {
    return reinterpret_cast<const t_lstr*>(p);
}

// The prefix-skip word of row i among `count` rows: the scan passes every
// following row that `passes` accepts and claims the first row after them,
// so that the reader's prefix walk can jump straight to it.
template <typename F>
uint32_t SkipWord(size_t i, size_t count, std::vector<bool>& claimed, F passes) {
    size_t j = i + 1;
    bool passed = false;
    while (j < count && passes(j)) {
        passed = true;
        ++j;
    }
    if (j < count && !claimed[j]) {
        claimed[j] = true;
        return uint32_t(j - i);
    }
    return passed ? 0 : kNone;
}

}  // namespace

// ---------------------------------------------------------------- reading an attached image

// Images with prefix-skip words or consecutive attri rows are not loaded or
// merged: the store keeps plain rows and chains only.
bool t_tableFileBuilder::SameDescriptors(const t_tableFile& reader) const {
    const t_tableLayout& other = reader.GetLayout();
    for (const t_keyDesc& d : other.keys)
        if (d.keyType & kFlagMask) return false;
    if (!reader.IsAttached() || other.keys.size() != m_layout.keys.size() ||
        other.attris.size() != m_layout.attris.size() ||
        other.datas.size() != m_layout.datas.size())
        return false;
    for (size_t k = 0; k < m_layout.keys.size(); ++k) {
        const t_keyDesc &a = other.keys[k], &b = m_layout.keys[k];
        if (a.keyType != b.keyType || a.fieldTypes != b.fieldTypes ||
            a.attriIndex != b.attriIndex || a.keyDataTable != b.keyDataTable ||
            a.valueDataTable != b.valueDataTable)
            return false;
        if (reader.GetBucketCount(int(k)) != m_hash[k]->GetBucketCount()) return false;
    }
    for (size_t a = 0; a < m_layout.attris.size(); ++a)
        if (other.attris[a].fieldCount != m_layout.attris[a].fieldCount ||
            other.attris[a].dataTable != m_layout.attris[a].dataTable)
            return false;
    return true;
}

const uint8_t* t_tableFileBuilder::ReaderValue(const t_tableFile& reader, int type, int dataTable,
                                               const uint8_t* field) {
    if (!IsVarLenType(type)) return CopyValue(type, field, nullptr, false);
    const uint32_t offset = Rd32(field);
    if (offset == kNone) {
        static const uint8_t kEmpty[2] = {0, 0};
        return CopyValue(type, kEmpty, nullptr, false);
    }
    const t_lstr* item = reader.GetDataPtr(dataTable, offset);
    return item ? CopyValue(type, reinterpret_cast<const uint8_t*>(item), nullptr, false) : nullptr;
}

bool t_tableFileBuilder::ReadReaderRow(const t_tableFile& reader, int k, int b, const uint8_t* row,
                                       t_rowRecord& out) {
    const t_keyDesc& d = m_layout.keys[size_t(k)];
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    out = t_rowRecord();
    const int keyType = d.fieldTypes[0];
    if (L.policyId == 4) {
        uint8_t number[4];
        Wr32(number, uint32_t(b));  // digit tables store no key: the bucket is the key
        out.key = CopyValue(IsVarLenType(keyType) ? 7 : keyType, number, nullptr, false);
    } else if (d.keyDataTable != kNone) {
        const t_lstr* key = reader.GetRowKey(k, row);
        out.key = key ? CopyValue(keyType, reinterpret_cast<const uint8_t*>(key), nullptr, true)
                      : nullptr;
    } else {
        if (!reader.GetRowKey(k, row)) return false;
        out.key = CopyValue(IsVarLenType(keyType) ? 8 : keyType, row, nullptr, true);
    }
    if (!out.key) return false;
    for (uint32_t f = 1; f < L.keyRowFields; ++f) {
        const uint8_t* v = ReaderValue(reader, d.fieldTypes[f], reader.GetValueDataTable(k),
                                       row + L.fieldOffsets[f]);
        if (!v) return false;
        out.values.push_back(v);
    }
    if (!L.hasAttri) return true;

    const int a = int(L.attri);
    const int attriData = reader.GetAttriDataTable(a);
    const uint64_t allocated = uint64_t(uint32_t(reader.GetAttriRowCount(a)));
    auto readEntry = [&](const uint8_t* ar) {
        std::vector<const uint8_t*> entry;
        for (size_t i = 0; i < L.attriFieldOffsets.size(); ++i) {
            const uint8_t* v = ReaderValue(reader, d.fieldTypes[L.keyRowFields + i], attriData,
                                           ar + L.attriFieldOffsets[i]);
            if (!v) return false;
            entry.push_back(v);
        }
        out.entries.push_back(std::move(entry));
        return true;
    };
    uint32_t link = Rd32(row + L.linkOffset);
    for (uint64_t steps = 0; link != kNone; ++steps) {
        if (steps >= allocated) return false;  // a chain cannot be longer than its table
        const uint8_t* ar = reader.GetAttriRow(a, link);
        if (!ar || !readEntry(ar)) return false;
        link = Rd32(ar + L.attriLinkOffset);
    }
    return true;
}

int t_tableFileBuilder::LoadFromReader(const t_tableFile& reader) {
    if (!m_valid || !SameDescriptors(reader)) return 0;
    // The loaded image keeps its allocations; rows are not counted again.
    for (size_t k = 0; k < m_keyRows.size(); ++k)
        m_keyRows[k] = uint32_t(reader.GetKeyRowCount(int(k)));
    for (size_t a = 0; a < m_attriRows.size(); ++a)
        m_attriRows[a] = uint32_t(reader.GetAttriRowCount(int(a)));
    for (size_t d = 0; d < m_dataSizes.size(); ++d)
        m_dataSizes[d] = uint32_t(reader.GetDataSize(int(d)));
    for (size_t k = 0; k < m_buckets.size(); ++k) {
        for (size_t b = 0; b < m_buckets[k].size(); ++b) {
            const int32_t rows = reader.GetBucketRowCount(int(k), int(b));
            const int32_t start = reader.GetBucketStart(int(k), int(b));
            for (int32_t i = 0; i < rows; ++i) {
                const uint8_t* row = reader.GetBucketRow(int(k), i, uint32_t(start));
                t_rowRecord rec;
                if (!row || !ReadReaderRow(reader, int(k), int(b), row, rec)) return 0;
                m_buckets[k][b].push_back(std::move(rec));
            }
        }
    }
    return 1;
}

int t_tableFileBuilder::MergeFromReader(const t_tableFile& reader, t_mergeRecordFn cb) {
    if (!m_valid || !SameDescriptors(reader)) return 0;
    for (size_t k = 0; k < m_buckets.size(); ++k) {
        const int ki = int(k);
        const t_keyLayout& L = m_layout.keyLayouts[k];
        const std::vector<int16_t>& types = m_layout.keys[k].fieldTypes;
        for (size_t b = 0; b < m_buckets[k].size(); ++b) {
            const int32_t rows = reader.GetBucketRowCount(ki, int(b));
            const int32_t start = reader.GetBucketStart(ki, int(b));
            for (int32_t i = 0; i < rows; ++i) {
                const uint8_t* row = reader.GetBucketRow(ki, i, uint32_t(start));
                t_rowRecord rec;
                if (!row || !ReadReaderRow(reader, ki, int(b), row, rec)) return 0;
                // One item per key row, or per attri entry of the key.
                const size_t itemCount = L.hasAttri ? rec.entries.size() : 1;
                for (size_t e = 0; e < itemCount; ++e) {
                    t_rowRecord item;
                    item.key = rec.key;
                    item.values = rec.values;
                    if (L.hasAttri) item.entries.push_back(rec.entries[e]);
                    t_rowRecord* stored = nullptr;
                    size_t storedEntry = 0;
                    const int32_t bucket = cb ? m_hash[k]->CheckedIndex(AsLstr(item.key)) : -1;
                    if (bucket >= 0) {
                        std::vector<t_rowRecord>& list = m_buckets[k][size_t(bucket)];
                        bool found = false;
                        const int64_t pos = SearchBucket(ki, list, item.key, &found);
                        if (found && !L.hasAttri) {
                            t_rowRecord& s = list[size_t(pos)];
                            if (item.values.empty() ||
                                TableFieldCompare(types[1], item.values[0], s.values[0]) == 0)
                                stored = &s;
                        } else if (found) {
                            t_rowRecord& s = list[size_t(pos)];
                            const auto& in = item.entries[0];
                            for (size_t j = 0; j < s.entries.size() && !stored; ++j)
                                if (in.empty() || s.entries[j].empty() ||
                                    TableFieldCompare(types[L.keyRowFields], in[0],
                                                      s.entries[j][0]) == 0) {
                                    stored = &s;
                                    storedEntry = j;
                                }
                        }
                    }
                    if (!stored) {
                        if (!InsertParsed(ki, item)) return 0;
                        continue;
                    }
                    std::vector<uint8_t*> incoming;
                    std::vector<const uint8_t*> current;
                    incoming.push_back(const_cast<uint8_t*>(item.key));
                    current.push_back(stored->key);
                    for (size_t v = 0; v < item.values.size(); ++v) {
                        incoming.push_back(const_cast<uint8_t*>(item.values[v]));
                        current.push_back(stored->values[v]);
                    }
                    if (L.hasAttri)
                        for (size_t f = 0; f < item.entries[0].size(); ++f) {
                            incoming.push_back(const_cast<uint8_t*>(item.entries[0][f]));
                            current.push_back(stored->entries[storedEntry][f]);
                        }
                    if ((cb(int32_t(k), incoming, current) & 0xFF) == 0) continue;
                    // Replaced strings change the data the saved image needs.
                    if (!DataTablesReady(ki, item)) return 0;
                    AddRowSizes(ki, *stored, -1);
                    AddRowSizes(ki, item, +1);
                    stored->key = item.key;
                    stored->values = item.values;
                    if (L.hasAttri) {
                        AddEntrySizes(ki, stored->entries[storedEntry], -1);
                        AddEntrySizes(ki, item.entries[0], +1);
                        stored->entries[storedEntry] = item.entries[0];
                    }
                }
            }
        }
    }
    return 1;
}

int t_tableFileBuilder::ApplyUpdates(const std::vector<std::vector<const uint8_t*>>& lists) {
    int ok = 1;
    for (size_t k = 0; k < lists.size(); ++k) {
        for (const uint8_t* rec : lists[k]) {
            if (!rec) {
                ok = 0;
                continue;
            }
            const uint16_t code = Rd16(rec);
            if (code == 1 && !InsertOne(rec + 2, int(k))) {
                printf("insert one is erro");
                ok = 0;
            } else if (code == 2 && !DeleteOne(rec + 2, int(k))) {
                printf("del one is erro");
                ok = 0;
            }
        }
    }
    return ok;
}

// ---------------------------------------------------------------- the populated image

bool t_tableFileBuilder::BuildPlainImage(std::vector<uint8_t>& out) {
    out.clear();
    std::vector<uint8_t> config, header, itemsBuf;
    uint32_t check = 0;
    if (!BuildImage(false, config, header, itemsBuf, check)) return false;
    uint8_t* items = itemsBuf.data();
    const size_t kc = m_layout.keys.size(), ac = m_layout.attris.size(), dc = m_layout.datas.size();
    auto recordAt = [&](size_t table) {
        return header.data() + kHeaderFixedSize + kTableRecordSize * table;
    };

    // Write cursors, each bounded by its table's area.
    std::vector<uint64_t> dataBase(dc), dataEnd(dc), dataPos(dc, 0);
    for (size_t d = 0; d < dc; ++d) {
        dataBase[d] = Rd32(recordAt(kc + ac + d));
        dataEnd[d] = Rd32(recordAt(kc + ac + d) + 4);
    }
    std::vector<uint64_t> attriBase(ac), attriEnd(ac), attriPos(ac, 0);
    for (size_t a = 0; a < ac; ++a) {
        attriBase[a] = Rd32(recordAt(kc + a));
        attriEnd[a] = uint64_t(Rd32(recordAt(kc + a) + 4)) * m_layout.attriRowSizes[a];
    }
    auto putItem = [&](uint32_t d, const uint8_t* value, uint8_t* field) {
        if (d == kNone || d >= dc) return false;
        const uint64_t n = 2 + uint64_t(Rd16(value));
        if (dataPos[d] + n > dataEnd[d]) return false;
        std::memcpy(items + dataBase[d] + dataPos[d], value, size_t(n));
        Wr32(field, uint32_t(dataPos[d]));
        dataPos[d] += n;
        return true;
    };
    // A string field becomes an item (none for an empty string); other fields
    // are copied into the row.
    auto putField = [&](int type, uint32_t d, const uint8_t* value, uint8_t* field) {
        if (!IsVarLenType(type)) {
            std::memcpy(field, value, FieldSize(type));
            return true;
        }
        if (Rd16(value) == 0) {
            Wr32(field, kNone);
            return true;
        }
        return putItem(d, value, field);
    };

    for (size_t k = 0; k < kc; ++k) {
        const t_keyDesc& d = m_layout.keys[k];
        const t_keyLayout& L = m_layout.keyLayouts[k];
        const t_baseCompare* cmp = m_cmp[k];
        const uint64_t rowsBase = Rd32(recordAt(k));
        const uint64_t rowsEnd = uint64_t(Rd32(recordAt(k) + 4)) * L.rowSize;
        uint8_t* buckets = items + rowsBase - 8ull * m_buckets[k].size();
        const int keyType = d.fieldTypes[0];
        const bool sorted = d.keyType & kFlagSortedAttri, packed = d.keyType & kFlagPackedAttri;
        uint64_t pos = 0;
        for (size_t b = 0; b < m_buckets[k].size(); ++b) {
            const std::vector<t_rowRecord>& rows = m_buckets[k][b];
            Wr32(buckets + 8 * b, uint32_t(pos));
            Wr32(buckets + 8 * b + 4, uint32_t(rows.size()));
            std::vector<bool> claimed(rows.size(), false);
            for (size_t i = 0; i < rows.size(); ++i) {
                const t_rowRecord& rec = rows[i];
                if (pos + L.rowSize > rowsEnd) return false;
                uint8_t* r = items + rowsBase + pos;
                if (L.policyId != 4) {
                    if (IsVarLenType(keyType)) {
                        if (!putItem(d.keyDataTable, rec.key, r)) return false;
                    } else {
                        if (d.keyDataTable != kNone) return false;
                        std::memcpy(r, rec.key, FieldSize(keyType));
                    }
                }
                if (d.keyType & kFlagPrefixSkip)
                    Wr32(r + L.skipOffset, SkipWord(i, rows.size(), claimed, [&](size_t j) {
                             return cmp->Compare(AsLstr(rec.key), AsLstr(rows[j].key)) == -1;
                         }));
                for (uint32_t f = 1; f < L.keyRowFields; ++f)
                    if (!putField(d.fieldTypes[f], d.valueDataTable, rec.values[f - 1],
                                  r + L.fieldOffsets[f]))
                        return false;
                if (L.hasAttri) {
                    const uint32_t a = L.attri;
                    const t_attriDesc& ad = m_layout.attris[a];
                    if (sorted || packed) Wr32(r + L.countOffset, uint32_t(rec.entries.size()));
                    Wr32(r + L.linkOffset, rec.entries.empty() ? kNone : uint32_t(attriPos[a]));
                    std::vector<bool> entryClaimed(rec.entries.size(), false);
                    for (size_t e = 0; e < rec.entries.size(); ++e) {
                        const auto& entry = rec.entries[e];
                        if (entry.size() != ad.fieldCount) return false;
                        if (attriPos[a] + L.attriRowSize > attriEnd[a]) return false;
                        uint8_t* ar = items + attriBase[a] + attriPos[a];
                        for (size_t f = 0; f < entry.size(); ++f)
                            if (!putField(d.fieldTypes[L.keyRowFields + f], ad.dataTable, entry[f],
                                          ar + L.attriFieldOffsets[f]))
                                return false;
                        if (sorted) {
                            Wr32(ar + L.attriSkipOffset,
                                 SkipWord(e, rec.entries.size(), entryClaimed, [&](size_t j) {
                                     const int c =
                                         LstrCompare(AsLstr(entry[0]), AsLstr(rec.entries[j][0]));
                                     return c == 0 || c == -1;
                                 }));
                        } else if (!packed) {
                            const bool last = e + 1 == rec.entries.size();
                            Wr32(ar + L.attriLinkOffset,
                                 last ? kNone : uint32_t(attriPos[a] + L.attriRowSize));
                        }
                        attriPos[a] += L.attriRowSize;
                    }
                }
                pos += L.rowSize;  // every row at its full size; a trailing slot stays 0
            }
        }
    }

    out.reserve(8 + config.size() + header.size() + itemsBuf.size());
    uint8_t words[8];
    Wr32(words, check);
    Wr32(words + 4, uint32_t(config.size()));
    out.insert(out.end(), words, words + 8);
    out.insert(out.end(), config.begin(), config.end());
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), itemsBuf.begin(), itemsBuf.end());
    return true;
}

int t_tableFileBuilder::SaveToFile(const wchar_t* path) {
    std::vector<uint8_t> image;
    if (!BuildPlainImage(image)) return 0;
    const uint64_t configSize = Rd32(image.data() + 4);
    const uint64_t headEnd = 8 + configSize + m_layout.HeadSize();
    t_tableImageWriter w;
    const bool ok =
        w.Open(path) && w.Put(image.data(), 4, "write checknum failed !\r") &&
        w.Put(image.data() + 4, 4, "write configsize failed !\r") &&
        w.Put(image.data() + 8, headEnd - 8, "write header failed !\r") &&
        w.Put(image.data() + headEnd, image.size() - headEnd, "write item failed !\r") &&
        w.Commit();
    return ok ? 1 : 0;
}

// ---------------------------------------------------------------- drivers

int t_tableFileBuilder::MergeFiles(const void* image1, const void* image2, const wchar_t* path,
                                   int* result, t_mergeRecordFn cb) {
    int dummy = 0;
    int& code = result ? *result : dummy;
    code = 0;
    if (!m_valid) {
        code = 1;
        return 0;
    }
    t_tableFile first, second;
    for (size_t k = 0; k < m_bucketCounts.size(); ++k) {
        first.SetBucketCount(int(k), m_bucketCounts[k]);
        second.SetBucketCount(int(k), m_bucketCounts[k]);
    }
    // A size word of 0 would ask the reader to trust the image's own header.
    auto attach = [&](t_tableFile& reader, const void* image) {
        if (!image) return false;
        const uint32_t size = Rd32(static_cast<const uint8_t*>(image));
        return size != 0 && reader.Attach(static_cast<const uint8_t*>(image) + 4, m_formatVersion,
                                          m_hashFns, m_compareFns, int64_t(size));
    };
    if (!attach(first, image1)) {
        code = 1;
        return 0;
    }
    if (!attach(second, image2)) {
        code = 2;
        return 0;
    }
    if (!LoadFromReader(first)) {
        code = 1;
        return 0;
    }
    if (!MergeFromReader(second, cb)) {
        code = 2;
        return 0;
    }
    if (!SaveToFile(path)) {
        code = 3;
        return 0;
    }
    return 1;
}

int t_tableFileBuilder::InsertAndSave(const wchar_t* path,
                                      const std::vector<std::vector<const uint8_t*>>& lists) {
    if (!InsertItems(lists)) {
        puts("load file error");
        return 0;
    }
    if (!SaveToFile(path)) {
        puts("save file is error");
        return 0;
    }
    return 1;
}

int t_tableFileBuilder::LoadUpdateOutput(const wchar_t* path,
                                         const std::vector<std::vector<const uint8_t*>>& lists,
                                         const t_tableFile& reader) {
    if (!LoadFromReader(reader)) {
        printf("Output file is erro");
        return 0;
    }
    // A partly applied update list is not saved as if it were complete.
    if (!ApplyUpdates(lists)) return 0;
    if (!SaveToFile(path)) {
        printf("save file is erro");
        return 0;
    }
    return 1;
}

int t_tableFile::RewriteWithUpdates(
    const wchar_t* path, const std::vector<std::vector<const uint8_t*>>& updateLists) const {
    if (!m_image) return 0;
    uint32_t tag = 0, version = 0;
    GetHeaderTag(&tag);
    GetFormatVersion(&version);
    std::vector<int32_t> buckets(m_bucketCounts, m_bucketCounts + m_layout.keys.size());
    t_tableFileBuilder builder;
    if (!builder.InitStoreWithBuckets(m_layout.keys, m_layout.attris, m_layout.datas, tag, version,
                                      m_hashFns, m_compareFns, buckets))
        return 0;
    return builder.LoadUpdateOutput(path, updateLists, *this);
}
