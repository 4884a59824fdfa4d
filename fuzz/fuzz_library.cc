// Fuzz entry: the library on arbitrary bytes. The bytes lie in a buffer of exactly their size, so
// any read outside them stops the run, and scanning them in memory must give the very records
// that scanning them as a file gives, offsets and byte orders included, and so must scanning them
// as a stream handed over in pieces.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_setup.h"
#include "zeblix/scan.h"

namespace {

std::vector<zeblix::Record> FromFile(const std::uint8_t* data, std::size_t size) {
  std::vector<zeblix::Record> records;
  const int fd = MemoryFile(data, size);
  const std::error_code error =
      zeblix::ScanFile("/proc/self/fd/" + std::to_string(fd),
                       [&](const zeblix::Record& record) { records.push_back(record); });
  close(fd);
  if (error) __builtin_trap();
  return records;
}

// The same bytes handed over by a reader in pieces of a size the input chooses.
std::vector<zeblix::Record> FromStream(const std::uint8_t* data, std::size_t size) {
  const std::size_t piece = size > 0 ? data[size - 1] % 97 + 1 : 1;
  std::size_t at = 0;
  std::vector<zeblix::Record> records;
  const std::error_code error = zeblix::ScanStream(
      [&](std::span<std::uint8_t> room) -> std::ptrdiff_t {
        const std::size_t take = std::min({piece, room.size(), size - at});
        if (take > 0) std::memcpy(room.data(), data + at, take);
        at += take;
        return static_cast<std::ptrdiff_t>(take);
      },
      [&](const zeblix::Record& record) { records.push_back(record); });
  if (error || at != size) __builtin_trap();
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto exact = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) std::memcpy(exact.get(), data, size);
  std::vector<zeblix::Record> records;
  const std::error_code error =
      zeblix::ScanBytes(std::span(exact.get(), size),
                        [&](const zeblix::Record& record) { records.push_back(record); });
  if (error || records != FromFile(data, size) || records != FromStream(data, size)) {
    __builtin_trap();
  }
  return 0;
}
