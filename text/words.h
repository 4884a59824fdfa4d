// Small helpers on bytes of text, each with one rule wherever the tools need it. Only ASCII is
// acted on; every other byte stays as it is.
#pragma once

#include <span>
#include <string>
#include <string_view>

// The blanks C's isspace() knows in the C locale.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// `text` without the `blanks` around it.
std::string_view Trimmed(std::string_view text, std::string_view blanks = kWhiteSpace);

// `text` with its ASCII capitals in lower case.
std::string Lowered(std::string_view text);

// What follows the last slash of `path`: the whole path when it holds none.
std::string_view BaseName(std::string_view path);

enum class HexCase { kLower, kUpper };

// Appends the two hexadecimal digits of `byte`.
void AppendHex(unsigned char byte, std::string& out, HexCase letters = HexCase::kLower);

// The bytes as lower-case hexadecimal digits, two a byte.
std::string Hex(std::span<const unsigned char> bytes);
