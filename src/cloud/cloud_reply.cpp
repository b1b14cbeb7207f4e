// Request ids, the reply-record check, the reply handler, the hand-over to
// the main thread and the engine's cloud start-up and submission.
#include "src/cloud/cloud_reply.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "src/cloud/cloud_log.h"
#include "src/cloud/cloud_seal.h"

namespace n_cloud {

namespace {

constexpr size_t kRecordBytes = 1024;  // the engine's cloud-request buffer

uint16_t U16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

struct t_cloudState {
    std::mutex mutex;
    bool started = false;
    std::string offReason;  // why the last start left it off
    t_cloudWorkerArg arg;
};

t_cloudState& State() {
    static auto* state = new t_cloudState;  // the worker argument lives in here: never destroyed
    return *state;
}

}  // namespace

uint32_t t_cloudRequestIds::Next() {
    uint32_t id = m_last.load() + 1;
    if (id == kNoRequestId || id == 0) id = 1;
    m_last.store(id);
    m_current.store(id);
    return id;
}

t_cloudRequestIds& CloudRequestIds() {
    static auto* ids = new t_cloudRequestIds;
    return *ids;
}

bool CheckCloudReplyRecord(const uint8_t* bytes, size_t size, t_cloudReplyRecord* out) {
    if (!bytes || !out || size < 2) return false;
    *out = t_cloudReplyRecord{};
    const int16_t declared = int16_t(U16(bytes));
    if (declared < 20) return false;
    // Every field is read inside both the declared and the opened length.
    const size_t end = std::min(size_t(declared), size);
    if (end < 22) return false;
    const size_t w = U16(bytes + 20);
    if (w > 127 || 22 + w > end) return false;
    t_cloudReplyRecord r;
    r.word = bytes + 22;
    r.wordUnits = uint32_t(w / 2);  // an odd last byte is ignored
    if (24 + w > end) return false;
    const size_t p = U16(bytes + 22 + w);
    if (p <= 127) {
        if (24 + w + p > end) return false;
        r.pinyin = bytes + 24 + w;
        r.pinyinCount = uint32_t(p / 2);
        if (26 + w + p > end) return false;
        const size_t q = U16(bytes + 24 + w + p);
        if (q <= 127) {
            if (26 + w + p + q > end) return false;
            r.inputEnds = bytes + 26 + w + p;
            r.inputEndCount = uint32_t(q / 2);
            if (r.inputEndCount) {
                const int16_t covered = int16_t(U16(r.inputEnds + 2 * (r.inputEndCount - 1)));
                r.coveredInput = covered > 0 ? uint32_t(covered) : 0;
            }
        }
    }
    *out = r;
    return true;
}

std::unique_ptr<t_cloudResultElement> BuildCloudElement(const t_cloudReplyRecord& record) {
    if (!record.word) return nullptr;
    auto e = std::make_unique<t_cloudResultElement>();
    for (uint32_t i = 0; i < record.wordUnits; ++i)
        e->text.push_back(char16_t(U16(record.word + 2 * i)));
    // The pinyin's 128-byte room holds 63 ids and the table 64 ends; the
    // check keeps both lists below 64 entries.
    if (record.pinyin)
        for (uint32_t i = 0; i < record.pinyinCount && i < 63; ++i)
            e->pinyin.push_back(U16(record.pinyin + 2 * i));
    e->hasPinyin = record.pinyin && !e->pinyin.empty();
    if (record.inputEnds)
        for (uint32_t i = 0; i < record.inputEndCount && i < 64; ++i)
            e->inputEnds.push_back(int8_t(record.inputEnds[2 * i]));
    e->inputLength = record.coveredInput;
    return e;
}

CVetraCoreCloudHelperDummy::~CVetraCoreCloudHelperDummy() {
    if (m_writeEnd >= 0) close(m_writeEnd);
}

bool CVetraCoreCloudHelperDummy::OpenWakeChannel(int* readEnd) {
    int pair[2];
    if (!readEnd || socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return false;
    for (int fd : pair) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (m_writeEnd >= 0) close(m_writeEnd);
    m_writeEnd = pair[1];
    *readEnd = pair[0];
    return true;
}

void CVetraCoreCloudHelperDummy::SetWakeWriteEnd(int writeEnd) {
    if (m_writeEnd >= 0 && m_writeEnd != writeEnd) close(m_writeEnd);
    m_writeEnd = writeEnd;
}

void CVetraCoreCloudHelperDummy::OnCloudResult(t_cloudResultElement* element) {
    if (!element) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.emplace_back(element);
        m_result = element;
        m_flag = true;
    }
    // Outside the lock, and never blocking: the write end is non-blocking, so
    // a full socket costs this wake-up only (the answer waits for the next).
    const char byte = 0;
    if (send(m_writeEnd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1) {
        char text[160];
        std::snprintf(text, sizeof text, "write error:%s\n", std::strerror(errno));
        CloudLog(text);
    }
}

void CVetraCoreCloudHelperDummy::ReleasePending() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.clear();
    m_result = nullptr;
    m_flag = false;
}

void t_cloudHandlerIme::SetHelper(IVetraCoreCloudHelper* helper) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_helper = helper;
}

void t_cloudHandlerIme::OnReply(const CloudRequest& reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    IVetraCoreCloudHelper* helper = m_helper;
    if (!helper || reply.id != helper->GetRequestId()) return;
    t_cloudReplyRecord record;
    if (!CheckCloudReplyRecord(reply.data, size_t(reply.size), &record)) return;
    if (auto element = BuildCloudElement(record)) {
        element->requestId = reply.id;
        helper->OnCloudResult(element.release());
    }
}

t_cloudHandlerIme& CloudReplyHandler() {
    static auto* handler = new t_cloudHandlerIme;
    return *handler;
}

bool InitCloud(IVetraCoreCloudHelper* helper) {
    t_cloudState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    CloudReplyHandler().SetHelper(helper);
    if (s.started) return true;
    t_cloudConfig config = ReadCloudConfig();
    if (config.gatewayHost.empty()) {
        s.offReason = "no cloud server is set (VETRA_CLOUD_GATEWAY_HOST)";
        return false;
    }
    if (!SetSealPublicKey(config.rsaModulus.c_str())) {
        CloudLog("can't use encrypt cloud");
        s.offReason = "the servers' key is no RSA modulus (VETRA_CLOUD_RSA_MODULUS)";
        return false;
    }
    s.arg.handler = &CloudReplyHandler();
    s.arg.queue = &CloudQueue();
    s.arg.config = std::move(config);
    s.started = StartCloudWorker(&s.arg);
    s.offReason = s.started ? "" : "its worker thread did not start";
    return s.started;
}

std::string CloudOffReason() {
    t_cloudState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.offReason;
}

bool CloudSubmitRecord(uint32_t id, const uint8_t* buffer, size_t bufferSize) {
    {
        t_cloudState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.started) return false;
    }
    if (id == kNoRequestId || !buffer || bufferSize < 2) return false;
    const int16_t declared = int16_t(U16(buffer));
    if (declared < 2) return false;
    const size_t n = std::min({size_t(declared), kRecordBytes, bufferSize});
    CloudRequest request;
    if (!request.Allocate(n)) return false;
    std::memcpy(request.data, buffer, n);
    request.SetId(id);
    CloudQueue().Push(request);
    return true;
}

}  // namespace n_cloud
