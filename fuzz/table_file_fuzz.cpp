// Fuzzes the table-file attach with the image placed as each storage kind
// places it: read-only and flush against an unmapped page (a file mapping),
// a writable copy of exactly the image (a memory copy or private buffer),
// a copy with reserved room after it, and a compact image expanded first.
// After an attach: every search and walk, and on the writable kinds an add,
// a field write, a save and (in place) a logged save; what was saved must
// attach again. The variant also picks the bucket counts of one of the
// system's dictionaries, so that their real files attach.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzz/image_fuzz.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/runtime/lstr.h"
#include "kernel/storage/editable_table.h"
#include "kernel/storage/table_builder.h"
#include "kernel/storage/table_file.h"

using namespace n_tableFormat;

namespace {

enum : int { kReadOnly = 0, kWritable = 1, kReserved = 2, kCompact = 3, kPlacements = 4 };

int SegHash(const t_lstr* key) {
    return int(Rd32(reinterpret_cast<const uint8_t*>(key)) % 5);
}
int SegCompare(const t_lstr* a, const t_lstr* b) {
    const uint32_t x = Rd32(reinterpret_cast<const uint8_t*>(a)),
                   y = Rd32(reinterpret_cast<const uint8_t*>(b));
    return x < y ? -2 : (x > y ? 2 : 0);
}
int AttriNumberCompare(const t_lstr* key, const uint8_t* row) {
    const uint16_t x = Rd16(reinterpret_cast<const uint8_t*>(key)), y = Rd16(row);
    return x < y ? -2 : (x > y ? 2 : 0);
}

// Bucket counts and functions of the dictionaries whose files are tables.
struct t_profile {
    std::vector<int32_t> buckets;
    std::vector<t_keyHashFn> hashFns;
    std::vector<t_keyCompareFn> compareFns;
};
const std::vector<t_profile>& Profiles() {
    static const std::vector<t_profile> profiles = {
        {{5, 0, 0, 8, 16, 4}, {&SegHash}, {&SegCompare}},  // the every-kind table below
        {{}, {}, {}},                                      // policy defaults
        {{std::begin(t_pyDict::kBuckets), std::end(t_pyDict::kBuckets)},
         {&t_pyDict::SyllableHash},
         {&t_pyDict::SyllableCompare}},
        {{0, 0, 0, 32768}, {}, {}},  // stroke annex
        {{500}, {}, {}},             // user dictionary
        {{512}, {}, {}},             // deleted words, contacts
        {{200}, {}, {}},             // privilege words
        {{0, 10}, {}, {}},           // quick words
    };
    return profiles;
}
constexpr int kProfiles = 8;

// ---- the made images ----

struct t_packer {
    t_fuzzBytes b;
    t_packer& S(const std::string& ascii) {
        Put16(uint16_t(2 * ascii.size()));
        for (char c : ascii) Put16(uint8_t(c));
        return *this;
    }
    t_packer& Units(const std::vector<uint16_t>& units) {
        Put16(uint16_t(2 * units.size()));
        for (uint16_t u : units) Put16(u);
        return *this;
    }
    t_packer& Put8(uint8_t v) {
        b.push_back(v);
        return *this;
    }
    t_packer& Put16(uint16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
        return *this;
    }
    t_packer& Put32(uint32_t v) {
        Put16(uint16_t(v));
        return Put16(uint16_t(v >> 16));
    }
    // The builder's packed form: i32 size first.
    t_fuzzBytes Packed() const {
        t_fuzzBytes p(4);
        Wr32(p.data(), uint32_t(b.size()));
        p.insert(p.end(), b.begin(), b.end());
        return p;
    }
};

t_keyDesc Key(int16_t type, std::vector<int16_t> fields, uint32_t attri, uint32_t keyData,
              uint32_t valueData, uint32_t capacity) {
    t_keyDesc d;
    d.keyType = type;
    d.fieldTypes = std::move(fields);
    d.attriIndex = attri;
    d.keyDataTable = keyData;
    d.valueDataTable = valueData;
    d.capacity = capacity;
    return d;
}

// Every key kind the format knows: caller-hashed u32 keys, English words
// with chained attri rows, prefix-skip words, pinyin ids with sorted attri
// rows, digit keys, binary keys with packed attri rows.
void Describe(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
              std::vector<uint32_t>& datas, uint32_t rows) {
    datas = {rows * 16, rows * 16, rows * 16};
    keys = {
        Key(5, {8, 0}, kNone, kNone, 1, rows),
        Key(1, {0, 5, 0, 7}, 0, 0, 1, rows),
        Key(0x11, {0, 0, 8}, kNone, 0, 1, rows),
        Key(0x22, {0, 0, 6}, 1, 0, 1, rows),
        Key(4, {7, 7, 1}, kNoAttriNoWord, kNone, kNone, 16),
        Key(0x46, {10, 2, 12, 4}, 2, 0, kNone, rows),
    };
    attris = {{2, 1, 2, rows}, {2, 3, 2, rows}, {2, 5, 2, rows}};
}

std::vector<std::vector<t_fuzzBytes>> Items() {
    std::vector<std::vector<t_fuzzBytes>> items(6);
    for (uint32_t v : {1u, 6u, 11u, 7u, 123456u})
        items[0].push_back(t_packer().Put32(v).S("v" + std::to_string(v)).Packed());
    items[0].push_back(t_packer().Put32(2).S("").Packed());
    struct {
        const char* w;
        uint16_t s;
        const char* a;
        uint32_t n;
    } eng[] = {{"apple", 1, "x", 10}, {"apple", 1, "y", 11}, {"Apple", 2, "z", 12},
               {"banana", 3, "", 13}, {"a", 4, "q", 1},      {"A", 5, "r", 2},
               {"zoo", 6, "s", 3},    {"Zoo", 8, "u", 5}};
    for (const auto& e : eng)
        items[1].push_back(t_packer().S(e.w).Put16(e.s).S(e.a).Put32(e.n).Packed());
    uint32_t n = 0;
    for (const char* w : {"a", "ab", "abc", "b", "abd", "ba", "c", "cab"})
        items[2].push_back(t_packer().S(w).S(std::string("val-") + w).Put32(++n).Packed());
    struct {
        std::vector<uint16_t> key;
        const char* a;
        uint16_t f;
    } py[] = {{{3, 100}, "ma", 1},
              {{3, 100}, "m", 2},
              {{3, 100}, "mab", 3},
              {{5}, "ni", 5},
              {{7, 7}, "hao", 6}};
    for (const auto& p : py) items[3].push_back(t_packer().Units(p.key).S(p.a).Put16(p.f).Packed());
    for (uint32_t k : {0u, 3u, 9u, 15u})
        items[4].push_back(t_packer().Put32(k).Put32(k * 100).Put8(uint8_t(k)).Packed());
    items[5].push_back(t_packer().Units({0xFF00, 0x2010}).Put8(1).S("z").Put8(9).Packed());
    items[5].push_back(t_packer().Units({0xFF00, 0x2010}).Put8(1).S("a").Put8(8).Packed());
    items[5].push_back(t_packer().Units({0x0201}).Put8(2).S("").Put8(7).Packed());
    return items;
}

void MakeImages(std::vector<t_fuzzBase>& out) {
    const t_profile& p = Profiles()[0];
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    // A populated plain image, as the data build writes system files.
    Describe(keys, attris, datas, 0);
    t_tableFileBuilder populated(keys, attris, datas, 7, 20140219, p.hashFns, p.compareFns, nullptr,
                                 0, &p.buckets);
    t_fuzzBytes plain;
    if (populated.IsValid()) {
        const auto items = Items();
        for (size_t k = 0; k < items.size(); ++k)
            for (const t_fuzzBytes& item : items[k]) populated.InsertOne(item.data(), int(k));
        if (populated.BuildPlainImage(plain)) out.push_back({kReadOnly, "every-kind-plain", plain});
    }
    // An empty image of small capacity, filled by the editable form, as the
    // user stores are: with an extra block.
    Describe(keys, attris, datas, 12);
    const uint8_t extra[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    t_tableFileBuilder empty(keys, attris, datas, 7, 20140219, p.hashFns, p.compareFns, extra,
                             sizeof extra, &p.buckets);
    const int32_t total = empty.IsValid() ? empty.GetTotalSize(nullptr) : -1;
    if (total <= 0) return;
    t_fuzzBytes image(static_cast<size_t>(total));
    if (!empty.BuildToBuffer(image.data(), total)) return;
    out.push_back({kWritable, "every-kind-empty", image});
    t_editableTableFile edit(nullptr, nullptr, int32_t(sizeof extra));
    for (size_t k = 0; k < p.buckets.size(); ++k) edit.SetBucketCount(int(k), p.buckets[k]);
    if (!edit.AttachWithExtra(image.data(), 20140219, p.hashFns, p.compareFns,
                              int64_t(image.size())))
        return;
    const auto items = Items();
    for (int k : {0, 1, 4})
        for (const t_fuzzBytes& item : items[size_t(k)])
            edit.AddItem(item.data() + 4, uint32_t(item.size() - 4), k, nullptr, nullptr);
    out.push_back({kWritable, "every-kind-filled", image});
    out.push_back({kReserved, "every-kind-reserved", image});
    t_fuzzBytes compact(image.size() * 2);
    uint64_t written = 0;
    t_editableTableFile packer(
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(sizeof extra),
        [](uint8_t**, uint32_t, void*) { return 0; }, true);
    for (size_t k = 0; k < p.buckets.size(); ++k) packer.SetBucketCount(int(k), p.buckets[k]);
    if (packer.AttachWithExtra(image.data(), 20140219, p.hashFns, p.compareFns,
                               int64_t(image.size())) &&
        packer.CompactImageInto(compact.data(), compact.size(), &written)) {
        compact.resize(written);
        out.push_back({kCompact, "every-kind-compact", compact});
    }
}

// ---- one input ----

uint32_t HeaderWord(const t_fuzzBytes& img, uint32_t word) {
    if (img.size() < 8) return 0;
    const uint64_t at = 8 + uint64_t(Rd32(img.data() + 4)) + 4 * word;
    return at + 4 <= img.size() ? Rd32(img.data() + at) : 0;
}

// The plain image's length from its own header; 0 when it cannot be read.
uint64_t PlainSize(const t_fuzzBytes& img) {
    if (img.size() < 8) return 0;
    const uint64_t config = Rd32(img.data() + 4);
    const uint64_t counts = uint64_t(HeaderWord(img, 3)) + HeaderWord(img, 4) + HeaderWord(img, 5);
    return 8 + config + 24 + 12 * counts + HeaderWord(img, 2);
}

template <class T>
void SetProfile(T& t, const t_profile& p) {
    for (size_t k = 0; k < p.buckets.size(); ++k) t.SetBucketCount(int(k), p.buckets[k]);
}

void Exercise(const t_tableFile& reader, t_fuzzPicker& pick) {
    const t_tableLayout& layout = reader.GetLayout();
    for (int k = 0; k < reader.GetKeyCount(); ++k) {
        const t_keyLayout& K = layout.keyLayouts[size_t(k)];
        const std::vector<int16_t>& types = layout.keys[size_t(k)].fieldTypes;
        std::vector<const uint8_t*> rows;
        reader.CollectKeyRows(k, rows);
        size_t seen = 0;
        for (const uint8_t* row : rows) {
            if (++seen > 64) break;
            const t_lstr* key = reader.GetRowKey(k, row);
            int32_t r = 0, start = 0, b = 0;
            const uint8_t* found = nullptr;
            if (key && K.policyId != 4) {
                reader.Find(key, k, &r, &start, &b);
                reader.FindRow(key, k, &found);
                reader.FindPrefix(key, k, &r, &start, &b);
            }
            for (uint32_t f = 1; f < K.keyRowFields && f < types.size(); ++f)
                if (IsVarLenType(types[f]))
                    reader.GetDataPtr(reader.GetValueDataTable(k), Rd32(row + K.fieldOffsets[f]));
            if (!K.hasAttri) continue;
            const uint32_t link = Rd32(row + K.linkOffset);
            std::vector<const uint8_t*> chain;
            if (link != kNone) reader.CollectAttriChain(link, k, chain, K.attriLinkOffset);
            for (const uint8_t* ar : chain)
                if (K.keyRowFields < types.size() && IsVarLenType(types[K.keyRowFields]))
                    reader.GetDataPtr(reader.GetAttriDataTable(int(K.attri)), Rd32(ar));
            if (layout.keys[size_t(k)].keyType & (kFlagSortedAttri | kFlagPackedAttri)) {
                const int32_t last = int32_t(Rd32(row + K.countOffset) - 1u);
                const uint8_t probe[8] = {4, 0, 'm', 0, 'a', 0, 0, 0};
                if (layout.keys[size_t(k)].keyType & kFlagSortedAttri)
                    reader.PrefixSearchAttri(reinterpret_cast<const t_lstr*>(probe), int(K.attri),
                                             link, last, &r);
                reader.BinarySearchAttri(reinterpret_cast<const t_lstr*>(probe), int(K.attri), link,
                                         last, &r, &AttriNumberCompare);
            }
        }
        std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
        if (K.hasAttri) reader.EnumerateItems(k, pairs);
        // Keys the image never held.
        uint8_t probe[2 + 2 * 6];
        const uint32_t units = 1 + pick.Next(6);
        Wr16(probe, uint16_t(2 * units));
        for (uint32_t i = 0; i < units; ++i) Wr16(probe + 2 + 2 * i, uint16_t(pick.Next(0x80)));
        int32_t r = 0, start = 0, b = 0;
        reader.Find(reinterpret_cast<const t_lstr*>(probe), k, &r, &start, &b);
        reader.FindPrefix(reinterpret_cast<const t_lstr*>(probe), k, &r, &start, &b);
        for (int bucket = 0; bucket < 4; ++bucket) {
            const int32_t at = reader.GetBucketStart(k, bucket);
            if (at >= 0) reader.GetKeyRow(k, at, 0);
        }
    }
}

// An item for key table k in the editable form's encoding, values from the input.
t_fuzzBytes MakeItem(const t_tableLayout& layout, int k, t_fuzzPicker& pick) {
    t_packer item;
    for (int16_t type : layout.keys[size_t(k)].fieldTypes) {
        if (IsVarLenType(type)) {
            std::string s(1 + pick.Next(5), 'a');
            for (char& c : s) c = char('a' + pick.Next(26));
            item.S(s);
        } else {
            for (uint32_t i = 0; i < FieldSize(type); ++i)
                item.Put8(uint8_t(pick.Next(layout.keys[size_t(k)].keyType == 4 ? 16 : 256)));
        }
    }
    return item.b;
}

// Growth, compact loads and trims hand the image over to these.
struct t_owner {
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    std::set<const uint8_t*> removed;
};
t_owner* g_owner = nullptr;

uint8_t* OnGrown(const t_grownImage& img, void*) {
    if (img.totalSize > (64u << 20)) return nullptr;
    g_owner->buffers.emplace_back(new uint8_t[img.totalSize]);
    return g_owner->buffers.back().get();
}
int Alloc(uint8_t** buffer, uint32_t size, void*) {
    if (size > (64u << 20)) return 0;
    g_owner->buffers.emplace_back(new uint8_t[size]);
    *buffer = g_owner->buffers.back().get();
    return 1;
}
bool RowLess(const uint8_t* a, const uint8_t* b) {
    return memcmp(a, b, 4) < 0;
}
int RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    return g_owner->removed.insert(row).second ? 1 : 0;
}
int RowState(const uint8_t* row, void*) {
    return g_owner->removed.count(row) ? kRowRemoved : kRowLive;
}

bool AttachEditable(t_editableTableFile& edit, const t_profile& p, void* image, uint32_t version,
                    int64_t size) {
    SetProfile(edit, p);
    return edit.AttachWithExtra(image, version, p.hashFns, p.compareFns, size);
}

void RunEditable(const t_fuzzImage& in, const t_profile& p, int placement, t_fuzzPicker& pick) {
    const uint64_t plain = PlainSize(in.bytes);
    if (plain == 0 || plain + 4 > in.bytes.size()) return;
    const uint32_t extra = Rd32(in.bytes.data() + plain);
    if (extra > (1u << 20)) return;
    const uint32_t version = HeaderWord(in.bytes, 1);
    t_owner owner;
    g_owner = &owner;
    t_editableTableFile edit(&OnGrown, nullptr, &RowLess, &RemoveRow, nullptr, &RowState, nullptr,
                             int32_t(extra), &Alloc, pick.Next(2) == 0);
    const size_t reserved = placement == kReserved ? 4096 : 0;
    std::unique_ptr<uint8_t[]> image = FuzzHeapImage(in.bytes, reserved);
    if (!AttachEditable(edit, p, image.get(), version, int64_t(in.bytes.size()))) return;
    Exercise(edit.Reader(), pick);
    const t_tableLayout& layout = edit.GetLayout();
    const std::wstring saved = FuzzWidePath("saved.bin");
    std::vector<uint8_t> region;
    if (pick.Next(2) == 0) {
        // In place: the file holds this image, the changes are logged.
        FUZZ_CHECK(edit.SaveToFile(saved.c_str()));
        const int64_t need = edit.GetFixedStateSize(8);
        if (need > 0 && need < (1 << 20)) {
            region.assign(size_t(need), 0);
            edit.SetFixedCapacityMode(8, region.data(), region.size());
        }
    }
    for (int k = 0; k < edit.GetKeyCount(); ++k) {
        const t_fuzzBytes item = MakeItem(layout, k, pick);
        int32_t maxKeys = 1 << 16, maxAttris = 1 << 16;
        t_editLocation where;
        edit.AddItem(item.data(), uint32_t(item.size()), k, &maxKeys, &maxAttris, &where);
        t_editLocation loc;
        if (edit.Locate(item.data(), uint32_t(item.size()), k, &loc) && loc.keyFound) {
            const uint32_t v = pick.Next(0xFFFF);
            const t_editRow& row = loc.itemFound && loc.attriRow.ptr ? loc.attriRow : loc.keyRow;
            edit.SetFieldAt(&v, 2, row, pick.Next(16), false);
        }
        std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
        edit.CollectItems(k, pairs);
        if (pick.Next(4) == 0) edit.HandleFull(k, &maxKeys, &maxAttris);
    }
    int inPlace = 0;
    if (edit.CanSaveInPlace(&inPlace) && inPlace) {
        if (edit.SaveDirtyInPlace(saved.c_str())) {
            t_fuzzBytes again;
            FUZZ_CHECK(n_fuzzImage::ReadAll(FuzzPath("saved.bin"), again));
            t_editableTableFile check(nullptr, nullptr, int32_t(extra));
            FUZZ_CHECK(AttachEditable(check, p, again.data(), version, int64_t(again.size())));
        }
    }
    if (!edit.SaveToFile(saved.c_str())) return;
    t_fuzzBytes again;
    FUZZ_CHECK(n_fuzzImage::ReadAll(FuzzPath("saved.bin"), again));
    t_editableTableFile check(nullptr, nullptr, int32_t(extra));
    FUZZ_CHECK(AttachEditable(check, p, again.data(), version, int64_t(again.size())));
    uint64_t written = 0;
    t_fuzzBytes compact(size_t(edit.GetTotalSize()) * 2 + 64);
    if (edit.CompactImageInto(compact.data(), compact.size(), &written)) {
        t_editableTableFile expand(&OnGrown, nullptr, &RowLess, &RemoveRow, nullptr, &RowState,
                                   nullptr, int32_t(extra), &Alloc, true);
        SetProfile(expand, p);
        FUZZ_CHECK(
            expand.LoadCompactImage(compact.data(), written, p.hashFns, p.compareFns, version));
    }
    g_owner = nullptr;
}

void RunCompact(const t_fuzzImage& in, const t_profile& p, t_fuzzPicker& pick) {
    t_owner owner;
    g_owner = &owner;
    for (int extra : {0, 8}) {
        t_editableTableFile edit(&OnGrown, nullptr, &RowLess, &RemoveRow, nullptr, &RowState,
                                 nullptr, extra, &Alloc, true);
        SetProfile(edit, p);
        uint64_t itemsOffset = 0;
        edit.GetExpandedSize(in.bytes.data(), in.bytes.size(), &itemsOffset);
        for (uint32_t version : {20140219u, 20141107u, 20150730u}) {
            if (!edit.LoadCompactImage(in.bytes.data(), in.bytes.size(), p.hashFns, p.compareFns,
                                       version))
                continue;
            Exercise(edit.Reader(), pick);
            break;
        }
    }
    g_owner = nullptr;
}

const t_fuzzTarget& Target() {
    static const t_fuzzTarget target = {
        kPlacements * kProfiles,
        &MakeImages,
        {
            {kReadOnly + kPlacements * 2, "qzim_py.bin"},
            {kReadOnly + kPlacements * 1, "qzim_hz.bin"},
            {kReadOnly + kPlacements * 3, "qzim_annex.bin"},
            {kReadOnly + kPlacements * 1, "qzim_eng.bin"},
            {kReadOnly + kPlacements * 1, "qzim_url.bin"},
            {kReadOnly + kPlacements * 1, "qzim_numFreqAdjust.bin"},
            {kReadOnly + kPlacements * 1, "qzim_phrases.bin"},
            {kReadOnly + kPlacements * 1, "qzim_eng_pre.bin"},
            {kReadOnly + kPlacements * 7, "qzim_quick.bin"},
            {kReadOnly + kPlacements * 1, "qzim_adjcache.bin"},
        },
    };
    return target;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzImageInit(Target());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static t_fuzzImage in;  // keeps its buffer: bases are megabytes
    // Size 0 asks the reader to trust the image's own length (images the
    // caller built); file data always comes with its length.
    if (!FuzzDecodeImage(data, size, Target(), in) || in.bytes.empty()) return 0;
    const int placement = in.variant % kPlacements;
    const t_profile& p = Profiles()[size_t(in.variant / kPlacements)];
    t_fuzzPicker pick(data, size);
    if (placement == kCompact) {
        RunCompact(in, p, pick);
        return 0;
    }
    // Every placement first attaches the plain image read-only, as system
    // files are read.
    const uint64_t plain = std::min<uint64_t>(PlainSize(in.bytes), in.bytes.size());
    {
        t_fuzzReadOnlyImage ro(in.bytes.data(), in.bytes.size());
        t_tableFile reader;
        SetProfile(reader, p);
        const uint32_t version = HeaderWord(in.bytes, 1);
        if (reader.Attach(ro.Get(), version, p.hashFns, p.compareFns, int64_t(in.bytes.size())) ||
            (plain > 0 && plain < in.bytes.size() &&
             reader.Attach(ro.Get(), version, p.hashFns, p.compareFns, int64_t(plain))))
            Exercise(reader, pick);
    }
    if (placement != kReadOnly) RunEditable(in, p, placement, pick);
    FuzzClearWorkDir();
    return 0;
}
