// What zeblix-inventory tells on standard error while it works: a one-line live count, redrawn at
// most ten times a second and cleared at the end, the messages of errors, and a summary line. The
// live line is taken away before anything else is written to the terminal, and drawn again after,
// so that no line of output or message is ever written onto it. Safe to call from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

struct Totals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t records = 0;
  std::uint64_t errors = 0;
  std::uint64_t cached = 0;  // files told again from the cache, unread
  std::uint64_t cached_layers = 0;  // image layers told again from the cache, only checked

  Totals& operator+=(const Totals& more) {
    files += more.files;
    bytes += more.bytes;
    records += more.records;
    errors += more.errors;
    cached += more.cached;
    cached_layers += more.cached_layers;
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

  // Writes messages (whole lines) to standard error, the live line out of their way.
  void Message(std::string_view lines);
  // Takes the live line away (`hide`), or draws it again, around other text on the terminal.
  void Hide(bool hide);

  // What the walk passed over: directories on the kernel's file systems, paths the user
  // excluded, and special files (FIFOs, sockets, devices) found in the trees.
  struct PassedOver {
    std::uint64_t kernel = 0;
    std::uint64_t excluded = 0;
    std::uint64_t special = 0;
  };
  // Clears the line and writes the summary, if asked for: the totals, and what was passed over.
  void Finish(const Totals& totals, const PassedOver& passed_over);

 private:
  double Seconds() const;
  void Draw();  // with the lock held

  bool live_;
  bool summary_;
  bool drawn_ = false;
  bool hidden_ = false;
  std::string line_;  // the live line as last drawn
  std::mutex mutex_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_draw_;
};
