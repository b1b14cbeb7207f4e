// t_stringCrypter: text to Base64 of AES-256-CBC ciphertext and back, with
// the project's fixed key and vector and an optional random first block so
// that equal texts encipher differently. One thread at a time per object;
// GetInstance's crypter is shared and only read after construction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "porting3/crypto.h"

namespace n_porting {

// Every result is new (malloc; release with free), or null on failure.
class t_stringCrypter {
public:
    explicit t_stringCrypter(bool randomFirstBlock);
    // The process's crypter, with the random first block.
    static t_stringCrypter& GetInstance();

    char* EncryptBytes(const void* bytes, size_t length);
    char* EncryptText(const char* text);
    // The text's units (2 bytes each, no terminator) into 16-bit Base64.
    char16_t* EncryptW(const char16_t* text);

    // Null for a text that is not Base64 of its own size, a cipher text that
    // is not a non-zero multiple of 16 once the random block is off, or bad
    // padding.
    char* DecryptText(const char* base64);
    char* DecryptTextN(const char* bytes, size_t length);
    uint8_t* DecryptBytes(const char* base64, size_t* length);
    // Terminated after the last whole unit.
    char16_t* DecryptW(const char16_t* base64);
    char16_t* DecryptWN(const char16_t* units, size_t count);

private:
    // The cipher bytes (random block, then the padded data); null on failure.
    uint8_t* Encipher(const void* bytes, size_t length, size_t* size);
    // Plain bytes with two zero bytes after them (room to terminate either way).
    uint8_t* Decipher(const uint8_t* cipher, size_t size, size_t* length);

    t_aesKey m_encrypt;
    t_aesKey m_decrypt;
    bool m_randomFirstBlock;
};

}  // namespace n_porting
