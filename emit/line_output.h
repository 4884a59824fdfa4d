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

  // Writes to `fd`; `around` (may be empty) is called with no other write under way.
  LineOutput(int fd, AroundWrite around);
  ~LineOutput();
  LineOutput(const LineOutput&) = delete;
  LineOutput& operator=(const LineOutput&) = delete;

  // Takes whole lines (or a whole part of a document) to be written. Waits only while a reader
  // that does not keep up has kHeldAtMost waiting.
  void Append(std::string_view text);
  // Writes everything held; false, with errno kept, once a write has failed.
  bool Flush();

  // From now on the lines are written by a thread of its own, and SIGINT, SIGTERM and SIGHUP write
  // the lines held before they end the process. Blocks them in this thread, so call before other
  // threads start.
  void StopOnSignals();

  // What is held before it is written at once, and the most held for a reader that does not keep
  // up; and the longest a line is held.
  static constexpr std::size_t kWrittenFrom = 64 * 1024;
  static constexpr std::size_t kHeldAtMost = std::size_t{16} << 20;
  static constexpr int kHeldMilliseconds = 200;

 private:
  // Writes what is held, in order with every other write.
  bool WriteHeld();
  static void* RunWatcher(void* output);
  void Watch();
  void Wake();

  int fd_;
  AroundWrite around_;
  std::mutex mutex_;        // held_ and the flags
  std::mutex write_mutex_;  // one write at a time, in the order taken
  std::condition_variable room_;
  std::string held_;
  int error_ = 0;
  bool watching_ = false;
  bool finished_ = false;
  sigset_t stops_{};
  pthread_t watcher_{};
  int stop_fd_ = -1;            // a signalfd of the stopping signals
  int wake_fds_[2] = {-1, -1};  // the watcher's end, and the end that wakes it
};
