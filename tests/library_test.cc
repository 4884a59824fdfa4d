// libzeblix held against the utility: a file's records, printed in the report layout, are the
// utility's report of it, for every golden input and for generated files; scans in memory and
// from files agree; errors come back as errno values; scans on two threads at once agree with
// scans one after the other (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "report/load_print_version_info.h"
#include "tests/input_generator.h"
#include "tests/run_binary.h"
#include "zeblix/scan.h"
#include "zeblix/zeblix.h"

namespace {

using namespace testdata;

std::vector<zeblix::Record> Records(const std::string& path, std::error_code* error = nullptr) {
  std::vector<zeblix::Record> records;
  const auto scan_error =
      zeblix::ScanFile(path, [&](const zeblix::Record& r) { records.push_back(r); });
  if (error != nullptr) *error = scan_error;
  return records;
}

std::vector<zeblix::Record> RecordsOf(const std::string& bytes) {
  std::vector<zeblix::Record> records;
  zeblix::ScanBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                    [&](const zeblix::Record& r) { records.push_back(r); });
  return records;
}

// The records of `bytes` handed over by a reader in pieces whose sizes cycle through `pieces`,
// none larger than the room it is given.
std::vector<zeblix::Record> StreamedRecords(const std::string& bytes,
                                            const std::vector<std::size_t>& pieces,
                                            std::error_code* error = nullptr) {
  std::vector<zeblix::Record> records;
  std::size_t at = 0, turn = 0;
  const auto read = [&](std::span<std::uint8_t> room) -> std::ptrdiff_t {
    const std::size_t take = std::min({pieces[turn++ % pieces.size()], room.size(),
                                       bytes.size() - at});
    std::memcpy(room.data(), bytes.data() + at, take);
    at += take;
    return static_cast<std::ptrdiff_t>(take);
  };
  const auto scan_error =
      zeblix::ScanStream(read, [&](const zeblix::Record& r) { records.push_back(r); });
  if (error != nullptr) *error = scan_error;
  return records;
}

// Piece sizes that put every seam somewhere new: single bytes, primes around the block and the
// delimiter, and a few large ones.
const std::vector<std::vector<std::size_t>> kPieceSizes = {
    {1}, {39, 40, 41}, {1243, 1, 1245}, {4093}, {65536, 3}, {1 << 20},
};

// The records in the utility's report layout.
std::string Report(const std::string& path, const std::vector<zeblix::Record>& records) {
  std::string text;
  char line[1024];
  const auto add = [&](const char* label, const std::string& value) {
    std::snprintf(line, sizeof line, "    %-19s- %s\n", label, value.c_str());
    text += line;
  };
  for (const zeblix::Record& r : records) {
    text += "\nQuorvantis Version Information for " + path + "\n";
    add("Company", r.company);
    add("Description", r.description);
    add("Product Version", r.product_version);
    add("Internal Name", r.internal_name);
    add("Copyright", r.copyright);
    add("Product Name", r.product_name);
    add("Patch Level", zeblix::PatchLevelText(r));
    if (r.format == zeblix::Format::kV6) add("Build Number", r.build_number);
    add("Release", zeblix::ReleaseText(r));
    add("File OS", zeblix::OsText(r));
    add("File Type", zeblix::FileTypeText(r));
  }
  return text;
}

std::string UtilityReport(const std::string& path) {
  testing::internal::CaptureStdout();
  LoadPrintVersionInfo(path.c_str());
  return testing::internal::GetCapturedStdout();
}

TEST(Library, RecordsAreTheUtilitysReportOfEveryGoldenInput) {
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(ZEBLIX_GOLDEN_DIR)) {
    if (!entry.is_regular_file() || entry.path().parent_path().filename() != "input") continue;
    const std::string path = entry.path();
    std::error_code error;
    EXPECT_EQ(Report(path, Records(path, &error)), UtilityReport(path)) << path;
    EXPECT_FALSE(error) << path;
    ++files;
  }
  EXPECT_GT(files, 30u);
}

TEST(Library, RecordsAreTheUtilitysReportOfGeneratedFilesAndTheSameInMemory) {
  ScopedTempDir tmp;
  const std::string path = tmp / "f.bin";
  InputGenerator generator(61);
  for (int i = 0; i < 600; ++i) {
    const std::string bytes = generator.File();
    WriteWholeFile(path, bytes);
    const std::vector<zeblix::Record> records = Records(path);
    ASSERT_EQ(Report(path, records), UtilityReport(path)) << "file " << i;
    ASSERT_EQ(RecordsOf(bytes), records) << "file " << i;
  }
}

TEST(Library, AStreamInAnyPiecesGivesTheRecordsOfTheSameFile) {
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(ZEBLIX_GOLDEN_DIR)) {
    if (!entry.is_regular_file() || entry.path().parent_path().filename() != "input") continue;
    const std::string bytes = ReadWholeFile(entry.path());
    const std::vector<zeblix::Record> expected = Records(entry.path());
    for (const auto& pieces : kPieceSizes) {
      std::error_code error;
      EXPECT_EQ(StreamedRecords(bytes, pieces, &error), expected) << entry.path();
      EXPECT_FALSE(error);
    }
    ++files;
  }
  EXPECT_GT(files, 30u);
  InputGenerator generator(17);
  for (int i = 0; i < 300; ++i) {
    const std::string bytes = generator.File();
    ASSERT_EQ(StreamedRecords(bytes, kPieceSizes[i % kPieceSizes.size()]), RecordsOf(bytes))
        << "file " << i;
  }
}

TEST(Library, AFailingReaderEndsTheStreamWithItsErrno) {
  const std::string block = FullWidthBlock(BlockFields{}, NativeOrder());
  const std::string bytes = block + Filler(100) + block;
  for (const int expected : {EIO, ECONNRESET}) {
    std::size_t at = 0;
    std::vector<zeblix::Record> records;
    const auto read = [&](std::span<std::uint8_t> room) -> std::ptrdiff_t {
      if (at >= block.size() + 50) return -expected;
      const std::size_t take = std::min<std::size_t>(room.size(), 10);
      std::memcpy(room.data(), bytes.data() + at, take);
      at += take;
      return static_cast<std::ptrdiff_t>(take);
    };
    const auto error =
        zeblix::ScanStream(read, [&](const zeblix::Record& r) { records.push_back(r); });
    EXPECT_EQ(error.value(), expected);
    EXPECT_EQ(records.size(), 1u);  // the block before the failure
  }
  // A reader that claims more than it had room for has failed.
  const auto liar = [](std::span<std::uint8_t> room) -> std::ptrdiff_t {
    return static_cast<std::ptrdiff_t>(room.size()) + 1;
  };
  EXPECT_EQ(zeblix::ScanStream(liar, [](const zeblix::Record&) {}).value(), EIO);
  EXPECT_EQ(zeblix::ScanStream(nullptr, [](const zeblix::Record&) {}).value(), EINVAL);
}

TEST(Library, TheCReaderGivesWhatTheCppReaderGives) {
  struct Source {
    std::string bytes;
    std::size_t at = 0;
  };
  const zeblix_read_fn read = [](void* opaque, void* buffer, size_t size) -> int64_t {
    auto& source = *static_cast<Source*>(opaque);
    const std::size_t take = std::min<std::size_t>({size, 3, source.bytes.size() - source.at});
    std::memcpy(buffer, source.bytes.data() + source.at, take);
    source.at += take;
    return static_cast<int64_t>(take);
  };
  const zeblix_record_fn count = [](const zeblix_record* r, void* user) {
    static_cast<std::vector<std::string>*>(user)->push_back(r->product_name);
    return 0;
  };
  Source source{Filler(5) + FullWidthBlock(BlockFields{}, ForeignOrder())};
  std::vector<std::string> names;
  EXPECT_EQ(zeblix_scan_read(read, &source, count, &names), 0);
  EXPECT_EQ(names, std::vector<std::string>{StreamedRecords(source.bytes, {1}).at(0).product_name});
  EXPECT_EQ(zeblix_scan_read(nullptr, &source, count, &names), EINVAL);
  EXPECT_EQ(zeblix_scan_read(read, &source, nullptr, &names), EINVAL);
}

TEST(Library, RecordsHoldTheWritersNumbersAndTheirPlace) {
  BlockFields block;
  block.patch_level = 0xFFFF;
  const zeblix::Record foreign_block =
      RecordsOf(Filler(7) + FullWidthBlock(block, ForeignOrder())).at(0);
  EXPECT_EQ(foreign_block.offset, 7);
  EXPECT_TRUE(foreign_block.foreign_byte_order);
  EXPECT_EQ(foreign_block.patch_level, -1);
  EXPECT_EQ(foreign_block.file_os, 19);
  const zeblix::Record old = RecordsOf(Filler(9) + OldRecord(OldFields{}, ForeignOrder())).at(0);
  EXPECT_EQ(old.format, zeblix::Format::kV5);
  EXPECT_EQ(old.offset, 9);
  EXPECT_TRUE(old.foreign_byte_order);
  EXPECT_EQ(zeblix::OsText(old), "Linux x86 64Bit");
}

TEST(Library, ErrorsAreErrnoValues) {
  ScopedTempDir tmp;
  std::error_code error;
  Records(tmp / "missing", &error);
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
  Records(tmp.path(), &error);
  EXPECT_EQ(error, std::errc::is_a_directory);
  const zeblix_record_fn ignore = [](const zeblix_record*, void*) { return 0; };
  EXPECT_EQ(zeblix_scan_file(nullptr, ignore, nullptr), EINVAL);
  EXPECT_EQ(zeblix_scan_file((tmp / "missing").c_str(), nullptr, nullptr), EINVAL);
  EXPECT_EQ(zeblix_scan_bytes(nullptr, 1, ignore, nullptr), EINVAL);
  EXPECT_EQ(zeblix_scan_file((tmp / "missing").c_str(), ignore, nullptr), ENOENT);
  // A negative descriptor is a bad one, not an empty input.
  EXPECT_EQ(zeblix::ScanDescriptor(-1, [](const zeblix::Record&) {}).value(), EBADF);
  EXPECT_EQ(zeblix_scan_fd(-1, ignore, nullptr), EBADF);
}

TEST(Library, ACallbackStopsTheScan) {
  const std::string two =
      FullWidthBlock(BlockFields{}, NativeOrder()) + FullWidthBlock(BlockFields{}, NativeOrder());
  int seen = 0;
  zeblix::ScanBytes(std::span(reinterpret_cast<const std::uint8_t*>(two.data()), two.size()),
                    [&](const zeblix::Record&) { return ++seen, zeblix::Control::kStop; });
  const zeblix_record_fn stop = [](const zeblix_record*, void* user) {
    return ++*static_cast<int*>(user);
  };
  EXPECT_EQ(zeblix_scan_bytes(two.data(), two.size(), stop, &seen), 0);
  EXPECT_EQ(seen, 2);
}

TEST(LibraryThreads, ScansAtOnceGetWhatScansOneAfterTheOtherGet) {
  ScopedTempDir tmp;
  InputGenerator generator(3);
  std::vector<std::string> paths;
  for (int i = 0; i < 40; ++i) {
    paths.push_back(tmp / ("f" + std::to_string(i)));
    WriteWholeFile(paths.back(), generator.File() + FullWidthBlock(BlockFields{}, NativeOrder()));
  }
  std::vector<std::vector<zeblix::Record>> alone, together(paths.size());
  for (const std::string& path : paths) alone.push_back(Records(path));
  const auto scan_every_other = [&](std::size_t first) {
    for (std::size_t i = first; i < paths.size(); i += 2) together[i] = Records(paths[i]);
  };
  std::thread other(scan_every_other, 1);
  scan_every_other(0);
  other.join();
  EXPECT_EQ(together, alone);
}

}  // namespace
