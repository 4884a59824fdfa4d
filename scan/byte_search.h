// Fast sweeps over a read buffer for the only places where a version block or an old record can
// begin. Between such places the block search has no partial match and traces nothing, so the
// exact byte-at-a-time rule needs to run only around them.
#pragma once

#include <cstddef>
#include <cstdint>

// The first index k in [0, size) with data[k] == first and either data[k + 1] == second or k the
// last index (a pair that the next read may complete). Returns size when there is none.
std::size_t FindPairStart(const std::uint8_t* data, std::size_t size, std::uint8_t first,
                          std::uint8_t second);

// The first index k in [0, size - 1) with (data[k], data[k + 1]) equal to (a, b) or to (b, a).
// Returns size when there is none.
std::size_t FindEitherPair(const std::uint8_t* data, std::size_t size, std::uint8_t a,
                           std::uint8_t b);

// Which sweep the machine runs: "avx2", "sse2" or "portable".
const char* ByteSearchKernelName();
