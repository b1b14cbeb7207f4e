// The typed configuration store and its "GlobalConfig" block.
#include "kernel/runtime/configuration.h"

#include <cstring>
#include <string>
#include <type_traits>

#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "tests/kernel/runtime/runtime_support.h"

namespace {

using namespace n_config;

struct t_expectedItem {
    const t_configItem* item;
    const char* name;
    uint32_t type;
    uint32_t offset;
    int32_t value;
};

const t_expectedItem kItems[] = {
    {&LongWordCandPos, "LongWordCandPos", kConfigInt, 0, 2},
    {&MaxLongWord, "MaxLongWord", kConfigInt, 4, 2},
    {&LongWordNumGate, "LongWordNumGate", kConfigInt, 8, 4},
    {&PinyinMismatchCount1, "PinyinMismatchCount1", kConfigInt, 12, 0},
    {&PinyinMismatchCount2, "PinyinMismatchCount2", kConfigInt, 16, 0},
    {&LearnEnglishCommits, "LearnEnglishCommits", kConfigByte, 20, 1},
    {&LearnFreq, "LearnFreq", kConfigByte, 21, 1},
    {&LearnNewWord, "LearnNewWord", kConfigByte, 22, 1},
    {&LearnAddressCommits, "LearnAddressCommits", kConfigByte, 23, 1},
    {&LearnEnglishAllWords, "LearnEnglishAllWords", kConfigByte, 24, 1},
    {&LearnEnglishNewWords, "LearnEnglishNewWords", kConfigByte, 25, 1},
    {&EnglishListCase, "EnglishListCase", kConfigByte, 26, 1},
    {&FuzzyPairCount, "FuzzyPairCount", kConfigInt, 27, 0},
    {&NoPhrase, "NoPhrase", kConfigByte, 31, 0},
    {&FirstPinyinTip, "FirstPinyinTip", kConfigByte, 32, 1},
    {&CharArt, "CharArt", kConfigByte, 33, 1},
    {&FixFirst, "FixFirst", kConfigByte, 34, 1},
    {&NameCands, "NameCands", kConfigByte, 35, 1},
    {&ShuangPin, "ShuangPin", kConfigByte, 36, 0},
    {&Correction, "Correction", kConfigByte, 37, 1},
    {&PinCands, "PinCands", kConfigByte, 38, 0},
    {&PinnedCandCount, "PinnedCandCount", kConfigInt, 39, 10},
    {&UserWeightCurve, "UserWeightCurve", kConfigInt, 43, 127},
    {&UserPhrase, "UserPhrase", kConfigByte, 47, 1},
    {&NoLongWordHint, "NoLongWordHint", kConfigByte, 48, 0},
    {&ForecastLongWord, "ForecastLongWord", kConfigByte, 49, 1},
    {&SecondPinyinTip, "SecondPinyinTip", kConfigByte, 50, 1},
    {&SecondPinyinTipAllowed, "SecondPinyinTipAllowed", kConfigByte, 51, 1},
    {&SuperSPJP, "SuperSPJP", kConfigByte, 52, 1},
    {&QuanPin, "QuanPin", kConfigByte, 53, 1},
    {&ZCSForZhChSh, "ZCSForZhChSh", kConfigByte, 54, 1},
    {&ContextAdjust, "ContextAdjust", kConfigByte, 55, 1},
    {&EnableCloudRequest, "EnableCloudRequest", kConfigByte, 56, 1},
    {&SmartFuzzyKeys, "SmartFuzzyKeys", kConfigByte, 57, 1},
    {&ReservedByte, "ReservedByte", kConfigByte, 58, 1},
    {&AllowQuanPin, "AllowQuanPin", kConfigByte, 59, 0},
    {&ShuangPinName, "ShuangPinName", kConfigString, 60, 0},
    {&SystemUserPhrase, "SystemUserPhrase", kConfigByte, 320, 1},
};

// The kernel reaches the store through t_singleton<t_configurationImpl>.
static_assert(std::is_default_constructible_v<t_configurationImpl>);

class ConfigurationTest : public TempHomeTest {
protected:
    void SetUp() override { ASSERT_TRUE(t_singleton<t_versionManager>::Get().Init()); }
    static t_versionManager& vm() { return t_singleton<t_versionManager>::Get(); }
};

TEST(ConfigRegistryTest, ItemsSitAtTheirOffsetsInOneBank) {
    ASSERT_EQ(38u, sizeof kItems / sizeof kItems[0]);
    for (const t_expectedItem& e : kItems) {
        EXPECT_EQ(e.type, e.item->type) << e.name;
        EXPECT_EQ(0u, e.item->bank) << e.name;
        EXPECT_EQ(e.offset, e.item->offset) << e.name;
    }
    const t_configRegistry& registry = t_configRegistry::Global();
    EXPECT_EQ(321u, registry.GetBank(0)->Size());
    EXPECT_EQ(0u, registry.GetBank(1)->Size());
    EXPECT_EQ(0u, registry.GetBank(2)->Size());
    EXPECT_EQ(nullptr, registry.GetBank(3));
}

TEST(ConfigRegistryTest, LargeBankNumberBecomesBankOne) {
    t_configRegistry registry;
    t_configItem first(registry, kConfigInt, 3, 9);
    t_configItem second(registry, kConfigString, 7, 0, L"abc");
    EXPECT_EQ(1u, first.bank);
    EXPECT_EQ(0u, first.offset);
    EXPECT_EQ(4u, second.offset);
    EXPECT_EQ(4u + kConfigSlotBytes, registry.GetBank(1)->Size());
    EXPECT_EQ(0u, registry.GetBank(0)->Size());
}

TEST_F(ConfigurationTest, EveryItemReadsItsDefault) {
    t_configurationImpl config;
    ASSERT_TRUE(config.Init());
    for (const t_expectedItem& e : kItems) {
        if (e.type == kConfigInt) {
            EXPECT_EQ(e.value, config.GetInt(*e.item)) << e.name;
        } else if (e.type == kConfigByte) {
            EXPECT_EQ(e.value, config.GetByte(*e.item)) << e.name;
        }
    }
    EXPECT_STREQ(L"Vetra", config.GetString(ShuangPinName));
}

TEST_F(ConfigurationTest, SetterBeforeInitIsIgnored) {
    t_configurationImpl config;
    config.SetInt(LongWordCandPos, 99);
    config.SetByte(QuanPin, 0);
    config.SetString(ShuangPinName, L"Other");
    EXPECT_EQ(0, config.GetInt(LongWordCandPos));  // nothing to read yet either
    ASSERT_TRUE(config.Init());
    EXPECT_EQ(2, config.GetInt(LongWordCandPos));
    EXPECT_EQ(1, config.GetByte(QuanPin));
    EXPECT_STREQ(L"Vetra", config.GetString(ShuangPinName));
}

TEST_F(ConfigurationTest, StringKeepsAtMostSixtyThreeCharacters) {
    t_configurationImpl config;
    ASSERT_TRUE(config.Init());
    const std::wstring longText(100, L'x');
    config.SetString(ShuangPinName, longText.c_str());
    EXPECT_EQ(std::wstring(63, L'x'), config.GetString(ShuangPinName));
    config.SetString(ShuangPinName, L"Short");
    EXPECT_STREQ(L"Short", config.GetString(ShuangPinName));  // no tail of the old text
    config.SetString(ShuangPinName, nullptr);
    EXPECT_STREQ(L"Short", config.GetString(ShuangPinName));
}

TEST_F(ConfigurationTest, ValueSetIsSeenAfterTheNextVersionCheck) {
    t_configurationImpl config;
    ASSERT_TRUE(config.Init());
    const std::wstring versionName = L"GlobalConfig_Event_";
    const int before = vm().GetVersion(versionName.c_str());
    ASSERT_GE(before, 1);
    config.SetInt(LongWordCandPos, 5);
    config.SetByte(NoPhrase, 1);
    EXPECT_EQ(before + 2, vm().GetVersion(versionName.c_str()));
    ASSERT_TRUE(vm().CheckUpdate2());
    EXPECT_EQ(5, config.GetInt(LongWordCandPos));
    EXPECT_EQ(1, config.GetByte(NoPhrase));
    // Another writer of the block: the change shows after the check only.
    auto* shared = static_cast<uint8_t*>(config.SharedBlock().GetData());
    ASSERT_NE(nullptr, shared);
    const int32_t seven = 7;
    memcpy(shared + MaxLongWord.offset, &seven, 4);
    ASSERT_TRUE(vm().IncreaseVersion(versionName.c_str()));
    EXPECT_EQ(2, config.GetInt(MaxLongWord));
    ASSERT_TRUE(vm().CheckUpdate2());
    EXPECT_EQ(7, config.GetInt(MaxLongWord));
    EXPECT_EQ(5, config.GetInt(LongWordCandPos));
}

TEST_F(ConfigurationTest, OutOfRangeItemsReadZeroAndAreNotWritten) {
    t_configurationImpl config;
    ASSERT_TRUE(config.Init());
    t_configRegistry scratch;
    t_configItem beyond(scratch, kConfigInt, 0, 0);
    beyond.offset = 319;  // 4 bytes would cross the end of the 321-byte bank
    EXPECT_EQ(0, config.GetInt(beyond));
    config.SetInt(beyond, -1);
    EXPECT_EQ(1, config.GetByte(SystemUserPhrase));  // byte 320 untouched
    t_configItem badBank(scratch, kConfigByte, 0, 0);
    badBank.bank = 5;
    EXPECT_EQ(0, config.GetByte(badBank));
    t_configItem lateString(scratch, kConfigString, 0, 0);
    lateString.offset = 100;
    EXPECT_EQ(nullptr, config.GetString(lateString));
}

TEST(GrowBufTest, GrowsByDoublingAndAppendsLittleEndian) {
    t_growBuf buf;
    ASSERT_TRUE(buf.AppendU32(0x04030201));
    EXPECT_EQ(10240u, buf.Capacity());
    EXPECT_EQ(0, memcmp(buf.Data(), "\x01\x02\x03\x04", 4));
    ASSERT_TRUE(buf.AppendU16(0x0605));
    ASSERT_TRUE(buf.AppendLstr(nullptr));  // a 16-bit 0
    EXPECT_EQ(0, memcmp(buf.Data() + 4, "\x05\x06\x00\x00", 4));
    ASSERT_TRUE(buf.AppendWstrSlot(L"abcdef", 3));  // 4 characters, "abc" + 0
    EXPECT_EQ(8u + 16u, buf.Size());
    EXPECT_EQ(0, memcmp(buf.Data() + 8, L"abc", 16));
    ASSERT_TRUE(buf.AppendBytes(nullptr, 100));
    EXPECT_EQ(24u, buf.Size());
    const std::string big(30000, 'z');
    ASSERT_TRUE(buf.AppendBytes(big.data(), big.size()));
    EXPECT_EQ(40960u, buf.Capacity());
    EXPECT_EQ(24u + 30000u, buf.Size());
    EXPECT_EQ('z', buf.Data()[buf.Size() - 1]);
}

}  // namespace
