// The library's side of the benchmark: walks its arguments as zeblix does (a directory stands for
// the regular files directly inside it) and scans every file with zeblix::ScanFile, counting the
// records instead of printing them.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

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
  for (int i = 1; i < argc; ++i) {
    struct stat status {};
    if (stat(argv[i], &status) != 0) continue;
    if (!S_ISDIR(status.st_mode)) {
      records += CountRecords(argv[i]);
      continue;
    }
    DIR* directory = opendir(argv[i]);
    if (directory == nullptr) continue;
    const std::string prefix = std::string(argv[i]) + "/";
    while (const dirent* entry = readdir(directory)) {
      const std::string path = prefix + entry->d_name;
      if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        records += CountRecords(path);
    }
    closedir(directory);
  }
  std::printf("%zu records\n", records);
  return 0;
}
