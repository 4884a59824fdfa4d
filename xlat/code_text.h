// Report text for the four numeric fields of a record, from values as their writer meant them
// (already in this machine's byte order). Pure functions over caller-owned buffers, shared by the
// utility's translators and the library.
#pragma once

#include <cstddef>
#include <cstdint>

// The longest text written into a code buffer has 32 characters.
inline constexpr std::size_t kCodeTextSize = 50;
// All seven release texts together have 51 characters.
inline constexpr std::size_t kReleaseTextSize = 128;

using CodeTextBuffer = char[kCodeTextSize];
using ReleaseTextBuffer = char[kReleaseTextSize];

// "not set" for a negative level, else the level in decimal.
void WritePatchLevelText(std::int16_t level, CodeTextBuffer& out);

// The text for file-type codes 1 to 4, else "Unknown file type (code)".
void WriteFileTypeText(std::uint16_t code, CodeTextBuffer& out);

// True for the operating-system codes the table names, 1 to 80.
bool IsKnownOs(std::uint16_t code);

// The text for operating-system codes 1 to 80, else "Unknown operating system (code)".
void WriteOsText(std::uint16_t code, CodeTextBuffer& out);

// The texts of the release bits that are set, in bit order.
void WriteReleaseText(std::uint16_t mask, ReleaseTextBuffer& out);
