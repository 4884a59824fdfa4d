// Records from inside packages, archives and images, without unpacking them. An archive is told
// by its content, with libarchive: tar, cpio, zip, 7-Zip, ar (and so .deb), RPM and ISO 9660,
// each plain or compressed, and a file that is only compressed. Its regular members are scanned
// as they stream by, archives among them opened in turn; nothing is written to disk, no member is
// held whole in memory, and no member's name is used to touch the disk.
//
// Archives come from strangers, so what one may cost is bounded: how deep archives are opened
// inside one another, how many bytes decompression may give, in all and for each byte read from
// the disk, and what is held in memory to read a content again. A bound that is hit stops that
// file with an error that names it.
#pragma once

#include <string>
#include <string_view>

#include "archive/archive_events.h"

// Scans the file open on `fd` from where it stands. The rule: its records are those of its bytes
// as they lie, except where bytes read as an archive or a compressed stream, whose members'
// contents stand in for them, by the same rule, at every depth. Bytes that read as no archive, or
// whose archive fails before it has shown a member, are scanned as they lie (a damaged archive is
// also named in an error when its signature was sure); an archive that breaks later keeps the
// members before, then tells where it broke. `name` is the file's name, for the member a
// compressed file stands for. Every error, the file's own included, is told through on_error.
void ScanPacked(int fd, std::string_view name, const ArchiveLimits& limits,
                const ArchiveEvents& events, FileOptions options = {});

// Scans the open file from where it stands, as it lies, with the same events.
void ScanFileBytes(int fd, const ArchiveLimits& limits, const ArchiveEvents& events,
                   FileOptions options = {});

// The member name a compressed file stands for: `name` without its compression suffix.
std::string DecompressedName(const std::string& name);
