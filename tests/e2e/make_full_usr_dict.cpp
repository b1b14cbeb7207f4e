// Writes a user dictionary at its limit: one word short of the point where
// the next new word makes the largest dictionary trim, every word used five
// times or more (so the frequency rule of the trim frees nothing). The words
// have three-syllable readings, so a one-syllable input never shows them.
// Usage: vetra_make_full_usr_dict OUT
#include <cstdio>
#include <string>
#include <vector>

#include "kernel/runtime/lstr.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

std::vector<uint8_t> Lstr(std::initializer_list<uint16_t> units) {
    std::vector<uint8_t> b;
    const uint16_t n = uint16_t(units.size() * 2);
    b.push_back(uint8_t(n));
    b.push_back(uint8_t(n >> 8));
    for (uint16_t u : units) {
        b.push_back(uint8_t(u));
        b.push_back(uint8_t(u >> 8));
    }
    return b;
}

const t_lstr* As(const std::vector<uint8_t>& b) {
    return reinterpret_cast<const t_lstr*>(b.data());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 2;
    }
    t_usrDictV3Core dict;
    if (!dict.CreateEmpty(kUsrMaxCapacity)) return 1;
    const uint32_t full = kUsrMaxCapacity * 9 / 10 - 1;
    for (uint32_t k = 0; uint32_t(dict.GetWordCount()) < full; ++k) {
        const auto reading =
            Lstr({uint16_t(1 + k % 400), uint16_t(1 + k / 400 % 400), uint16_t(1 + k / 160000)});
        const auto text = Lstr({uint16_t(0x4E00 + k % 7000), uint16_t(0x4E00 + k / 7000)});
        if (dict.RestoreWord(As(reading), As(text), uint16_t(5 + k % 3), 0, 3 + k, 0) != 1) {
            fprintf(stderr, "word %u refused\n", k);
            return 1;
        }
    }
    const std::string out = argv[1];
    return dict.RebuildToFile(std::wstring(out.begin(), out.end()).c_str()) ? 0 : 1;
}
