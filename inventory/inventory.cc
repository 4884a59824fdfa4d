// The run: host name, output buffer, progress, then every path through the walk into the scan.
#include "inventory/inventory.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "archive/layout_scan.h"
#include "inventory/cyclonedx.h"
#include "inventory/ordered_scan.h"
#include "inventory/tree_walk.h"
#include "output/output_file.h"
#include "zeblix/scan.h"

namespace {

constexpr std::size_t kOutputBuffer = 1 << 20;

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

// Raises the open-file limit to its hard limit, and returns the limit in force.
rlim_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur;
}

// Shares the open-file limit out: the standard streams, a file being scanned on every job, the
// list of --files-from, a look-ahead hint and some room stay free; of the rest a third goes to
// the walk's open listings and two thirds to directories held for files waiting to be scanned.
void ShareOpenFiles(rlim_t limit, unsigned jobs, WalkOptions& walk) {
  constexpr rlim_t kKeptFree = 12;
  constexpr std::size_t kMostListings = 32;
  constexpr std::size_t kMostHeld = 256;
  const rlim_t reserved = kKeptFree + jobs;
  const auto shared = static_cast<std::size_t>(limit > reserved + 3 ? limit - reserved : 3);
  walk.open_listings = std::clamp<std::size_t>(shared / 3, 1, kMostListings);
  walk.held_directories = std::min(shared - walk.open_listings, kMostHeld);
}

bool ShowsProgress(Progress progress) {
  if (progress == Progress::kWhenTerminal) return isatty(STDERR_FILENO) != 0;
  return progress == Progress::kAlways;
}

// Walks every path of the list in `file`, separated by `separator`; empty ones are skipped.
void WalkList(std::FILE* file, char separator, TreeWalk& walk, OrderedScan& scan) {
  char* line = nullptr;
  std::size_t capacity = 0;
  for (ssize_t length; (length = getdelim(&line, &capacity, separator, file)) >= 0;) {
    if (length > 0 && line[length - 1] == separator) --length;
    if (length == 0) continue;
    walk.Walk(std::string(line, static_cast<std::size_t>(length)),
              [&](WalkItem&& item) { scan.Add(std::move(item)); });
  }
  std::free(line);
}

// Whether the run is about one file (or standard input, or an image's layout), which may be a
// package or an image.
bool OneFile(const Options& options) {
  if (options.paths.size() != 1 || options.files_from) return false;
  const std::string& path = options.paths.front();
  struct stat status{};
  if (path == "-" || (stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode))) return true;
  const int directory = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool layout = directory >= 0 && IsOciLayout(directory);
  if (directory >= 0) close(directory);
  return layout;
}

}  // namespace

int RunInventory(const Options& options, std::string_view tool_version) {
  std::FILE* list = nullptr;
  if (options.files_from) {
    list = *options.files_from == "-" ? stdin : std::fopen(options.files_from->c_str(), "r");
    if (list == nullptr) {
      std::fprintf(stderr, "zeblix-inventory: --files-from: %s: %s\n", options.files_from->c_str(),
                   std::strerror(errno));
      return 2;
    }
  }
  OutputFile file;
  if (options.output && !file.Open(*options.output)) {
    std::fprintf(stderr, "zeblix-inventory: --output: %s: %s\n", options.output->c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::FILE* const out = options.output ? file.stream() : stdout;
  const char* const out_name = options.output ? options.output->c_str() : "standard output";
  const rlim_t open_file_limit = RaiseOpenFileLimit();
  static char buffer[kOutputBuffer];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);

  const bool progress_shown = ShowsProgress(options.progress);
  ProgressLine progress(progress_shown, progress_shown && options.progress != Progress::kNever);
  ReadAhead read_ahead;
  const ScanSettings settings{
      .format = options.format,
      .host = options.host.empty() ? HostName() : options.host,
      .count_bytes = progress_shown,
      .read_ahead = &read_ahead,
      .archives = options.archives,
      .archive_limits = options.archive_limits,
      .hash = options.hash,
      .empty = options.empty,
      .all_layers = options.all_layers,
      // -q silences them, but where they have no other place
      .errors_on_stderr =
          options.progress != Progress::kNever || options.format == OutputFormat::kCycloneDx,
      .subject = OneFile(options)};
  const unsigned jobs =
      options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  WalkOptions walk_options{.follow_links = options.follow_links,
                           .max_depth = options.max_depth,
                           .one_file_system = options.one_file_system,
                           .exclude = options.exclude,
                           .exclude_fs = options.exclude_fs};
  ShareOpenFiles(open_file_limit, jobs, walk_options);
  TreeWalk walk(walk_options, read_ahead);
  OrderedScan scan(jobs, settings, out, progress);
  walk.OnDirectoriesHeld([&] { scan.Drain(); });
  if (options.format == OutputFormat::kCsv) std::fputs(CsvHeader().c_str(), out);
  if (options.format == OutputFormat::kCycloneDx) std::fputs(BomHead().c_str(), out);

  const auto add = [&](WalkItem&& item) { scan.Add(std::move(item)); };
  for (const std::string& path : options.paths) {
    if (path == "-") {
      add({.name = path, .named = true, .standard_input = true});
    } else {
      walk.Walk(path, add);
    }
  }
  if (list != nullptr) {
    WalkList(list, options.null_separated ? '\0' : '\n', walk, scan);
    if (list != stdin) std::fclose(list);
  } else if (options.paths.empty()) {
    walk.Walk(".", add);
  }
  const Totals totals = scan.Finish();
  if (options.format == OutputFormat::kCycloneDx) {
    std::fputs(BomTail(tool_version, scan.subject()).c_str(), out);
  }
  // The document is put in place whole even when some paths could not be read: those are errors
  // of their own, and the exit status says so.
  const bool written = std::fflush(out) == 0 && std::ferror(out) == 0 &&
                       (!options.output || file.Commit());
  progress.Finish(totals, walk.passed_over().kernel, walk.passed_over().excluded);
  if (!written) {
    // Lines that could not be written are lost to the reader: say so, and fail.
    std::fprintf(stderr, "zeblix-inventory: %s: %s\n", out_name, std::strerror(errno));
    return 1;
  }
  return totals.errors == 0 ? 0 : 1;
}
