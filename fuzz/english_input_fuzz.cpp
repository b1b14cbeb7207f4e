// Fuzzes the input-string routines of the English and web-address input:
// the mail and domain tests, the letter tests, the segmented string over
// arbitrary end offsets and the letter-run tokenizer. Views must stay
// inside their text, and the tests must agree with their definitions.
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kernel/convert/input_strings.h"
#include "kernel/runtime/scope_heap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 400) return 0;
    // The first half: the text (one character a byte, 0 made '.'); the rest:
    // segment ends.
    const size_t textBytes = size / 2;
    std::wstring text;
    for (size_t i = 0; i < textBytes; ++i) text += data[i] ? wchar_t(data[i]) : L'.';
    const wchar_t* s = text.c_str();

    if (const wchar_t* at = FindMailAtSign(s)) FUZZ_CHECK(at > s && *at == L'@' && at[1] != 0);
    if (const wchar_t* at = CheckMailDomain(s)) {
        FUZZ_CHECK(at == FindMailAtSign(s));
        FUZZ_CHECK(std::wcsstr(at, L"..") == nullptr);
    }
    if (EndsWithDomainSuffix(s))
        FUZZ_CHECK(std::wcsstr(s, L"..") == nullptr && std::wcschr(s, L'.'));
    if (HasOnlyAeoVowels(s)) FUZZ_CHECK(!std::wcspbrk(s, L"iuv"));
    if (IsLowerAsciiString(s)) FUZZ_CHECK(IsAsciiLetterString(s));

    t_scopeHeap heap;
    std::vector<uint8_t> ends(2);
    for (size_t i = textBytes; i + 1 < size; i += 2) {
        ends.push_back(data[i] % 64);
        ends.push_back(0);
    }
    const uint16_t count = uint16_t(ends.size() - 2);
    std::memcpy(ends.data(), &count, 2);
    const t_segmentedStr seg(s, reinterpret_cast<const t_lstr*>(ends.data()));
    for (int i = -1; i <= seg.count + 1; ++i) {
        int n = -1;
        if (const wchar_t* p = seg.GetSegment(i, &n))
            FUZZ_CHECK(p >= s && n >= 0 && p + n <= s + text.size());
        if (const t_lstr* t = seg.GetSegmentTrimmed(heap, i)) {
            const uint32_t len = LstrGetLength(t);
            FUZZ_CHECK(len > 0 && LstrGetUnit(t, len - 1) != '\'');
        }
    }

    std::vector<uint16_t> units(text.begin(), text.end());
    const t_lstr* l = heap.MakeLstr(units.data(), units.size() * 2);
    t_lstrTokenizer tokens(l);
    int n = 0, total = 0;
    while (const uint16_t* p = tokens.Next(&n)) {
        FUZZ_CHECK(n >= 1 && p + n <= LstrGetUnits(l) + LstrGetLength(l));
        total += n;
    }
    FUZZ_CHECK(total == int(l ? LstrGetLength(l) : 0) && tokens.UnitCount() == total);

    int c = 0;
    if (size >= 4) {
        const uint16_t pair[2] = {uint16_t(data[0] << 8 | data[1]),
                                  uint16_t(data[2] << 8 | data[3])};
        const uint32_t cp = DecodeUtf16Pair(&c, pair, 2);
        FUZZ_CHECK((c == 2 && cp >= 0x10000 && cp <= 0x10FFFF) || (c == 1 && cp == pair[0]));
    }
    return 0;
}
