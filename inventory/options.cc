// Options are read with getopt_long; each value is checked here, so that a bad one is named in
// the message rather than discovered later.
#include "inventory/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <limits>

const char* const kUsage = R"(Usage: zeblix-inventory [OPTION]... [PATH]...
Report the version records of product files, one JSON object per line. Packages,
archives and images (tar, cpio, zip, 7-Zip, ar and .deb, RPM, ISO 9660; plain or
compressed) are read through their members, archives inside them too.

Directories are walked to any depth; any other path is scanned whatever it is (a pipe
or device is read to its end; - is standard input). With no PATH and no --files-from,
the current directory.
Directories on the kernel's pseudo file systems (proc, sysfs, devtmpfs, cgroup, ...)
are never entered.

  -j, --jobs=N          scan N files at once (default: one per core); the output
                        is the same, in the same order, for every N
  -L, --follow          descend through symbolic links to directories
      --max-depth=N     go at most N levels below a named directory
  -x, --one-file-system do not descend into other file systems
      --exclude=PATTERN pass over what PATTERN matches, a glob matched against the
                        name and against the path below the named directory
                        ('*.log', 'build/tmp', 'cache/' for directories only,
                        '/top' for that path only); may be given again
      --exclude-fs=TYPE do not enter file systems of TYPE, a glob matched against
                        the type /proc/mounts shows ('nfs*', 'cifs', 'fuse.sshfs');
                        may be given again
      --no-archives     scan archives and compressed files as they lie, not through
                        their members
      --archive-depth=N open archives inside archives to N levels, the file itself
                        being the first (default 6)
      --archive-max-bytes=SIZE  stop a file whose members expand beyond SIZE bytes
                        (suffixes K, M, G, T; default 64G)
      --archive-max-ratio=N     stop a file whose members expand to more than N
                        times the bytes read from it (default 1000; 0: no bound)
      --archive-max-memory=SIZE the memory reading one archive may take (default 1G;
                        a compressed stream may ask for half of it)
      --archive-max-stall=SECONDS  stop reading an archive that has read nothing
                        new for SECONDS (default 60)
      --image-layers=VIEW  squashed (the default): the files of each image as it
                        runs; all: every layer's files, marked with their layer and
                        whether a later layer deletes them
      --files-from=FILE read the paths from FILE (- for standard input), one a line
  -0, --null            the paths of --files-from end with NUL, not newline
      --format=FORMAT   json or jsonl (JSON Lines, the default), csv (RFC 4180, a
                        header row) or cyclonedx (one CycloneDX 1.6 JSON document)
  -o, --output=FILE     write to FILE, put in place once whole (a run that fails,
                        or is stopped, leaves FILE as it was); - for standard output
      --hash=sha256     the SHA-256 of every file and member as stored
      --empty           a line, or component, also for every file without a record
      --host=NAME       the host name written on every line (default: this machine's)
      --nice            for jobs on busy hosts: idle I/O and CPU priority, one job
                        unless -j says otherwise, and the page cache left as found
      --progress        show progress on standard error even when it is not a terminal
  -q, --quiet           show no progress and no summary, and no errors on standard
                        error but in CycloneDX, where errors have no other place
      --version-key=VERSION  print the key product_version_key holds for VERSION,
                        to compare with in a query, and exit; may be given again
  -h, --help            show this help and exit
  -V, --version         show the version and exit

Exit status: 0 when every file was read, 1 when some could not be (the others
were still scanned), 2 for a usage error.
)";

namespace {

enum LongOnly {
  kMaxDepth = 256,
  kFilesFrom,
  kFormat,
  kHost,
  kProgress,
  kExclude,
  kExcludeFs,
  kNoArchives,
  kArchiveDepth,
  kArchiveMaxBytes,
  kArchiveMaxRatio,
  kArchiveMaxMemory,
  kArchiveMaxStall,
  kImageLayers,
  kHash,
  kEmpty,
  kNice,
  kVersionKey,
};

constexpr option kLongOptions[] = {
    {           "jobs", required_argument, nullptr,        'j'},
    {         "follow",       no_argument, nullptr,        'L'},
    {      "max-depth", required_argument, nullptr,  kMaxDepth},
    {"one-file-system",       no_argument, nullptr,        'x'},
    {        "exclude", required_argument, nullptr,   kExclude},
    {     "exclude-fs", required_argument, nullptr, kExcludeFs},
    {    "no-archives",       no_argument, nullptr, kNoArchives},
    {  "archive-depth", required_argument, nullptr, kArchiveDepth},
    {"archive-max-bytes", required_argument, nullptr, kArchiveMaxBytes},
    {"archive-max-ratio", required_argument, nullptr, kArchiveMaxRatio},
    {"archive-max-memory", required_argument, nullptr, kArchiveMaxMemory},
    {"archive-max-stall", required_argument, nullptr, kArchiveMaxStall},
    {   "image-layers", required_argument, nullptr, kImageLayers},
    {           "hash", required_argument, nullptr,      kHash},
    {          "empty",       no_argument, nullptr,     kEmpty},
    {           "nice",       no_argument, nullptr,      kNice},
    {    "version-key", required_argument, nullptr, kVersionKey},
    {     "files-from", required_argument, nullptr, kFilesFrom},
    {           "null",       no_argument, nullptr,        '0'},
    {         "format", required_argument, nullptr,    kFormat},
    {         "output", required_argument, nullptr,        'o'},
    {           "host", required_argument, nullptr,      kHost},
    {       "progress",       no_argument, nullptr,  kProgress},
    {          "quiet",       no_argument, nullptr,        'q'},
    {           "help",       no_argument, nullptr,        'h'},
    {        "version",       no_argument, nullptr,        'V'},
    {          nullptr,                 0, nullptr,          0},
};

// A whole decimal number from `low` to `high`.
bool ParseNumber(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && errno == 0 && value >= low && value <= high;
}

// A size in bytes, with an optional binary suffix: 512, 64K, 16M, 64G, 2T.
bool ParseSize(const char* text, std::uint64_t& bytes) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long number = std::strtoull(text, &end, 10);
  if (end == text || errno != 0 || *text == '-') return false;
  int shift = 0;
  switch (*end) {
    case '\0': break;
    case 'K': shift = 10; break;
    case 'M': shift = 20; break;
    case 'G': shift = 30; break;
    case 'T': shift = 40; break;
    default: return false;
  }
  if (*end != '\0' && end[1] != '\0') return false;
  if (number > (std::numeric_limits<std::uint64_t>::max() >> shift)) return false;
  bytes = static_cast<std::uint64_t>(number) << shift;
  return bytes > 0;
}

std::string Quoted(const char* text) {
  return std::string("'") + text + "'";
}

}  // namespace

ParseOutcome ParseOptions(int argc, char** argv, Options& options, std::string& message) {
  constexpr long kMostJobs = 1024;
  constexpr long kDeepest = 1 << 20;
  constexpr long kDeepestArchive = 64;
  constexpr long kMostStall = 24 * 60 * 60;
  constexpr std::uint64_t kLeastArchiveMemory = std::uint64_t{16} << 20;
  opterr = 0;  // messages are ours, one line each
  optind = 1;
  long number = 0;
  for (;;) {
    const int option = getopt_long(argc, argv, ":j:o:Lx0qhV", kLongOptions, nullptr);
    if (option == -1) break;
    switch (option) {
      case 'j':
        if (!ParseNumber(optarg, 1, kMostJobs, number)) {
          message = "--jobs: " + Quoted(optarg) + " is not a number from 1 to 1024";
          return ParseOutcome::kUsageError;
        }
        options.jobs = static_cast<unsigned>(number);
        break;
      case kMaxDepth:
        if (!ParseNumber(optarg, 0, kDeepest, number)) {
          message = "--max-depth: " + Quoted(optarg) + " is not a number of levels";
          return ParseOutcome::kUsageError;
        }
        options.max_depth = static_cast<int>(number);
        break;
      case kFormat:
        if (std::strcmp(optarg, "json") == 0 || std::strcmp(optarg, "jsonl") == 0) {
          options.format = OutputFormat::kJsonLines;
        } else if (std::strcmp(optarg, "csv") == 0) {
          options.format = OutputFormat::kCsv;
        } else if (std::strcmp(optarg, "cyclonedx") == 0) {
          options.format = OutputFormat::kCycloneDx;
        } else {
          message = "--format: " + Quoted(optarg) + " is none of json, jsonl, csv and cyclonedx";
          return ParseOutcome::kUsageError;
        }
        break;
      case 'o':
        if (*optarg == '\0') {
          message = "--output: the file name is empty";
          return ParseOutcome::kUsageError;
        }
        options.output = optarg;
        if (*options.output == "-") options.output.reset();
        break;
      case kHash:
        if (std::strcmp(optarg, "sha256") != 0) {
          message = "--hash: " + Quoted(optarg) + " is not sha256";
          return ParseOutcome::kUsageError;
        }
        options.hash = true;
        break;
      case kEmpty:
        options.empty = true;
        break;
      case kNice:
        options.nice = true;
        break;
      case kVersionKey:
        options.version_keys.emplace_back(optarg);
        break;
      case 'L':
        options.follow_links = true;
        break;
      case 'x':
        options.one_file_system = true;
        break;
      case kExclude:
        options.exclude.emplace_back(optarg);
        break;
      case kExcludeFs:
        options.exclude_fs.emplace_back(optarg);
        break;
      case kNoArchives:
        options.archives = false;
        break;
      case kArchiveDepth:
        if (!ParseNumber(optarg, 1, kDeepestArchive, number)) {
          message = "--archive-depth: " + Quoted(optarg) + " is not a number from 1 to 64";
          return ParseOutcome::kUsageError;
        }
        options.archive_limits.depth = static_cast<int>(number);
        break;
      case kArchiveMaxBytes:
        if (!ParseSize(optarg, options.archive_limits.max_bytes)) {
          message = "--archive-max-bytes: " + Quoted(optarg) + " is not a size such as 64G";
          return ParseOutcome::kUsageError;
        }
        break;
      case kArchiveMaxRatio:
        if (!ParseNumber(optarg, 0, std::numeric_limits<long>::max(), number)) {
          message = "--archive-max-ratio: " + Quoted(optarg) + " is not a whole number";
          return ParseOutcome::kUsageError;
        }
        options.archive_limits.max_ratio = static_cast<std::uint64_t>(number);
        break;
      case kArchiveMaxMemory:
        if (!ParseSize(optarg, options.archive_limits.max_memory) ||
            options.archive_limits.max_memory < kLeastArchiveMemory) {
          message = "--archive-max-memory: " + Quoted(optarg) + " is not a size of at least 16M";
          return ParseOutcome::kUsageError;
        }
        break;
      case kArchiveMaxStall:
        if (!ParseNumber(optarg, 1, kMostStall, number)) {
          message = "--archive-max-stall: " + Quoted(optarg) + " is not a number of seconds";
          return ParseOutcome::kUsageError;
        }
        options.archive_limits.most_stalled_seconds = static_cast<int>(number);
        break;
      case kImageLayers:
        if (std::strcmp(optarg, "squashed") == 0) {
          options.all_layers = false;
        } else if (std::strcmp(optarg, "all") == 0) {
          options.all_layers = true;
        } else {
          message = "--image-layers: " + Quoted(optarg) + " is neither squashed nor all";
          return ParseOutcome::kUsageError;
        }
        break;
      case kFilesFrom:
        options.files_from = optarg;
        break;
      case '0':
        options.null_separated = true;
        break;
      case kHost:
        options.host = optarg;
        break;
      case kProgress:
        options.progress = Progress::kAlways;
        break;
      case 'q':
        options.progress = Progress::kNever;
        break;
      case 'h':
        return ParseOutcome::kHelp;
      case 'V':
        return ParseOutcome::kVersion;
      case ':':
        message = "option " + Quoted(argv[optind - 1]) + " needs a value";
        return ParseOutcome::kUsageError;
      default:
        message = "unknown option " +
                  (optopt != 0 ? Quoted(std::string{'-', static_cast<char>(optopt)}.c_str())
                               : Quoted(argv[optind - 1]));
        return ParseOutcome::kUsageError;
    }
  }
  for (int i = optind; i < argc; ++i) options.paths.emplace_back(argv[i]);
  if (options.null_separated && !options.files_from) {
    message = "-0 separates the paths of --files-from, and none is given";
    return ParseOutcome::kUsageError;
  }
  return options.version_keys.empty() ? ParseOutcome::kRun : ParseOutcome::kVersionKeys;
}
