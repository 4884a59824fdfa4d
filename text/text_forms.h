// The forms a name or a text takes where bytes that are not UTF-8, or that a terminal would act
// on, must not go as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The length of the well-formed UTF-8 sequence that begins at `bytes[at]`, or 0 where none does
// (a stray continuation byte, an overlong form, a surrogate, a code point beyond U+10FFFF, a
// sequence cut short).
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t at);

// Whether `bytes` are well-formed UTF-8 throughout.
bool IsUtf8(std::string_view bytes);

// `bytes` as UTF-8, each maximal ill-formed sequence replaced by U+FFFD, as Unicode advises.
std::string ValidUtf8(std::string_view bytes);

// `bytes` safe to write to a terminal: a backslash is doubled; tab, newline and carriage return
// become \t, \n and \r; other control characters (C0, DEL, and C1 written in UTF-8) and every
// byte that is not part of well-formed UTF-8 become \xHH, one escape a byte. Printable UTF-8
// stays as it is, so a name in any script reads as it should.
std::string TerminalText(std::string_view bytes);
