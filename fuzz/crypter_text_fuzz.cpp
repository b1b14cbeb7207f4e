// Fuzzes the string crypter's decryption: any bytes as a Base64 text, 8-bit
// and 16-bit, with and without the random first block, must give a text or
// null, never a read or write outside a buffer. The bytes themselves must
// also survive encryption and decryption unchanged.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "porting3/string_crypter.h"

using namespace n_porting;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static t_stringCrypter flagged(true), plain(false);
    const char* text = reinterpret_cast<const char*>(data);
    std::vector<char16_t> units(size / 2 + 1, 0);
    if (size >= 2) std::memcpy(units.data(), data, size / 2 * 2);
    for (t_stringCrypter* crypter : {&flagged, &plain}) {
        std::free(crypter->DecryptTextN(text, size));
        std::free(crypter->DecryptWN(units.data(), size / 2));
        std::vector<char16_t> widened(data, data + size);  // every byte as one unit
        widened.push_back(0);
        std::free(crypter->DecryptW(widened.data()));

        char* code = crypter->EncryptBytes(data, size);
        FUZZ_CHECK(code != nullptr);
        size_t length = 0;
        uint8_t* back = crypter->DecryptBytes(code, &length);
        FUZZ_CHECK(back != nullptr && length == size &&
                   (size == 0 || std::memcmp(back, data, size) == 0));
        std::free(back);
        std::free(code);
    }
    return 0;
}
