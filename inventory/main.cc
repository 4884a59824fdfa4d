// zeblix-inventory: the version records of whole trees of product files, as JSON Lines or CSV.
#include <cstdio>
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
  return RunInventory(options, OwnVersion());
}
