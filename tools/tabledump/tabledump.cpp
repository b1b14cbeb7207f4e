// tabledump: prints and validates a table-file image (header, tables, bucket
// fill, a key listing) for debugging dictionaries and their data builds.
// Single-threaded command-line tool.
//
//   tabledump [--version N] [--buckets C0,C1,...] [--keys N] [--quiet] FILE
//
// The file describes itself: its format version, each key table's key type
// and, by the room before each table's rows, its bucket count. Rows are
// checked in their key type's own order (English keys fold case and skip
// apostrophes, as the English and web-address tables store them).
// The data's files of other formats (the word dictionary, the traditional
// forms, the character flags, the trusted pairs, the text files) are named
// as such, by their own headers, and not checked.
// Exit status: 0 valid, 1 damaged or unreadable as a table file, 2 usage or
// I/O error, 3 a file of another format (not checked).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/string_dict.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/lexicon/trad_dict.h"
#include "kernel/runtime/lstr.h"
#include "kernel/storage/table_file.h"

using namespace n_tableFormat;

namespace {

struct t_options {
    const char* path = nullptr;
    bool haveVersion = false;
    uint32_t version = 0;
    std::vector<int32_t> buckets;
    long keys = 20;  // keys listed per table; -1 all
    bool quiet = false;
};

void Usage() {
    fprintf(stderr,
            "usage: tabledump [--version N] [--buckets C0,C1,...] [--keys N] [--quiet] FILE\n"
            "  --version N   format version the image must carry (default: the one in its header)\n"
            "  --buckets L   bucket count of each key table, 0 for what the file's layout\n"
            "                says (the room before the table's rows)\n"
            "  --keys N      keys listed per table (default 20, -1 for all, 0 for none)\n"
            "  --quiet       print only the verdict\n"
            "Rows are checked in their key type's own order; the placement of rows in\n"
            "caller-hashed tables is not checked (their hash is the caller's).\n"
            "Exit status: 0 valid, 1 damaged, 2 usage or I/O error, 3 not a table file\n"
            "(another format of the data, named; not checked).\n");
}

bool ParseArgs(int argc, char** argv, t_options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--version" && hasValue) {
            o.haveVersion = true;
            o.version = uint32_t(strtoul(argv[++i], nullptr, 0));
        } else if (a == "--buckets" && hasValue) {
            for (char* p = argv[++i]; *p;) {
                char* end = nullptr;
                o.buckets.push_back(int32_t(strtol(p, &end, 0)));
                if (end == p) return false;
                p = *end == ',' ? end + 1 : end;
            }
        } else if (a == "--keys" && hasValue) {
            o.keys = strtol(argv[++i], nullptr, 0);
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (!a.empty() && a[0] != '-' && !o.path) {
            o.path = argv[i];
        } else {
            return false;
        }
    }
    return o.path != nullptr;
}

bool ReadAll(const char* path, std::vector<uint8_t>& out) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// What a file that does not attach as a table is, when its header says it
// is one of the data's other formats; null for anything else, which is then
// judged as a damaged table. Checked only after the attach failed, so a table
// file is never taken for one of these.
const char* OtherFormat(const std::vector<uint8_t>& file) {
    const uint8_t* p = file.data();
    const size_t n = file.size();
    if (n >= n_sysDict::kHeaderSize &&
        (Rd32(p + 4) == n_sysDict::kMagic || Rd32(p + 4) == n_sysDict::kMagicOld))
        return "the system word dictionary's own format (qzim_core.bin)";
    if (n >= t_supportCharDict::kHeaderSize && Rd32(p) == kSupportCharVersion &&
        Rd32(p + 4) == t_supportCharDict::kFlagCount)
        return "the supported-character flags (qzim_charvalid.bin)";
    if (n >= t_traDict::kHeaderSize && Rd32(p) >= t_traDict::kHeaderSize &&
        Rd32(p + 12) == t_traDict::kNodeSize)
        return "the traditional-form trie (qzim_tra.bin)";
    if (n == size_t(kSyllableCount) * kSyllableCount &&
        std::all_of(file.begin(), file.end(), [](uint8_t b) { return b <= 1; }))
        return "the trusted syllable-pair table (qzim_trustpair.bin)";
    // No byte below a blank but line ends and tabs: settings, scheme or
    // punctuation text.
    if (n > 0 && std::all_of(file.begin(), file.end(), [](uint8_t b) {
            return b >= 0x20 || b == '\t' || b == '\n' || b == '\r';
        }))
        return "a text file";
    return nullptr;
}

// Caller-hashed tables cannot be searched here; a stand-in lets them attach
// so that their rows can still be listed and checked.
int StandInHash(const t_lstr*) {
    return 0;
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

// UTF-16 text as UTF-8, unpaired surrogates as \uXXXX.
std::string Utf8(const t_lstr* s) {
    std::string out;
    const uint32_t n = LstrGetLength(s);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t c = LstrGetUnit(s, i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
            const uint32_t lo = LstrGetUnit(s, i + 1);
            if (lo >= 0xDC00 && lo < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000) {
            char b[8];
            snprintf(b, sizeof b, "\\u%04x", c);
            out += b;
        } else if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6)), out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12)), out += char(0x80 | ((c >> 6) & 0x3F)),
                out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18)), out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F)), out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string FixedValue(int type, const uint8_t* p) {
    char b[32];
    switch (FieldSize(type)) {
        case 1:
            snprintf(b, sizeof b, "%u", p[0]);
            break;
        case 2:
            snprintf(b, sizeof b, "%d", int(RdI16(p)));
            break;
        case 4:
            snprintf(b, sizeof b, "%u", Rd32(p));
            break;
        default:
            return Hex(p, FieldSize(type));
    }
    return b;
}

std::string KeyText(const t_tableFile& r, int k, int bucket, const uint8_t* row) {
    const t_keyDesc& d = r.GetLayout().keys[size_t(k)];
    const int type = d.fieldTypes[0];
    std::string s;
    if (PolicyId(d.keyType) == 4) return s.append("#").append(std::to_string(bucket));
    const t_lstr* key = r.GetRowKey(k, row);
    if (!key) return "<damaged key>";
    if (d.keyDataTable == kNone && !IsVarLenType(type)) return FixedValue(type, row);
    const uint8_t* bytes = LstrGetBytes(key);
    if (type == 0 && PolicyId(d.keyType) != 2) return s.append("\"").append(Utf8(key)).append("\"");
    if (type == 0) {  // pinyin ids
        s.append("[");
        for (uint32_t i = 0; i < LstrGetLength(key); ++i)
            s.append(i ? " " : "").append(std::to_string(LstrGetUnit(key, i)));
        return s.append("]");
    }
    return s.append("0x").append(Hex(bytes, LstrGetByteLength(key)));
}

const char* PolicyName(int id) {
    static const char* kNames[] = {"?",     "english",       "pinyin-id",  "hanzi",
                                   "digit", "caller-hashed", "byte-hashed"};
    return id >= 0 && id <= 6 ? kNames[id] : "?";
}

// Bucket counts as the layout gives them: each key table's bucket array lies
// right before its rows and right after the previous table's rows, so the
// room between the two is 8 bytes a bucket. 0 (the policy's default) where
// the header is unreadable or the room is not whole buckets; Attach then
// checks the result like any other count.
std::vector<int32_t> LayoutBucketCounts(const std::vector<uint8_t>& file) {
    std::vector<int32_t> counts;
    if (file.size() < kMinImageSize) return counts;
    const uint64_t cs = Rd32(file.data() + 4);
    if (8 + cs + kHeaderFixedSize > file.size()) return counts;
    t_tableLayout layout;
    uint32_t sum = 0;
    if (layout.ParseConfig(file.data() + 8, uint32_t(cs), sum)) return counts;
    const uint64_t records = 8 + cs + kHeaderFixedSize;
    if (records + kTableRecordSize * uint64_t(layout.keys.size()) > file.size()) return counts;
    uint64_t end = 0;
    for (size_t k = 0; k < layout.keys.size() && k < size_t(kMaxKeyTables); ++k) {
        const uint8_t* rec = file.data() + records + kTableRecordSize * k;
        const uint64_t off = Rd32(rec), alloc = Rd32(rec + 4);
        const uint64_t room = off > end ? off - end : 0;
        counts.push_back(room % kBucketEntrySize == 0 && room / kBucketEntrySize <= INT32_MAX
                             ? int32_t(room / kBucketEntrySize)
                             : 0);
        end = off + alloc * layout.keyLayouts[k].rowSize;
    }
    return counts;
}

// Walks every row of key table k: keys and string values readable, each key
// found again where it is stored, attri chains intact. Returns problems found.
size_t CheckKeyTable(const t_tableFile& r, int k, bool searchable) {
    const t_tableLayout& lay = r.GetLayout();
    const t_keyDesc& d = lay.keys[size_t(k)];
    const t_keyLayout& L = lay.keyLayouts[size_t(k)];
    size_t problems = 0;
    for (int b = 0; b < r.GetBucketCount(k); ++b) {
        const int32_t start = r.GetBucketStart(k, b);
        for (int32_t i = 0; i < r.GetBucketRowCount(k, b); ++i) {
            const uint8_t* row = r.GetBucketRow(k, i, start);
            if (!row) {
                ++problems;
                continue;
            }
            const t_lstr* key = L.policyId == 4 ? nullptr : r.GetRowKey(k, row);
            if (L.policyId != 4 && !key) ++problems;
            for (uint32_t f = 1; f < L.keyRowFields; ++f) {
                const uint32_t off = Rd32(row + L.fieldOffsets[f]);
                if (IsVarLenType(d.fieldTypes[f]) && off != kNone &&
                    !r.GetDataPtr(r.GetValueDataTable(k), off))
                    ++problems;
            }
            // A key stored where a search would not find it is misplaced.
            int32_t foundRow = -1, foundStart = -1, foundBucket = -1;
            if (key && searchable &&
                (!r.Find(key, k, &foundRow, &foundStart, &foundBucket) || foundBucket != b)) {
                const bool oneLetterEnglish =
                    d.keyType == 1 && LstrGetByteLength(key) == 2 && i > 0;
                if (!oneLetterEnglish) ++problems;
            }
        }
    }
    if (L.hasAttri && !(d.keyType & (kFlagSortedAttri | kFlagPackedAttri))) {
        std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
        if (!r.EnumerateItems(k, pairs)) ++problems;
    }
    return problems;
}

}  // namespace

int main(int argc, char** argv) {
    t_options o;
    if (!ParseArgs(argc, argv, o)) {
        Usage();
        return 2;
    }
    std::vector<uint8_t> file;
    if (!ReadAll(o.path, file)) {
        fprintf(stderr, "tabledump: cannot read %s\n", o.path);
        return 2;
    }

    // Where the plain image ends, and whether a builder's extra block follows.
    uint64_t plain = file.size();
    int64_t extra = -1;
    if (file.size() >= kMinImageSize) {
        const uint64_t cs = Rd32(file.data() + 4);
        const uint64_t tables =
            uint64_t(Rd32(file.data() + 8)) + Rd32(file.data() + 12) + Rd32(file.data() + 16);
        const uint64_t itemsAt = 8 + cs + 8;
        if (cs <= file.size() && itemsAt + 4 <= file.size()) {
            const uint64_t p =
                8 + cs + kHeaderFixedSize + kTableRecordSize * tables + Rd32(file.data() + itemsAt);
            if (p + 4 <= file.size() && p + 4 + Rd32(file.data() + p) == file.size()) {
                plain = p;
                extra = Rd32(file.data() + p);
            }
            if (!o.haveVersion) o.version = Rd32(file.data() + 8 + cs + 4);
        }
    }

    if (o.buckets.size() > size_t(kMaxKeyTables)) {
        fprintf(stderr, "tabledump: at most ten bucket counts\n");
        return 2;
    }
    // The counts the layout gives, then (should the image not attach with
    // them) the policies' defaults; counts given with --buckets win in both.
    std::vector<int32_t> given(size_t(kMaxKeyTables), 0), inferred = LayoutBucketCounts(file);
    std::copy(o.buckets.begin(), o.buckets.end(), given.begin());
    inferred.resize(size_t(kMaxKeyTables), 0);
    for (size_t k = 0; k < given.size(); ++k)
        if (given[k] != 0) inferred[k] = given[k];
    // r reads in the default string order, eng in the English one; each key
    // table is judged by the order of its key type.
    t_tableFile r, eng;
    const std::vector<t_keyHashFn> hashFns(kMaxKeyTables, &StandInHash);
    const std::vector<t_keyCompareFn> compareFns(kMaxKeyTables, &LstrCompare);
    const std::vector<t_keyCompareFn> engCompareFns(kMaxKeyTables, &EngCompare);
    const auto attach = [&](const std::vector<int32_t>& counts) {
        for (int k = 0; k < kMaxKeyTables; ++k) {
            r.SetBucketCount(k, counts[size_t(k)]);
            eng.SetBucketCount(k, counts[size_t(k)]);
        }
        return r.Attach(file.data(), o.version, hashFns, compareFns, int64_t(plain)) &&
               eng.Attach(file.data(), o.version, hashFns, engCompareFns, int64_t(plain));
    };
    if (!o.quiet) printf("file %s: %zu bytes\n", o.path, file.size());
    fflush(stdout);
    if (!attach(inferred) && !attach(given)) {
        if (const char* other = OtherFormat(file)) {
            printf("%sNOT A TABLE FILE: %s, not checked here\n", o.quiet ? "" : "\n", other);
            return 3;
        }
        const char* why = r.GetLastError() ? r.GetLastError() : "not a table file";
        printf("%sINVALID: %s\n", o.quiet ? "" : "\n", why);
        if (strstr(why, "no hash or compare policy"))
            printf("(digit and caller-hashed key tables need their bucket counts: --buckets)\n");
        return 1;
    }
    uint32_t tag = 0, version = 0;
    r.GetHeaderTag(&tag);
    r.GetFormatVersion(&version);
    if (!o.quiet) {
        printf("plain image %llu bytes", (unsigned long long)plain);
        if (extra >= 0) printf(", extra block %lld bytes", (long long)extra);
        printf("\ncheck number 0x%08x, tag %u, version %u\n", r.GetCheckNum(), tag, version);
        printf("config %d bytes, header %d bytes, items %d bytes\n", r.GetConfigSize(),
               r.GetHeadSize(), r.GetItemsSize());
    }

    const t_tableLayout& lay = r.GetLayout();
    size_t problems = 0;
    for (int k = 0; k < r.GetKeyCount(); ++k) {
        const t_keyDesc& d = lay.keys[size_t(k)];
        const t_keyLayout& L = lay.keyLayouts[size_t(k)];
        const bool searchable = L.policyId != 5;
        // English keys are stored in the English order, or (a list without
        // its own compare) in the default one: either order that places every
        // row is the table's.
        size_t bad = CheckKeyTable(r, k, searchable);
        bool englishOrder = false;
        if (bad && L.policyId == 1) {
            const size_t inEnglish = CheckKeyTable(eng, k, searchable);
            englishOrder = inEnglish < bad;
            bad = std::min(bad, inEnglish);
        }
        problems += bad;
        if (o.quiet) continue;
        std::string fields;
        for (int16_t t : d.fieldTypes)
            fields.append(fields.empty() ? "" : ",").append(std::to_string(t));
        printf("\nkey table %d: type 0x%02x (%s%s%s%s), fields [%s], row %d bytes\n", k, d.keyType,
               PolicyName(L.policyId), d.keyType & kFlagPrefixSkip ? ", prefix-skip" : "",
               d.keyType & kFlagSortedAttri ? ", sorted attri" : "",
               d.keyType & kFlagPackedAttri ? ", packed attri" : "", fields.c_str(),
               r.GetKeyRowSize(k));
        printf("  attri %d, key data %d, value data %d; rows allocated %d, used %d, at %lld\n",
               r.GetAttriIndex(k), r.GetKeyDataTable(k), r.GetValueDataTable(k),
               r.GetKeyRowCount(k), r.GetKeyUsedCount(k), (long long)r.GetKeyTableOffset(k));
        int64_t rows = 0, used = 0, fullest = 0, full = 0;
        for (int b = 0; b < r.GetBucketCount(k); ++b) {
            const int64_t n = r.GetBucketRowCount(k, b);
            rows += n;
            used += n > 0;
            fullest = n > fullest ? n : fullest;
            full += n > 0 && n == r.GetBucketCapacity(k, b);
        }
        printf("  buckets %d: %lld used, %lld full, %lld rows, at most %lld in one%s%s\n",
               r.GetBucketCount(k), (long long)used, (long long)full, (long long)rows,
               (long long)fullest, searchable ? "" : " (caller-hashed: placement not checked)",
               englishOrder ? " (English order)" : "");
        if (bad) printf("  DAMAGED: %zu problem(s) in rows, items or chains\n", bad);
        long listed = 0;
        for (int b = 0; b < r.GetBucketCount(k) && (o.keys < 0 || listed < o.keys); ++b) {
            const int32_t start = r.GetBucketStart(k, b);
            for (int32_t i = 0; i < r.GetBucketRowCount(k, b) && (o.keys < 0 || listed < o.keys);
                 ++i, ++listed) {
                const uint8_t* row = r.GetBucketRow(k, i, start);
                printf("    [%d.%d] %s\n", b, i,
                       row ? KeyText(r, k, b, row).c_str() : "<row outside its table>");
            }
        }
        if (o.keys >= 0 && rows > listed && listed > 0)
            printf("    ... %lld more\n", (long long)(rows - listed));
    }
    if (!o.quiet) {
        for (int a = 0; a < r.GetAttriCount(); ++a)
            printf(
                "\nattri table %d: %u field(s), owner key %u, data %d, row %d bytes; rows "
                "allocated %d, used %d, at %lld\n",
                a, lay.attris[size_t(a)].fieldCount, lay.attris[size_t(a)].ownerKey,
                r.GetAttriDataTable(a), r.GetAttriRowSize(a), r.GetAttriRowCount(a),
                r.GetAttriUsedCount(a), (long long)r.GetAttriTableOffset(a));
        for (int d = 0; d < r.GetDataCount(); ++d)
            printf("%sdata table %d: %d bytes allocated, %d used, at %lld\n", d == 0 ? "\n" : "", d,
                   r.GetDataSize(d), r.GetDataUsed(d), (long long)r.GetDataTableOffset(d));
        printf("\n");
    }
    if (problems) {
        printf("DAMAGED: %zu problem(s)\n", problems);
        return 1;
    }
    printf("VALID\n");
    return 0;
}
