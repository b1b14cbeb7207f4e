// The newest-wins queue and its worker against a server thread on 127.0.0.1:
// dropped requests, resolution that fails and comes back, body lengths, and
// the engine's submission with the cloud off and on.
#include "src/cloud/cloud_queue.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "src/cloud/cloud_http.h"
#include "src/cloud/cloud_reply.h"
#include "tests/src/cloud/cloud_support.h"

namespace n_cloud {
namespace {

using cloudtest::Bytes;
using cloudtest::t_openedRequest;

template <class Pred>
bool Eventually(Pred pred) {
    for (int i = 0; i < 1000 && !pred(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pred();
}

// A worker of its own that records the ids it is answered for. Like the
// process-wide one it never stops, so its objects are never destroyed.
struct t_worker : t_cloudHandler {
    explicit t_worker(const std::string& port) {
        arg->handler = this;
        arg->queue = queue;
        arg->config = {"127.0.0.1", port, "ep.vetra.test", "cands.vetra.test", ""};
        EXPECT_TRUE(StartCloudWorker(arg));
    }
    void OnReply(const CloudRequest& reply) override {
        std::lock_guard<std::mutex> lock(mutex);
        ids.push_back(reply.id);
    }
    std::vector<uint32_t> Ids() {
        std::lock_guard<std::mutex> lock(mutex);
        return ids;
    }
    void Push(uint32_t id, uint16_t stored, size_t blockSize) {
        CloudRequest r;
        r.Allocate(blockSize);
        std::memset(r.data, 'a' + int(id % 26), blockSize);
        std::memcpy(r.data, &stored, 2);
        r.SetId(id);
        queue->Push(r);
    }
    t_cloudQueue* queue = new t_cloudQueue;
    t_cloudWorkerArg* arg = new t_cloudWorkerArg;
    std::mutex mutex;
    std::vector<uint32_t> ids;
};

std::string Answer(const t_openedRequest& r) {
    return cloudtest::HttpReply(cloudtest::SealReply(r.keyBlock, Bytes(24, 1)));
}

TEST(CloudQueueTest, OnlyTheNewestPushedDuringAnExchangeIsSent) {
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    cloudtest::t_server server([&](const t_openedRequest& r) {
        if (r.body[2] == 'b')
            std::lock_guard<std::mutex> wait(gate);  // the first exchange waits for the test
        return Answer(r);
    });
    const size_t baseline = CloudLiveRequestBlocks();
    auto* w = new t_worker(server.Port());
    w->Push(1, 4, 4);
    ASSERT_TRUE(Eventually([&] { return server.Connections() == 1; }));
    for (uint32_t id = 2; id <= 4; ++id) w->Push(id, 4, 4);
    EXPECT_EQ(CloudLiveRequestBlocks(), baseline + 5);  // reply block, one in flight, three queued
    held.unlock();
    ASSERT_TRUE(Eventually([&] { return w->Ids().size() == 2; }));
    EXPECT_EQ(w->Ids(), (std::vector<uint32_t>{1, 4}));
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_TRUE(Eventually(
        [&] { return CloudLiveRequestBlocks() == baseline + 1; }));  // the others were freed
}

TEST(CloudQueueTest, BodyIsTheStoredLengthWithinTheBlock) {
    const struct {
        uint16_t stored;
        size_t block, sent;
    } cases[] = {{0, 2, 0}, {6, 10, 6}, {500, 10, 10}, {0x8001, 10, 0}};
    cloudtest::t_server server(Answer);
    auto* w = new t_worker(server.Port());
    uint32_t id = 0;
    for (const auto& c : cases) {
        w->Push(++id, c.stored, c.block);
        ASSERT_TRUE(Eventually([&] { return w->Ids().size() == id; }));
        const t_openedRequest r = server.Requests().back();
        EXPECT_TRUE(r.hasBody);
        EXPECT_EQ(r.body.size(), c.sent) << c.stored;
    }
}

std::atomic<bool> g_down{true};
std::atomic<int> g_resolves{0};

TEST(CloudQueueTest, UnresolvableHostDropsRequestsUntilItResolves) {
    cloudtest::t_server server(Answer);
    g_down = true;
    g_resolves = 0;
    SetCloudResolver(
        [](const char* host, const char* service, const addrinfo* hints, addrinfo** out) {
            ++g_resolves;
            return g_down ? EAI_AGAIN : getaddrinfo(host, service, hints, out);
        });
    const size_t baseline = CloudLiveRequestBlocks();
    auto* w = new t_worker(server.Port());
    for (uint32_t id = 1; id <= 10000; ++id) w->Push(id, 64, 64);
    EXPECT_TRUE(Eventually(
        [&] { return w->queue->Size() == 0 && CloudLiveRequestBlocks() == baseline + 1; }));
    EXPECT_EQ(g_resolves.load(), 1);  // retried at most once per 30 s
    g_down = false;
    SetCloudResolveRetryMs(0);
    w->Push(10001, 4, 4);
    ASSERT_TRUE(Eventually([&] { return !w->Ids().empty(); }));
    EXPECT_EQ(w->Ids(), std::vector<uint32_t>{10001});
    SetCloudResolver(nullptr);
    SetCloudResolveRetryMs(30000);
}

struct t_helper : IVetraCoreCloudHelper {
    uint32_t GetRequestId() override { return id.load(); }
    void OnCloudResult(t_cloudResultElement* element) override {
        std::lock_guard<std::mutex> lock(mutex);
        elements.emplace_back(element);
    }
    std::atomic<uint32_t> id{kNoRequestId};
    std::mutex mutex;
    std::vector<std::unique_ptr<t_cloudResultElement>> elements;
};

TEST(CloudQueueTest, SubmissionNeedsAGatewayAndARecord) {
    static t_helper helper;  // the global handler keeps pointing at it
    Bytes record(1024, 'k');
    record[0] = 24;
    record[1] = 0;
    unsetenv("VETRA_CLOUD_GATEWAY_HOST");
    EXPECT_FALSE(InitCloud(&helper));
    EXPECT_FALSE(CloudSubmitRecord(1, record.data(), record.size()));
    EXPECT_EQ(CloudQueue().Size(), 0u);

    cloudtest::t_server server([](const t_openedRequest& r) {
        Bytes reply(28, 0);  // W = 2 ("A"), P = 0, Q = 0
        reply[0] = 28;
        reply[20] = 2;
        reply[22] = 'A';
        return cloudtest::HttpReply(cloudtest::SealReply(r.keyBlock, reply));
    });
    setenv("VETRA_CLOUD_GATEWAY_HOST", "127.0.0.1", 1);
    setenv("VETRA_CLOUD_GATEWAY_PORT", server.Port().c_str(), 1);
    setenv("VETRA_CLOUD_RSA_MODULUS", cloudtest::TestModulus().c_str(), 1);
    ASSERT_TRUE(InitCloud(&helper));
    EXPECT_FALSE(CloudSubmitRecord(kNoRequestId, record.data(), record.size()));
    const uint8_t tooShort[2] = {1, 0};
    EXPECT_FALSE(CloudSubmitRecord(1, tooShort, 2));
    helper.id = CloudRequestIds().Next();
    ASSERT_TRUE(CloudSubmitRecord(helper.id, record.data(), record.size()));
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> lock(helper.mutex);
        return !helper.elements.empty();
    }));
    EXPECT_EQ(helper.elements[0]->text, u"A");
    EXPECT_EQ(server.Requests().at(0).body.size(), 24u);
    unsetenv("VETRA_CLOUD_GATEWAY_HOST");
}

}  // namespace
}  // namespace n_cloud
