// The punctuation map: its letter-pair encoding, loading "punctures.ini"
// through the dictionary manager, and the alternation of paired quotes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "kernel/lexicon/punct_dict.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

namespace {

std::string Encode(const std::vector<uint8_t>& bytes) {
    std::string out;
    uint8_t check = 0;
    for (uint8_t b : bytes) {
        out += char('a' + (b >> 4));
        out += char('a' + (b & 15));
        check ^= b;
    }
    out += char('a' + (check >> 4));
    out += char('a' + (check & 15));
    return out;
}

std::vector<uint8_t> Units32(const std::u32string& text) {
    std::vector<uint8_t> b(4 * text.size());
    std::memcpy(b.data(), text.data(), b.size());
    return b;
}

std::string Section(uint32_t key, const std::u32string& half, const std::u32string& full) {
    return "[" + Encode(Units32(std::u32string(1, char32_t(key)))) +
           "]\nChHalf=" + Encode(Units32(half)) + "\nChFull=" + Encode(Units32(full)) + "\n";
}

// 32 ASCII punctuation keys plus 167 and 162; `drop` leaves the last ones out.
std::string PunctuationFile(size_t drop = 0) {
    std::vector<std::string> sections;
    for (char32_t c = 33; c < 127; ++c) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) continue;
        std::u32string full(1, char32_t(0xFF00 + c - 0x20));
        if (c == '\'') full = U"\u2018";
        if (c == '"') full = U"\u201C";
        sections.push_back(Section(c, std::u32string(1, c), full));
    }
    sections.push_back(Section(167, U"'", U"\u2019"));
    sections.push_back(Section(162, U"\"", U"\u201D"));
    sections.resize(sections.size() - drop);
    std::string out;
    for (const std::string& s : sections) out += s;
    return out;
}

class PunctureDictTest : public DictManagerTest {
protected:
    bool LoadFile(const std::string& text) {
        std::ofstream(sys + "/punctures.ini", std::ios::binary) << text;
        EXPECT_TRUE(manager->Register(L"PunctureDict", &dict, 0, kStorageSource, kDirUserOrSystem,
                                      L"punctures.ini", 0, 2));
        return manager->LoadDict(L"PunctureDict");
    }
    std::wstring Get(uint32_t key, bool full, bool pairing) {
        const wchar_t* t = dict.GetPunctuation(key, full, pairing);
        return t ? t : L"<null>";
    }
    t_punctureDict dict;
};

}  // namespace

TEST(DecodeLetterPairsTest, DecodesChecksAndBoundsTheOutput) {
    uint8_t out[8] = {};
    const std::string good = Encode({0x12, 0xAB, 0x00});
    const std::wstring w(good.begin(), good.end());
    ASSERT_EQ(3, DecodeLetterPairs(w.c_str(), out, sizeof out));
    EXPECT_EQ(0x12, out[0]);
    EXPECT_EQ(0xAB, out[1]);
    // The check byte must cancel every other byte.
    std::wstring bad = w;
    bad[1] = bad[1] == L'a' ? L'b' : L'a';
    EXPECT_EQ(-1, DecodeLetterPairs(bad.c_str(), out, sizeof out));
    EXPECT_EQ(-1, DecodeLetterPairs(L"abc", out, sizeof out));
    EXPECT_EQ(-1, DecodeLetterPairs(L"AA", out, sizeof out));
    EXPECT_EQ(-1, DecodeLetterPairs(L"a", out, sizeof out));
    EXPECT_EQ(-1, DecodeLetterPairs(nullptr, out, sizeof out));
    EXPECT_EQ(0, DecodeLetterPairs(L"aa", out, 0));
}

TEST(DecodeLetterPairsTest, OverlongTextIsRefusedNotWrittenPastCapacity) {
    uint8_t out[6];
    std::memset(out, 0x5A, sizeof out);
    const std::string text = Encode({1, 2, 3, 4, 5});
    const std::wstring w(text.begin(), text.end());
    EXPECT_EQ(-1, DecodeLetterPairs(w.c_str(), out, 4));
    EXPECT_EQ(0x5A, out[4]);
    EXPECT_EQ(0x5A, out[0]);
    EXPECT_EQ(5, DecodeLetterPairs(w.c_str(), out, 5));
}

TEST_F(PunctureDictTest, FullFileLoadsAndMapsBothWidths) {
    ASSERT_TRUE(LoadFile(PunctuationFile()));
    ASSERT_TRUE(dict.IsReady());
    EXPECT_EQ(L",", Get(',', false, false));
    EXPECT_EQ(L"\uFF0C", Get(',', true, false));
    EXPECT_EQ(L"<null>", Get('a', true, false));
}

TEST_F(PunctureDictTest, ThirtyThreeSectionsFailToLoad) {
    EXPECT_FALSE(LoadFile(PunctuationFile(1)));
    EXPECT_FALSE(dict.IsReady());
    EXPECT_EQ(L"<null>", Get(',', true, false));
}

// The apostrophe alternates only with pairing; the double quote closes an
// opening one until the state is reset.
TEST_F(PunctureDictTest, PairedQuotesAlternate) {
    ASSERT_TRUE(LoadFile(PunctuationFile()));
    const struct {
        uint32_t key;
        bool pairing;
        const wchar_t* text;
    } typed[] = {
        {'\'', true, L"\u2018"},  {'\'', true, L"\u2019"},  {'\'', true, L"\u2018"},
        {'\'', false, L"\u2018"}, {'\'', false, L"\u2018"}, {'"', true, L"\u201C"},
        {'"', true, L"\u201D"},   {'"', true, L"\u201C"},
    };
    for (size_t i = 0; i < std::size(typed); ++i)
        EXPECT_EQ(typed[i].text, Get(typed[i].key, true, typed[i].pairing)) << "key " << i;
    dict.ResetQuoteState();
    EXPECT_EQ(L"\u201C", Get('"', true, true));
}

TEST_F(PunctureDictTest, OverlongTextLeavesItsSectionOut) {
    // A 1024-character text cannot be held with its terminator: the section
    // is dropped, so only 33 remain and the map does not load.
    std::string file = PunctuationFile(1);
    file += Section(162, std::u32string(1024, U'x'), U"\u201D");
    EXPECT_FALSE(LoadFile(file));
}

TEST(PunctureImageTest, ImagesWithoutTerminatorsOrWrongSizesAreRefused) {
    std::vector<uint8_t> image(t_punctureDict::kImageSize, 0);
    for (uint32_t i = 0; i < t_punctureDict::kRecordCount; ++i) {
        uint8_t* rec = image.data() + size_t(i) * t_punctureDict::kRecordSize;
        const uint32_t key = 1000 + i;
        const wchar_t text = L'x';
        std::memcpy(rec, &key, 4);
        std::memcpy(rec + 4, &text, sizeof text);
        std::memcpy(rec + 4 + 4 * t_punctureDict::kTextUnits, &text, sizeof text);
    }
    t_punctureDict dict;
    ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    EXPECT_EQ(std::wstring(L"x"), dict.GetPunctuation(1000, true, false));
    EXPECT_FALSE(dict.Load(image.data(), int32_t(image.size()) - 1));
    // A text that fills its whole field without a terminator.
    std::vector<wchar_t> fill(t_punctureDict::kTextUnits, L'y');
    std::memcpy(image.data() + 4, fill.data(), fill.size() * sizeof(wchar_t));
    EXPECT_FALSE(dict.Load(image.data(), int32_t(image.size())));
    EXPECT_EQ(nullptr, dict.GetPunctuation(1001, true, false));
}
