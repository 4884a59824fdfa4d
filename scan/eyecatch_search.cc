// The eyecatcher rule over a buffer, with the vector sweep between possible matches.
#include "scan/eyecatch_search.h"

#include <algorithm>
#include <string_view>

#include "scan/byte_search.h"
#include "scan/magic_watch.h"

// The one sweep that serves both formats looks for the eyecatcher's own first two bytes.
static_assert(zeblix::kEyeCatchHead[0] == kEyeCatchFirst &&
              zeblix::kEyeCatchHead[1] == kEyeCatchSecond);

EyeCatchPattern ComposeEyeCatch() {
  EyeCatchPattern pattern{};
  const std::string_view head = zeblix::kEyeCatchHead;
  const std::string_view tail = zeblix::kEyeCatchTail;
  std::copy(head.begin(), head.end(), pattern.begin());
  std::copy(tail.begin(), tail.end(), pattern.begin() + static_cast<std::ptrdiff_t>(head.size()));
  return pattern;
}

namespace {

// Where the next match that can get past its first byte may start, from index `from`. When the
// watch has examined everything before `from`, one sweep serves it too: a stop at a 0x11 is the
// watch's alone, and the sweep goes on after it.
std::size_t NextStart(const std::uint8_t* data, std::size_t size, std::size_t from,
                      const EyeCatchPattern& pattern, MagicWatch* watch, std::int64_t base) {
  for (;;) {
    const std::int64_t from_offset = base + static_cast<std::int64_t>(from);
    if (watch != nullptr && watch->looking() && watch->next() < from_offset) {
      watch->Examine(data, base, size, from_offset);
    }
    if (watch == nullptr || !watch->looking() || watch->next() != from_offset) {
      return from + FindPairStart(data + from, size - from, pattern[0], pattern[1]);
    }
    const std::size_t stop = FindScanStop(data, from, size);
    const std::int64_t stop_offset = base + static_cast<std::int64_t>(stop);
    watch->Skip(stop_offset);
    if (stop + 1 == size || data[stop] != kMagicMiddle) return stop;
    watch->Examine(data, base, size, stop_offset + 1);
    from = stop + 1;
  }
}

}  // namespace

// With no match past its first byte, no byte before the next "first byte, second byte" pair can
// start a match that gets further, so the sweep jumps there. A pending first byte is swept again,
// so that the pair it may start is not missed.
std::size_t SweepForEyeCatch(const std::uint8_t* data, std::size_t size, std::size_t head,
                             const EyeCatchPattern& pattern, std::size_t& matched,
                             MagicWatch* watch, std::int64_t base) {
  while (head < size) {
    if (matched <= 1 && head >= matched) {
      const std::size_t from = head - matched;
      const std::size_t skip = NextStart(data, size, from, pattern, watch, base) - from;
      if (matched == 0 || skip > 0) {
        head = from + skip;
        matched = 0;
        if (head == size) break;
      }
    }
    const std::uint8_t byte = data[head++];
    if (byte == pattern[matched]) {
      if (++matched == kEyeCatchPatternSize) return head;
    } else {
      matched = (byte == pattern[0]) ? 1 : 0;
    }
  }
  return size;
}
