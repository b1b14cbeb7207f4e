// The settings store: reads with defaults and overrides, text parsing, keys
// the registry does not know, merging, and the binary image with every
// length it holds checked.
#include "userenv/env_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "porting3/version_reg.h"
#include "tests/support/test_dir.h"

namespace n_userenv {
namespace {

using S = std::u16string;
const t_envEntryBase& E(uint32_t id) {
    return EnvEntry(id);
}
const t_envEntryBase& Named(const char16_t* name) {
    return *FindEnvEntryExact(name);
}

std::vector<uint8_t> Image(const t_env& env) {
    std::vector<uint8_t> bytes(env.GetImageSize());
    EXPECT_TRUE(env.WriteImage(bytes.data(), bytes.size()));
    return bytes;
}

TEST(EnvStoreTest, ReadsDefaultsAndOverrides) {
    t_env env;
    EXPECT_EQ(5, env.GetInt(E(n_envKey::PageSize)));
    EXPECT_EQ(190u, env.GetUInt(Named(u"GapLevel")));
    EXPECT_EQ(nullptr, env.GetString(E(n_envKey::WizardReadFlags)));
    EXPECT_EQ(S(u"Arial"), S(env.GetString(E(n_envKey::FontEn))));
    EXPECT_TRUE(env.GetBool(E(n_envKey::AllowArt)));
    EXPECT_FALSE(env.ReadBool(E(n_envKey::AllowArt)));
    ASSERT_TRUE(env.SetInt(E(n_envKey::HanziSet), 3));
    EXPECT_EQ(5, env.GetInt(E(n_envKey::HanziSet)));
    EXPECT_EQ(3, env.ReadInt(E(n_envKey::HanziSet)));
    EXPECT_EQ(1, env.GetInt(E(n_envKey::ArtWordMode)));
    ASSERT_TRUE(env.SetBool(E(n_envKey::SelectStyle), true));
    EXPECT_FALSE(env.GetBool(E(n_envKey::SelectStyle)));
    ASSERT_TRUE(env.SetBool(E(n_envKey::ConvertStyle), true));
    EXPECT_TRUE(env.GetBool(E(n_envKey::SelectStyle)));
    EXPECT_TRUE(env.IsModified());
    EXPECT_EQ(nullptr, env.GetString(E(n_envKey::PageSize)));  // not text
    env.Remove(E(n_envKey::HanziSet));
    EXPECT_EQ(2u, env.GetValueCount());
}

TEST(EnvStoreTest, ByNameAccessorsAreExactAndTyped) {
    t_env env;
    EXPECT_TRUE(env.SetIntByName(u"PageSize", 9));
    EXPECT_FALSE(env.IsModified());
    EXPECT_EQ(9, env.GetIntByName(u"PageSize"));
    EXPECT_FALSE(env.SetIntByName(u"pagesize", 9));
    EXPECT_FALSE(env.SetIntByName(u"GapLevel", 9));  // unsigned entry
    EXPECT_EQ(0, env.GetIntByName(u"FontEn"));
    EXPECT_EQ(190u, env.GetUIntByName(u"GapLevel"));
    EXPECT_TRUE(env.GetBoolByName(u"QuanPin"));
    EXPECT_TRUE(env.SetStringByName(u"FontEn", u"Sans"));
    EXPECT_EQ(S(u"Sans"), S(env.GetStringByName(u"FontEn")));
    EXPECT_EQ(nullptr, env.GetStringByName(u"PageSize"));
}

TEST(EnvStoreTest, SetFromText) {
    const struct {
        const char16_t* key;
        const char16_t* text;
        const char16_t* syncKeyword;
        uint32_t type, sync;
        int32_t asInt;
        const char16_t* asText;
    } cases[] = {
        {u"LearnFreq", u"true", nullptr, kTypeBool, 3, 0, u"0"},  // decimal only
        {u"LearnFreq", u"7", u"local", kTypeBool, 2, 1, u"1"},
        {u"PageSize", u"-12x", u"bogus", kTypeInt, 3, -12, u"-12"},
        {u"GapLevel", u"4294967295", nullptr, kTypeUInt, 3, -1, u"4294967295"},
        {u"FontEn", u"12", u"min", kTypeString, 5, 12, u"12"},
        {u"UnknownKey", u"abc", nullptr, kTypeUnknown, 3, 0, u"abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key, c.key + S(c.key).size()) + "=" +
                     std::string(c.text, c.text + S(c.text).size()));
        n_porting::t_heap heap(4096);
        t_envValue v;
        v.Init();
        ASSERT_TRUE(
            v.SetFromText(heap, {GetEnvKeyId(c.key), c.key}, c.text, nullptr, c.syncKeyword));
        EXPECT_EQ(c.type, v.type);
        EXPECT_EQ(c.sync, v.syncMode);
        EXPECT_EQ(c.asInt, v.ToInt());
        n_porting::t_str text;
        ASSERT_TRUE(v.ToText(text));
        EXPECT_EQ(S(c.asText), S(text.GetStr()));
    }
    n_porting::t_heap heap(4096);
    t_envValue v;
    v.Init();
    const S longest(65535, u'x');
    EXPECT_TRUE(v.SetFromText(heap, {0, u"k"}, longest.c_str(), nullptr, nullptr));
    EXPECT_FALSE(v.SetFromText(heap, {0, u"k"}, (longest + u"x").c_str(), nullptr, nullptr));
}

TEST(EnvStoreTest, UnknownKeysByNameNeverByHash) {
    t_env env;
    t_envValue v;
    v.Init();
    n_porting::t_heap heap(4096);
    ASSERT_TRUE(v.SetFromText(heap, {0, u"a0"}, u"1", nullptr, nullptr));
    ASSERT_TRUE(env.StoreValue({0, u"a0"}, v));
    ASSERT_TRUE(env.StoreValue({0, u"`@"}, v));  // same name hash as "a0"
    ASSERT_TRUE(env.StoreValue({0, u"A0"}, v));  // the same key as "a0"
    EXPECT_EQ(2u, env.GetValueCount());
    EXPECT_NE(nullptr, env.FindValue({0, u"A0"}));
}

TEST(EnvStoreTest, MergeCopiesDirtyValuesAndBumpsGroupsWhenAsked) {
    n_porting::t_errorContext ctx;
    ASSERT_TRUE(n_porting::t_versionReg::Init(ctx));
    const int slot = n_porting::kVersionSlotPinyinScheme;
    for (bool bump : {false, true}) {
        SCOPED_TRACE(bump);
        t_env shared, mine;
        ASSERT_TRUE(mine.SetBool(Named(u"ShuangPin"), true));  // group 5
        ASSERT_TRUE(mine.SetInt(E(n_envKey::PageSize), 8));    // no group
        const uint32_t before = n_porting::t_versionReg::GetVersion(slot);
        EXPECT_EQ(1, t_env::Merge(shared, ctx, mine, bump));
        EXPECT_EQ(before + (bump ? 1 : 0), n_porting::t_versionReg::GetVersion(slot));
        EXPECT_FALSE(mine.IsModified());
        EXPECT_TRUE(shared.GetBool(Named(u"ShuangPin")));
        EXPECT_EQ(8, shared.GetInt(E(n_envKey::PageSize)));
        ASSERT_TRUE(shared.SetInt(E(n_envKey::PageSize), 4));
        EXPECT_EQ(1, t_env::Merge(shared, ctx, mine, bump));  // nothing dirty is left
        EXPECT_EQ(4, shared.GetInt(E(n_envKey::PageSize)));
        EXPECT_EQ(before + (bump ? 1 : 0), n_porting::t_versionReg::GetVersion(slot));
    }
}

TEST(EnvStoreTest, ImageSizesAndRoundTrip) {
    t_env env;
    EXPECT_EQ(6u, env.GetImageSize());
    EXPECT_EQ((std::vector<uint8_t>{6, 0, 0, 0, 0, 0}), Image(env));
    ASSERT_TRUE(env.SetInt(E(n_envKey::HanziSet), 5));
    EXPECT_EQ(38u, env.GetImageSize());
    std::vector<uint8_t> small(37);
    EXPECT_FALSE(env.WriteImage(small.data(), small.size()));

    // One long text, then 20 more keys: nothing after it may be lost.
    const S longText(40000, u'长');
    ASSERT_TRUE(env.SetString(E(n_envKey::FontEn), longText.c_str()));
    for (uint32_t id = 301; id <= 306; ++id) ASSERT_TRUE(env.SetInt(E(id), int32_t(id)));
    for (uint32_t id : {4u, 5u, 6u, 7u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u})
        ASSERT_TRUE(env.SetBool(E(id), false));
    ASSERT_EQ(21u, env.GetValueCount());
    const std::vector<uint8_t> image = Image(env);
    t_env copy;
    ASSERT_EQ(1, copy.ReadImage(image.data(), image.size()));
    EXPECT_EQ(21u, copy.GetValueCount());
    EXPECT_EQ(longText, S(copy.GetString(E(n_envKey::FontEn))));
    EXPECT_EQ(306, copy.GetInt(E(306)));
    EXPECT_FALSE(copy.GetBool(E(17)));
    EXPECT_EQ(image.size(), Image(copy).size());

    testsupport::t_testDir dir("vetra-env");
    n_porting::t_errorContext ctx;
    const std::string at = dir.At("env.ini");
    const S path(at.begin(), at.end());
    ASSERT_EQ(1, copy.Save(ctx, path.c_str()));
    t_env loaded;
    ASSERT_EQ(1, loaded.Load(ctx, path.c_str(), 1));
    EXPECT_EQ(longText, S(loaded.GetString(E(n_envKey::FontEn))));
    EXPECT_EQ(306, loaded.GetInt(E(306)));
    EXPECT_FALSE(loaded.ReadBool(E(4)));
}

TEST(EnvStoreTest, MalformedImagesAreRefusedWhole) {
    t_env env;
    ASSERT_TRUE(env.SetInt(E(n_envKey::PageSize), 7));
    ASSERT_TRUE(env.SetString(E(n_envKey::FontEn), u"Sans"));
    ASSERT_TRUE(env.SetBool(E(n_envKey::LearnFreq), true));
    const std::vector<uint8_t> image = Image(env);
    t_env reader;
    // Cut at every byte, with the size as written and with the size of the cut.
    for (size_t cut = 0; cut < image.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> part(image.begin(), image.begin() + cut);
        EXPECT_EQ(0, reader.ReadImage(part.data(), part.size()));
        if (cut >= 4) {
            const uint32_t size = uint32_t(cut);
            std::memcpy(part.data(), &size, 4);
            EXPECT_EQ(0, reader.ReadImage(part.data(), part.size()));
        }
        EXPECT_EQ(0u, reader.GetValueCount());
    }
    // One record: "k" (4), id (4), type, sync, payload size (4), payload.
    auto record = [](uint8_t type, uint32_t payloadBytes, std::vector<uint8_t> payload) {
        std::vector<uint8_t> r = {'k', 0, 0, 0, 0, 0, 0, 0, type, 3};
        for (int i = 0; i < 4; ++i) r.push_back(uint8_t(payloadBytes >> (8 * i)));
        r.insert(r.end(), payload.begin(), payload.end());
        r.push_back(0);
        r.push_back(0);
        const uint32_t size = uint32_t(r.size() + 4);
        r.insert(r.begin(),
                 {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24)});
        return r;
    };
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        int result;
    } cases[] = {
        {"an int", record(kTypeInt, 4, {1, 0, 0, 0}), 1},
        {"a text", record(kTypeString, 4, {'a', 0, 0, 0}), 1},
        {"payload size past the end", record(kTypeInt, 0xFFFFFFF0u, {1, 0, 0, 0}), 0},
        {"bool of four bytes", record(kTypeBool, 4, {1, 0, 0, 0}), 0},
        {"text without terminator", record(kTypeString, 2, {'a', 0}), 0},
        {"odd text", record(kTypeString, 3, {'a', 0, 0}), 0},
        {"unknown type", record(9, 4, {1, 0, 0, 0}), 0},
        {"id that is not the name's",
         [&] {
             auto r = record(kTypeInt, 4, {1, 0, 0, 0});
             r[8] = 29;
             return r;
         }(),
         0},
        {"trailing bytes",
         [&] {
             auto r = record(kTypeInt, 4, {1, 0, 0, 0});
             r.insert(r.end(), 2, 0);
             r[0] += 2;
             return r;
         }(),
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.result, reader.ReadImage(c.bytes.data(), c.bytes.size()));
        EXPECT_EQ(size_t(c.result), reader.GetValueCount());
    }
}

}  // namespace
}  // namespace n_userenv
