// Writes a user English list holding WORDS, each sent twice, as the
// input method writes it: the list an older version left when pinyin was
// sent as typed (zhongguo) and learned as an English word. A word used once
// is never offered before the Chinese words of its letters anyway.
// Usage: vetra_make_eng_usr_dict OUT WORD...
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "kernel/lexicon/string_dict_user.h"
#include "kernel/runtime/lstr.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s OUT WORD...\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> image;
    t_engUsrDict dict;
    if (!t_strUsrDict::BuildDefaultImage(image) || !dict.Load(image.data(), int32_t(image.size())))
        return 1;
    const uint32_t now = uint32_t(time(nullptr));
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        std::vector<uint8_t> units = {uint8_t(2 * word.size()), uint8_t((2 * word.size()) >> 8)};
        for (char c : word) {
            units.push_back(uint8_t(c));
            units.push_back(0);
        }
        const auto* text = reinterpret_cast<const t_lstr*>(units.data());
        if (word.size() > 200 || !dict.AddWord(text, now) || !dict.AddWord(text, now)) return 1;
    }
    const std::string out = argv[1];
    return dict.SaveToFile(std::wstring(out.begin(), out.end()).c_str()) ? 0 : 1;
}
