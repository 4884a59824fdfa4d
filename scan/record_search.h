// The scanning engine: from a resume offset, the next valid new-format block of a file, and at
// the end of a file without one, the old-format record. All it keeps between calls belongs to
// one scan (the session and the context), so scans of different files may run at once; it reads
// no environment and prints nothing, and its trace lines go where the context's Trace sends them.
#pragma once

#include <cstdint>

#include "log/trace.h"
#include "scan/scan_session.h"
#include "scan/record_formats.h"

// What one scan carries from call to call besides its bytes.
struct ScanContext {
  Trace trace;                        // the utility's SVRLOG trace, or none
  std::int32_t saved_version_id = 0;  // byte order of the record last accepted
  std::int32_t loop_break = 0;        // 1 once a new-format record was taken from this file
  std::int64_t record_offset = 0;     // the first byte of the record last accepted
};

// Searches the session's open file from `offset` for the next eyecatcher whose block parses and
// whose InternalId tells a byte order. On status 1 the buffer holds the VersionInfo_V6 record and
// `offset` is the position just past the block. At the end of the file `offset` becomes -1 and,
// unless loop_break is set, the old-format search decides the status. Writes the scanner's trace
// from the line after "{" to its closing lines, and ends the call on the session.
ScanStatus FindNextRecord(ScanSession& session, std::uint8_t* buffer, std::int64_t& offset,
                          ScanContext& context);

// The old-format search over the whole file, at the end of a file without a block. Ends the call:
// closes the file and writes the closing trace lines.
ScanStatus LoadVersionInfo_V5(ScanSession& session, std::uint8_t* buffer, ScanContext& context);
