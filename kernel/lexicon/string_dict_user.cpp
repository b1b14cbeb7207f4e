// The editable English and web-address dictionaries.
#include "kernel/lexicon/string_dict_user.h"

#include <climits>
#include <cstring>

#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/storage/table_builder.h"
#include "kernel/storage/table_format.h"

using n_tableFormat::kNone;
using n_tableFormat::Rd32;

namespace {

constexpr uint32_t kSecondsPerDay = 86400;

int32_t TimeOf(const uint8_t* row) {
    return int32_t(Rd32(row + kStrRowTimeOffset));
}
int32_t CountOf(const uint8_t* row) {
    return int32_t(Rd32(row + kStrRowCountOffset));
}

// Rows that a trim drops first: the least used, then the oldest.
bool RowLess(const uint8_t* a, const uint8_t* b) {
    if (CountOf(a) != CountOf(b)) return CountOf(a) < CountOf(b);
    return TimeOf(a) < TimeOf(b);
}

int RowRemove(uint8_t* row, uint8_t*, void*, int) {
    std::memset(row + kStrRowTimeOffset, 0, 8);
    return 1;
}

int RowState(const uint8_t* row, void*) {
    return (TimeOf(row) == 0 && CountOf(row) == 0) ? kRowRemoved : kRowLive;
}

// The editable item of a string: i16 byte count, bytes, time, count.
bool MakeItem(const t_lstr* s, uint32_t time, uint32_t count, std::vector<uint8_t>& item) {
    const uint32_t bytes = LstrGetByteLength(s);
    if (bytes == 0 || bytes > 0x7FFF) return false;
    item.resize(2 + bytes + 8);
    std::memcpy(item.data(), s, 2 + bytes);
    std::memcpy(item.data() + 2 + bytes, &time, 4);
    std::memcpy(item.data() + 6 + bytes, &count, 4);
    return true;
}

t_keyDesc StringKeyDesc(uint32_t rows) {
    t_keyDesc d;
    d.keyType = 1;
    d.fieldTypes = {0, 7, 7};
    d.attriIndex = kNone;
    d.keyDataTable = 0;
    d.valueDataTable = kNone;
    d.capacity = rows;
    return d;
}

}  // namespace

t_strUsrDict::t_strUsrDict()
    : m_table(&t_strUsrDict::OnGrown, this, &RowLess, &RowRemove, nullptr, &RowState, nullptr, 0,
              nullptr, true) {}

t_strUsrDict::~t_strUsrDict() = default;

bool t_strUsrDict::ReceiveImage(const void*, int32_t) {
    return true;
}

bool t_strUsrDict::BuildDefaultImage(std::vector<uint8_t>& out) {
    t_tableFileBuilder builder({StringKeyDesc(kDefaultRows)}, {}, {kDefaultTextBytes},
                               kStrDictVersion, kStrDictVersion, {}, {}, nullptr, 0);
    if (!builder.IsValid()) return false;
    const int32_t size = builder.GetTotalSize(nullptr);
    if (size <= 0) return false;
    out.assign(size_t(size), 0);
    return builder.BuildToBuffer(out.data(), size);
}

bool t_strUsrDict::BuildImageToFile(const wchar_t* path, uint32_t n) {
    if (!path || n == 0 || n > 0x7FFFFFFFu / 10) return false;
    t_tableFileBuilder builder({StringKeyDesc(n)}, {}, {10 * n}, kStrDictVersion, kStrDictVersion,
                               {}, {&EngCompare}, nullptr, 0);
    return builder.IsValid() && builder.BuildToFile(path);
}

bool t_strUsrDict::AttachUserImage(void* data, int32_t size) {
    m_table.Detach();
    if (!data || size < 1) return false;
    return m_table.AttachWithExtra(data, kStrDictVersion, {}, {&EngCompare}, size);
}

uint8_t* t_strUsrDict::OnGrown(const t_grownImage& img, void* context) {
    auto* self = static_cast<t_strUsrDict*>(context);
    // The table may still read the previous growth buffer during the copy.
    self->m_retired.swap(self->m_grown);
    self->m_grown.assign(img.totalSize, 0);
    return self->m_grown.data();
}

bool t_strUsrDict::GetOwnImage(const void** image, int32_t* size) const {
    if (!image || !size || !OnOwnBuffer()) return false;
    const int64_t total = m_table.GetTotalSize();
    if (total <= 0 || total > int64_t(m_grown.size()) || total > INT32_MAX) return false;
    *image = m_grown.data();
    *size = int32_t(total);
    return true;
}

bool t_strUsrDict::PassOnRebuilt() {
    m_retired.clear();
    m_retired.shrink_to_fit();
    const void* image = nullptr;
    int32_t size = 0;
    if (OnOwnBuffer() && (!GetOwnImage(&image, &size) || !ReceiveImage(image, size))) return false;
    // Saved and re-attached from the dictionary's own block (or attached to
    // another image meanwhile): drop the copy.
    if (!OnOwnBuffer()) {
        m_grown.clear();
        m_grown.shrink_to_fit();
    }
    return true;
}

int t_strUsrDict::AddString(const t_lstr* s, uint32_t time, uint32_t count, t_addMode mode) {
    if (!m_table.IsAttached()) return 0;
    PassOnRebuilt();
    std::vector<uint8_t> item;
    if (!MakeItem(s, time, count, item)) return 0;
    t_editLocation loc;
    if (!m_table.Locate(item.data(), uint32_t(item.size()), 0, &loc)) return 0;
    if (loc.keyFound) {
        const uint8_t* row = loc.keyRow.ptr;
        uint32_t oldTime = Rd32(row + kStrRowTimeOffset), oldCount = Rd32(row + kStrRowCountOffset);
        uint32_t newTime = time, newCount = count;
        if (mode == kAddUse) {
            const bool dayPassed = int64_t(time) - int64_t(oldTime) >= int64_t(kSecondsPerDay);
            newCount = (oldCount == 1 && dayPassed) ? 1 : oldCount + 1;
        } else {
            newTime = oldTime > time ? oldTime : time;
            newCount = oldCount > count ? oldCount : count;
        }
        return m_table.SetFieldAt(&newTime, 4, loc.keyRow, kStrRowTimeOffset, false) &&
               m_table.SetFieldAt(&newCount, 4, loc.keyRow, kStrRowCountOffset, false);
    }
    int32_t maxRows = kMaxKeyRows;
    const int added = m_table.AddItem(item.data(), uint32_t(item.size()), 0, &maxRows, nullptr);
    if (added == 2 || added == 3) PassOnRebuilt();
    return added != 0 ? 1 : 0;
}

int t_strUsrDict::DeleteString(const t_lstr* s) {
    if (!m_table.IsAttached()) return 0;
    PassOnRebuilt();
    // The string goes through a buffer of fixed size; longer ones are refused
    // rather than cut, so a different word is never deleted.
    const uint32_t units = LstrGetLength(s);
    if (units == 0 || units > kMaxDeleteUnits) return 0;
    uint8_t buffer[2 + 2 * kMaxDeleteUnits];
    std::memcpy(buffer, s, 2 + 2 * size_t(units));
    const uint32_t zero = 0;
    std::vector<uint8_t> item(buffer, buffer + 2 + 2 * units);
    item.insert(item.end(), 8, 0);
    t_editLocation loc;
    if (!m_table.Locate(item.data(), uint32_t(item.size()), 0, &loc) || !loc.keyFound) return 0;
    return m_table.SetFieldAt(&zero, 4, loc.keyRow, kStrRowTimeOffset, false) &&
           m_table.SetFieldAt(&zero, 4, loc.keyRow, kStrRowCountOffset, false);
}

int t_strUsrDict::ListAllStrings(t_scopeHeap& heap, t_strUsrEntry*** out, uint32_t* count) const {
    if (!out || !count) return 0;
    *count = 0;
    std::vector<const uint8_t*> rows;
    if (!m_table.CollectKeyRows(0, rows)) return 0;
    auto** arr =
        static_cast<t_strUsrEntry**>(ArenaAllocAligned(heap, rows.size() * sizeof(t_strUsrEntry*)));
    if (!arr) return 0;
    uint32_t n = 0;
    for (const uint8_t* row : rows) {
        auto* e = static_cast<t_strUsrEntry*>(ArenaAllocAligned(heap, sizeof(t_strUsrEntry)));
        if (!e) return 0;
        e->stored = m_table.GetRowKey(0, row);
        e->time = Rd32(row + kStrRowTimeOffset);
        e->count = Rd32(row + kStrRowCountOffset);
        arr[n++] = e;
    }
    *out = arr;
    *count = n;
    return 1;
}

bool t_strUsrDict::SaveTo(const wchar_t* path) const {
    return path && m_table.IsAttached() && m_table.SaveToFile(path);
}

// ---------------------------------------------------------------- held by the manager

bool t_strUsrStoredDict::ReceiveImage(const void* data, int32_t size) {
    return SaveAndNotify(data, size);
}

bool t_strUsrStoredDict::OnFileWritten(const wchar_t*) {
    return PassOnRebuilt();
}

bool t_strUsrStoredDict::GetLiveImage(const void** image, int32_t* size) const {
    return GetOwnImage(image, size);
}

bool t_strUsrStoredDict::Save(const void*, int32_t) {
    std::vector<uint8_t> image;
    if (!BuildDefaultImage(image)) return false;
    CommitImage(image.data(), int32_t(image.size()));
    return true;
}

bool t_strUsrStoredDict::Load(void* data, int32_t size) {
    const bool ok = AttachUserImage(data, size);
    SetReady(ok);
    return ok;
}

int t_strUsrStoredDict::Search(t_scopeHeap& heap, const t_lstr* input, int minLength,
                               t_strResult*** out, uint32_t* fullCount, int32_t* total) {
    return IsReady() ? StrTableSearch(m_table.Reader(), true, heap, input, minLength, out,
                                      fullCount, total)
                     : 0;
}

int t_strUsrStoredDict::ListAll(t_scopeHeap& heap, t_strUsrEntry*** out, uint32_t* count) {
    return IsReady() ? ListAllStrings(heap, out, count) : 0;
}

bool t_strUsrStoredDict::SaveToFile(const wchar_t* path) {
    return IsReady() && SaveTo(path);
}

int t_strUsrStoredDict::UseString(const t_lstr* s, uint32_t now) {
    const int r = IsReady() ? AddString(s, now, 1, kAddUse) : 0;
    if (r) RecordChange(t_changeRecord(kChangeUse).PutLstr(s).Put32(now));
    return r;
}

int t_strUsrStoredDict::MergeString(const t_lstr* s, uint32_t time, uint32_t count) {
    const int r = IsReady() ? AddString(s, time, count, kAddMerge) : 0;
    if (r) RecordChange(t_changeRecord(kChangeMerge).PutLstr(s).Put32(time).Put32(count));
    return r;
}

int t_strUsrStoredDict::RemoveString(const t_lstr* s) {
    const int r = IsReady() ? DeleteString(s) : 0;
    if (r) RecordChange(t_changeRecord(kChangeDelete).PutLstr(s));
    return r;
}

bool t_strUsrStoredDict::ApplyChange(t_changeReader& change) {
    const t_lstr* s = nullptr;
    uint32_t time = 0, count = 0;
    if (!change.GetLstr(&s)) return false;
    switch (change.Op()) {
        case kChangeUse:
            return change.Get32(&time) && UseString(s, time) != 0;
        case kChangeMerge:
            return change.Get32(&time) && change.Get32(&count) && MergeString(s, time, count) != 0;
        case kChangeDelete:
            return RemoveString(s) != 0;
        default:
            return false;
    }
}

// ---------------------------------------------------------------- English words

int t_engUsrDict::AddWord(const t_lstr* s, uint32_t now) {
    return UseString(s, now);
}

int t_engUsrDict::MergeWord(const t_lstr* s, uint32_t time, uint32_t count) {
    return MergeString(s, time, count);
}

int t_engUsrDict::DeleteWord(const t_lstr* s) {
    return RemoveString(s);
}

int t_engUsrDict::GetWordFreq(const t_lstr* s, uint32_t* count) {
    if (!IsReady() || !count) return 0;
    const uint8_t* row = StrTableFindExact(m_table.Reader(), s);
    if (!row) return 0;
    *count = Rd32(row + kStrRowCountOffset);
    return 1;
}

int t_engUsrDict::GetPrefixWords(t_scopeHeap& heap, const t_lstr* key, t_strResult*** out,
                                 int32_t* count) {
    return IsReady() ? StrTablePrefixWords(m_table.Reader(), true, heap, key, out, count) : 0;
}

// ---------------------------------------------------------------- web addresses

int t_urlUsrDict::AddUrl(const t_lstr* s, uint32_t now) {
    return UseString(s, now);
}

int t_urlUsrDict::MergeUrl(const t_lstr* s, uint32_t time, uint32_t count) {
    return MergeString(s, time, count);
}

int t_urlUsrDict::DeleteUrl(const t_lstr* s) {
    return RemoveString(s);
}
