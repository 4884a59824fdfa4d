// The live line is drawn with a carriage return and erased with "erase to end of line", cut to
// the terminal's width so that it never wraps; bytes a terminal would act on are shown as '?'.
#include "inventory/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr std::size_t kDefaultWidth = 80;

std::size_t TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultWidth;
}

std::string Printable(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return shown;
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
  std::snprintf(counts, sizeof counts, "%llu files, %.1f MB, %llu records, %.0f files/s  ",
                static_cast<unsigned long long>(totals.files),
                static_cast<double>(totals.bytes) / 1e6,
                static_cast<unsigned long long>(totals.records),
                seconds > 0 ? static_cast<double>(totals.files) / seconds : 0.0);
  std::string line = counts + Printable(path);
  line.resize(std::min(line.size(), TerminalWidth() - 1));
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressLine::Finish(const Totals& totals, std::uint64_t kernel_directories,
                          std::uint64_t excluded) {
  if (drawn_) std::fputs("\r\033[K", stderr);
  if (summary_) {
    std::fprintf(
        stderr, "zeblix-inventory: %llu files, %.1f MB, %llu records, %llu errors, %.2f s",
        static_cast<unsigned long long>(totals.files), static_cast<double>(totals.bytes) / 1e6,
        static_cast<unsigned long long>(totals.records),
        static_cast<unsigned long long>(totals.errors), Seconds());
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
