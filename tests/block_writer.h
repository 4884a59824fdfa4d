// Lays out version blocks and old records for tests, field by field, from readable values. It is
// written from the on-disk layout alone, apart from the code under test, so that a fault in the
// parser's idea of the layout cannot hide in the writer too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testdata {

enum class Order { kLittle, kBig };

// The machine's own byte order, and the other one.
Order NativeOrder();
Order ForeignOrder();

std::string EyeCatcher();     // 40 bytes, NUL included
std::string DelimiterText();  // 39 characters
std::string Delimiter();      // 40 bytes, NUL included
std::string Number16(std::uint16_t value, Order order);
std::string Number32(std::uint32_t value, Order order);

struct BlockFields {
  std::uint32_t internal_id = 0xDD22AACC;
  std::string company = "Acme";
  std::string description = "Widget";
  std::string product_version = "1.2.3";
  std::string internal_name = "WID";
  std::string copyright = "(c) Acme";
  std::string product_name = "widget";
  std::string build_number = "77";
  std::uint16_t patch_level = 2;
  std::uint16_t release_mask = 0x0C;
  std::uint16_t file_os = 19;
  std::uint16_t file_type = 2;
};

// A block as a product writes it: every field NUL-padded to its full width.
std::string FullWidthBlock(const BlockFields& fields, Order order);

// The twelve fields of a block as raw bytes, in block order.
std::vector<std::string> RawFields(const BlockFields& fields, Order order);

// A block whose fields are exactly the given bytes, each followed by the delimiter.
std::string CompactBlock(const std::vector<std::string>& raw_fields);

struct OldFields {
  std::string company = "Old Co";
  std::string description = "Old widget";
  std::string product_version = "5.0";
  std::string internal_name = "OLDW";
  std::string copyright = "(c) Old Co";
  std::string product_name = "oldwidget";
  std::uint16_t patch_level = 3;
  std::uint16_t release_mask = 0x08;
  std::uint16_t file_os = 58;
  std::uint16_t file_type = 1;
};

// A 392-byte old-format record; the magic is written in the given byte order.
std::string OldRecord(const OldFields& fields, Order order);

// Filler that holds no eyecatcher start and no old-format magic byte.
std::string Filler(std::size_t size, char byte = '.');

}  // namespace testdata
