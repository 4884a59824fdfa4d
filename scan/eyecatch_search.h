// The eyecatcher match rule over bytes in memory. A byte that matches the next pattern byte
// extends the match; any other byte ends it, and only that byte is tried again as a new start.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "zeblix/version_block.h"

class MagicWatch;

inline constexpr std::size_t kEyeCatchPatternSize = zeblix::kEyeCatchSize;
using EyeCatchPattern = std::array<std::uint8_t, kEyeCatchPatternSize>;

// The 40-byte pattern, joined at run time from its two parts so that the image holds the whole
// eyecatcher only in the utility's own block.
EyeCatchPattern ComposeEyeCatch();

// Runs the rule over data[head, size), carrying the match length in `matched`; data[0, head)
// holds the bytes before (at least the partial match). Returns the index just past the byte that
// completes a 40-byte match (with `matched` at 40), or size. Between matches it leaps with a
// vector sweep to the next place where a match can get past its first byte. While `watch` is
// looking, the same sweep examines the bytes for an old-format magic; `base` is the file offset
// of data[0].
std::size_t SweepForEyeCatch(const std::uint8_t* data, std::size_t size, std::size_t head,
                             const EyeCatchPattern& pattern, std::size_t& matched,
                             MagicWatch* watch, std::int64_t base);
