// The key registry: the table's shape and telling rows, the lookups, the
// setting key's comparisons, and the generator refusing broken key tables.
#include "userenv/setting_keys.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "porting3/str16.h"
#include "tests/support/test_dir.h"

namespace n_userenv {
namespace {

using S = std::u16string;

TEST(SettingKeysTest, TableShape) {
    ASSERT_EQ(301u, GetEnvEntryCount());
    std::map<std::pair<int, int>, int> lists;
    std::map<int, int> groups;
    std::set<uint32_t> ids;
    std::set<S> folded;
    for (size_t i = 0; i < GetEnvEntryCount(); ++i) {
        const t_envEntryBase& e = GetEnvEntryAt(i);
        ++lists[{e.type, e.syncMode}];
        ++groups[e.group];
        EXPECT_TRUE(e.id >= 1 && e.id <= 400) << e.id;
        ids.insert(e.id);
        S name(e.name);
        for (char16_t& c : name) c = n_porting::ToLower16(c);
        folded.insert(name);
        if (e.type == kTypeUInt) {
            EXPECT_EQ(kNoGroup, e.group);
        }
    }
    EXPECT_EQ(301u, ids.size());
    EXPECT_EQ(301u, folded.size());
    const std::map<std::pair<int, int>, int> expectLists = {
        {{kTypeBool, 3}, 104}, {{kTypeBool, 2}, 10},  {{kTypeInt, 3}, 58},
        {{kTypeInt, 2}, 69},   {{kTypeInt, 1}, 1},    {{kTypeUInt, 3}, 2},
        {{kTypeUInt, 2}, 47},  {{kTypeString, 3}, 4}, {{kTypeString, 2}, 6}};
    EXPECT_EQ(expectLists, lists);
    EXPECT_EQ(17, groups[3]);
    EXPECT_EQ(1, groups[4]);
    EXPECT_EQ(10, groups[5]);
}

TEST(SettingKeysTest, TellingRows) {
    const struct {
        uint32_t id;
        const char16_t* name;
        int32_t type, sync, group;
        int64_t number;  // bool, int or unsigned default
    } rows[] = {
        {1, u"HanziSet", kTypeInt, 3, -1, 5},
        {2, u"CodePage", kTypeInt, 3, -1, 936},
        {3, u"FreqUpMode", kTypeInt, 3, -1, 4},
        {27, u"LimitWordCand", kTypeBool, 3, -1, 0},
        {28, u"MaxWordCand", kTypeInt, 3, -1, 10},
        {29, u"PageSize", kTypeInt, 3, -1, 5},
        {33, u"ColorPinyin", kTypeInt, 3, 3, 0xB96205},
        {60, u"KeyVModeSP", kTypeInt, 3, -1, 86},
        {61, u"KeyUModeSP", kTypeInt, 3, -1, 85},
        {62, u"KeyArtSP", kTypeInt, 3, -1, 46},
        {82, u"UserPhrase", kTypeBool, 3, 4, 1},
        {96, u"ArtWordMode", kTypeInt, 1, -1, 0},
        {115, u"GapLevel", kTypeUInt, 3, -1, 190},
        {217, u"Popup_TimeQueryInterval", kTypeUInt, 2, -1, 86400},
        {218, u"Popup_TimeCheckInterval", kTypeUInt, 2, -1, 3600},
        {339, u"Popup_TimeInfoInterval", kTypeUInt, 2, -1, 82800},
        {223, u"IndexPrePair", kTypeInt, 2, -1, -2},
        {224, u"IndexAfterRepair", kTypeInt, 2, -1, -2},
        {230, u"KeyShortcutImeHotKey", kTypeInt, 2, -1, 444},
        {359, u"ShortcutJJGMenu", kTypeBool, 3, -1, 1},
        {360, u"KeyShortcutJJGMenu", kTypeInt, 3, -1, 186},
        {8, u"ShuangPin", kTypeBool, 3, 5, 0},
        {400, u"FlashDebugMode", kTypeBool, 2, -1, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.id);
        const t_envEntryBase* e = GetEnvEntryById(r.id);
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(0, n_porting::WcsCmp16(r.name, e->name));
        EXPECT_EQ(r.type, e->type);
        EXPECT_EQ(r.sync, e->syncMode);
        EXPECT_EQ(r.group, e->group);
        const int64_t def = r.type == kTypeBool   ? e->def.b
                            : r.type == kTypeUInt ? int64_t(e->def.u)
                                                  : e->def.i;
        EXPECT_EQ(r.number, def) << r.id;
    }
    const struct {
        uint32_t id;
        const char16_t* def;  // null: a null default
    } texts[] = {{31, u"宋体"},          {32, u"Arial"}, {88, u"Vetra"},
                 {91, u"Default(黑系)"}, {377, u""},     {316, nullptr}};
    for (const auto& t : texts) {
        const t_envEntryBase& e = EnvEntry(t.id);
        EXPECT_EQ(kTypeString, e.type);
        if (!t.def)
            EXPECT_EQ(nullptr, e.def.s);
        else
            EXPECT_EQ(S(t.def), S(e.def.s));
    }
}

TEST(SettingKeysTest, Lookups) {
    EXPECT_EQ(1u, GetEnvKeyId(u"hanziset"));
    EXPECT_EQ(0u, GetEnvKeyId(u"NoSuchKey"));
    EXPECT_EQ(0u, GetEnvKeyId(nullptr));
    EXPECT_EQ(2u, FindEnvEntry({2, u"anything"})->id);
    EXPECT_EQ(29u, FindEnvEntry({0, u"PageSize"})->id);
    EXPECT_EQ(29u, FindEnvEntry({92, u"PageSize"})->id);  // 92 is not registered
    EXPECT_EQ(nullptr, FindEnvEntry({0, u"nothing"}));
    EXPECT_EQ(29u, FindEnvEntryExact(u"PageSize")->id);
    EXPECT_EQ(nullptr, FindEnvEntryExact(u"pagesize"));
    EXPECT_EQ(kTypeUnknown, GetEnvEntryType({0, u"x"}));
    EXPECT_EQ(kSyncRemote, GetEnvEntrySyncMode({0, u"x"}));
    EXPECT_EQ(kNoGroup, GetEnvEntryGroup({0, u"x"}));
    EXPECT_EQ(5, GetEnvEntryGroup({0, u"mohuyin"}));
    for (auto [name, shortForm] : {std::pair{u"ShuangPin", u"ShngPn"},
                                   {u"LearnNewWord", u"LrnNwWrd"},
                                   {u"", u""},
                                   {u"AEIOU_x", u"AEIOUx"}}) {
        n_porting::t_str out;
        ASSERT_TRUE(ShortEnvKey(out, name));
        EXPECT_EQ(S(shortForm), S(out.GetStr()));
    }
}

TEST(SettingKeysTest, KeyComparisonAndNames) {
    // "a0" and "`@" have the same name hash; unknown keys must still differ.
    const t_settingKey a{0, u"a0"}, b{0, u"`@"};
    ASSERT_EQ(SettingKeyHash(a), SettingKeyHash(b));
    EXPECT_FALSE(SettingKeyEqual(a, b));
    EXPECT_NE(0, SettingKeyCompare(a, b));
    EXPECT_TRUE(SettingKeyEqual({0, u"HanziSet"}, {0, u"hanziset"}));
    EXPECT_TRUE(SettingKeyEqual({1, u"HanziSet"}, {0, u"HANZISET"}));
    EXPECT_FALSE(SettingKeyEqual({1, u"x"}, {2, u"x"}));
    EXPECT_EQ(-1, SettingKeyCompare({1, u"z"}, {2, u"a"}));
    EXPECT_EQ(1, SettingKeyCompare({0, u"b"}, {0, u"A"}));
    EXPECT_EQ(7u, SettingKeyHash({7, u"x"}));

    for (auto [name, code] :
         {std::pair{u"b", 1u}, {u"n", 2u}, {u"u", 3u}, {u"s", 4u}, {u"x", 0u}}) {
        EXPECT_EQ(code, LookupValueType(name));
        if (code) {
            EXPECT_EQ(S(name), S(GetValueTypeName(code)));
        }
    }
    for (auto [name, code] :
         {std::pair{u"local", 2u}, {u"remote", 3u}, {u"max", 4u}, {u"min", 5u}, {u"Remote", 0u}}) {
        EXPECT_EQ(code, LookupOrigin(name));
        if (code) {
            EXPECT_EQ(S(name), S(GetOriginName(code)));
        }
    }
    EXPECT_EQ(nullptr, GetValueTypeName(9));
    EXPECT_EQ(nullptr, GetOriginName(1));
}

// The generator on the project's table and on broken copies of it.
TEST(SettingKeysTest, GeneratorRefusesBrokenTables) {
    const char* source = std::getenv("VETRA_SOURCE_DIR");
    if (!source) GTEST_SKIP() << "VETRA_SOURCE_DIR is not set";
    const std::string tool = std::string(source) + "/tools/gen_settings_keys.py";
    const std::string table =
        testsupport::ReadFileBytes(std::string(source) + "/data/settings/keys.tsv");
    ASSERT_FALSE(table.empty());
    testsupport::t_testDir dir("vetra-keys");
    const struct {
        const char* name;
        std::string add;  // rows appended to the good table
        bool ok;
    } cases[] = {
        {"the table itself", "", true},
        {"duplicate id", "1\tOtherKey\tn\t3\t-1\t0\n", false},
        {"case-duplicate name with a free id", "92\tpagesize\tn\t3\t-1\t0\n", false},
        {"id outside 1-400", "401\tNewKey\tn\t3\t-1\t0\n", false},
        {"unknown type", "92\tNewKey\tx\t3\t-1\t0\n", false},
        {"unknown sync code", "92\tNewKey\tn\t6\t-1\t0\n", false},
        {"group on an unsigned key", "92\tNewKey\tu\t3\t5\t0\n", false},
        {"bool default that is a number", "92\tNewKey\tb\t3\t-1\t1\n", false},
        {"int default out of range", "92\tNewKey\tn\t3\t-1\t2147483648\n", false},
        {"unquoted text default", "92\tNewKey\ts\t3\t-1\tArial\n", false},
        {"a good new key", "92\tNewKey\tu\t3\t-1\t0xFFFFFFFF\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(dir.Put("keys.tsv", table + c.add));
        std::remove(dir.At("out.inc").c_str());
        const std::string cmd = "python3 '" + tool + "' '" + dir.At("keys.tsv") + "' '" +
                                dir.At("out.inc") + "' 2>/dev/null";
        EXPECT_EQ(c.ok, std::system(cmd.c_str()) == 0);
        EXPECT_EQ(c.ok, !dir.Get("out.inc").empty());
    }
}

}  // namespace
}  // namespace n_userenv
