// The utility's side of the scanner: its open, its message, and the two process-wide values the
// report and the translators share with it.
#include "scan/load_version_info.h"

#include <cstdio>

#include "log/svr_log.h"
#include "scan/record_search.h"
#include "scan/scanner_trace.h"

using namespace scanner_trace;

std::int32_t SavedVersionID = 0;
std::int32_t LoopBreak = 0;

ScanStatus LoadVersionInfo(const char* path, std::uint8_t* buffer, std::int64_t& offset,
                           ScanSession& session) {
  ScanContext context{SvrTrace(), SavedVersionID, LoopBreak};
  const Trace& trace = context.trace;
  trace(kTrace, kName, "{\n");
  if (!session.Open(path, offset)) {
    std::printf("Unable to Open %s\n", path);
    trace(kOpenFailure, kName, "Unable to Open %s\n", path);
    return TraceReturn(trace, kScanUnreadable);
  }
  const ScanStatus status = FindNextRecord(session, buffer, offset, context);
  SavedVersionID = context.saved_version_id;
  return status;
}
