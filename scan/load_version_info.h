// The utility's scanner call: the engine's search with the utility's process-wide byte order and
// loop state, the SVRLOG trace, and its message for a file that cannot be opened.
#pragma once

#include <cstdint>

#include "scan/scan_session.h"
#include "scan/version_info.h"

// Opens the file at `path` for one call and searches it from `offset` (see FindNextRecord).
// SavedVersionID and LoopBreak are the scan's byte order and loop state. A file that cannot be
// opened gives "Unable to Open" on standard output and status -1, with `offset` unchanged.
ScanStatus LoadVersionInfo(const char* path, std::uint8_t* buffer, std::int64_t& offset,
                           ScanSession& session);
