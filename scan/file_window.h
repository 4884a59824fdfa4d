// A fixed read buffer over one file: bytes are read with read() in large pieces, the few bytes
// still needed (a partial match, the bytes around a possible magic) are carried forward in front
// of each new piece, and every byte keeps its absolute file offset. The file is never read twice:
// going back, for a rejected candidate block, stays inside the buffer, and the magic watch
// examines the bytes before they are dropped.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

class MagicWatch;

// A source that hands its bytes over in pieces: `read` places up to `room` bytes at `into` and
// returns how many, 0 at the end, or a negative errno.
struct ByteReader {
  std::ptrdiff_t (*read)(void* source, std::uint8_t* into, std::size_t room) = nullptr;
  void* source = nullptr;
};

class FileWindow {
 public:
  // Enough for a whole candidate block plus the bytes carried before it.
  static constexpr std::size_t kMinReadSize = 2048;
  // Bytes always kept before the cursor, so that a magic around it can still be judged.
  static constexpr std::size_t kKeepBehind = 4;

  explicit FileWindow(std::size_t read_size);
  bool allocated() const { return storage_ != nullptr; }

  // Starts reading `fd`, whose position is `offset`, with an empty buffer.
  void Reset(int fd, std::int64_t offset, MagicWatch* watch);

  // Starts reading bytes in memory, from their first, as if they were a file.
  void Reset(std::span<const std::uint8_t> bytes, MagicWatch* watch);

  // Starts reading what `reader` hands over, from its first byte.
  void Reset(ByteReader reader, MagicWatch* watch);

  // The file ends at `end`, as a status taken before the open said: no read is made to learn it.
  void ExpectEnd(std::int64_t end) { expected_end_ = end; }

  // The next read first asks for bytes already in the page cache only, to learn whether reading
  // this file waits for the disk.
  void ProbeWait() { probe_wait_ = true; }

  // True when the probe found bytes missing from the page cache.
  bool waited() const { return waited_; }

  // The errno of a read that failed, which ended the file early; 0 when none did.
  int read_error() const { return read_error_; }

  // The window: file bytes [base, base + size), and the cursor.
  const std::uint8_t* bytes() const { return data_; }
  std::size_t head() const { return head_; }
  std::size_t size() const { return size_; }
  void set_head(std::size_t head) { head_ = head; }
  std::int64_t base() const { return base_; }
  std::int64_t OffsetAt(std::size_t index) const {
    return base_ + static_cast<std::int64_t>(index);
  }
  // The watch that examines this window's bytes, if any.
  MagicWatch* watch() const { return watch_; }

  // With every byte read, keeps the last `keep` bytes (a partial match, at least kKeepBehind) and
  // reads the next piece after them. False at the end of the file.
  bool Refill(std::size_t keep);

  // Makes `count` bytes from index `from` present, as far as the file holds them, and returns
  // the index where the byte at `from` now lies.
  std::size_t Gather(std::size_t from, std::size_t count);

  // Reads and drops the bytes before `offset`, or up to the end of the file.
  void SkipTo(std::int64_t offset);

  // Reads to the end of the file and lets the watch examine every byte.
  void Drain();

 private:
  void LetWatchExamine();
  std::size_t ReadMore();
  std::size_t ReadSource(std::uint8_t* into, std::size_t room);
  std::size_t ReadReader(std::uint8_t* into, std::size_t room);
  ssize_t ReadProbingWait(std::uint8_t* into, std::size_t room);

  // Pieces are read to a cache-line boundary, with room in front for the carried bytes.
  static constexpr std::size_t kCarryRoom = 64;

  std::unique_ptr<std::uint8_t[]> storage_;
  std::size_t read_size_;
  std::uint8_t* piece_ = nullptr;  // where each piece is read, aligned
  std::uint8_t* end_ = nullptr;    // the end of the storage
  std::uint8_t* data_ = nullptr;   // the window's first byte
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  std::int64_t base_ = 0;
  int fd_ = -1;
  std::span<const std::uint8_t> memory_;  // the source when there is no fd and no reader
  ByteReader reader_;
  bool at_end_ = false;
  int read_error_ = 0;
  std::int64_t expected_end_ = 0;  // 0: unknown, read until a read returns nothing
  bool probe_wait_ = false;
  bool waited_ = false;
  MagicWatch* watch_ = nullptr;
};
