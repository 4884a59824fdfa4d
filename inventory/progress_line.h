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

  // Redraws the line when it is due, naming the path last written.
  void Update(const Totals& totals, std::string_view path);

  // Clears the line and writes the summary, if asked for.
  void Finish(const Totals& totals);

 private:
  double Seconds() const;

  bool live_;
  bool summary_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_draw_;
};
