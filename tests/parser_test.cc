// The field parser: delimiter search, field lengths, and the bound on what it looks at.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data/own_version_block.h"
#include "scan/convert_structure.h"
#include "scan/version_info.h"
#include "tests/block_writer.h"
#include "zeblix/zeblix.h"

namespace {

using testdata::CompactBlock;
using testdata::Delimiter;
using testdata::DelimiterText;

std::vector<std::uint8_t> BlockBuffer(const std::string& bytes) {
  std::vector<std::uint8_t> buffer(kRecordBufferSize, 0);
  std::memcpy(buffer.data(), bytes.data(), std::min(bytes.size(), buffer.size()));
  return buffer;
}

std::string Text(const std::vector<std::uint8_t>& record, zeblix::FieldSlot slot) {
  const char* start = reinterpret_cast<const char*>(record.data() + slot.offset);
  return std::string(start, strnlen(start, slot.width));
}

std::uint16_t Number(const std::vector<std::uint8_t>& record, zeblix::FieldSlot slot) {
  std::uint16_t value;
  std::memcpy(&value, record.data() + slot.offset, sizeof value);
  return value;
}

// The compile-time builder lays out the own block byte for byte as the test writer does.
TEST(ConvertStructure, ParsesTheUtilitysOwnBlock) {
  testdata::BlockFields own;
  own.company = "Quorvantis";
  own.description = "Quorvantis Version Utility";
  own.product_version = ZEBLIX_VERSION_STRING;
  own.internal_name = "ZEBLIX";
  own.copyright = "Copyright (C) Quorvantis. All rights reserved.";
  own.product_name = "zeblix";
  own.build_number = "0";
  own.patch_level = 0;
  own.release_mask = 8;
  own.file_os = 58;
  own.file_type = 1;
  const std::string expected = testdata::FullWidthBlock(own, testdata::NativeOrder());
  ASSERT_EQ(std::string(V_ZEBLIX.begin(), V_ZEBLIX.end()), expected);

  std::vector<std::uint8_t> buffer(V_ZEBLIX.begin(), V_ZEBLIX.end());
  ASSERT_EQ(ConvertStructure(buffer.data(), Trace()), 1);
  EXPECT_EQ(Text(buffer, VersionInfo_V6::CopyRight), own.copyright);
  EXPECT_EQ(Number(buffer, VersionInfo_V6::FileOS), 58);
  for (std::size_t i = 0; i < zeblix::kEyeCatchSize; ++i) EXPECT_EQ(buffer[i], 0) << i;
}

std::vector<std::string> NativeRawFields() {
  return testdata::RawFields(testdata::BlockFields{}, testdata::NativeOrder());
}

TEST(ConvertStructure, TakesEachFieldUpToItsDelimiter) {
  constexpr std::size_t kCompany = 1, kDescription = 2, kPatchLevel = 8;
  struct Case {
    const char* name;
    std::size_t field;
    std::string bytes;
    bool parses;
  };
  // clang-format 14 crashes aligning this table.
  // clang-format off
  const Case cases[] = {
      {"short company", kCompany, "Short", true},
      {"company of full width", kCompany, std::string(40, 'C'), true},
      {"company one byte too long", kCompany, std::string(41, 'C'), false},
      {"empty company", kCompany, "", true},
      {"text ending in the delimiter's first 17 characters", kDescription,
       "abc" + DelimiterText().substr(0, 17), false},
      {"text ending in the delimiter's first 16 characters", kDescription,
       "abc" + DelimiterText().substr(0, 16), true},
      {"one-byte patch level", kPatchLevel, std::string(1, '\x05'), true},
      {"three-byte patch level", kPatchLevel, "abc", false},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<std::string> raw = NativeRawFields();
    raw[c.field] = c.bytes;
    auto buffer = BlockBuffer(CompactBlock(raw));
    const auto before = buffer;
    const int parsed = ConvertStructure(buffer.data(), Trace());
    EXPECT_EQ(parsed, c.parses ? 1 : 0) << c.name;
    if (!c.parses) {
      EXPECT_EQ(buffer, before) << c.name << ": a failed parse leaves the buffer as it was";
      continue;
    }
    const zeblix::FieldSlot slot = zeblix::kFieldSlots[c.field];
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(buffer.data() + slot.offset), c.bytes.size()),
        c.bytes)
        << c.name;
    for (std::size_t i = c.bytes.size(); i < slot.width; ++i) {
      EXPECT_EQ(buffer[slot.offset + i], 0) << c.name << " byte " << i;
    }
    EXPECT_EQ(Text(buffer, VersionInfo_V6::ProductName), "widget") << c.name;
    EXPECT_EQ(Number(buffer, VersionInfo_V6::FileType), 2) << c.name;
  }
}

TEST(ConvertStructure, SkipsTheByteAfterTheDelimiterWhateverItIs) {
  std::string block = testdata::EyeCatcher();
  const std::vector<std::string> raw = NativeRawFields();
  for (std::size_t i = 0; i < raw.size(); ++i) {
    // The byte after the delimiter's 39 characters is never compared.
    block += raw[i] + DelimiterText() + (i == 1 ? 'Z' : '\0');
  }
  auto buffer = BlockBuffer(block);
  ASSERT_EQ(ConvertStructure(buffer.data(), Trace()), 1);
  EXPECT_EQ(Text(buffer, VersionInfo_V6::Company), "Acme");
  EXPECT_EQ(Text(buffer, VersionInfo_V6::Description), "Widget");
}

TEST(ConvertStructure, FailsWithoutTheClosingDelimiter) {
  std::string block = CompactBlock(NativeRawFields());
  block.resize(block.size() - Delimiter().size());
  auto buffer = BlockBuffer(block);
  EXPECT_EQ(ConvertStructure(buffer.data(), Trace()), 0);
}

TEST(ConvertStructure, NeverLooksPastOffset1242) {
  // Failed parses write nothing back, so a buffer one byte short makes AddressSanitizer stop any
  // read of byte 1243. A full-width block whose last delimiter breaks at its last character makes
  // the parse read as far as it ever can.
  std::string block = testdata::FullWidthBlock(testdata::BlockFields{}, testdata::NativeOrder());
  block[1242] = '?';
  auto buffer = std::make_unique<std::uint8_t[]>(1243);
  std::memcpy(buffer.get(), block.data(), 1243);
  EXPECT_EQ(ConvertStructure(buffer.get(), Trace()), 0);

  // The same with every byte after the eyecatcher a near miss of the delimiter.
  std::memset(buffer.get() + 40, 'Z', 1203);
  EXPECT_EQ(ConvertStructure(buffer.get(), Trace()), 0);
}

TEST(FindDelim, FindsTheFirstDelimiterWithinTheLimit) {
  // clang-format 14 crashes aligning this table.
  // clang-format off
  const struct {
    const char* name;
    std::string bytes;
    std::int32_t field_size;
    long expected;  // offset of the delimiter, or -1
  } cases[] = {
      {"at once", DelimiterText(), 4, 0},
      {"after a full field", "abcd" + DelimiterText(), 4, 4},
      {"one byte too far", "abcde" + DelimiterText(), 4, -1},
      {"after a broken start", "ZEB" + DelimiterText(), 40, 3},
      {"restart on Z", "ZZ" + DelimiterText(), 40, 2},
      {"hidden by a 17-character prefix", DelimiterText().substr(0, 17) + DelimiterText(), 40, -1},
      {"NUL is never part of the match", std::string(3, '\0') + DelimiterText(), 3, 3},
  };
  // clang-format on
  for (const auto& c : cases) {
    std::vector<std::uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    bytes.resize(bytes.size() + 100, 0);
    const std::uint8_t* found =
        FindDelim(bytes.data(), DelimiterText().c_str(), c.field_size, Trace());
    const long offset = found == nullptr ? -1 : static_cast<long>(found - bytes.data());
    EXPECT_EQ(offset, c.expected) << c.name;
  }
}

}  // namespace
