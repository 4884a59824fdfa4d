// Watches a file's bytes for the first old-format magic, and keeps the 392 bytes of the record
// that starts with it. The old-format search is only ever needed after a block search that began
// at offset 0 and read to the end of the file, so noting the magic during that same pass spares
// reading the file a second time, and works for pipes too.
//
// Every magic, in either byte order, holds the byte 0x11 next to 0xAA: CC AA 11 DD or DD 11 AA
// CC. The watch examines the file's 0x11 bytes in file order, as far as the window's bytes let it
// judge them, so a magic is found by the same rule as a 32-bit window slid over the file: the one
// that ends first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/record_formats.h"

class MagicWatch {
 public:
  // Starts watching a file from the byte at `offset`; only a watch that starts at 0 sees the whole
  // file.
  void Restart(std::int64_t offset);
  bool StartedAt(std::int64_t offset) const { return start_ == offset; }

  // True until the first magic is found.
  bool looking() const { return !found_; }

  // The first file offset whose byte has not been examined yet.
  std::int64_t next() const { return next_; }

  // Examines the bytes before `to` that the window holds with two bytes to spare after them, or
  // all of them at the end of the file. The window holds file bytes [base, base + size).
  void Examine(const std::uint8_t* bytes, std::int64_t base, std::size_t size, std::int64_t to,
               bool at_end = false);

  // Marks the bytes before `to` examined: a sweep found no 0x11 next to 0xAA among them.
  void Skip(std::int64_t to) {
    if (next_ < to) next_ = to;
  }

  // Takes bytes read from the file at `offset`, to complete the record.
  void Capture(const std::uint8_t* data, std::size_t size, std::int64_t offset);

  bool found() const { return found_; }
  std::uint32_t magic() const { return magic_; }
  std::int64_t record_offset() const { return record_offset_; }
  // How many bytes of the record the file held, up to its full size.
  std::size_t captured() const { return captured_; }
  const std::uint8_t* record() const { return record_; }

 private:
  bool Judge(const std::uint8_t* bytes, std::int64_t base, std::int64_t end, std::int64_t middle);

  std::int64_t start_ = -1;
  std::int64_t next_ = 0;
  bool found_ = false;
  std::uint32_t magic_ = 0;
  std::int64_t record_offset_ = 0;
  std::size_t captured_ = 0;
  std::uint8_t record_[VersionInfo_V5::kSize] = {};
};
