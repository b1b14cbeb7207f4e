// Fuzzes the HTTP reply parser on raw received bytes (status line, headers,
// lengths, chunks, sealed body): a reply within the capacity or a failure.
#include <cstdlib>
#include <cstring>

#include "fuzz/cloud_fuzz_support.h"
#include "fuzz/fuzz_support.h"
#include "src/cloud/cloud_http.h"
#include "src/cloud/cloud_seal.h"

using namespace n_cloud;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CloudHttpClient* client = [] {
        auto* c = new CloudHttpClient;
        auto* key = static_cast<uint8_t*>(std::malloc(kSealKeyBlockBytes));
        std::memcpy(key, CloudFuzzKeyBlock(), kSealKeyBlockBytes);
        c->SetSealingKey(key);
        return c;
    }();
    if (size > CloudHttpClient::kReplyBytes - 1) size = CloudHttpClient::kReplyBytes - 1;
    std::memcpy(client->ReplyBuffer(), data, size);
    static uint8_t reply[kReplyCapacity];
    for (uint32_t capacity : {kReplyCapacity, 64u}) {
        uint32_t replySize = capacity;
        const bool ok = client->ParseReply(size, reply, &replySize);
        FUZZ_CHECK(!ok || (replySize >= 1 && replySize <= capacity));
    }
    return 0;
}
