// zeblix_inventory_*: the command's options read by the command's own parser, the same walk and
// scan, and each item's lines handed over line by line instead of written.
#include "zeblix/inventory.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "inventory/options.h"

struct zeblix_inventory {
  Options options;
  std::atomic<bool> cancel = false;
  bool ran = false;
};

namespace {

// getopt keeps its place in globals of its own: one parse at a time.
std::mutex parsing;

// What a program has no use for, or that would write where the caller did not ask; empty if none.
std::string Refused(const Options& options) {
  if (options.output) return "--output: the lines are handed over, not written";
  if (options.progress != Progress::kWhenTerminal) return "--progress and --quiet: nothing is shown";
  if (options.format != OutputFormat::kJsonLines) return "--format: the lines are JSON Lines";
  if (!options.version_keys.empty()) return "--version-key: the command prints the keys";
  return {};
}

void Tell(const std::string& why, char* message, std::size_t size) {
  if (message == nullptr || size == 0) return;
  const std::size_t length = std::min(why.size(), size - 1);
  std::memcpy(message, why.data(), length);
  message[length] = '\0';
}

// Hands each line of the item's text to the caller; false once the caller asked to stop.
bool HandOver(std::string_view lines, zeblix_inventory_line_fn on_line, void* user) {
  for (std::size_t end; (end = lines.find('\n')) != std::string_view::npos;
       lines.remove_prefix(end + 1)) {
    if (on_line(lines.data(), end + 1, user) != 0) return false;
  }
  return true;
}

}  // namespace

int zeblix_inventory_new(int argc, const char* const* argv, zeblix_inventory** run, char* message,
                         size_t message_size) {
  try {
    auto created = std::make_unique<zeblix_inventory>();
    std::vector<char*> args{const_cast<char*>("zeblix-inventory")};
    for (int i = 0; i < argc; ++i) args.push_back(const_cast<char*>(argv[i]));
    args.push_back(nullptr);
    std::string why;
    ParseOutcome outcome;
    {
      std::lock_guard lock(parsing);
      outcome = ParseOptions(argc + 1, args.data(), created->options, why);
    }
    if (outcome == ParseOutcome::kHelp || outcome == ParseOutcome::kVersion) {
      why = "--help and --version: the command tells them";
    }
    if (why.empty()) why = Refused(created->options);
    if (!why.empty()) {
      Tell(why, message, message_size);
      return EINVAL;
    }
    created->options.archive_limits.cancel = &created->cancel;
    *run = created.release();
    return 0;
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

int zeblix_inventory_run(zeblix_inventory* run, zeblix_inventory_line_fn on_line, void* user) {
  if (run == nullptr || on_line == nullptr || run->ran) return EINVAL;
  run->ran = true;
  const Options& options = run->options;
  const int list = !options.files_from           ? -1
                   : *options.files_from == "-" ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                                : open(options.files_from->c_str(), O_RDONLY | O_CLOEXEC);
  if (options.files_from && list < 0) return errno;
  try {
    ReadAhead read_ahead;
    const std::unique_ptr<LineWriter> writer = MakeJsonLinesWriter();
    ScanSettings settings = SettingsOf(options, *writer, /*progress_shown=*/false, &read_ahead);
    std::string warning;  // a cache that cannot be used is left out; the lines are the same
    const std::unique_ptr<ItemCache> cache = OpenCache(options, warning);
    settings.cache = cache.get();
    settings.errors_on_stderr = false;
    if (options.hash && settings.sha256 == nullptr) return ELIBACC;
    std::uint64_t errors = 0;
    WalkAndScan(
        options, settings, list,
        [&](const WalkItem&, ScannedItem&& scanned) {
          errors += scanned.totals.errors;
          if (!run->cancel.load() && !HandOver(scanned.lines, on_line, user)) run->cancel = true;
        },
        {});
    if (list >= 0) close(list);
    if (cache != nullptr) cache->Finish();
    if (run->cancel.load()) return ECANCELED;
    return errors == 0 ? 0 : 1;
  } catch (const std::bad_alloc&) {
    if (list >= 0) close(list);
    return ENOMEM;
  }
}

void zeblix_inventory_cancel(zeblix_inventory* run) {
  if (run != nullptr) run->cancel = true;
}

void zeblix_inventory_free(zeblix_inventory* run) {
  delete run;
}
