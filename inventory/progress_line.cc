// The live line is drawn with a carriage return and erased with "erase to end of line", cut to
// the terminal's width so that it never wraps; the path is escaped as every name that reaches a
// terminal is.
#include "inventory/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "text/text_forms.h"

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr std::size_t kDefaultWidth = 80;

std::size_t TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultWidth;
}

// "1 file", "2 files".
std::string Counted(std::uint64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

ProgressLine::ProgressLine(bool live, bool summary)
    : live_(live),
      summary_(summary),
      start_(std::chrono::steady_clock::now()),
      next_draw_(start_ + kRedrawEvery) {}

double ProgressLine::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressLine::Update(const Totals& totals, std::string_view path) {
  if (!live_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_draw_) return;
  next_draw_ = now + kRedrawEvery;
  const double seconds = Seconds();
  char counts[160];
  std::snprintf(counts, sizeof counts, "%s, %.1f MB, %s, %.0f files/s  ",
                Counted(totals.files, "file").c_str(), static_cast<double>(totals.bytes) / 1e6,
                Counted(totals.records, "record").c_str(),
                seconds > 0 ? static_cast<double>(totals.files) / seconds : 0.0);
  std::string line = counts + TerminalText(path);
  line.resize(std::min(line.size(), TerminalWidth() - 1));
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressLine::Finish(const Totals& totals, std::uint64_t kernel_directories,
                          std::uint64_t excluded) {
  if (drawn_) std::fputs("\r\033[K", stderr);
  if (summary_) {
    std::fprintf(stderr, "zeblix-inventory: %s, %.1f MB, %s, %s, %.2f s",
                 Counted(totals.files, "file").c_str(), static_cast<double>(totals.bytes) / 1e6,
                 Counted(totals.records, "record").c_str(), Counted(totals.errors, "error").c_str(),
                 Seconds());
    if (kernel_directories > 0) {
      std::fprintf(stderr, "; %llu directories on kernel file systems (proc, sysfs, ...) not read",
                   static_cast<unsigned long long>(kernel_directories));
    }
    if (excluded > 0) {
      std::fprintf(stderr, "; %llu paths excluded", static_cast<unsigned long long>(excluded));
    }
    std::fputc('\n', stderr);
  }
  std::fflush(stderr);
}
