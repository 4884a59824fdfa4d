// The lines zeblix-inventory writes: one per record, or one for a path that could not be read,
// as JSON Lines or as RFC 4180 CSV with the same columns.
//
// JSON text is UTF-8, so a text field (or a path) whose bytes are not valid UTF-8 is written as
// an object {"bytes": "<base64 of the bytes>"} instead of a string; nothing is lost and every line
// stays valid JSON. CSV carries every field's bytes as they are.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "zeblix/scan.h"

enum class OutputFormat { kJsonLines, kCsv };

// The header row of the CSV output; JSON Lines has none.
std::string CsvHeader();

// The names of the members, from the outermost archive inward, that a line's record lies in;
// none for the bytes of the file itself.
using MemberNames = std::span<const std::string>;

// Appends the line of one record found in the file at `path` (inside `member` of it) on the
// machine `host`.
void AppendRecordLine(OutputFormat format, const zeblix::Record& record, std::string_view path,
                      MemberNames member, std::string_view host, std::string& out);

// Appends the line of a path (or a member of it) that could not be read, with its errno and a
// message, which is the errno's text when empty.
void AppendErrorLine(OutputFormat format, std::string_view path, MemberNames member,
                     std::string_view host, int error, std::string_view message,
                     std::string& out);

// How CSV writes a member path in one field: the names joined as in a jar URL.
inline constexpr std::string_view kCsvMemberSeparator = "!/";

// The bytes in base64 (RFC 4648, with padding).
std::string Base64(std::string_view bytes);
