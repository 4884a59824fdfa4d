// Where a line of zeblix-inventory lies, and what else is known of it: the file on disk, the
// members of archives around it from the outermost inward, the host, the digests of what holds
// it, the package and image it lies in. Every output format writes a line from these.
#pragma once

#include <compare>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/identity.h"

// The names of the members, from the outermost archive inward, that a line's record lies in;
// none for the bytes of the file itself.
using MemberNames = std::span<const std::string>;

// Where a component goes in a document that nests components: inside the component of a package
// or image of the item (`holder`, its index among the item's holders) as that lies in one of its
// images (`in_image`, -1: none); a holder of -1 is the top of the document.
struct Nest {
  int holder = -1;
  int in_image = -1;
  auto operator<=>(const Nest&) const = default;
};

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
  Nest nest = {};  // where its component goes in a document that nests them

  // The digest of the content the line lies in (the innermost), when known.
  std::optional<std::string_view> sha256() const {
    if (digests.empty() || digests.back().empty()) return std::nullopt;
    return digests.back();
  }
  // The digest of the line's layer, when the image's bookkeeping gives it; empty otherwise.
  std::string_view layer_digest() const;
};

// How CSV (and a CycloneDX location) writes a member path in one field: the names joined as in a
// jar URL, every '!' within a name doubled, so that the field splits back into the same names
// (read "!!" as '!' and "!/" as a boundary, from the left).
inline constexpr std::string_view kMemberSeparator = "!/";
std::string JoinNames(MemberNames names);
// The path, then its member names, joined the same way: where a line lies, in one string.
std::string Location(std::string_view path, MemberNames member);

// Appends the line standard error shows for a path (or a member of it) that could not be read:
// "zeblix-inventory: LOCATION: MESSAGE", the location escaped for a terminal; the message is the
// errno's text when empty.
void AppendErrorMessage(const LinePlace& place, int error, std::string_view message,
                        std::string& out);

// An error's message: `message`, or the errno's text when it is empty.
std::string ErrorText(int error, std::string_view message);
