// A key is made of the units filevercmp compares one after another: each run of other characters,
// one character each, then a mark for the digits (or the end) that stop it, then the number of
// those digits. Each character is written so that its byte orders as filevercmp's `order` does:
//   '~' -1  ->  '!'      end, or digits follow  0  ->  '#'
//   a letter  its code  ->  itself                 any other byte  code + 256  ->  '}' and 2 hex
// A number is its length without leading zeros as two digits, then those digits: a longer number
// is larger, and one of a length compares digit by digit.
#include "text/version_key.h"

#include <algorithm>
#include <cstdio>

#include "text/words.h"

namespace {

constexpr char kTilde = '!';
constexpr char kStop = '#';
constexpr char kOther = '}';
constexpr std::size_t kLongestNumber = 99;
// What sits between the key of a version without its suffix and the key of the whole: below
// every character a unit holds, so that a shorter first part orders first.
constexpr char kBetweenParts = ' ';

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The length of `s` without its longest suffix of the form (\.[A-Za-z~][A-Za-z0-9~]*)*$, the
// whole of `s` included: each part runs from a dot to the next, so it is found from the end.
std::size_t PrefixLength(std::string_view s) {
  std::size_t end = s.size();
  for (std::size_t dot; end > 0 && (dot = s.rfind('.', end - 1)) != std::string_view::npos;) {
    const std::string_view part = s.substr(dot + 1, end - dot - 1);
    const auto word = [](char c) { return IsAlpha(c) || IsDigit(c) || c == '~'; };
    if (part.empty() || !(IsAlpha(part[0]) || part[0] == '~') ||
        !std::all_of(part.begin(), part.end(), word)) {
      break;
    }
    end = dot;
  }
  return end;
}

void AppendUnits(std::string_view s, std::string& key) {
  std::size_t at = 0;
  while (at < s.size()) {
    for (; at < s.size() && !IsDigit(s[at]); ++at) {
      const char c = s[at];
      if (c == '~') {
        key += kTilde;
      } else if (IsAlpha(c)) {
        key += c;
      } else {
        key += kOther;
        AppendHex(static_cast<unsigned char>(c), key, HexCase::kUpper);
      }
    }
    key += kStop;
    while (at < s.size() && s[at] == '0') ++at;
    const std::size_t first = at;
    while (at < s.size() && IsDigit(s[at])) ++at;
    const std::size_t length = std::min(at - first, kLongestNumber);
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02zu", length);
    key += digits;
    key.append(s.substr(first, at - first));
  }
  key += kStop;
}

// Names that begin with a dot come first, as filevercmp has them: ".", "..", then the rest.
char LeadingDotRank(std::string_view s) {
  if (s == ".") return '0';
  if (s == "..") return '1';
  return s.starts_with('.') ? '2' : '3';
}

}  // namespace

std::string VersionKey(std::string_view version) {
  if (version.empty()) return {};
  std::string key(1, LeadingDotRank(version));
  AppendUnits(version.substr(0, PrefixLength(version)), key);
  key += kBetweenParts;
  AppendUnits(version, key);
  return key;
}
