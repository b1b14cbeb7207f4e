// Test side of the cloud protocol: a key pair made here, opening of sealed
// requests, sealing of replies, and an HTTP server thread on 127.0.0.1
// that answers one connection at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cloudtest {

using Bytes = std::vector<uint8_t>;

// The modulus of a 1024-bit key pair made once per process; its public half
// is installed for sealing.
const std::string& TestModulus();
Bytes FromBase64(const std::string& text);

// A form body "k=..&v=..&u=..&g=..&p=.." opened with the private key.
struct t_openedRequest {
    bool ok = false;
    std::string k, v;  // the Base64 texts
    Bytes keyBlock;    // vector then key, as the client keeps it
    std::string inner, query, body;
    bool hasBody = false;
};
t_openedRequest OpenRequest(const std::string& form);

// Base64(AES(plain)) with a key block; SealReply's plain is N (big-endian,
// the record's size unless given) and the raw deflate of the record.
std::string SealPlain(const Bytes& keyBlock, const Bytes& plain);
std::string SealReply(const Bytes& keyBlock, const Bytes& record, int64_t n = -1);
// "HTTP/1.1 200 OK\r\nContent-Length: N\r\n\r\n" + body.
std::string HttpReply(const std::string& body);

// Reads each request whole, opens it, sends the answer in one send and
// closes; an empty answer closes at once, kSilent waits for the client to leave.
class t_server {
public:
    static constexpr const char* kSilent = "\x01silent";
    using t_answer = std::function<std::string(const t_openedRequest&)>;
    explicit t_server(t_answer answer);
    ~t_server();
    std::string Port() const { return std::to_string(m_port); }
    void SetAnswer(t_answer answer);
    int Connections() const { return m_connections.load(); }
    std::vector<t_openedRequest> Requests();

private:
    void Run();
    int m_listen = -1, m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::mutex m_mutex;
    t_answer m_answer;
    std::vector<t_openedRequest> m_requests;
    std::thread m_thread;
};

// Collects the client's diagnostic texts while it lives.
struct t_logCapture {
    t_logCapture();
    ~t_logCapture();
    bool Has(const std::string& message) const;
    std::string All() const;
};

}  // namespace cloudtest
