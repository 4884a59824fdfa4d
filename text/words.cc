#include "text/words.h"

std::string_view Trimmed(std::string_view text, std::string_view blanks) {
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string Lowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string_view BaseName(std::string_view path) {
  return path.substr(path.rfind('/') + 1);  // npos + 1 is 0: the whole path
}

void AppendHex(unsigned char byte, std::string& out, HexCase letters) {
  static constexpr std::string_view kDigits[] = {"0123456789abcdef", "0123456789ABCDEF"};
  const std::string_view digits = kDigits[letters == HexCase::kUpper ? 1 : 0];
  out += digits[byte >> 4];
  out += digits[byte & 15];
}

std::string Hex(std::span<const unsigned char> bytes) {
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (const unsigned char byte : bytes) AppendHex(byte, hex);
  return hex;
}
