// Fuzz entry: zeblix-inventory's JSON line for every record of arbitrary bytes, with a path made
// of the input's first bytes. Each line is parsed back with simdjson, an independent parser: it
// must be valid JSON, and every text field, and the path, must decode to the very bytes it was
// written from, whether it came out as a string or as base64.
#include <simdjson.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "inventory/record_lines.h"
#include "zeblix/scan.h"

namespace {

std::string DecodeBase64(std::string_view text) {
  std::string bytes;
  std::uint32_t group = 0;
  int bits = 0;
  for (const char c : text) {
    const std::string_view digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t value = digits.find(c);
    if (value == std::string_view::npos) continue;  // padding
    group = (group << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((group >> bits) & 0xFF);
    }
  }
  return bytes;
}

// The bytes a text field stands for: a string, or {"bytes": base64}.
std::string Decoded(simdjson::dom::element value) {
  if (value.is_string()) return std::string(std::string_view(value));
  return DecodeBase64(std::string_view(value["bytes"]));
}

void ExpectSame(simdjson::dom::element line, const char* key, const std::string& bytes) {
  if (Decoded(line[key]) != bytes) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size < 16 ? size : 16);
  simdjson::dom::parser parser;
  zeblix::ScanBytes(std::span(data, size), [&](const zeblix::Record& r) {
    std::string text;
    AppendRecordLine(OutputFormat::kJsonLines, r, path, {}, "host", text);
    if (text.empty() || text.back() != '\n' || text.find('\n') != text.size() - 1) __builtin_trap();
    simdjson::dom::element line;
    if (parser.parse(text).get(line) != simdjson::SUCCESS) __builtin_trap();
    ExpectSame(line, "path", path);
    ExpectSame(line, "company", r.company);
    ExpectSame(line, "description", r.description);
    ExpectSame(line, "product_version", r.product_version);
    ExpectSame(line, "internal_name", r.internal_name);
    ExpectSame(line, "copyright", r.copyright);
    ExpectSame(line, "product_name", r.product_name);
    ExpectSame(line, "build_number", r.build_number);
    if (std::int64_t(line["offset"]) != r.offset) __builtin_trap();
  });
  return 0;
}
