// Sealing and opening: requests open back with the test's private key, fresh
// keys per request, AES sizes, and every way a reply can fail to open.
#include "src/cloud/cloud_seal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "porting3/crypto.h"
#include "src/cloud/cloud_http.h"
#include "src/cloud/cloud_queue.h"
#include "tests/src/cloud/cloud_support.h"

namespace n_cloud {
namespace {

using cloudtest::Bytes;

std::string FormOf(const std::string& request) {
    const size_t blank = request.find("\r\n\r\n");
    return blank == std::string::npos ? "" : request.substr(blank + 4);
}

TEST(CloudSealTest, SealedRequestOpensBackWithFreshKeys) {
    cloudtest::TestModulus();  // installs the test's public key
    CloudHttpClient client;
    client.Init("cands.vetra.test", "vetra_ime", "80", "web_ime/pynet.php", 0, true);
    client.SetHosts("gw.vetra.test", "ep.vetra.test");
    const std::u16string& query = CloudQueryTemplate();
    const std::string body(
        "\x10\x00"
        "record-bytes",
        14);
    std::string seenK, seenV;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(client.BuildPost(reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                                     query.data(), query.size(), nullptr));
        ASSERT_TRUE(client.SealRequest());
        const std::string request = client.RequestText();
        const std::string form = FormOf(request);
        EXPECT_EQ(
            request.rfind("POST /q HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Host: ep.vetra.test\r\nConnection: close\r\nUser-Agent: vetra_ime\r\n"
                          "Content-Length: " +
                              std::to_string(form.size()) + "\r\n\r\n",
                          0),
            0u);
        const cloudtest::t_openedRequest opened = cloudtest::OpenRequest(form);
        ASSERT_TRUE(opened.ok);
        EXPECT_EQ(opened.inner, "http://cands.vetra.test/web_ime/pynet.php");
        EXPECT_EQ(opened.query, std::string(query.begin(), query.end()) + " ");
        EXPECT_EQ(opened.body, body);
        EXPECT_EQ(opened.k.size(), 172u);
        EXPECT_EQ(opened.v.size(), 172u);
        EXPECT_NE(opened.k, seenK);
        EXPECT_NE(opened.v, seenV);
        EXPECT_EQ(Bytes(client.SealingKey(), client.SealingKey() + 48), opened.keyBlock);
        seenK = opened.k;
        seenV = opened.v;
    }
    // An empty body still sends its field, empty.
    ASSERT_TRUE(client.BuildPost(nullptr, 0, query.data(), query.size(), nullptr));
    ASSERT_TRUE(client.SealRequest());
    const std::string form = FormOf(client.RequestText());
    EXPECT_EQ(form.substr(form.size() - 3), "&p=");
}

TEST(CloudSealTest, AesPadsToTheNextBlock) {
    const uint8_t key[32] = {1}, vector[16] = {2}, bytes[32] = {3};
    for (const auto& [in, expected] : {std::pair<size_t, size_t>{15, 16}, {16, 32}}) {
        size_t n = 0;
        uint8_t* out = Aes256CbcEncrypt(bytes, in, &n, key, 32, vector, 16);
        EXPECT_EQ(n, expected) << in;
        FreeSealBuffer(out);
    }
    int error = 0;
    uint32_t length = 0;
    EXPECT_EQ(RsaPublicEncrypt(nullptr, 16, &length, &error), nullptr);
    EXPECT_EQ(error, -10);
}

TEST(CloudSealTest, OpeningChecksEveryLayer) {
    Bytes keyBlock(48);
    for (size_t i = 0; i < keyBlock.size(); ++i) keyBlock[i] = uint8_t(i * 7 + 1);
    Bytes record(40);  // little to compress: the sealed text spans several blocks
    for (size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i * i * 31 + 7);
    // A second-to-last cipher byte flipped by 0x80 turns the padding byte above 16.
    std::string badPadding;
    {
        Bytes raw = cloudtest::FromBase64(cloudtest::SealReply(keyBlock, record));
        raw[raw.size() - 17] ^= 0x80;
        char* text = n_porting::Base64EncodeAlloc(raw.data(), int32_t(raw.size()));
        badPadding = text;
        std::free(text);
    }
    const Bytes twenty(20, 1);
    char* notBlocks = n_porting::Base64EncodeAlloc(twenty.data(), 20);
    const struct {
        const char* name;
        std::string text;
        bool opens;
    } cases[] = {
        {"valid", cloudtest::SealReply(keyBlock, record), true},
        {"then CR LF", cloudtest::SealReply(keyBlock, record) + "\r\ngarbage", true},
        {"N zero", cloudtest::SealReply(keyBlock, record, 0), false},
        {"N all ones", cloudtest::SealReply(keyBlock, record, 0xFFFFFFFF), false},
        {"N above 8192", cloudtest::SealReply(keyBlock, Bytes(8193, 'a')), false},
        {"N above inflated", cloudtest::SealReply(keyBlock, record, 41), false},
        {"N below inflated", cloudtest::SealReply(keyBlock, record, 39), false},
        {"three bytes", cloudtest::SealPlain(keyBlock, {0, 0, 1}), false},
        {"no stream", cloudtest::SealPlain(keyBlock, {0, 0, 0, 1}), false},
        {"bad padding", badPadding, false},
        {"not whole blocks", notBlocks, false},
        {"outside alphabet", "*" + cloudtest::SealReply(keyBlock, record).substr(1), false},
    };
    std::free(notBlocks);
    for (const auto& c : cases) {
        uint32_t n = 77;
        uint8_t* opened =
            decryptHttpRequest(keyBlock.data(), c.text.data(), c.text.size(), kReplyCapacity, &n);
        EXPECT_EQ(opened != nullptr, c.opens) << c.name;
        if (opened) {
            EXPECT_EQ(Bytes(opened, opened + n), record) << c.name;
        } else {
            EXPECT_EQ(n, 0u) << c.name;
        }
        FreeSealBuffer(opened);
    }
}

}  // namespace
}  // namespace n_cloud
