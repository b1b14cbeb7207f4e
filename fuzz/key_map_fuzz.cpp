// Fuzzes the key-to-pinyin map's image: attached in place as the dictionary
// manager hands it over (a writable copy, storage kind 1), every listing
// and lookup, one learned mapping (an add reported done must be found) and
// usage count, and a save into the work directory that must attach again
// and still map the learned key.
// One thread; the work directory is private to the process.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/image_fuzz.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/storage/table_builder.h"

using namespace n_tableFormat;

namespace {

// The map's layout with room for a few keys, so that seeds stay small.
bool BuildSmallImage(t_fuzzBytes& out) {
    t_keyDesc key;
    key.keyType = 1;
    key.fieldTypes = {0, 6, 6, 7, 2};
    key.attriIndex = 0;
    key.keyDataTable = 0;
    key.valueDataTable = kNone;
    key.capacity = 32;
    t_attriDesc attri;
    attri.fieldCount = 4;
    attri.ownerKey = 0;
    attri.dataTable = kNone;
    attri.capacity = 32;
    std::vector<uint8_t> extra(t_keyPyMap::kExtraSize, 0);
    for (int i = 0; i < t_keyPyMap::kCounterCount; ++i)
        Wr32(extra.data() + 4 * i, t_keyPyMap::kCounterStart);
    t_tableFileBuilder builder({key}, {attri}, {256}, t_keyPyMap::kFormatVersion,
                               t_keyPyMap::kFormatVersion, {}, {}, extra.data(),
                               uint32_t(extra.size()));
    const int32_t total = builder.IsValid() ? builder.GetTotalSize(nullptr) : -1;
    if (total <= 0) return false;
    out.assign(static_cast<size_t>(total), 0);
    return builder.BuildToBuffer(out.data(), total);
}

void Fill(t_keyPyMap& map) {
    map.AddMapping(L"zh", 400, 0x02, false);
    map.AddMapping(L"zhong", 410, 0, false);
    map.AddMapping(L"zong", 410, 0x01, true);
    map.AddEntry(L"a", 0, 0, 7, kKeyStateNew);
    map.DisableEntry(L"zong", 410);
    int32_t k = map.FindKey(L"zhong", nullptr);
    map.IncreaseUsage(k, 410);
}

void MakeImages(std::vector<t_fuzzBase>& out) {
    t_fuzzBytes image;
    if (BuildSmallImage(image)) {
        t_keyPyMap map;
        if (map.Attach(image.data(), int64_t(image.size()))) {
            Fill(map);
            out.push_back({0, "keymap-small",
                           t_fuzzBytes(map.GetImage(), map.GetImage() + map.GetTotalSize())});
        }
    }
    if (t_keyPyMap::BuildEmptyImage(image)) {
        t_keyPyMap map;
        if (map.Attach(image.data(), int64_t(image.size()))) {
            Fill(map);
            out.push_back({0, "keymap-default",
                           t_fuzzBytes(map.GetImage(), map.GetImage() + map.GetTotalSize())});
        }
    }
}

const t_fuzzTarget& Target() {
    static const t_fuzzTarget target = {1, &MakeImages, {}};
    return target;
}

std::wstring Key(t_fuzzPicker& pick) {
    std::wstring key;
    for (uint32_t n = 1 + pick.Next(6); n > 0; --n) key.push_back(wchar_t('a' + pick.Next(26)));
    return key;
}

bool Maps(const t_keyPyMap& map, const std::wstring& key, uint16_t id) {
    const int32_t k = map.FindKey(key.c_str(), nullptr);
    uint16_t ids[t_keyPyMap::kMaxListed];
    const int n = map.GetAllPinyinIds(k, ids, nullptr, nullptr, t_keyPyMap::kMaxListed);
    for (int i = 0; i < n; ++i)
        if (ids[i] == id) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzImageInit(Target());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static t_fuzzImage in;  // keeps its buffer: bases are megabytes
    if (!FuzzDecodeImage(data, size, Target(), in) || in.bytes.empty() ||
        in.bytes.size() > (64u << 20))
        return 0;
    t_fuzzPicker pick(data, size);
    std::unique_ptr<uint8_t[]> block = FuzzHeapImage(in.bytes);
    t_keyPyMap map;
    if (!map.Load(block.get(), int32_t(in.bytes.size()))) return 0;
    map.SetSmartFuzzyMode(pick.Next(2) == 0);
    map.GetExtraFlagA();
    map.GetExtraFlagB();
    for (int id : {0, 100, 412, 449, 450}) map.GetCounter(id);

    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_keyMapItem* items = nullptr;
    int count = 0;
    const uint8_t* extra = nullptr;
    if (map.GetAllItems(arena, &items, &count, &extra) && count > 0) {
        const t_keyMapItem& item = items[pick.Next(uint32_t(count))];
        bool longer = false;
        const int32_t k = map.FindKey(item.key, &longer);
        uint16_t ids[16], flags[16];
        float weights[16];
        map.GetPinyinIds(k, ids, weights, flags, 16);
        map.IsKeyMappedToPy(item.key, item.id);
        map.IncreaseUsage(k, item.id);
        map.AddUsage(item.key, item.id, int32_t(pick.Next(5)) - 2);
        if (pick.Next(4) == 0) map.DisableEntry(item.key, item.id);
    }
    // Now and then enough keys to fill the small seed, so that trimming runs
    // on the damaged images too.
    for (uint32_t i = pick.Next(4) == 0 ? pick.Next(40) : 0; i > 0; --i)
        map.AddMapping(Key(pick).c_str(), uint16_t(pick.Next(439)), uint16_t(pick.Next(0x40)),
                       false);
    const std::wstring key = Key(pick);
    const uint16_t id = uint16_t(pick.Next(439));
    int added = 0;
    switch (pick.Next(3)) {
        case 0:
            added = map.AddMapping(key.c_str(), id, uint16_t(pick.Next(0x40)), pick.Next(2) == 0);
            break;
        case 1:
            added = map.AddEntry(key.c_str(), id, uint16_t(pick.Next(0x40)),
                                 int32_t(pick.Next(100)), uint8_t(pick.Next(4)));
            break;
        default:
            added = map.MergeEntry(key.c_str(), id, uint16_t(pick.Next(0x40)),
                                   int32_t(pick.Next(100)), uint8_t(pick.Next(4)));
            break;
    }
    // An add reported done is there: the key is found (a disabled mapping
    // is not listed, so only the key is asked for).
    FUZZ_CHECK(added == 0 || map.FindKey(key.c_str(), nullptr) >= 0);
    map.IncreaseUsage(map.FindKey(key.c_str(), nullptr), id);
    const bool before = Maps(map, key, id);

    const std::wstring path = FuzzWidePath("keymap.bin");
    if (map.SaveFile(path.c_str())) {
        t_fuzzBytes again;
        FUZZ_CHECK(n_fuzzImage::ReadAll(FuzzPath("keymap.bin"), again));
        t_keyPyMap reloaded;
        FUZZ_CHECK(reloaded.Attach(again.data(), int64_t(again.size())));
        FUZZ_CHECK(!before || Maps(reloaded, key, id));
    }
    FuzzClearWorkDir();
    return 0;
}
