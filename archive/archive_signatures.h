// A quick look at a file's first bytes that says when it cannot be anything libarchive would read
// as an archive or a compressed stream, so that the many plain files of a tree (executables,
// libraries, data) are scanned without building a reader for each. It errs only towards "maybe":
// whatever it lets through, libarchive decides; and what it only guessed at is scanned as it lies
// when libarchive finds no archive there after all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Where an ISO 9660 image names itself: "CD001" after the type byte of its first volume
// descriptor, which follows sixteen 2048-byte sectors of system area.
inline constexpr std::size_t kIsoSignatureAt = 32769;
inline constexpr std::size_t kIsoSignatureSize = 5;

// The bytes a look needs from the start: a whole tar header.
inline constexpr std::size_t kLeadingBytes = 512;

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

// What `head` (the first bytes, up to kLeadingBytes, or all there are) and `iso` (the bytes at
// kIsoSignatureAt, empty when the content is too short) say of an archive or compressed stream of
// a kind the readers support. An executable (ELF) is never one.
Packing PackingOf(std::span<const std::uint8_t> head, std::span<const std::uint8_t> iso);
