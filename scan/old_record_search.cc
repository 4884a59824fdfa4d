// The old-format fallback. The first magic of the file, in either byte order, starts the record;
// the record's byte order is judged from its release mask alone, since the magic reads the same
// both ways round.
#include <cstring>

#include "scan/record_search.h"
#include "scan/scanner_trace.h"
#include "zeblix/byte_order.h"

using namespace scanner_trace;

namespace {

ScanStatus EndCall(ScanSession& session, const Trace& trace, ScanStatus status) {
  session.End(/*more_to_come=*/false);
  return TraceReturn(trace, status);
}

}  // namespace

ScanStatus LoadVersionInfo_V5(ScanSession& session, std::uint8_t* buffer, ScanContext& context) {
  using V5 = VersionInfo_V5;
  const Trace& trace = context.trace;
  trace(kTrace, kName, "Try to locate the old Version information\n");
  trace(kTrace, kName, "Compare with: 0x%X 0x%X\n", V5::MagicReversed(), V5::Magic());
  session.WatchWholeFile();
  const MagicWatch& watch = session.watch();
  if (!watch.found()) return EndCall(session, trace, kScanNothing);

  trace(kTrace, kName, "Found VersionID: 0x%X\n", watch.magic());
  trace(kReadingTrace, kName, "offset (%d)\n", Low32(watch.record_offset()));
  trace(kReadingTrace, kName, "Try to read %d bytes at offset (%d)\n", static_cast<int>(V5::kSize),
        Low32(watch.record_offset()));
  if (watch.captured() < V5::kSize) {
    session.End(/*more_to_come=*/false);
    trace(kReadFailure, kName, "Read failed\n");
    return TraceReturn(trace, kScanUnreadable);
  }
  std::memcpy(buffer, watch.record(), V5::kSize);
  context.record_offset = watch.record_offset();

  const auto release_mask = zeblix::LoadNative<std::uint16_t>(buffer + V5::ReleaseMask.offset);
  if (release_mask > V5::kMaxNativeReleaseMask) {
    trace(kTrace, kName, "Version ID is foreign byte order\n");
    context.saved_version_id = kForeignByteOrder;
  } else {
    trace(kTrace, kName, "Version ID is same byte order\n");
    context.saved_version_id = kSameByteOrder;
  }
  ZapTextFields(buffer, kZappedFieldsV5, trace);
  return EndCall(session, trace, kScanFoundV5);
}
