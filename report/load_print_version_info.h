// The per-file job: scan one file for every version record and print a report for each.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/scan_session.h"

// Scans the file at path and prints one report per record found. Returns 0 when the file holds
// no version information, -1 when it cannot be read, else the last scan status (2 after an
// old-format report, 99 after new-format reports).
std::int16_t LoadPrintVersionInfo(const char* path);

// The same for a file the walk has already looked at, reading it `read_size` bytes at a time.
std::int16_t LoadPrintVersionInfo(const char* path, const FileFacts& facts,
                                  std::size_t read_size = ScanSession::kDefaultReadSize);
