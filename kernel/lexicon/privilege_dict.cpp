// The privilege dictionary over its table file.
#include "kernel/lexicon/privilege_dict.h"

#include <vector>

#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/storage/table_format.h"

using n_tableFormat::kNoAttriNoWord;
using n_tableFormat::Rd32;

t_privilegeDictCore::t_privilegeDictCore() {
    m_table.SetBucketCount(0, 200);
}

bool t_privilegeDictCore::Load(void* data, int32_t size) {
    m_table.Detach();
    const bool ok = data && size >= 1 && m_table.Attach(data, kPrivilegeVersion, size) &&
                    m_table.GetKeyCount() > kInputTable;
    if (!ok) m_table.Detach();
    SetReady(ok);
    return ok;
}

int32_t t_privilegeDictCore::RowNumber(int32_t row, int32_t bucketStart) const {
    const int32_t rowSize = m_table.GetKeyRowSize(kInputTable);
    return rowSize > 0 ? bucketStart / rowSize + row : -1;
}

int t_privilegeDictCore::Lookup(t_scopeHeap& heap, const t_lstr* key, t_privilegeWord*** out,
                                uint32_t* count) {
    if (!IsReady() || !out || !count) return 0;
    *count = 0;
    const uint8_t* row = nullptr;
    if (!m_table.FindRow(key, kInputTable, &row)) return 0;
    const t_keyLayout& L = m_table.GetLayout().keyLayouts[kInputTable];
    if (!L.hasAttri) return 0;
    const int dataTable = m_table.GetAttriDataTable(int(L.attri));
    std::vector<t_privilegeWord*> found;
    const uint32_t first = Rd32(row + L.linkOffset);
    if (first < kNoAttriNoWord) {
        std::vector<const uint8_t*> chain;
        if (!m_table.CollectAttriChain(first, kInputTable, chain, kNextOffset)) return 0;
        for (const uint8_t* ar : chain) {
            const t_lstr* word = m_table.GetDataPtr(dataTable, Rd32(ar + kWordOffset));
            if (!word) return 0;
            auto* rec =
                static_cast<t_privilegeWord*>(ArenaAllocAligned(heap, sizeof(t_privilegeWord)));
            if (!rec) return 0;
            rec->word = heap.MakeLstr(LstrGetBytes(word), LstrGetByteLength(word));
            if (!rec->word && LstrGetByteLength(word) > 0) return 0;
            rec->value = Rd32(ar + kValueOffset);
            found.push_back(rec);
        }
    }
    auto** arr = static_cast<t_privilegeWord**>(
        ArenaAllocAligned(heap, found.size() * sizeof(t_privilegeWord*)));
    if (!arr) return 0;
    for (size_t i = 0; i < found.size(); ++i) arr[i] = found[i];
    *out = arr;
    *count = uint32_t(found.size());
    return 1;
}

int32_t t_privilegeDictCore::FindPrefix(const t_lstr* key, uint8_t* longer) {
    if (longer) *longer = 0;
    if (!IsReady() || LstrGetLength(key) == 0) return -1;
    int32_t row = 0, start = 0, bucket = -1;
    const bool found = m_table.Find(key, kInputTable, &row, &start, &bucket);
    if (bucket < 0) return -1;
    const int32_t rows = m_table.GetBucketRowCount(kInputTable, bucket);
    const int32_t next = found ? row + 1 : row;
    if (longer && next < rows) {
        const uint8_t* r = m_table.GetBucketRow(kInputTable, next, start);
        const t_lstr* stored = r ? m_table.GetRowKey(kInputTable, r) : nullptr;
        if (stored && LstrCompare(stored, key) == 1) *longer = 1;
    }
    return found ? RowNumber(row, start) : -1;
}

int t_privilegeDictCore::ListByPrefix(t_scopeHeap& heap, const t_lstr* text, uint32_t* rows,
                                      t_lstr** keys, int max) {
    if (!text || !rows || !keys || max < 1 || LstrGetLength(text) == 0) return -1;
    if (!IsReady()) return 0;
    int32_t row = 0, start = 0, bucket = -1;
    m_table.Find(text, kInputTable, &row, &start, &bucket);
    if (bucket < 0) return 0;
    const int32_t bucketRows = m_table.GetBucketRowCount(kInputTable, bucket);
    int n = 0;
    for (int32_t r = row; r < bucketRows && n < max; ++r) {
        const uint8_t* p = m_table.GetBucketRow(kInputTable, r, start);
        const t_lstr* stored = p ? m_table.GetRowKey(kInputTable, p) : nullptr;
        if (!stored) break;
        const int c = LstrCompare(stored, text);
        if (c != 0 && c != 1) break;
        t_lstr* copy = heap.MakeLstr(LstrGetBytes(stored), LstrGetByteLength(stored));
        if (!copy) break;
        rows[n] = uint32_t(RowNumber(r, start));
        keys[n] = copy;
        ++n;
    }
    return n;
}

int32_t t_privilegeDictCore::GetKeyCount() {
    if (!IsReady()) return 0;
    const int32_t n = m_table.GetKeyRowCount(kInputTable);
    return n > 0 ? n : 0;
}
