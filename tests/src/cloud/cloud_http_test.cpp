// The HTTP exchange against a server thread on 127.0.0.1 that opens each
// request with the test's private key and answers sealed replies.
#include "src/cloud/cloud_http.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <chrono>
#include <string>

#include "src/cloud/cloud_queue.h"
#include "src/cloud/cloud_seal.h"
#include "tests/src/cloud/cloud_support.h"

namespace n_cloud {
namespace {

using cloudtest::Bytes;
using cloudtest::t_openedRequest;

const Bytes kRecord = {24,  0,   9,   8,   7,   6, 5, 4, 3, 2, 1, 0,
                       'c', 'l', 'o', 'u', 'd', 0, 0, 0, 0, 0, 0, 0};

std::string Sealed(const t_openedRequest& r) {
    return cloudtest::SealReply(r.keyBlock, kRecord);
}

struct t_exchange {
    t_exchange() : server([](const t_openedRequest&) { return std::string(); }) {
        client.Init("cands.vetra.test", "vetra_ime", server.Port().c_str(), "web_ime/pynet.php", 0,
                    true);
        client.SetHosts("127.0.0.1", "ep.vetra.test");
    }
    bool Send(const std::string& body = std::string("\x06\x00"
                                                    "body",
                                                    6)) {
        const std::u16string& q = CloudQueryTemplate();
        size = kReplyCapacity;
        return client.SendSealedRequest(q.data(), q.size(),
                                        reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                                        reply, &size);
    }
    cloudtest::t_server server;
    CloudHttpClient client;
    uint8_t reply[kReplyCapacity] = {};
    uint32_t size = 0;
};

TEST(CloudHttpTest, RepliesAreParsedAndOpened) {
    using t_build = std::string (*)(const t_openedRequest&);
    const struct {
        const char* name;
        t_build answer;
        const char* message;  // null: the exchange succeeds with the record
    } cases[] = {
        {"content length", [](const t_openedRequest& r) { return cloudtest::HttpReply(Sealed(r)); },
         nullptr},
        {"chunked, first chunk only",
         [](const t_openedRequest& r) {
             const std::string s = Sealed(r);
             char size[16];
             std::snprintf(size, sizeof size, "%zX", s.size());
             return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size) +
                    "\r\n" + s + "\r\n4\r\nAAAA\r\n0\r\n\r\n";
         },
         nullptr},
        {"lower-case l wins",
         [](const t_openedRequest& r) {
             const std::string s = Sealed(r);
             return "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-length: " +
                    std::to_string(s.size()) + "\r\n\r\n" + s;
         },
         nullptr},
        {"blanks before 120",
         [](const t_openedRequest& r) {
             std::string s = Sealed(r) + "\r\n";
             s.resize(120, 'x');
             return "HTTP/1.1 200 OK\r\nContent-Length:     120\r\n\r\n" + s;
         },
         nullptr},
        {"HTTP/1.0",
         [](const t_openedRequest& r) {
             return "HTTP/1.0" + cloudtest::HttpReply(Sealed(r)).substr(8);
         },
         "服务器的反馈不是HTTP1.1"},
        {"404",
         [](const t_openedRequest&) { return std::string("HTTP/1.1 404 Not Found\r\n\r\n"); },
         "服务器反馈不成功的状态："},
        {"no status line end",
         [](const t_openedRequest&) { return std::string("HTTP/1.1 200 OK"); },
         "服务器数据错误：HTTP协议内容为空"},
        {"no length",
         [](const t_openedRequest&) { return std::string("HTTP/1.1 200 OK\r\n\r\nabcd"); },
         "服务器数据错误：找不到内容长度字段"},
        {"length 0", [](const t_openedRequest&) { return cloudtest::HttpReply(""); },
         "服务器数据错误：长度字段值不合法"},
        {"no body start",
         [](const t_openedRequest&) {
             return std::string("HTTP/1.1 200 OK\r\nContent-Length: 44\r\n");
         },
         "服务器数据错误：找不到内容开头"},
        {"length beyond what arrived",
         [](const t_openedRequest& r) {
             const std::string s = Sealed(r);
             return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(s.size() + 1) +
                    "\r\n\r\n" + s;
         },
         "服务器数据错误：反馈内容长度不足声明长度"},
        {"chunk beyond the data",
         [](const t_openedRequest& r) {
             return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFF\r\n" + Sealed(r) +
                    "\r\n";
         },
         "服务器数据错误：chunk格式错误"},
        {"chunk size not hexadecimal",
         [](const t_openedRequest& r) {
             return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2g\r\n" + Sealed(r) +
                    "\r\n";
         },
         "服务器数据错误：chunk格式错误"},
        {"9000 bytes",
         [](const t_openedRequest&) { return cloudtest::HttpReply(std::string(9000, 'A')); },
         "反馈数据超过缓存长度"},
        {"body that does not open",
         [](const t_openedRequest&) { return cloudtest::HttpReply("QUJDRA=="); },
         "decryptHttpRequest failed."},
        {"closes at once", [](const t_openedRequest&) { return std::string(); }, "反馈数据为空"},
    };
    t_exchange x;
    ASSERT_TRUE(x.client.Resolve());
    for (const auto& c : cases) {
        x.server.SetAnswer(c.answer);
        cloudtest::t_logCapture log;
        const bool ok = x.Send();
        EXPECT_EQ(ok, c.message == nullptr) << c.name << ": " << log.All();
        if (ok) {
            EXPECT_EQ(Bytes(x.reply, x.reply + x.size), kRecord) << c.name;
        } else {
            EXPECT_TRUE(log.Has(c.message) && log.Has("远程问答失败"))
                << c.name << ": " << log.All();
        }
    }
    const auto requests = x.server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(requests[0].ok);
    EXPECT_EQ(requests[0].body, std::string("\x06\x00"
                                            "body",
                                            6));
}

TEST(CloudHttpTest, FailuresBeforeTheReply) {
    cloudtest::t_logCapture log;
    t_exchange x;
    EXPECT_FALSE(x.Send());
    EXPECT_TRUE(log.Has("远程问答失败，连接尚未初始化"));
    ASSERT_TRUE(x.client.Resolve());
    EXPECT_FALSE(x.Send(std::string(9990, 'b')));
    EXPECT_TRUE(log.Has("内容过长") && log.Has("远程问答答失败"));
    SetSealPublicKey("not hexadecimal");  // sealing fails: nothing is sent
    EXPECT_FALSE(x.Send());
    EXPECT_TRUE(log.Has("......") && log.Has("can't use encrypt cloud"));
    EXPECT_EQ(x.server.Connections(), 0);
    SetSealPublicKey(cloudtest::TestModulus().c_str());

    CloudHttpClient refused;
    refused.Init("cands.vetra.test", "vetra_ime", "1", "web_ime/pynet.php", 0, true);
    refused.SetHosts("127.0.0.1", "ep.vetra.test");
    ASSERT_TRUE(refused.Resolve());
    uint32_t size = kReplyCapacity;
    EXPECT_FALSE(refused.SendSealedRequest(u"a", 1, nullptr, 0, x.reply, &size));
    EXPECT_TRUE(log.Has("远程问答失败：无法和服务器建立连接"));

    CloudHttpClient nowhere;
    nowhere.SetHosts("nowhere.invalid.test", "ep.vetra.test");
    SetCloudResolver([](const char*, const char*, const struct addrinfo*, struct addrinfo**) {
        return EAI_NONAME;
    });
    EXPECT_FALSE(nowhere.Resolve());
    SetCloudResolver(nullptr);
    EXPECT_TRUE(log.Has("socket http 获取连接地址失败:"));
}

TEST(CloudHttpTest, QueryEndingInAmpersandLosesIt) {
    CloudHttpClient client;
    client.Init("cands.vetra.test", "vetra_ime", "80", "web_ime/pynet.php", 0, true);
    ASSERT_TRUE(client.BuildPost(nullptr, 0, u"a=1&", 4, nullptr));
    EXPECT_EQ(std::string(client.RequestText()),
              "POST /web_ime/pynet.php?a=1 HTTP/1.1\r\nContent-Length: 0\r\n\r\n\r\n\r\n");
}

TEST(CloudHttpTest, SilentPeerTimesOutAndTheNextRequestWorks) {
    t_exchange x;
    ASSERT_TRUE(x.client.Resolve());
    x.server.SetAnswer(
        [](const t_openedRequest&) { return std::string(cloudtest::t_server::kSilent); });
    cloudtest::t_logCapture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(x.Send());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
    EXPECT_TRUE(log.Has("接收数据失败"));
    x.server.SetAnswer([](const t_openedRequest& r) { return cloudtest::HttpReply(Sealed(r)); });
    EXPECT_TRUE(x.Send());
}

}  // namespace
}  // namespace n_cloud
