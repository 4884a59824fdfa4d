// The fast scanner against the byte-at-a-time reference, call by call, over thousands of generated
// files: random bytes rich in the bytes that start an eyecatcher or a magic, valid and damaged
// blocks, hiding prefixes, old records, and records placed at every offset around a read seam and
// near the end of the file. Small read sizes put many seams in every file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "log/svr_log.h"
#include "tests/block_writer.h"
#include "tests/input_generator.h"
#include "tests/reference_scanner.h"
#include "tests/run_binary.h"

namespace {

using namespace testdata;

constexpr std::size_t kReadSizes[] = {2048, 2049, 4096, 65536 + 7};

class Equivalence : public ::testing::Test {
 protected:
  void ExpectSameCalls(const std::string& bytes, std::size_t read_size, std::int32_t byte_order,
                       const std::string& what) {
    WriteWholeFile(path_, bytes);
    const std::vector<ScanCall> expected = ReferenceScanFile(path_, byte_order);
    const std::vector<ScanCall> actual = ProductScanFile(path_, read_size, byte_order);
    ASSERT_EQ(actual, expected) << what << ", read size " << read_size << "\n  expected "
                                << Describe(expected) << "\n  actual   " << Describe(actual);
  }

  ScopedTempDir tmp_;
  const std::string path_ = tmp_ / "f.bin";
};

TEST_F(Equivalence, GeneratedFiles) {
  InputGenerator generator(20261206);
  for (int i = 0; i < 3000; ++i) {
    const std::string file = generator.File();
    const std::size_t read_size = kReadSizes[i % std::size(kReadSizes)];
    ExpectSameCalls(file, read_size, generator.Between(0, 2), "file " + std::to_string(i));
  }
}

TEST_F(Equivalence, RecordsAtEveryOffsetAroundTheSeams) {
  const std::string block = FullWidthBlock(BlockFields{}, NativeOrder());
  const std::string old = OldRecord(OldFields{}, ForeignOrder());
  constexpr std::size_t kReadSize = 2048;
  for (std::size_t seam : {kReadSize, 2 * kReadSize - 40, 3 * kReadSize - 80}) {
    for (std::size_t at = seam - 48; at <= seam + 8; ++at) {
      ExpectSameCalls(Filler(at) + block + Filler(9), kReadSize, 0,
                      "block at " + std::to_string(at));
      ExpectSameCalls(Filler(at) + "QuorvantisXZEBLIX" + Filler(7), kReadSize, 0,
                      "partial eyecatcher at " + std::to_string(at));
      ExpectSameCalls(Filler(at) + old + Filler(5), kReadSize, 0,
                      "old record at " + std::to_string(at));
    }
  }
  // Near the end of the file: cut short by one byte, just whole, one byte to spare.
  for (std::size_t size = 5000; size < 5003; ++size) {
    ExpectSameCalls(Filler(size - block.size() + 1) + block.substr(0, block.size() - 1), kReadSize,
                    0, "block ending at " + std::to_string(size));
    for (std::size_t cut : {0, 1, 2}) {
      const std::string tail = old.substr(0, old.size() - cut);
      ExpectSameCalls(Filler(size - tail.size()) + tail, kReadSize, 0,
                      "old record " + std::to_string(cut) + " short");
      ExpectSameCalls(Filler(size) + Number32(0xDD11AACC, ForeignOrder()).substr(0, 1 + cut),
                      kReadSize, 0, "magic start at the end");
    }
  }
}

// With the per-byte traces on, the exact traced search runs; it too must agree.
TEST_F(Equivalence, TracedSearchAgrees) {
  const int saved_stderr = dup(2);
  const int null_device = open("/dev/null", O_WRONLY);
  dup2(null_device, 2);
  svr_log_selects(0);  // reads SVRLOG once, before the trace state is set below
  svr_logmode = 2;
  svr_logcomponent = 0x20000;
  InputGenerator generator(7);
  for (int i = 0; i < 300; ++i) {
    ExpectSameCalls(generator.File(), kReadSizes[i % std::size(kReadSizes)], 0,
                    "traced file " + std::to_string(i));
  }
  svr_logmode = 0;
  svr_logcomponent = 0;
  dup2(saved_stderr, 2);
  close(saved_stderr);
  close(null_device);
}

}  // namespace
