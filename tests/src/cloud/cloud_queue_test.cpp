// The newest-wins queue and its worker against a server thread on 127.0.0.1:
// dropped requests, resolution that fails and comes back, body lengths, and
// the engine's submission with the cloud off and on.
#include "src/cloud/cloud_queue.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "src/cloud/cloud_http.h"
#include "src/cloud/cloud_reply.h"
#include "tests/src/cloud/cloud_support.h"

namespace n_cloud {
namespace {

using cloudtest::Bytes;
using cloudtest::t_openedRequest;

// Records the ids of the replies it gets.
class t_recorder : public t_cloudHandler {
public:
    void OnReply(const CloudRequest& reply) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ids.push_back(reply.id);
        m_changed.notify_all();
    }
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_ids.size() >= count; });
    }
    std::vector<uint32_t> Ids() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ids;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<uint32_t> m_ids;
};

// A worker of its own; like the process-wide one it is never stopped, so its
// objects are never destroyed.
struct t_worker {
    explicit t_worker(int port) {
        arg->handler = handler;
        arg->queue = queue;
        arg->config.gatewayHost = "127.0.0.1";
        arg->config.gatewayPort = std::to_string(port);
        arg->config.endpointHost = "ep.vetra.test";
        arg->config.serverHost = "cands.vetra.test";
        EXPECT_TRUE(StartCloudWorker(arg));
    }
    void Push(uint32_t id, const Bytes& data) {
        CloudRequest r;
        r.Allocate(data.size());
        if (!data.empty()) std::memcpy(r.data, data.data(), data.size());
        r.SetId(id);
        queue->Push(r);
    }
    t_recorder* handler = new t_recorder;
    t_cloudQueue* queue = new t_cloudQueue;
    t_cloudWorkerArg* arg = new t_cloudWorkerArg;
};

template <class Pred>
bool Eventually(Pred pred) {
    for (int i = 0; i < 1000 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pred();
}

std::string Answer(const t_openedRequest& r, const std::string&) {
    return cloudtest::HttpReply(cloudtest::SealReply(r.keyBlock, Bytes(24, 1)));
}

Bytes Record(uint16_t length, size_t blockSize, char fill) {
    Bytes b(blockSize, uint8_t(fill));
    b[0] = uint8_t(length);
    b[1] = uint8_t(length >> 8);
    return b;
}

TEST(CloudQueueTest, OnlyTheNewestPushedDuringAnExchangeIsSent) {
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    std::atomic<int> answered{0};
    cloudtest::t_server server([&](const t_openedRequest& r, const std::string& raw) {
        if (answered++ == 0) std::lock_guard<std::mutex> wait(gate);  // the first exchange waits for the test
        return Answer(r, raw);
    });
    const size_t baseline = CloudLiveRequestBlocks();
    t_worker w(server.Port());
    w.Push(1, Record(4, 4, 'a'));
    ASSERT_TRUE(Eventually([&] { return server.Connections() == 1; }));
    for (uint32_t id = 2; id <= 4; ++id) w.Push(id, Record(4, 4, char('a' + id - 1)));
    EXPECT_EQ(CloudLiveRequestBlocks(), baseline + 1 + 1 + 3);  // reply block, request in flight, three queued
    held.unlock();
    ASSERT_TRUE(w.handler->WaitFor(2));
    EXPECT_EQ(w.handler->Ids(), (std::vector<uint32_t>{1, 4}));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].body.substr(2), "dd");
    EXPECT_TRUE(Eventually([&] { return CloudLiveRequestBlocks() == baseline + 1; }));  // the others were freed
}

TEST(CloudQueueTest, BodyIsTheStoredLengthWithinTheBlock) {
    const struct {
        uint16_t stored;
        size_t block;
        size_t sent;
    } cases[] = {{0, 2, 0}, {6, 10, 6}, {500, 10, 10}, {0x8001, 10, 0}};
    cloudtest::t_server server(Answer);
    t_worker w(server.Port());
    uint32_t id = 0;
    for (const auto& c : cases) {
        w.Push(++id, Record(c.stored, c.block, 'z'));
        ASSERT_TRUE(w.handler->WaitFor(id));
        const t_openedRequest r = server.Requests().back();
        EXPECT_TRUE(r.hasBody);
        EXPECT_EQ(r.body.size(), c.sent) << c.stored;
    }
}

// Fails while `g_down` is set; counts its calls.
std::atomic<bool> g_down{true};
std::atomic<int> g_resolves{0};
int FlakyResolve(const char* host, const char* service, const struct addrinfo* hints, struct addrinfo** out) {
    ++g_resolves;
    return g_down ? EAI_AGAIN : getaddrinfo(host, service, hints, out);
}

TEST(CloudQueueTest, UnresolvableHostDropsRequestsUntilItResolves) {
    cloudtest::t_server server(Answer);
    SetCloudResolver(FlakyResolve);
    const size_t baseline = CloudLiveRequestBlocks();
    t_worker w(server.Port());
    for (uint32_t id = 1; id <= 10000; ++id) w.Push(id, Record(64, 64, 'q'));
    EXPECT_TRUE(Eventually([&] { return w.queue->Size() == 0 && CloudLiveRequestBlocks() == baseline + 1; }));
    EXPECT_EQ(g_resolves.load(), 1);  // retried at most once per 30 s
    EXPECT_TRUE(w.handler->Ids().empty());
    g_down = false;
    SetCloudResolveRetryMs(0);
    w.Push(10001, Record(4, 4, 'r'));
    ASSERT_TRUE(w.handler->WaitFor(1));
    EXPECT_EQ(w.handler->Ids(), std::vector<uint32_t>{10001});
    SetCloudResolver(nullptr);
    SetCloudResolveRetryMs(30000);
}

// The engine's road: nothing is queued with the cloud off; once on, a record
// comes back to the helper as an element.
class t_helper : public IVetraCoreCloudHelper {
public:
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
    unsetenv("VETRA_CLOUD_GATEWAY_HOST");
    const Bytes record = Record(24, 1024, 'k');
    EXPECT_FALSE(InitCloud(&helper));
    EXPECT_FALSE(CloudSubmitRecord(1, record.data(), record.size()));
    EXPECT_EQ(CloudQueue().Size(), 0u);

    cloudtest::t_server server([](const t_openedRequest& r, const std::string&) {
        Bytes reply(28, 0);  // W = 2 ("A"), P = 0, Q = 0
        reply[0] = 28;
        reply[20] = 2;
        reply[22] = 'A';
        return cloudtest::HttpReply(cloudtest::SealReply(r.keyBlock, reply));
    });
    setenv("VETRA_CLOUD_GATEWAY_HOST", "127.0.0.1", 1);
    setenv("VETRA_CLOUD_GATEWAY_PORT", server.PortText().c_str(), 1);
    setenv("VETRA_CLOUD_RSA_MODULUS", cloudtest::TestKeys().ModulusHex().c_str(), 1);
    ASSERT_TRUE(InitCloud(&helper));
    EXPECT_FALSE(CloudSubmitRecord(kNoRequestId, record.data(), record.size()));
    EXPECT_FALSE(CloudSubmitRecord(1, Record(1, 1024, 'k').data(), 1024));
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
