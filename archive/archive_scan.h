// Records from inside packages, archives and images, without unpacking them. An archive is told
// by its content, with libarchive: tar, cpio, zip, 7-Zip, ar (and so .deb), RPM and ISO 9660,
// each plain or compressed, and a file that is only compressed. Its regular members are scanned
// as they stream by, archives among them opened in turn; nothing is written to disk, no member is
// held whole in memory, and no member's name is used to touch the disk.
//
// Archives come from strangers, so what one may cost is bounded: how deep archives are opened
// inside one another, and how many bytes its members may expand to, in all and for each byte read
// from the disk. A bound that is hit stops that file with an error that names it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zeblix/scan.h"

struct ArchiveLimits {
  // Archives opened one inside another, the file itself counting as the first.
  int depth = 6;
  // Bytes its members may expand to, at every depth together.
  std::uint64_t max_bytes = std::uint64_t{64} << 30;
  // Bytes of members per byte read from the disk, judged once kRatioFrom bytes have expanded;
  // 0 leaves the ratio unbounded.
  std::uint64_t max_ratio = 1000;
  static constexpr std::uint64_t kRatioFrom = std::uint64_t{64} << 20;
};

// The names of the members a record lies in, from the outermost archive inward; empty for the
// file's own bytes. A file that is only compressed is an archive of one member, named as gunzip
// would name it.
using MemberPath = std::vector<std::string>;

// What a scan tells as it goes. The bytes of the file itself, or of one member, are scanned as
// one content: its records, then on_scanned once it was read whole (or on_error).
struct ArchiveEvents {
  std::function<void(const MemberPath&, const zeblix::Record&)> on_record;
  // A member, or the archive itself, that could not be read, with errno and a message; the rest
  // of the archive goes on where it can.
  std::function<void(const MemberPath&, int error, const std::string& message)> on_error;
  // Optional: every byte of the content being scanned, in order, as it is read.
  std::function<void(std::span<const std::uint8_t>)> on_bytes;
  // Optional: the content was read whole.
  std::function<void(const MemberPath&)> on_scanned;
};

// Scans the file open on `fd` from its first byte: its members when it is an archive or
// compressed, otherwise its own bytes, exactly as zeblix::ScanDescriptor would. `name` is the
// file's name, for the member a compressed file stands for. Returns 0, or the errno of a failed
// read of the file itself.
int ScanPacked(int fd, std::string_view name, const ArchiveLimits& limits,
               const ArchiveEvents& events);

// Scans the open file from where it stands, as it lies, with the same events.
int ScanFileBytes(int fd, const ArchiveEvents& events);

// The member name a compressed file stands for: `name` without its compression suffix.
std::string DecompressedName(const std::string& name);
