// Crypto wrappers: the RFC 4648, NIST SP 800-38A and RFC 1321 vectors, the
// Base64 bounds, PKCS#7 edges, RSA chunks with a key made here, and random draws.
#include "porting3/crypto.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "porting3/str16.h"
#include "tests/support/test_dir.h"

namespace n_porting {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

TEST(CryptoTest, Base64Rfc4648Vectors) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, code] : cases) {
        SCOPED_TRACE(code);
        const Bytes in = B(plain);
        const int n = int(in.size());
        char text[16];
        char16_t wide[16];
        EXPECT_EQ(int(std::strlen(code)), Base64Encode(text, in.data(), n));
        EXPECT_STREQ(code, text);
        Base64EncodeW(wide, in.data(), n);
        EXPECT_EQ(Widen(code), wide);
        EXPECT_EQ(int64_t(std::strlen(code)), Base64EncodedSize(n));
        EXPECT_EQ(n, Base64DecodedSize(code));
        uint8_t out[8] = {};
        EXPECT_EQ(n, Base64Decode(out, code));
        EXPECT_EQ(in, Bytes(out, out + n));
        EXPECT_EQ(n, Base64DecodeW(out, Widen(code).c_str()));
        EXPECT_EQ(in, Bytes(out, out + n));
    }
}

TEST(CryptoTest, Base64EdgesAndBounds) {
    struct Case {
        const char* name;
        std::u16string text;
        int result;
    } cases[] = {
        {"byte 0xC3", u"Zm9\u00C3", -1},
        {"unit 0x4E2D", u"Zm\u4E2Dv", -1},
        {"fourth neither pad nor letter", u"Zm9*", -1},
        {"plus and blank skipped", u"+ Zm9v", 3},
        {"carriage return first", u"\rZm9v", 0},
        {"ends at a carriage return", u"Zm9v\rZm9v", 3},
        {"ends after a pad", u"Zg==Zm9v", 1},
        {"cut group", u"Zm9vZm", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t out[16];
        EXPECT_EQ(c.result, Base64DecodeW(out, c.text.c_str()));
        std::string narrow;
        for (char16_t u : c.text) narrow.push_back(char(u));  // 0xC3 stays one byte
        if (c.text.find(u'\u4E2D') == std::u16string::npos) {
            EXPECT_EQ(c.result, Base64Decode(out, narrow.c_str()));
        }
    }
    EXPECT_EQ(0, Base64DecodedSize("Zm9"));
    EXPECT_EQ(3, Base64DecodedSizeMax(5));
    // The capacity is honoured: nothing is written past it.
    uint8_t out[8];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(-1, Base64DecodeBuf(out, 5, "Zm9vYmFy"));
    EXPECT_EQ(0xAA, out[5]);
    EXPECT_EQ(6, Base64DecodeBufW(out, 6, u"Zm9vYmFy"));
    EXPECT_EQ(-1, Base64DecodeBuf(out, 0, "Zg=="));
}

TEST(CryptoTest, Pkcs7Padding) {
    EXPECT_EQ(48u, GetPaddedSize(32, 16));
    EXPECT_EQ(32u, GetPaddedSize(31, 16));
    uint8_t buf[32];
    size_t size = 16;
    EXPECT_EQ(0, PadPkcs7(buf, &size, B("0123456789abcdef").data(), 16, 16));  // needs 32
    EXPECT_EQ(32u, size);
    ASSERT_EQ(1, PadPkcs7(buf, &size, B("abc").data(), 3, 16));
    EXPECT_EQ(16u, size);
    EXPECT_EQ(13, buf[15]);
    size_t length = 99;
    EXPECT_EQ(1, UnpadPkcs7(&length, buf, 16, 16));
    EXPECT_EQ(3u, length);
    const struct {
        const char* name;
        Bytes bytes;
    } bad[] = {
        {"last byte 0", Bytes(16, 0)},
        {"last byte above the block", Bytes(16, 17)},
        {"pad bytes differ",
         [] {
             Bytes b(16, 4);
             b[13] = 3;
             return b;
         }()},
        {"not a whole block", Bytes(15, 1)},
        {"empty", Bytes()},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        length = 99;
        EXPECT_EQ(0, UnpadPkcs7(&length, c.bytes.data(), c.bytes.size(), 16));
        EXPECT_EQ(0u, length);
    }
}

// NIST SP 800-38A F.2.1/F.2.2 (AES-128) and F.2.5/F.2.6 (AES-256), both
// ways, in one call and split into calls that chain through the vector.
TEST(CryptoTest, AesCbcNistVectors) {
    const Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes plain = FromHex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const struct {
        const char* name;
        Bytes key;
        Bytes cipher;
    } cases[] = {
        {"F.2.1/F.2.2", FromHex("2b7e151628aed2a6abf7158809cf4f3c"),
         FromHex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                 "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7")},
        {"F.2.5/F.2.6", FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4"),
         FromHex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                 "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        t_aesKey enc, dec;
        const int bits = int(c.key.size() * 8);
        ASSERT_TRUE(AesSetEncryptKey(&enc, c.key.data(), bits));
        ASSERT_TRUE(AesSetDecryptKey(&dec, c.key.data(), bits));
        for (const size_t split : {size_t(64), size_t(16), size_t(32)}) {
            SCOPED_TRACE(split);
            Bytes out(64), back(64), v1 = iv, v2 = iv;
            for (size_t at = 0; at < 64; at += split) {
                ASSERT_TRUE(
                    AesCbcEncrypt(v1.data(), out.data() + at, plain.data() + at, split, &enc));
                ASSERT_TRUE(
                    AesCbcDecrypt(v2.data(), back.data() + at, c.cipher.data() + at, split, &dec));
            }
            EXPECT_EQ(c.cipher, out);
            EXPECT_EQ(plain, back);
            EXPECT_EQ(Bytes(c.cipher.end() - 16, c.cipher.end()), v1);
            EXPECT_EQ(v1, v2);
        }
    }
}

TEST(CryptoTest, AesPartialBlocksAndRefusals) {
    const Bytes key(16, 7);
    t_aesKey enc, dec;
    ASSERT_TRUE(AesSetEncryptKey(&enc, key.data(), 128));
    ASSERT_TRUE(AesSetDecryptKey(&dec, key.data(), 128));
    Bytes seventeen(17, 0x5A), padded(32, 0);
    std::copy(seventeen.begin(), seventeen.end(), padded.begin());
    Bytes a(32), b(32), va(16, 1), vb(16, 1);
    ASSERT_TRUE(AesCbcEncrypt(va.data(), a.data(), seventeen.data(), 17, &enc));
    ASSERT_TRUE(AesCbcEncrypt(vb.data(), b.data(), padded.data(), 32, &enc));
    EXPECT_EQ(b, a);
    EXPECT_EQ(vb, va);
    const Bytes before = va;
    EXPECT_FALSE(AesCbcDecrypt(va.data(), b.data(), a.data(), 17, &dec));
    EXPECT_EQ(before, va);
    EXPECT_FALSE(AesCbcDecrypt(va.data(), b.data(), a.data(), 32, &enc));  // wrong direction
    t_aesKey other;
    EXPECT_FALSE(AesSetEncryptKey(&other, key.data(), 64));
    EXPECT_FALSE(AesCbcEncrypt(va.data(), b.data(), a.data(), 16, &other));
}

TEST(CryptoTest, Md5Rfc1321Suite) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& [text, hex] : cases) {
        SCOPED_TRACE(text);
        const size_t n = std::strlen(text);
        uint8_t one[16], inc[16], parsed[16];
        ASSERT_TRUE(Md5Digest(one, text, n));
        t_md5Context ctx;
        ASSERT_TRUE(Md5Init(&ctx));
        for (size_t i = 0; i < n; i += 7)
            ASSERT_TRUE(Md5Update(&ctx, text + i, std::min<size_t>(7, n - i)));
        ASSERT_TRUE(Md5Final(&ctx, inc));
        t_str shown;
        Md5ToHex(shown, one);
        EXPECT_EQ(Widen(hex), shown.GetStr());
        EXPECT_EQ(1, Md5Equal(one, inc));
        ASSERT_EQ(1, Md5FromHex(parsed, shown.GetStr()));
        EXPECT_EQ(1, Md5Equal(one, parsed));
    }
    uint8_t out[16];
    EXPECT_EQ(0, Md5FromHex(out, u"D41D8CD98F00B204E9800998ECF8427"));    // 31 units
    EXPECT_EQ(0, Md5FromHex(out, u"D41D8CD98F00B204E9800998ECF8427 E"));  // not a digit
    // The little-endian value and the text with its terminator.
    t_md5Context ctx;
    uint8_t viaCalls[16], direct[16];
    ASSERT_TRUE(Md5Init(&ctx) && Md5UpdateU32(&ctx, 0x64636261) && Md5UpdateStr16(&ctx, u"x"));
    ASSERT_TRUE(Md5Final(&ctx, viaCalls));
    ASSERT_TRUE(Md5Digest(direct, "abcdx\0\0\0", 8));
    EXPECT_EQ(1, Md5Equal(direct, viaCalls));
}

TEST(CryptoTest, Md5OfAFile) {
    testsupport::t_testDir dir("vetra-md5");
    std::string content(3 << 20, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = char(i * 131 + (i >> 13));
    ASSERT_TRUE(dir.Put("big", content));
    char16_t* root = Utf8ToStr16Alloc(dir.Path().c_str());
    const t_path path(root, u"big"), missing(root, u"missing");
    std::free(root);
    t_errorContext err;
    uint8_t fromFile[16], fromMemory[16];
    ASSERT_EQ(1, Md5File(err, path, fromFile));
    ASSERT_TRUE(Md5Digest(fromMemory, content.data(), content.size()));
    EXPECT_EQ(1, Md5Equal(fromFile, fromMemory));
    EXPECT_EQ(0, Md5File(err, missing, fromFile));
    EXPECT_EQ(std::u16string(u"Hash文件失败"), err.GetError());
}

// A 1024-bit key made here, handed over as hexadecimal texts.
struct t_testRsa {
    std::string n, e, d;
    t_testRsa() {
        EVP_PKEY* pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(1024));
        if (!pkey) return;
        for (auto [name, out] :
             {std::pair{OSSL_PKEY_PARAM_RSA_N, &n}, std::pair{OSSL_PKEY_PARAM_RSA_E, &e},
              std::pair{OSSL_PKEY_PARAM_RSA_D, &d}}) {
            BIGNUM* bn = nullptr;
            if (EVP_PKEY_get_bn_param(pkey, name, &bn) == 1) {
                char* hex = BN_bn2hex(bn);
                *out = hex;
                OPENSSL_free(hex);
            }
            BN_clear_free(bn);
        }
        EVP_PKEY_free(pkey);
    }
};

TEST(CryptoTest, RsaChunksRoundTrip) {
    const t_testRsa made;
    ASSERT_FALSE(made.d.empty());
    t_rsaKey pub, priv;
    ASSERT_EQ(1, RsaSetPublicKeyHex(&pub, made.n.c_str(), made.e.c_str()));
    ASSERT_EQ(1, RsaSetPrivateKeyHex(&priv, made.n.c_str(), made.e.c_str(), made.d.c_str()));
    EXPECT_EQ(128u, RsaModulusBytes(&pub));
    for (const size_t length : {size_t(117), size_t(118), size_t(300)}) {
        SCOPED_TRACE(length);
        Bytes in(length);
        ASSERT_TRUE(RandomBytes(in.data(), in.size()));
        const size_t blocks = (length + 116) / 117;
        Bytes sealed(blocks * 128), opened(length);
        size_t n = 0;
        EXPECT_EQ(0, RsaPublicEncryptChunks(in.data(), length, sealed.data(), sealed.size() - 1, &n,
                                            &pub));
        ASSERT_EQ(
            1, RsaPublicEncryptChunks(in.data(), length, sealed.data(), sealed.size(), &n, &pub));
        EXPECT_EQ(blocks * 128, n);
        ASSERT_EQ(
            1, RsaPrivateDecryptChunks(sealed.data(), n, opened.data(), opened.size(), &n, &priv));
        EXPECT_EQ(in, Bytes(opened.begin(), opened.begin() + n));
        sealed[5] ^= 1;
        EXPECT_EQ(0, RsaPrivateDecryptChunks(sealed.data(), sealed.size(), opened.data(),
                                             opened.size(), &n, &priv));
    }
    size_t n = 99;
    uint8_t none[1];
    EXPECT_EQ(1, RsaPublicEncryptChunks(none, 0, none, 0, &n, &pub));
    EXPECT_EQ(0u, n);
    // Type 1 padding: the private key signs, the public key recovers.
    uint8_t block[128], back[128];
    ASSERT_TRUE(RsaPrivateEncrypt(B("token").data(), 5, block, &priv));
    ASSERT_EQ(5, RsaPublicDecryptBlock(block, back, &pub));
    EXPECT_EQ(0, std::memcmp("token", back, 5));
    EXPECT_FALSE(RsaPrivateEncrypt(block, 118, back, &priv));
    EXPECT_EQ(0, RsaSetPublicKeyHex(&pub, "12G4", "10001"));
    EXPECT_EQ(0u, RsaModulusBytes(&pub));
}

TEST(CryptoTest, RandomDrawsDiffer) {
    uint8_t a[16] = {}, b[16] = {};
    ASSERT_TRUE(RandomBytes(a, sizeof a));
    ASSERT_TRUE(RandomBytes(b, sizeof b));
    EXPECT_NE(0, std::memcmp(a, b, sizeof a));
}

}  // namespace
}  // namespace n_porting
