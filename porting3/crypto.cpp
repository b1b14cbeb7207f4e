// Base64, PKCS#7 padding, and AES, MD5, RSA and random bytes over OpenSSL EVP.
#include "porting3/crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "porting3/file_stream.h"

namespace n_porting {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kAesBlock = 16;
constexpr size_t kRsaPadding = 11;  // PKCS#1 v1.5: 00 02, eight or more bytes, 00
constexpr size_t kHashPiece = 1048576;

// The 6-bit value of a character, -1 outside the alphabet. Taken as an
// unsigned value, so no byte or unit can index outside the table.
int Base64Value(uint32_t c) {
    static const auto table = [] {
        struct t_table {
            int8_t v[128];
        } t;
        std::memset(t.v, -1, sizeof t.v);
        for (int i = 0; i < 64; ++i) t.v[uint8_t(kAlphabet[i])] = int8_t(i);
        return t;
    }();
    return c < 128 ? table.v[c] : -1;
}

template <class Char>
int EncodeInto(Char* out, const uint8_t* bytes, int32_t length) {
    if (!out) return 0;
    int n = 0;
    if (bytes && length > 0) {
        int32_t i = 0;
        for (; length - i >= 3; i += 3) {
            const uint32_t v =
                uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
            for (int k = 3; k >= 0; --k) out[n++] = Char(kAlphabet[(v >> (6 * k)) & 63]);
        }
        if (length - i == 1) {
            const uint32_t v = uint32_t(bytes[i]) << 16;
            out[n++] = Char(kAlphabet[v >> 18]);
            out[n++] = Char(kAlphabet[(v >> 12) & 63]);
            out[n++] = Char('=');
            out[n++] = Char('=');
        } else if (length - i == 2) {
            const uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8;
            out[n++] = Char(kAlphabet[v >> 18]);
            out[n++] = Char(kAlphabet[(v >> 12) & 63]);
            out[n++] = Char(kAlphabet[(v >> 6) & 63]);
            out[n++] = Char('=');
        }
    }
    out[n] = 0;
    return n;
}

template <class Char>
uint32_t Unit(Char c) {
    return uint32_t(std::make_unsigned_t<Char>(c));
}

// Groups of four characters; ends after a group followed by CR or NUL, or
// one that ended in "=". Nothing is written at or past `capacity`.
template <class Char>
int DecodeInto(uint8_t* out, size_t capacity, const Char* text) {
    if (!text) return -1;
    const Char* p = text;
    if (p[0] == Char('+') && p[1] == Char(' ')) p += 2;
    if (*p == Char('\r') || *p == 0) return 0;
    size_t n = 0;
    for (;;) {
        const int a = Base64Value(Unit(p[0]));
        const int b = a < 0 ? -1 : Base64Value(Unit(p[1]));
        if (b < 0) return -1;
        const bool thirdPad = p[2] == Char('=');
        const int c = thirdPad ? 0 : Base64Value(Unit(p[2]));
        if (c < 0) return -1;
        const bool fourthPad = p[3] == Char('=');
        const int d = fourthPad ? 0 : Base64Value(Unit(p[3]));
        if (d < 0) return -1;
        const size_t count = thirdPad ? 1 : fourthPad ? 2 : 3;
        if (count > capacity - n) return -1;
        if (!out) return -1;
        const uint32_t v = uint32_t(a) << 18 | uint32_t(b) << 12 | uint32_t(c) << 6 | uint32_t(d);
        out[n] = uint8_t(v >> 16);
        if (count > 1) out[n + 1] = uint8_t(v >> 8);
        if (count > 2) out[n + 2] = uint8_t(v);
        n += count;
        if (n > size_t(INT_MAX)) return -1;
        p += 4;
        if (thirdPad || fourthPad || *p == Char('\r') || *p == 0) return int(n);
    }
}

template <class Char>
int32_t DecodedSize(const Char* text) {
    if (!text) return 0;
    size_t len = 0;
    while (text[len] && len <= size_t(INT32_MAX)) ++len;
    if (len < 4 || len > size_t(INT32_MAX)) return 0;
    int32_t size = Base64DecodedSizeMax(int32_t(len));
    if (text[len - 1] == Char('=')) --size;
    if (text[len - 2] == Char('=') && text[len - 1] == Char('=')) --size;
    return size;
}

}  // namespace

// ---- Base64 ----

int64_t Base64EncodedSize(int32_t length) {
    return length <= 0 ? 0 : (int64_t(length) + 2) / 3 * 4;
}

int Base64Encode(char* out, const uint8_t* bytes, int32_t length) {
    return EncodeInto(out, bytes, length);
}

int Base64EncodeW(char16_t* out, const uint8_t* bytes, int32_t length) {
    return EncodeInto(out, bytes, length);
}

char* Base64EncodeAlloc(const uint8_t* bytes, int32_t length) {
    auto* text = static_cast<char*>(std::malloc(size_t(Base64EncodedSize(length)) + 1));
    if (text) Base64Encode(text, bytes, length);
    return text;
}

int32_t Base64DecodedSizeMax(int32_t textLength) {
    return textLength <= 0 ? 0 : textLength / 4 * 3;
}

int32_t Base64DecodedSize(const char* text) {
    return DecodedSize(text);
}

int32_t Base64DecodedSizeW(const char16_t* text) {
    return DecodedSize(text);
}

int Base64Decode(uint8_t* out, const char* text) {
    return DecodeInto(out, SIZE_MAX, text);
}

int Base64DecodeW(uint8_t* out, const char16_t* text) {
    return DecodeInto(out, SIZE_MAX, text);
}

int Base64DecodeBuf(uint8_t* out, size_t capacity, const char* text) {
    return DecodeInto(out, capacity, text);
}

int Base64DecodeBufW(uint8_t* out, size_t capacity, const char16_t* text) {
    return DecodeInto(out, capacity, text);
}

// ---- PKCS#7 ----

size_t GetPaddedSize(size_t length, size_t block) {
    if (block == 0 || block > 255 || length / block + 1 > SIZE_MAX / block) return 0;
    return block * (length / block + 1);
}

int PadPkcs7(uint8_t* out, size_t* size, const uint8_t* bytes, size_t length, size_t block) {
    if (!size) return 0;
    const size_t padded = GetPaddedSize(length, block);
    const size_t capacity = *size;
    *size = padded;
    if (!out || padded == 0 || capacity < padded || (length && !bytes)) return 0;
    if (length) std::memmove(out, bytes, length);
    std::memset(out + length, int(padded - length), padded - length);
    return 1;
}

int UnpadPkcs7(size_t* outLength, const uint8_t* bytes, size_t length, size_t block) {
    if (outLength) *outLength = 0;
    if (!outLength || !bytes || block == 0 || length < block || length % block) return 0;
    const size_t p = bytes[length - 1];
    if (p < 1 || p > block) return 0;
    for (size_t i = length - p; i < length; ++i)
        if (bytes[i] != p) return 0;
    *outLength = length - p;
    return 1;
}

// ---- AES ----

t_aesKey::~t_aesKey() {
    EVP_CIPHER_CTX_free(m_ctx);
}

bool AesSetKey(t_aesKey* key, const uint8_t* bytes, int bits, bool encrypt) {
    if (!key) return false;
    EVP_CIPHER_CTX_free(key->m_ctx);
    key->m_ctx = nullptr;
    const EVP_CIPHER* cipher = bits == 128   ? EVP_aes_128_cbc()
                               : bits == 192 ? EVP_aes_192_cbc()
                               : bits == 256 ? EVP_aes_256_cbc()
                                             : nullptr;
    if (!cipher || !bytes) return false;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    // The vector is given on every call; padding is the layer's own.
    const uint8_t zeroIv[kAesBlock] = {};
    if (!ctx || EVP_CipherInit_ex(ctx, cipher, nullptr, bytes, zeroIv, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx, 0) != 1) {
        EVP_CIPHER_CTX_free(ctx);
        return false;
    }
    key->m_ctx = ctx;
    key->m_encrypt = encrypt;
    return true;
}

bool AesCbcEncrypt(uint8_t* iv, uint8_t* out, const uint8_t* in, size_t length, t_aesKey* key) {
    if (!key || !key->m_ctx || !key->m_encrypt || !iv || (length && (!in || !out))) return false;
    if (length == 0) return true;
    if (length > size_t(INT_MAX) - kAesBlock) return false;
    if (EVP_CipherInit_ex(key->m_ctx, nullptr, nullptr, nullptr, iv, 1) != 1 ||
        EVP_CIPHER_CTX_set_padding(key->m_ctx, 0) != 1)
        return false;
    const size_t whole = length / kAesBlock * kAesBlock;
    int got = 0;
    if (whole &&
        (EVP_CipherUpdate(key->m_ctx, out, &got, in, int(whole)) != 1 || size_t(got) != whole))
        return false;
    if (whole < length) {
        // The legacy call reads the partial block as if the rest were zeros.
        uint8_t last[kAesBlock] = {};
        std::memcpy(last, in + whole, length - whole);
        if (EVP_CipherUpdate(key->m_ctx, out + whole, &got, last, int(kAesBlock)) != 1 ||
            size_t(got) != kAesBlock)
            return false;
    }
    const size_t written = (length + kAesBlock - 1) / kAesBlock * kAesBlock;
    std::memcpy(iv, out + written - kAesBlock, kAesBlock);
    return true;
}

bool AesCbcDecrypt(uint8_t* iv, uint8_t* out, const uint8_t* in, size_t length, t_aesKey* key) {
    if (!key || !key->m_ctx || key->m_encrypt || !iv || (length && (!in || !out))) return false;
    if (length % kAesBlock || length > size_t(INT_MAX)) return false;
    if (length == 0) return true;
    uint8_t next[kAesBlock];
    std::memcpy(next, in + length - kAesBlock, kAesBlock);  // before out may overwrite it
    int got = 0;
    if (EVP_CipherInit_ex(key->m_ctx, nullptr, nullptr, nullptr, iv, 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(key->m_ctx, 0) != 1 ||
        EVP_CipherUpdate(key->m_ctx, out, &got, in, int(length)) != 1 || size_t(got) != length)
        return false;
    std::memcpy(iv, next, kAesBlock);
    return true;
}

// ---- random ----

bool RandomBytes(void* out, size_t n) {
    if (n == 0) return true;
    if (!out || n > size_t(INT_MAX)) return false;
    return RAND_bytes(static_cast<unsigned char*>(out), int(n)) == 1;
}

// ---- MD5 ----

t_md5Context::~t_md5Context() {
    EVP_MD_CTX_free(m_ctx);
}

bool Md5Digest(uint8_t* out, const void* bytes, size_t length) {
    if (!out || (length && !bytes)) return false;
    unsigned size = 0;
    return EVP_Digest(length ? bytes : "", length, out, &size, EVP_md5(), nullptr) == 1 &&
           size == kMd5Bytes;
}

bool Md5Init(t_md5Context* ctx) {
    if (!ctx) return false;
    if (!ctx->m_ctx) ctx->m_ctx = EVP_MD_CTX_new();
    if (ctx->m_ctx && EVP_DigestInit_ex(ctx->m_ctx, EVP_md5(), nullptr) == 1) return true;
    EVP_MD_CTX_free(ctx->m_ctx);
    ctx->m_ctx = nullptr;
    return false;
}

bool Md5Update(t_md5Context* ctx, const void* bytes, size_t length) {
    if (!ctx || !ctx->m_ctx || (length && !bytes)) return false;
    return length == 0 || EVP_DigestUpdate(ctx->m_ctx, bytes, length) == 1;
}

bool Md5Final(t_md5Context* ctx, uint8_t* out) {
    if (!ctx || !ctx->m_ctx || !out) return false;
    unsigned size = 0;
    const bool ok = EVP_DigestFinal_ex(ctx->m_ctx, out, &size) == 1 && size == kMd5Bytes;
    EVP_MD_CTX_free(ctx->m_ctx);
    ctx->m_ctx = nullptr;
    return ok;
}

bool Md5UpdateU32(t_md5Context* ctx, uint32_t value) {
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                              uint8_t(value >> 24)};
    return Md5Update(ctx, bytes, 4);
}

bool Md5UpdateStr16(t_md5Context* ctx, const char16_t* text) {
    if (!text) return false;
    size_t n = 0;
    while (text[n]) ++n;
    return Md5Update(ctx, text, (n + 1) * 2);
}

int Md5UpdateFile(t_errorContext& err, const t_path& path, t_md5Context* ctx) {
    t_fileRead file;
    bool ok = ctx && file.Open(err, path);
    if (ok) {
        std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kHashPiece]);
        ok = piece != nullptr;
        while (ok && !file.IsEnd()) {
            const uint64_t n = std::min<uint64_t>(file.GetRemaining(), kHashPiece);
            // t_fileRead fails on a short read: a file cut while hashed fails.
            ok = file.Read(err, piece.get(), n) && Md5Update(ctx, piece.get(), size_t(n));
        }
    }
    if (!ok) err.SetError(u"Hash文件失败");
    return ok ? 1 : 0;
}

int Md5File(t_errorContext& err, const t_path& path, uint8_t* out) {
    t_md5Context ctx;
    if (!out || !Md5Init(&ctx)) {
        err.SetError(u"Hash文件失败");
        return 0;
    }
    const int result = Md5UpdateFile(err, path, &ctx);
    if (!Md5Final(&ctx, out)) return 0;
    return result;
}

int Md5Equal(const uint8_t* a, const uint8_t* b) {
    return a && b && std::memcmp(a, b, kMd5Bytes) == 0 ? 1 : 0;
}

void Md5ToHex(t_str& out, const uint8_t* digest) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    char16_t text[kMd5Bytes * 2 + 1];
    for (size_t i = 0; i < kMd5Bytes; ++i) {
        text[2 * i] = kHex[digest[i] >> 4];
        text[2 * i + 1] = kHex[digest[i] & 15];
    }
    text[kMd5Bytes * 2] = 0;
    out.Append(text);
}

int Md5FromHex(uint8_t* out, const char16_t* text) {
    auto digit = [](char16_t c) -> int {
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        return -1;
    };
    if (!out || !text) return 0;
    size_t n = 0;
    while (n <= kMd5Bytes * 2 && text[n]) ++n;
    if (n != kMd5Bytes * 2) return 0;
    uint8_t bytes[kMd5Bytes];
    for (size_t i = 0; i < kMd5Bytes; ++i) {
        const int hi = digit(text[2 * i]), lo = digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return 0;
        bytes[i] = uint8_t(hi << 4 | lo);
    }
    std::memcpy(out, bytes, kMd5Bytes);
    return 1;
}

// ---- RSA ----

namespace {

// A whole hexadecimal text as a number; null otherwise.
BIGNUM* ParseHex(const char* text) {
    BIGNUM* bn = nullptr;
    if (!text || !*text) return nullptr;
    const int used = BN_hex2bn(&bn, text);
    if (used <= 0 || text[used] != 0) {
        BN_free(bn);
        return nullptr;
    }
    return bn;
}

struct t_pkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using t_pkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, t_pkeyCtxFree>;

}  // namespace

t_rsaKey::~t_rsaKey() {
    RsaFreeKey(this);
}

void RsaFreeKey(t_rsaKey* key) {
    if (!key) return;
    BN_free(key->m_n);
    BN_free(key->m_e);
    BN_clear_free(key->m_d);
    EVP_PKEY_free(key->m_pkey);
    key->m_n = key->m_e = key->m_d = nullptr;
    key->m_pkey = nullptr;
}

int RsaSetKeyHex(t_rsaKey* key, const char* modulus, const char* exponent,
                 const char* privateExponent) {
    if (!key) return 0;
    RsaFreeKey(key);
    key->m_n = ParseHex(modulus);
    key->m_e = ParseHex(exponent);
    key->m_d = privateExponent ? ParseHex(privateExponent) : nullptr;
    bool ok = key->m_n && key->m_e && (!privateExponent || key->m_d);
    OSSL_PARAM_BLD* build = ok ? OSSL_PARAM_BLD_new() : nullptr;
    OSSL_PARAM* params = nullptr;
    ok = build && OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, key->m_n) &&
         OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, key->m_e) &&
         (!key->m_d || OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_D, key->m_d)) &&
         (params = OSSL_PARAM_BLD_to_param(build)) != nullptr;
    t_pkeyCtxPtr ctx(ok ? EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr) : nullptr);
    ok = ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1 &&
         EVP_PKEY_fromdata(ctx.get(), &key->m_pkey,
                           key->m_d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params) == 1;
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    if (!ok) RsaFreeKey(key);
    return ok ? 1 : 0;
}

int RsaSetPublicKeyHex(t_rsaKey* key, const char* modulus, const char* exponent) {
    return RsaSetKeyHex(key, modulus, exponent, nullptr);
}

int RsaSetPrivateKeyHex(t_rsaKey* key, const char* modulus, const char* exponent,
                        const char* privateExponent) {
    if (!privateExponent) {
        RsaFreeKey(key);
        return 0;
    }
    return RsaSetKeyHex(key, modulus, exponent, privateExponent);
}

EVP_PKEY* RsaPkey(const t_rsaKey* key) {
    return key ? key->m_pkey : nullptr;
}

size_t RsaModulusBytes(const t_rsaKey* key) {
    EVP_PKEY* pkey = RsaPkey(key);
    const int size = pkey ? EVP_PKEY_get_size(pkey) : 0;
    return size > 0 ? size_t(size) : 0;
}

namespace {

enum class t_rsaOp { kEncrypt, kDecrypt, kSign, kRecover };

// A key context set up for one operation with PKCS#1 v1.5 padding.
t_pkeyCtxPtr RsaContext(const t_rsaKey* key, t_rsaOp op) {
    EVP_PKEY* pkey = RsaPkey(key);
    t_pkeyCtxPtr ctx(pkey ? EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr) : nullptr);
    if (!ctx) return nullptr;
    const int init = op == t_rsaOp::kEncrypt   ? EVP_PKEY_encrypt_init(ctx.get())
                     : op == t_rsaOp::kDecrypt ? EVP_PKEY_decrypt_init(ctx.get())
                     : op == t_rsaOp::kSign    ? EVP_PKEY_sign_init(ctx.get())
                                               : EVP_PKEY_verify_recover_init(ctx.get());
    if (init != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return nullptr;
    if (op == t_rsaOp::kDecrypt) {
        // Newer OpenSSL hands out random text for a bad block unless told
        // not to; a bad block must fail. Older versions ignore the setting.
        unsigned int off = 0;
        OSSL_PARAM params[] = {OSSL_PARAM_construct_uint("implicit-rejection", &off),
                               OSSL_PARAM_construct_end()};
        EVP_PKEY_CTX_set_params(ctx.get(), params);
    }
    return ctx;
}

}  // namespace

int RsaPublicEncryptChunks(const uint8_t* bytes, size_t length, uint8_t* out, size_t capacity,
                           size_t* outLength, const t_rsaKey* key) {
    if (outLength) *outLength = 0;
    if (!outLength) return 0;
    if (length == 0) return 1;
    const size_t k = RsaModulusBytes(key);
    if (!bytes || !out || k <= kRsaPadding) return 0;
    const size_t chunk = k - kRsaPadding;
    const size_t blocks = length / chunk + (length % chunk ? 1 : 0);
    if (blocks > capacity / k) return 0;
    t_pkeyCtxPtr ctx = RsaContext(key, t_rsaOp::kEncrypt);
    if (!ctx) return 0;
    size_t written = 0;
    for (size_t at = 0; at < length; at += chunk) {
        size_t got = k;
        const size_t n = std::min(chunk, length - at);
        if (EVP_PKEY_encrypt(ctx.get(), out + written, &got, bytes + at, n) != 1 || got != k)
            return 0;
        written += k;
    }
    *outLength = written;
    return 1;
}

int RsaPrivateDecryptChunks(const uint8_t* bytes, size_t length, uint8_t* out, size_t capacity,
                            size_t* outLength, const t_rsaKey* key) {
    if (outLength) *outLength = 0;
    const size_t k = RsaModulusBytes(key);
    if (!outLength || !bytes || !out || k <= kRsaPadding || length % k) return 0;
    t_pkeyCtxPtr ctx = RsaContext(key, t_rsaOp::kDecrypt);
    if (!ctx) return 0;
    std::unique_ptr<uint8_t[]> plain(new (std::nothrow) uint8_t[k]);
    if (!plain) return 0;
    size_t written = 0;
    for (size_t at = 0; at < length; at += k) {
        size_t got = k;
        if (EVP_PKEY_decrypt(ctx.get(), plain.get(), &got, bytes + at, k) != 1 ||
            got > capacity - written)
            return 0;
        std::memcpy(out + written, plain.get(), got);
        written += got;
    }
    *outLength = written;
    return 1;
}

int RsaPublicDecryptBlock(const uint8_t* block, uint8_t* out, const t_rsaKey* key) {
    const size_t k = RsaModulusBytes(key);
    t_pkeyCtxPtr ctx = block && out && k ? RsaContext(key, t_rsaOp::kRecover) : nullptr;
    size_t got = k;
    if (!ctx || EVP_PKEY_verify_recover(ctx.get(), out, &got, block, k) != 1) return -1;
    return int(got);
}

bool RsaPrivateEncrypt(const uint8_t* bytes, size_t length, uint8_t* out, const t_rsaKey* key) {
    const size_t k = RsaModulusBytes(key);
    if (!bytes || !out || k <= kRsaPadding || length > k - kRsaPadding) return false;
    t_pkeyCtxPtr ctx = RsaContext(key, t_rsaOp::kSign);
    size_t got = k;
    return ctx && EVP_PKEY_sign(ctx.get(), out, &got, bytes, length) == 1 && got == k;
}

}  // namespace n_porting
