// The string crypter: sizes of the cipher text, the random first block, round
// trips of byte and 16-bit texts, and refusals of damaged texts.
#include "porting3/string_crypter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace n_porting {
namespace {

// Takes a malloc'd text.
std::string Take(char* s) {
    std::string out = s ? s : "<null>";
    std::free(s);
    return out;
}

std::u16string TakeW(char16_t* s) {
    std::u16string out = s ? s : u"<null>";
    std::free(s);
    return out;
}

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

TEST(StringCrypterTest, SizesAndTheRandomFirstBlock) {
    t_stringCrypter flagged(true), plain(false);
    const std::string a = Take(flagged.EncryptText("")), b = Take(flagged.EncryptText(""));
    EXPECT_EQ(44u, a.size());  // a random block and a block of padding
    EXPECT_NE(a, b);
    EXPECT_EQ("", Take(flagged.DecryptText(a.c_str())));
    EXPECT_EQ("", Take(flagged.DecryptText(b.c_str())));
    const std::string c = Take(plain.EncryptText(""));
    EXPECT_EQ(24u, c.size());
    EXPECT_EQ(c, Take(plain.EncryptText("")));
    EXPECT_EQ(Take(plain.EncryptText("abc")), Take(plain.EncryptText("abc")));
    EXPECT_EQ("<null>", Take(flagged.DecryptText(c.c_str())));  // no data after the random block
}

// Cipher texts made by another AES implementation with the same key and
// vector: a changed constant would strand every enciphered file.
TEST(StringCrypterTest, FixedKeyAgreesWithAnotherImplementation) {
    t_stringCrypter plain(false), flagged(true);
    EXPECT_EQ("settings", Take(plain.DecryptText("JpMeuXmXaujk0KFI3/mjqg==")));
    EXPECT_EQ("[S]\r\nk=v\r\n",
              Take(flagged.DecryptText("mAOl+DjHBC4qxnd0v5HPQzFE9qclJwrhlNZsy16dJZ0=")));
}

TEST(StringCrypterTest, RoundTrips) {
    for (const bool flag : {true, false}) {
        t_stringCrypter crypter(flag);
        for (const size_t n : {size_t(1), size_t(15), size_t(16), size_t(17), size_t(100)}) {
            SCOPED_TRACE(testing::Message() << flag << " " << n);
            std::string text(n, 'x');
            for (size_t i = 0; i < n; ++i) text[i] = char('a' + i % 26);
            const std::string code = Take(crypter.EncryptText(text.c_str()));
            EXPECT_EQ(text, Take(crypter.DecryptText(code.c_str())));
            EXPECT_EQ(text, Take(crypter.DecryptTextN(code.data(), code.size())));
            size_t length = 0;
            uint8_t* bytes = crypter.DecryptBytes(code.c_str(), &length);
            EXPECT_EQ(n, length);
            std::free(bytes);
        }
        const std::u16string wide = u"设置 env.ini";
        const std::u16string code = TakeW(crypter.EncryptW(wide.c_str()));
        EXPECT_EQ(wide, TakeW(crypter.DecryptW(code.c_str())));
        EXPECT_EQ(wide, TakeW(crypter.DecryptWN(code.data(), code.size())));
        // Three plain bytes give one whole unit.
        const std::string odd = Take(crypter.EncryptBytes("abc", 3));
        EXPECT_EQ(std::u16string(1, u'a' | u'b' << 8), TakeW(crypter.DecryptW(Widen(odd).c_str())));
    }
}

TEST(StringCrypterTest, DamagedTextsAreRefused) {
    t_stringCrypter crypter(true);
    std::string good = Take(crypter.EncryptText("settings"));
    std::string badPadding = good;
    // Byte 15 of the random block's cipher flips the last padding byte.
    uint8_t raw[64];
    const int n = Base64Decode(raw, good.c_str());
    ASSERT_EQ(32, n);
    raw[15] ^= 1;
    char text[64];
    Base64Encode(text, raw, n);
    badPadding = text;
    uint8_t twenty[20] = {};
    Base64Encode(text, twenty, 20);
    const std::string notWholeBlocks = text;
    const struct {
        const char* name;
        std::string code;
    } cases[] = {
        {"outside the alphabet", "*" + good.substr(1)},
        {"cut short", good.substr(0, good.size() - 4)},
        {"not whole blocks", notWholeBlocks},
        {"bad padding", badPadding},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ("<null>", Take(crypter.DecryptText(c.code.c_str())));
        EXPECT_EQ(u"<null>", TakeW(crypter.DecryptW(Widen(c.code).c_str())));
        size_t length = 7;
        EXPECT_EQ(nullptr, crypter.DecryptBytes(c.code.c_str(), &length));
        EXPECT_EQ(0u, length);
    }
}

}  // namespace
}  // namespace n_porting
