// The two report layouts, one per record format. Both print on standard output: an empty line,
// the header naming the file, then one line per field with the dashes aligned.
#pragma once

#include <cstdint>

// Prints the report of the VersionInfo_V6 record in `record`, found in the file `path`.
void PrintVersionInfo_V6(const char* path, const std::uint8_t* record);

// Prints the report of the VersionInfo_V5 record in `record`; the old format has no build number.
void PrintVersionInfo_V5(const char* path, const std::uint8_t* record);
