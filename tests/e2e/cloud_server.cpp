// vetra_cloud_server: the end-to-end tests' cloud-candidate server on
// 127.0.0.1 (an ephemeral port). It prints the environment fcitx needs to
// reach it ("ENV K=V" lines, then "READY"), opens each sealed request with
// the test key pair, logs it and answers as scripted. Runs until SIGTERM.
// The server thread answers; main only waits.
//
//   vetra_cloud_server [--delay MS] [--word INPUT=WORD]... [--text N]
//                      [--malformed] [--no-gateway]
//
//   --delay MS         every answer waits MS milliseconds
//   --word INPUT=WORD  a request for INPUT gets WORD, with the syllable ids
//                      and input ends of the request's shortest whole path
//   --text N           any request gets its own N-th candidate text (from 1)
//   --malformed        each request gets the next broken reply of the list
//                      (HTTP errors, bad framing, bad seals, bad records)
//   --no-gateway       leave the gateway out of the environment (cloud off)
//
// Output lines: "REQUEST <k> <input> <text|text...>" for the k-th request, then
// "ANSWER <k> <what>" (a word, "none" or the name of a broken reply).
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/src/cloud/cloud_support.h"

namespace {

using cloudtest::Bytes;
using cloudtest::t_openedRequest;

volatile sig_atomic_t g_stop = 0;
int g_delayMs = 0;
int g_textIndex = 0;
bool g_malformed = false;
std::map<std::string, std::string> g_words;
int g_count = 0;

struct t_request {
    std::string input;
    std::vector<uint16_t> ids;  // the shortest whole path's syllables
    std::vector<uint16_t> ends;
    std::vector<std::u16string> texts;
};

uint16_t U16(const std::string& b, size_t at) {
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

// Reads the kernel's request record: input, arc groups, candidate texts.
t_request ReadRecord(const std::string& b) {
    t_request r;
    if (b.size() < 7) return r;
    const size_t n = uint8_t(b[5]);
    if (6 + n >= b.size()) return r;
    r.input = b.substr(6, n);
    struct t_arc {
        uint16_t id;
        size_t end;
        bool partial;
    };
    std::vector<std::vector<t_arc>> from(n + 1);
    size_t at = 6 + n;
    const size_t groups = uint8_t(b[at++]);
    for (size_t g = 0; g < groups && at + 2 <= b.size(); ++g) {
        const size_t start = uint8_t(b[at]), k = uint8_t(b[at + 1]);
        at += 2;
        for (size_t a = 0; a < k && at + 5 <= b.size(); ++a, at += 5)
            if (start <= n)
                from[start].push_back({U16(b, at), size_t(uint8_t(b[at + 2])), b[at + 3] != 0});
    }
    if (at < b.size()) {
        const size_t t = uint8_t(b[at++]);
        for (size_t i = 0; i < t && at + 2 <= b.size(); ++i) {
            const uint16_t c = U16(b, at);
            at += 2;
            std::u16string text;
            for (size_t u = 0; u + 1 < c && at + 2 <= b.size(); u += 2, at += 2)
                text.push_back(char16_t(U16(b, at) ^ uint16_t(((i + 1) * 256) | c)));
            r.texts.push_back(text);
        }
    }
    // Fewest complete syllables from 0 to n (breadth first).
    std::vector<int> prev(n + 1, -1);
    std::vector<uint16_t> via(n + 1, 0);
    std::vector<size_t> queue = {0};
    prev[0] = 0;
    for (size_t q = 0; q < queue.size(); ++q)
        for (const t_arc& arc : from[queue[q]])
            if (!arc.partial && arc.end <= n && arc.end > queue[q] && prev[arc.end] < 0) {
                prev[arc.end] = int(queue[q]);
                via[arc.end] = arc.id;
                queue.push_back(arc.end);
            }
    if (n > 0 && prev[n] >= 0) {
        for (size_t p = n; p > 0; p = size_t(prev[p])) {
            r.ids.insert(r.ids.begin(), via[p]);
            r.ends.insert(r.ends.begin(), uint16_t(p));
        }
    }
    return r;
}

std::u16string Utf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const uint8_t c = uint8_t(s[i]);
        const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        for (int k = 1; k < len && i + size_t(k) < s.size(); ++k)
            cp = cp << 6 | (uint8_t(s[i + size_t(k)]) & 0x3F);
        i += size_t(len);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

std::string Utf8(const std::u16string& s) {
    std::string out;
    for (char16_t u : s) {  // the candidate texts here are BMP text
        if (u < 0x80) {
            out += char(u);
        } else if (u < 0x800) {
            out += char(0xC0 | u >> 6);
            out += char(0x80 | (u & 0x3F));
        } else {
            out += char(0xE0 | u >> 12);
            out += char(0x80 | (u >> 6 & 0x3F));
            out += char(0x80 | (u & 0x3F));
        }
    }
    return out;
}

void Put16(Bytes& b, size_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

// The reply record: L, 18 unread bytes, the word, the ids, the input ends.
Bytes ReplyRecord(const std::u16string& word, const std::vector<uint16_t>& ids,
                  const std::vector<uint16_t>& ends, size_t wordBytesField = 0) {
    Bytes r(20, 0);
    Put16(r, wordBytesField ? wordBytesField : word.size() * 2);
    for (char16_t u : word) Put16(r, u);
    const bool withPath = ids.size() == word.size();
    Put16(r, withPath ? ids.size() * 2 : 0);
    if (withPath)
        for (uint16_t id : ids) Put16(r, id);
    Put16(r, withPath ? ends.size() * 2 : 0);
    if (withPath)
        for (uint16_t e : ends) Put16(r, e);
    r[0] = uint8_t(r.size());
    r[1] = uint8_t(r.size() >> 8);
    return r;
}

// The broken replies, in the order they are served.
struct t_broken {
    const char* name;
    std::string (*build)(const t_openedRequest&, const Bytes& good);
};
const t_broken kBroken[] = {
    {"http500",
     [](const t_openedRequest&, const Bytes&) {
         return std::string("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
     }},
    {"http10",
     [](const t_openedRequest& r, const Bytes& g) {
         return "HTTP/1.0" + cloudtest::HttpReply(cloudtest::SealReply(r.keyBlock, g)).substr(8);
     }},
    {"no-status-end",
     [](const t_openedRequest&, const Bytes&) { return std::string("HTTP/1.1 200 OK"); }},
    {"no-length", [](const t_openedRequest&,
                     const Bytes&) { return std::string("HTTP/1.1 200 OK\r\n\r\nabcd"); }},
    {"length-0", [](const t_openedRequest&, const Bytes&) { return cloudtest::HttpReply(""); }},
    {"no-body-start",
     [](const t_openedRequest&, const Bytes&) {
         return std::string("HTTP/1.1 200 OK\r\nContent-Length: 44\r\n");
     }},
    {"short-body",
     [](const t_openedRequest& r, const Bytes& g) {
         const std::string s = cloudtest::SealReply(r.keyBlock, g);
         return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(s.size() + 1) + "\r\n\r\n" +
                s;
     }},
    {"chunk-beyond",
     [](const t_openedRequest& r, const Bytes& g) {
         return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFF\r\n" +
                cloudtest::SealReply(r.keyBlock, g) + "\r\n";
     }},
    {"chunk-not-hex",
     [](const t_openedRequest& r, const Bytes& g) {
         return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2g\r\n" +
                cloudtest::SealReply(r.keyBlock, g) + "\r\n";
     }},
    {"too-long", [](const t_openedRequest&,
                    const Bytes&) { return cloudtest::HttpReply(std::string(9000, 'A')); }},
    {"not-sealed",
     [](const t_openedRequest&, const Bytes&) { return cloudtest::HttpReply("QUJDRA=="); }},
    {"closed", [](const t_openedRequest&, const Bytes&) { return std::string(); }},
    {"record-19",
     [](const t_openedRequest& r, const Bytes& g) {
         Bytes bad = g;
         bad[0] = 19;
         bad[1] = 0;
         return cloudtest::HttpReply(cloudtest::SealReply(r.keyBlock, bad));
     }},
    {"word-128",
     [](const t_openedRequest& r, const Bytes&) {
         const Bytes bad = ReplyRecord(std::u16string(64, u'错'), {}, {}, 128);
         return cloudtest::HttpReply(cloudtest::SealReply(r.keyBlock, bad));
     }},
};
constexpr size_t kBrokenCount = sizeof kBroken / sizeof kBroken[0];

std::string Answer(const t_openedRequest& opened) {
    const int k = ++g_count;
    const t_request r = opened.ok ? ReadRecord(opened.body) : t_request{};
    std::string texts;
    for (const std::u16string& t : r.texts) texts += (texts.empty() ? "" : "|") + Utf8(t);
    std::printf("REQUEST\t%d\t%s\t%s\n", k, opened.ok ? r.input.c_str() : "<unopened>",
                texts.c_str());
    if (g_delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(g_delayMs));
    std::u16string word;
    if (g_textIndex > 0 && size_t(g_textIndex) <= r.texts.size())
        word = r.texts[size_t(g_textIndex) - 1];
    if (auto it = g_words.find(r.input); it != g_words.end()) word = Utf16(it->second);
    if (g_malformed) {
        const t_broken& broken = kBroken[size_t(k - 1) % kBrokenCount];
        std::printf("ANSWER\t%d\t%s\n", k, broken.name);
        return broken.build(opened, ReplyRecord(u"云词", r.ids, r.ends));
    }
    if (!opened.ok || word.empty()) {
        std::printf("ANSWER\t%d\tnone\n", k);
        return std::string();
    }
    std::printf("ANSWER\t%d\t%s\n", k, Utf8(word).c_str());
    return cloudtest::HttpReply(
        cloudtest::SealReply(opened.keyBlock, ReplyRecord(word, r.ids, r.ends)));
}

}  // namespace

int main(int argc, char** argv) {
    bool gateway = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--delay" && hasValue) {
            g_delayMs = std::atoi(argv[++i]);
        } else if (a == "--text" && hasValue) {
            g_textIndex = std::atoi(argv[++i]);
        } else if (a == "--word" && hasValue) {
            const std::string v = argv[++i];
            const size_t eq = v.find('=');
            if (eq == std::string::npos) {
                std::fprintf(stderr, "vetra_cloud_server: --word needs INPUT=WORD\n");
                return 2;
            }
            g_words[v.substr(0, eq)] = v.substr(eq + 1);
        } else if (a == "--malformed") {
            g_malformed = true;
        } else if (a == "--no-gateway") {
            gateway = false;
        } else {
            std::fprintf(stderr, "vetra_cloud_server: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGTERM, [](int) { g_stop = 1; });
    signal(SIGINT, [](int) { g_stop = 1; });
    signal(SIGPIPE, SIG_IGN);
    cloudtest::t_server server(Answer);
    if (gateway) {
        std::printf("ENV\tVETRA_CLOUD_GATEWAY_HOST=127.0.0.1\n");
        std::printf("ENV\tVETRA_CLOUD_GATEWAY_PORT=%s\n", server.Port().c_str());
    }
    std::printf("ENV\tVETRA_CLOUD_ENDPOINT_HOST=ep.vetra.test\n");
    std::printf("ENV\tVETRA_CLOUD_SERVER_HOST=cands.vetra.test\n");
    std::printf("ENV\tVETRA_CLOUD_RSA_MODULUS=%s\n", cloudtest::TestModulus().c_str());
    std::printf("READY\n");
    while (!g_stop) pause();
    std::printf("STOPPED\t%d\n", g_count);
    return 0;
}
