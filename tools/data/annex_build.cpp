// Compiles the annex content prepared by annex_source.py into the stroke
// and radical annex image (qzim_annex.bin) with the kernel's own writer, and
// checks the result by attaching it. Same input, same bytes.
//
// Usage: vetra_annex_build <annex.tsv> <qzim_annex.bin>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/lexicon/stroke_annex.h"
#include "kernel/lexicon/stroke_annex_writer.h"

namespace {

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "vetra_annex_build: %s\n", why.c_str());
    std::exit(1);
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(s);
    while (std::getline(in, item, sep)) out.push_back(item);
    return out;
}

unsigned long Number(const std::string& s, int base, unsigned long max, const std::string& where) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str(), &end, base);
    if (s.empty() || *end || v > max) Fail(where + ": bad number '" + s + "'");
    return v;
}

std::vector<uint16_t> StrokeCodes(const std::string& s, const std::string& where) {
    std::vector<uint16_t> out;
    for (char c : s) {
        if (c < '1' || c > '5') Fail(where + ": bad stroke '" + s + "'");
        out.push_back(uint16_t(c - '0'));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) Fail("usage: vetra_annex_build <annex.tsv> <qzim_annex.bin>");
    std::ifstream in(argv[1]);
    if (!in) Fail(std::string("cannot read ") + argv[1]);
    t_strokeAnnexWriter writer(0);
    std::string line;
    long number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string where = std::string(argv[1]) + ":" + std::to_string(number);
        const std::vector<std::string> f = Split(line, '\t');
        if (f.empty()) continue;
        if (f[0] == "S" && f.size() == 3) {
            const std::vector<uint16_t> codes = StrokeCodes(f[1], where);
            for (const std::string& ch : Split(f[2], ' '))
                if (!writer.AddStrokeChar(codes, uint16_t(Number(ch, 16, 0xFFFF, where))))
                    Fail(where + ": stroke row refused");
        } else if (f[0] == "E" && f.size() == 7) {
            const uint16_t ch = uint16_t(Number(f[1], 16, 0xFFFF, where));
            std::vector<t_annexReading> readings;
            if (f[3] != "-") {
                for (const std::string& r : Split(f[3], ',')) {
                    const std::vector<std::string> tr = Split(r, ':');
                    if (tr.size() != 2) Fail(where + ": bad reading '" + r + "'");
                    readings.push_back({uint16_t(Number(tr[0], 10, 4, where)),
                                        int16_t(Number(tr[1], 10, 412, where))});
                }
            }
            std::vector<uint16_t> codes;
            if (f[5] != "-")
                for (const std::string& c : Split(f[5], ' '))
                    codes.push_back(uint16_t(Number(c, 16, 0xFFFF, where)));
            const int entry = writer.AddEntry(ch, StrokeCodes(f[2], where), readings,
                                              uint16_t(Number(f[4], 10, 0xFFFF, where)), codes);
            if (entry < 0)
                Fail(where + ": " +
                     (writer.GetLastError() ? writer.GetLastError() : "entry refused"));
            if (f[6] != "-") {
                std::vector<uint16_t> ids;
                for (const std::string& id : Split(f[6], ','))
                    ids.push_back(uint16_t(Number(id, 10, 412, where)));
                if (!writer.SetPinyinIds(ch, ids)) Fail(where + ": syllable ids refused");
            }
        } else {
            Fail(where + ": unknown record");
        }
    }
    std::vector<uint8_t> image;
    if (!writer.Build(image))
        Fail(writer.GetLastError() ? writer.GetLastError() : "image not built");

    t_sysBhBsh check;
    if (!check.Load(image.data(), int32_t(image.size()))) Fail("the built image does not attach");

    const std::string target = argv[2], temp = target + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        if (!out.flush()) Fail("cannot write " + temp);
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) Fail("cannot rename " + temp);
    std::printf("vetra_annex_build: %d entries, %zu bytes\n", writer.GetEntryCount(), image.size());
    return 0;
}
