#include "scan/file_window.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "scan/magic_watch.h"

FileWindow::FileWindow(std::size_t capacity)
    : buffer_(new (std::nothrow) std::uint8_t[std::max(capacity, kMinCapacity)]),
      capacity_(std::max(capacity, kMinCapacity)) {}

void FileWindow::Reset(int fd, std::int64_t offset, MagicWatch* watch) {
  fd_ = fd;
  base_ = offset;
  head_ = 0;
  size_ = 0;
  at_end_ = false;
  watch_ = watch;
}

bool FileWindow::Refill(std::size_t keep) {
  keep = std::min(keep, size_);
  const std::size_t drop = size_ - keep;
  std::memmove(buffer_.get(), buffer_.get() + drop, keep);
  base_ += static_cast<std::int64_t>(drop);
  size_ = keep;
  head_ = keep;
  return ReadMore() > 0;
}

std::size_t FileWindow::Gather(std::size_t from, std::size_t count) {
  if (size_ - from >= count) return from;
  std::memmove(buffer_.get(), buffer_.get() + from, size_ - from);
  base_ += static_cast<std::int64_t>(from);
  head_ -= std::min(head_, from);
  size_ -= from;
  while (size_ < count && ReadMore() > 0) {
  }
  return 0;
}

void FileWindow::SkipTo(std::int64_t offset) {
  while (OffsetAt(size_) < offset && Refill(0)) {
  }
  head_ = static_cast<std::size_t>(
      std::clamp<std::int64_t>(offset - base_, 0, static_cast<std::int64_t>(size_)));
}

void FileWindow::Drain() {
  while (Refill(0)) {
  }
}

// One read() into the free space. A read error ends the file like its end does.
std::size_t FileWindow::ReadMore() {
  if (at_end_) return 0;
  ssize_t got;
  do {
    got = read(fd_, buffer_.get() + size_, capacity_ - size_);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    at_end_ = true;
    return 0;
  }
  const auto fresh = static_cast<std::size_t>(got);
  if (watch_ != nullptr) watch_->Feed(buffer_.get() + size_, fresh);
  size_ += fresh;
  return fresh;
}
