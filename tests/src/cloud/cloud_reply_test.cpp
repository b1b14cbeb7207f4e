// The reply-record check, the reply handler, request ids and the hand-over
// to the main thread through the module mutex and the wake-up socket.
#include "src/cloud/cloud_reply.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/src/cloud/cloud_support.h"

namespace n_cloud {
namespace {

using cloudtest::Bytes;

void Put16(Bytes& b, size_t at, uint16_t v) {
    if (at + 2 > b.size()) b.resize(at + 2);
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

// L, then W bytes of word, P bytes of pinyin, Q bytes of input ends, laid
// out in order; `size` cuts the bytes (0: as long as the layout).
Bytes Reply(int l, uint16_t w, uint16_t p, uint16_t q, size_t size = 0) {
    Bytes b(20, 0);
    Put16(b, 20, w);
    for (uint16_t i = 0; i + 1 < w; i += 2) Put16(b, 22 + i, uint16_t(0x4E00 + i));
    if (w % 2) b.push_back(0xEE);
    Put16(b, 22 + w, p);
    for (uint16_t i = 0; i < p / 2 && p <= 127; ++i) Put16(b, 24 + w + 2 * i, uint16_t(100 + i));
    if (p <= 127) {
        Put16(b, 24 + w + p, q);
        for (uint16_t i = 0; i < q / 2 && q <= 127; ++i)
            Put16(b, 26 + w + p + 2 * i, uint16_t(2 * (i + 1)));
    }
    Put16(b, 0, uint16_t(l < 0 ? b.size() : size_t(l)));
    if (size) b.resize(size);
    return b;
}

TEST(CloudReplyTest, RecordCheck) {
    const struct {
        const char* name;
        Bytes bytes;
        bool kept;
        uint32_t units, pinyin, ends, covered;
    } cases[] = {
        {"whole", Reply(-1, 4, 4, 4), true, 2, 2, 2, 4},
        {"L 19", Reply(19, 4, 4, 4), false, 0, 0, 0, 0},
        {"W 128", Reply(-1, 128, 4, 4), false, 0, 0, 0, 0},
        {"P 200: no pinyin, covered 0", Reply(-1, 4, 200, 0), true, 2, 0, 0, 0},
        {"Q 200: no input ends", Reply(-1, 4, 4, 200), true, 2, 2, 0, 0},
        {"Q past L", Reply(34, 4, 4, 4), false, 0, 0, 0, 0},
        {"P past L", Reply(28, 4, 4, 4), false, 0, 0, 0, 0},
        {"L past the opened size", Reply(200, 4, 4, 4, 34), false, 0, 0, 0, 0},
        {"odd W drops its last byte", Reply(-1, 5, 0, 2), true, 2, 0, 1, 2},
        {"no Q field", Reply(32, 4, 4, 4, 32), false, 0, 0, 0, 0},
        {"one byte", Bytes{30}, false, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        t_cloudReplyRecord r;
        ASSERT_EQ(CheckCloudReplyRecord(c.bytes.data(), c.bytes.size(), &r), c.kept) << c.name;
        if (!c.kept) continue;
        const auto e = BuildCloudElement(r);
        ASSERT_TRUE(e) << c.name;
        EXPECT_EQ(e->text.size(), c.units) << c.name;
        EXPECT_EQ(e->text[0], u'\u4E00') << c.name;
        EXPECT_EQ(e->pinyin.size(), c.pinyin) << c.name;
        EXPECT_EQ(e->hasPinyin, c.pinyin > 0) << c.name;
        EXPECT_EQ(e->inputEnds.size(), c.ends) << c.name;
        EXPECT_EQ(e->inputLength, c.covered) << c.name;
    }
}

TEST(CloudReplyTest, HandlerDropsStaleReplies) {
    CVetraCoreCloudHelperDummy helper;
    int readEnd = -1;
    ASSERT_TRUE(helper.OpenWakeChannel(&readEnd));
    t_cloudHandlerIme handler;
    Bytes record = Reply(-1, 4, 4, 4);
    CloudRequest reply;
    reply.data = record.data();
    reply.size = record.size();
    reply.id = 7;
    handler.OnReply(reply);  // no helper yet
    handler.SetHelper(&helper);
    helper.SetRequestId(8);
    handler.OnReply(reply);  // stale
    EXPECT_EQ(helper.PendingResult(), nullptr);
    helper.SetRequestId(7);
    handler.OnReply(reply);
    std::lock_guard<std::mutex> lock(helper.ModuleMutex());
    ASSERT_NE(helper.PendingResult(), nullptr);
    EXPECT_EQ(helper.PendingResult()->inputEnds, (std::vector<int8_t>{2, 4}));
    char byte[4];
    EXPECT_EQ(recv(readEnd, byte, sizeof byte, 0), 1);  // one wake-up for one answer
    close(readEnd);
}

TEST(CloudReplyTest, RequestIdsWrapToOne) {
    t_cloudRequestIds ids;
    const std::pair<uint32_t, uint32_t> cases[] = {
        {0, 1}, {41, 42}, {0xFFFFFFFD, 0xFFFFFFFE}, {0xFFFFFFFE, 1}};
    for (const auto& [last, next] : cases) {
        ids.SetLast(last);
        EXPECT_EQ(ids.Next(), next);
        EXPECT_EQ(ids.Current(), next);
    }
    ids.Reset();
    EXPECT_EQ(ids.Current(), 0u);
}

TEST(CloudReplyTest, HandOverWakesOncePerAnswerAndNeverBlocks) {
    CVetraCoreCloudHelperDummy helper;
    int readEnd = -1;
    ASSERT_TRUE(helper.OpenWakeChannel(&readEnd));
    // A worker hands over while the main thread takes the answers under the module mutex.
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) helper.OnCloudResult(new t_cloudResultElement);
    });
    int wakeUps = 0;
    char buf[256];
    const auto start = std::chrono::steady_clock::now();
    while (wakeUps < 200 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        const ssize_t n = recv(readEnd, buf, sizeof buf, 0);
        wakeUps += n > 0 ? int(n) : 0;
        std::lock_guard<std::mutex> lock(helper.ModuleMutex());
        if (helper.PendingFlag() && helper.PendingResult()) helper.ClearPendingFlag();
    }
    worker.join();
    EXPECT_EQ(wakeUps, 200);
    // Nobody reads now: the socket fills and each hand-over still returns at once.
    cloudtest::t_logCapture log;
    for (int i = 0; i < 5000; ++i) helper.OnCloudResult(new t_cloudResultElement);
    EXPECT_NE(log.All().find("write error:"), std::string::npos);
    helper.ReleasePending();
    close(readEnd);
}

}  // namespace
}  // namespace n_cloud
