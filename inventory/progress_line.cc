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
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  if (now < next_draw_) return;
  next_draw_ = now + kRedrawEvery;
  const double seconds = Seconds();
  char counts[160];
  std::snprintf(counts, sizeof counts, "%s, %.1f MB, %s, %.0f files/s  ",
                Counted(totals.files, "file").c_str(), static_cast<double>(totals.bytes) / 1e6,
                Counted(totals.records, "record").c_str(),
                seconds > 0 ? static_cast<double>(totals.files) / seconds : 0.0);
  line_ = counts + TerminalText(path);
  line_.resize(std::min(line_.size(), TerminalWidth() - 1));
  if (!hidden_) Draw();
}

void ProgressLine::Draw() {
  std::fprintf(stderr, "\r%s\033[K", line_.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressLine::Hide(bool hide) {
  if (!live_) return;
  std::lock_guard lock(mutex_);
  hidden_ = hide;
  if (hide && drawn_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
  } else if (!hide && !line_.empty()) {
    Draw();
  }
}

void ProgressLine::Message(std::string_view lines) {
  Hide(true);
  std::fwrite(lines.data(), 1, lines.size(), stderr);
  std::fflush(stderr);
  Hide(false);
}

void ProgressLine::Finish(const Totals& totals, const PassedOver& passed_over) {
  std::lock_guard lock(mutex_);
  if (drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
  line_.clear();
  if (summary_) {
    std::fprintf(stderr, "zeblix-inventory: %s, %.1f MB, %s, %s, %.2f s",
                 Counted(totals.files, "file").c_str(), static_cast<double>(totals.bytes) / 1e6,
                 Counted(totals.records, "record").c_str(), Counted(totals.errors, "error").c_str(),
                 Seconds());
    if (totals.cached > 0 || totals.cached_layers > 0) {
      std::fprintf(stderr, "; %s and %s from the cache", Counted(totals.cached, "file").c_str(),
                   Counted(totals.cached_layers, "layer").c_str());
    }
    if (passed_over.kernel > 0) {
      std::fprintf(stderr, "; %llu directories on kernel file systems (proc, sysfs, ...) not read",
                   static_cast<unsigned long long>(passed_over.kernel));
    }
    if (passed_over.excluded > 0) {
      std::fprintf(stderr, "; %llu paths excluded",
                   static_cast<unsigned long long>(passed_over.excluded));
    }
    if (passed_over.special > 0) {
      std::fprintf(stderr, "; %llu FIFOs, sockets and devices passed over",
                   static_cast<unsigned long long>(passed_over.special));
    }
    std::fputc('\n', stderr);
  }
  std::fflush(stderr);
}
