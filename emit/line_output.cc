// The watcher waits on a signalfd for the stopping signals and on a pipe that ends it, waking
// every few tenths of a second to write what has been held that long.
#include "emit/line_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

LineOutput::LineOutput(int fd, AroundWrite around) : fd_(fd), around_(std::move(around)) {}

LineOutput::~LineOutput() {
  if (watching_) {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    Wake();
    pthread_join(watcher_, nullptr);
    close(stop_fd_);
    close(wake_fds_[0]);
    close(wake_fds_[1]);
    pthread_sigmask(SIG_UNBLOCK, &stops_, nullptr);
  }
  Flush();
}

void LineOutput::Wake() {
  (void)!write(wake_fds_[1], "x", 1);
}

void LineOutput::Append(std::string_view text) {
  std::unique_lock lock(mutex_);
  const bool was_short = held_.size() < kWrittenFrom;
  held_ += text;
  if (held_.size() < kWrittenFrom) return;
  if (!watching_) {
    lock.unlock();
    WriteHeld();
    return;
  }
  if (was_short) Wake();
  room_.wait(lock, [&] { return held_.size() < kHeldAtMost || error_ != 0 || finished_; });
}

bool LineOutput::Flush() {
  const bool written = WriteHeld();
  std::lock_guard lock(mutex_);
  if (!written) errno = error_;
  return written;
}

bool LineOutput::WriteHeld() {
  std::lock_guard writing(write_mutex_);
  std::string taken;
  {
    std::lock_guard lock(mutex_);
    taken.swap(held_);
    room_.notify_all();
    if (error_ != 0) return false;
  }
  if (taken.empty()) return true;
  if (around_) around_(true);
  int error = 0;
  for (std::size_t at = 0; at < taken.size();) {
    const ssize_t wrote = write(fd_, taken.data() + at, taken.size() - at);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) {
      error = errno;
      break;
    }
    at += static_cast<std::size_t>(wrote);
  }
  if (around_) around_(false);
  std::lock_guard lock(mutex_);
  if (error != 0) error_ = error;
  return error_ == 0;
}

void LineOutput::StopOnSignals() {
  sigemptyset(&stops_);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops_, signal);
  if (pthread_sigmask(SIG_BLOCK, &stops_, nullptr) != 0) return;
  stop_fd_ = signalfd(-1, &stops_, SFD_CLOEXEC);
  if (stop_fd_ < 0 || pipe2(wake_fds_, O_CLOEXEC) != 0 ||
      pthread_create(&watcher_, nullptr, RunWatcher, this) != 0) {
    pthread_sigmask(SIG_UNBLOCK, &stops_, nullptr);
    return;
  }
  watching_ = true;
}

void LineOutput::Watch() {
  for (;;) {
    pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {wake_fds_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, kHeldMilliseconds);
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
      char drained[64];
      (void)!read(wake_fds_[0], drained, sizeof drained);
    }
    WriteHeld();
    {
      std::lock_guard lock(mutex_);
      if (finished_) return;
    }
    if (ready <= 0 || (fds[0].revents & POLLIN) == 0) continue;
    signalfd_siginfo info{};
    if (read(stop_fd_, &info, sizeof info) != sizeof info) continue;
    // Every whole line taken is out: the signal now does what it would have done.
    WriteHeld();
    const int signal = static_cast<int>(info.ssi_signo);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signal);
  }
}

void* LineOutput::RunWatcher(void* output) {
  static_cast<LineOutput*>(output)->Watch();
  return nullptr;
}
