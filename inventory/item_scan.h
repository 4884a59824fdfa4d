// One item of the walk scanned: a file's records (or, inside archives, its members'), its
// emptiness with --empty, its digest with --hash, or its error, as the writer's lines.
#pragma once

#include <cstdint>
#include <string>

#include <openssl/types.h>

#include <memory>

#include "archive/archive_events.h"
#include "cache/item_cache.h"
#include "emit/line_writer.h"
#include "inventory/progress_line.h"
#include "walk/read_ahead.h"
#include "walk/tree_walk.h"

// OpenSSL's SHA-256, fetched once.
std::shared_ptr<EVP_MD> FetchSha256();

struct ScanSettings {
  const LineWriter* writer = nullptr;  // makes the lines, in the format asked for
  std::string host;
  bool count_bytes = false;         // for the progress line: one more system call a file
  ReadAhead* read_ahead = nullptr;  // told when a read would wait for the disk
  bool archives = true;             // archives are scanned through their members
  ArchiveLimits archive_limits;
  bool hash = false;   // --hash sha256: the digest of every file or member read whole
  bool empty = false;  // --empty: a line for every file or member without a record
  bool all_layers = false;  // --image-layers all: what later layers delete too, marked
  bool errors_on_stderr = true;  // every error also named on standard error
  // The run's one item, a file: a package or image it is becomes the document's subject.
  bool subject = false;
  bool nice = false;  // --nice: the pages a file brought into the page cache let go after it
  ItemCache* cache = nullptr;  // --cache: files and layers told again from it when unchanged
  // SHA-256 as OpenSSL gives it, fetched before the run (with --hash or --cache): a reader's
  // process, forked while another thread fetches, would wait for ever on OpenSSL's lock.
  std::shared_ptr<EVP_MD> sha256 = nullptr;
};

// The lines of one item, what it tells on standard error (escaped for a terminal), and what it
// adds to the totals.
struct ScannedItem {
  std::string lines;
  std::string subject;  // the component of the package or image the run was about, if any
  std::string messages;
  Totals totals;
};

// Scans one item, the `sequence`th of the run (which makes its components' references unique).
// With `probe_wait`, first learns whether reading the file waits for the disk.
ScannedItem ScanItem(const WalkItem& item, const ScanSettings& settings, std::uint64_t sequence,
                     bool probe_wait);
