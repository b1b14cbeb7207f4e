// Fuzzes the word-list reader: any bytes parsed from memory and from a file
// must give the same lines; the lines a writer accepts must write into a
// buffer and read back unchanged.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kernel/runtime/word_list.h"

namespace {

struct t_line {
    int result = 0;
    int kind = 0;
    std::u16string word, code, comment;
    int hasNumber = 0;
    int number = 0;
    bool operator==(const t_line&) const = default;
};

std::u16string Units(const uint16_t* p, int n) {
    return std::u16string(reinterpret_cast<const char16_t*>(p), static_cast<size_t>(n));
}

// Reads every line (skipping malformed ones) and walks each entry's tokens.
std::vector<t_line> ReadAll(t_utf16TextReader& r) {
    std::vector<t_line> lines;
    for (;;) {
        t_line line;
        line.result = r.ReadEntry();
        if (line.result == 1) break;
        FUZZ_CHECK(line.result == 0 || line.result == -1);
        FUZZ_CHECK(lines.size() < (1u << 20));
        line.kind = r.GetLineKind();
        uint16_t buf[kWordListMaxLine + 2];
        if (line.kind == t_utf16TextReader::kKindEntry) {
            const int wordLength = r.GetWordLength();
            const int codeLength = r.GetCodeLength();
            FUZZ_CHECK(wordLength >= 1 && wordLength <= kWordListFieldUnits);
            FUZZ_CHECK(codeLength >= 1 && codeLength <= kWordListFieldUnits);
            FUZZ_CHECK(r.GetWord(buf, wordLength) == wordLength && buf[wordLength - 1] == 0);
            line.word = Units(buf, wordLength - 1);
            FUZZ_CHECK(r.GetCode(buf, codeLength) == codeLength && buf[codeLength - 1] == 0);
            line.code = Units(buf, codeLength - 1);
            line.hasNumber = r.GetNumber(&line.number);
            FUZZ_CHECK(!line.hasNumber || line.number >= 0);
            // Tokens cover the word; a 7-unit buffer as the importer uses.
            int type = 0, tokens = 0, t;
            while ((t = r.NextWordToken(buf, 7, &type)) == 0) {
                FUZZ_CHECK(type == t_utf16TextReader::kTokenGroup ||
                           type == t_utf16TextReader::kTokenUnit);
                FUZZ_CHECK(++tokens <= kWordListFieldUnits);
            }
            FUZZ_CHECK(t == 1 || t == -1);
        } else if (line.kind == t_utf16TextReader::kKindComment) {
            FUZZ_CHECK(r.GetComment(buf, kWordListMaxLine + 2) == 1);
            line.comment.assign(reinterpret_cast<const char16_t*>(buf));
        } else {
            FUZZ_CHECK(line.result == -1);
        }
        lines.push_back(line);
    }
    return lines;
}

bool HasNul(const std::u16string& s) {
    return s.find(u'\0') != std::u16string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    t_utf16TextReader memory;
    const int openedMemory = memory.OpenMemory(data, size);
    const std::string path = FuzzPath("words.txt");
    FuzzWriteFile(path, data, size);
    const std::wstring pathW(path.begin(), path.end());
    t_utf16TextReader file;
    const int openedFile = file.OpenFile(pathW.c_str());
    FUZZ_CHECK((openedMemory == 0) == (openedFile == 0));
    if (openedMemory != 0) return 0;

    char narrow[8];
    int type;
    memory.NextWordTokenA(narrow, sizeof narrow, &type);  // no entry yet: refused
    const int64_t expected = memory.CountLines();
    FUZZ_CHECK(expected >= 1 && file.CountLines() == expected);
    const std::vector<t_line> lines = ReadAll(memory);
    FUZZ_CHECK(ReadAll(file) == lines);

    // Write what the format can carry into a buffer and read it back.
    std::vector<t_line> kept;
    std::vector<uint8_t> out(64 + 4 * size);
    t_utf16TextWriter writer;
    FUZZ_CHECK(writer.OpenBuffer(out.data(), out.size()) == 0);
    for (const t_line& line : lines) {
        if (line.kind == t_utf16TextReader::kKindEntry) {
            if (line.word.empty() || !line.hasNumber || HasNul(line.code)) continue;
            const bool accepted =
                writer.AppendWordN(reinterpret_cast<const uint16_t*>(line.word.data()),
                                   line.word.size()) &&
                writer.SetCode(reinterpret_cast<const uint16_t*>(line.code.c_str())) &&
                writer.SetNumber(line.number);
            if (!accepted) {
                writer.ClearEntry();
                continue;
            }
            FUZZ_CHECK(writer.WriteEntryToBuffer() == 0);
        } else if (line.kind == t_utf16TextReader::kKindComment) {
            if (HasNul(line.comment)) continue;
            if (writer.WriteCommentToBuffer(
                    reinterpret_cast<const uint16_t*>(line.comment.c_str())) != 0)
                continue;
        } else {
            continue;
        }
        t_line copy = line;
        if (copy.kind == t_utf16TextReader::kKindEntry) {
            // Digits are written without leading zeros; the value is the same.
            copy.hasNumber = 1;
        }
        kept.push_back(copy);
    }
    t_utf16TextReader back;
    FUZZ_CHECK(back.OpenMemory(out.data(), writer.GetBufferUsed()) == 0);
    uint16_t header[kWordListFieldUnits];
    FUZZ_CHECK(back.GetHeaderValue(header, kWordListFieldUnits) == 1);
    FUZZ_CHECK(ReadAll(back) == kept);
    return 0;
}
