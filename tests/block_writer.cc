// Blocks and old records laid out byte by byte, from the widths and texts written here.
#include "tests/block_writer.h"

#include <bit>

namespace testdata {

namespace {

// Widths of the twelve new-format fields, in block order.
constexpr std::size_t kV6Widths[] = {4, 40, 40, 20, 40, 512, 40, 20, 2, 2, 2, 2};

std::string Padded(std::string text, std::size_t width) {
  text.resize(width, '\0');
  return text;
}

}  // namespace

Order NativeOrder() {
  return std::endian::native == std::endian::little ? Order::kLittle : Order::kBig;
}
Order ForeignOrder() {
  return NativeOrder() == Order::kLittle ? Order::kBig : Order::kLittle;
}

std::string EyeCatcher() {
  return std::string("QuorvantisXZEBLIXzeblixXQuorvantis61100") + '\0';
}
std::string DelimiterText() {
  return "ZEBLIXQuorvantisXZEBLIXzeblixQuorvantis";
}
std::string Delimiter() {
  return DelimiterText() + '\0';
}

std::string Number16(std::uint16_t value, Order order) {
  const char low = static_cast<char>(value & 0xFF);
  const char high = static_cast<char>(value >> 8);
  return order == Order::kLittle ? std::string{low, high} : std::string{high, low};
}

std::string Number32(std::uint32_t value, Order order) {
  const auto low = static_cast<std::uint16_t>(value & 0xFFFF);
  const auto high = static_cast<std::uint16_t>(value >> 16);
  return order == Order::kLittle ? Number16(low, order) + Number16(high, order)
                                 : Number16(high, order) + Number16(low, order);
}

std::vector<std::string> RawFields(const BlockFields& f, Order order) {
  return {Number32(f.internal_id, order),
          f.company,
          f.description,
          f.product_version,
          f.internal_name,
          f.copyright,
          f.product_name,
          f.build_number,
          Number16(f.patch_level, order),
          Number16(f.release_mask, order),
          Number16(f.file_os, order),
          Number16(f.file_type, order)};
}

std::string FullWidthBlock(const BlockFields& fields, Order order) {
  std::vector<std::string> raw = RawFields(fields, order);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = Padded(raw[i], kV6Widths[i]);
  return CompactBlock(raw);
}

std::string CompactBlock(const std::vector<std::string>& raw_fields) {
  std::string block = EyeCatcher();
  for (const std::string& field : raw_fields) block += field + Delimiter();
  return block;
}

std::string OldRecord(const OldFields& f, Order order) {
  std::string record = Number32(0xDD11AACC, order);
  record += Padded(f.company, 40);
  record += Padded(f.description, 80);
  record += Padded(f.product_version, 20);
  record += Padded(f.internal_name, 80);
  record += Padded(f.copyright, 80);
  record += Padded(f.product_name, 80);
  record += Number16(f.patch_level, order);
  record += Number16(f.release_mask, order);
  record += Number16(f.file_os, order);
  record += Number16(f.file_type, order);
  return record;
}

std::string Filler(std::size_t size, char byte) {
  return std::string(size, byte);
}

}  // namespace testdata
