// Word-text scrambling of the user dictionaries: the process-wide key block,
// the per-word transform keyed by the word's checksum and two per-image
// parameters, the reader of scrambled words in older images, and the random
// per-image parameters. The key block is built once (locked) and then only
// read; everything else works on the caller's data and is safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/lstr.h"

// Longest word text or reading a user dictionary stores, in bytes.
inline constexpr uint32_t kUsrMaxTextBytes = 129;
// Room a caller gives for one text copied out: count + 129 bytes, rounded.
inline constexpr uint32_t kUsrTextBufBytes = 131;
// Per-image parameters lie in 0 .. kUsrParamRange - 1.
inline constexpr uint32_t kUsrParamRange = 32767;

// Builds the key block once per process; later calls return true at once.
// False when the block cannot be allocated (nothing can be scrambled then).
bool BuildScrambleKeyTable();
// Frees the block; the next use makes a new one. Only for process shut-down
// and tests: no scrambling may run concurrently.
bool FreeScrambleKeyTable();
// base + a random multiple of 4 below 1024 (from the private generator).
uint32_t RandomSlotOffset(uint32_t base);

// Fills `out` with n random bytes from the system's generator (getrandom,
// else /dev/urandom). The process's rand() state is never touched. False when
// no random source is available.
bool FillRandomBytes(void* out, size_t n);
// A uniformly drawn per-image parameter in 0 .. 32766; false (out untouched)
// without a random source.
bool DrawScrambleParameter(uint32_t* out);

// Sum of the word's units modulo 65536 (0 for a null or empty word).
uint16_t WordUnitChecksum(const t_lstr* w);
// The 16-bit key of a word from its checksum and the image's parameters.
uint16_t DeriveScrambleKey(uint32_t checksum, int32_t p1, int32_t p2);

// Scrambles w in place and stores its checksum in *checksum (the attribute
// row's text checksum). False, with w and *checksum untouched, when w fails
// IsValidWordString (empty, odd or above 129 bytes), checksum is null, or the
// key block cannot be built.
bool ScrambleWordText(t_lstr* w, uint16_t* checksum, int32_t p1, int32_t p2);
// Reverses ScrambleWordText with the stored checksum. A word of fewer than
// 2 bytes is left unchanged (true). False for null w or no key block.
// A wrong checksum is not detected: it yields other units.
bool UnscrambleWordText(t_lstr* w, uint32_t checksum, int32_t p1, int32_t p2);

// One word reference of an older image: the text's offset (scrambled when
// flag is 1), its index, the two key inputs and the scrambled flag.
struct t_oldWordRef {
    uint32_t storedOffset = 0;
    int32_t index = 0;
    uint32_t a = 0;
    uint32_t b = 0;
    int16_t flag = 0;
};
// Reads one word of an older image of imageSize bytes into out (at least
// kUsrTextBufBytes). The text must lie wholly below both dataBound and
// imageSize. False (out untouched) for a flag other than 0 or 1, an offset
// out of bounds, or a byte count outside 1..129.
bool ReadOldImageWord(const uint8_t* image, uint64_t imageSize, uint32_t dataBound,
                      const t_oldWordRef& ref, t_lstr* out, int32_t q, int32_t o);
// The two keys of an older image's scrambled records (test writers use them).
uint32_t OldImageOffsetKey(uint32_t a, uint32_t b, int32_t o);
uint16_t OldImageWordKey(uint32_t a, uint32_t b, int32_t q);
