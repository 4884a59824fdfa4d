// The run: host name, output buffer, progress, then every path through the walk into the scan.
#include "inventory/inventory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "data/own_version_block.h"
#include "inventory/ordered_scan.h"
#include "inventory/tree_walk.h"
#include "zeblix/scan.h"

namespace {

constexpr std::size_t kOutputBuffer = 1 << 20;

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

// A deep tree holds one directory open per level; let it have all the descriptors it may.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
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

}  // namespace

std::string OwnVersion() {
  std::string version;
  zeblix::ScanBytes(V_ZEBLIX, [&](const zeblix::Record& record) {
    version = record.product_version;
    return zeblix::Control::kStop;
  });
  return version;
}

int RunInventory(const Options& options) {
  std::FILE* list = nullptr;
  if (options.files_from) {
    list = *options.files_from == "-" ? stdin : std::fopen(options.files_from->c_str(), "r");
    if (list == nullptr) {
      std::fprintf(stderr, "zeblix-inventory: --files-from: %s: %s\n", options.files_from->c_str(),
                   std::strerror(errno));
      return 2;
    }
  }
  RaiseOpenFileLimit();
  static char buffer[kOutputBuffer];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);

  const bool progress_shown = ShowsProgress(options.progress);
  ProgressLine progress(progress_shown, progress_shown && options.progress != Progress::kNever);
  ReadAhead read_ahead;
  const ScanSettings settings{options.format, options.host.empty() ? HostName() : options.host,
                              progress_shown, &read_ahead};
  const unsigned jobs =
      options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  TreeWalk walk({options.follow_links, options.max_depth, options.one_file_system}, read_ahead);
  OrderedScan scan(jobs, settings, stdout, progress);
  if (options.format == OutputFormat::kCsv) std::fputs(CsvHeader().c_str(), stdout);

  const auto add = [&](WalkItem&& item) { scan.Add(std::move(item)); };
  for (const std::string& path : options.paths) walk.Walk(path, add);
  if (list != nullptr) {
    WalkList(list, options.null_separated ? '\0' : '\n', walk, scan);
    if (list != stdin) std::fclose(list);
  } else if (options.paths.empty()) {
    walk.Walk(".", add);
  }
  const Totals totals = scan.Finish();
  const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  progress.Finish(totals);
  if (!written) {
    // Lines that could not be written are lost to the reader: say so, and fail.
    std::fprintf(stderr, "zeblix-inventory: standard output: %s\n", std::strerror(errno));
    return 1;
  }
  return totals.errors == 0 ? 0 : 1;
}
