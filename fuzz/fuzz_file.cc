// Fuzz entry: the whole per-file job (block scan, old-format fallback, reports) on arbitrary file
// contents. The first byte chooses the trace: odd turns every trace point on, even leaves all off.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzz_setup.h"
#include "log/svr_log.h"
#include "report/load_print_version_info.h"
#include "scan/file_window.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const bool traced = size > 0 && (data[0] & 1) != 0;
  SetTrace(traced ? ~std::uint64_t{0} : 0);
  const int fd = memfd_create("zeblix-fuzz", MFD_CLOEXEC);
  if (fd < 0) return 0;
  for (std::size_t written = 0; written < size;) {
    const ssize_t got = write(fd, data + written, size - written);
    if (got <= 0) break;
    written += static_cast<std::size_t>(got);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  // The smallest read size puts a seam between pieces every two kilobytes.
  const std::int16_t status =
      LoadPrintVersionInfo(path.c_str(), FileFacts{}, FileWindow::kMinReadSize);
  close(fd);
  if (status != 0 && status != 2 && status != 99 && status != -1) __builtin_trap();
  return 0;
}
