// The command line of zeblix-inventory, parsed with getopt_long: GNU conventions (options
// before, between or after paths; "--" ends them; long options may be abbreviated). Each option
// is named once, in a table that also makes --help.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/archive_events.h"
#include "emit/line_writer.h"

enum class Progress { kWhenTerminal, kNever, kAlways };

struct Options {
  std::vector<std::string> paths;         // none: the current directory
  std::optional<std::string> files_from;  // a file of paths, "-" for standard input
  bool null_separated = false;            // -0: the file's paths end with NUL, not newline
  bool follow_links = false;              // -L: descend through symbolic links to directories
  int max_depth = -1;                     // levels below a named directory; -1: no limit
  bool one_file_system = false;           // -x
  std::vector<std::string> exclude;       // --exclude: globs of paths not walked
  std::vector<std::string> exclude_fs;    // --exclude-fs: globs of file system types not entered
  unsigned jobs = 0;                      // files scanned at once; 0: one per core
  std::string host;                       // empty: the machine's name
  bool archives = true;                   // --no-archives: every file scanned as it lies
  ArchiveLimits archive_limits;           // --archive-depth, --archive-max-*
  bool all_layers = false;                // --image-layers all: every layer's files, marked
  OutputFormat format = OutputFormat::kJsonLines;
  std::optional<std::string> output;      // -o: written there once whole, not to standard output
  bool hash = false;                      // --hash sha256
  bool empty = false;                     // --empty: a line for every file without a record
  Progress progress = Progress::kWhenTerminal;
  bool nice = false;                      // --nice: idle I/O and CPU, one job, the cache left as found
  std::vector<std::string> version_keys;  // --version-key: print these versions' keys and exit
  std::optional<std::string> cache;       // --cache: what earlier runs learnt, kept in this file
  std::uint64_t cache_max_bytes = std::uint64_t{1} << 30;  // --cache-max-size
  // The moment a --cache run takes as now, in nanoseconds since the epoch; none: the clock's.
  std::optional<std::int64_t> cache_clock_ns;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kVersionKeys, kUsageError };

// Fills `options` from the command line. On kUsageError, `message` names the problem in one line.
ParseOutcome ParseOptions(int argc, char** argv, Options& options, std::string& message);

// The text of --help, made from the table of options.
std::string Usage();
