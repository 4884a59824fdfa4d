// Look-ahead reading for cold disks. While one file is scanned, the kernel is asked for the first
// bytes of the files the walk will come to next, so that the disk serves many of them at once
// instead of one after another. Asking costs system calls, so it starts only once a read has had
// to wait for the disk: on a warm page cache it costs nothing.
//
// Where the kernel allows io_uring, the opens (and so the inodes) and the first reads of the coming
// files are queued on a ring and worked by the kernel, many at once, while the walk goes on; where
// it does not (an older kernel, a seccomp filter, io_uring_disabled), each file is opened and
// asked for in turn. Which, is chosen once, when the look-ahead starts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "scan/disk_waits.h"

class ReadAhead : public DiskWaits {
 public:
  // How many files the walk keeps asked for ahead of its position.
  static constexpr std::size_t kFiles = 64;
  // How much of each file is asked for; the kernel's own read-ahead takes over from there.
  static constexpr std::int64_t kHintBytes = std::int64_t{16} << 20;

  ReadAhead();
  virtual ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // True once a read has waited for the disk. Any thread may tell; one that walks asks.
  bool active() const { return active_.load(std::memory_order_relaxed); }
  void NoteWait() { active_.store(true, std::memory_order_relaxed); }
  bool seen() const override { return active(); }
  void Note() override { NoteWait(); }

  // True when the first byte of the open file is not in the page cache: a read would wait.
  static bool ReadWouldWait(int fd);

  // Asks for the first bytes of `name`, relative to the directory `dir_fd` (AT_FDCWD for a path),
  // when it is a regular file; `type` is its d_type from the directory listing, DT_UNKNOWN when
  // there is none. Never blocks on a pipe or device, never opens one that was listed as such,
  // and keeps at most kFiles files open, none of them in the process's table. One thread asks.
  virtual void Hint(int dir_fd, const char* name, unsigned char type);

  // To be called before `dir_fd` is closed: waits until no queued open still needs it.
  void Release(int dir_fd);

 private:
  class Queue;
  // Opens the file, asks for its first bytes, and closes it, all before returning.
  static void HintNow(int dir_fd, const char* name, unsigned char type);

  std::atomic<bool> active_ = false;
  bool chosen_ = false;  // whether the ring was tried
  std::unique_ptr<Queue> queue_;
};
