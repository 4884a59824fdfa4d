// Replays a fuzz entry over files and folders of inputs, as a plain test: every seed and every
// input that once crashed must run clean under the sanitizers.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Reports and traces go to /dev/null. Only the standard streams are redirected, not the
// descriptors behind them, so that sanitizer reports still reach the real standard error.
void SilenceOutput() {
  if (std::FILE* null = std::fopen("/dev/null", "w"); null != nullptr) {
    stdout = null;
    stderr = null;
  }
}

void Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  SilenceOutput();
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path = argv[i];
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (!entry.is_regular_file()) continue;
        Replay(entry.path());
        ++count;
      }
    } else if (std::filesystem::is_regular_file(path)) {
      Replay(path);
      ++count;
    }
  }
  // No input at all means a wrong path, not a clean run.
  return count == 0 ? 1 : 0;
}
