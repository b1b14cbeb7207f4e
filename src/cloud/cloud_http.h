// A one-request-per-connection HTTP/1.1 client that posts sealed cloud
// requests and opens their replies. One thread (the cloud worker) per client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct addrinfo;

namespace n_cloud {

// getaddrinfo's shape; tests replace it to make a host fail or come back.
using t_resolveFn = int (*)(const char* host, const char* service, const struct addrinfo* hints,
                            struct addrinfo** result);
void SetCloudResolver(t_resolveFn fn);  // null restores getaddrinfo

class CloudHttpClient {
public:
    static constexpr size_t kRequestBytes = 10000;
    static constexpr size_t kReplyBytes = 8192;
    static constexpr int kTimeoutMs = 5000;

    CloudHttpClient() = default;
    ~CloudHttpClient();
    CloudHttpClient(const CloudHttpClient&) = delete;
    CloudHttpClient& operator=(const CloudHttpClient&) = delete;

    // `host` is the cloud-candidate server sealed into each request; the
    // gateway (connected to, with `port`) and the endpoint (the "Host" header)
    // come from SetHosts. A non-zero timing flag is accepted and ignored.
    void Init(const char* host, const char* userAgent, const char* port, const char* path,
              int timing, bool firstData);
    void SetHosts(const char* gatewayHost, const char* endpointHost);

    bool Resolve();
    bool IsResolved() const { return m_addresses != nullptr; }

    // The plain request text; false with "内容过长" when it would not fit.
    bool BuildPost(const uint8_t* body, size_t bodyLength, const char16_t* query, size_t queryUnits,
                   size_t* totalLength);
    // Rewrites the plain text into the sealed request text.
    bool SealRequest();
    // The whole exchange. *replySize holds the capacity of `reply` and
    // receives the opened reply's byte count; true only when one was written.
    bool SendSealedRequest(const char16_t* query, size_t queryUnits, const uint8_t* body,
                           size_t bodyLength, uint8_t* reply, uint32_t* replySize);
    bool Receive(size_t* received);
    // Parses m_reply's first `received` bytes (also used on raw bytes by the fuzzer).
    bool ParseReply(size_t received, uint8_t* reply, uint32_t* replySize);

    void CloseSocket();
    void Disconnect();

    const char* RequestText() const { return m_request; }
    char* ReplyBuffer() { return m_reply; }
    const uint8_t* SealingKey() const { return m_sealKey; }
    // Installs a key block (the client takes it; for replies sealed elsewhere).
    void SetSealingKey(uint8_t* keyBlock);

private:
    void AppendQuery(const char16_t* query, size_t units);

    addrinfo* m_addresses = nullptr;
    std::string m_host, m_userAgent, m_port = "80", m_path, m_gatewayHost, m_endpointHost;
    int m_socket = -1;
    bool m_firstData = false;
    size_t m_requestLength = 0;
    char m_request[kRequestBytes] = {};
    char m_reply[kReplyBytes] = {};
    uint8_t* m_sealKey = nullptr;
};

}  // namespace n_cloud
