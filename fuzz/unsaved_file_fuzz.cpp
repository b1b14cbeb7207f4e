// Fuzzes the reader of change files (the changes a process kept as it
// ended, which the next holder of the lock takes in) and the user
// dictionary's replay of their records: the bytes are checked whole in
// memory and read back as a file of this user; a file that passes is taken
// into a small user dictionary as a copy of it, which must still validate
// and hold at most its rows. One thread.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/unsaved_changes.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

// A small dictionary's image, made once: the records are taken into a
// fresh copy of it for each input.
const std::vector<uint8_t>& BaseImage() {
    static const std::vector<uint8_t> image = [] {
        std::vector<uint8_t> bytes;
        t_usrDictV3Core dict;
        const uint8_t* data = nullptr;
        uint64_t size = 0;
        if (dict.CreateEmpty(16) && dict.GetImageBytes(&data, &size))
            bytes.assign(data, data + size);
        return bytes;
    }();
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    t_unsavedFile parsed;
    std::string why;
    const bool whole = ParseUnsavedImage(data, size, &parsed, &why);
    FUZZ_CHECK(whole || (parsed.changes.empty() && !why.empty()));

    // The same bytes as a change file beside a dictionary: the reader
    // decides as the parse did.
    static const std::string path = FuzzPath("qzim_usr_v3new.bin.unsaved.1.0123456789abcdef");
    FuzzWriteFile(path, data, size);
    t_unsavedFile read;
    const t_unsavedRead result =
        ReadUnsavedFile(t_pathName(std::wstring(path.begin(), path.end()).c_str()), &read, &why);
    FUZZ_CHECK((result == t_unsavedRead::kWhole) == whole);
    if (!whole) return 0;
    FUZZ_CHECK(read.changes == parsed.changes && read.records == parsed.records);
    size_t records = 0;
    FUZZ_CHECK(CountChangeRecords(parsed.changes, &records) && records == parsed.records);

    t_usrDictV3Core dict;
    const std::vector<uint8_t>& base = BaseImage();
    FUZZ_CHECK(!base.empty() && dict.AttachCopy(base.data(), base.size()));
    size_t refused = 0;
    const size_t taken = dict.AdoptChanges(parsed.changes, &refused);
    FUZZ_CHECK(taken + refused == parsed.records);
    FUZZ_CHECK(dict.Validate());
    return 0;
}
