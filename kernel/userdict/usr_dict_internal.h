// Internals shared by the user dictionary's source files: attribute-row
// offsets, the located word, and small helpers. Not for other folders.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/storage/editable_table.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_scramble.h"

namespace n_usrDict {

// Offsets of the fields in an attribute row (checked against the image's layout).
inline constexpr uint32_t kOffText = 0, kOffFreq = 4, kOffFlags = 6, kOffStamp = 8, kOffSum = 12,
                          kOffExtra = 14;

// A fresh empty image of `capacity` words with new scrambling parameters.
bool BuildEmptyImage(uint32_t capacity, std::vector<uint8_t>& out);
// The whole file; false for a missing, empty, unreadable or too large file.
bool ReadWholeFile(const wchar_t* path, std::vector<uint8_t>& out);

}  // namespace n_usrDict

struct t_usrDictV3Core::t_wordLoc {
    t_editLocation loc;
    bool keyFound = false;
    bool wordFound = false;
    t_editRow row;  // the word's attribute row when wordFound
    uint16_t checksum = 0;
    alignas(2) uint8_t scrambled[kUsrTextBufBytes] = {};  // the word as stored
};
