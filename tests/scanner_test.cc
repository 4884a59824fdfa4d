// The block scanner and the old-format fallback, call by call, on files laid out by the test
// writer. Every case is held both against its stated outcome and against the reference scanner.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/own_version_block.h"
#include "scan/load_version_info.h"
#include "scan/version_info.h"
#include "tests/block_writer.h"
#include "tests/reference_scanner.h"
#include "tests/run_binary.h"

namespace {

using namespace testdata;

struct Outcome {
  std::int16_t status;
  std::int64_t offset;
  std::int32_t byte_order;
  std::string company;  // of the record, for statuses 1 and 2
};

struct Case {
  std::string name;
  std::string file;
  std::vector<Outcome> calls;
  std::int32_t byte_order_before = 0;
};

std::string Block(const std::string& company, Order order = NativeOrder()) {
  BlockFields fields;
  fields.company = company;
  return FullWidthBlock(fields, order);
}

std::string CompactNamed(const std::string& company) {
  BlockFields fields;
  fields.company = company;
  return CompactBlock(RawFields(fields, NativeOrder()));
}

std::string Old(const std::string& company, Order order, std::uint16_t release_mask = 8) {
  OldFields fields;
  fields.company = company;
  fields.release_mask = release_mask;
  return OldRecord(fields, order);
}

const std::string kHidingPrefix = "QuorvantisXZEBLIXzeblixX";

std::vector<Case> Cases() {
  const std::string own(V_ZEBLIX.begin(), V_ZEBLIX.end());
  const std::string compact = CompactNamed("A");
  BlockFields bad_id;
  bad_id.internal_id = 0x12345678;
  const std::string rejected = CompactBlock(RawFields(bad_id, NativeOrder()));
  BlockFields dollars;
  dollars.company = "Ac$me";
  dollars.build_number = "12$34";
  const Order native = NativeOrder();
  const Order foreign = ForeignOrder();
  return {
      {                           "own block after filler",
       Filler(7) + own + Filler(4),
       {{1, 7 + 1244, 1, "Quorvantis"}, {99, -1, 1, ""}}                                                                                    },
      { "two blocks in a row",
       Block("A") + Block("B"),
       {{1, 1244, 1, "A"}, {1, 2488, 1, "B"}, {99, -1, 1, ""}}                                                                            },
      { "second block within the first block's 1244 bytes",
       compact + Block("B"),
       {{1, 1244, 1, "A"}, {99, -1, 1, ""}}                                           },
      { "block cut short by the end of the file",
       Filler(10) + compact,
       {{1, static_cast<std::int64_t>(10 + compact.size()), 1, "A"}, {99, -1, 1, ""}}                                                    },
      { "block missing its closing delimiter",        Block("A").substr(0,                                                1230),                                                    {{0, -1, 0, ""}}},
      { "eyecatcher hidden by a partial match", kHidingPrefix + Block("A"),                                     {{0, -1, 0, ""}}                                                                                            },
      { "partial match broken just before the eyecatcher",
       kHidingPrefix + "." + Block("A"),
       {{1, 25 + 1244, 1, "A"}, {99, -1, 1, ""}}                                         },
      { "eyecatcher text followed by a byte other than NUL",
       EyeCatcher().substr(0,                             39) + "X" + Filler(2000),{{0, -1, 2, ""}},
       2},
      { "foreign byte order",                  Block("F",                                             foreign),                                                         {{1, 1244, 2, "F"}, {99, -1, 2, ""}}},
      { "dollar in company and build number",
       FullWidthBlock(dollars,                                              native),                                                    {{1, 1244, 1, "Ac"}, {99, -1, 1, ""}}},
      { "rejected InternalId, block inside its range",
       rejected + Block("B"),
       {{1, static_cast<std::int64_t>(rejected.size() + 1244), 1, "B"}, {99, -1, 1, ""}}                               },
      { "old record in this machine's order",     Filler(3) + Old("Same",                                              native),                              {{2, -1, 1, "Same"}}},
      { "old record in the other order",                Old("Other",                                 foreign) + Filler(5),                                                           {{2, -1, 2, "Other"}}},
      { "old record in this order with release mask 0x65",
       Old("Big mask",                                               native,                                                                  0x65),
       {{2, -1, 2, "Big mask"}}},
      { "old record in the other order with release mask 0",
       Old("No mask",                                              foreign,                                                                              0),
       {{2, -1, 1, "No mask"}},
       2},
      { "old record cut short",      Filler(9) + Old("Cut",                                     native).substr(0,                                                                                                            391), {{-1, -1, 0, ""}}},
      { "only the first magic counts",
       Old("First",                               native) + Old("Second",                                                                                                                native),
       {{2, -1, 1, "First"}}},
      { "invalid block, then old record",
       Block("A").substr(0,                               1000) + Old("Fallback",                                                    native),
       {{2, -1, 1, "Fallback"}}},
      { "valid block, then old record",
       Block("A") + Old("Never",                                              native),                                                       {{1, 1244, 1, "A"}, {99, -1, 1, ""}}},
      { "empty file",                         "",                                     {{0, -1, 1, ""}},1},
  };
}

std::string CompanyOf(const ScanCall& call) {
  if (call.record.empty()) return "";
  const std::size_t offset = call.status == 1 ? 84 : 4;
  const char* text = reinterpret_cast<const char*>(call.record.data() + offset);
  return std::string(text, strnlen(text, 40));
}

TEST(LoadVersionInfo, FindsEachRecordCallByCall) {
  ScopedTempDir tmp;
  for (const Case& c : Cases()) {
    const std::string path = tmp / "f.bin";
    WriteWholeFile(path, c.file);
    const std::vector<ScanCall> calls =
        ProductScanFile(path, ScanSession::kDefaultReadSize, c.byte_order_before);
    ASSERT_EQ(calls.size(), c.calls.size()) << c.name << ": " << Describe(calls);
    for (std::size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].status, c.calls[i].status) << c.name << " call " << i;
      EXPECT_EQ(calls[i].offset, c.calls[i].offset) << c.name << " call " << i;
      EXPECT_EQ(calls[i].saved_version_id, c.calls[i].byte_order) << c.name << " call " << i;
      EXPECT_EQ(CompanyOf(calls[i]), c.calls[i].company) << c.name << " call " << i;
    }
    EXPECT_EQ(calls, ReferenceScanFile(path, c.byte_order_before)) << c.name;
  }
}

TEST(LoadVersionInfo, ReportsAFileThatCannotBeOpened) {
  ScopedTempDir tmp;
  std::vector<std::uint8_t> buffer(kRecordBufferSize);
  std::int64_t offset = 1234;
  ScanSession session;
  testing::internal::CaptureStdout();
  const ScanStatus status =
      LoadVersionInfo((tmp / "missing").c_str(), buffer.data(), offset, session);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to Open " + (tmp / "missing") + "\n");
  EXPECT_EQ(status, kScanUnreadable);
  EXPECT_EQ(offset, 1234);
}

TEST(Zap, CutsAtTheFirstDollarEvenPastANul) {
  const struct {
    std::string field;
    std::size_t width;
    std::string expected;
  } cases[] = {
      {std::string("ab$c$d", 6), 6, std::string("ab\0c$d", 6)},
      {std::string("ab\0$d", 5), 5, std::string("ab\0\0d", 5)},
      { std::string("abcd$", 5), 4,   std::string("abcd$", 5)},
      {  std::string("abcd", 4), 4,    std::string("abcd", 4)},
  };
  for (const auto& c : cases) {
    std::string field = c.field;
    Zap(reinterpret_cast<std::uint8_t*>(field.data()), c.width, Trace());
    EXPECT_EQ(field, c.expected);
  }
}

}  // namespace
