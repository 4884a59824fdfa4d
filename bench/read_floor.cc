// The read-only floor: walks its arguments as zeblix does (a directory stands for the regular
// files directly inside it) and reads every byte of every file with the same buffer size and
// alignment and the same open, status and read calls, searching nothing. zeblix's cost is
// measured against it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/walk_like_zeblix.h"

namespace {

constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kAlignment = 64;

unsigned long long ReadWholeFile(const std::string& path, unsigned char* buffer) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return 0;
  struct stat status {};
  fstat(fd, &status);
  unsigned long long total = 0;
  for (ssize_t got; (got = read(fd, buffer, kReadSize)) > 0;)
    total += static_cast<unsigned long long>(got);
  close(fd);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const auto storage = std::make_unique<unsigned char[]>(kReadSize + kAlignment);
  const auto address = reinterpret_cast<std::uintptr_t>(storage.get());
  unsigned char* buffer = storage.get() + ((kAlignment - address % kAlignment) % kAlignment);
  unsigned long long total = 0;
  ForEachFileLikeZeblix(argc, argv,
                        [&](const std::string& path) { total += ReadWholeFile(path, buffer); });
  std::fprintf(stderr, "%llu bytes read\n", total);
  return 0;
}
