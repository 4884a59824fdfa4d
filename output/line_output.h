// A run's lines, streamed: they are held only briefly and written whole, at least every few tenths
// of a second, so that a reader (a pipe, tail -f, a job stopped by its time limit) has the lines of
// every file finished, and never half a line. SIGINT, SIGTERM and SIGHUP are taken by a thread of
// its own: it writes every whole line held, then lets the signal end the process as it would
// have (removing an unfinished --output file on the way).
#pragma once

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

class LineOutput {
 public:
  // What is told around each write to a terminal that also shows other text (a progress line):
  // `before` true just before the write, false just after.
  using AroundWrite = std::function<void(bool before)>;

  // Writes to `fd`; `around` (may be empty) is called under this output's lock.
  LineOutput(int fd, AroundWrite around);
  ~LineOutput();
  LineOutput(const LineOutput&) = delete;
  LineOutput& operator=(const LineOutput&) = delete;

  // Takes whole lines (or a whole part of a document) to be written.
  void Append(std::string_view text);
  // Writes everything held; false, with errno kept, once a write has failed.
  bool Flush();

  // From now on, SIGINT, SIGTERM and SIGHUP write the lines held before they end the process.
  // Blocks them in this thread, so call before other threads start.
  void StopOnSignals();

  // The most held before a write, and the longest a line is held.
  static constexpr std::size_t kHeldAtMost = 64 * 1024;
  static constexpr int kHeldMilliseconds = 200;

 private:
  bool WriteHeld();  // with the lock held
  static void* RunWatcher(void* output);
  void Watch();

  int fd_;
  AroundWrite around_;
  std::mutex mutex_;
  std::string held_;
  int error_ = 0;
  bool watching_ = false;
  bool finished_ = false;
  sigset_t stops_{};
  pthread_t watcher_{};
  int stop_fd_ = -1;              // a signalfd of the stopping signals
  int wake_fds_[2] = {-1, -1};    // the watcher's end, and the one that ends it
};
