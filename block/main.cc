// zeblix-block: writes a version block for a product's build, in the form its toolchain takes.
#include <cstdio>
#include <cstring>
#include <string>

#include "block/block_output.h"
#include "block/block_request.h"
#include "emit/output_file.h"
#include "text/text_forms.h"
#include "zeblix/zeblix.h"

int main(int argc, char** argv) {
  BlockRequest request;
  std::string message;
  switch (ParseBlockRequest(argc, argv, request, message)) {
    case RequestOutcome::kHelp:
      std::fputs(kBlockUsage, stdout);
      return 0;
    case RequestOutcome::kVersion:
      std::printf("zeblix-block %s\n", ZEBLIX_VERSION_STRING);
      return 0;
    case RequestOutcome::kRefused:
      std::fprintf(stderr, "zeblix-block: %s (see 'zeblix-block --help')\n", message.c_str());
      return 2;
    case RequestOutcome::kWrite:
      break;
  }
  const std::string text = BlockText(request);
  // A file is put in place once whole: a build that fails to write it keeps the old one, and
  // make does not take a cut file for an up-to-date one.
  OutputFile file;
  const bool opened = request.output.empty() || file.Open(request.output);
  std::FILE* out = request.output.empty() ? stdout : file.stream();
  const bool written =
      opened && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const bool closed =
      opened && (request.output.empty() ? std::fflush(out) == 0 : written && file.Commit());
  if (!written || !closed) {
    std::fprintf(stderr, "zeblix-block: %s: %s\n",
                 request.output.empty() ? "standard output" : TerminalText(request.output).c_str(),
                 std::strerror(errno));
    return 1;
  }
  return 0;
}
