// The options of zeblix-inventory, each named once in a table that gives getopt_long its list and
// --help its lines. Each value is checked as it is taken, so that a bad one is named in the
// message rather than discovered later.
#include "inventory/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>

namespace {

constexpr long kMostJobs = 1024;
constexpr long kDeepest = 1 << 20;
constexpr long kDeepestArchive = 64;
constexpr long kMostStall = 24 * 60 * 60;
constexpr std::uint64_t kLeastArchiveMemory = std::uint64_t{16} << 20;
constexpr std::uint64_t kLeastCache = std::uint64_t{1} << 20;

std::string Quoted(const char* text) {
  return std::string("'") + text + "'";
}

ParseOutcome Bad(const char* value, const char* what, std::string& problem) {
  problem = Quoted(value) + " " + what;
  return ParseOutcome::kUsageError;
}

ParseOutcome Set(bool& flag) {
  flag = true;
  return ParseOutcome::kRun;
}

ParseOutcome Add(std::vector<std::string>& list, const char* value) {
  list.emplace_back(value);
  return ParseOutcome::kRun;
}

// A whole decimal number from `low` to `high`.
template <typename Integer>
ParseOutcome Number(const char* text, long low, long high, Integer& out, std::string& problem,
                    const char* what) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno != 0 || value < low || value > high) {
    return Bad(text, what, problem);
  }
  out = static_cast<Integer>(value);
  return ParseOutcome::kRun;
}

// A size in bytes of at least `least`, with an optional binary suffix: 512, 64K, 16M, 64G, 2T.
ParseOutcome Size(const char* text, std::uint64_t least, std::uint64_t& bytes, std::string& problem,
                  const char* what) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long number = std::strtoull(text, &end, 10);
  static constexpr std::string_view kSuffixes = "KMGT";
  const std::size_t suffix = *end == '\0' ? std::string_view::npos : kSuffixes.find(*end);
  const int shift = suffix == std::string_view::npos ? 0 : 10 * static_cast<int>(suffix + 1);
  const bool read = end != text && errno == 0 && *text != '-' &&
                    (*end == '\0' || (suffix != std::string_view::npos && end[1] == '\0')) &&
                    number <= (std::numeric_limits<std::uint64_t>::max() >> shift);
  const std::uint64_t value = read ? static_cast<std::uint64_t>(number) << shift : 0;
  if (value == 0 || value < least) return Bad(text, what, problem);
  bytes = value;
  return ParseOutcome::kRun;
}

// One of the words a value may be, and what each means.
template <typename Value>
ParseOutcome Word(const char* text, std::initializer_list<std::pair<const char*, Value>> words,
                  Value& out, std::string& problem, const char* what) {
  for (const auto& [word, meaning] : words) {
    if (std::strcmp(text, word) == 0) {
      out = meaning;
      return ParseOutcome::kRun;
    }
  }
  return Bad(text, what, problem);
}

struct OptionEntry {
  char short_name;         // 0: only the long name
  const char* long_name;
  const char* value_name;  // nullptr: the option takes no value
  const char* help;        // lines parted by newlines
  // Takes the option (and its value) into the options; kUsageError with `problem` naming what is
  // wrong, or kHelp or kVersion to end the parse.
  ParseOutcome (*take)(const char* value, Options& options, std::string& problem);
};

// In the order --help lists them.
const OptionEntry kOptions[] = {
    {'j', "jobs", "N",
     "scan N files at once (default: one per core); the output\n"
     "is the same, in the same order, for every N",
     [](const char* value, Options& o, std::string& problem) {
       return Number(value, 1, kMostJobs, o.jobs, problem, "is not a number from 1 to 1024");
     }},
    {'L', "follow", nullptr,
     "descend through symbolic links to directories",
     [](const char*, Options& o, std::string&) { return Set(o.follow_links); }},
    {0, "max-depth", "N",
     "go at most N levels below a named directory",
     [](const char* value, Options& o, std::string& problem) {
       return Number(value, 0, kDeepest, o.max_depth, problem, "is not a number of levels");
     }},
    {'x', "one-file-system", nullptr,
     "do not descend into other file systems",
     [](const char*, Options& o, std::string&) { return Set(o.one_file_system); }},
    {0, "exclude", "PATTERN",
     "pass over what PATTERN matches, a glob matched against the\n"
     "name and against the path below the named directory\n"
     "('*.log', 'build/tmp', 'cache/' for directories only,\n"
     "'/top' for that path only); may be given again",
     [](const char* value, Options& o, std::string&) { return Add(o.exclude, value); }},
    {0, "exclude-fs", "TYPE",
     "do not enter file systems of TYPE, a glob matched against\n"
     "the type /proc/mounts shows ('nfs*', 'cifs', 'fuse.sshfs');\n"
     "may be given again",
     [](const char* value, Options& o, std::string&) { return Add(o.exclude_fs, value); }},
    {0, "no-archives", nullptr,
     "scan archives and compressed files as they lie, not through\n"
     "their members",
     [](const char*, Options& o, std::string&) {
       o.archives = false;
       return ParseOutcome::kRun;
     }},
    {0, "archive-depth", "N",
     "open archives inside archives to N levels, the file itself\n"
     "being the first (default 6)",
     [](const char* value, Options& o, std::string& problem) {
       return Number(value, 1, kDeepestArchive, o.archive_limits.depth, problem,
                     "is not a number from 1 to 64");
     }},
    {0, "archive-max-bytes", "SIZE",
     "stop a file whose members expand beyond SIZE bytes\n"
     "(suffixes K, M, G, T; default 64G)",
     [](const char* value, Options& o, std::string& problem) {
       return Size(value, 1, o.archive_limits.max_bytes, problem, "is not a size such as 64G");
     }},
    {0, "archive-max-ratio", "N",
     "stop a file whose members expand to more than N\n"
     "times the bytes read from it (default 1000; 0: no bound)",
     [](const char* value, Options& o, std::string& problem) {
       return Number(value, 0, std::numeric_limits<long>::max(), o.archive_limits.max_ratio,
                     problem, "is not a whole number");
     }},
    {0, "archive-max-memory", "SIZE",
     "the memory reading one archive may take (default 1G;\n"
     "a compressed stream may ask for half of it)",
     [](const char* value, Options& o, std::string& problem) {
       return Size(value, kLeastArchiveMemory, o.archive_limits.max_memory, problem,
                   "is not a size of at least 16M");
     }},
    {0, "archive-max-stall", "SECONDS",
     "stop reading an archive that has read nothing\n"
     "new for SECONDS (default 60)",
     [](const char* value, Options& o, std::string& problem) {
       return Number(value, 1, kMostStall, o.archive_limits.most_stalled_seconds, problem,
                     "is not a number of seconds");
     }},
    {0, "image-layers", "VIEW",
     "squashed (the default): the files of each image as it\n"
     "runs; all: every layer's files, marked with their layer and\n"
     "whether a later layer deletes them",
     [](const char* value, Options& o, std::string& problem) {
       return Word(value, {{"squashed", false}, {"all", true}}, o.all_layers, problem,
                   "is neither squashed nor all");
     }},
    {0, "cache", "FILE",
     "keep what each run learns in FILE, and read again only the files\n"
     "that changed since (see CACHE in the manual)",
     [](const char* value, Options& o, std::string& problem) {
       if (*value == '\0') {
         problem = "the file name is empty";
         return ParseOutcome::kUsageError;
       }
       o.cache = value;
       return ParseOutcome::kRun;
     }},
    {0, "cache-max-size", "SIZE",
     "the most the cache file may hold (default 1G)",
     [](const char* value, Options& o, std::string& problem) {
       return Size(value, kLeastCache, o.cache_max_bytes, problem, "is not a size of at least 1M");
     }},
    {0, "files-from", "FILE",
     "read the paths from FILE (- for standard input), one a line",
     [](const char* value, Options& o, std::string&) {
       o.files_from = value;
       return ParseOutcome::kRun;
     }},
    {'0', "null", nullptr,
     "the paths of --files-from end with NUL, not newline",
     [](const char*, Options& o, std::string&) { return Set(o.null_separated); }},
    {0, "format", "FORMAT",
     "json or jsonl (JSON Lines, the default), csv (RFC 4180, a\n"
     "header row) or cyclonedx (one CycloneDX 1.6 JSON document)",
     [](const char* value, Options& o, std::string& problem) {
       return Word(value,
                   {{"json", OutputFormat::kJsonLines}, {"jsonl", OutputFormat::kJsonLines},
                    {"csv", OutputFormat::kCsv}, {"cyclonedx", OutputFormat::kCycloneDx}},
                   o.format, problem, "is none of json, jsonl, csv and cyclonedx");
     }},
    {'o', "output", "FILE",
     "write to FILE, put in place once whole (a run that fails,\n"
     "or is stopped, leaves FILE as it was); - for standard output",
     [](const char* value, Options& o, std::string& problem) {
       if (*value == '\0') {
         problem = "the file name is empty";
         return ParseOutcome::kUsageError;
       }
       o.output = value;
       if (*o.output == "-") o.output.reset();
       return ParseOutcome::kRun;
     }},
    {0, "hash", "sha256",
     "the SHA-256 of every file and member as stored",
     [](const char* value, Options& o, std::string& problem) {
       return Word(value, {{"sha256", true}}, o.hash, problem, "is not sha256");
     }},
    {0, "empty", nullptr,
     "a line, or component, also for every file without a record",
     [](const char*, Options& o, std::string&) { return Set(o.empty); }},
    {0, "host", "NAME",
     "the host name written on every line (default: this machine's)",
     [](const char* value, Options& o, std::string&) {
       o.host = value;
       return ParseOutcome::kRun;
     }},
    {0, "nice", nullptr,
     "for jobs on busy hosts: idle I/O and CPU priority, one job\n"
     "unless -j says otherwise, and the page cache left as found",
     [](const char*, Options& o, std::string&) { return Set(o.nice); }},
    {0, "progress", nullptr,
     "show progress on standard error even when it is not a terminal",
     [](const char*, Options& o, std::string&) {
       o.progress = Progress::kAlways;
       return ParseOutcome::kRun;
     }},
    {'q', "quiet", nullptr,
     "show no progress and no summary, and no errors on standard\n"
     "error but in CycloneDX, where errors have no other place",
     [](const char*, Options& o, std::string&) {
       o.progress = Progress::kNever;
       return ParseOutcome::kRun;
     }},
    {0, "version-key", "VERSION",
     "print the key product_version_key holds for VERSION,\n"
     "to compare with in a query, and exit; may be given again",
     [](const char* value, Options& o, std::string&) { return Add(o.version_keys, value); }},
    {'h', "help", nullptr,
     "show this help and exit",
     [](const char*, Options&, std::string&) { return ParseOutcome::kHelp; }},
    {'V', "version", nullptr,
     "show the version and exit",
     [](const char*, Options&, std::string&) { return ParseOutcome::kVersion; }},
};

constexpr std::string_view kUsageHead = R"(Usage: zeblix-inventory [OPTION]... [PATH]...
Report the version records of product files, one JSON object per line. Packages,
archives and images (tar, cpio, zip, 7-Zip, ar and .deb, RPM, ISO 9660; plain or
compressed) are read through their members, archives inside them too.

Directories are walked to any depth; any other path is scanned whatever it is (a pipe
or device is read to its end; - is standard input). With no PATH and no --files-from,
the current directory.
Directories on the kernel's pseudo file systems (proc, sysfs, devtmpfs, cgroup, ...)
are never entered.

)";
constexpr std::string_view kUsageTail = R"(
Exit status: 0 when every file was read, 1 when some could not be (the others
were still scanned), 2 for a usage error.
)";
// Where the help of each option begins.
constexpr std::size_t kHelpColumn = 24;

// Each option's code as getopt_long gives it back: its short letter, or a number past every
// character for a long-only option.
int CodeOf(std::size_t index) {
  constexpr int kFirstLongOnly = 256;
  return kOptions[index].short_name != 0 ? kOptions[index].short_name
                                         : kFirstLongOnly + static_cast<int>(index);
}

std::vector<option> LongOptions() {
  std::vector<option> list;
  for (std::size_t i = 0; i < std::size(kOptions); ++i) {
    const OptionEntry& entry = kOptions[i];
    list.push_back({entry.long_name, entry.value_name != nullptr ? required_argument : no_argument,
                    nullptr, CodeOf(i)});
  }
  list.push_back({nullptr, 0, nullptr, 0});
  return list;
}

// getopt's short options: a leading ':' so that a missing value is told apart.
std::string ShortOptions() {
  std::string letters = ":";
  for (const OptionEntry& entry : kOptions) {
    if (entry.short_name == 0) continue;
    letters += entry.short_name;
    if (entry.value_name != nullptr) letters += ':';
  }
  return letters;
}

std::string OptionLines(const OptionEntry& entry) {
  std::string line =
      entry.short_name != 0 ? std::string("  -") + entry.short_name + ", " : "      ";
  line += "--";
  line += entry.long_name;
  if (entry.value_name != nullptr) (line += '=') += entry.value_name;
  line += line.size() < kHelpColumn ? std::string(kHelpColumn - line.size(), ' ') : "  ";
  for (const char* c = entry.help; *c != '\0'; ++c) {
    line += *c;
    if (*c == '\n') line += std::string(kHelpColumn, ' ');
  }
  return line + "\n";
}

ParseOutcome TakeOption(int code, const char* value, Options& options, std::string& message) {
  for (std::size_t i = 0; i < std::size(kOptions); ++i) {
    if (CodeOf(i) != code) continue;
    std::string problem;
    const ParseOutcome outcome = kOptions[i].take(value, options, problem);
    if (outcome == ParseOutcome::kUsageError) {
      message = std::string("--") + kOptions[i].long_name + ": " + problem;
    }
    return outcome;
  }
  return ParseOutcome::kUsageError;
}

std::string UnknownOption(char** argv) {
  const std::string letter{'-', static_cast<char>(optopt)};
  return "unknown option " + (optopt != 0 ? Quoted(letter.c_str()) : Quoted(argv[optind - 1]));
}

}  // namespace

std::string Usage() {
  std::string usage(kUsageHead);
  for (const OptionEntry& entry : kOptions) usage += OptionLines(entry);
  return usage += kUsageTail;
}

ParseOutcome ParseOptions(int argc, char** argv, Options& options, std::string& message) {
  static const std::vector<option> long_options = LongOptions();
  static const std::string short_options = ShortOptions();
  opterr = 0;  // messages are ours, one line each
  optind = 1;
  for (int code; (code = getopt_long(argc, argv, short_options.c_str(), long_options.data(),
                                     nullptr)) != -1;) {
    if (code == ':') {
      message = "option " + Quoted(argv[optind - 1]) + " needs a value";
      return ParseOutcome::kUsageError;
    }
    const ParseOutcome outcome = code == '?' ? ParseOutcome::kUsageError
                                             : TakeOption(code, optarg, options, message);
    if (outcome == ParseOutcome::kUsageError && message.empty()) message = UnknownOption(argv);
    if (outcome != ParseOutcome::kRun) return outcome;
  }
  for (int i = optind; i < argc; ++i) options.paths.emplace_back(argv[i]);
  if (options.null_separated && !options.files_from) {
    message = "-0 separates the paths of --files-from, and none is given";
    return ParseOutcome::kUsageError;
  }
  return options.version_keys.empty() ? ParseOutcome::kRun : ParseOutcome::kVersionKeys;
}
