// Writes the benchmark corpus from a fixed seed, so that every run measures the same bytes:
//   big/none.bin   1 GiB of random bytes without any block or record
//   big/block.bin  the same with the utility's own block placed 1 MiB before its end
//   small/         20,000 files of 1 to 16 KiB
// With --huge FILE it writes instead a sparse 16 GiB file holding the block 5 GiB in.
// Random bytes that would complete an eyecatcher or an old-format magic are changed, so that
// only the block placed on purpose is ever found.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "data/own_version_block.h"

namespace {

constexpr std::uint64_t kSeed = 0x5EB11C5EED;
constexpr std::size_t kBigSize = std::size_t{1} << 30;
constexpr std::size_t kBlockBeforeEnd = std::size_t{1} << 20;
constexpr int kSmallFiles = 20000;
constexpr std::size_t kChunk = 1 << 20;

// splitmix64: small, fast and the same everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

// Produces random bytes in which neither a whole eyecatcher nor a magic ever stands.
class CleanBytes {
 public:
  explicit CleanBytes(std::uint64_t seed) : random_(seed) {
    std::memcpy(pattern_, V_ZEBLIX.data(), sizeof pattern_);
  }

  void Fill(unsigned char* out, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      if (left_ == 0) {
        bits_ = random_.Next();
        left_ = 8;
      }
      unsigned char byte = static_cast<unsigned char>(bits_);
      bits_ >>= 8;
      --left_;
      if (Completes(byte)) byte ^= 1;
      Take(byte);
      out[i] = byte;
    }
  }

 private:
  bool Completes(unsigned char byte) const {
    const std::uint32_t window = (window_ << 8) | byte;
    return window == 0xDD11AACC || window == 0xCCAA11DD ||
           (matched_ == sizeof pattern_ - 1 && byte == pattern_[matched_]);
  }

  void Take(unsigned char byte) {
    window_ = (window_ << 8) | byte;
    if (byte == pattern_[matched_]) {
      ++matched_;
    } else {
      matched_ = (byte == pattern_[0]) ? 1 : 0;
    }
  }

  Random random_;
  std::uint64_t bits_ = 0;
  int left_ = 0;
  std::uint32_t window_ = 0;
  std::size_t matched_ = 0;
  unsigned char pattern_[zeblix::kEyeCatchSize];
};

bool WriteBig(const std::string& path, bool with_block) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  CleanBytes bytes(kSeed);
  std::vector<unsigned char> chunk(kChunk);
  const std::size_t block_at = kBigSize - kBlockBeforeEnd;
  for (std::size_t done = 0; done < kBigSize; done += kChunk) {
    bytes.Fill(chunk.data(), kChunk);
    if (with_block && block_at >= done && block_at < done + kChunk) {
      std::memcpy(chunk.data() + (block_at - done), V_ZEBLIX.data(), V_ZEBLIX.size());
    }
    std::fwrite(chunk.data(), 1, kChunk, out);
  }
  return std::fclose(out) == 0;
}

bool WriteSmall(const std::string& directory) {
  Random sizes(kSeed + 1);
  CleanBytes bytes(kSeed + 2);
  std::vector<unsigned char> content(16 * 1024);
  for (int i = 0; i < kSmallFiles; ++i) {
    const std::size_t size = 1024 + sizes.Next() % (15 * 1024 + 1);
    bytes.Fill(content.data(), size);
    char name[32];
    std::snprintf(name, sizeof name, "/f%05d.bin", i);
    std::FILE* out = std::fopen((directory + name).c_str(), "wb");
    if (out == nullptr) return false;
    std::fwrite(content.data(), 1, size, out);
    if (std::fclose(out) != 0) return false;
  }
  return true;
}

bool WriteHuge(const std::string& path) {
  constexpr long long kHugeSize = 16LL << 30;
  constexpr long long kBlockAt = 5LL << 30;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool placed = fseeko(out, kBlockAt, SEEK_SET) == 0 &&
                      std::fwrite(V_ZEBLIX.data(), 1, V_ZEBLIX.size(), out) == V_ZEBLIX.size() &&
                      fseeko(out, kHugeSize - 1, SEEK_SET) == 0 && std::fputc(0, out) == 0;
  return std::fclose(out) == 0 && placed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--huge") == 0) return WriteHuge(argv[2]) ? 0 : 1;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR | --huge FILE\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  mkdir(root.c_str(), 0755);
  mkdir((root + "/big").c_str(), 0755);
  mkdir((root + "/small").c_str(), 0755);
  const bool ok = WriteBig(root + "/big/none.bin", false) &&
                  WriteBig(root + "/big/block.bin", true) && WriteSmall(root + "/small");
  if (!ok) std::perror(root.c_str());
  return ok ? 0 : 1;
}
