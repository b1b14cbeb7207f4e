// Rebuilding the key-to-pinyin map for new settings: learned counts,
// counters and disabled mappings survive; record files are bounds-checked;
// nothing is written when the pinyin dictionary is missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/singleton.h"
#include "kernel/storage/table_format.h"
#include "kernel/userdict/keymap_merge.h"
#include "tests/kernel/userdict/usr_support.h"
#include "tests/kernel/userdict/words_env_support.h"

namespace fs = std::filesystem;
using namespace n_tableFormat;

namespace {

struct Mapping {
    uint16_t flags;
    int32_t count;
    uint8_t state;
};

// A map file attached for inspection.
class MapFile {
public:
    explicit MapFile(const std::string& path) : bytes_(ReadFileBytes(path)) {
        ok_ = !bytes_.empty() && map_.Attach(bytes_.data(), int64_t(bytes_.size()));
    }
    bool ok() const { return ok_; }
    t_keyPyMap& map() { return map_; }
    std::optional<Mapping> Find(const wchar_t* key, const wchar_t* syllable) {
        t_scopeHeap arena;
        t_keyMapItem* items = nullptr;
        int n = 0;
        if (!map_.GetAllItems(arena, &items, &n, nullptr)) return std::nullopt;
        const int id = SyllableTableFind(syllable);
        for (int i = 0; i < n; ++i)
            if (std::wstring(items[i].key) == key && items[i].id == id)
                return Mapping{items[i].flags, items[i].count, items[i].state};
        return std::nullopt;
    }
    std::vector<uint8_t> Counters() {
        t_scopeHeap arena;
        t_keyMapItem* items = nullptr;
        int n = 0;
        const uint8_t* extra = nullptr;
        if (!map_.GetAllItems(arena, &items, &n, &extra) || !extra) return {};
        return std::vector<uint8_t>(extra, extra + 4 * t_keyPyMap::kCounterCount);
    }

private:
    std::vector<uint8_t> bytes_;
    t_keyPyMap map_;
    bool ok_ = false;
};

class KeymapMergeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureKernelEnv());
        fs::create_directories(dir_.File("sys"));
        fs::create_directories(dir_.File("user"));
        SetConfiguredSysDir(dir_.WFile("sys").c_str());
        SetConfiguredUserDir(dir_.WFile("user").c_str());
        PyDictStandIn().SetReady(true);
        map_ = dir_.File("user/qzim_keymap.bin");
        wmap_ = dir_.WFile("user/qzim_keymap.bin");
    }
    void TearDown() override {
        Store().SetByte(n_config::ZCSForZhChSh, 0);
        PyDictStandIn().SetReady(true);
    }
    static t_configuration& Store() { return t_singleton<t_configurationImpl>::Get(); }

    void Fuzzy(const std::string& rules) {
        std::ofstream(dir_.File("sys/Fuzzy.dat"), std::ios::binary) << "[Metadata]\nversion=1\n"
                                                                    << rules;
    }
    int Merge(const std::wstring& path) {
        t_keymapMergeContext* context = InitKeymapMergeContext();
        const int r = MergeKeymapDict(context, path.c_str());
        FreeKeymapMergeContext(context);
        return r;
    }
    // A map file for the current settings (merged from an empty map).
    void MakeMap(const std::wstring& path) {
        ASSERT_TRUE(t_keyPyMap::WriteImage(path.c_str()));
        ASSERT_EQ(1, Merge(path));
    }
    // Adds usage to a mapping of the map file and saves it.
    void Learn(const std::string& path, const wchar_t* key, const wchar_t* syllable,
               int32_t delta) {
        MapFile file(path);
        ASSERT_TRUE(file.ok());
        ASSERT_TRUE(file.map().AddUsage(key, SyllableTableFind(syllable), delta));
        const std::wstring wpath(path.begin(), path.end());
        ASSERT_TRUE(file.map().SaveFile(wpath.c_str()));
    }

    TempDir dir_;
    std::string map_;
    std::wstring wmap_;
};

// Record-file writer: keys with their (syllable, count) entries.
struct RecordKey {
    std::u16string key;
    std::vector<std::pair<std::u16string, uint32_t>> entries;
};

std::vector<uint8_t> BuildRecordFile(const std::vector<RecordKey>& keys) {
    std::vector<uint8_t> b(kKeyRecordHeaderBytes, 0);
    PutU32(b, 4, uint32_t(keys.size()));
    int32_t next = 0;
    for (const RecordKey& k : keys) {
        std::vector<uint8_t> rec(kKeyRecordBytes, 0);
        PutU16(rec, 0, uint16_t(2 * k.key.size()));
        for (size_t i = 0; i < k.key.size(); ++i) PutU16(rec, 2 + 2 * i, k.key[i]);
        PutU32(rec, 16, uint32_t(k.entries.size()));
        PutU32(rec, 20, uint32_t(next));
        next += int32_t(k.entries.size());
        b.insert(b.end(), rec.begin(), rec.end());
    }
    for (const RecordKey& k : keys) {
        for (const auto& [text, count] : k.entries) {
            std::vector<uint8_t> e(kKeyEntryBytes, 0);
            for (size_t i = 0; i < text.size() && i < 8; ++i) PutU16(e, 2 * i, text[i]);
            PutU32(e, 16, count);
            b.insert(b.end(), e.begin(), e.end());
        }
    }
    return b;
}

}  // namespace

// ---------------------------------------------------------------------------
// Rebuild for new settings.

TEST_F(KeymapMergeTest, RebuiltMapKeepsLearnedCountsAndSyllableCounters) {
    MakeMap(wmap_);
    Learn(map_, L"zh", L"zhang", 5);
    std::vector<uint8_t> counters;
    {
        // Counters the user built up through keys that are gone by now.
        MapFile file(map_);
        counters = file.Counters();
        ASSERT_FALSE(counters.empty());
        PutU32(counters, 4 * SyllableTableFind(L"zhang"), 777);
        ASSERT_TRUE(file.map().SetCounters(counters.data()));
        ASSERT_TRUE(file.map().SaveFile(wmap_.c_str()));
    }

    Store().SetByte(n_config::ZCSForZhChSh, 1);  // new settings: z for zh
    ASSERT_EQ(1, Merge(wmap_));

    MapFile merged(map_);
    ASSERT_TRUE(merged.ok());
    const auto zh = merged.Find(L"zh", L"zhang");
    ASSERT_TRUE(zh.has_value());
    EXPECT_EQ(5, zh->count);
    EXPECT_TRUE(merged.Find(L"z", L"zhang").has_value());  // made by the new settings
    EXPECT_EQ(counters, merged.Counters());
    EXPECT_EQ(1, merged.map().GetExtraFlagA());  // options follow the new settings
    EXPECT_FALSE(fs::exists(map_ + ".temp"));
}

TEST_F(KeymapMergeTest, FuzzyRuleSwitchedOffThenOnRestoresItsState) {
    Fuzzy("[Fuzzy]\nan=ang\n");
    MakeMap(wmap_);
    ASSERT_TRUE(MapFile(map_).Find(L"fan", L"fang").has_value());
    Learn(map_, L"fan", L"fang", 5);

    Fuzzy("");
    ASSERT_EQ(1, Merge(wmap_));
    auto off = MapFile(map_).Find(L"fan", L"fang");
    ASSERT_TRUE(off.has_value());  // kept, but switched off
    EXPECT_EQ(kKeyStateDisabled, off->state);
    EXPECT_EQ(5, off->count);
    {
        MapFile file(map_);
        bool longer = false;
        const int32_t index = file.map().FindKey(L"fan", &longer);
        ASSERT_GE(index, 0);
        uint16_t ids[16];
        const int n = file.map().GetPinyinIds(index, ids, nullptr, nullptr, 16);
        for (int i = 0; i < n; ++i) EXPECT_NE(SyllableTableFind(L"fang"), ids[i]);
    }

    Fuzzy("[Fuzzy]\nan=ang\n");
    ASSERT_EQ(1, Merge(wmap_));
    auto on = MapFile(map_).Find(L"fan", L"fang");
    ASSERT_TRUE(on.has_value());
    EXPECT_EQ(kKeyStateNew, on->state);
    EXPECT_EQ(5, on->count);
    EXPECT_EQ(kKeyFlagFuzzy, on->flags);
}

TEST_F(KeymapMergeTest, NothingIsWrittenWhenThePinyinDictionaryIsMissing) {
    MakeMap(wmap_);
    const std::vector<uint8_t> before = ReadFileBytes(map_);
    PyDictStandIn().SetReady(false);  // and no qzim_py.bin in the system directory
    EXPECT_EQ(0, Merge(wmap_));
    EXPECT_EQ(before, ReadFileBytes(map_));
    EXPECT_FALSE(fs::exists(map_ + ".temp"));

    ASSERT_TRUE(WriteFileBytes(dir_.File("keys.rec"), BuildRecordFile({{u"zh", {{u"zhang", 3}}}})));
    t_scopeHeap arena;
    t_tempKeymapConverter converter(&arena);
    const std::wstring target = dir_.WFile("converted.bin");
    EXPECT_FALSE(
        ConvertKeymapRecordFile(converter, dir_.WFile("keys.rec").c_str(), target.c_str()));
    EXPECT_FALSE(fs::exists(dir_.File("converted.bin")));
    EXPECT_FALSE(fs::exists(dir_.File("converted.bin.temp")));
}

TEST_F(KeymapMergeTest, MissingOrDamagedOldMapLeavesItUntouched) {
    EXPECT_EQ(0, Merge(wmap_));
    EXPECT_FALSE(fs::exists(map_));
    EXPECT_FALSE(fs::exists(map_ + ".temp"));

    MakeMap(wmap_);
    std::vector<uint8_t> damaged = ReadFileBytes(map_);
    damaged.resize(damaged.size() / 2);
    ASSERT_TRUE(WriteFileBytes(map_, damaged));
    EXPECT_EQ(0, Merge(wmap_));
    EXPECT_EQ(damaged, ReadFileBytes(map_));
    EXPECT_FALSE(fs::exists(map_ + ".temp"));
}

// ---------------------------------------------------------------------------
// Further sources and record files.

TEST_F(KeymapMergeTest, RecordFileCountsGoIntoTheConvertedMap) {
    ASSERT_TRUE(WriteFileBytes(
        dir_.File("keys.rec"),
        BuildRecordFile({{u"zh", {{u"zhang", 7}, {u"nosuch", 3}}}, {u"qqq", {{u"qi", 4}}}})));
    t_scopeHeap arena;
    t_tempKeymapConverter converter(&arena);
    const std::wstring target = dir_.WFile("converted.bin");
    ASSERT_TRUE(ConvertKeymapRecordFile(converter, dir_.WFile("keys.rec").c_str(), target.c_str()));

    MapFile out(dir_.File("converted.bin"));
    ASSERT_TRUE(out.ok());
    const auto zh = out.Find(L"zh", L"zhang");
    ASSERT_TRUE(zh.has_value());
    EXPECT_EQ(7, zh->count);
    EXPECT_EQ(kKeyStateNormal, zh->state);
    EXPECT_EQ(t_keyPyMap::kCounterStart + 7, out.map().GetCounter(SyllableTableFind(L"zhang")));
    // An unknown syllable, and a key the map does not have, change nothing.
    EXPECT_EQ(t_keyPyMap::kCounterStart, out.map().GetCounter(SyllableTableFind(L"qi")));
    EXPECT_FALSE(out.Find(L"qqq", L"qi").has_value());
    EXPECT_FALSE(fs::exists(dir_.File("converted.bin.temp")));
}

TEST_F(KeymapMergeTest, RecordFileCountsAndIndicesOutsideTheFileAreRefused) {
    const std::vector<uint8_t> good =
        BuildRecordFile({{u"zh", {{u"zhang", 7}}}, {u"sh", {{u"shi", 2}}}});
    const std::wstring target = dir_.WFile("converted.bin");
    auto convert = [&](const std::vector<uint8_t>& bytes) {
        EXPECT_TRUE(WriteFileBytes(dir_.File("keys.rec"), bytes));
        t_scopeHeap arena;
        t_tempKeymapConverter converter(&arena);
        return ConvertKeymapRecordFile(converter, dir_.WFile("keys.rec").c_str(), target.c_str());
    };

    std::vector<uint8_t> huge = good;
    PutU32(huge, 4, 0x7FFFFFFF);  // record count
    EXPECT_FALSE(convert(huge));
    std::vector<uint8_t> pastEnd = good;
    PutU32(pastEnd, kKeyRecordHeaderBytes + 20,
           1);  // first index of key 0 points at the last entry
    PutU32(pastEnd, kKeyRecordHeaderBytes + 16, 2);  // ... and claims two
    EXPECT_FALSE(convert(pastEnd));
    std::vector<uint8_t> negative = good;
    PutU32(negative, kKeyRecordHeaderBytes + 20, 0xFFFFFFFF);
    EXPECT_FALSE(convert(negative));
    std::vector<uint8_t> longKey = good;
    PutU16(longKey, kKeyRecordHeaderBytes, 16);  // 8 letters do not fit the key field
    EXPECT_FALSE(convert(longKey));
    for (size_t cut = 0; cut < good.size(); ++cut) {
        EXPECT_FALSE(convert(std::vector<uint8_t>(good.begin(), good.begin() + cut))) << cut;
    }
    EXPECT_FALSE(fs::exists(dir_.File("converted.bin")));

    // A syllable text that fills its field without a terminator is no syllable.
    std::vector<uint8_t> unterminated = good;
    const size_t entry = kKeyRecordHeaderBytes + 2 * kKeyRecordBytes;
    for (size_t i = 0; i < 8; ++i) PutU16(unterminated, entry + 2 * i, u'z');
    ASSERT_TRUE(convert(unterminated));
    MapFile out(dir_.File("converted.bin"));
    EXPECT_EQ(0, out.Find(L"zh", L"zhang")->count);
    EXPECT_EQ(2, out.Find(L"sh", L"shi")->count);
}

TEST_F(KeymapMergeTest, SourcesAreAddedAndEachFailureHasItsCode) {
    const std::wstring a = dir_.WFile("a.bin"), b = dir_.WFile("b.bin"),
                       out = dir_.WFile("out.bin");
    MakeMap(a);
    MakeMap(b);
    Learn(dir_.File("a.bin"), L"zh", L"zhang", 3);
    Learn(dir_.File("b.bin"), L"zh", L"zhang", 9);
    Learn(dir_.File("b.bin"), L"sh", L"shi", 4);
    ASSERT_TRUE(
        WriteFileBytes(dir_.File("keys.rec"), BuildRecordFile({{u"zh", {{u"zhang", 20}}}})));
    const std::wstring rec = dir_.WFile("keys.rec");

    auto run = [&](const wchar_t* first, const wchar_t* second, const wchar_t* record) {
        t_keymapMergeContext* context = InitKeymapMergeContext();
        const int r = MergeKeymapSources(context, out.c_str(), first, second, record);
        FreeKeymapMergeContext(context);
        return r;
    };
    const std::wstring missing = dir_.WFile("missing.bin");
    EXPECT_EQ(kKeymapFirstFailed, run(missing.c_str(), b.c_str(), nullptr));
    EXPECT_EQ(kKeymapSecondFailed, run(a.c_str(), missing.c_str(), nullptr));
    EXPECT_EQ(kKeymapRecordFailed, run(a.c_str(), b.c_str(), missing.c_str()));
    EXPECT_FALSE(fs::exists(dir_.File("out.bin")));

    ASSERT_EQ(kKeymapSourcesOk, run(a.c_str(), b.c_str(), nullptr));
    MapFile merged(dir_.File("out.bin"));
    EXPECT_EQ(9, merged.Find(L"zh", L"zhang")->count);  // the larger count
    EXPECT_EQ(4, merged.Find(L"sh", L"shi")->count);

    ASSERT_EQ(kKeymapSourcesOk, run(a.c_str(), nullptr, rec.c_str()));
    EXPECT_EQ(20, MapFile(dir_.File("out.bin")).Find(L"zh", L"zhang")->count);
    EXPECT_FALSE(fs::exists(dir_.File("keys.rec.temp")));
}

TEST_F(KeymapMergeTest, ConversionDropsDisabledMappings) {
    Fuzzy("[Fuzzy]\nan=ang\n");
    MakeMap(wmap_);
    Learn(map_, L"fan", L"fang", 5);
    Fuzzy("");
    ASSERT_EQ(1, Merge(wmap_));  // fan -> fang now disabled
    t_keymapMergeContext* context = InitKeymapMergeContext();
    const std::wstring target = dir_.WFile("clean.bin");
    ASSERT_TRUE(ConvertKeymapFile(context, wmap_.c_str(), target.c_str()));
    FreeKeymapMergeContext(context);
    MapFile clean(dir_.File("clean.bin"));
    EXPECT_FALSE(clean.Find(L"fan", L"fang").has_value());
    const auto own = clean.Find(L"fang", L"fang");
    ASSERT_TRUE(own.has_value());
    EXPECT_EQ(kKeyStateNormal, own->state);
    EXPECT_EQ(MapFile(map_).Counters(), clean.Counters());
}

TEST_F(KeymapMergeTest, TextDumpListsCountersAndMarksCountsAboveTheirCounter) {
    MakeMap(wmap_);
    const int zi = SyllableTableFind(L"zi");
    {
        MapFile file(map_);
        // A new mapping leaves the counter (100) alone, so 500 + 100 exceeds it.
        ASSERT_TRUE(file.map().AddEntry(L"zz", uint16_t(zi), 0, 500, 0));
        ASSERT_TRUE(file.map().SaveFile(wmap_.c_str()));
    }
    t_scopeHeap arena;
    ASSERT_EQ(1, DumpKeyMapText(arena, wmap_.c_str(), dir_.WFile("dump.txt").c_str()));
    const std::vector<uint8_t> raw = ReadFileBytes(dir_.File("dump.txt"));
    ASSERT_GE(raw.size(), 2u);
    EXPECT_EQ(0xFF, raw[0]);
    EXPECT_EQ(0xFE, raw[1]);
    std::string text;  // the dump is ASCII
    for (size_t i = 2; i + 1 < raw.size(); i += 2) text.push_back(char(raw[i]));
    EXPECT_EQ(0u, text.find("0:100,1:100,2:100,3:100,4:100,\n5:100,"));
    EXPECT_NE(std::string::npos, text.find("411:100,412:100,\n\n"));
    EXPECT_NE(std::string::npos, text.find("\r\nerr:zz," + std::to_string(zi) + ",0,500(0)\r\n"));
    EXPECT_NE(std::string::npos, text.find("\r\nzi," + std::to_string(zi) + ",0,0(1)\r\n"));

    EXPECT_EQ(0, DumpKeyMapText(arena, dir_.WFile("missing.bin").c_str(),
                                dir_.WFile("dump2.txt").c_str()));
    EXPECT_FALSE(fs::exists(dir_.File("dump2.txt")));
}
