// Watches the bytes of a file go by, in file order, for the first old-format magic, and keeps the
// 392 bytes of the record that starts with it. The old-format search is only ever needed after a
// block search that began at offset 0 and read to the end of the file, so noting the magic during
// that same pass spares reading the file a second time, and works for pipes too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/version_info.h"

class MagicWatch {
 public:
  // Starts watching a file from the byte at `offset`; only a watch that starts at 0 sees the whole
  // file.
  void Restart(std::int64_t offset);

  // Takes the next `size` bytes of the file.
  void Feed(const std::uint8_t* data, std::size_t size);

  // True when the watch has seen the file from this offset on.
  bool StartedAt(std::int64_t offset) const { return start_ == offset; }
  bool found() const { return found_; }
  std::uint32_t magic() const { return magic_; }
  std::int64_t record_offset() const { return record_offset_; }
  // How many bytes of the record the file held, up to its full size.
  std::size_t captured() const { return captured_; }
  const std::uint8_t* record() const { return record_; }

 private:
  void Found(std::uint32_t magic, std::int64_t record_offset);
  void Capture(const std::uint8_t* data, std::size_t size);

  std::int64_t start_ = -1;
  std::int64_t next_offset_ = 0;
  std::uint32_t window_ = 0;  // the last four bytes, newest in the low byte
  bool found_ = false;
  std::uint32_t magic_ = 0;
  std::int64_t record_offset_ = 0;
  std::size_t captured_ = 0;
  std::uint8_t record_[VersionInfo_V5::kSize] = {};
};
