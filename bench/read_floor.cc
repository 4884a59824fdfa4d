// The read-only floor: walks its arguments as zeblix does (a directory stands for the regular
// files directly inside it) and reads every byte of every file with the same buffer size and
// alignment and the same open, status and read calls, searching nothing. zeblix's cost is
// measured against it.
//
// With `-j N` it is instead the parallel floor: N threads read the same files at once, each
// taking the next one nobody has taken, in no particular order. That is what the disk gives to
// parallel readers, a bound that no reader keeping to the order of its arguments can beat.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/walk_like_zeblix.h"

namespace {

constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kAlignment = 64;

class AlignedBuffer {
 public:
  AlignedBuffer() : storage_(std::make_unique<unsigned char[]>(kReadSize + kAlignment)) {}
  unsigned char* get() const {
    const auto address = reinterpret_cast<std::uintptr_t>(storage_.get());
    return storage_.get() + ((kAlignment - address % kAlignment) % kAlignment);
  }

 private:
  std::unique_ptr<unsigned char[]> storage_;
};

unsigned long long ReadWholeFile(const std::string& path, unsigned char* buffer) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return 0;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return 0;
  }
  unsigned long long total = 0;
  for (ssize_t got; (got = read(fd, buffer, kReadSize)) > 0;)
    total += static_cast<unsigned long long>(got);
  close(fd);
  return total;
}

// The same files as the walk, listed without looking at them: the readers do that, in parallel.
std::vector<std::string> ListFiles(int argc, char** argv) {
  std::vector<std::string> paths;
  for (int i = 0; i < argc; ++i) {
    DIR* directory = opendir(argv[i]);
    if (directory == nullptr) {
      paths.emplace_back(argv[i]);
      continue;
    }
    const std::string prefix = std::string(argv[i]) + "/";
    while (const dirent* entry = readdir(directory)) {
      if (entry->d_type != DT_DIR) paths.push_back(prefix + entry->d_name);
    }
    closedir(directory);
  }
  return paths;
}

unsigned long long ReadInParallel(const std::vector<std::string>& paths, int jobs) {
  std::atomic<std::size_t> next = 0;
  std::atomic<unsigned long long> total = 0;
  std::vector<std::thread> readers;
  for (int j = 0; j < jobs; ++j) {
    readers.emplace_back([&] {
      const AlignedBuffer buffer;
      for (std::size_t i; (i = next.fetch_add(1)) < paths.size();)
        total += ReadWholeFile(paths[i], buffer.get());
    });
  }
  for (auto& reader : readers) reader.join();
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long total = 0;
  if (argc > 2 && std::strcmp(argv[1], "-j") == 0) {
    const int jobs = std::atoi(argv[2]);
    total = ReadInParallel(ListFiles(argc - 3, argv + 3), jobs > 0 ? jobs : 1);
  } else {
    const AlignedBuffer buffer;
    ForEachFileLikeZeblix(
        argc, argv, [&](const std::string& path) { total += ReadWholeFile(path, buffer.get()); });
  }
  std::fprintf(stderr, "%llu bytes read\n", total);
  return 0;
}
