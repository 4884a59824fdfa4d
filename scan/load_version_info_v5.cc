// The old-format fallback. The first magic of the file, in either byte order, starts the record;
// the record's byte order is judged from its release mask alone, since the magic reads the same
// both ways round.
#include <cstring>

#include "scan/load_version_info.h"
#include "scan/scanner_trace.h"
#include "zeblix/byte_order.h"

using namespace scanner_trace;

namespace {

ScanStatus EndCall(ScanSession& session, ScanStatus status) {
  session.End(/*more_to_come=*/false);
  return TraceReturn(status);
}

}  // namespace

ScanStatus LoadVersionInfo_V5(ScanSession& session, std::uint8_t* buffer) {
  using V5 = VersionInfo_V5;
  svr_log(kTrace, kName, "Try to locate the old Version information\n");
  svr_log(kTrace, kName, "Compare with: 0x%X 0x%X\n", V5::kMagicReversed, V5::kMagic);
  session.WatchWholeFile();
  const MagicWatch& watch = session.watch();
  if (!watch.found()) return EndCall(session, kScanNothing);

  svr_log(kTrace, kName, "Found VersionID: 0x%X\n", watch.magic());
  svr_log(kReadingTrace, kName, "offset (%d)\n", Low32(watch.record_offset()));
  svr_log(kReadingTrace, kName, "Try to read %d bytes at offset (%d)\n",
          static_cast<int>(V5::kSize), Low32(watch.record_offset()));
  if (watch.captured() < V5::kSize) {
    session.End(/*more_to_come=*/false);
    svr_log(kReadFailure, kName, "Read failed\n");
    return TraceReturn(kScanUnreadable);
  }
  std::memcpy(buffer, watch.record(), V5::kSize);

  const auto release_mask = zeblix::LoadNative<std::uint16_t>(buffer + V5::ReleaseMask.offset);
  if (release_mask > V5::kMaxNativeReleaseMask) {
    svr_log(kTrace, kName, "Version ID is foreign byte order\n");
    SavedVersionID = kForeignByteOrder;
  } else {
    svr_log(kTrace, kName, "Version ID is same byte order\n");
    SavedVersionID = kSameByteOrder;
  }
  ZapTextFields(buffer, kZappedFieldsV5);
  return EndCall(session, kScanFoundV5);
}
