// What zeblix-inventory tells on standard error while it works: a one-line live count, redrawn at
// most ten times a second and cleared at the end, and a summary line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

struct Totals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t records = 0;
  std::uint64_t errors = 0;

  Totals& operator+=(const Totals& more) {
    files += more.files;
    bytes += more.bytes;
    records += more.records;
    errors += more.errors;
    return *this;
  }
};

class ProgressLine {
 public:
  // `live`: redraw the count; `summary`: end with a summary line.
  ProgressLine(bool live, bool summary);

  bool live() const { return live_; }

  // True when the line is to be redrawn.
  bool Due() const { return live_ && std::chrono::steady_clock::now() >= next_draw_; }

  // Redraws the line when it is due, naming the path last written.
  void Update(const Totals& totals, std::string_view path);

  // Clears the line and writes the summary, if asked for: the totals, and the directories the
  // walk passed over on the kernel's file systems and by the user's exclusions.
  void Finish(const Totals& totals, std::uint64_t kernel_directories = 0,
              std::uint64_t excluded = 0);

 private:
  double Seconds() const;

  bool live_;
  bool summary_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_draw_;
};
