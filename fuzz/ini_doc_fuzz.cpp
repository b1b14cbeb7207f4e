// Fuzzes the platform layer's ini document: any bytes through the text
// reader in code page 936, parsed, saved to memory and parsed again must give
// the same sections, keys and values; the parser keeps no key the format
// could not write back (one starting with ";" or "[").
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "porting3/ini_doc.h"
#include "porting3/str16.h"

using namespace n_porting;

namespace {

using t_content = std::map<std::u16string, std::map<std::u16string, std::u16string>>;

// Sections by name, each with its keys and values; every key item must be
// the stored key and resolve to its value.
t_content Content(const t_iniDoc& doc, bool all = false) {
    t_content out;
    const t_iniItems* items = doc.GetItems();
    for (int i = 0; items && i < items->GetCount(); ++i) {
        // Names are found without regard to case, so a top-level comment
        // ";C" would find a section "[;c]": items led by ";" are left out
        // here, sections of such names with them.
        if (!all && items->Get(i)[0] == u';') continue;
        const t_iniSection* section = doc.FindSection(items->Get(i));
        if (!section) {
            FUZZ_CHECK(items->Get(i)[0] == u';');
            continue;
        }
        auto& keys = out[items->Get(i)];
        for (int k = 0; k < section->Items().GetCount(); ++k) {
            const char16_t* key = section->Items().Get(k);
            if (section->FindKey(key) != key) continue;  // a comment
            const char16_t* value = section->GetValue(key);
            FUZZ_CHECK(value != nullptr);
            keys[key] = value;
        }
    }
    return out;
}

bool Reparse(const t_iniDoc& doc, t_iniDoc& again) {
    t_fileTextWrite writer;
    FUZZ_CHECK(doc.WriteText(writer));
    std::vector<uint8_t> bytes(writer.GetSaveSize());
    size_t size = bytes.size();
    FUZZ_CHECK(writer.SaveToMemory(bytes.data(), &size));
    t_errorContext ctx;
    t_fileTextRead reader;
    FUZZ_CHECK(reader.LoadMemory(ctx, bytes.data(), size, kCodePageGbk));
    return again.Parse(reader) == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    t_errorContext ctx;
    t_fileTextRead reader;
    if (!reader.LoadMemory(ctx, data, size, kCodePageGbk)) return 0;
    t_iniDoc doc;
    FUZZ_CHECK(doc.Parse(reader) == 1);

    // No key the format cannot write back is ever held.
    for (const auto& [section, keys] : Content(doc, true))
        for (const auto& [key, value] : keys) FUZZ_CHECK(key[0] != u';' && key[0] != u'[');

    const t_content first = Content(doc);
    t_iniDoc again;
    FUZZ_CHECK(Reparse(doc, again));
    FUZZ_CHECK(Content(again) == first);
    return 0;
}
