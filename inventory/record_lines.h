// The lines zeblix-inventory writes: one per record, one for a file that holds none (with
// --empty), or one for a path that could not be read; as JSON Lines, as RFC 4180 CSV with the same
// columns, or as the components of a CycloneDX document.
//
// JSON text is UTF-8, so a text field (or a path) whose bytes are not valid UTF-8 is written as
// an object {"bytes": "<base64 of the bytes>"} instead of a string; nothing is lost and every line
// stays valid JSON. CSV carries every field's bytes as they are.
//
// A record found inside an archive carries `member`, the names of the members it lies in, from
// the outermost archive inward; `path` stays the archive file on disk. A line inside a package
// carries `package`, the innermost package's identity, and one inside an image `image`.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/identity.h"
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
  // With --hash: the SHA-256 of the file as stored, then of each member as stored in its archive
  // (a decompressed content's of its own bytes); an empty one could not be made.
  std::span<const std::string> digests;
  std::string_view bom_ref;  // a component's reference, unique in a document
  // The innermost package and image the line lies in, if any.
  const PackageIdentity* package = nullptr;
  const ImageIdentity* image = nullptr;
  // Inside an image: the layer the line lies in, bottom first, and the later layer that deletes
  // or hides it (-1: none; only --image-layers all shows such lines).
  int layer = -1;
  int deleted_by = -1;
  // The file on disk, as the system names it: links to one file share these.
  struct FileId {
    unsigned long long device = 0;
    unsigned long long inode = 0;
  };
  std::optional<FileId> file_id = std::nullopt;

  // The digest of the content the line lies in (the innermost), when known.
  std::optional<std::string_view> sha256() const {
    if (digests.empty() || digests.back().empty()) return std::nullopt;
    return digests.back();
  }
};

// Appends the line of one record.
void AppendRecordLine(OutputFormat format, const zeblix::Record& record, const LinePlace& place,
                      std::string& out);

// Appends the line of a file (or member) that was read whole and holds no record.
void AppendEmptyLine(OutputFormat format, const LinePlace& place, std::string& out);

// Appends the line of a path (or a member of it) that could not be read, with its errno and a
// message, which is the errno's text when empty. CycloneDX has no place for it.
void AppendErrorLine(OutputFormat format, const LinePlace& place, int error,
                     std::string_view message, std::string& out);

// Appends the line standard error shows for the same: "zeblix-inventory: LOCATION: MESSAGE", the
// location escaped for a terminal.
void AppendErrorMessage(const LinePlace& place, int error, std::string_view message,
                        std::string& out);

// How CSV (and a CycloneDX location) writes a member path in one field: the names joined as in a
// jar URL, every '!' within a name doubled, so that the field splits back into the same names
// (read "!!" as '!' and "!/" as a boundary, from the left).
inline constexpr std::string_view kMemberSeparator = "!/";
std::string JoinNames(MemberNames names);
// The path, then its member names, joined the same way: where a line lies, in one string.
std::string Location(std::string_view path, MemberNames member);

// The bytes in base64 (RFC 4648, with padding).
std::string Base64(std::string_view bytes);
