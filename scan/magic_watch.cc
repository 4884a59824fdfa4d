// The old-format magic, judged at each 0x11 that stands next to 0xAA, first end first.
#include "scan/magic_watch.h"

#include <algorithm>
#include <cstring>

#include "scan/byte_search.h"

namespace {

constexpr std::int64_t kMagicSize = 4;

// Four bytes in file order, the first in the high byte, as a window slid over the file holds them.
std::uint32_t WindowOf(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

bool IsMagic(std::uint32_t window) {
  const std::uint32_t magic = VersionInfo_V5::Magic();
  return window == magic || window == __builtin_bswap32(magic);
}

}  // namespace

void MagicWatch::Restart(std::int64_t offset) {
  start_ = offset;
  next_ = offset;
  found_ = false;
  magic_ = 0;
  record_offset_ = 0;
  captured_ = 0;
}

void MagicWatch::Examine(const std::uint8_t* bytes, std::int64_t base, std::size_t size,
                         std::int64_t to, bool at_end) {
  const std::int64_t end = base + static_cast<std::int64_t>(size);
  const std::int64_t limit = std::min(to, at_end ? end : end - 2);
  if (found_ || next_ >= limit) return;
  // A 0x11 at a position from next_ on, next to 0xAA, is in a pair that starts at next_ - 1 or
  // later and ends by limit.
  std::int64_t pair = std::max(next_ - 1, base);
  while (pair < limit) {
    const auto span = static_cast<std::size_t>(std::min(limit + 1, end) - pair);
    const std::size_t hit =
        FindEitherPair(bytes + (pair - base), span, kMagicNeighbour, kMagicMiddle);
    if (hit >= span) break;
    pair += static_cast<std::int64_t>(hit);
    const std::int64_t middle = bytes[pair - base] == kMagicMiddle ? pair : pair + 1;
    if (middle >= next_ && middle < limit && Judge(bytes, base, end, middle)) return;
    ++pair;
  }
  next_ = limit;
}

// A magic whose 0x11 stands at `middle` ends at middle + 1 in one byte order (CC AA 11 DD) and at
// middle + 2 in the other (DD 11 AA CC); the one ending first is tried first.
bool MagicWatch::Judge(const std::uint8_t* bytes, std::int64_t base, std::int64_t end,
                       std::int64_t middle) {
  for (const std::int64_t start : {middle - 2, middle - 1}) {
    if (start < base || start + kMagicSize > end) continue;
    const std::uint32_t window = WindowOf(bytes + (start - base));
    if (!IsMagic(window)) continue;
    found_ = true;
    magic_ = window;
    record_offset_ = start;
    captured_ = 0;
    Capture(bytes + (start - base), static_cast<std::size_t>(end - start), start);
    return true;
  }
  next_ = middle + 1;
  return false;
}

void MagicWatch::Capture(const std::uint8_t* data, std::size_t size, std::int64_t offset) {
  if (!found_ || offset != record_offset_ + static_cast<std::int64_t>(captured_)) return;
  const std::size_t take = std::min(size, sizeof record_ - captured_);
  std::memcpy(record_ + captured_, data, take);
  captured_ += take;
}
