// Text the input method hands to fcitx and the panel: cuts at a UTF-8
// character boundary and the encoded candidate strings the panel decodes.
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The longest prefix of text[0, length) that ends on a character boundary
// and holds fewer than `room` bytes (room includes the terminating NUL).
size_t Utf8PrefixBelow(const char* text, size_t length, size_t room);

// Each byte bit-reversed, then XORed with the mask.
void ScrambleBytes(uint8_t* bytes, size_t n, uint8_t mask);

// "<n>\x1D<Base64>": n is the byte count of text "\x1D" flag extra, the
// Base64 that of its bytes scrambled with the panel's mask. Sized from the
// computed length, so no text is cut. A new malloc'd string (fcitx frees
// candidate strings with free()); null when memory runs out.
char* EncodeCandidateString(const char* text, int flag, const char* extra, uint8_t mask);
// The same, as a string (empty when memory runs out).
std::string EncodedCandidate(const char* text, int flag, const char* extra, uint8_t mask);
