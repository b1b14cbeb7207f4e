// The cloud HTTP exchange: plain request text, sealing, one TCP connection,
// first-read receiving and the checked parse of the reply framing.
#include "src/cloud/cloud_http.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "src/cloud/cloud_log.h"
#include "src/cloud/cloud_seal.h"

namespace n_cloud {

namespace {

std::atomic<t_resolveFn> g_resolver{nullptr};

size_t Find(std::string_view text, std::string_view what, size_t from = 0) {
    return from > text.size() ? std::string_view::npos : text.find(what, from);
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

}  // namespace

void SetCloudResolver(t_resolveFn fn) {
    g_resolver.store(fn);
}

CloudHttpClient::~CloudHttpClient() {
    Disconnect();
    FreeSealBuffer(m_sealKey);
}

void CloudHttpClient::Init(const char* host, const char* userAgent, const char* port,
                           const char* path, int, bool firstData) {
    m_host = host ? host : "";
    m_userAgent = userAgent ? userAgent : "";
    m_port = port ? port : "80";
    m_path = path ? path : "";
    m_firstData = firstData;
    m_socket = -1;
}

void CloudHttpClient::SetHosts(const char* gatewayHost, const char* endpointHost) {
    m_gatewayHost = gatewayHost ? gatewayHost : "";
    m_endpointHost = endpointHost ? endpointHost : "";
}

void CloudHttpClient::SetSealingKey(uint8_t* keyBlock) {
    FreeSealBuffer(m_sealKey);
    m_sealKey = keyBlock;
}

bool CloudHttpClient::Resolve() {
    if (m_addresses) {
        freeaddrinfo(m_addresses);
        m_addresses = nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const t_resolveFn fn = g_resolver.load();
    addrinfo* list = nullptr;
    const int rc = fn ? fn(m_gatewayHost.c_str(), m_port.c_str(), &hints, &list)
                      : getaddrinfo(m_gatewayHost.c_str(), m_port.c_str(), &hints, &list);
    if (rc != 0 || !list) {
        if (list) freeaddrinfo(list);
        CloudLog("socket http 获取连接地址失败:", gai_strerror(rc));
        return false;
    }
    m_addresses = list;
    return true;
}

void CloudHttpClient::AppendQuery(const char16_t* query, size_t units) {
    if (!query) return;
    for (size_t i = 0; i < units && m_requestLength + 1 < kRequestBytes; ++i)
        m_request[m_requestLength++] = char(query[i] & 0xFF);  // low byte, no percent-encoding
    m_request[m_requestLength] = 0;
}

bool CloudHttpClient::BuildPost(const uint8_t* body, size_t bodyLength, const char16_t* query,
                                size_t queryUnits, size_t* totalLength) {
    if (totalLength) *totalLength = 0;
    if (bodyLength && !body) return false;
    const int n = std::snprintf(m_request, kRequestBytes, "POST /%s?", m_path.c_str());
    if (n < 0 || size_t(n) >= kRequestBytes) return false;
    m_requestLength = size_t(n);
    if (m_requestLength + queryUnits + bodyLength + 70 > kRequestBytes - 1) {
        CloudLog("内容过长");
        return false;
    }
    AppendQuery(query, queryUnits);
    if (m_request[m_requestLength - 1] == '?' || m_request[m_requestLength - 1] == '&')
        m_request[--m_requestLength] = 0;
    const int h = std::snprintf(m_request + m_requestLength, kRequestBytes - m_requestLength,
                                " HTTP/1.1\r\nContent-Length: %d\r\n\r\n", int(bodyLength));
    if (h < 0 || size_t(h) >= kRequestBytes - m_requestLength) return false;
    m_requestLength += size_t(h);
    if (bodyLength) std::memcpy(m_request + m_requestLength, body, bodyLength);
    std::memcpy(m_request + m_requestLength + bodyLength, "\r\n\r\n", 5);
    if (totalLength) *totalLength = m_requestLength + bodyLength + 4;
    m_requestLength += bodyLength + 4;
    return true;
}

bool CloudHttpClient::SealRequest() {
    FreeSealBuffer(m_sealKey);
    m_sealKey = nullptr;
    const std::string_view text(m_request, m_requestLength);
    if (text.substr(0, 5) != "POST " || text.size() < 6 || text[5] != '/') return false;
    const size_t question = Find(text, "?", 5);
    if (question == std::string_view::npos) {
        CloudLog("...HTTP.");
        return false;
    }
    const std::string inner = "http://" + m_host + std::string(text.substr(5, question - 5));
    if (inner.size() > 2047) return false;
    const size_t version = Find(text, "HTTP/1.1", question + 1);
    if (version == std::string_view::npos) {
        CloudLog("...HTTP.");
        return false;
    }
    const std::string query(text.substr(question + 1, version - question - 1));
    const size_t label = Find(text, "Content-Length: ", version);
    const size_t lineEnd = label == std::string_view::npos ? label : Find(text, "\r\n", label);
    if (lineEnd == std::string_view::npos) {
        CloudLog("err content length");
        return false;
    }
    size_t bodyLength = 0;
    for (size_t i = label + 16; i < lineEnd && text[i] >= '0' && text[i] <= '9'; ++i) {
        bodyLength = bodyLength * 10 + size_t(text[i] - '0');
        if (bodyLength > kRequestBytes) return false;
    }
    const size_t blank = Find(text, "\r\n\r\n", label);
    if (blank == std::string_view::npos || bodyLength > text.size() - (blank + 4)) {
        CloudLog("err content length");
        return false;
    }
    const auto* body = reinterpret_cast<const uint8_t*>(m_request + blank + 4);
    std::vector<char> form(bodyLength + kSealRoom);
    char outer[kOuterAddressBytes];
    uint8_t* key = SealCloudRequest(inner.c_str(), query.c_str(), body, bodyLength,
                                    m_endpointHost.c_str(), outer, form.data(), form.size());
    if (!key) {
        CloudLog("......");
        return false;
    }
    // "http://" + host + "/q": the Host header and the request path.
    const std::string_view outerView(outer);
    const size_t hostStart = outerView.find("//") + 2;
    const size_t pathStart = Find(outerView, "/", hostStart);
    const std::string host(outerView.substr(hostStart, pathStart - hostStart));
    const std::string path(pathStart == std::string_view::npos ? "/" : outerView.substr(pathStart));
    const size_t formLength = std::strlen(form.data());
    const int n = std::snprintf(
        m_request, kRequestBytes,
        "POST %s HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        "Host: %s\r\nConnection: close\r\nUser-Agent: %s\r\nContent-Length: %zu\r\n\r\n",
        path.c_str(), host.c_str(), m_userAgent.c_str(), formLength);
    if (n < 0 || size_t(n) + formLength >= kRequestBytes) {
        FreeSealBuffer(key);
        m_request[0] = 0;
        m_requestLength = 0;
        return false;
    }
    std::memcpy(m_request + n, form.data(), formLength + 1);
    m_requestLength = size_t(n) + formLength;
    m_sealKey = key;
    return true;
}

bool CloudHttpClient::SendSealedRequest(const char16_t* query, size_t queryUnits,
                                        const uint8_t* body, size_t bodyLength, uint8_t* reply,
                                        uint32_t* replySize) {
    if (!m_addresses) {
        CloudLog("远程问答失败，连接尚未初始化");
        return false;
    }
    if (!reply || !replySize) return false;
    size_t total = 0;
    if (!BuildPost(body, bodyLength, query, queryUnits, &total)) {
        CloudLog("远程问答答失败");
        return false;
    }
    if (!SealRequest()) {
        CloudLog("can't use encrypt cloud");
        return false;
    }
    CloseSocket();
    m_socket = socket(m_addresses->ai_family, m_addresses->ai_socktype, m_addresses->ai_protocol);
    if (m_socket >= 0) {
        const timeval tv{kTimeoutMs / 1000, (kTimeoutMs % 1000) * 1000};
        setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    if (m_socket < 0 || connect(m_socket, m_addresses->ai_addr, m_addresses->ai_addrlen) != 0) {
        CloudLog("远程问答失败：无法和服务器建立连接", std::strerror(errno));
        CloseSocket();
        return false;
    }
    // A time-out can send part: go on until every byte is out. MSG_NOSIGNAL
    // keeps a peer that closes early from raising SIGPIPE in the host.
    for (size_t sent = 0; sent < m_requestLength;) {
        const ssize_t n = send(m_socket, m_request + sent, m_requestLength - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            CloudLog("远程问答失败，发送数据失败：", std::strerror(errno));
            CloseSocket();
            return false;
        }
        sent += size_t(n);
    }
    size_t received = 0;
    if (!Receive(&received) || !ParseReply(received, reply, replySize)) {
        CloudLog("远程问答失败");
        CloseSocket();
        return false;
    }
    CloseSocket();
    return true;
}

bool CloudHttpClient::Receive(size_t* received) {
    size_t got = 0;
    *received = 0;
    m_reply[0] = 0;
    for (;;) {
        const size_t room = kReplyBytes - 1 - got;  // one byte kept for the NUL
        if (room == 0) {
            CloudLog("数据接收错误：数据量超过缓存大小");
            return false;
        }
        const ssize_t n = recv(m_socket, m_reply + got, room, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            CloudLog("接收数据失败", std::strerror(errno));
            return false;
        }
        if (n == 0) break;
        got += size_t(n);
        m_reply[got] = 0;
        if (m_firstData) break;
    }
    if (got == 0) {
        CloudLog("反馈数据为空");
        return false;
    }
    *received = got;
    return true;
}

bool CloudHttpClient::ParseReply(size_t received, uint8_t* reply, uint32_t* replySize) {
    if (received > kReplyBytes - 1 || !reply || !replySize) return false;
    m_reply[received] = 0;
    const std::string_view text(m_reply, received);
    if (text.substr(0, 9) != "HTTP/1.1 ") {
        CloudLog("服务器的反馈不是HTTP1.1");
        return false;
    }
    if (text.substr(9, 4) != "200 ") {
        const std::string status(text.substr(9, 3));
        CloudLog("服务器反馈不成功的状态：", status.c_str());
        return false;
    }
    const size_t statusEnd = Find(text, "\r\n");
    if (statusEnd == std::string_view::npos) {
        CloudLog("服务器数据错误：HTTP协议内容为空");
        return false;
    }
    const size_t headers = statusEnd + 2;
    const size_t headersEnd = Find(text, "\r\n\r\n", statusEnd);
    const std::string_view head =
        text.substr(headers, headersEnd == std::string_view::npos ? std::string_view::npos
                                                                  : headersEnd + 2 - headers);
    const uint32_t capacity = *replySize;
    size_t bodyStart = 0;
    size_t bodyLength = 0;
    if (head.find("Transfer-Encoding: chunked") != std::string_view::npos) {
        // Only the first chunk is used; its size is checked against what
        // arrived and the capacity before anything is read.
        const size_t lineStart = headersEnd == std::string_view::npos ? headersEnd : headersEnd + 4;
        const size_t lineEnd = Find(text, "\r\n", lineStart);
        bool ok =
            lineEnd != std::string_view::npos && lineEnd > lineStart && lineEnd - lineStart <= 8;
        for (size_t i = lineStart; ok && i < lineEnd; ++i) {
            ok = IsHex(text[i]);
            bodyLength = bodyLength * 16 + size_t(ok ? HexValue(text[i]) : 0);
        }
        if (ok) {
            bodyStart = lineEnd + 2;
            ok = bodyLength <= received - bodyStart && bodyLength <= capacity;
        }
        if (!ok) {
            CloudLog("服务器数据错误：chunk格式错误");
            return false;
        }
    } else {
        size_t label = head.find("Content-length:");
        if (label == std::string_view::npos) label = head.find("Content-Length:");
        if (label == std::string_view::npos) {
            CloudLog("服务器数据错误：找不到内容长度字段");
            return false;
        }
        size_t at = headers + label + 15;
        while (at < received && text[at] == ' ') ++at;
        uint64_t length = 0;
        for (; at < received && text[at] >= '0' && text[at] <= '9'; ++at) {
            length = length * 10 + uint64_t(text[at] - '0');
            if (length > 0xFFFFFFFFu) break;
        }
        if (length == 0) {
            CloudLog("服务器数据错误：长度字段值不合法");
            return false;
        }
        if (length > capacity) {
            CloudLog("反馈数据超过缓存长度");
            return false;
        }
        const size_t blank = Find(text, "\r\n\r\n", at);
        if (blank == std::string_view::npos) {
            CloudLog("服务器数据错误：找不到内容开头");
            return false;
        }
        bodyStart = blank + 4;
        bodyLength = size_t(length);
        if (received - bodyStart < bodyLength) {
            CloudLog("服务器数据错误：反馈内容长度不足声明长度");
            return false;
        }
    }
    uint32_t opened = 0;
    uint8_t* bytes = bodyLength ? decryptHttpRequest(m_sealKey, m_reply + bodyStart, bodyLength,
                                                     capacity, &opened)
                                : nullptr;
    if (!bytes) {
        CloudLog("decryptHttpRequest failed.");
        return false;
    }
    std::memcpy(reply, bytes, opened);
    *replySize = opened;
    FreeSealBuffer(bytes);
    return true;
}

void CloudHttpClient::CloseSocket() {
    if (m_socket >= 0) close(m_socket);
    m_socket = -1;
}

void CloudHttpClient::Disconnect() {
    CloseSocket();
    if (m_addresses) freeaddrinfo(m_addresses);
    m_addresses = nullptr;
}

}  // namespace n_cloud
