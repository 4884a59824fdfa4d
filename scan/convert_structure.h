// The new-format field parser: finds the delimiter after each field and copies the fields of a
// candidate block into a VersionInfo_V6 record.
#pragma once

#include <cstdint>

#include "log/trace.h"

// Searches at most fieldSize + strlen(delimiter) bytes from start for the delimiter, restarting
// only on the byte that broke a partial match. Returns the delimiter's first byte, or nullptr when
// the field runs past fieldSize.
const std::uint8_t* FindDelim(const std::uint8_t* start, const char* delimiter,
                              std::int32_t fieldSize, const Trace& trace);

// Parses the 1244 bytes read from the first byte of a candidate block. Returns 1 with the buffer
// rewritten as a VersionInfo_V6 record, or 0 with the buffer untouched when a field is longer than
// its width. Never looks beyond offset 1242 of the buffer. Both write their lines to `trace`.
int ConvertStructure(std::uint8_t* buffer, const Trace& trace);
