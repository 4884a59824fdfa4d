// Turns the four numeric fields of a version record into report text. Each translator takes the
// field as stored in the record, swaps its bytes when the record came from a machine of the other
// byte order (SavedVersionID is 2), and returns text in a buffer of its own that stays valid until
// its next call.
#pragma once

#include <cstdint>

// The 16-bit value with its two bytes exchanged.
std::uint16_t SWAP2(std::uint16_t value);

// "not set" for a negative level, else the level in decimal.
const char* XlatPatchLevel(std::int16_t value);

// The text for file-type codes 1 to 4, else "Unknown file type (code)".
const char* XlatFileType(std::uint16_t value);

// The text for operating-system codes 1 to 80, else "Unknown operating system (code)".
const char* XlatOS(std::uint16_t value);

// The texts of the release bits that are set, in bit order.
const char* XlatRelease(std::uint16_t value);
