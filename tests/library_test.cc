// libzeblix held against the utility: a file's records, printed in the report layout, are the
// utility's report of it, for every golden input and for generated files; scans in memory and
// from files agree; errors come back as errno values; scans on two threads at once agree with
// scans one after the other.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
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

struct Scan {
  std::vector<zeblix::Record> records;
  std::error_code error;
};

Scan ScanPath(const std::string& path) {
  Scan scan;
  scan.error = zeblix::ScanFile(path, [&](const zeblix::Record& r) { scan.records.push_back(r); });
  return scan;
}

Scan ScanMemory(const std::string& bytes) {
  Scan scan;
  const std::span data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  scan.error = zeblix::ScanBytes(data, [&](const zeblix::Record& r) { scan.records.push_back(r); });
  return scan;
}

// The records in the utility's report layout, with what the report does not show appended.
std::string Report(const std::string& path, const std::vector<zeblix::Record>& records,
                   bool with_position = false) {
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
    if (with_position) {
      text += "at " + std::to_string(r.offset) + (r.foreign_byte_order ? " foreign\n" : "\n");
    }
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
    const Scan scan = ScanPath(path);
    EXPECT_FALSE(scan.error) << path;
    EXPECT_EQ(Report(path, scan.records), UtilityReport(path)) << path;
    ++files;
  }
  EXPECT_GT(files, 10u);
}

TEST(Library, RecordsAreTheUtilitysReportOfGeneratedFiles) {
  ScopedTempDir tmp;
  const std::string path = tmp / "f.bin";
  InputGenerator generator(61);
  for (int i = 0; i < 600; ++i) {
    const std::string bytes = generator.File();
    WriteWholeFile(path, bytes);
    const Scan from_file = ScanPath(path);
    ASSERT_EQ(Report(path, from_file.records), UtilityReport(path)) << "file " << i;
    EXPECT_EQ(Report(path, ScanMemory(bytes).records, true), Report(path, from_file.records, true))
        << "file " << i;
  }
}

TEST(Library, RecordsHoldTheWritersNumbersAndTheirPlace) {
  BlockFields block;
  block.patch_level = 0xFFFF;
  block.file_os = 58;
  OldFields old;
  old.file_os = 41;
  old.release_mask = 0x0C;
  const struct {
    std::string bytes;
    zeblix::Format format;
    std::int64_t offset;
    bool foreign;
    std::string os;
  } cases[] = {
      {Filler(7) + FullWidthBlock(block, ForeignOrder()), zeblix::Format::kV6, 7,  true,
       "Linux x86 64Bit"                                                                                 },
      {       Filler(9) + OldRecord(old,  NativeOrder()), zeblix::Format::kV5, 9, false, "PELORIN System"},
      {                   OldRecord(old, ForeignOrder()), zeblix::Format::kV5, 0,  true, "PELORIN System"},
  };
  for (const auto& c : cases) {
    const Scan scan = ScanMemory(c.bytes);
    ASSERT_EQ(scan.records.size(), 1u) << c.offset;
    const zeblix::Record& r = scan.records[0];
    EXPECT_EQ(r.format, c.format) << c.offset;
    EXPECT_EQ(r.offset, c.offset);
    EXPECT_EQ(r.foreign_byte_order, c.foreign) << c.offset;
    EXPECT_EQ(zeblix::OsText(r), c.os) << c.offset;
  }
  EXPECT_EQ(ScanMemory(FullWidthBlock(block, ForeignOrder())).records[0].patch_level, -1);
}

TEST(Library, ErrorsAreErrnoValues) {
  ScopedTempDir tmp;
  EXPECT_EQ(ScanPath(tmp / "missing").error, std::errc::no_such_file_or_directory);
  EXPECT_EQ(ScanPath(tmp.path()).error, std::errc::is_a_directory);
  EXPECT_EQ(zeblix_scan_file(
                nullptr, [](const zeblix_record*, void*) { return 0; }, nullptr),
            EINVAL);
  EXPECT_EQ(zeblix_scan_bytes(
                nullptr, 1, [](const zeblix_record*, void*) { return 0; }, nullptr),
            EINVAL);
  EXPECT_EQ(zeblix_scan_file((tmp / "missing").c_str(), nullptr, nullptr), EINVAL);
  EXPECT_EQ(zeblix_scan_file((tmp / "missing").c_str(),
                             [](const zeblix_record*, void*) { return 0; }, nullptr),
            ENOENT);
}

TEST(Library, ACallbackStopsTheScan) {
  const std::string two =
      FullWidthBlock(BlockFields{}, NativeOrder()) + FullWidthBlock(BlockFields{}, NativeOrder());
  int seen = 0;
  const auto error =
      zeblix::ScanBytes(std::span(reinterpret_cast<const std::uint8_t*>(two.data()), two.size()),
                        [&](const zeblix::Record&) {
                          ++seen;
                          return zeblix::Control::kStop;
                        });
  EXPECT_FALSE(error);
  EXPECT_EQ(seen, 1);

  seen = 0;
  EXPECT_EQ(zeblix_scan_bytes(
                two.data(), two.size(),
                [](const zeblix_record* r, void* user) {
                  ++*static_cast<int*>(user);
                  return std::string(r->company) == "Acme" ? 1 : 0;
                },
                &seen),
            0);
  EXPECT_EQ(seen, 1);
}

// Run under ThreadSanitizer by the tsan workflow: scans share nothing.
TEST(LibraryThreads, ScansAtOnceGetWhatScansOneAfterTheOtherGet) {
  ScopedTempDir tmp;
  InputGenerator generator(3);
  std::vector<std::string> paths;
  for (int i = 0; i < 40; ++i) {
    paths.push_back(tmp / ("f" + std::to_string(i)));
    WriteWholeFile(paths.back(), generator.File() + FullWidthBlock(BlockFields{}, NativeOrder()));
  }
  std::vector<std::string> alone;
  for (const std::string& path : paths) alone.push_back(Report(path, ScanPath(path).records, true));

  std::vector<std::string> together(paths.size());
  const auto scan_every_other = [&](std::size_t first) {
    for (std::size_t i = first; i < paths.size(); i += 2) {
      together[i] = Report(paths[i], ScanPath(paths[i]).records, true);
    }
  };
  std::thread other(scan_every_other, 1);
  scan_every_other(0);
  other.join();
  EXPECT_EQ(together, alone);
}

}  // namespace
