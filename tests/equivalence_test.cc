// The fast scanner against the byte-at-a-time reference, call by call, over thousands of generated
// files: random bytes rich in the bytes that start an eyecatcher or a magic, valid and damaged
// blocks, hiding prefixes, old records, and records placed at every offset around a read seam and
// near the end of the file. Small read sizes put many seams in every file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>

#include "log/svr_log.h"
#include "tests/block_writer.h"
#include "tests/reference_scanner.h"
#include "tests/run_binary.h"

namespace {

using namespace testdata;

constexpr std::size_t kReadSizes[] = {2048, 2049, 4096, 65536 + 7};

class InputGenerator {
 public:
  explicit InputGenerator(std::uint64_t seed) : random_(seed) {}

  std::string File() {
    std::string file;
    const int pieces = Between(1, 10);
    for (int i = 0; i < pieces; ++i) file += Piece();
    if (Between(0, 3) == 0) file.resize(Between(0, static_cast<int>(file.size())));
    return file;
  }

  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

 private:
  // Bytes that begin or continue an eyecatcher or a magic come often.
  char NoisyByte() {
    static const char kLikely[] = {'Q', 'u', 'o', 'X', 'Z', '\xAA', '\x11', '\xCC', '\xDD', '\0'};
    if (Between(0, 3) == 0) return kLikely[Between(0, sizeof kLikely - 1)];
    return static_cast<char>(Between(0, 255));
  }

  std::string Noise(int max) {
    std::string bytes(static_cast<std::size_t>(Between(0, max)), '\0');
    for (char& byte : bytes) byte = NoisyByte();
    return bytes;
  }

  BlockFields RandomFields() {
    BlockFields fields;
    fields.company = Noise(6) + "$" + Noise(3);
    fields.build_number = Noise(8);
    fields.file_os = static_cast<std::uint16_t>(Between(0, 0xFFFF));
    fields.release_mask = static_cast<std::uint16_t>(Between(0, 0xFFFF));
    return fields;
  }

  Order AnyOrder() { return Between(0, 1) == 0 ? Order::kLittle : Order::kBig; }

  std::string Damaged(std::string block) {
    block[static_cast<std::size_t>(Between(0, static_cast<int>(block.size()) - 1))] = NoisyByte();
    return block;
  }

  std::string Piece() {
    switch (Between(0, 11)) {
      case 0:
        return FullWidthBlock(RandomFields(), AnyOrder());
      case 1: {
        std::vector<std::string> raw = RawFields(RandomFields(), AnyOrder());
        raw[static_cast<std::size_t>(Between(1, 7))] = Noise(60);  // sometimes too long
        return CompactBlock(raw);
      }
      case 2:
        return Damaged(FullWidthBlock(RandomFields(), AnyOrder()));
      case 3:
        return EyeCatcher();
      case 4:
        return "QuorvantisXZEBLIXzeblixX" + FullWidthBlock(RandomFields(), AnyOrder());
      case 5:
        return EyeCatcher().substr(0, static_cast<std::size_t>(Between(1, 39)));
      case 6: {
        OldFields old;
        old.release_mask = static_cast<std::uint16_t>(Between(0, 0xFFFF));
        return OldRecord(old, AnyOrder());
      }
      case 7:
        return Number32(0xDD11AACC, AnyOrder());
      case 8:
        return DelimiterText().substr(0, static_cast<std::size_t>(Between(1, 39)));
      case 9: {
        BlockFields bad = RandomFields();
        bad.internal_id = static_cast<std::uint32_t>(Between(0, 1 << 30));
        return CompactBlock(RawFields(bad, AnyOrder()));
      }
      default:
        return Noise(3000);
    }
  }

  std::mt19937_64 random_;
};

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
