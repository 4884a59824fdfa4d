// Look-ahead reading for cold disks. While one file is scanned, the kernel is asked for the first
// bytes of the files the walk will come to next, so that the disk serves many of them at once
// instead of one after another. Asking costs system calls, so it starts only once a read has had
// to wait for the disk: on a warm page cache it costs nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

class ReadAhead {
 public:
  // How many files the walk keeps asked for ahead of its position.
  static constexpr std::size_t kFiles = 64;
  // How much of each file is asked for; the kernel's own read-ahead takes over from there.
  static constexpr std::int64_t kHintBytes = std::int64_t{16} << 20;

  virtual ~ReadAhead() = default;

  // True once a read has waited for the disk. Any thread may tell; one that walks asks.
  bool active() const { return active_.load(std::memory_order_relaxed); }
  void NoteWait() { active_.store(true, std::memory_order_relaxed); }

  // True when the first byte of the open file is not in the page cache: a read would wait.
  static bool ReadWouldWait(int fd);

  // Asks for the first bytes of `name`, relative to the directory `dir_fd` (AT_FDCWD for a path),
  // when it is a regular file; `type` is its d_type from the directory listing, DT_UNKNOWN when
  // there is none. Never blocks on a pipe or device, and leaves no file open.
  virtual void Hint(int dir_fd, const char* name, unsigned char type);

 private:
  std::atomic<bool> active_ = false;
};
