// Fuzzes the sealed user files: any bytes through Open (with and without the
// digest) must open to at most the room or be refused; the same bytes sealed
// here reach the acc.dat and user.dat parsers as plaintext, and whatever
// parses must serialise and parse again to the same content.
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "userenv/user_file.h"

using namespace n_userenv;

namespace {

template <class T>
struct t_probe : T {
    // Content in, parsed, written back and parsed again.
    void Run(const uint8_t* data, uint32_t size) {
        FUZZ_CHECK(this->SetContent(data, size));
        if (!this->Parse()) {
            this->Reset();
            return;
        }
        FUZZ_CHECK(this->Serialise());
        uint32_t length = 0;
        const uint8_t* content = this->GetContent(&length);
        const std::string first(reinterpret_cast<const char*>(content), length);
        this->Reset();
        FUZZ_CHECK(this->Parse());
        FUZZ_CHECK(this->Serialise());
        content = this->GetContent(&length);
        FUZZ_CHECK(first == std::string(reinterpret_cast<const char*>(content), length));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    for (bool digest : {true, false}) {
        UserFile f(digest);
        f.SetKey(kAccFileKey);
        const int64_t room = f.Open(nullptr, 0, data, size);
        std::string out(size_t(room) + 1, '\0');
        const int64_t got =
            f.Open(reinterpret_cast<uint8_t*>(out.data()), size_t(room), data, size);
        FUZZ_CHECK(got == -1 || (got >= 0 && got <= room && room - got < 16));
    }
    UserFile sealer;
    sealer.SetKey(kAccFileKey);
    std::string sealed(size_t(sealer.Seal(nullptr, 0, data, uint32_t(size))), '\0');
    auto* s = reinterpret_cast<uint8_t*>(sealed.data());
    FUZZ_CHECK(sealer.Seal(s, sealed.size(), data, uint32_t(size)) == int64_t(sealed.size()));
    std::string plain(sealed.size(), '\0');
    FUZZ_CHECK(sealer.Open(reinterpret_cast<uint8_t*>(plain.data()), plain.size(), s,
                           sealed.size()) == int64_t(size));
    FUZZ_CHECK(size == 0 || std::memcmp(plain.data(), data, size) == 0);
    t_probe<UserAccFile>().Run(reinterpret_cast<const uint8_t*>(plain.data()), uint32_t(size));
    t_probe<UserDataFile>().Run(reinterpret_cast<const uint8_t*>(plain.data()), uint32_t(size));
    return 0;
}
