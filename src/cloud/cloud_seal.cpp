// Request sealing and reply opening over the platform layer's crypto and zlib.
#include "src/cloud/cloud_seal.h"

#include <openssl/crypto.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "porting3/crypto.h"

namespace n_cloud {

namespace {

constexpr size_t kKeyBytes = 32;
constexpr size_t kVectorBytes = 16;
constexpr size_t kRsaBlock = 128;

// The worker is never joined and may be sealing while the host exits:
// OpenSSL must not free its tables from an exit handler under it. Effective
// when this runs before OpenSSL's first use in the process.
[[maybe_unused]] const int g_noExitCleanup = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);

// The servers' key: set when the cloud starts, used by the worker.
std::mutex& KeyLock() {
    static auto* m = new std::mutex;  // never destroyed: the worker may seal during exit
    return *m;
}
n_porting::t_rsaKey& Key() {
    static auto* k = new n_porting::t_rsaKey;
    return *k;
}

bool Append(char* out, size_t capacity, size_t& at, const char* text, size_t n) {
    if (n >= capacity - at) return false;  // keep room for the NUL
    std::memcpy(out + at, text, n);
    at += n;
    out[at] = 0;
    return true;
}

bool AppendText(char* out, size_t capacity, size_t& at, const char* text) {
    return Append(out, capacity, at, text, std::strlen(text));
}

}  // namespace

bool SetSealPublicKey(const char* modulusHex) {
    std::lock_guard<std::mutex> lock(KeyLock());
    return n_porting::RsaSetPublicKeyHex(&Key(), modulusHex, "10001") == 1 &&
           n_porting::RsaModulusBytes(&Key()) == kRsaBlock;
}

bool RawDeflate(const uint8_t* bytes, size_t length, std::vector<uint8_t>& out) {
    out.clear();
    if (length > UINT_MAX / 2) return false;
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out.resize(deflateBound(&z, uLong(length)));
    z.next_in = const_cast<Bytef*>(bytes ? bytes : reinterpret_cast<const Bytef*>(""));
    z.avail_in = uInt(length);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

bool RawInflateExact(const uint8_t* bytes, size_t length, uint8_t* out, size_t expected) {
    if (!bytes || !out || length > UINT_MAX || expected == 0 || expected > UINT_MAX) return false;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = uInt(length);
    z.next_out = out;
    z.avail_out = uInt(expected);
    int rc = inflate(&z, Z_FINISH);
    // A stream that would produce more than N stops with no room (Z_BUF_ERROR
    // or Z_OK); only a finished stream of exactly N bytes is an answer.
    const bool ok = rc == Z_STREAM_END && z.total_out == expected;
    inflateEnd(&z);
    return ok;
}

uint8_t* Aes256CbcEncrypt(const uint8_t* bytes, size_t length, size_t* outLength,
                          const uint8_t* key, size_t keyLength, const uint8_t* vector,
                          size_t vectorLength) {
    if (outLength) *outLength = 0;
    if (!outLength || !key || !vector || keyLength != kKeyBytes || vectorLength != kVectorBytes)
        return nullptr;
    if (length && !bytes) return nullptr;
    const size_t padded = n_porting::GetPaddedSize(length, 16);
    if (padded == 0) return nullptr;
    auto* out = static_cast<uint8_t*>(std::malloc(padded));
    if (!out) return nullptr;
    size_t size = padded;
    n_porting::t_aesKey aes;
    uint8_t iv[kVectorBytes];
    std::memcpy(iv, vector, sizeof iv);
    if (n_porting::PadPkcs7(out, &size, bytes ? bytes : out, length, 16) != 1 ||
        !n_porting::AesSetEncryptKey(&aes, key, 256) ||
        !n_porting::AesCbcEncrypt(iv, out, out, size, &aes)) {
        std::free(out);
        return nullptr;
    }
    *outLength = size;
    return out;
}

uint8_t* Aes256CbcDecrypt(const uint8_t* bytes, size_t length, size_t* outLength,
                          const uint8_t* key, size_t keyLength, const uint8_t* vector,
                          size_t vectorLength) {
    if (outLength) *outLength = 0;
    if (!outLength || !bytes || !key || !vector || keyLength != kKeyBytes ||
        vectorLength != kVectorBytes || length == 0 || length % 16)
        return nullptr;
    auto* out = static_cast<uint8_t*>(std::malloc(length));
    if (!out) return nullptr;
    n_porting::t_aesKey aes;
    uint8_t iv[kVectorBytes];
    std::memcpy(iv, vector, sizeof iv);
    size_t plain = 0;
    if (!n_porting::AesSetDecryptKey(&aes, key, 256) ||
        !n_porting::AesCbcDecrypt(iv, out, bytes, length, &aes) ||
        n_porting::UnpadPkcs7(&plain, out, length, 16) != 1) {
        std::free(out);
        return nullptr;
    }
    *outLength = plain;
    return out;
}

uint8_t* RsaPublicEncrypt(const uint8_t* bytes, uint32_t length, uint32_t* outLength, int* error) {
    if (outLength) *outLength = 0;
    if (error) *error = 0;
    if (!bytes || length == 0xFFFFFFFFu) {
        if (error) *error = -10;
        return nullptr;
    }
    auto* out = static_cast<uint8_t*>(std::malloc(kRsaBlock));
    size_t written = 0;
    int ok = 0;
    if (out && length <= kRsaBlock - 11) {
        std::lock_guard<std::mutex> lock(KeyLock());
        ok = n_porting::RsaPublicEncryptChunks(bytes, length, out, kRsaBlock, &written, &Key());
    }
    if (!ok || written != kRsaBlock) {
        std::free(out);
        if (error) *error = -1;
        return nullptr;
    }
    if (outLength) *outLength = uint32_t(written);
    return out;
}

char* SealPayload(const uint8_t* bytes, size_t length, const uint8_t* key, const uint8_t* vector) {
    if (!bytes || length == 0) return n_porting::Base64EncodeAlloc(nullptr, 0);
    std::vector<uint8_t> packed;
    if (!RawDeflate(bytes, length, packed)) return nullptr;
    size_t sealedLength = 0;
    uint8_t* sealed = Aes256CbcEncrypt(packed.data(), packed.size(), &sealedLength, key, kKeyBytes,
                                       vector, kVectorBytes);
    if (!sealed || sealedLength > size_t(INT32_MAX) / 2) {
        std::free(sealed);
        return nullptr;
    }
    char* text = n_porting::Base64EncodeAlloc(sealed, int32_t(sealedLength));
    std::free(sealed);
    return text;
}

uint8_t* SealCloudRequest(const char* innerAddress, const char* query, const uint8_t* body,
                          size_t bodyLength, const char* endpointHost, char* outerAddress,
                          char* formBody, size_t formCapacity) {
    if (!innerAddress || !endpointHost || !outerAddress || !formBody || formCapacity == 0)
        return nullptr;
    const int n = std::snprintf(outerAddress, kOuterAddressBytes, "http://%s/q", endpointHost);
    if (n < 0 || size_t(n) >= kOuterAddressBytes) return nullptr;
    auto* block = static_cast<uint8_t*>(std::malloc(kSealKeyBlockBytes));
    if (!block) return nullptr;
    // Key first, then vector, both from the system generator: no request
    // leaves without a key nobody can predict.
    uint8_t* vector = block;
    uint8_t* key = block + kVectorBytes;
    char* parts[5] = {};
    bool ok =
        n_porting::RandomBytes(key, kKeyBytes) && n_porting::RandomBytes(vector, kVectorBytes);
    uint8_t* rsaKey = nullptr;
    uint8_t* rsaVector = nullptr;
    uint32_t rsaLength = 0;
    int error = 0;
    if (ok) {
        rsaKey = RsaPublicEncrypt(key, kKeyBytes, &rsaLength, &error);
        rsaVector = RsaPublicEncrypt(vector, kVectorBytes, &rsaLength, &error);
        ok = rsaKey && rsaVector;
    }
    if (ok) {
        parts[0] = n_porting::Base64EncodeAlloc(rsaKey, int32_t(kRsaBlock));
        parts[1] = n_porting::Base64EncodeAlloc(rsaVector, int32_t(kRsaBlock));
        parts[2] = SealPayload(reinterpret_cast<const uint8_t*>(innerAddress),
                               std::strlen(innerAddress), key, vector);
        if (query)
            parts[3] = SealPayload(reinterpret_cast<const uint8_t*>(query), std::strlen(query), key,
                                   vector);
        if (body) parts[4] = SealPayload(body, bodyLength, key, vector);
        ok = parts[0] && parts[1] && parts[2] && (!query || parts[3]) && (!body || parts[4]);
    }
    if (ok) {
        size_t at = 0;
        formBody[0] = 0;
        ok = AppendText(formBody, formCapacity, at, "k=") &&
             AppendText(formBody, formCapacity, at, parts[0]) &&
             AppendText(formBody, formCapacity, at, "&v=") &&
             AppendText(formBody, formCapacity, at, parts[1]) &&
             AppendText(formBody, formCapacity, at, "&u=") &&
             AppendText(formBody, formCapacity, at, parts[2]) &&
             (!query || (AppendText(formBody, formCapacity, at, "&g=") &&
                         AppendText(formBody, formCapacity, at, parts[3]))) &&
             (!body || (AppendText(formBody, formCapacity, at, "&p=") &&
                        AppendText(formBody, formCapacity, at, parts[4])));
    }
    std::free(rsaKey);
    std::free(rsaVector);
    for (char* p : parts) std::free(p);
    if (!ok) {
        std::free(block);
        return nullptr;
    }
    return block;
}

uint8_t* decryptHttpRequest(const uint8_t* keyBlock, const char* text, size_t textLength,
                            uint32_t capacity, uint32_t* outLength) {
    if (outLength) *outLength = 0;
    if (!keyBlock || !text || !outLength || textLength == 0 || textLength > size_t(INT32_MAX))
        return nullptr;
    // The decoder reads up to a NUL: give it a terminated copy of exactly the body.
    std::vector<char> copy(text, text + textLength);
    copy.push_back(0);
    std::vector<uint8_t> raw(size_t(n_porting::Base64DecodedSizeMax(int32_t(textLength))) + 3);
    const int decoded = n_porting::Base64DecodeBuf(raw.data(), raw.size(), copy.data());
    if (decoded <= 0 || decoded % 16) return nullptr;
    size_t plainLength = 0;
    uint8_t* plain = Aes256CbcDecrypt(raw.data(), size_t(decoded), &plainLength,
                                      keyBlock + kVectorBytes, kKeyBytes, keyBlock, kVectorBytes);
    if (!plain) return nullptr;
    uint8_t* result = nullptr;
    if (plainLength >= 4) {
        const uint32_t n = uint32_t(plain[0]) << 24 | uint32_t(plain[1]) << 16 |
                           uint32_t(plain[2]) << 8 | plain[3];
        if (n >= 1 && n <= capacity) {
            result = static_cast<uint8_t*>(std::malloc(n));
            if (result && RawInflateExact(plain + 4, plainLength - 4, result, n)) {
                *outLength = n;
            } else {
                std::free(result);
                result = nullptr;
            }
        }
    }
    std::free(plain);
    return result;
}

void FreeSealBuffer(void* buffer) {
    std::free(buffer);
}

}  // namespace n_cloud
