// The sweeps compare each byte and its successor against the wanted pair, 32 (AVX2) or 16 (SSE2)
// positions at a time; the machine's best kernel is chosen at run time. The last positions of a
// buffer, whose successor the vector loads cannot reach, go through the portable loop.
#include "scan/byte_search.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZEBLIX_X86 1
#endif

namespace {

std::size_t FindPairStartPortable(const std::uint8_t* data, std::size_t size, std::uint8_t first,
                                  std::uint8_t second) {
  std::size_t at = 0;
  while (at < size) {
    const void* hit = std::memchr(data + at, first, size - at);
    if (hit == nullptr) return size;
    at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (at + 1 == size || data[at + 1] == second) return at;
    ++at;
  }
  return size;
}

std::size_t FindEitherPairPortable(const std::uint8_t* data, std::size_t size, std::uint8_t a,
                                   std::uint8_t b) {
  for (std::size_t at = 0; at + 1 < size; ++at) {
    const std::uint8_t x = data[at];
    const std::uint8_t y = data[at + 1];
    if ((x == a && y == b) || (x == b && y == a)) return at;
  }
  return size;
}

#ifdef ZEBLIX_X86

// Loads are unaligned: each step reads the block at `at` and the block one byte later.
__attribute__((target("avx2"))) std::size_t FindPairStartAvx2(const std::uint8_t* data,
                                                              std::size_t size, std::uint8_t first,
                                                              std::uint8_t second) {
  constexpr std::size_t kStep = 32;
  const __m256i want_first = _mm256_set1_epi8(static_cast<char>(first));
  const __m256i want_second = _mm256_set1_epi8(static_cast<char>(second));
  std::size_t at = 0;
  for (; at + kStep + 1 <= size; at += kStep) {
    const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + 1));
    const __m256i hits =
        _mm256_and_si256(_mm256_cmpeq_epi8(here, want_first), _mm256_cmpeq_epi8(next, want_second));
    if (const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(hits)); mask != 0) {
      return at + static_cast<std::size_t>(__builtin_ctz(mask));
    }
  }
  return at + FindPairStartPortable(data + at, size - at, first, second);
}

__attribute__((target("avx2"))) std::size_t FindEitherPairAvx2(const std::uint8_t* data,
                                                               std::size_t size, std::uint8_t a,
                                                               std::uint8_t b) {
  constexpr std::size_t kStep = 32;
  const __m256i want_a = _mm256_set1_epi8(static_cast<char>(a));
  const __m256i want_b = _mm256_set1_epi8(static_cast<char>(b));
  std::size_t at = 0;
  for (; at + kStep + 1 <= size; at += kStep) {
    const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + 1));
    const __m256i forward =
        _mm256_and_si256(_mm256_cmpeq_epi8(here, want_a), _mm256_cmpeq_epi8(next, want_b));
    const __m256i backward =
        _mm256_and_si256(_mm256_cmpeq_epi8(here, want_b), _mm256_cmpeq_epi8(next, want_a));
    const auto mask =
        static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(forward, backward)));
    if (mask != 0) return at + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  return at + FindEitherPairPortable(data + at, size - at, a, b);
}

std::size_t FindPairStartSse2(const std::uint8_t* data, std::size_t size, std::uint8_t first,
                              std::uint8_t second) {
  constexpr std::size_t kStep = 16;
  const __m128i want_first = _mm_set1_epi8(static_cast<char>(first));
  const __m128i want_second = _mm_set1_epi8(static_cast<char>(second));
  std::size_t at = 0;
  for (; at + kStep + 1 <= size; at += kStep) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
    const __m128i hits =
        _mm_and_si128(_mm_cmpeq_epi8(here, want_first), _mm_cmpeq_epi8(next, want_second));
    if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0) {
      return at + static_cast<std::size_t>(__builtin_ctz(mask));
    }
  }
  return at + FindPairStartPortable(data + at, size - at, first, second);
}

std::size_t FindEitherPairSse2(const std::uint8_t* data, std::size_t size, std::uint8_t a,
                               std::uint8_t b) {
  constexpr std::size_t kStep = 16;
  const __m128i want_a = _mm_set1_epi8(static_cast<char>(a));
  const __m128i want_b = _mm_set1_epi8(static_cast<char>(b));
  std::size_t at = 0;
  for (; at + kStep + 1 <= size; at += kStep) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
    const __m128i forward =
        _mm_and_si128(_mm_cmpeq_epi8(here, want_a), _mm_cmpeq_epi8(next, want_b));
    const __m128i backward =
        _mm_and_si128(_mm_cmpeq_epi8(here, want_b), _mm_cmpeq_epi8(next, want_a));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(forward, backward)));
    if (mask != 0) return at + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  return at + FindEitherPairPortable(data + at, size - at, a, b);
}

bool HasAvx2() {
  static const bool has_avx2 = __builtin_cpu_supports("avx2");
  return has_avx2;
}

#endif  // ZEBLIX_X86

}  // namespace

std::size_t FindPairStart(const std::uint8_t* data, std::size_t size, std::uint8_t first,
                          std::uint8_t second) {
#ifdef ZEBLIX_X86
  return HasAvx2() ? FindPairStartAvx2(data, size, first, second)
                   : FindPairStartSse2(data, size, first, second);
#else
  return FindPairStartPortable(data, size, first, second);
#endif
}

std::size_t FindEitherPair(const std::uint8_t* data, std::size_t size, std::uint8_t a,
                           std::uint8_t b) {
#ifdef ZEBLIX_X86
  return HasAvx2() ? FindEitherPairAvx2(data, size, a, b) : FindEitherPairSse2(data, size, a, b);
#else
  return FindEitherPairPortable(data, size, a, b);
#endif
}

const char* ByteSearchKernelName() {
#ifdef ZEBLIX_X86
  return HasAvx2() ? "avx2" : "sse2";
#else
  return "portable";
#endif
}
