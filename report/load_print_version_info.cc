// The per-file loop: the scanner is called from the resume offset until it reaches the end of
// the file, and every record it returns is printed at once.
#include "report/load_print_version_info.h"

#include <cstdio>
#include <memory>
#include <new>

#include "log/svr_log.h"
#include "report/print_version_info.h"
#include "scan/load_version_info.h"
#include "scan/scan_session.h"
#include "scan/version_info.h"

namespace {

constexpr const char* kName = "LoadPrintVersionInfo()";
constexpr std::uint32_t kTrace = 0x402;
constexpr std::uint32_t kNotice = 0x401;
constexpr std::int64_t kEndOfFile = -1;

std::int16_t Return(std::int16_t status) {
  svr_log(kTrace, kName, "returning %d\n", status);
  svr_log(kTrace, kName, "}\n");
  return status;
}

}  // namespace

std::int16_t LoadPrintVersionInfo(const char* path) {
  return LoadPrintVersionInfo(path, FileFacts{});
}

std::int16_t LoadPrintVersionInfo(const char* path, const FileFacts& facts, std::size_t read_size) {
  svr_log(kTrace, kName, "{\n");
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kRecordBufferSize]);
  const auto session =
      std::unique_ptr<ScanSession>(new (std::nothrow) ScanSession(read_size, facts));
  if (buffer == nullptr || session == nullptr || !session->allocated()) {
    std::printf("\nUnable to allocate memory\n");
    svr_log(kNotice, kName, "\nUnable to allocate memory\n");
    return Return(kScanUnreadable);
  }

  std::int64_t offset = 0;
  LoopBreak = 0;
  for (;;) {
    const ScanStatus status = LoadVersionInfo(path, buffer.get(), offset, *session);
    switch (status) {
      case kScanNothing:
        svr_log(kNotice, kName, "Break because no version info found\n");
        return Return(kScanNothing);
      case kScanFoundV6:
        PrintVersionInfo_V6(path, buffer.get());
        LoopBreak = 1;
        break;
      case kScanFoundV5:
        PrintVersionInfo_V5(path, buffer.get());
        break;
      case kScanUnreadable:
        svr_log(kNotice, kName, "Break because error reading the file\n");
        return Return(kScanUnreadable);
      default:
        svr_log(kNotice, kName, "Default case (%d), do nothing\n", status);
        break;
    }
    if (offset == kEndOfFile) return Return(status);
  }
}
