// Sealing of cloud requests and opening of sealed replies: a fresh AES-256
// key and vector per request, sent under the servers' RSA key; payloads are
// raw deflate, AES-256-CBC with PKCS#7, then Base64. Any thread; the RSA key is shared under a
// lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace n_cloud {

constexpr size_t kSealKeyBlockBytes = 48;  // vector (0-15), then the AES-256 key (16-47)
constexpr size_t kOuterAddressBytes = 2048;
constexpr size_t kSealRoom = 20480;        // form-body room beyond the body length
constexpr uint32_t kReplyCapacity = 8192;  // the largest opened reply the client keeps

// Installs the servers' public key (hexadecimal modulus, exponent 65537) for
// every later sealing. False, and no key, for a text OpenSSL refuses.
bool SetSealPublicKey(const char* modulusHex);

// Raw deflate (no header or trailer) and raw inflate of exactly `expected`
// bytes: false unless the stream ends having produced exactly that many.
bool RawDeflate(const uint8_t* bytes, size_t length, std::vector<uint8_t>& out);
bool RawInflateExact(const uint8_t* bytes, size_t length, uint8_t* out, size_t expected);

// New (malloc) buffers; null on failure. Key 32 and vector 16 bytes, else null.
uint8_t* Aes256CbcEncrypt(const uint8_t* bytes, size_t length, size_t* outLength,
                          const uint8_t* key, size_t keyLength, const uint8_t* vector,
                          size_t vectorLength);
// Null for a length that is not a non-zero multiple of 16 or bad padding.
uint8_t* Aes256CbcDecrypt(const uint8_t* bytes, size_t length, size_t* outLength,
                          const uint8_t* key, size_t keyLength, const uint8_t* vector,
                          size_t vectorLength);
// One 128-byte block of the installed key (PKCS#1 v1.5 type 2); null with
// *error = -10 for null bytes or a length of 0xFFFFFFFF, -1 for any other failure.
uint8_t* RsaPublicEncrypt(const uint8_t* bytes, uint32_t length, uint32_t* outLength, int* error);
// A new NUL-terminated Base64 text (malloc); the empty text for no bytes.
char* SealPayload(const uint8_t* bytes, size_t length, const uint8_t* key, const uint8_t* vector);

// Writes the outer address ("http://" + endpointHost + "/q", at most 2048
// bytes with the NUL) and the form body "k=..&v=..&u=..[&g=..][&p=..]" into
// `formBody` of `formCapacity` bytes. Returns the new key block, or null (and
// nothing sent) when random bytes, RSA or any size check fails. `query`
// null leaves out g; `body` null leaves out p.
uint8_t* SealCloudRequest(const char* innerAddress, const char* query, const uint8_t* body,
                          size_t bodyLength, const char* endpointHost, char* outerAddress,
                          char* formBody, size_t formCapacity);

// Opens a sealed reply text of `textLength` characters (Base64 ends at a CR,
// a NUL or a "=" group). The result (malloc) holds exactly *outLength bytes;
// null, keeping nothing, unless the bytes are a non-zero multiple of 16 with
// valid padding, at least 4 bytes decrypt, 1 <= N <= capacity, and the
// inflate ends its stream with exactly N bytes.
uint8_t* decryptHttpRequest(const uint8_t* keyBlock, const char* text, size_t textLength,
                            uint32_t capacity, uint32_t* outLength);

// Frees a key block or any buffer above; null is fine.
void FreeSealBuffer(void* buffer);

}  // namespace n_cloud
