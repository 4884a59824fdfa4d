// Every vector kernel the machine runs gives the portable kernel's answers, on data dense with the
// bytes the sweeps look for, at every start and length around the vector widths.
#include "scan/byte_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <vector>

namespace {

std::vector<std::uint8_t> DenseBytes(std::mt19937& random, std::size_t size) {
  static const std::uint8_t kLikely[] = {'Q', 'u', 0xAA, 0x11, 0xCC, 0xDD, 'Q', 0x11};
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes) {
    const unsigned pick = random() % 16;
    byte = pick < std::size(kLikely) ? kLikely[pick] : static_cast<std::uint8_t>(random());
  }
  return bytes;
}

TEST(SweepKernels, AgreeWithThePortableKernel) {
  std::mt19937 random(5);
  for (const SweepKernel kernel : {SweepKernel::kSse2, SweepKernel::kAvx2, SweepKernel::kAvx512}) {
    if (!CanRun(kernel)) continue;
    for (std::size_t size = 0; size < 300; ++size) {
      const std::vector<std::uint8_t> bytes = DenseBytes(random, size);
      const std::uint8_t* data = bytes.data();
      EXPECT_EQ(FindPairStart(data, size, 'Q', 'u', kernel),
                FindPairStart(data, size, 'Q', 'u', SweepKernel::kPortable))
          << SweepKernelName(kernel) << " size " << size;
      EXPECT_EQ(FindEitherPair(data, size, 0xAA, 0x11, kernel),
                FindEitherPair(data, size, 0xAA, 0x11, SweepKernel::kPortable))
          << SweepKernelName(kernel) << " size " << size;
      for (std::size_t from = 0; from < size; ++from) {
        ASSERT_EQ(FindScanStop(data, from, size, kernel),
                  FindScanStop(data, from, size, SweepKernel::kPortable))
            << SweepKernelName(kernel) << " size " << size << " from " << from;
      }
    }
  }
}

// Sparse data: the vector loops run long before the first hit, which may lie in any lane.
TEST(SweepKernels, FindAHitInEveryLane) {
  for (const SweepKernel kernel : {SweepKernel::kSse2, SweepKernel::kAvx2, SweepKernel::kAvx512}) {
    if (!CanRun(kernel)) continue;
    for (std::size_t at = 0; at < 260; ++at) {
      std::vector<std::uint8_t> bytes(300, '.');
      bytes[at] = 'Q';
      bytes[at + 1] = 'u';
      EXPECT_EQ(FindPairStart(bytes.data(), bytes.size(), 'Q', 'u', kernel), at) << at;
      EXPECT_EQ(FindScanStop(bytes.data(), 0, bytes.size(), kernel), at) << at;
      const std::uint8_t magic[] = {0xCC, 0xAA, 0x11, 0xDD};
      std::copy(std::begin(magic), std::end(magic), bytes.begin() + static_cast<long>(at));
      EXPECT_EQ(FindEitherPair(bytes.data(), bytes.size(), 0x11, 0xAA, kernel), at + 1) << at;
      EXPECT_EQ(FindScanStop(bytes.data(), 0, bytes.size(), kernel), at + 2) << at;
    }
  }
}

}  // namespace
