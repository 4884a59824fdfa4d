// zeblix-inventory: the version records of whole trees of product files, as JSON Lines or CSV.
#include <cstdio>
#include <string>

#include "inventory/inventory.h"
#include "inventory/options.h"

int main(int argc, char** argv) {
  Options options;
  std::string message;
  switch (ParseOptions(argc, argv, options, message)) {
    case ParseOutcome::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case ParseOutcome::kVersion:
      std::printf("zeblix-inventory %s\n", OwnVersion().c_str());
      return 0;
    case ParseOutcome::kUsageError:
      std::fprintf(stderr, "zeblix-inventory: %s (see 'zeblix-inventory --help')\n",
                   message.c_str());
      return 2;
    case ParseOutcome::kRun:
      break;
  }
  return RunInventory(options);
}
