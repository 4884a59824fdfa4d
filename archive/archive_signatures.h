// A quick look at a content's first bytes that says what libarchive could read it as: no archive,
// so that the many plain files of a tree (executables, libraries, data) are scanned without
// building a reader for each; a compressed stream, and which filter reads it; or an archive. What
// the look lets through, libarchive decides, and what it finds no archive in is scanned as it lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Where an ISO 9660 image names itself: "CD001" after the type byte of its first volume
// descriptor, which follows sixteen 2048-byte sectors of system area.
inline constexpr std::size_t kIsoSignatureAt = 32769;
inline constexpr std::size_t kIsoSignatureSize = 5;

// How sure the first bytes make an archive: not at all; maybe (a short magic, a checksum, a
// heuristic, which plain data can match by chance); or surely (a magic of several bytes that only
// the format writes).
enum class Signature { kNone, kWeak, kStrong };

// What a look found: how sure it is, and for a compressed stream the libarchive filter that reads
// it (ARCHIVE_FILTER_*); 0 for an archive, whose format libarchive tells by bidding.
struct Packing {
  Signature signature = Signature::kNone;
  int filter = 0;
  bool from_end = false;  // an archive read from its end (7-Zip): its reader seeks
};

// What `head` (the first bytes, a whole tar header or all there are) and `iso` (the bytes at
// kIsoSignatureAt, empty when the content is too short) say of an archive or compressed stream of
// a kind the readers support. An executable (ELF) is never one.
Packing PackingOf(std::span<const std::uint8_t> head, std::span<const std::uint8_t> iso);
