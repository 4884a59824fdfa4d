// zeblix-inventory: the version records of whole trees of product files, as JSON Lines or CSV.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "inventory/inventory.h"
#include "inventory/options.h"
#include "text/version_key.h"
#include "zeblix/scan.h"
#include "zeblix/version_block.h"

// The program's own version block, which its build writes.
extern const zeblix_version_block own_block_zeblix_inventory;

namespace {

// The program's version, read from its own block with the library.
std::string OwnVersion() {
  std::string version;
  const std::span<const std::uint8_t> block(
      reinterpret_cast<const std::uint8_t*>(&own_block_zeblix_inventory),
      sizeof own_block_zeblix_inventory);
  zeblix::ScanBytes(block, [&](const zeblix::Record& record) {
    version = record.product_version;
    return zeblix::Control::kStop;
  });
  return version;
}

// For tests: the moment a --cache run takes as now (ZEBLIX_INVENTORY_CACHE_NOW, seconds since the
// epoch), so that a read can be placed next to a file's change.
void TakeCacheClock(Options& options) {
  const char* now = std::getenv("ZEBLIX_INVENTORY_CACHE_NOW");
  if (now == nullptr || *now == '\0') return;
  char* end = nullptr;
  const double seconds = std::strtod(now, &end);
  if (*end == '\0') options.cache_clock_ns = static_cast<std::int64_t>(seconds * 1e9);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string message;
  switch (ParseOptions(argc, argv, options, message)) {
    case ParseOutcome::kHelp:
      std::fputs(Usage().c_str(), stdout);
      return 0;
    case ParseOutcome::kVersion:
      std::printf("zeblix-inventory %s\n", OwnVersion().c_str());
      return 0;
    case ParseOutcome::kVersionKeys:
      for (const std::string& version : options.version_keys) {
        std::printf("%s\n", VersionKey(version).c_str());
      }
      return 0;
    case ParseOutcome::kUsageError:
      std::fprintf(stderr, "zeblix-inventory: %s (see 'zeblix-inventory --help')\n",
                   message.c_str());
      return 2;
    case ParseOutcome::kRun:
      break;
  }
  TakeCacheClock(options);
  return RunInventory(options, OwnVersion());
}
