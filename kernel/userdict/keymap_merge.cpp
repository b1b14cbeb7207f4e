// Key-map rebuild and merge. The result always reaches its target through
// t_keyPyMap::SaveFile (a synced work file renamed over it), so a failure at
// any step leaves the user's map file as it was.
#include "kernel/userdict/keymap_merge.h"

#include <cstring>
#include <new>
#include <vector>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/text_file.h"
#include "kernel/storage/table_format.h"

using namespace n_tableFormat;

namespace {

// Map files are small (about 1 MB); anything far larger is not one.
constexpr int64_t kMaxMapFileBytes = int64_t(64) << 20;
// Syllable counters listed by the text dump.
constexpr int kDumpedCounters = 413;

t_dictManager& Manager() {
    return t_singleton<t_dictManager>::Get();
}

// The rebuild relies on the syllable inventory being loaded.
bool PyDictLoaded() {
    return Manager().LoadDict(kPyDictName);
}

// Reads the whole file into the arena. False for a missing, empty,
// unreadable or oversized file.
bool ReadFileIntoArena(t_scopeHeap& arena, const wchar_t* path, uint8_t** data, uint32_t* size) {
    *data = nullptr;
    *size = 0;
    if (!path || !path[0]) return false;
    t_fdFile file;
    if (!file.Open(path, kOpenRead)) return false;
    const int64_t bytes = file.GetSize();
    if (bytes <= 0 || bytes > kMaxMapFileBytes) return false;
    auto* buffer = static_cast<uint8_t*>(arena.Alloc(size_t(bytes)));
    if (!buffer || !file.ReadExact(buffer, size_t(bytes))) return false;
    *data = buffer;
    *size = uint32_t(bytes);
    return true;
}

// A fresh map for the configured settings, in the arena; notes (may be
// null) gains what the build had to say.
bool BuildCurrentMap(t_scopeHeap& arena, uint8_t** image, uint32_t* size, std::wstring* notes) {
    t_configuration& store = t_singleton<t_configurationImpl>::Get();
    const wchar_t* scheme = store.GetString(n_config::ShuangPinName);
    const t_schemeLoadSettings settings{GetConfiguredSysDir(), GetConfiguredUserDir(),
                                        scheme ? scheme : L""};
    return t_keyPyMapBuilder::Build(arena, image, size, ReadKeyMapOptions(store), settings, notes);
}

// A work file named path + suffix, removed when it goes out of scope.
bool MakeWorkPath(t_tempPath& work, const wchar_t* path, const wchar_t* suffix) {
    return path && path[0] && work.AssignString(path) && work.Append(suffix) && work.IsValid();
}

// Attaches a temporary map to a copy of the file at path in the arena and
// lists its mappings and extra block.
bool ReadMapFile(t_scopeHeap& arena, const wchar_t* path, t_keyPyMap& map, t_keyMapItem** items,
                 int* count, const uint8_t** extra) {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!ReadFileIntoArena(arena, path, &data, &size)) return false;
    if (!map.Attach(data, size)) return false;
    return map.GetAllItems(arena, items, count, extra) && (!extra || *extra);
}

}  // namespace

t_keymapMergeContext* InitKeymapMergeContext() {
    return new (std::nothrow) t_keymapMergeContext;
}

void FreeKeymapMergeContext(t_keymapMergeContext* context) {
    if (!context) return;
    context->arena.FreeAll();
    delete context;
}

int MergeKeymapDict(t_keymapMergeContext* context, const wchar_t* path, std::wstring* notes) {
    if (!context || !path || !path[0]) return 0;
    if (!PyDictLoaded()) return 0;

    uint8_t* image = nullptr;
    uint32_t size = 0;
    if (!BuildCurrentMap(context->arena, &image, &size, notes)) return 0;
    t_tempPath work;
    if (!MakeWorkPath(work, path, L".temp")) return 0;
    if (!DictWriteFileSafely(work, image, size)) return 0;
    if (!Manager().AttachFile(kKeymapMergerName, &context->map, work.GetFull())) return 0;
    context->attached = 1;

    // The old map: its learned counts and disabled mappings go into the new build.
    t_keyPyMap old;
    t_keyMapItem* items = nullptr;
    int count = 0;
    const uint8_t* extra = nullptr;
    if (!ReadMapFile(context->arena, path, old, &items, &count, &extra)) return 0;
    for (int i = 0; i < count; ++i) {
        const t_keyMapItem& it = items[i];
        if (!context->map.MergeEntry(it.key, it.id, it.flags, it.count, it.state)) return 0;
    }
    // MergeEntry moved the counters by the count differences; the old
    // counters are the ones the user built up.
    if (!context->map.SetCounters(extra)) return 0;
    return context->map.SaveFile(path) ? 1 : 0;
}

bool LoadOrMergeKeymapFile(t_keymapMergeContext* context, const wchar_t* path, bool add) {
    if (!context || !path || !path[0]) return false;
    if (!context->attached) {
        if (!Manager().AttachFile(kKeymapMergerName, &context->map, path)) return false;
        context->attached = 1;
        return true;
    }
    t_keyPyMap source;
    t_keyMapItem* items = nullptr;
    int count = 0;
    if (!ReadMapFile(context->arena, path, source, &items, &count, nullptr)) return false;
    for (int i = 0; i < count; ++i) {
        const t_keyMapItem& it = items[i];
        const int r = add ? context->map.AddEntry(it.key, it.id, it.flags, it.count, it.state)
                          : context->map.MergeEntry(it.key, it.id, it.flags, it.count, it.state);
        if (!r) return false;
    }
    return true;
}

bool ConvertKeymapFile(t_keymapMergeContext* context, const wchar_t* source,
                       const wchar_t* target) {
    if (!context || !source || !source[0] || !target || !target[0]) return false;
    // The clean map starts in memory: the target is written once, at the end.
    std::vector<uint8_t> empty;
    if (!t_keyPyMap::BuildEmptyImage(empty)) return false;
    if (!Manager().AttachBuffer(kKeymapMergerName, &context->map, empty.data(),
                                int32_t(empty.size())))
        return false;
    context->attached = 1;

    t_keyPyMap from;
    t_keyMapItem* items = nullptr;
    int count = 0;
    const uint8_t* extra = nullptr;
    if (!ReadMapFile(context->arena, source, from, &items, &count, &extra)) return false;
    for (int i = 0; i < count; ++i) {
        const t_keyMapItem& it = items[i];
        if (it.state == kKeyStateDisabled) continue;
        if (!context->map.AddEntry(it.key, it.id, it.flags, it.count, kKeyStateNormal))
            return false;
    }
    return context->map.SetCounters(extra) && context->map.SaveFile(target);
}

int SaveKeymapMergeContext(t_keymapMergeContext* context, const wchar_t* path) {
    if (!context) return 0;
    if (!context->attached) return 1;
    return context->map.SaveFile(path) ? 1 : 0;
}

int MergeKeymapSources(t_keymapMergeContext* context, const wchar_t* target, const wchar_t* first,
                       const wchar_t* second, const wchar_t* recordFile) {
    if (!context || !target || !target[0]) return kKeymapSaveFailed;
    if (first && first[0] && !LoadOrMergeKeymapFile(context, first, true))
        return kKeymapFirstFailed;
    if (second && second[0] && !LoadOrMergeKeymapFile(context, second, true))
        return kKeymapSecondFailed;
    if (recordFile && recordFile[0]) {
        t_tempPath converted;
        if (!MakeWorkPath(converted, recordFile, L".temp")) return kKeymapRecordFailed;
        t_tempKeymapConverter converter(&context->arena);
        if (!ConvertKeymapRecordFile(converter, recordFile, converted.GetFull()) ||
            !LoadOrMergeKeymapFile(context, converted.GetFull(), true))
            return kKeymapRecordFailed;
    }
    return SaveKeymapMergeContext(context, target) ? kKeymapSourcesOk : kKeymapSaveFailed;
}

namespace {

// One key record's key as a terminated wide text; false for a length that
// is odd, zero or larger than the record's key field holds.
bool RecordKey(const uint8_t* record, wchar_t* key) {
    const int16_t bytes = RdI16(record);
    if (bytes <= 0 || (bytes & 1) || uint32_t(bytes) > kKeyRecordKeyBytes - 2) return false;
    const int units = bytes / 2;
    for (int i = 0; i < units; ++i) {
        const uint16_t u = Rd16(record + 2 + 2 * i);
        if (u == 0) return false;
        key[i] = wchar_t(u);
    }
    key[units] = L'\0';
    return true;
}

// The syllable id of an entry's text; -1 for a text that is not terminated
// inside its field or is no syllable.
int EntrySyllable(const uint8_t* entry) {
    wchar_t text[kKeyEntryTextBytes / 2];
    for (uint32_t i = 0; i < kKeyEntryTextBytes / 2; ++i) {
        const uint16_t u = Rd16(entry + 2 * i);
        text[i] = wchar_t(u);
        if (u == 0) {
            const int id = SyllableTableFind(text);
            return id >= 0 && id < kSyllableCount ? id : -1;
        }
    }
    return -1;
}

// Adds the counts of a record file to the map. False for a file whose
// record count, or a record's entry range, does not fit its size.
bool AddRecordUsage(t_keyPyMap& map, const uint8_t* data, uint64_t size) {
    if (size < kKeyRecordHeaderBytes) return false;
    const uint64_t records = Rd32(data + 4);
    const uint64_t entriesStart = kKeyRecordHeaderBytes + records * kKeyRecordBytes;
    if (entriesStart > size) return false;
    const uint64_t entryCount = (size - entriesStart) / kKeyEntryBytes;
    for (uint64_t r = 0; r < records; ++r) {
        const uint8_t* record = data + kKeyRecordHeaderBytes + r * kKeyRecordBytes;
        wchar_t key[kKeyRecordKeyBytes / 2];
        if (!RecordKey(record, key)) return false;
        const int32_t n = RdI32(record + kKeyRecordKeyBytes);
        const int32_t firstEntry = RdI32(record + kKeyRecordKeyBytes + 4);
        if (n < 0 || firstEntry < 0 || uint64_t(firstEntry) + uint64_t(n) > entryCount)
            return false;
        for (int32_t e = 0; e < n; ++e) {
            const uint8_t* entry =
                data + entriesStart + (uint64_t(firstEntry) + e) * kKeyEntryBytes;
            const int id = EntrySyllable(entry);
            if (id < 0) continue;
            const uint32_t count = Rd32(entry + kKeyEntryTextBytes);
            // A key the built map lacks simply takes nothing.
            map.AddUsage(key, id, count > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(count));
        }
    }
    return true;
}

}  // namespace

bool ConvertKeymapRecordFile(t_tempKeymapConverter& converter, const wchar_t* recordFile,
                             const wchar_t* target) {
    t_scopeHeap* arena = converter.Arena();
    if (!arena || !recordFile || !recordFile[0] || !target || !target[0]) return false;
    if (!PyDictLoaded()) return false;

    uint8_t* image = nullptr;
    uint32_t size = 0;
    if (!BuildCurrentMap(*arena, &image, &size, nullptr)) return false;
    t_tempPath work;
    if (!MakeWorkPath(work, target, L".temp")) return false;
    if (!DictWriteFileSafely(work, image, size)) return false;
    t_keyPyMap map;
    if (!Manager().AttachFile(kKeymapConvertName, &map, work.GetFull())) return false;

    uint8_t* records = nullptr;
    uint32_t recordBytes = 0;
    if (!ReadFileIntoArena(*arena, recordFile, &records, &recordBytes)) return false;
    if (!AddRecordUsage(map, records, recordBytes)) return false;
    if (!map.SaveFile(work.GetFull())) return false;

    t_keymapMergeContext* context = InitKeymapMergeContext();
    if (!context) return false;
    const bool ok = ConvertKeymapFile(context, work.GetFull(), target);
    FreeKeymapMergeContext(context);
    return ok;
}

int DumpKeyMapText(t_scopeHeap& arena, const wchar_t* imagePath, const wchar_t* textPath) {
    if (!imagePath || !textPath || !textPath[0]) return 0;
    t_keyPyMap map;
    t_keyMapItem* items = nullptr;
    int count = 0;
    const uint8_t* extra = nullptr;
    if (!ReadMapFile(arena, imagePath, map, &items, &count, &extra)) return 0;

    t_textFile text;
    if (!text.Open(textPath, kOpenWrite, kTextUtf16Le)) return 0;
    bool ok = true;
    for (int id = 0; id < kDumpedCounters; ++id) {
        ok = text.WriteFormat(L"%d:%d,", id, int(Rd32(extra + 4 * id))) && ok;
        if ((id + 1) % 5 == 0) ok = text.WriteLine(L"\n") && ok;
    }
    ok = text.WriteLine(L"\n\n") && ok;
    for (int i = 0; i < count; ++i) {
        const t_keyMapItem& it = items[i];
        const uint32_t counter = it.id < t_keyPyMap::kCounterCount ? Rd32(extra + 4 * it.id) : 0;
        if (uint64_t(uint32_t(it.count)) + 100 > counter) ok = text.WriteLine(L"err:") && ok;
        ok = text.WriteLine(it.key) && ok;
        ok = text.WriteFormat(L",%d,%d,%d(%d)\r\n", int(int16_t(it.id)), int(it.flags),
                              int(it.count), int(it.state)) &&
             ok;
    }
    return text.Close() && ok ? 1 : 0;
}
