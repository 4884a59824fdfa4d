// The lines zeblix-inventory writes: one per record, one for a file that holds none (with
// --empty), or one for a path that could not be read; as JSON Lines, as RFC 4180 CSV with the same
// columns, or as the components of a CycloneDX document.
//
// JSON text is UTF-8, so a text field (or a path) whose bytes are not valid UTF-8 is written as
// an object {"bytes": "<base64 of the bytes>"} instead of a string; nothing is lost and every line
// stays valid JSON. CSV carries every field's bytes as they are.
//
// A record found inside an archive carries `member`, the names of the members it lies in, from
// the outermost archive inward; `path` stays the archive file on disk.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "zeblix/scan.h"

enum class OutputFormat { kJsonLines, kCsv, kCycloneDx };

// The header row of the CSV output; the other formats have none.
std::string CsvHeader();

// The names of the members, from the outermost archive inward, that a line's record lies in;
// none for the bytes of the file itself.
using MemberNames = std::span<const std::string>;

// Where a line's record (or emptiness, or error) lies, and what else is known of it.
struct LinePlace {
  std::string_view path;
  MemberNames member;
  std::string_view host;
  std::optional<std::string_view> sha256;  // with --hash: of the whole file or member
  std::string_view bom_ref;                // a component's reference, unique in a document
};

// Appends the line of one record.
void AppendRecordLine(OutputFormat format, const zeblix::Record& record, const LinePlace& place,
                      std::string& out);

// Appends the line of a file (or member) that was read whole and holds no record.
void AppendEmptyLine(OutputFormat format, const LinePlace& place, std::string& out);

// Appends the line of a path (or a member of it) that could not be read, with its errno and a
// message, which is the errno's text when empty. CycloneDX has no place for it: the line is text
// for standard error, naming the path and the member.
void AppendErrorLine(OutputFormat format, const LinePlace& place, int error,
                     std::string_view message, std::string& out);

// How CSV (and a CycloneDX location) writes a member path in one field: the names joined as in a
// jar URL.
inline constexpr std::string_view kMemberSeparator = "!/";

// The bytes in base64 (RFC 4648, with padding).
std::string Base64(std::string_view bytes);
