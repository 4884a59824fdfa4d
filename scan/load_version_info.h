// The block scanner: finds the next valid new-format block of a file from a resume offset, and at
// the end of a file without one, the old-format record.
#pragma once

#include <cstdint>

#include "scan/scan_session.h"
#include "scan/version_info.h"

// Searches the file at `path` from `offset` for the next eyecatcher whose block parses and whose
// InternalId tells a byte order. On status 1 the buffer holds the VersionInfo_V6 record and
// `offset` is the position just past the block. At the end of the file `offset` becomes -1 and,
// unless LoopBreak is set, the old-format search decides the status. `session` carries what the
// calls for one file share.
ScanStatus LoadVersionInfo(const char* path, std::uint8_t* buffer, std::int64_t& offset,
                           ScanSession& session);

// The old-format search over the whole file, called by LoadVersionInfo at the end of a file
// without a block. Ends the call: closes the file and writes the closing trace lines.
ScanStatus LoadVersionInfo_V5(ScanSession& session, std::uint8_t* buffer);
