// Fuzz entry: zeblix-inventory's JSON line and CycloneDX component for every record of arbitrary
// bytes, with a path and members made of the input's first bytes. Each line is parsed back with
// simdjson, an independent parser: it must be valid JSON, and every text field, and the path,
// must decode to the very bytes it was written from, whether it came out as a string or as
// base64.
#include <simdjson.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emit/line_writer.h"
#include "text/text_forms.h"
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

// A CycloneDX component: valid JSON whose standard fields are the text made valid UTF-8, whose
// base64 properties give back the bytes that were not, and whose purl and CPE are built only of
// the characters their specifications allow.
void CheckComponent(simdjson::dom::parser& parser, const zeblix::Record& r, const LinePlace& place) {
  ItemLines lines;
  const std::unique_ptr<LineWriter> writer = MakeCycloneDxWriter();
  writer->Record(r, place, lines);
  const std::string text(writer->Next(lines.top));
  simdjson::dom::element component;
  if (parser.parse(text).get(component) != simdjson::SUCCESS) __builtin_trap();
  if (!r.copyright.empty() && std::string_view(component["copyright"]) != ValidUtf8(r.copyright)) {
    __builtin_trap();
  }
  for (const auto property : component["properties"].get_array()) {
    const std::string_view name = property["name"];
    if (name == "zeblix:copyright:base64" &&
        DecodeBase64(std::string_view(property["value"])) != r.copyright) {
      __builtin_trap();
    }
  }
  std::string_view purl;
  if (component["purl"].get(purl) != simdjson::SUCCESS) {
    // A purl needs a name: only a component named by blanks goes without one.
    const std::string_view name = component["name"];
    if (name.find_first_not_of(" \t\n\v\f\r") != std::string_view::npos) __builtin_trap();
    purl = "pkg:generic/";
  }
  const std::string_view cpe = component["cpe"];
  if (purl.rfind("pkg:generic/", 0) != 0 || cpe.rfind("cpe:2.3:a:", 0) != 0) __builtin_trap();
  for (const char c : purl) {
    // What encodeURIComponent leaves, with ':' and '+' that a canonical version keeps.
    if (!std::isalnum(static_cast<unsigned char>(c)) &&
        std::string_view("-._~%/:@!*'()+").find(c) == std::string_view::npos) {
      __builtin_trap();
    }
  }
  std::size_t fields = 1;
  for (std::size_t i = 0; i < cpe.size(); ++i) {
    const auto c = static_cast<unsigned char>(cpe[i]);
    if (c <= 0x20 || c >= 0x7f) __builtin_trap();
    if (cpe[i] == '\\') {
      ++i;
    } else if (cpe[i] == ':') {
      ++fields;
    }
  }
  if (fields != 13) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size < 16 ? size : 16);
  const std::vector<std::string> member = {path, path + "/inner"};
  simdjson::dom::parser parser;
  zeblix::ScanBytes(std::span(data, size), [&](const zeblix::Record& r) {
    const std::vector<std::string> digests = {"00ff", "", "11ee"};
    const LinePlace place{path, member, "host", digests, "zeblix-inventory:0.0"};
    ItemLines lines;
    MakeJsonLinesWriter()->Record(r, place, lines);
    const std::string& text = lines.top;
    if (text.empty() || text.back() != '\n' || text.find('\n') != text.size() - 1) __builtin_trap();
    simdjson::dom::element line;
    if (parser.parse(text).get(line) != simdjson::SUCCESS) __builtin_trap();
    ExpectSame(line, "path", path);
    if (Decoded(line["member"].at(1)) != member[1]) __builtin_trap();
    ExpectSame(line, "company", r.company);
    ExpectSame(line, "description", r.description);
    ExpectSame(line, "product_version", r.product_version);
    ExpectSame(line, "internal_name", r.internal_name);
    ExpectSame(line, "copyright", r.copyright);
    ExpectSame(line, "product_name", r.product_name);
    ExpectSame(line, "build_number", r.build_number);
    if (std::int64_t(line["offset"]) != r.offset) __builtin_trap();
    CheckComponent(parser, r, place);
  });
  return 0;
}
