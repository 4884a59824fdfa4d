// The library's side of the benchmark: walks its arguments as zeblix does and scans every file
// with zeblix::ScanFile, counting the records instead of printing them.
#include <cstdio>
#include <string>

#include "bench/walk_like_zeblix.h"
#include "zeblix/scan.h"

namespace {

std::size_t CountRecords(const std::string& path) {
  std::size_t records = 0;
  if (zeblix::ScanFile(path, [&](const zeblix::Record&) { ++records; })) return 0;
  return records;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t records = 0;
  ForEachFileLikeZeblix(argc, argv,
                        [&](const std::string& path) { records += CountRecords(path); });
  std::printf("%zu records\n", records);
  return 0;
}
