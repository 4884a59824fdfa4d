#include "text/text_forms.h"

#include "text/words.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void AppendHexEscape(unsigned char byte, std::string& out) {
  out += "\\x";
  AppendHex(byte, out);
}

// The length of the well-formed sequence at `at`, or 0; `good` is how many bytes it takes up, or
// for an ill-formed one how many make its maximal subpart (at least the first).
std::size_t CheckUtf8(std::string_view bytes, std::size_t at, std::size_t& good) {
  good = 1;
  const auto lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) return 1;
  // The length a lead byte announces, and the range its first continuation byte must lie in
  // (narrower for the leads that could spell overlong forms, surrogates or beyond U+10FFFF).
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  }
  while (good < length && at + good < bytes.size()) {
    const auto next = static_cast<unsigned char>(bytes[at + good]);
    if (next < (good == 1 ? low : 0x80) || next > (good == 1 ? high : 0xBF)) break;
    ++good;
  }
  return length != 0 && good == length ? length : 0;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t at) {
  std::size_t good = 0;
  return CheckUtf8(bytes, at, good);
}

bool IsUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string ValidUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t good = 0;
    const std::size_t length = CheckUtf8(bytes, i, good);
    text += length != 0 ? bytes.substr(i, length) : kReplacement;
    i += good;
  }
  return text;
}

std::string TerminalText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = Utf8SequenceLength(bytes, i);
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0;
    if (byte == '\\') {
      text += "\\\\";
    } else if (byte == '\t' || byte == '\n' || byte == '\r') {
      text += byte == '\t' ? "\\t" : byte == '\n' ? "\\n" : "\\r";
    } else if (length == 0 || byte < 0x20 || byte == 0x7F) {
      AppendHexEscape(byte, text);
    } else if (c1) {
      AppendHexEscape(byte, text);
      AppendHexEscape(static_cast<unsigned char>(bytes[i + 1]), text);
      i += 2;
      continue;
    } else {
      text += bytes.substr(i, length);
      i += length;
      continue;
    }
    ++i;
  }
  return text;
}
