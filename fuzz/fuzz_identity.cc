// Fuzz entry: any bytes as a package's or an image's bookkeeping. The first byte chooses what they
// are: a .deb's control file, an RPM's lead and headers, or an archive's members (split at NUL
// bytes, named manifest.json, index.json, then blobs aaaa..., bbbb..., which the bytes may name).
// Nothing may crash or read outside its input, and whatever identity comes back must be one:
// words of printable ASCII, a sha256 digest.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/identity.h"

namespace {

bool IsWord(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

void CheckPackage(const std::optional<PackageIdentity>& package, const std::string& problem) {
  if (!package) {
    if (problem.empty()) __builtin_trap();
    return;
  }
  if (!IsWord(package->name) || !IsWord(package->version) || !IsWord(package->architecture)) {
    __builtin_trap();
  }
}

void Bookkeeping(std::string_view bytes) {
  static const std::array<std::string, 4> kNames = {
      "manifest.json", "./index.json", "blobs/sha256/" + std::string(64, 'a'),
      "blobs/sha256/" + std::string(64, 'b')};
  ImageBookkeeping book;
  for (std::size_t i = 0; !bytes.empty(); ++i) {
    const std::size_t end = std::min(bytes.find('\0'), bytes.size());
    const std::string& name = i < kNames.size() ? kNames[i] : kNames.back();
    book.Saw(name);
    if (book.Wants(name, static_cast<std::int64_t>(end))) book.Keep(name, bytes.substr(0, end));
    bytes.remove_prefix(std::min(end + 1, bytes.size()));
  }
  std::vector<std::string> problems;
  for (const Holder& image : book.Images(problems)) {
    const std::string& digest = image.image->digest;
    if (digest.size() != 71 || !digest.starts_with("sha256:")) __builtin_trap();
    for (const std::string& tag : image.image->tags) {
      if (!IsWord(tag)) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
  std::string problem;
  switch (data[0] % 3) {
    case 0:
      CheckPackage(ReadDebControl(text, problem), problem);
      break;
    case 1:
      if (const auto need = RpmHeadersSize(rest, problem); need && *need > kMostRpmHeaderBytes) {
        __builtin_trap();
      }
      problem.clear();
      CheckPackage(ReadRpmHeaders(rest, problem), problem);
      break;
    default:
      Bookkeeping(text);
  }
  return 0;
}
