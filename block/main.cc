// zeblix-block: writes a version block for a product's build, in the form its toolchain takes.
#include <cstdio>
#include <cstring>
#include <string>

#include "block/block_output.h"
#include "block/block_request.h"
#include "zeblix/zeblix.h"

int main(int argc, char** argv) {
  BlockRequest request;
  std::string message;
  switch (ParseBlockRequest(argc, argv, request, message)) {
    case RequestOutcome::kHelp:
      std::fputs(kBlockUsage, stdout);
      return 0;
    case RequestOutcome::kVersion:
      std::printf("zeblix-block %s\n", zeblix_version());
      return 0;
    case RequestOutcome::kRefused:
      std::fprintf(stderr, "zeblix-block: %s (see 'zeblix-block --help')\n", message.c_str());
      return 2;
    case RequestOutcome::kWrite:
      break;
  }
  const std::string text = BlockText(request);
  std::FILE* out = request.output.empty() ? stdout : std::fopen(request.output.c_str(), "wb");
  const bool written =
      out != nullptr && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const bool closed = out != nullptr && (out == stdout ? std::fflush(out) : std::fclose(out)) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "zeblix-block: %s: %s\n",
                 request.output.empty() ? "standard output" : request.output.c_str(),
                 std::strerror(errno));
    return 1;
  }
  return 0;
}
