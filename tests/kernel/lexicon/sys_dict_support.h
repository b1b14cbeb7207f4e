// Shared helpers of the system-dictionary tests: small synthetic images made
// with the kernel's own writers, id-list and text strings, and the location
// of the built system data (empty when the data build is off).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/lexicon/sys_dict_writer.h"
#include "kernel/runtime/lstr.h"

namespace lexdata {

using Bytes = std::vector<uint8_t>;

// A length-prefixed string of 16-bit units (ids or UTF-16 text).
Bytes Units(const std::vector<uint16_t>& units);
Bytes Text(const std::u16string& text);
inline const t_lstr* L(const Bytes& b) {
    return reinterpret_cast<const t_lstr*>(b.data());
}
std::u16string ToU16(const t_lstr* s);
// Id of a syllable of the compiled-in inventory (asserts it exists).
uint16_t Id(const char* syllable);
std::vector<uint16_t> Ids(std::initializer_list<const char*> syllables);

// A syllable image: cost of syllable i = 1000 + i, pair (a, b) = a x 413 + b
// (mod 65536), trigram byte = key % 251, swap byte = key % 241.
Bytes MakePyImage(uint16_t pairShift = 0);  // pair values are key + pairShift
// A few characters: 行 {xing, hang, heng}, 中 {zhong}, 国 {guo}.
Bytes MakeHzImage();

// A small lexicon with gram statistics:
//   gram ids 1 中国, 2 人民, 3 中国人民, 4 银行, 5 中, 6 国, 7 人, 8 民;
//   words 中 zhong, 国 guo, 中国 zhong guo, 人民 ren min, 中国人民 zhong guo ren min,
//   中国人 zhong guo ren (no gram id), 银行 yin hang, 行 xing, 行 hang;
//   pairs (中国, 人民) class 0, (中, 国) class 5 with preference flag.
t_sysDictSource MakeCoreSource();
Bytes MakeCoreImage(const t_sysDictSource& src);

Bytes ReadFile(const std::string& path);

}  // namespace lexdata
