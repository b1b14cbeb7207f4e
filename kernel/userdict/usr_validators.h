// Validators of user-dictionary data: readings, word texts, and the headers
// and entries of the older user-dictionary formats. Pure functions on the
// caller's data; safe on any thread.
#pragma once

#include <cstdint>

#include "kernel/runtime/lstr.h"

class t_hzDict;

// Readings are PinyinId units: syllables 0..412, letters 413..438, and other
// ids below this bound.
inline constexpr uint16_t kPinyinIdLimit = 500;

// Non-null, byte count even, non-zero and at most 129, every unit below 500.
bool IsValidPyIdString(const t_lstr* s);
// Non-null, byte count even, non-zero and at most 129. checkUnits adds the
// per-unit test, which accepts every unit.
bool IsValidWordString(const t_lstr* s, bool checkUnits);
// Non-null, byte count even and 2 to 129. With checkUnits, every unit must
// also be an ASCII letter or a character of `chars` (none is when chars is
// null or not loaded). Reads chars only: the caller holds its lock.
bool IsValidWordStringStrict(const t_lstr* s, bool checkUnits, const t_hzDict* chars);
// The user dictionary's header check: every header is accepted.
bool IsValidUsrDictHeader(const uint32_t* header);

// Format-1 header, the first 44 bytes (11 u32 words) of the file: magic
// 0x554401d3 or 0x55440101; 0 <= word 5 <= word 6; word 10 >= 0. False for
// null or fewer than 44 bytes.
bool IsValidOldUsrDictHeader(const uint8_t* h, uint64_t size);
// A format-3 reading entry (three i32): all at least 0.
bool IsValidOldIndexEntry(const int32_t e[3]);
// A format-3 reading entry against the format-3 header (h at file byte 32):
// first word index (field 2) in 0..h word 5, text offset (field 0) in
// 0..h word 19, word count (field 1) in 0..1000000.
bool IsValidOldWordEntry(const int32_t e[3], const uint8_t* h);
// A format-3 word entry's next index in -1..h word 5 and its flag 0 or 1.
bool IsValidOldAttrEntry(int32_t nextIndex, int16_t flag, const uint8_t* h);

// Bytes of the format-3 header that IsValidV2UsrDictHeader reads.
inline constexpr uint32_t kV2HeaderBytes = 84;
inline constexpr uint32_t kV2Magic = 0x55449d55;
inline constexpr uint32_t kV1MagicA = 0x554401d3;
inline constexpr uint32_t kV1MagicB = 0x55440101;
// The format-3 header (i32 at byte offsets 0..80 of h): magic; capacities
// A and B each 30000, 150000 or 300000; 500; used counts within capacities;
// four positive words; offsets 56 = 168, 60 = 4200, 64 = A x 12 + 4232,
// 68 = (64) + B x 24 + 32; 72, 76 >= (68); total at 80 >= 68, 72, 76 and
// <= 104857600. False for null or fewer than 84 bytes.
bool IsValidV2UsrDictHeader(const uint8_t* h, uint64_t size);
