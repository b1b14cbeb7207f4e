// The string crypter and the project's fixed key and vector.
#include "porting3/string_crypter.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace n_porting {

namespace {

// Deployment constants of the enciphered ini form, drawn once at random.
// They hide nothing from someone holding the program; they only have to stay
// the same for every reader and writer of that form.
constexpr uint8_t kKey[32] = {0xbc, 0x11, 0xd4, 0xa4, 0xce, 0x41, 0x95, 0xf3, 0xa7, 0xae, 0x29,
                              0x9e, 0xcf, 0x7c, 0xd4, 0x39, 0xdb, 0xe3, 0x9b, 0x87, 0xf7, 0xec,
                              0xfc, 0x81, 0x94, 0x09, 0x63, 0x9c, 0x6a, 0xbb, 0xfc, 0xb0};
constexpr uint8_t kVector[16] = {0x8f, 0x4d, 0x71, 0x18, 0x77, 0x2e, 0x5d, 0x98,
                                 0xaa, 0x22, 0xdc, 0xb3, 0x2f, 0x0e, 0xa8, 0x16};
constexpr size_t kBlock = 16;
// Base64 lengths are signed 32-bit: larger plain texts are refused.
constexpr size_t kMaxPlainBytes = size_t(INT32_MAX) / 4 * 3 - 2 * kBlock;

struct t_free {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using t_mallocPtr = std::unique_ptr<T, t_free>;

template <class T>
T* Allocate(size_t count) {
    return static_cast<T*>(std::malloc(count ? count * sizeof(T) : 1));
}

}  // namespace

t_stringCrypter::t_stringCrypter(bool randomFirstBlock) : m_randomFirstBlock(randomFirstBlock) {
    AesSetEncryptKey(&m_encrypt, kKey, 256);
    AesSetDecryptKey(&m_decrypt, kKey, 256);
}

t_stringCrypter& t_stringCrypter::GetInstance() {
    static auto* instance = new t_stringCrypter(true);  // never destroyed
    return *instance;
}

uint8_t* t_stringCrypter::Encipher(const void* bytes, size_t length, size_t* size) {
    if ((length && !bytes) || length > kMaxPlainBytes) return nullptr;
    size_t padded = GetPaddedSize(length, kBlock);
    const size_t front = m_randomFirstBlock ? kBlock : 0;
    t_mallocPtr<uint8_t> out(Allocate<uint8_t>(front + padded));
    if (!out ||
        !PadPkcs7(out.get() + front, &padded, static_cast<const uint8_t*>(bytes), length, kBlock))
        return nullptr;
    uint8_t iv[kBlock];
    std::memcpy(iv, kVector, kBlock);
    if (front) {
        uint8_t random[kBlock];
        if (!RandomBytes(random, kBlock) ||
            !AesCbcEncrypt(iv, out.get(), random, kBlock, &m_encrypt))
            return nullptr;
    }
    if (!AesCbcEncrypt(iv, out.get() + front, out.get() + front, padded, &m_encrypt))
        return nullptr;
    *size = front + padded;
    return out.release();
}

char* t_stringCrypter::EncryptBytes(const void* bytes, size_t length) {
    size_t size = 0;
    t_mallocPtr<uint8_t> cipher(Encipher(bytes, length, &size));
    return cipher ? Base64EncodeAlloc(cipher.get(), int32_t(size)) : nullptr;
}

char* t_stringCrypter::EncryptText(const char* text) {
    return text ? EncryptBytes(text, std::strlen(text)) : nullptr;
}

char16_t* t_stringCrypter::EncryptW(const char16_t* text) {
    if (!text) return nullptr;
    size_t units = 0;
    while (text[units]) ++units;
    if (units > kMaxPlainBytes / 2) return nullptr;
    size_t size = 0;
    t_mallocPtr<uint8_t> cipher(Encipher(text, units * 2, &size));
    if (!cipher) return nullptr;
    auto* out = Allocate<char16_t>(size_t(Base64EncodedSize(int32_t(size))) + 1);
    if (out) Base64EncodeW(out, cipher.get(), int32_t(size));
    return out;
}

uint8_t* t_stringCrypter::Decipher(const uint8_t* cipher, size_t size, size_t* length) {
    // Checked before any AES call: the data must be whole blocks.
    const size_t front = m_randomFirstBlock ? kBlock : 0;
    if (size < front || size - front == 0 || (size - front) % kBlock) return nullptr;
    t_mallocPtr<uint8_t> plain(Allocate<uint8_t>(size - front + 2));
    if (!plain) return nullptr;
    uint8_t iv[kBlock];
    std::memcpy(iv, kVector, kBlock);
    if (front) {
        uint8_t discarded[kBlock];
        if (!AesCbcDecrypt(iv, discarded, cipher, kBlock, &m_decrypt)) return nullptr;
    }
    if (!AesCbcDecrypt(iv, plain.get(), cipher + front, size - front, &m_decrypt) ||
        !UnpadPkcs7(length, plain.get(), size - front, kBlock))
        return nullptr;
    plain.get()[*length] = 0;
    plain.get()[*length + 1] = 0;
    return plain.release();
}

uint8_t* t_stringCrypter::DecryptBytes(const char* base64, size_t* length) {
    size_t ignored = 0;
    if (!length) length = &ignored;
    *length = 0;
    const int32_t expected = Base64DecodedSize(base64);
    if (expected <= 0) return nullptr;
    t_mallocPtr<uint8_t> cipher(Allocate<uint8_t>(size_t(expected)));
    if (!cipher || Base64DecodeBuf(cipher.get(), size_t(expected), base64) != expected)
        return nullptr;
    uint8_t* plain = Decipher(cipher.get(), size_t(expected), length);
    if (!plain) *length = 0;
    return plain;
}

char* t_stringCrypter::DecryptText(const char* base64) {
    size_t length = 0;
    return reinterpret_cast<char*>(DecryptBytes(base64, &length));
}

char* t_stringCrypter::DecryptTextN(const char* bytes, size_t length) {
    if (!bytes && length) return nullptr;
    t_mallocPtr<char> text(Allocate<char>(length + 1));
    if (!text) return nullptr;
    if (length) std::memcpy(text.get(), bytes, length);
    text.get()[length] = 0;
    return DecryptText(text.get());
}

char16_t* t_stringCrypter::DecryptW(const char16_t* base64) {
    const int32_t expected = Base64DecodedSizeW(base64);
    if (expected <= 0) return nullptr;
    t_mallocPtr<uint8_t> cipher(Allocate<uint8_t>(size_t(expected)));
    if (!cipher || Base64DecodeBufW(cipher.get(), size_t(expected), base64) != expected)
        return nullptr;
    size_t length = 0;
    uint8_t* plain = Decipher(cipher.get(), size_t(expected), &length);
    if (!plain) return nullptr;
    // The unit after the last whole one ends the text (Decipher left two zeros).
    plain[length / 2 * 2] = 0;
    plain[length / 2 * 2 + 1] = 0;
    return reinterpret_cast<char16_t*>(plain);
}

char16_t* t_stringCrypter::DecryptWN(const char16_t* units, size_t count) {
    if ((!units && count) || count > SIZE_MAX / 2 - 1) return nullptr;
    t_mallocPtr<char16_t> text(Allocate<char16_t>(count + 1));
    if (!text) return nullptr;
    if (count) std::memcpy(text.get(), units, count * 2);
    text.get()[count] = 0;
    return DecryptW(text.get());
}

}  // namespace n_porting
