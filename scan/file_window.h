// A fixed read buffer over one file: bytes are read with read() in large pieces, the unread tail
// and a few bytes behind the cursor are carried forward on each refill, and every byte keeps its
// absolute file offset. The file is never read twice: going back, for a rejected candidate block,
// stays inside the buffer, and each byte read is shown once, in file order, to the magic watch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class MagicWatch;

class FileWindow {
 public:
  // Enough for a whole candidate block plus the partial match carried before it.
  static constexpr std::size_t kMinCapacity = 2048;

  explicit FileWindow(std::size_t capacity);
  bool allocated() const { return buffer_ != nullptr; }

  // Starts reading `fd`, whose position is `offset`, with an empty buffer.
  void Reset(int fd, std::int64_t offset, MagicWatch* watch);

  const std::uint8_t* bytes() const { return buffer_.get(); }
  std::size_t head() const { return head_; }
  std::size_t size() const { return size_; }
  void set_head(std::size_t head) { head_ = head; }
  std::int64_t OffsetAt(std::size_t index) const {
    return base_ + static_cast<std::int64_t>(index);
  }

  // With every byte read, keeps the last `keep` bytes (a partial match) and reads more after
  // them. False at the end of the file.
  bool Refill(std::size_t keep);

  // Makes `count` bytes from index `from` present, as far as the file holds them, and returns
  // the index where the byte at `from` now lies.
  std::size_t Gather(std::size_t from, std::size_t count);

  // Reads and drops the bytes before `offset`, or up to the end of the file.
  void SkipTo(std::int64_t offset);

  // Reads and drops every byte up to the end of the file.
  void Drain();

 private:
  std::size_t ReadMore();

  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t capacity_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  std::int64_t base_ = 0;
  int fd_ = -1;
  bool at_end_ = false;
  MagicWatch* watch_ = nullptr;
};
