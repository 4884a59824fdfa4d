#include "scan/magic_watch.h"

#include <algorithm>
#include <cstring>

#include "scan/byte_search.h"

namespace {

constexpr std::uint32_t kMagic = VersionInfo_V5::kMagic;
constexpr std::size_t kMagicSize = 4;
constexpr std::int64_t kMagicLastIndex = 3;
// The two middle bytes of the magic; they are the same pair in either byte order.
constexpr auto kMiddleHigh = static_cast<std::uint8_t>((kMagic >> 16) & 0xFF);
constexpr auto kMiddleLow = static_cast<std::uint8_t>((kMagic >> 8) & 0xFF);

bool IsMagic(std::uint32_t window) {
  return window == VersionInfo_V5::kMagic || window == VersionInfo_V5::kMagicReversed;
}

// Four bytes in file order, the first in the high byte, as the window holds them.
std::uint32_t WindowOf(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

// The index of the last byte of the first magic lying wholly in data, or size when none does.
std::size_t FindMagicEnd(const std::uint8_t* data, std::size_t size) {
  if (size < kMagicSize) return size;
  // Middle pairs may start at 1 .. size - 3, so that a byte before and a byte after exist.
  const std::uint8_t* middles = data + 1;
  const std::size_t middle_count = size - 2;
  for (std::size_t at = 0; at < middle_count;) {
    const std::size_t hit =
        at + FindEitherPair(middles + at, middle_count - at, kMiddleHigh, kMiddleLow);
    if (hit >= middle_count) return size;
    const std::size_t first = hit;  // index in data of the byte before the middle pair
    if (IsMagic(WindowOf(data + first))) return first + kMagicSize - 1;
    at = hit + 1;
  }
  return size;
}

}  // namespace

void MagicWatch::Restart(std::int64_t offset) {
  start_ = offset;
  next_offset_ = offset;
  window_ = 0;
  found_ = false;
  magic_ = 0;
  record_offset_ = 0;
  captured_ = 0;
}

void MagicWatch::Feed(const std::uint8_t* data, std::size_t size) {
  std::size_t used = 0;
  if (!found_) {
    // A magic ending in the first three bytes began in an earlier piece: follow the window.
    for (; used < size && used + 1 < kMagicSize; ++used) {
      window_ = (window_ << 8) | data[used];
      if (IsMagic(window_)) {
        Found(window_, next_offset_ + static_cast<std::int64_t>(used) - kMagicLastIndex);
        ++used;
        break;
      }
    }
    if (!found_ && size >= kMagicSize) {
      const std::size_t end = FindMagicEnd(data, size);
      used = std::min(end + 1, size);
      window_ = WindowOf(data + used - kMagicSize);
      if (end < size)
        Found(window_, next_offset_ + static_cast<std::int64_t>(end) - kMagicLastIndex);
    }
  }
  if (found_) Capture(data + used, size - used);
  next_offset_ += static_cast<std::int64_t>(size);
}

void MagicWatch::Found(std::uint32_t magic, std::int64_t record_offset) {
  found_ = true;
  magic_ = magic;
  record_offset_ = record_offset;
  for (std::size_t i = 0; i < kMagicSize; ++i) {
    record_[i] = static_cast<std::uint8_t>(magic >> (8 * (kMagicSize - 1 - i)));
  }
  captured_ = kMagicSize;
}

void MagicWatch::Capture(const std::uint8_t* data, std::size_t size) {
  const std::size_t take = std::min(size, sizeof record_ - captured_);
  std::memcpy(record_ + captured_, data, take);
  captured_ += take;
}
