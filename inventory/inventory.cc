// The run: host name, the output streamed, progress, then every path through the walk into the
// scan, and each item's lines out in walk order.
#include "inventory/inventory.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "archive/layout_scan.h"
#include "inventory/ordered_scan.h"
#include "walk/tree_walk.h"
#include "emit/line_output.h"
#include "emit/output_file.h"
#include "text/text_forms.h"
#include "zeblix/scan.h"

namespace {

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

// Walks every path of the list read from `fd`, separated by `separator`; empty ones are
// skipped. Before it waits for more of the list, what was found so far is handed to the scan, so
// that an endless list (a FIFO, a pipe from a slow producer) gives each file's lines as it comes.
void WalkList(int fd, char separator, TreeWalk& walk, OrderedScan& scan,
              const std::atomic<bool>* cancel) {
  constexpr std::size_t kChunk = 64 * 1024;
  constexpr int kLookEveryMs = 100;
  std::string held;
  std::vector<char> chunk(kChunk);
  const auto take = [&](WalkItem&& item) { scan.Add(std::move(item)); };
  const auto cancelled = [&] { return cancel != nullptr && cancel->load(); };
  for (;;) {
    for (std::size_t end; (end = held.find(separator)) != std::string::npos && !cancelled();
         held.erase(0, end + 1)) {
      if (end > 0) walk.Walk(held.substr(0, end), take);
    }
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 0) == 0) scan.Offer();
    while (!cancelled() && poll(&ready, 1, kLookEveryMs) == 0) {
    }
    if (cancelled()) return;
    const ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    held.append(chunk.data(), static_cast<std::size_t>(got));
  }
  if (!held.empty()) walk.Walk(held, take);
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

namespace {

// Where each item goes once scanned, in walk order: its lines to the output, its messages to
// standard error, its counts to the totals and the progress line.
class ItemWriter {
 public:
  ItemWriter(LineWriter& writer, LineOutput& lines, ProgressLine& progress)
      : writer_(writer), lines_(lines), progress_(progress) {}

  void Take(const WalkItem& item, ScannedItem&& scanned) {
    lines_.Append(writer_.Next(scanned.lines));
    if (!scanned.subject.empty()) subject_ = std::move(scanned.subject);
    if (!scanned.messages.empty()) progress_.Message(scanned.messages);
    totals_ += scanned.totals;
    if (progress_.Due()) progress_.Update(totals_, item.Path());
  }

  const Totals& totals() const { return totals_; }
  const std::string& subject() const { return subject_; }

 private:
  LineWriter& writer_;
  LineOutput& lines_;
  ProgressLine& progress_;
  Totals totals_;
  std::string subject_;
};

// Whether `fd` is the terminal standard error shows the progress line on.
bool SharesTheTerminal(int fd) {
  struct stat out {}, err {};
  return isatty(fd) && isatty(STDERR_FILENO) && fstat(fd, &out) == 0 &&
         fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

// The run's own output, where it lies in a tree being walked: never to be scanned.
std::vector<WalkOptions::Skipped> OwnOutput(const std::string& target, const OutputFile& file) {
  std::vector<WalkOptions::Skipped> skipped;
  const std::string written = file.hidden().empty() ? target : file.hidden();
  const std::size_t slash = written.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : written.substr(0, slash + 1);
  struct stat status {};
  if (stat(directory.c_str(), &status) == 0) {
    skipped.push_back({status.st_dev, status.st_ino, written.substr(slash + 1)});
  }
  return skipped;
}

// Tells what went wrong with the cache, in one line: the run goes on without it.
void WarnOfCache(const Options& options, const std::string& warning, ProgressLine& progress) {
  if (warning.empty()) return;
  progress.Message("zeblix-inventory: --cache: " + TerminalText(*options.cache) + ": " +
                   TerminalText(warning) + "\n");
}

// A nightly job's manners: the disk only when no one else wants it, and the CPU likewise.
void BeNice() {
  constexpr int kWhoProcess = 1, kClassIdle = 3, kClassShift = 13;
  syscall(SYS_ioprio_set, kWhoProcess, 0, kClassIdle << kClassShift);
  setpriority(PRIO_PROCESS, 0, 19);
}

// Walks every path named, then those of the list, or else the current directory.
void WalkAll(const Options& options, int list, TreeWalk& walk, OrderedScan& scan) {
  const auto add = [&](WalkItem&& item) { scan.Add(std::move(item)); };
  for (const std::string& path : options.paths) {
    if (path == "-") {
      add({.name = path, .named = true, .standard_input = true});
    } else {
      walk.Walk(path, add);
    }
  }
  if (list >= 0) {
    WalkList(list, options.null_separated ? '\0' : '\n', walk, scan, options.archive_limits.cancel);
  } else if (options.paths.empty()) {
    walk.Walk(".", add);
  }
}

// What a scan's events depend on besides the file: the engine's build, and the options that
// change what it tells (not those that only change how lines are written).
std::string CacheFingerprint(const Options& options) {
  const ArchiveLimits& limits = options.archive_limits;
  return EngineBuild() + " archives=" + std::to_string(options.archives) +
         " hash=" + std::to_string(options.hash) + " depth=" + std::to_string(limits.depth) +
         " max-bytes=" + std::to_string(limits.max_bytes) +
         " max-ratio=" + std::to_string(limits.max_ratio) +
         " max-memory=" + std::to_string(limits.max_memory);
}

std::int64_t RealTimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace

std::unique_ptr<ItemCache> OpenCache(const Options& options, std::string& warning) {
  if (!options.cache) return nullptr;
  CacheOptions cache{*options.cache, CacheFingerprint(options), options.cache_max_bytes, RealTimeNs};
  if (const auto now = options.cache_clock_ns) cache.clock = [now = *now] { return now; };
  return ItemCache::Open(cache, warning);
}

ScanSettings SettingsOf(const Options& options, const LineWriter& writer, bool progress_shown,
                        ReadAhead* read_ahead) {
  return {.writer = &writer,
          .host = options.host.empty() ? HostName() : options.host,
          .count_bytes = progress_shown,
          // Pages asked for ahead would be in the cache before the scan could note them absent.
          .read_ahead = options.nice ? nullptr : read_ahead,
          .archives = options.archives,
          .archive_limits = options.archive_limits,
          .hash = options.hash,
          .empty = options.empty,
          .all_layers = options.all_layers,
          // -q silences them, but where they have no other place
          .errors_on_stderr = options.progress != Progress::kNever || !writer.WritesErrors(),
          .subject = OneFile(options),
          .nice = options.nice,
          .sha256 = options.hash || options.cache ? FetchSha256() : nullptr};
}

PassedOver WalkAndScan(const Options& options, const ScanSettings& settings, int list,
                       const OrderedScan::Sink& sink,
                       std::vector<WalkOptions::Skipped> skip) {
  const unsigned jobs = options.jobs != 0 ? options.jobs
                        : options.nice    ? 1
                                          : std::max(1u, std::thread::hardware_concurrency());
  WalkOptions walk_options{.follow_links = options.follow_links,
                           .max_depth = options.max_depth,
                           .one_file_system = options.one_file_system,
                           .exclude = options.exclude,
                           .exclude_fs = options.exclude_fs,
                           .skip = std::move(skip),
                           .cancel = options.archive_limits.cancel,
                           .whole_directory = IsOciLayout};
  ShareOpenFiles(RaiseOpenFileLimit(), jobs, walk_options);
  ReadAhead idle;
  TreeWalk walk(walk_options, settings.read_ahead != nullptr ? *settings.read_ahead : idle);
  ForkGate gate;
  ScanSettings gated = settings;
  if (jobs > 1) gated.archive_limits.fork_gate = &gate;
  OrderedScan scan(jobs, gated, sink);
  walk.OnDirectoriesHeld([&] { scan.Drain(); });
  WalkAll(options, list, walk, scan);
  scan.Finish();
  return walk.passed_over();
}

int RunInventory(const Options& options, std::string_view tool_version) {
  const int list = !options.files_from      ? -1
                   : *options.files_from == "-" ? STDIN_FILENO
                                                : open(options.files_from->c_str(), O_RDONLY | O_CLOEXEC);
  if (options.files_from && list < 0) {
    std::fprintf(stderr, "zeblix-inventory: --files-from: %s: %s\n",
                 TerminalText(*options.files_from).c_str(), std::strerror(errno));
    return 2;
  }
  OutputFile file;
  if (options.output && !file.Open(*options.output)) {
    std::fprintf(stderr, "zeblix-inventory: --output: %s: %s\n",
                 TerminalText(*options.output).c_str(), std::strerror(errno));
    return 1;
  }
  if (options.nice) BeNice();
  const int out = options.output ? fileno(file.stream()) : STDOUT_FILENO;
  const bool progress_shown = ShowsProgress(options.progress);
  ProgressLine progress(progress_shown, progress_shown && options.progress != Progress::kNever);
  LineOutput lines(out, SharesTheTerminal(out) ? LineOutput::AroundWrite(
                                                     [&](bool before) { progress.Hide(before); })
                                               : nullptr);
  lines.StopOnSignals();
  ReadAhead read_ahead;
  const std::unique_ptr<LineWriter> line_writer = MakeLineWriter(options.format);
  ItemWriter writer(*line_writer, lines, progress);
  lines.Append(line_writer->Begin());
  std::string warning;
  const std::unique_ptr<ItemCache> cache = OpenCache(options, warning);
  WarnOfCache(options, warning, progress);
  ScanSettings settings = SettingsOf(options, *line_writer, progress_shown, &read_ahead);
  settings.cache = cache.get();
  if (options.hash && settings.sha256 == nullptr) {
    std::fprintf(stderr, "zeblix-inventory: --hash: libcrypto could not be loaded\n");
    return 1;
  }
  const PassedOver passed = WalkAndScan(
      options, settings, list,
      [&](const WalkItem& item, ScannedItem&& scanned) { writer.Take(item, std::move(scanned)); },
      options.output ? OwnOutput(*options.output, file) : std::vector<WalkOptions::Skipped>());
  if (list > STDIN_FILENO) close(list);
  if (cache != nullptr) WarnOfCache(options, cache->Finish(), progress);
  lines.Append(line_writer->End(tool_version, writer.subject()));
  // The document is put in place whole even when some paths could not be read: those are errors
  // of their own, and the exit status says so.
  const bool written = lines.Flush() && (!options.output || file.Commit());
  const int error = errno;
  progress.Finish(writer.totals(), {passed.kernel, passed.excluded, passed.special});
  if (!written) {
    // Lines that could not be written are lost to the reader: say so, and fail.
    std::fprintf(stderr, "zeblix-inventory: %s: %s\n",
                 options.output ? TerminalText(*options.output).c_str() : "standard output",
                 std::strerror(error));
    return 1;
  }
  return writer.totals().errors == 0 ? 0 : 1;
}
