// The newest-wins request queue and the cloud worker thread.
#include "src/cloud/cloud_queue.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>

#include "src/cloud/cloud_http.h"

namespace n_cloud {

namespace {

std::atomic<size_t> g_liveBlocks{0};
std::atomic<int64_t> g_retryMs{30000};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void* WorkerEntry(void* p) {
    auto* arg = static_cast<t_cloudWorkerArg*>(p);
    CloudWorkerLoop(arg->queue, arg->handler, arg->config);
    return nullptr;
}

}  // namespace

void CloudRequest::Clear() {
    id = kNoRequestId;
    size = 0;
    if (data) {
        std::free(data);
        g_liveBlocks.fetch_sub(1);
    }
    data = nullptr;
}

bool CloudRequest::Allocate(uint64_t n) {
    if (data) {
        std::free(data);
        g_liveBlocks.fetch_sub(1);
    }
    data = n ? static_cast<uint8_t*>(std::malloc(size_t(n))) : nullptr;
    size = data ? n : 0;
    if (data) g_liveBlocks.fetch_add(1);
    return data || n == 0;
}

size_t CloudLiveRequestBlocks() {
    return g_liveBlocks.load();
}

void t_cloudQueue::Push(const CloudRequest& request) {
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_items.push_back(request);
    }
    m_ready.notify_all();
}

bool t_cloudQueue::Wait() {
    for (;;) {
        size_t count;
        {
            std::unique_lock<std::recursive_mutex> lock(m_mutex);
            if (m_items.empty()) m_ready.wait(lock);
            count = m_items.size();
        }
        if (count > 0) return true;
        usleep(100000);
    }
}

bool t_cloudQueue::TakeNewest(CloudRequest* out) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_items.empty()) return false;
    *out = m_items.back();
    m_items.pop_back();
    return true;
}

void t_cloudQueue::Clear() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (CloudRequest& r : m_items) r.Clear();
    m_items.clear();
}

size_t t_cloudQueue::Size() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_items.size();
}

t_cloudQueue& CloudQueue() {
    static auto* queue = new t_cloudQueue;
    return *queue;
}

const std::u16string& CloudQueryTemplate() {
    static const auto* text = new std::u16string(
        u"durtot=15&durcon=0&durtran=15&h=d84B0E2C917F5A3D06E4C8B12A9F7E53&v=6.0.0.6000&r=0000_"
        u"vetrapy");
    return *text;
}

void SetCloudResolveRetryMs(int64_t ms) {
    g_retryMs.store(ms);
}

bool StartCloudWorker(t_cloudWorkerArg* arg) {
    if (!arg || !arg->queue || !arg->handler) return false;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, WorkerEntry, arg) != 0) return false;
    pthread_detach(thread);  // never joined: the host's exit does not wait for a network exchange
    return true;
}

void CloudWorkerLoop(t_cloudQueue* queue, t_cloudHandler* handler, const t_cloudConfig& config) {
    // Big buffers: on the heap, not the worker's stack.
    auto* client = new CloudHttpClient;
    client->Init(config.serverHost.c_str(), "vetra_ime", config.gatewayPort.c_str(),
                 "web_ime/pynet.php", 0, true);
    client->SetHosts(config.gatewayHost.c_str(), config.endpointHost.c_str());
    CloudRequest reply;
    reply.Allocate(8192);
    int64_t lastResolve = 0;
    bool triedResolve = false;
    for (;;) {
        queue->Wait();
        CloudRequest request;
        // Held across both steps so no push comes between taking the newest
        // and dropping the rest.
        queue->Lock();
        const bool taken = queue->TakeNewest(&request);
        if (taken) queue->Clear();
        queue->Unlock();
        if (!taken) continue;
        // A host that does not resolve is retried on a later request, at most
        // once per interval; meanwhile requests are dropped, never piled up.
        if (!client->IsResolved() && (!triedResolve || NowMs() - lastResolve >= g_retryMs.load())) {
            triedResolve = true;
            lastResolve = NowMs();
            client->Resolve();
        }
        if (client->IsResolved() && reply.data) {
            // The stored length, never past the block.
            uint64_t bodyLength = 0;
            if (request.data && request.size >= 2) {
                const int16_t stored = int16_t(uint16_t(request.data[0] | request.data[1] << 8));
                bodyLength = stored > 0 ? std::min<uint64_t>(uint64_t(stored), request.size) : 0;
            }
            uint32_t replySize = 8192;
            const std::u16string& query = CloudQueryTemplate();
            if (client->SendSealedRequest(query.data(), query.size(), request.data,
                                          size_t(bodyLength), reply.data, &replySize)) {
                CloudRequest answer = reply;  // the block stays the worker's
                answer.id = request.id;
                answer.size = replySize;
                handler->OnReply(answer);
            }
        }
        request.Clear();
    }
}

}  // namespace n_cloud
