// Test side of the cloud protocol: keys, opening, reply sealing, a server.
#include "tests/src/cloud/cloud_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "src/cloud/cloud_log.h"
#include "src/cloud/cloud_seal.h"

namespace cloudtest {

namespace {

std::string BnHex(EVP_PKEY* pkey, const char* name) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, name, &bn) != 1) return "";
    char* hex = BN_bn2hex(bn);
    std::string s = hex;
    OPENSSL_free(hex);
    BN_free(bn);
    return s;
}

std::mutex g_logMutex;
std::vector<std::string> g_log;

void LogHook(const char* message, const char*) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.emplace_back(message);
}

}  // namespace

t_keyPair::t_keyPair() {
    EVP_PKEY* pkey = EVP_RSA_gen(1024);
    m_modulus = BnHex(pkey, OSSL_PKEY_PARAM_RSA_N);
    const std::string d = BnHex(pkey, OSSL_PKEY_PARAM_RSA_D);
    EVP_PKEY_free(pkey);
    n_porting::RsaSetPrivateKeyHex(&m_private, m_modulus.c_str(), "10001", d.c_str());
}

Bytes t_keyPair::Decrypt(const Bytes& block) const {
    Bytes out(128);
    size_t n = 0;
    if (!n_porting::RsaPrivateDecryptChunks(block.data(), block.size(), out.data(), out.size(), &n, &m_private))
        return {};
    out.resize(n);
    return out;
}

t_keyPair& TestKeys() {
    static t_keyPair* keys = [] {
        auto* k = new t_keyPair;
        n_cloud::SetSealPublicKey(k->ModulusHex().c_str());
        return k;
    }();
    return *keys;
}

Bytes FromBase64(const std::string& text) {
    Bytes out(text.size() + 4);
    const int n = n_porting::Base64DecodeBuf(out.data(), out.size(), text.c_str());
    if (n < 0) return {};
    out.resize(size_t(n));
    return out;
}

Bytes Inflate(const Bytes& packed) {
    z_stream z{};
    inflateInit2(&z, -15);
    Bytes out(1 << 20);
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = uInt(packed.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return rc == Z_STREAM_END ? out : Bytes{};
}

std::string OpenPayload(const Bytes& keyBlock, const std::string& value) {
    if (value.empty() || keyBlock.size() != 48) return "";
    const Bytes raw = FromBase64(value);
    size_t n = 0;
    uint8_t* plain = n_cloud::Aes256CbcDecrypt(raw.data(), raw.size(), &n, keyBlock.data() + 16, 32, keyBlock.data(), 16);
    if (!plain) return "\x01" "bad";
    const Bytes packed(plain, plain + n);
    std::free(plain);
    const Bytes text = Inflate(packed);
    return std::string(text.begin(), text.end());
}

t_openedRequest OpenRequest(const std::string& form) {
    t_openedRequest r;
    std::string u, g, p;
    for (size_t at = 0; at <= form.size();) {
        size_t end = form.find('&', at);
        if (end == std::string::npos) end = form.size();
        const std::string field = form.substr(at, end - at);
        const std::string name = field.substr(0, 2), value = field.size() > 2 ? field.substr(2) : "";
        if (name == "k=") r.k = value;
        if (name == "v=") r.v = value;
        if (name == "u=") u = value;
        if (name == "g=") r.hasQuery = true, g = value;
        if (name == "p=") r.hasBody = true, p = value;
        at = end + 1;
    }
    const Bytes key = TestKeys().Decrypt(FromBase64(r.k));
    const Bytes vector = TestKeys().Decrypt(FromBase64(r.v));
    if (key.size() != 32 || vector.size() != 16) return r;
    r.keyBlock = vector;
    r.keyBlock.insert(r.keyBlock.end(), key.begin(), key.end());
    r.inner = OpenPayload(r.keyBlock, u);
    r.query = OpenPayload(r.keyBlock, g);
    r.body = OpenPayload(r.keyBlock, p);
    r.ok = true;
    return r;
}

std::string SealPlain(const Bytes& keyBlock, const Bytes& plain) {
    size_t n = 0;
    uint8_t* sealed = n_cloud::Aes256CbcEncrypt(plain.data(), plain.size(), &n, keyBlock.data() + 16, 32,
                                                keyBlock.data(), 16);
    char* text = n_porting::Base64EncodeAlloc(sealed, int32_t(n));
    std::string s = text;
    std::free(text);
    std::free(sealed);
    return s;
}

std::string SealReply(const Bytes& keyBlock, const Bytes& record, int64_t n) {
    const uint32_t size = n < 0 ? uint32_t(record.size()) : uint32_t(n);
    Bytes plain = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
    Bytes packed;
    n_cloud::RawDeflate(record.data(), record.size(), packed);
    plain.insert(plain.end(), packed.begin(), packed.end());
    return SealPlain(keyBlock, plain);
}

std::string HttpReply(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

t_server::t_server(t_answer answer) : m_answer(std::move(answer)) {
    TestKeys();
    m_listen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(m_listen, 16);
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { Run(); });
}

t_server::~t_server() {
    m_stop = true;
    m_thread.join();
    close(m_listen);
}

void t_server::SetAnswer(t_answer answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = std::move(answer);
}

std::vector<t_openedRequest> t_server::Requests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void t_server::Run() {
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int fd = accept(m_listen, nullptr, nullptr);
        if (fd < 0) continue;
        ++m_connections;
        std::string raw;
        char buf[4096];
        size_t want = std::string::npos;
        while (raw.size() < want) {
            pollfd c{fd, POLLIN, 0};
            if (poll(&c, 1, 2000) <= 0) break;
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            raw.append(buf, size_t(n));
            const size_t blank = raw.find("\r\n\r\n");
            const size_t label = raw.find("Content-Length: ");
            if (blank != std::string::npos && label != std::string::npos)
                want = blank + 4 + std::strtoul(raw.c_str() + label + 16, nullptr, 10);
        }
        const size_t blank = raw.find("\r\n\r\n");
        const t_openedRequest opened = OpenRequest(blank == std::string::npos ? "" : raw.substr(blank + 4));
        std::string answer;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(opened);
            answer = m_answer(opened, raw);
        }
        if (answer == kSilent) {
            while (!m_stop) {  // until the client gives up and closes
                pollfd c{fd, POLLIN, 0};
                if (poll(&c, 1, 50) > 0 && recv(fd, buf, sizeof buf, 0) <= 0) break;
            }
        } else if (!answer.empty()) {
            send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        close(fd);
    }
}

t_logCapture::t_logCapture() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.clear();
    n_cloud::SetCloudLogHook(LogHook);
}

t_logCapture::~t_logCapture() {
    n_cloud::SetCloudLogHook(nullptr);
}

bool t_logCapture::Has(const std::string& message) const {
    std::lock_guard<std::mutex> lock(g_logMutex);
    for (const auto& m : g_log)
        if (m == message) return true;
    return false;
}

std::string t_logCapture::All() const {
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::string s;
    for (const auto& m : g_log) s += m + " | ";
    return s;
}

}  // namespace cloudtest
