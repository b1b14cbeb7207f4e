// The user dictionary: image layout, attaching and validation, lookups,
// saving and reorganisation. Learning and weighting are in usr_learn.cpp.
#include "kernel/userdict/usr_dict_v3.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <unordered_set>

#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"
#include "kernel/storage/table_builder.h"
#include "kernel/userdict/usr_dict_internal.h"
#include "kernel/userdict/usr_scramble.h"
#include "kernel/userdict/usr_validators.h"

using namespace n_tableFormat;
using namespace n_usrDict;

namespace {

const int16_t kFieldTypes[8] = {10, 0, 6, 6, 7, 6, 6, 6};

}  // namespace

uint32_t ComputeCapacity(uint32_t count, uint32_t limit) {
    if (count <= kUsrDefaultCapacity - 1 || limit <= kUsrDefaultCapacity)
        return kUsrDefaultCapacity;
    uint64_t c = kUsrDefaultCapacity;
    while (c <= count && c < limit) c *= 2;
    return uint32_t(c > limit ? limit : c);
}

bool n_usrDict::BuildEmptyImage(uint32_t capacity, std::vector<uint8_t>& out) {
    if (capacity == 0 || capacity > kUsrRebuildCapacity) return false;
    uint32_t p1, p2;
    if (!DrawScrambleParameter(&p1) || !DrawScrambleParameter(&p2)) return false;
    uint8_t header[kUsrHeaderBytes] = {};
    Wr32(header + 4 * kUsrHdrBuckets, uint32_t(kUsrBucketCount));
    Wr32(header + 4 * kUsrHdrSize, uint32_t(kUsrHeaderBytes));
    Wr32(header + 4 * kUsrHdrClock, kUsrNoAge);
    Wr32(header + 4 * kUsrHdrParam1, p1);
    Wr32(header + 4 * kUsrHdrParam2, p2);

    std::vector<t_keyDesc> keys(1);
    keys[0].keyType = 2;
    keys[0].fieldTypes.assign(std::begin(kFieldTypes), std::end(kFieldTypes));
    keys[0].attriIndex = 0;
    keys[0].keyDataTable = 0;
    keys[0].valueDataTable = kNone;
    keys[0].capacity = capacity;
    std::vector<t_attriDesc> attris(1);
    attris[0].fieldCount = 7;
    attris[0].ownerKey = 0;
    attris[0].dataTable = 1;
    attris[0].capacity = capacity;
    const std::vector<uint32_t> datas = {10 * capacity, 10 * capacity};
    const std::vector<int32_t> buckets = {kUsrBucketCount};
    t_tableFileBuilder builder(keys, attris, datas, kUsrDictVersion, kUsrDictVersion, {}, {},
                               header, kUsrHeaderBytes, &buckets);
    if (!builder.IsValid()) return false;
    const int32_t size = builder.GetTotalSize(nullptr);
    if (size <= 0) return false;
    out.assign(size_t(size), 0);
    return builder.BuildToBuffer(out.data(), size);
}

// ---------------------------------------------------------------- construction

t_usrDictV3Core::t_usrDictV3Core()
    : m_store(&t_usrDictV3Core::OnGrown, this, &t_usrDictV3Core::RankLess,
              &t_usrDictV3Core::RemoveRow, this, &t_usrDictV3Core::RowState, this, kUsrHeaderBytes,
              &t_usrDictV3Core::AllocCompact, true) {
    m_store.SetBucketCount(0, kUsrBucketCount);
    // When the frequency rule frees too little (a dictionary full of words
    // used three times or more), the oldest and least used words make room:
    // a full dictionary goes on learning.
    m_store.SetEvictFn(0, &t_usrDictV3Core::EvictRow);
    BuildScrambleKeyTable();
}

t_usrDictV3Core::~t_usrDictV3Core() {
    m_store.Detach();
}

uint8_t* t_usrDictV3Core::OnGrown(const t_grownImage& img, void* context) {
    auto* self = static_cast<t_usrDictV3Core*>(context);
    std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[img.totalSize]);
    if (!fresh) return nullptr;
    // The store still reads the current image while it copies: keep it.
    self->m_retired = std::move(self->m_own);
    self->m_own = std::move(fresh);
    // The grown image no longer matches any file, so in-place saves are over.
    self->m_inPlaceOk = false;
    return self->m_own.get();
}

int t_usrDictV3Core::AllocCompact(uint8_t** buffer, uint32_t size, void* context) {
    auto* self = static_cast<t_usrDictV3Core*>(context);
    if (!buffer || !self) return 0;
    std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[size ? size : 1]);
    if (!fresh) return 0;
    self->m_retired = std::move(self->m_own);
    self->m_own = std::move(fresh);
    *buffer = self->m_own.get();
    return 1;
}

bool t_usrDictV3Core::RankLess(const uint8_t* a, const uint8_t* b) {
    const uint32_t sa = Rd32(a + kOffStamp), sb = Rd32(b + kOffStamp);
    if (sa != sb) return sa < sb;
    return Rd16(a + kOffFreq) < Rd16(b + kOffFreq);
}

int t_usrDictV3Core::RemoveRow(uint8_t* row, uint8_t* extra, void* context, int index) {
    if (Rd16(row + kOffFreq) > 2) return 0;
    return EvictRow(row, extra, context, index);
}

int t_usrDictV3Core::EvictRow(uint8_t* row, uint8_t* extra, void* context, int) {
    const auto* self = static_cast<const t_usrDictV3Core*>(context);
    if (self && self->m_noEviction) return 0;
    const uint16_t f = Rd16(row + kOffFreq);
    if (extra) {
        const uint32_t total = Rd32(extra + 4 * kUsrHdrTotal);
        Wr32(extra + 4 * kUsrHdrTotal, total >= f ? total - f : 0);
    }
    Wr16(row + kOffFreq, 0);
    Wr32(row + kOffStamp, kUsrNoAge);
    return 1;
}

int t_usrDictV3Core::RowState(const uint8_t* row, void* context) {
    if (Rd16(row + kOffFreq) == 0) return kRowRemoved;
    // The word an add is placing is never what the add's trim removes.
    const auto* self = static_cast<const t_usrDictV3Core*>(context);
    if (self && self->m_addingRow >= 0 && row == self->m_store.GetAttriRowPtr(0, self->m_addingRow))
        return kRowProtected;
    return kRowLive;
}

bool t_usrDictV3Core::HasImportRoom(const t_lstr* reading, const t_lstr* word,
                                    uint32_t margin) const {
    // The limits at the largest capacity, where a trim would start (nine
    // tenths of the rows and bytes), less the margin.
    if (margin > kUsrTrimPoint) margin = kUsrTrimPoint;
    const uint64_t rows = uint64_t(kUsrTrimPoint) - margin;
    const uint64_t bytes = rows * kUsrDataBytesPerWord - 256;
    const auto fits = [&](uint64_t keyAdd, uint64_t keyBytes, uint64_t wordBytes) {
        const int64_t k = m_store.GetKeyUsedCount(0), a = m_store.GetAttriUsedCount(0),
                      d0 = m_store.GetDataUsed(0), d1 = m_store.GetDataUsed(1);
        return k >= 0 && a >= 0 && d0 >= 0 && d1 >= 0 && uint64_t(a) + 1 <= rows &&
               uint64_t(k) + keyAdd <= rows && uint64_t(d0) + keyBytes <= bytes &&
               uint64_t(d1) + wordBytes <= bytes;
    };
    // Room for the longest new word and reading: no need to look it up.
    if (fits(1, 2 + kUsrMaxTextBytes, 2 + kUsrMaxTextBytes)) return true;
    t_wordLoc loc;
    // A word it would refuse is the merge's to refuse; a stored one needs no room.
    if (!LocateChange(reading, word, &loc) || loc.wordFound) return true;
    return fits(loc.keyFound ? 0 : 1, loc.keyFound ? 0 : LstrGetTotalBytes(reading),
                LstrGetTotalBytes(word));
}

bool t_usrDictV3Core::Refuse(const char* why) {
    m_lastError = why;
    return false;
}

// ---------------------------------------------------------------- attaching

bool t_usrDictV3Core::CheckLayout() {
    const t_tableLayout& lay = m_store.GetLayout();
    if (lay.keys.size() != 1 || lay.attris.size() != 1 || lay.datas.size() != 2) return false;
    const t_keyDesc& k = lay.keys[0];
    if (k.keyType != 2 || k.fieldTypes.size() != 8) return false;
    for (size_t i = 0; i < 8; ++i)
        if (k.fieldTypes[i] != kFieldTypes[i]) return false;
    if (k.attriIndex != 0 || k.keyDataTable != 0 || lay.attris[0].dataTable != 1 ||
        lay.attris[0].fieldCount != 7)
        return false;
    const t_keyLayout& L = lay.keyLayouts[0];
    // The row callbacks of the store read fixed offsets: the layout must give them.
    return L.hasAttri && L.attriFieldOffsets.size() == 7 && L.attriFieldOffsets[0] == kOffText &&
           L.attriFieldOffsets[1] == kOffFreq && L.attriFieldOffsets[2] == kOffFlags &&
           L.attriFieldOffsets[3] == kOffStamp && L.attriFieldOffsets[4] == kOffSum &&
           L.attriFieldOffsets[5] == kOffExtra && m_store.GetBucketCount(0) == kUsrBucketCount;
}

bool t_usrDictV3Core::AttachImage(uint8_t* data, uint64_t size) {
    m_loaded = false;
    m_inPlaceOk = false;
    m_unloggedChange = false;
    SetReady(false);
    if (!data || size == 0 || size > uint64_t(INT32_MAX)) return Refuse("no image");
    if (!m_store.AttachWithExtra(data, kUsrDictVersion, {}, {}, int64_t(size)))
        return Refuse(m_store.GetLastError());
    return FinishAttach();
}

// Checks of an image the store has just attached; detaches it when refused.
bool t_usrDictV3Core::FinishAttach() {
    if (!CheckLayout()) {
        m_store.Detach();
        return Refuse("not a user dictionary layout");
    }
    if (!m_store.GetExtraData(kUsrHeaderBytes) || !IsValidUsrDictHeader(nullptr)) {
        m_store.Detach();
        return Refuse("no user dictionary header");
    }
    m_loaded = true;
    if (!Validate()) {
        m_loaded = false;
        m_store.Detach();
        return false;
    }
    ++m_attachCount;
    m_lastError = nullptr;
    return true;
}

bool t_usrDictV3Core::Load(void* data, int32_t size) {
    m_loaded = false;
    m_store.Detach();  // before the buffers it may point into go
    m_retired.reset();
    m_own.reset();
    m_basePath.clear();
    m_sourcePath.clear();
    if (!data || size <= 0) return Refuse("no image");
    // The manager's block holds the image itself; edits go into it.
    return AttachImage(static_cast<uint8_t*>(data), uint64_t(size));
}

bool t_usrDictV3Core::AttachCopy(const void* data, uint64_t size) {
    m_loaded = false;
    m_store.Detach();
    m_basePath.clear();
    m_sourcePath.clear();
    if (!data || size == 0 || size > uint64_t(INT32_MAX)) return Refuse("no image");
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size]);
    if (!copy) return Refuse("out of memory");
    std::memcpy(copy.get(), data, size);
    m_retired.reset();
    m_own = std::move(copy);
    return AttachImage(m_own.get(), size);
}

bool t_usrDictV3Core::AttachFile(const wchar_t* path) {
    m_loaded = false;
    m_store.Detach();
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) return Refuse("cannot read the file");
    if (!AttachCopy(bytes.data(), bytes.size())) return false;
    m_sourcePath = path;
    // The attached image equals this file: changes can be patched into it.
    if (m_unloggedChange) return true;
    const int64_t need = m_store.GetFixedStateSize(kUsrChangeLogRecords);
    if (need > 0) {
        m_region.assign(size_t(need), 0);
        m_inPlaceOk =
            m_store.SetFixedCapacityMode(kUsrChangeLogRecords, m_region.data(), m_region.size());
        if (m_inPlaceOk) m_basePath = path;
    }
    return true;
}

bool t_usrDictV3Core::LoadCompact(const void* image, uint64_t size, uint8_t* region,
                                  uint64_t regionSize) {
    m_loaded = false;
    m_inPlaceOk = false;
    m_unloggedChange = false;
    m_basePath.clear();
    m_sourcePath.clear();
    SetReady(false);
    m_store.Detach();
    if (!image || size == 0 || size > uint64_t(INT32_MAX)) return Refuse("no image");
    // The expanded image goes into a buffer of this dictionary (AllocCompact).
    if (!m_store.LoadCompactImage(static_cast<const uint8_t*>(image), size, {}, {},
                                  kUsrDictVersion))
        return Refuse(m_store.GetLastError());
    if (!FinishAttach()) return false;
    if (region && !m_store.SetFixedCapacityMode(kUsrChangeLogRecords, region, regionSize)) {
        m_loaded = false;
        m_store.Detach();
        return Refuse("change log region too small");
    }
    return true;
}

bool t_usrDictV3Core::SaveCompactTemp(const wchar_t* path) const {
    if (!m_loaded || !path || !path[0]) return false;
    const std::wstring work = std::wstring(path) + L".temp";
    const t_pathName target(path), temp(work.c_str());
    char targetBytes[kPathBufBytes];
    if (!target.IsValid() || !temp.IsValid() || !target.ToBytes(targetBytes, sizeof targetBytes))
        return false;
    const int64_t total = m_store.GetTotalSize();
    if (total <= 0) return false;
    // A compact image is never larger than the image it comes from.
    std::vector<uint8_t> compact(static_cast<size_t>(total));
    uint64_t written = 0;
    if (!m_store.CompactImageInto(compact.data(), compact.size(), &written) || written == 0 ||
        written > compact.size())
        return false;
    // The work file itself is written through a synced temporary, so a
    // stale ".temp" of an earlier crash is simply replaced.
    if (!DictWriteFileSafely(temp, compact.data(), size_t(written))) return false;
    if (!PathRename(temp, target)) {
        PathRemoveFile(temp);
        return false;
    }
    return SyncParentDir(targetBytes);
}

bool t_usrDictV3Core::TrimAll() {
    if (!m_loaded) return false;
    int32_t keyUsed = int32_t(kUsrMaxCapacity), attriUsed = int32_t(kUsrMaxCapacity);
    if (!m_store.Trim(0, &keyUsed, &attriUsed)) return false;
    SetWord(kUsrHdrKeys, uint32_t(m_store.GetKeyUsedCount(0)));
    SetWord(kUsrHdrWords, uint32_t(m_store.GetAttriUsedCount(0)));
    m_inPlaceOk = false;  // rows moved: only a rebuilt save writes them
    return true;
}

int64_t t_usrDictV3Core::GetFixedStateSize(int32_t capacity) const {
    return m_loaded ? m_store.GetFixedStateSize(capacity) : -1;
}

bool t_usrDictV3Core::GetFixedCapacityState(t_fixedState* out) const {
    return m_loaded && out && m_store.GetFixedCapacityState(out);
}

int UsrWordCursor::Init(const t_usrDictV3Core& dict, const t_lstr* r, intptr_t callerValue) {
    reading = r;
    value = callerValue;
    int longer = 0;
    group = dict.Find(r, &longer);
    return longer;
}

bool t_usrDictV3Core::CreateEmpty(uint32_t capacity) {
    std::vector<uint8_t> image;
    if (!BuildEmptyImage(capacity, image)) return Refuse("cannot build an empty image");
    return AttachCopy(image.data(), image.size());
}

bool t_usrDictV3Core::GetImageBytes(const uint8_t** data, uint64_t* size) const {
    if (!m_loaded || !data || !size) return false;
    const int64_t total = m_store.GetTotalSize();
    if (total <= 0) return false;
    *data = m_store.GetImage();
    *size = uint64_t(total);
    return true;
}

bool t_usrDictV3Core::Validate() {
    if (!m_loaded) return false;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!m_store.CollectItems(0, pairs)) return Refuse("damaged word chain");
    const int32_t p1 = int32_t(Word(kUsrHdrParam1)), p2 = int32_t(Word(kUsrHdrParam2));
    for (const auto& pr : pairs) {
        if (!pr.second) return Refuse("key without words");
        if (!IsValidPyIdString(m_store.GetRowKey(0, pr.first))) return Refuse("invalid reading");
        const t_lstr* text = m_store.GetDataPtr(1, Rd32(pr.second + kOffText));
        if (!text || LstrGetByteLength(text) == 0) return Refuse("word without text");
        uint8_t buf[kUsrTextBufBytes];
        bool good = IsValidWordString(text, true);
        if (good) {
            std::memcpy(buf, text, LstrGetTotalBytes(text));
            if (!UnscrambleWordText(reinterpret_cast<t_lstr*>(buf), Rd16(pr.second + kOffSum), p1,
                                    p2))
                return Refuse("text cannot be unscrambled");
        }
        // An unusable text: the row is hidden now and dropped by the next rebuild.
        if (!good && Rd16(pr.second + kOffFreq) != 0) HideRow(const_cast<uint8_t*>(pr.second));
    }
    // More words than any save can write (no release makes such a file):
    // every save would fail, and with it all that is learned. The least used
    // go now, before anything is learned, so that the learned words stay.
    const std::vector<const uint8_t*> beyond =
        RowsBeyond(pairs, kUsrRebuildCapacity, kUsrOversizeKeep);
    if (!beyond.empty()) {
        uint64_t live = 0;
        for (const auto& pr : pairs) live += Rd16(pr.second + kOffFreq) != 0;
        for (const uint8_t* row : beyond) HideRow(const_cast<uint8_t*>(row));
        fprintf(stderr,
                "user dictionary: %zu words dropped, %llu kept (more than a dictionary holds)\n",
                beyond.size(), static_cast<unsigned long long>(live - beyond.size()));
    }
    return true;
}

void t_usrDictV3Core::HideRow(uint8_t* row) {
    // Written past the change log: only a rebuilt save keeps it.
    m_inPlaceOk = false;
    m_basePath.clear();
    m_unloggedChange = true;
    const uint16_t f = Rd16(row + kOffFreq);
    const uint32_t total = Word(kUsrHdrTotal);
    SetWord(kUsrHdrTotal, total >= f ? total - f : 0);
    Wr16(row + kOffFreq, 0);
    Wr32(row + kOffStamp, kUsrNoAge);
    m_store.NoteRowsChanged();
}

std::vector<const uint8_t*> t_usrDictV3Core::RowsBeyond(
    const std::vector<std::pair<const uint8_t*, const uint8_t*>>& pairs, uint64_t fit,
    uint64_t keep) const {
    // What a live word takes: a row, its text's bytes, and for the first
    // word of a reading a key row and the reading's bytes.
    struct t_cost {
        const uint8_t* key;
        const uint8_t* row;
        uint64_t readingBytes, textBytes;
    };
    std::vector<t_cost> live;
    uint64_t words = 0, keys = 0, readingBytes = 0, textBytes = 0;
    const uint8_t* lastKey = nullptr;
    const auto fits = [](uint64_t n, uint64_t k, uint64_t rb, uint64_t tb, uint64_t limit) {
        return n <= limit && k <= limit && rb <= limit * kUsrDataBytesPerWord &&
               tb <= limit * kUsrDataBytesPerWord;
    };
    std::vector<const uint8_t*> beyond;
    // Once to see whether all fit (the usual case, nothing kept), and only
    // then again to gather what is ranked.
    for (const bool gather : {false, true}) {
        for (const auto& pr : pairs) {
            if (!pr.second || Rd16(pr.second + kOffFreq) == 0) continue;
            const t_lstr* text = m_store.GetDataPtr(1, Rd32(pr.second + kOffText));
            const t_lstr* reading = m_store.GetRowKey(0, pr.first);
            const t_cost c = {pr.first, pr.second, reading ? LstrGetTotalBytes(reading) : 0u,
                              text ? LstrGetTotalBytes(text) : 0u};
            if (gather) {
                live.push_back(c);
                continue;
            }
            ++words;
            textBytes += c.textBytes;
            if (pr.first != lastKey) {  // the pairs of a key come together
                lastKey = pr.first;
                ++keys;
                readingBytes += c.readingBytes;
            }
        }
        if (!gather && fits(words, keys, readingBytes, textBytes, fit)) return beyond;
    }
    std::stable_sort(live.begin(), live.end(), [](const t_cost& a, const t_cost& b) {
        const uint16_t fa = Rd16(a.row + kOffFreq), fb = Rd16(b.row + kOffFreq);
        return fa != fb ? fa > fb : Rd32(a.row + kOffStamp) > Rd32(b.row + kOffStamp);
    });
    std::unordered_set<const uint8_t*> keptKeys;
    words = keys = readingBytes = textBytes = 0;
    for (const t_cost& c : live) {
        const bool newKey = !keptKeys.count(c.key);
        if (fits(words + 1, keys + newKey, readingBytes + (newKey ? c.readingBytes : 0),
                 textBytes + c.textBytes, keep)) {
            ++words;
            textBytes += c.textBytes;
            if (newKey) {
                keptKeys.insert(c.key);
                ++keys;
                readingBytes += c.readingBytes;
            }
        } else {
            beyond.push_back(c.row);
        }
    }
    return beyond;
}

// ---------------------------------------------------------------- header

uint32_t t_usrDictV3Core::Word(int i) const {
    const uint8_t* h = m_loaded ? m_store.GetExtraData(kUsrHeaderBytes) : nullptr;
    return (h && i >= 0 && i < kUsrHdrWordCount) ? Rd32(h + 4 * i) : 0;
}

void t_usrDictV3Core::SetWord(int i, uint32_t v) {
    uint8_t* h = m_loaded ? m_store.GetExtraData(kUsrHeaderBytes) : nullptr;
    if (h && i >= 0 && i < kUsrHdrWordCount) Wr32(h + 4 * i, v);
}

const uint8_t* t_usrDictV3Core::GetHeader() const {
    return m_loaded ? m_store.GetExtraData(kUsrHeaderBytes) : nullptr;
}

uint32_t t_usrDictV3Core::GetHeaderWord(int i) const {
    return Word(i);
}

int32_t t_usrDictV3Core::GetWordCount() const {
    return int32_t(Word(kUsrHdrWords));
}
int32_t t_usrDictV3Core::GetTotalFreq() const {
    return int32_t(Word(kUsrHdrTotal));
}

int32_t t_usrDictV3Core::GetAverageFreq() const {
    const uint32_t words = Word(kUsrHdrWords);
    if (!m_loaded || words == 0) return 1;
    const uint32_t avg = Word(kUsrHdrTotal) / words;
    return avg < 1 ? 1 : int32_t(avg > INT32_MAX ? INT32_MAX : avg);
}

// ---------------------------------------------------------------- lookups

const uint8_t* t_usrDictV3Core::GroupRow(int32_t group) const {
    if (!m_loaded || group < 0) return nullptr;
    const int32_t rowSize = m_store.GetKeyRowSize(0);
    if (rowSize <= 0 || group % rowSize != 0) return nullptr;
    const uint8_t* row = m_store.GetBucketRow(0, 0, group);
    if (!row) return nullptr;
    // Only a used row of its own bucket is a group: spare rows hold stale bytes.
    const t_lstr* key = m_store.GetRowKey(0, row);
    if (LstrGetByteLength(key) < 2) return nullptr;
    const int32_t b = int32_t(LstrGetUnit(key, 0));
    const int32_t start = m_store.GetBucketStart(0, b), used = m_store.GetBucketRowCount(0, b);
    if (start < 0 || used < 0) return nullptr;
    if (int64_t(group) < start || int64_t(group) >= int64_t(start) + int64_t(used) * rowSize)
        return nullptr;
    return row;
}

int t_usrDictV3Core::WalkChain(const uint8_t* keyRow, std::vector<const uint8_t*>& rows,
                               int max) const {
    rows.clear();
    const t_keyLayout& L = m_store.GetLayout().keyLayouts[0];
    const uint32_t ars = uint32_t(m_store.GetAttriRowSize(0));
    const uint64_t used = uint64_t(uint32_t(m_store.GetAttriUsedCount(0)));
    uint32_t link = Rd32(keyRow + L.linkOffset);
    for (uint64_t steps = 0; link != kNone && int(rows.size()) < max; ++steps) {
        if (ars == 0 || link % ars != 0 || uint64_t(link) / ars >= used || steps >= used) break;
        const uint8_t* ar = m_store.GetAttriRowPtr(0, link);
        if (!ar) break;
        rows.push_back(ar);
        link = Rd32(ar + L.attriLinkOffset);
    }
    return int(rows.size());
}

int32_t t_usrDictV3Core::Find(const t_lstr* reading, int* hasLonger) const {
    if (hasLonger) *hasLonger = 0;
    if (!m_loaded || LstrGetByteLength(reading) < 2) return -1;
    int32_t row = 0, start = 0, bucket = -1;
    const bool found = m_store.Find(reading, 0, &row, &start, &bucket);
    if (bucket < 0 || row < 0) return -1;
    const int32_t used = m_store.GetBucketRowCount(0, bucket);
    const int32_t rowSize = m_store.GetKeyRowSize(0);
    if (hasLonger) {
        for (int32_t r = row; r <= row + 1 && r < used; ++r) {
            const t_lstr* key = m_store.GetRowKey(0, m_store.GetBucketRow(0, r, start));
            if (key && LstrCompare(key, reading) == 1) {
                *hasLonger = 1;
                break;
            }
        }
    }
    return found ? start + row * rowSize : -1;
}

bool t_usrDictV3Core::FindAll(const t_lstr* reading, int32_t* ids, const t_lstr** keys, int max,
                              int* count) const {
    if (count) *count = 0;
    if (!m_loaded || !count || LstrGetByteLength(reading) < 2) return false;
    int32_t row = 0, start = 0, bucket = -1;
    const bool found = m_store.Find(reading, 0, &row, &start, &bucket);
    if (bucket < 0 || row < 0) return false;
    const int32_t used = m_store.GetBucketRowCount(0, bucket);
    const int32_t rowSize = m_store.GetKeyRowSize(0);
    const int32_t totalKeys = m_store.GetKeyUsedCount(0);
    int n = 0;
    for (int32_t r = found ? row + 1 : row; r < used && n < max && n < totalKeys; ++r) {
        const uint8_t* rp = m_store.GetBucketRow(0, r, start);
        const t_lstr* key = m_store.GetRowKey(0, rp);
        if (!key || LstrCompare(key, reading) != 1) break;
        if (ids) ids[n] = start + r * rowSize;
        if (keys) keys[n] = key;
        ++n;
    }
    *count = n;
    return true;
}

const t_lstr* t_usrDictV3Core::GetKeyText(uint32_t textId) const {
    return m_loaded ? m_store.GetDataPtr(0, textId) : nullptr;
}

bool t_usrDictV3Core::GetWordText(uint32_t textId, uint32_t checksum, t_lstr* out) const {
    if (!m_loaded || !out) return false;
    const t_lstr* text = m_store.GetDataPtr(1, textId);
    const uint16_t n = LstrGetByteLength(text);
    if (!text || n < 1 || n > kUsrMaxTextBytes) return false;
    std::memcpy(out, text, size_t(n) + 2);
    return UnscrambleWordText(out, checksum, int32_t(Word(kUsrHdrParam1)),
                              int32_t(Word(kUsrHdrParam2)));
}

bool t_usrDictV3Core::ReadAttr(const uint8_t* row, t_usrWordAttr* a) const {
    if (!row || !a) return false;
    a->textId = Rd32(row + kOffText);
    a->freq = Rd16(row + kOffFreq);
    a->flags = Rd16(row + kOffFlags);
    a->stamp = Rd32(row + kOffStamp);
    a->checksum = Rd16(row + kOffSum);
    a->extra = Rd16(row + kOffExtra);
    a->reserved = Rd16(row + kOffExtra + 2);
    return true;
}

bool t_usrDictV3Core::ReadPair(const std::pair<const uint8_t*, const uint8_t*>& pair,
                               const t_lstr** reading, t_usrWordAttr* attr) const {
    if (!m_loaded || !pair.first || !pair.second) return false;
    if (reading) *reading = m_store.GetRowKey(0, pair.first);
    return ReadAttr(pair.second, attr) && (!reading || *reading);
}

bool t_usrDictV3Core::LocateWord(const t_lstr* reading, const t_lstr* word, t_wordLoc* loc) const {
    *loc = t_wordLoc();
    if (!m_loaded || !IsValidWordString(word, false) || LstrGetByteLength(reading) < 2)
        return false;
    std::memcpy(loc->scrambled, word, LstrGetTotalBytes(word));
    auto* s = reinterpret_cast<t_lstr*>(loc->scrambled);
    if (!ScrambleWordText(s, &loc->checksum, int32_t(Word(kUsrHdrParam1)),
                          int32_t(Word(kUsrHdrParam2))))
        return false;
    if (!m_store.FindKeyValue(reinterpret_cast<const uint8_t*>(reading), loc->scrambled, &loc->loc))
        return false;
    loc->keyFound = loc->loc.keyFound;
    if (!loc->keyFound) return true;
    if (loc->loc.itemFound && Rd16(loc->loc.attriRow.ptr + kOffSum) == loc->checksum) {
        loc->row = loc->loc.attriRow;
        loc->wordFound = true;
        return true;
    }
    if (!loc->loc.itemFound) return true;
    // Same scrambled bytes but another checksum: another word. Look further.
    std::vector<const uint8_t*> rows;
    WalkChain(loc->loc.keyRow.ptr, rows, INT32_MAX);
    for (const uint8_t* r : rows) {
        const t_lstr* text = m_store.GetDataPtr(1, Rd32(r + kOffText));
        if (Rd16(r + kOffSum) == loc->checksum && text && LstrCompare(text, s) == 0) {
            loc->row = loc->loc.attriRow;
            loc->row.ptr = const_cast<uint8_t*>(r);
            loc->wordFound = true;
            return true;
        }
    }
    return true;
}

bool t_usrDictV3Core::GetWordRecord(const t_lstr* reading, const t_lstr* word,
                                    t_usrWordAttr* attr) const {
    t_wordLoc loc;
    if (!LocateWord(reading, word, &loc) || !loc.wordFound) return false;
    if (attr) ReadAttr(loc.row.ptr, attr);
    return true;
}

int t_usrDictV3Core::GetEntries(int32_t group, uint32_t* textIds, uint16_t* flags,
                                uint16_t* checksums, uint16_t* freqs, uint32_t* stamps,
                                uint16_t* extras, int max) const {
    const uint8_t* keyRow = GroupRow(group);
    if (!keyRow || max <= 0) return 0;
    std::vector<const uint8_t*> rows;
    const int n = WalkChain(keyRow, rows, max);
    for (int i = 0; i < n; ++i) {
        t_usrWordAttr a;
        ReadAttr(rows[size_t(i)], &a);
        if (textIds) textIds[i] = a.textId;
        if (flags) flags[i] = a.flags;
        if (checksums) checksums[i] = a.checksum;
        if (freqs) freqs[i] = a.freq;
        if (stamps) stamps[i] = a.stamp;
        if (extras) extras[i] = a.extra;
    }
    return n;
}

bool t_usrDictV3Core::CollectItems(
    std::vector<std::pair<const uint8_t*, const uint8_t*>>& pairs) const {
    pairs.clear();
    return m_loaded && m_store.CollectItems(0, pairs);
}

// ---------------------------------------------------------------- the manager's slots

bool t_usrDictV3Core::Save(const void*, int32_t) {
    std::vector<uint8_t> image;
    if (!BuildEmptyImage(kUsrDefaultCapacity, image)) return false;
    return CommitImage(image.data(), int32_t(image.size()));
}

bool t_usrDictV3Core::Import(const void* data, int32_t size) {
    if (!data || size <= 0) return false;
    uint64_t itemsOffset = 0;
    const uint64_t full =
        m_store.GetExpandedSize(static_cast<const uint8_t*>(data), uint64_t(size), &itemsOffset);
    if (full == 0 || full > uint64_t(INT32_MAX)) return false;
    std::vector<uint8_t> image(full);
    if (!m_store.ExpandImageInto(static_cast<const uint8_t*>(data), uint64_t(size), image.data(),
                                 full))
        return false;
    // Only an image that attaches and validates becomes the file.
    t_usrDictV3Core check;
    if (!check.AttachCopy(image.data(), image.size())) return false;
    return WriteFile(image.data(), int32_t(image.size()));
}

bool t_usrDictV3Core::Export(const void* data, int32_t size) {
    if (!data || size <= 0) return false;
    t_usrDictV3Core copy;
    if (!copy.AttachCopy(data, uint64_t(size))) return false;
    std::vector<uint8_t> compact(static_cast<size_t>(size));
    uint64_t written = 0;
    if (!copy.m_store.CompactImageInto(compact.data(), compact.size(), &written) || written == 0 ||
        written > compact.size())
        return false;
    return Backup(compact.data(), int32_t(written));
}

bool t_usrDictV3Core::OnFileWritten(const wchar_t* path) {
    if (!SaveToFile(path, 1)) return false;
    IncreaseVersion();
    return true;
}

bool t_usrDictV3Core::PrepareImageCopy(uint32_t* state) const {
    if (!m_loaded || !state) return false;
    *state = Word(kUsrHdrChanges);
    return true;
}

bool t_usrDictV3Core::WriteImageCopy(const void* image, int32_t size, const wchar_t* path) const {
    if (!image || size <= 0) return false;
    t_usrDictV3Core copy;
    return copy.AttachCopy(image, uint64_t(size)) && copy.RebuildToFile(path);
}

void t_usrDictV3Core::OnImageCopyWritten(uint32_t state) {
    // As SaveToFile after a rebuild, for the state the copy held.
    m_inPlaceOk = false;
    m_basePath.clear();
    ClearFixedCapacityState();
    const uint32_t changes = Word(kUsrHdrChanges);
    SetWord(kUsrHdrChanges, changes >= state ? changes - state : changes);
    IncreaseVersion();
}

bool t_usrDictV3Core::GetLiveImage(const void** image, int32_t* size) const {
    const uint8_t* data = nullptr;
    uint64_t bytes = 0;
    if (!image || !size || !GetImageBytes(&data, &bytes) || bytes > uint64_t(INT32_MAX))
        return false;
    *image = data;
    *size = int32_t(bytes);
    return true;
}

uint32_t t_usrDictV3Core::GetReservedSize(const void*, int32_t) {
    return 0;
}

// ---------------------------------------------------------------- saving

bool t_usrDictV3Core::RebuildImage(std::vector<uint8_t>& out) const {
    if (!m_loaded) return false;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!m_store.CollectItems(0, pairs)) return false;
    // What the live words take: rows, and bytes of readings and texts.
    uint64_t live = 0, keys = 0, readingBytes = 0, textBytes = 0;
    const uint8_t* lastKey = nullptr;
    for (const auto& pr : pairs) {
        if (!pr.second || Rd16(pr.second + kOffFreq) == 0) continue;
        ++live;
        const t_lstr* text = m_store.GetDataPtr(1, Rd32(pr.second + kOffText));
        textBytes += text ? LstrGetTotalBytes(text) : 0;
        if (pr.first == lastKey) continue;  // the pairs of a key come together
        lastKey = pr.first;
        ++keys;
        const t_lstr* reading = m_store.GetRowKey(0, pr.first);
        readingBytes += reading ? LstrGetTotalBytes(reading) : 0;
    }
    const auto holds = [&](uint64_t capacity) {
        return live <= capacity && keys <= capacity &&
               readingBytes <= capacity * kUsrDataBytesPerWord &&
               textBytes <= capacity * kUsrDataBytesPerWord;
    };
    uint64_t capacity = ComputeCapacity(uint32_t(live), kUsrMaxCapacity);
    while (!holds(capacity) && capacity < kUsrMaxCapacity)
        capacity = std::min<uint64_t>(capacity * 2, kUsrMaxCapacity);
    // Words beyond the largest dictionary (a file of the previous release
    // held up to 300,000) are kept all the same: the capacity grows to hold
    // them, and the next learning trims as designed.
    if (!holds(capacity)) {
        const uint64_t perWord = kUsrDataBytesPerWord;
        capacity = std::max({live, keys, (readingBytes + perWord - 1) / perWord,
                             (textBytes + perWord - 1) / perWord});
    }
    // Never more than a rebuild holds: Validate trimmed the attached image.
    t_usrDictV3Core fresh;
    if (capacity > kUsrRebuildCapacity || !fresh.CreateEmpty(uint32_t(capacity))) return false;
    fresh.HoldTrims(true);
    uint8_t text[kUsrTextBufBytes];
    auto* word = reinterpret_cast<t_lstr*>(text);
    for (const auto& pr : pairs) {
        t_usrWordAttr a;
        const t_lstr* reading = nullptr;
        if (!ReadPair(pr, &reading, &a) || a.freq == 0) continue;  // deleted rows are dropped here
        if (!IsValidPyIdString(reading) || !GetWordText(a.textId, a.checksum, word) ||
            !IsValidWordString(word, true))
            continue;
        if (fresh.RestoreWord(reading, word, a.freq, a.flags, a.stamp, a.extra) == 0) return false;
    }
    // Ages stay as they were: the clock does not fall back to the newest stamp.
    if (fresh.Word(kUsrHdrClock) < Word(kUsrHdrClock))
        fresh.SetWord(kUsrHdrClock, Word(kUsrHdrClock));
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    if (!fresh.GetImageBytes(&data, &size)) return false;
    out.assign(data, data + size);
    return true;
}

bool t_usrDictV3Core::RebuildToFile(const wchar_t* path) const {
    if (!path || !path[0]) return false;
    const t_pathName target(path);
    std::vector<uint8_t> image;
    return target.IsValid() && RebuildImage(image) &&
           DictWriteFileSafely(target, image.data(), image.size());
}

bool t_usrDictV3Core::CreateEmptyFile(const wchar_t* path, uint32_t capacity) {
    if (!path || !path[0]) return false;
    const t_pathName target(path);
    std::vector<uint8_t> image;
    return target.IsValid() && BuildEmptyImage(capacity, image) &&
           DictWriteFileSafely(target, image.data(), image.size());
}

bool t_usrDictV3Core::SaveToFile(const wchar_t* path, int force) {
    if (!m_loaded || !path || !path[0]) return Refuse("not loaded or no path");
    t_pathName target(path);
    if (!target.IsValid()) return Refuse("bad path");
    if (force == 0 && m_inPlaceOk && m_basePath == path) {
        int can = 0;
        m_store.CanSaveInPlace(&can);
        // The file keeps the cleared change count, as a rebuilt one would.
        const uint32_t changes = Word(kUsrHdrChanges);
        SetWord(kUsrHdrChanges, 0);
        if (can && m_store.SaveDirtyInPlace(path)) {
            ClearFixedCapacityState();
            return true;
        }
        SetWord(kUsrHdrChanges, changes);
    }
    if (!RebuildToFile(path)) return Refuse("the image could not be rebuilt and written");
    // The file now holds a rebuilt image, not the attached one.
    m_inPlaceOk = false;
    m_basePath.clear();
    ClearFixedCapacityState();
    SetWord(kUsrHdrChanges, 0);
    return true;
}

bool t_usrDictV3Core::FixedOn() const {
    t_fixedState state;
    return m_loaded && m_store.GetFixedCapacityState(&state);
}

bool t_usrDictV3Core::IsNearlyFull() const {
    return m_loaded && m_store.IsNearlyFull(0);
}

int t_usrDictV3Core::HandleFull() {
    if (!m_loaded) return 0;
    int32_t maxKey = int32_t(kUsrMaxCapacity), maxAttri = int32_t(kUsrMaxCapacity);
    const int r = m_store.HandleFull(0, &maxKey, &maxAttri);
    return AfterChange(r);
}

bool t_usrDictV3Core::TrimToLimit(int32_t limit) {
    if (!m_loaded) return false;
    int32_t keyUsed = int32_t(kUsrMaxCapacity), attriUsed = int32_t(kUsrMaxCapacity);
    if (!m_store.TrimWithAttri(0, &keyUsed, &attriUsed, limit)) return false;
    SetWord(kUsrHdrKeys, uint32_t(m_store.GetKeyUsedCount(0)));
    SetWord(kUsrHdrWords, uint32_t(m_store.GetAttriUsedCount(0)));
    SetWord(kUsrHdrChanges, 0);
    m_inPlaceOk = false;
    return true;
}

int t_usrDictV3Core::TakeSaveDue() {
    if (!m_loaded) return 0;
    if (!(FixedOn() && m_store.IsFull()) && Word(kUsrHdrChanges) < uint32_t(kUsrChangeLogRecords))
        return 0;
    SetWord(kUsrHdrChanges, 0);
    return 1;
}

void t_usrDictV3Core::ClearFixedCapacityState() {
    // The log restarts; whether the file still matches is the caller's to say.
    if (FixedOn()) m_store.SetFixedCapacityMode(kUsrChangeLogRecords, nullptr, 0);
}

int t_usrDictV3Core::AfterChange(int result) {
    if (result == 4) return 1;
    if (result == 2 || result == 3) {
        SetWord(kUsrHdrKeys, uint32_t(m_store.GetKeyUsedCount(0)));
        SetWord(kUsrHdrWords, uint32_t(m_store.GetAttriUsedCount(0)));
        SetWord(kUsrHdrChanges, 0);
        m_inPlaceOk = false;  // the image no longer matches its file
        m_retired.reset();
    }
    return result;
}

void t_usrDictV3Core::SaveIfFull() {
    if (!FixedOn() || !m_store.IsFull()) return;
    wchar_t path[1024];
    if (GetFilePath(path, 1024)) {
        SaveToFile(path, 1);
    } else if (!m_sourcePath.empty()) {
        const std::wstring source = m_sourcePath;
        SaveToFile(source.c_str(), 1);
    }
    ClearFixedCapacityState();
}

bool n_usrDict::ReadWholeFile(const wchar_t* path, std::vector<uint8_t>& out) {
    out.clear();
    if (!path) return false;
    t_fdFile f;
    if (!f.Open(path, kOpenRead)) return false;
    // Refused before a byte is read: a file above the limit is no user
    // dictionary, and reading it would hold the caller and its memory.
    const int64_t size = f.GetSize();
    if (size <= 0 || uint64_t(size) > kUsrDictFileMaxBytes) return false;
    out.resize(size_t(size));
    if (!f.ReadExact(out.data(), out.size())) {
        out.clear();
        return false;
    }
    return true;
}
