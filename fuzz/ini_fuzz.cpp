// Fuzzes the ini reader: any bytes as a configuration file, looked up every
// way; a successful save must load back into exactly the same lines.
#include <cwchar>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kernel/runtime/file_config.h"

namespace {

// Every section with its lines in iteration (key) order, one text per line.
std::vector<std::wstring> Dump(const t_fileConfig& config) {
    std::vector<std::wstring> out;
    for (const auto& [name, section] : config.GetSections()) {
        out.push_back(L"[" + std::wstring(name) + L"]");
        FUZZ_CHECK(section.size() == section.Lines().size());
        for (const auto& [key, record] : section) {
            FUZZ_CHECK(key == record->key);
            FUZZ_CHECK(!key.empty());
            FUZZ_CHECK(record->value == nullptr || *record->value != 0);
            out.push_back(std::wstring(key) + L"\x01" + record->separator + L"\x01" +
                          (record->value ? record->value : L""));
        }
    }
    return out;
}

// The distinct section headers of a file, read independently of the object.
std::vector<std::wstring> HeaderNames(const std::wstring& path) {
    std::vector<std::wstring> names;
    t_textFile f;
    if (!f.Open(path.c_str(), kOpenRead, kTextGbk)) return names;
    std::vector<wchar_t> buf(t_fileConfig::kMaxLineChars + 2);
    while (f.ReadLine(buf.data(), static_cast<int>(buf.size()))) {
        if (wcslen(buf.data()) > t_fileConfig::kMaxLineChars) continue;
        wchar_t* line = t_fileConfig::Trim(buf.data());
        const size_t n = wcslen(line);
        if (n < 2 || line[0] != L'[' || line[n - 1] != L']') continue;
        const std::wstring name(line + 1, n - 2);
        bool seen = false;
        for (const auto& s : names) seen = seen || s == name;
        if (!seen) names.push_back(name);
    }
    return names;
}

std::vector<std::wstring> SectionNames(const t_fileConfig& config) {
    std::vector<std::wstring> names;
    for (const auto& entry : config.GetSections()) names.emplace_back(entry.first);
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = FuzzPath("in.ini");
    FuzzWriteFile(in, data, size);
    const std::wstring inW(in.begin(), in.end());

    t_fileConfig config;
    FUZZ_CHECK(config.AddSeparator(L"=>") != nullptr);
    FUZZ_CHECK(config.Load(inW.c_str()));
    const std::vector<std::wstring> before = Dump(config);
    std::vector<std::wstring> headers = HeaderNames(inW);
    FUZZ_CHECK(headers.size() == config.GetSections().size());
    for (const std::wstring& name : headers) FUZZ_CHECK(config.FindSection(name.c_str()));

    // A lookup answers the last line of its key.
    for (const auto& [name, section] : config.GetSections()) {
        const std::wstring sectionName(name);
        for (const t_fileConfig::t_keyRecord* record : section.Lines()) {
            const wchar_t* separator = nullptr;
            const wchar_t* value = config.GetValue(sectionName.c_str(), record->key, &separator);
            const t_fileConfig::t_keyRecord* last = section.Find(record->key);
            FUZZ_CHECK(last != nullptr && value == last->value && separator == last->separator);
            config.GetInt(sectionName.c_str(), record->key, nullptr, 0);
        }
    }

    const std::wstring outW = FuzzWidePath("out.ini");
    if (!config.SaveAs(outW.c_str())) return 0;  // a text the file's encoding cannot hold
    t_fileConfig again;
    FUZZ_CHECK(again.AddSeparator(L"=>") != nullptr);
    FUZZ_CHECK(again.Load(outW.c_str()));
    FUZZ_CHECK(Dump(again) == before);
    FUZZ_CHECK(HeaderNames(outW) == SectionNames(config));  // written in name order
    return 0;
}
