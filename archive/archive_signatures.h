// A quick look at a file's first bytes that says when it cannot be anything libarchive would read
// as an archive or a compressed stream, so that the many plain files of a tree (executables,
// libraries, data) are scanned without building a reader for each. It errs only towards "maybe":
// whatever it lets through, libarchive decides.
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

// True when `head` (the first bytes, up to kLeadingBytes, or all there are) starts like an
// archive or a compressed stream of a kind the readers support, or when `iso` (the bytes at
// kIsoSignatureAt, empty when the file is too short) names an ISO 9660 image.
bool MayBeArchive(std::span<const std::uint8_t> head, std::span<const std::uint8_t> iso);
