// The shipped shuangpin schemes: every syllable gets a key pair of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "kernel/lexicon/key_map_builder.h"
#include "kernel/lexicon/syllable_table.h"
#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

namespace fs = std::filesystem;

std::wstring FromUtf8(const std::string& s) {
    std::wstring out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        wchar_t w = n == 1 ? c : c & (0x3F >> (n - 1));
        for (int k = 1; k < n && i + k < s.size(); ++k) w = (w << 6) | (s[i + k] & 0x3F);
        out += w;
        i += n;
    }
    return out;
}

// lo and luo share their key in every published layout (o and uo on one key).
bool SharedOnPurpose(const std::set<uint16_t>& ids) {
    for (uint16_t id : ids) {
        const std::wstring text = SyllableTableText(id);
        if (text.size() < 2 || (text.substr(1) != L"o" && text.substr(1) != L"uo")) return false;
    }
    return true;
}

// Collects the full key pairs (flags 0) of a shuangpin build.
class PairSink : public i_keyMapSink {
public:
    int AddMapping(const wchar_t* key, uint16_t id, uint16_t flags, bool) override {
        if (flags == 0) pairs[key].insert(id);
        return 4;
    }
    void SetExtraFlagA(uint8_t) override {}
    void SetExtraFlagB(uint8_t) override {}
    std::map<std::wstring, std::set<uint16_t>> pairs;
};

TEST(ShippedSchemesTest, EverySyllableHasAnUnambiguousKeyPair) {
    const fs::path dir = fs::path(SourceDir()) / "data" / "schemes";
    const std::set<std::string> expected = {"Vetra", "微软",    "自然码",   "小鹤",
                                            "紫光",  "智能ABC", "拼音加加", "中文之星"};
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir / "ShuangPinSchemes")) {
        found.insert(entry.path().stem().string());
    }
    EXPECT_EQ(found, expected);

    const std::string dirText = dir.string();
    for (const std::string& name : expected) {
        SCOPED_TRACE(name);
        const std::wstring scheme = FromUtf8(name);
        PairSink sink;
        t_keyPyMapBuilder builder;
        t_keyMapOptions options;
        options.fullPinyin = false;
        options.shuangPin = true;
        std::wstring messages;
        ASSERT_TRUE(
            builder.Initialise(options, {FromUtf8(dirText), L"", scheme}, &sink, &messages));
        ASSERT_TRUE(builder.AddAll());
        EXPECT_EQ(messages.find(L"load sp file failed."), std::wstring::npos);

        std::set<uint16_t> covered;
        for (const auto& [key, ids] : sink.pairs) {
            EXPECT_EQ(key.size(), 2u) << std::string(key.begin(), key.end());
            EXPECT_TRUE(ids.size() == 1 || SharedOnPurpose(ids))
                << "key " << std::string(key.begin(), key.end()) << " is ambiguous";
            covered.insert(ids.begin(), ids.end());
        }
        for (int id = 0; id < kSyllableCount; ++id) {
            EXPECT_TRUE(covered.count(uint16_t(id))) << "no key for syllable " << id;
        }
    }
}

}  // namespace
