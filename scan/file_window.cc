// The read window: aligned pieces, carried bytes, and the watch's look before bytes are dropped.
#include "scan/file_window.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "scan/magic_watch.h"

static_assert(FileWindow::kMinReadSize >= 1244 + FileWindow::kKeepBehind);

// The largest value a negative return may carry as an errno, as the kernel's own calls do.
constexpr std::ptrdiff_t kLargestErrno = 4095;

FileWindow::FileWindow(std::size_t read_size) : read_size_(std::max(read_size, kMinReadSize)) {
  const std::size_t total = 2 * kCarryRoom + read_size_;
  storage_.reset(new (std::nothrow) std::uint8_t[total]);
  if (storage_ == nullptr) return;
  const auto address = reinterpret_cast<std::uintptr_t>(storage_.get()) + kCarryRoom;
  piece_ = reinterpret_cast<std::uint8_t*>((address + kCarryRoom - 1) &
                                           ~(std::uintptr_t{kCarryRoom} - 1));
  end_ = storage_.get() + total;
  data_ = piece_;
}

void FileWindow::Reset(int fd, std::int64_t offset, MagicWatch* watch) {
  fd_ = fd;
  memory_ = {};
  reader_ = {};
  data_ = piece_;
  base_ = offset;
  head_ = 0;
  size_ = 0;
  at_end_ = false;
  read_error_ = 0;
  expected_end_ = 0;
  probe_wait_ = false;
  waited_ = false;
  watch_ = watch;
}

void FileWindow::Reset(std::span<const std::uint8_t> bytes, MagicWatch* watch) {
  Reset(-1, 0, watch);
  memory_ = bytes;
}

void FileWindow::Reset(ByteReader reader, MagicWatch* watch) {
  Reset(-1, 0, watch);
  reader_ = reader;
}

bool FileWindow::Refill(std::size_t keep) {
  keep = std::min(std::max(keep, kKeepBehind), size_);
  LetWatchExamine();
  std::uint8_t* carried = piece_ - keep;
  std::memmove(carried, data_ + size_ - keep, keep);
  base_ += static_cast<std::int64_t>(size_ - keep);
  data_ = carried;
  size_ = keep;
  head_ = keep;
  return ReadMore() > 0;
}

std::size_t FileWindow::Gather(std::size_t from, std::size_t count) {
  if (size_ - from >= count) return from;
  const std::size_t behind = std::min(from, kKeepBehind);
  const std::size_t drop = from - behind;
  if (static_cast<std::size_t>(end_ - data_) < from + count) {
    LetWatchExamine();
    std::memmove(storage_.get(), data_ + drop, size_ - drop);
    data_ = storage_.get();
    base_ += static_cast<std::int64_t>(drop);
    size_ -= drop;
    head_ -= std::min(head_, drop);
    from = behind;
  }
  while (size_ - from < count && ReadMore() > 0) {
  }
  return from;
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
  if (watch_ != nullptr) {
    watch_->Examine(data_, base_, size_, base_ + static_cast<std::int64_t>(size_), true);
  }
}

// Before bytes are dropped, the watch judges every byte it can.
void FileWindow::LetWatchExamine() {
  if (watch_ != nullptr)
    watch_->Examine(data_, base_, size_, base_ + static_cast<std::int64_t>(size_));
}

// One read into the free space. A read error ends the file like its end does, and is kept.
std::size_t FileWindow::ReadMore() {
  std::uint8_t* free = data_ + size_;
  const auto room = static_cast<std::size_t>(end_ - free);
  if (at_end_ || room == 0) return 0;
  if (expected_end_ > 0 && OffsetAt(size_) >= expected_end_) {
    at_end_ = true;
    return 0;
  }
  const std::size_t fresh = ReadSource(free, std::min(room, read_size_));
  if (fresh == 0) {
    at_end_ = true;
    return 0;
  }
  if (watch_ != nullptr) watch_->Capture(free, fresh, OffsetAt(size_));
  size_ += fresh;
  return fresh;
}

std::size_t FileWindow::ReadSource(std::uint8_t* into, std::size_t room) {
  if (reader_.read != nullptr) return ReadReader(into, room);
  if (fd_ < 0) {
    const auto consumed = static_cast<std::size_t>(OffsetAt(size_));
    const std::size_t take = std::min(room, memory_.size() - consumed);
    if (take > 0) std::memcpy(into, memory_.data() + consumed, take);
    return take;
  }
  if (probe_wait_) {
    probe_wait_ = false;
    if (const ssize_t got = ReadProbingWait(into, room); got >= 0) {
      return static_cast<std::size_t>(got);
    }
  }
  ssize_t got;
  do {
    got = read(fd_, into, room);
  } while (got < 0 && errno == EINTR);
  if (got < 0) read_error_ = errno;
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

// A reader that claims more bytes than it had room for has broken its promise: that ends the
// source as a failed read does.
std::size_t FileWindow::ReadReader(std::uint8_t* into, std::size_t room) {
  const std::ptrdiff_t got = reader_.read(reader_.source, into, room);
  if (got < 0 || static_cast<std::size_t>(got) > room) {
    read_error_ = got < 0 && -got <= kLargestErrno ? static_cast<int>(-got) : EIO;
    return 0;
  }
  return static_cast<std::size_t>(got);
}

// A read that takes only what the page cache holds; whatever it misses, the file waits for.
// Returns -1 when nothing was read, so that a plain read follows.
ssize_t FileWindow::ReadProbingWait(std::uint8_t* into, std::size_t room) {
  iovec piece{into, room};
  const ssize_t got = preadv2(fd_, &piece, 1, -1, RWF_NOWAIT);
  if (got < 0) {
    waited_ = errno == EAGAIN;
    return -1;
  }
  const std::int64_t wanted =
      expected_end_ > 0
          ? std::min<std::int64_t>(static_cast<std::int64_t>(room), expected_end_ - OffsetAt(size_))
          : 0;
  waited_ = got < wanted;
  return got;
}
