// Fuzzes the text-file reader: any bytes as a file, read with every line
// reader; lines written back in the file's own encoding must read back equal.
#include <cwchar>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kernel/runtime/text_file.h"

namespace {

using t_reader = wchar_t* (t_textFile::*)(wchar_t*, int);

// Reads every line; checks that each fits its buffer and holds no line end
// the reader should have cut at.
std::vector<std::wstring> ReadAll(const std::wstring& path, t_reader read, int capacity,
                                  bool anyBreak, int* encoding) {
    std::vector<std::wstring> lines;
    t_textFile f;
    if (!f.Open(path.c_str(), kOpenRead, kTextGbk)) return lines;
    *encoding = f.GetEncoding();
    std::vector<wchar_t> buf(static_cast<size_t>(capacity) + 1, L'#');
    buf[static_cast<size_t>(capacity)] = 0x7FFF;  // must stay untouched
    while ((f.*read)(buf.data(), capacity)) {
        const size_t n = wcslen(buf.data());
        FUZZ_CHECK(n < static_cast<size_t>(capacity));
        FUZZ_CHECK(buf[static_cast<size_t>(capacity)] == 0x7FFF);
        const std::wstring line(buf.data(), n);
        FUZZ_CHECK(line.find(L'\n') == std::wstring::npos);
        if (anyBreak) FUZZ_CHECK(line.find(L'\r') == std::wstring::npos);
        lines.push_back(line);
        FUZZ_CHECK(lines.size() <= 1u << 20);
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = FuzzPath("in.txt");
    FuzzWriteFile(in, data, size);
    const std::wstring inW(in.begin(), in.end());

    int encoding = -1;
    const std::vector<std::wstring> lines =
        ReadAll(inW, &t_textFile::ReadLine, 4096, false, &encoding);
    FUZZ_CHECK(encoding >= kTextGbk && encoding <= kTextUtf32Be);
    int ignored;
    ReadAll(inW, &t_textFile::ReadLine, 1 + (size % 7), false, &ignored);
    ReadAll(inW, &t_textFile::ReadLineAnyBreak, 64, true, &ignored);
    const bool utf16 = encoding == kTextUtf16Le || encoding == kTextUtf16Be;
    const std::vector<std::wstring> u16 =
        ReadAll(inW, &t_textFile::ReadLineUtf16, 64, true, &ignored);
    if (!utf16) FUZZ_CHECK(u16.empty());

    // Whatever was read must write back and read again the same, unless a
    // character has no form in the encoding (then the write must fail whole).
    const std::wstring outW = FuzzWidePath("out.txt");
    t_textFile out;
    FUZZ_CHECK(out.Open(outW.c_str(), kOpenTruncate, encoding));
    for (const std::wstring& line : lines) {
        FUZZ_CHECK(out.WriteLine(line.c_str()));
        FUZZ_CHECK(out.WriteLine(L"\n"));
    }
    if (!out.Close()) return 0;
    int again = -1;
    const std::vector<std::wstring> reread =
        ReadAll(outW, &t_textFile::ReadLine, 4096, false, &again);
    if (encoding != kTextGbk) FUZZ_CHECK(again == encoding);
    // A line cut at a NUL reads back without its tail; compare as C strings.
    FUZZ_CHECK(reread.size() == lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        FUZZ_CHECK(wcscmp(reread[i].c_str(), lines[i].c_str()) == 0);
    return 0;
}
