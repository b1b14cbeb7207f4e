// Writes a user dictionary of WORDS made-up words (default: one short of the
// point where the next new word makes the largest dictionary trim), every
// word used five times or more (so the frequency rule of the trim frees
// nothing), at the capacity the dictionary has for them, as it stands in
// memory: more words than the trim point, as the previous release's imports
// left, are written as they were, and so are more words than any release
// writes (a crafted file). The words have three-syllable readings, so
// a one-syllable input never shows them; word k of a smaller file is word k
// of a larger one. With FIRST ("4e0d,662f:20,300": a word's UTF-16 units
// and syllable ids), the file is a user's who committed FIRST once and then
// each of the WORDS once: FIRST is that many commits old.
// Usage: vetra_make_full_usr_dict OUT [WORDS [FIRST]]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/path.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/support/crafted_usr_image.h"

namespace {

std::vector<uint8_t> Lstr(const std::vector<uint16_t>& units) {
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

// "a,b:c,d" (hexadecimal units, then decimal ids) into a text and a
// reading of as many units; false when malformed.
bool ReadFirst(const std::string& spec, std::vector<uint8_t>* text, std::vector<uint8_t>* ids) {
    const size_t colon = spec.find(':');
    if (colon == std::string::npos) return false;
    const auto units = [](const std::string& list, int base) {
        std::vector<uint16_t> out;
        for (size_t at = 0; at <= list.size();) {
            const size_t end = std::min(list.find(',', at), list.size());
            out.push_back(uint16_t(strtoul(list.substr(at, end - at).c_str(), nullptr, base)));
            at = end + 1;
        }
        return out;
    };
    const std::vector<uint16_t> t = units(spec.substr(0, colon), 16);
    const std::vector<uint16_t> r = units(spec.substr(colon + 1), 10);
    if (t.size() != r.size()) return false;
    *text = Lstr(t);
    *ids = Lstr(r);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: %s OUT [WORDS [FIRST]]\n", argv[0]);
        return 2;
    }
    const uint32_t words = argc >= 3 ? uint32_t(strtoul(argv[2], nullptr, 10)) : kUsrTrimPoint - 1;
    if (words == 0 || words > kUsrRebuildCapacity * 2) return 2;
    std::vector<uint8_t> firstText, firstIds;
    const bool once = argc == 4;
    if (once && !ReadFirst(argv[3], &firstText, &firstIds)) return 2;
    t_usrDictV3Core dict;
    if (words > kUsrRebuildCapacity) {
        // More than any release writes: a crafted file, as large as its words.
        const std::vector<uint8_t> empty = CraftedUsrImage(words);
        if (empty.empty() || !dict.AttachCopy(empty.data(), empty.size())) return 1;
    } else if (!dict.CreateEmpty(ComputeCapacity(words, kUsrMaxCapacity))) {
        return 1;
    }
    dict.HoldTrims(true);
    if (once && dict.RestoreWord(As(firstIds), As(firstText), 1, 0, 3, 0) != 1) return 1;
    for (uint32_t k = 0; k < words; ++k) {
        const auto reading =
            Lstr({uint16_t(1 + k % 400), uint16_t(1 + k / 400 % 400), uint16_t(1 + k / 160000)});
        const auto text = Lstr({uint16_t(0x4E00 + k % 7000), uint16_t(0x4E00 + k / 7000)});
        if (dict.RestoreWord(As(reading), As(text), once ? 1 : uint16_t(5 + k % 3), 0,
                             (once ? 4 : 3) + k, 0) != 1) {
            fprintf(stderr, "word %u refused\n", k);
            return 1;
        }
    }
    const uint8_t* image = nullptr;
    uint64_t size = 0;
    const std::string out = argv[1];
    return dict.GetImageBytes(&image, &size) &&
                   DictWriteFileSafely(t_pathName(std::wstring(out.begin(), out.end()).c_str()),
                                       image, size_t(size))
               ? 0
               : 1;
}
