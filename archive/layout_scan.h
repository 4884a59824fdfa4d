// An OCI image layout left as a directory (what umoci and skopeo copy ... oci:DIR write) is read
// as the archive its tar would be: each regular file a member, named by its path in the layout
// (blobs/sha256/<hex>), each scanned as any file is, and its images told from its index.json.
#pragma once

#include <string>

#include "archive/archive_events.h"

// Whether the open directory is an OCI image layout: it holds the files oci-layout and
// index.json.
bool IsOciLayout(int directory_fd);

// The most files a layout is read for, and the deepest it is looked into.
inline constexpr std::size_t kMostLayoutFiles = 100000;
inline constexpr int kDeepestLayout = 4;

// Scans every regular file of the layout open on `directory_fd`; member paths begin with the
// file's path in the layout, and each line's digests with an empty one for the layout itself.
// Files that cannot be read are errors at their path; links are not followed.
void ScanLayout(int directory_fd, const ArchiveLimits& limits, const ArchiveEvents& events);
