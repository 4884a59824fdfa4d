// Fuzz entry: any bytes through the inventory's archive path, as a file on disk. Nothing may
// crash, leak or grow without bound (the limits are tight here), and when the bytes are scanned
// as they lie, the records must be those the library finds in the same bytes.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_scan.h"
#include "fuzz/fuzz_setup.h"
#include "zeblix/scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = MemoryFile(data, size);
  ArchiveLimits limits;
  limits.depth = 4;
  limits.max_memory = std::uint64_t{64} << 20;
  limits.own_process = false;  // found here, where the fuzzer sees it
  limits.max_bytes = std::uint64_t{64} << 20;
  limits.max_ratio = 100;
  std::vector<zeblix::Record> own;
  std::size_t inside = 0;
  const ArchiveEvents events{
      [&](const MemberPath& member, const Digests&, const zeblix::Record& record) {
        if (member.empty()) {
          own.push_back(record);
        } else {
          ++inside;
        }
      },
      [&](const MemberPath&, int error, const std::string& message) {
        if (error <= 0 || message.empty()) __builtin_trap();
      },
      [](const MemberPath&, const Digests&) {}, nullptr,
      [](const Holder& holder, const Digests&) {
        if (holder.package.has_value() == holder.image.has_value()) __builtin_trap();
      },
      [](const MemberPath& archive, const std::string&, ArchiveEvents::EntryKind) {
        if (archive.empty()) __builtin_trap();  // a layer lies inside the file
      }};
  ScanPacked(fd, "fuzz.bin", limits, events);
  close(fd);
  if (!own.empty()) {
    std::vector<zeblix::Record> expected;
    zeblix::ScanBytes(std::span(data, size),
                      [&](const zeblix::Record& record) { expected.push_back(record); });
    if (inside != 0 || own != expected) __builtin_trap();
  }
  return 0;
}
