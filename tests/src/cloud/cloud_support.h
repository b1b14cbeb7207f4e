// Test side of the cloud protocol: a key pair made here, opening of sealed
// requests, sealing of replies, and a one-thread HTTP server on 127.0.0.1.
// The server thread answers one connection at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "porting3/crypto.h"

namespace cloudtest {

using Bytes = std::vector<uint8_t>;

// A 1024-bit key pair whose public half is installed for sealing.
class t_keyPair {
public:
    t_keyPair();
    const std::string& ModulusHex() const { return m_modulus; }
    // Decrypts one RSA block; empty on failure.
    Bytes Decrypt(const Bytes& block) const;

private:
    std::string m_modulus;
    n_porting::t_rsaKey m_private;
};
t_keyPair& TestKeys();  // made once per process and installed

Bytes FromBase64(const std::string& text);
// Inflates a raw deflate stream of unknown size; empty on failure.
Bytes Inflate(const Bytes& packed);

// A form body "k=..&v=..&u=..&g=..&p=.." opened with the private key.
struct t_openedRequest {
    bool ok = false;
    std::string k, v;  // the Base64 texts
    Bytes keyBlock;    // vector then key, as the client keeps it
    std::string inner, query, body;
    bool hasQuery = false, hasBody = false;
};
t_openedRequest OpenRequest(const std::string& form);
// One sealed payload value opened with a key block.
std::string OpenPayload(const Bytes& keyBlock, const std::string& value);

// Base64(AES(N big-endian + deflate(record))); `n` overrides N when given.
std::string SealReply(const Bytes& keyBlock, const Bytes& record, int64_t n = -1);
// The same around raw plaintext bytes (before padding).
std::string SealPlain(const Bytes& keyBlock, const Bytes& plain);

// "HTTP/1.1 200 OK\r\nContent-Length: N\r\n\r\n" + body.
std::string HttpReply(const std::string& body);

// A server on 127.0.0.1 with an ephemeral port. For each connection it reads
// the request (headers and declared body), opens it, and sends what the
// answer function returns in one send, then closes. An empty answer closes
// at once; kSilent keeps the connection open until the client leaves.
class t_server {
public:
    static constexpr const char* kSilent = "\x01silent";
    using t_answer = std::function<std::string(const t_openedRequest&, const std::string& rawRequest)>;
    explicit t_server(t_answer answer);
    ~t_server();
    int Port() const { return m_port; }
    std::string PortText() const { return std::to_string(m_port); }
    void SetAnswer(t_answer answer);
    int Connections() const { return m_connections.load(); }
    // Opened requests, in order.
    std::vector<t_openedRequest> Requests();

private:
    void Run();
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::mutex m_mutex;
    t_answer m_answer;
    std::vector<t_openedRequest> m_requests;
    std::thread m_thread;
};

// Collects the client's diagnostic texts (installed as the log hook).
class t_logCapture {
public:
    t_logCapture();
    ~t_logCapture();
    bool Has(const std::string& message) const;
    std::string All() const;
};

}  // namespace cloudtest
