// Test side of the cloud protocol: keys, opening, reply sealing, a server.
#include "tests/src/cloud/cloud_support.h"

#include <netinet/in.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "porting3/crypto.h"
#include "src/cloud/cloud_log.h"
#include "src/cloud/cloud_seal.h"

namespace cloudtest {

namespace {

std::string BnHex(EVP_PKEY* pkey, const char* name) {
    BIGNUM* bn = nullptr;
    EVP_PKEY_get_bn_param(pkey, name, &bn);
    char* hex = BN_bn2hex(bn);
    std::string s = hex;
    OPENSSL_free(hex);
    BN_free(bn);
    return s;
}

struct t_keys {
    std::string modulus;
    n_porting::t_rsaKey privateKey;
    t_keys() {
        EVP_PKEY* pkey = EVP_RSA_gen(1024);
        modulus = BnHex(pkey, OSSL_PKEY_PARAM_RSA_N);
        n_porting::RsaSetPrivateKeyHex(&privateKey, modulus.c_str(), "10001",
                                       BnHex(pkey, OSSL_PKEY_PARAM_RSA_D).c_str());
        EVP_PKEY_free(pkey);
        n_cloud::SetSealPublicKey(modulus.c_str());
    }
};

t_keys& Keys() {
    static auto* keys = new t_keys;
    return *keys;
}

Bytes Decrypt(const Bytes& block) {
    Bytes out(128);
    size_t n = 0;
    if (!n_porting::RsaPrivateDecryptChunks(block.data(), block.size(), out.data(), out.size(), &n,
                                            &Keys().privateKey))
        return {};
    out.resize(n);
    return out;
}

std::string OpenPayload(const Bytes& keyBlock, const std::string& value) {
    const Bytes raw = FromBase64(value);
    size_t n = 0;
    uint8_t* plain = n_cloud::Aes256CbcDecrypt(raw.data(), raw.size(), &n, keyBlock.data() + 16, 32,
                                               keyBlock.data(), 16);
    Bytes out(1 << 16);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = plain;
    z.avail_in = uInt(n);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const bool ok = plain && inflate(&z, Z_FINISH) == Z_STREAM_END;
    inflateEnd(&z);
    std::free(plain);
    return ok ? std::string(out.begin(), out.begin() + z.total_out) : "";
}

std::mutex g_logMutex;
std::vector<std::string> g_log;

}  // namespace

const std::string& TestModulus() {
    return Keys().modulus;
}

Bytes FromBase64(const std::string& text) {
    Bytes out(text.size() + 4);
    const int n = n_porting::Base64DecodeBuf(out.data(), out.size(), text.c_str());
    out.resize(n < 0 ? 0 : size_t(n));
    return out;
}

t_openedRequest OpenRequest(const std::string& form) {
    t_openedRequest r;
    std::string u, g, p;
    for (size_t at = 0, end; at < form.size(); at = end + 1) {
        end = std::min(form.find('&', at), form.size());
        const std::string name = form.substr(at, 2), value = form.substr(at + 2, end - at - 2);
        (name == "k=" ? r.k : name == "v=" ? r.v : name == "u=" ? u : name == "g=" ? g : p) = value;
        r.hasBody |= name == "p=";
    }
    const Bytes key = Decrypt(FromBase64(r.k)), vector = Decrypt(FromBase64(r.v));
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
    uint8_t* sealed = n_cloud::Aes256CbcEncrypt(plain.data(), plain.size(), &n,
                                                keyBlock.data() + 16, 32, keyBlock.data(), 16);
    char* text = n_porting::Base64EncodeAlloc(sealed, int32_t(n));
    const std::string s = text;
    std::free(text);
    std::free(sealed);
    return s;
}

std::string SealReply(const Bytes& keyBlock, const Bytes& record, int64_t n) {
    const uint32_t size = n < 0 ? uint32_t(record.size()) : uint32_t(n);
    Bytes plain = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)},
          packed;
    n_cloud::RawDeflate(record.data(), record.size(), packed);
    plain.insert(plain.end(), packed.begin(), packed.end());
    return SealPlain(keyBlock, plain);
}

std::string HttpReply(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

t_server::t_server(t_answer answer) : m_answer(std::move(answer)) {
    Keys();
    m_listen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);  // port 0: an ephemeral one
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
    char buf[4096];
    auto readable = [](int fd, int ms) {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, ms) > 0;
    };
    while (!m_stop) {
        if (!readable(m_listen, 50)) continue;
        const int fd = accept(m_listen, nullptr, nullptr);
        ++m_connections;
        std::string raw;
        size_t want = std::string::npos, blank = std::string::npos;
        while (raw.size() < want && readable(fd, 2000)) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            raw.append(buf, size_t(n));
            const size_t label = raw.find("Content-Length: ");
            blank = raw.find("\r\n\r\n");
            if (blank != std::string::npos && label != std::string::npos)
                want = blank + 4 + std::strtoul(raw.c_str() + label + 16, nullptr, 10);
        }
        std::string answer;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(
                OpenRequest(blank == std::string::npos ? "" : raw.substr(blank + 4)));
            answer = m_answer(m_requests.back());
        }
        if (answer == kSilent) {
            while (!m_stop && !(readable(fd, 50) && recv(fd, buf, sizeof buf, 0) <= 0)) {
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
    n_cloud::SetCloudLogHook([](const char* message, const char*) {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_log.emplace_back(message);
    });
}

t_logCapture::~t_logCapture() {
    n_cloud::SetCloudLogHook(nullptr);
}

bool t_logCapture::Has(const std::string& message) const {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return std::find(g_log.begin(), g_log.end(), message) != g_log.end();
}

std::string t_logCapture::All() const {
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::string s;
    for (const auto& m : g_log) s += m + " | ";
    return s;
}

}  // namespace cloudtest
