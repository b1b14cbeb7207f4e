// Crypto wrappers of the platform layer: the Base64 codec and PKCS#7 padding
// of the layer itself, and AES-CBC, MD5, RSA and random bytes over OpenSSL's
// EVP interface. Any thread; a key or digest holder belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "porting3/path16.h"
#include "porting3/str_class.h"

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_pkey_st EVP_PKEY;
typedef struct bignum_st BIGNUM;

namespace n_porting {

// ---- Base64 (RFC 4648 alphabet, "=" padding, no line breaks) ----

// (length + 2) / 3 x 4; 0 for a negative length.
int64_t Base64EncodedSize(int32_t length);
// Write the text and a NUL (Base64EncodedSize + 1 units of room); return the
// characters written. A negative length or null bytes give the empty text.
int Base64Encode(char* out, const uint8_t* bytes, int32_t length);
int Base64EncodeW(char16_t* out, const uint8_t* bytes, int32_t length);
inline int Base64EncodeBuf(char* out, const uint8_t* bytes, int32_t length) {
    return Base64Encode(out, bytes, length);
}
inline int Base64EncodeBufW(char16_t* out, const uint8_t* bytes, int32_t length) {
    return Base64EncodeW(out, bytes, length);
}
// A new NUL-terminated text (malloc); null when memory runs out.
char* Base64EncodeAlloc(const uint8_t* bytes, int32_t length);

// (length / 4) x 3: the most any text of that length decodes to.
int32_t Base64DecodedSizeMax(int32_t textLength);
// 0 for fewer than 4 characters; else the maximum less one per trailing "="
// (at most two).
int32_t Base64DecodedSize(const char* text);
int32_t Base64DecodedSizeW(const char16_t* text);
// The decoded byte count, or -1 for a character outside the alphabet (every
// byte of 0x80 or more, every unit of 128 or more). The unbounded forms need
// Base64DecodedSizeMax(length of text) bytes of room; the Buf forms write
// nothing past `capacity` and give -1 when the result would not fit.
int Base64Decode(uint8_t* out, const char* text);
int Base64DecodeW(uint8_t* out, const char16_t* text);
int Base64DecodeBuf(uint8_t* out, size_t capacity, const char* text);
int Base64DecodeBufW(uint8_t* out, size_t capacity, const char16_t* text);

// ---- PKCS#7 padding ----

// block x (length / block + 1): a full block is added to a whole multiple.
// 0 for a block outside 1-255 or a result that does not fit.
size_t GetPaddedSize(size_t length, size_t block);
// *size holds the capacity and receives the padded size. 1 when the padded
// bytes were written; 0 (nothing written) when out is null or too small.
int PadPkcs7(uint8_t* out, size_t* size, const uint8_t* bytes, size_t length, size_t block);
// 1 and the unpadded length when the length is a non-zero multiple of the
// block and the last p bytes all hold p (1 <= p <= block); else 0 and 0.
int UnpadPkcs7(size_t* outLength, const uint8_t* bytes, size_t length, size_t block);

// ---- AES-CBC ----

// An AES key for one direction. Not copyable.
class t_aesKey {
public:
    t_aesKey() = default;
    ~t_aesKey();
    t_aesKey(const t_aesKey&) = delete;
    t_aesKey& operator=(const t_aesKey&) = delete;
    bool IsSet() const { return m_ctx != nullptr; }

private:
    friend bool AesSetKey(t_aesKey*, const uint8_t*, int, bool);
    friend bool AesCbcEncrypt(uint8_t*, uint8_t*, const uint8_t*, size_t, t_aesKey*);
    friend bool AesCbcDecrypt(uint8_t*, uint8_t*, const uint8_t*, size_t, t_aesKey*);
    EVP_CIPHER_CTX* m_ctx = nullptr;
    bool m_encrypt = false;
};

// Key bits 128, 192 or 256; false (key unset) for any other size.
bool AesSetKey(t_aesKey* key, const uint8_t* bytes, int bits, bool encrypt);
inline bool AesSetEncryptKey(t_aesKey* key, const uint8_t* bytes, int bits) {
    return AesSetKey(key, bytes, bits, true);
}
inline bool AesSetDecryptKey(t_aesKey* key, const uint8_t* bytes, int bits) {
    return AesSetKey(key, bytes, bits, false);
}
// CBC with the 16-byte vector `iv`, which ends as the last cipher block, so
// consecutive calls continue one chain; out may equal in. Encryption takes a
// partial last block as if zero-filled and writes it whole: out needs the
// length rounded up to 16. Decryption refuses a length that is not a
// multiple of 16. False (iv unchanged) on refusal or a key of the wrong direction.
bool AesCbcEncrypt(uint8_t* iv, uint8_t* out, const uint8_t* in, size_t length, t_aesKey* key);
bool AesCbcDecrypt(uint8_t* iv, uint8_t* out, const uint8_t* in, size_t length, t_aesKey* key);

// ---- random ----

// n bytes from OpenSSL's generator; false when it fails (callers then fail:
// there is no weaker fallback).
bool RandomBytes(void* out, size_t n);
// Kept for callers of the seeding step: the generator seeds itself, and the
// host process's rand() is left alone.
inline void SeedRandom() {}

// ---- MD5 (RFC 1321) ----

constexpr size_t kMd5Bytes = 16;

class t_md5Context {
public:
    t_md5Context() = default;
    ~t_md5Context();
    t_md5Context(const t_md5Context&) = delete;
    t_md5Context& operator=(const t_md5Context&) = delete;

private:
    friend bool Md5Init(t_md5Context*);
    friend bool Md5Update(t_md5Context*, const void*, size_t);
    friend bool Md5Final(t_md5Context*, uint8_t*);
    EVP_MD_CTX* m_ctx = nullptr;
};

bool Md5Digest(uint8_t* out, const void* bytes, size_t length);
bool Md5Init(t_md5Context* ctx);
// False before Md5Init or after Md5Final.
bool Md5Update(t_md5Context* ctx, const void* bytes, size_t length);
bool Md5Final(t_md5Context* ctx, uint8_t* out);
// The value's four bytes, lowest first.
bool Md5UpdateU32(t_md5Context* ctx, uint32_t value);
// The text's units and its terminator.
bool Md5UpdateStr16(t_md5Context* ctx, const char16_t* text);
// The whole file in pieces of at most 1 MiB. 1, or 0 with "Hash文件失败" when
// it cannot be opened or any piece is read short.
int Md5UpdateFile(t_errorContext& err, const t_path& path, t_md5Context* ctx);
int Md5File(t_errorContext& err, const t_path& path, uint8_t* out);
int Md5Equal(const uint8_t* a, const uint8_t* b);
// Appends 32 upper-case hexadecimal digits.
void Md5ToHex(t_str& out, const uint8_t* digest);
// 1 for exactly 32 hexadecimal digits; else 0.
int Md5FromHex(uint8_t* out, const char16_t* text);

// ---- RSA with PKCS#1 v1.5 padding ----

// Modulus, public and private exponent, and the key built from them.
class t_rsaKey {
public:
    t_rsaKey() = default;
    ~t_rsaKey();
    t_rsaKey(const t_rsaKey&) = delete;
    t_rsaKey& operator=(const t_rsaKey&) = delete;

private:
    friend int RsaSetKeyHex(t_rsaKey*, const char*, const char*, const char*);
    friend void RsaFreeKey(t_rsaKey*);
    friend EVP_PKEY* RsaPkey(const t_rsaKey*);
    BIGNUM* m_n = nullptr;
    BIGNUM* m_e = nullptr;
    BIGNUM* m_d = nullptr;
    EVP_PKEY* m_pkey = nullptr;
};

// Replace the key's numbers with those of the hexadecimal texts. 1, or 0
// (key freed) for a null key or text, a text that is not wholly hexadecimal
// or numbers OpenSSL refuses.
int RsaSetPublicKeyHex(t_rsaKey* key, const char* modulus, const char* exponent);
int RsaSetPrivateKeyHex(t_rsaKey* key, const char* modulus, const char* exponent,
                        const char* privateExponent);
void RsaFreeKey(t_rsaKey* key);
// k, the modulus bytes; 0 without a key.
size_t RsaModulusBytes(const t_rsaKey* key);
// Chunks of k - 11 bytes each become one k-byte block (type 2 padding),
// concatenated into out. Length 0 gives out length 0 and 1. 0 for a failed
// block or too small a capacity.
int RsaPublicEncryptChunks(const uint8_t* bytes, size_t length, uint8_t* out, size_t capacity,
                           size_t* outLength, const t_rsaKey* key);
// k-byte blocks (type 2) to their concatenated plain texts; the length must
// be a multiple of k. 1, or 0 on a failed block or too small a capacity.
int RsaPrivateDecryptChunks(const uint8_t* bytes, size_t length, uint8_t* out, size_t capacity,
                            size_t* outLength, const t_rsaKey* key);
// One k-byte block with type 1 padding: the data length (out needs k bytes),
// or -1.
int RsaPublicDecryptBlock(const uint8_t* block, uint8_t* out, const t_rsaKey* key);
// Type 1 padding, one k-byte block into out (k bytes of room); true when it
// produced one. At most k - 11 bytes.
bool RsaPrivateEncrypt(const uint8_t* bytes, size_t length, uint8_t* out, const t_rsaKey* key);

}  // namespace n_porting
