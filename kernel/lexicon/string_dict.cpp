// String order, wildcard search and the read-only string dictionaries.
#include "kernel/lexicon/string_dict.h"

#include <cstring>
#include <vector>

#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/storage/table_format.h"

using n_tableFormat::Rd32;

namespace {

constexpr uint16_t kApostrophe = '\'';
constexpr uint16_t kStar = '*';

uint16_t Fold(uint16_t u) {
    return (u >= 'A' && u <= 'Z') ? uint16_t(u + 32) : u;
}
bool IsUpper(uint16_t u) {
    return u >= 'A' && u <= 'Z';
}
bool IsLower(uint16_t u) {
    return u >= 'a' && u <= 'z';
}

// Matches when equal or differing by exactly 32 (case of ASCII letters).
bool LooseEqual(uint16_t a, uint16_t b) {
    return a == b || (a > b ? a - b : b - a) == 32;
}

// Position of seg[0..segLen) in s[from..n), or -1.
int64_t FindSegment(const t_lstr* s, uint32_t n, uint32_t from, const uint16_t* seg,
                    uint32_t segLen) {
    if (segLen == 0) return int64_t(from);
    for (uint64_t p = from; p + segLen <= n; ++p) {
        uint32_t i = 0;
        while (i < segLen && LooseEqual(LstrGetUnit(s, size_t(p + i)), seg[i])) ++i;
        if (i == segLen) return int64_t(p);
    }
    return -1;
}

struct t_segment {
    uint32_t start;
    uint32_t length;
};

struct t_parsedInput {
    std::vector<uint16_t> units;
    std::vector<t_segment> segments;
    uint32_t k = 0;  // units of the first segment = units of the search key
    bool wildcards = false;
    bool open = false;
};

bool ParseInput(const t_lstr* input, t_parsedInput& p) {
    const uint32_t n = LstrGetLength(input);
    if (n == 0) return false;
    p.units.resize(n);
    for (uint32_t i = 0; i < n; ++i) p.units[i] = LstrGetUnit(input, i);
    for (uint32_t i = 0; i < n;) {
        if (p.units[i] == kStar) {
            ++i;
            continue;
        }
        uint32_t j = i;
        while (j < n && p.units[j] != kStar) ++j;
        p.segments.push_back({i, j - i});
        i = j;
    }
    if (p.segments.empty()) return false;
    p.k = p.segments[0].length;
    p.wildcards = p.k < n;
    p.open = p.units[n - 1] == kStar;
    return true;
}

// The later segments sought in order from position pos (the first one
// found leftmost, the next after it). The last segment must end the string
// unless the input ends open: a later occurrence of it may do so, so it is
// tested where it would have to stand. No backtracking over earlier
// segments is needed, which keeps the work linear in the string.
bool MatchSegments(const t_parsedInput& p, const t_lstr* s, uint32_t n, uint32_t pos) {
    const size_t count = p.segments.size();
    for (size_t i = 1; i + 1 < count; ++i) {
        const t_segment& sg = p.segments[i];
        const int64_t at = FindSegment(s, n, pos, p.units.data() + sg.start, sg.length);
        if (at < 0) return false;
        pos = uint32_t(at) + sg.length;
    }
    if (count < 2) return pos == n || p.open;
    const t_segment& last = p.segments[count - 1];
    const uint16_t* units = p.units.data() + last.start;
    if (p.open) return FindSegment(s, n, pos, units, last.length) >= 0;
    if (uint64_t(pos) + last.length > n) return false;
    return FindSegment(s, n, n - last.length, units, last.length) >= 0;
}

// Copy of stored with the input's capitals applied in the caller's arena.
t_lstr* CaseCopy(t_scopeHeap& heap, const t_lstr* stored, const t_parsedInput& p) {
    t_lstr* text = heap.DupLstr(stored);
    if (!text) return nullptr;
    const uint32_t m = LstrGetLength(text), n = uint32_t(p.units.size());
    uint32_t i = 0, j = 0;
    while (i < n && j < m) {
        const uint16_t su = LstrGetUnit(text, j);
        if (su == kApostrophe && p.units[i] != kApostrophe) {
            ++j;
            continue;
        }
        if (IsUpper(p.units[i]) && IsLower(su)) LstrSetUnit(text, j, uint16_t(su - 32));
        ++i;
        ++j;
    }
    return text;
}

t_strResult* MakeResult(t_scopeHeap& heap, const t_lstr* stored, const uint8_t* row, bool user,
                        const t_parsedInput& p) {
    auto* r = static_cast<t_strResult*>(ArenaAllocAligned(heap, sizeof(t_strResult)));
    if (!r) return nullptr;
    r->text = CaseCopy(heap, stored, p);
    if (!r->text) return nullptr;
    r->stored = stored;
    r->time = Rd32(row + kStrRowTimeOffset);
    r->count = Rd32(row + kStrRowCountOffset);
    r->source = user ? 1 : 0;
    return r;
}

bool UserRowLive(const uint8_t* row) {
    return int32_t(Rd32(row + kStrRowCountOffset)) >= 2;
}

// The rows of key's bucket: first row offset, row count and where the key is.
struct t_bucketView {
    int32_t start = 0;
    int32_t rows = 0;
    int32_t row = 0;
    bool found = false;
};

bool LocateKey(const t_tableFile& table, const t_lstr* key, t_bucketView& v) {
    int32_t bucket = -1;
    v.found = table.Find(key, 0, &v.row, &v.start, &bucket);
    if (bucket < 0) return false;
    v.rows = table.GetBucketRowCount(0, bucket);
    return v.rows >= 0;
}

// Moves a result list into one arena array.
t_strResult** ToArray(t_scopeHeap& heap, const std::vector<t_strResult*>& a,
                      const std::vector<t_strResult*>& b) {
    const size_t n = a.size() + b.size();
    auto** arr = static_cast<t_strResult**>(ArenaAllocAligned(heap, n * sizeof(t_strResult*)));
    if (!arr) return nullptr;
    size_t i = 0;
    for (t_strResult* r : a) arr[i++] = r;
    for (t_strResult* r : b) arr[i++] = r;
    return arr;
}

}  // namespace

int EngCompare(const t_lstr* a, const t_lstr* b) {
    const uint32_t na = LstrGetLength(a), nb = LstrGetLength(b);
    uint32_t i = 0, j = 0;
    for (;;) {
        while (i < na && LstrGetUnit(a, i) == kApostrophe) ++i;
        while (j < nb && LstrGetUnit(b, j) == kApostrophe) ++j;
        if (i == na || j == nb) break;
        const uint16_t ca = Fold(LstrGetUnit(a, i)), cb = Fold(LstrGetUnit(b, j));
        if (ca != cb) return ca > cb ? 2 : -2;
        ++i;
        ++j;
    }
    if (i == na && j == nb) return 0;
    return i == na ? -1 : 1;
}

int StrTableSearch(const t_tableFile& table, bool userRows, t_scopeHeap& heap, const t_lstr* input,
                   int minLength, t_strResult*** out, uint32_t* fullCount, int32_t* total) {
    if (!out || !fullCount || !total) return 0;
    *fullCount = 0;
    *total = 0;
    t_parsedInput p;
    if (!ParseInput(input, p)) return 1;
    t_lstr* key = heap.MakeLstr(p.units.data(), size_t(p.k) * 2);
    if (!key) {
        *total = -1;
        return 0;
    }
    t_bucketView v;
    if (!LocateKey(table, key, v)) return 1;

    std::vector<t_strResult*> full, partial;
    bool noRoom = false;
    auto judge = [&](const uint8_t* row) {
        if (noRoom || !row) return;
        if (userRows && !UserRowLive(row)) return;
        const t_lstr* stored = table.GetRowKey(0, row);
        if (!stored) return;
        const uint32_t n = LstrGetLength(stored);
        if (int64_t(n) <= int64_t(minLength)) return;
        bool isFull = false;
        if (!p.wildcards) {
            const int c = EngCompare(stored, key);
            if (c != 0 && c != 1) return;
            isFull = c == 0;
        } else {
            if (p.k > n || !MatchSegments(p, stored, n, p.k)) return;
        }
        t_strResult* r = MakeResult(heap, stored, row, userRows, p);
        if (!r) {
            noRoom = true;
            return;
        }
        (isFull ? full : partial).push_back(r);
    };
    auto compareAt = [&](int32_t r, const uint8_t** rowOut) -> int {
        const uint8_t* row = table.GetBucketRow(0, r, v.start);
        *rowOut = row;
        const t_lstr* stored = row ? table.GetRowKey(0, row) : nullptr;
        return stored ? EngCompare(key, stored) : -100;
    };

    int32_t forward = v.row;
    if (v.found) {
        const uint8_t* row = nullptr;
        compareAt(v.row, &row);
        judge(row);
        for (int32_t r = v.row - 1; r >= 0; --r) {
            if (compareAt(r, &row) != 0) break;
            judge(row);
        }
        forward = v.row + 1;
    }
    for (int32_t r = forward; r < v.rows && !noRoom; ++r) {
        const uint8_t* row = nullptr;
        const int c = compareAt(r, &row);
        if (c < -1) break;
        if (c == 0 || c == -1) judge(row);
    }
    if (noRoom) {
        *total = -1;
        return 0;
    }
    if (full.empty() && partial.empty()) return 1;
    t_strResult** arr = ToArray(heap, full, partial);
    if (!arr) {
        *total = -1;
        return 0;
    }
    *out = arr;
    *fullCount = uint32_t(full.size());
    *total = int32_t(full.size() + partial.size());
    return 1;
}

int StrTablePrefixWords(const t_tableFile& table, bool userRows, t_scopeHeap& heap,
                        const t_lstr* key, t_strResult*** out, int32_t* count) {
    if (!out || !count) return 0;
    *count = 0;
    const uint32_t n = LstrGetLength(key);
    if (n == 0) return 1;
    auto** arr =
        static_cast<t_strResult**>(ArenaAllocAligned(heap, size_t(n) * sizeof(t_strResult*)));
    if (!arr) {
        *count = -1;
        return 0;
    }
    t_parsedInput p;
    p.units.resize(n);
    for (uint32_t i = 0; i < n; ++i) p.units[i] = LstrGetUnit(key, i);
    int32_t found = 0;
    for (uint32_t len = 1; len < n; ++len) {
        t_lstr* prefix = heap.MakeLstr(p.units.data(), size_t(len) * 2);
        if (!prefix) {
            *count = -1;
            return 0;
        }
        int32_t row = 0, start = 0;
        if (!table.Find(prefix, 0, &row, &start)) continue;
        const uint8_t* r = table.GetBucketRow(0, row, start);
        const t_lstr* stored = r ? table.GetRowKey(0, r) : nullptr;
        if (!stored || (userRows && !UserRowLive(r))) continue;
        t_strResult* res = MakeResult(heap, stored, r, userRows, p);
        if (!res) {
            *count = -1;
            return 0;
        }
        arr[found++] = res;
    }
    *out = arr;
    *count = found;
    return 1;
}

const uint8_t* StrTableFindExact(const t_tableFile& table, const t_lstr* s) {
    if (LstrGetLength(s) == 0) return nullptr;
    t_bucketView v;
    if (!LocateKey(table, s, v) || !v.found) return nullptr;
    auto exactAt = [&](int32_t r, bool* equal) -> const uint8_t* {
        const uint8_t* row = table.GetBucketRow(0, r, v.start);
        const t_lstr* stored = row ? table.GetRowKey(0, row) : nullptr;
        *equal = stored && EngCompare(s, stored) == 0;
        return (*equal && LstrCompare(s, stored) == 0) ? row : nullptr;
    };
    bool equal = false;
    if (const uint8_t* row = exactAt(v.row, &equal)) return row;
    for (int32_t r = v.row - 1; r >= 0; --r) {
        const uint8_t* row = exactAt(r, &equal);
        if (!equal) break;
        if (row) return row;
    }
    for (int32_t r = v.row + 1; r < v.rows; ++r) {
        const uint8_t* row = exactAt(r, &equal);
        if (!equal) break;
        if (row) return row;
    }
    return nullptr;
}

bool t_strDict::AttachImage(const void* image, int32_t size) {
    m_table.Detach();
    if (!image || size < 1) return false;
    return m_table.Attach(image, kStrDictVersion, {}, {&EngCompare}, size);
}

bool t_strSysDict::Load(void* data, int32_t size) {
    const bool ok = AttachImage(data, size);
    SetReady(ok);
    return ok;
}

int t_strSysDict::Search(t_scopeHeap& heap, const t_lstr* input, int minLength, t_strResult*** out,
                         uint32_t* fullCount, int32_t* total) {
    if (!IsReady()) return 0;
    return StrTableSearch(m_table, false, heap, input, minLength, out, fullCount, total);
}

int t_engSysDict::GetPrefixWords(t_scopeHeap& heap, const t_lstr* key, t_strResult*** out,
                                 int32_t* count) {
    if (!IsReady()) return 0;
    return StrTablePrefixWords(m_table, false, heap, key, out, count);
}

int t_engSysDict::GetWordFreq(const t_lstr* s, uint32_t* freq) {
    if (!IsReady() || !freq) return 0;
    const uint8_t* row = StrTableFindExact(m_table, s);
    if (!row) return 0;
    *freq = Rd32(row + kStrRowCountOffset);
    return 1;
}

bool t_preEngDict::Load(void* data, int32_t size) {
    m_table.Detach();
    const bool ok = data && size > 0 && m_table.Attach(data, kPreEngDictVersion, size);
    SetReady(ok);
    return ok;
}

int t_preEngDict::Contains(const t_lstr* key) {
    if (!IsReady() || LstrGetLength(key) == 0) return 0;
    int32_t row = 0, start = 0;
    return m_table.Find(key, 0, &row, &start) ? 1 : 0;
}
