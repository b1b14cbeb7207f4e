// Request ids, the check of the cloud reply record, the reply handler that
// turns a checked reply into a result element, and the hand-over of elements
// from the worker to the main thread (module mutex, one wake-up byte).
// Ids are atomics; the handler runs on the worker; the hand-over is guarded by its mutex.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "src/cloud/cloud_queue.h"

namespace n_cloud {

// ---- request ids: 1 to 0xFFFFFFFE, 0 none current, 0xFFFFFFFF none wanted ----

class t_cloudRequestIds {
public:
    // last + 1, wrapping to 1 past 0xFFFFFFFE; becomes the last and current id.
    uint32_t Next();
    uint32_t Current() const { return m_current.load(); }
    uint32_t Last() const { return m_last.load(); }
    void SetLast(uint32_t id) { m_last.store(id); }
    void Reset() { m_current.store(0); }

private:
    std::atomic<uint32_t> m_current{0};
    std::atomic<uint32_t> m_last{0};
};

t_cloudRequestIds& CloudRequestIds();  // process-wide, never destroyed

// ---- the cloud reply record ----

// A reply record that passed the check; pointers into the checked bytes.
struct t_cloudReplyRecord {
    const uint8_t* word = nullptr;  // UTF-16LE
    uint32_t wordUnits = 0;
    const uint8_t* pinyin = nullptr;  // 16-bit syllable ids; null: none
    uint32_t pinyinCount = 0;
    const uint8_t* inputEnds = nullptr;  // 16-bit entries, low byte used; null: none
    uint32_t inputEndCount = 0;
    uint32_t coveredInput = 0;
};

// Checks every field against min(L, size): L >= 20, W <= 127, 22 + W <= L;
// the pinyin list when P <= 127 (then 24 + W + P <= L is required); the
// input-end list and the covered input when Q <= 127 (then 26 + W + P + Q <= L
// is required). A P or Q above 127 leaves its lists out (covered input 0);
// anything else refuses the record.
bool CheckCloudReplyRecord(const uint8_t* bytes, size_t size, t_cloudReplyRecord* out);

// A cloud candidate built from a checked reply (the raw-value fill of a
// result element: text, pinyin within its 128-byte room, input ends of at
// most 64 entries, the covered input).
struct t_cloudResultElement {
    std::u16string text;
    std::vector<uint16_t> pinyin;
    std::vector<int8_t> inputEnds;
    uint32_t inputLength = 0;
    bool hasPinyin = false;
    uint32_t requestId = 0;  // the request it answers
};
std::unique_ptr<t_cloudResultElement> BuildCloudElement(const t_cloudReplyRecord& record);

// ---- the helper between engine, handler and front end ----

class IVetraCoreCloudHelper {
public:
    virtual uint32_t GetRequestId() = 0;
    // Takes the element.
    virtual void OnCloudResult(t_cloudResultElement* element) = 0;

protected:
    ~IVetraCoreCloudHelper() = default;
};

// The front end's helper: parks handed-over elements under the module mutex
// and writes one byte into a non-blocking socket pair to wake the main thread.
class CVetraCoreCloudHelperDummy : public IVetraCoreCloudHelper {
public:
    ~CVetraCoreCloudHelperDummy();
    uint32_t GetRequestId() override { return m_requestId.load(); }
    void SetRequestId(uint32_t id) { m_requestId.store(id); }
    void OnCloudResult(t_cloudResultElement* element) override;

    // Creates the socket pair, both ends non-blocking; the read end is the
    // caller's (it closes it). False when the pair cannot be made.
    bool OpenWakeChannel(int* readEnd);
    // Takes the write end of a pair made elsewhere (the module addon's);
    // the helper closes it at its end. -1: no wake-up (each answer logs).
    void SetWakeWriteEnd(int writeEnd);
    // The main thread's side: hold the mutex while reading the pending state.
    std::mutex& ModuleMutex() { return m_mutex; }
    t_cloudResultElement* PendingResult() const { return m_result; }
    bool PendingFlag() const { return m_flag; }
    void ClearPendingFlag() { m_flag = false; }
    // A reset: releases every handed-over element.
    void ReleasePending();

private:
    std::atomic<uint32_t> m_requestId{kNoRequestId};
    std::mutex m_mutex;
    std::vector<std::unique_ptr<t_cloudResultElement>> m_pending;
    t_cloudResultElement* m_result = nullptr;
    bool m_flag = false;
    int m_writeEnd = -1;
};

// The global reply handler: drops stale or malformed replies, hands the rest
// to the helper as elements.
class t_cloudHandlerIme : public t_cloudHandler {
public:
    // Returns only after any reply being handed to the old helper is done,
    // so the caller may then destroy it.
    void SetHelper(IVetraCoreCloudHelper* helper);
    void OnReply(const CloudRequest& reply) override;

private:
    std::mutex m_mutex;  // held while a reply uses m_helper
    IVetraCoreCloudHelper* m_helper = nullptr;
};

t_cloudHandlerIme& CloudReplyHandler();  // never destroyed

// ---- the engine's side ----

// Reads the deployment values and starts the worker once per process. False
// (and nothing ever queued) when no gateway host is configured or the key
// is refused. A later call only replaces the helper.
bool InitCloud(IVetraCoreCloudHelper* helper);
// Why the last InitCloud left the cloud off: no server set, a key refused,
// no worker; empty while it runs.
std::string CloudOffReason();
// Queues a copy of min(L, 1024, bufferSize) bytes of a cloud-request record
// (L its leading 16-bit length) under `id`. False, queueing nothing, with the
// cloud off, id 0xFFFFFFFF or L < 2.
bool CloudSubmitRecord(uint32_t id, const uint8_t* buffer, size_t bufferSize);

}  // namespace n_cloud
