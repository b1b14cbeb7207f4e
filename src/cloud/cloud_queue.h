// The cloud request queue (newest wins) and the worker thread that seals,
// posts and hands replies to a reply handler. The queue is shared by the
// main thread (push) and the worker (wait, take, clear) under its recursive mutex.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "src/cloud/cloud_config.h"

namespace n_cloud {

constexpr uint32_t kNoRequestId = 0xFFFFFFFFu;

// A queue element, copied by value: the copy carries the data block's
// ownership with it; freeing is always explicit through Clear.
struct CloudRequest {
    uint32_t id = kNoRequestId;
    uint8_t* data = nullptr;
    uint64_t size = 0;

    void Clear();
    // Frees the old block and allocates `size` bytes; false (no block) when
    // memory runs out.
    bool Allocate(uint64_t size);
    void SetId(uint32_t requestId) { id = requestId; }
};

// Blocks allocated by CloudRequest::Allocate and not yet cleared, process-wide.
size_t CloudLiveRequestBlocks();

class t_cloudQueue {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    // Takes the request's block; wakes the worker.
    void Push(const CloudRequest& request);
    // Returns once at least one request is queued.
    bool Wait();
    // The newest request, removed from the queue; false when it is empty.
    bool TakeNewest(CloudRequest* out);
    // Frees every queued block.
    void Clear();
    size_t Size();

private:
    std::recursive_mutex m_mutex;
    std::condition_variable_any m_ready;
    std::vector<CloudRequest> m_items;
};

// The reply handler the worker calls with each opened reply: `reply.id` is
// the answered request's id, `reply.data`/`reply.size` the opened bytes.
class t_cloudHandler {
public:
    virtual ~t_cloudHandler() = default;
    virtual void OnReply(const CloudRequest& reply) = 0;
};

// The process-wide queue; never destroyed (the worker may use it during exit).
t_cloudQueue& CloudQueue();

// What the worker thread runs with; never destroyed (the worker may still
// run while the process exits).
struct t_cloudWorkerArg {
    t_cloudHandler* handler = nullptr;
    t_cloudQueue* queue = nullptr;
    t_cloudConfig config;
};

// The query text of every request.
const std::u16string& CloudQueryTemplate();

// A failed resolution is retried on a later request, at most once per this
// many milliseconds (30 s; tests shorten it).
void SetCloudResolveRetryMs(int64_t ms);

// Starts a worker on `arg` (never joined). False when the thread could not start.
bool StartCloudWorker(t_cloudWorkerArg* arg);
void CloudWorkerLoop(t_cloudQueue* queue, t_cloudHandler* handler, const t_cloudConfig& config);

}  // namespace n_cloud
