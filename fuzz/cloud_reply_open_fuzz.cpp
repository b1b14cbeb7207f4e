// Fuzzes the opening of a sealed reply: any bytes as the Base64 body must
// open to at most the capacity or fail, and any record sealed with the key
// must open back unchanged.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/cloud_fuzz_support.h"
#include "fuzz/fuzz_support.h"
#include "porting3/crypto.h"
#include "src/cloud/cloud_seal.h"

using namespace n_cloud;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* key = CloudFuzzKeyBlock();
    uint32_t n = 0;
    uint8_t* opened =
        decryptHttpRequest(key, reinterpret_cast<const char*>(data), size, kReplyCapacity, &n);
    FUZZ_CHECK(opened ? n >= 1 && n <= kReplyCapacity : n == 0);
    FreeSealBuffer(opened);

    if (size == 0 || size > kReplyCapacity) return 0;
    std::vector<uint8_t> plain = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8),
                                  uint8_t(size)};
    std::vector<uint8_t> packed;
    FUZZ_CHECK(RawDeflate(data, size, packed));
    plain.insert(plain.end(), packed.begin(), packed.end());
    size_t sealedLength = 0;
    uint8_t* sealed =
        Aes256CbcEncrypt(plain.data(), plain.size(), &sealedLength, key + 16, 32, key, 16);
    FUZZ_CHECK(sealed != nullptr);
    char* text = n_porting::Base64EncodeAlloc(sealed, int32_t(sealedLength));
    uint8_t* back = decryptHttpRequest(key, text, std::strlen(text), kReplyCapacity, &n);
    FUZZ_CHECK(back != nullptr && n == size && std::memcmp(back, data, size) == 0);
    FreeSealBuffer(back);
    std::free(text);
    FreeSealBuffer(sealed);
    return 0;
}
