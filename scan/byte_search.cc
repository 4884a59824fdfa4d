// The sweeps compare each byte and its neighbours against the wanted bytes, 64 (AVX-512), 32
// (AVX2) or 16 (SSE2) positions at a time; the machine's best kernel is chosen once, at run time.
// The last positions of a buffer, whose neighbours the vector loads cannot reach, go through the
// portable loops.
#include "scan/byte_search.h"

#include <array>
#include <cstring>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZEBLIX_X86 1
#endif

namespace {

bool IsFirstByte(std::uint8_t byte) {
  return (byte & static_cast<std::uint8_t>(~kFirstBytesDifference)) == kMagicMiddle;
}

bool IsScanStop(const std::uint8_t* data, std::size_t at) {
  if (!IsFirstByte(data[at])) return false;
  const std::uint8_t next = data[at + 1];
  return next == kEyeCatchSecond || (at > 0 && (data[at - 1] ^ next) == kMagicSidesDifference);
}

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

std::size_t FindScanStopPortable(const std::uint8_t* data, std::size_t from, std::size_t size) {
  for (std::size_t at = from; at + 1 < size; ++at) {
    if (IsScanStop(data, at)) return at;
  }
  return size - 1;
}

#ifdef ZEBLIX_X86

// AVX-512BW: a compare yields its 64-bit mask directly, and the second compare of a pair only
// looks where the first one matched.
constexpr std::size_t kAvx512Step = 64;

__attribute__((target("avx512bw"))) std::size_t FindPairStartAvx512(const std::uint8_t* data,
                                                                    std::size_t size,
                                                                    std::uint8_t first,
                                                                    std::uint8_t second) {
  const __m512i want_first = _mm512_set1_epi8(static_cast<char>(first));
  const __m512i want_second = _mm512_set1_epi8(static_cast<char>(second));
  std::size_t at = 0;
  for (; at + kAvx512Step + 1 <= size; at += kAvx512Step) {
    const __m512i here = _mm512_loadu_si512(data + at);
    const __m512i next = _mm512_loadu_si512(data + at + 1);
    const __mmask64 pairs =
        _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(here, want_first), next, want_second);
    if (pairs != 0) return at + static_cast<std::size_t>(__builtin_ctzll(pairs));
  }
  return at + FindPairStartPortable(data + at, size - at, first, second);
}

__attribute__((target("avx512bw"))) std::size_t FindEitherPairAvx512(const std::uint8_t* data,
                                                                     std::size_t size,
                                                                     std::uint8_t a,
                                                                     std::uint8_t b) {
  const __m512i want_a = _mm512_set1_epi8(static_cast<char>(a));
  const __m512i want_b = _mm512_set1_epi8(static_cast<char>(b));
  std::size_t at = 0;
  for (; at + kAvx512Step + 1 <= size; at += kAvx512Step) {
    const __m512i here = _mm512_loadu_si512(data + at);
    const __m512i next = _mm512_loadu_si512(data + at + 1);
    const __mmask64 pairs =
        _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(here, want_a), next, want_b) |
        _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(here, want_b), next, want_a);
    if (pairs != 0) return at + static_cast<std::size_t>(__builtin_ctzll(pairs));
  }
  return at + FindEitherPairPortable(data + at, size - at, a, b);
}

// Byte indices that shift a block by one byte, taking the byte beyond its edge from the block
// after it (next) or before it (before), for the two-table byte permute of AVX-512VBMI.
constexpr std::size_t kBlock512 = 64;
constexpr std::uint8_t kSecondTable = 64;
constexpr auto kNextIndex = [] {
  std::array<std::uint8_t, kBlock512> index{};
  for (std::size_t i = 0; i < kBlock512; ++i) index[i] = static_cast<std::uint8_t>(i + 1);
  return index;
}();
constexpr auto kBeforeIndex = [] {
  std::array<std::uint8_t, kBlock512> index{};
  index[0] = kSecondTable + kBlock512 - 1;
  for (std::size_t i = 1; i < kBlock512; ++i) index[i] = static_cast<std::uint8_t>(i - 1);
  return index;
}();

// Each block is loaded once; its neighbours' bytes come from the blocks around it by permutes.
// Three compares a block.
__attribute__((target("avx512bw,avx512vbmi"))) std::size_t FindScanStopAvx512(
    const std::uint8_t* data, std::size_t from, std::size_t size) {
  std::size_t at = from;
  if (at == 0) {
    if (size > 1 && IsScanStop(data, 0)) return 0;
    at = 1;
  }
  if (at + 2 * kBlock512 > size) return FindScanStopPortable(data, at, size);
  const __m512i next_index = _mm512_loadu_si512(kNextIndex.data());
  const __m512i before_index = _mm512_loadu_si512(kBeforeIndex.data());
  const __m512i fold = _mm512_set1_epi8(static_cast<char>(~kFirstBytesDifference));
  const __m512i middle = _mm512_set1_epi8(static_cast<char>(kMagicMiddle));
  const __m512i second = _mm512_set1_epi8(static_cast<char>(kEyeCatchSecond));
  const __m512i sides_difference = _mm512_set1_epi8(static_cast<char>(kMagicSidesDifference));
  __m512i previous = _mm512_set1_epi8(static_cast<char>(data[at - 1]));
  __m512i here = _mm512_loadu_si512(data + at);
  for (; at + 2 * kBlock512 <= size; at += kBlock512) {
    const __m512i following = _mm512_loadu_si512(data + at + kBlock512);
    const __m512i next = _mm512_permutex2var_epi8(here, next_index, following);
    const __m512i before = _mm512_permutex2var_epi8(here, before_index, previous);
    const __mmask64 firsts = _mm512_cmpeq_epi8_mask(_mm512_and_si512(here, fold), middle);
    const __mmask64 stops =
        _mm512_mask_cmpeq_epi8_mask(firsts, next, second) |
        _mm512_mask_cmpeq_epi8_mask(firsts, _mm512_xor_si512(before, next), sides_difference);
    if (stops != 0) return at + static_cast<std::size_t>(__builtin_ctzll(stops));
    previous = here;
    here = following;
  }
  return FindScanStopPortable(data, at, size);
}

// AVX2: 64 positions a step, one load per 32 bytes. Each wanted byte gives a 64-bit mask, and a
// pair is a bit of the second byte's mask whose left neighbour is set in the first byte's mask;
// the first byte's top bit is carried to the next step.
__attribute__((target("avx2"))) inline std::uint64_t Mask64(const std::uint8_t* data,
                                                            __m256i want) {
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 32));
  const auto low_bits =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, want)));
  const auto high_bits =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, want)));
  return low_bits | (std::uint64_t{high_bits} << 32);
}

// Bits where a pair ends: `second` set and `first` set one byte before.
inline std::uint64_t PairEnds(std::uint64_t first, std::uint64_t second, std::uint64_t carry) {
  return second & ((first << 1) | carry);
}

constexpr std::size_t kAvx2Step = 64;

__attribute__((target("avx2"))) std::size_t FindPairStartAvx2(const std::uint8_t* data,
                                                              std::size_t size, std::uint8_t first,
                                                              std::uint8_t second) {
  const __m256i want_first = _mm256_set1_epi8(static_cast<char>(first));
  const __m256i want_second = _mm256_set1_epi8(static_cast<char>(second));
  std::uint64_t carry = 0;
  std::size_t at = 0;
  for (; at + kAvx2Step <= size; at += kAvx2Step) {
    const std::uint64_t firsts = Mask64(data + at, want_first);
    const std::uint64_t ends = PairEnds(firsts, Mask64(data + at, want_second), carry);
    if (ends != 0) return at + static_cast<std::size_t>(__builtin_ctzll(ends)) - 1;
    carry = firsts >> 63;
  }
  // A first byte just before the tail may pair with the tail's first byte.
  const std::size_t from = at - carry;
  return from + FindPairStartPortable(data + from, size - from, first, second);
}

__attribute__((target("avx2"))) std::size_t FindEitherPairAvx2(const std::uint8_t* data,
                                                               std::size_t size, std::uint8_t a,
                                                               std::uint8_t b) {
  const __m256i want_a = _mm256_set1_epi8(static_cast<char>(a));
  const __m256i want_b = _mm256_set1_epi8(static_cast<char>(b));
  std::uint64_t carry_a = 0;
  std::uint64_t carry_b = 0;
  std::size_t at = 0;
  for (; at + kAvx2Step <= size; at += kAvx2Step) {
    const std::uint64_t as = Mask64(data + at, want_a);
    const std::uint64_t bs = Mask64(data + at, want_b);
    const std::uint64_t ends = PairEnds(as, bs, carry_a) | PairEnds(bs, as, carry_b);
    if (ends != 0) return at + static_cast<std::size_t>(__builtin_ctzll(ends)) - 1;
    carry_a = as >> 63;
    carry_b = bs >> 63;
  }
  const std::size_t from = at - (carry_a | carry_b);
  return from + FindEitherPairPortable(data + from, size - from, a, b);
}

__attribute__((target("avx2"))) inline __m256i ScanStopsAvx2(const std::uint8_t* at) {
  const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
  const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at - 1));
  const __m256i firsts = _mm256_cmpeq_epi8(
      _mm256_and_si256(here, _mm256_set1_epi8(static_cast<char>(~kFirstBytesDifference))),
      _mm256_set1_epi8(static_cast<char>(kMagicMiddle)));
  const __m256i seconds = _mm256_or_si256(
      _mm256_cmpeq_epi8(next, _mm256_set1_epi8(static_cast<char>(kEyeCatchSecond))),
      _mm256_cmpeq_epi8(_mm256_xor_si256(before, next),
                        _mm256_set1_epi8(static_cast<char>(kMagicSidesDifference))));
  return _mm256_and_si256(firsts, seconds);
}

__attribute__((target("avx2"))) std::size_t FindScanStopAvx2(const std::uint8_t* data,
                                                             std::size_t from, std::size_t size) {
  constexpr std::size_t kBlock = 32;
  std::size_t at = from;
  if (at == 0) {
    if (size > 1 && IsScanStop(data, 0)) return 0;
    at = 1;
  }
  for (; at + 2 * kBlock + 1 <= size; at += 2 * kBlock) {
    const __m256i low = ScanStopsAvx2(data + at);
    const __m256i high = ScanStopsAvx2(data + at + kBlock);
    const __m256i any = _mm256_or_si256(low, high);
    if (_mm256_testz_si256(any, any) == 0) {
      const auto low_bits = static_cast<unsigned>(_mm256_movemask_epi8(low));
      return low_bits != 0 ? at + static_cast<std::size_t>(__builtin_ctz(low_bits))
                           : at + kBlock +
                                 static_cast<std::size_t>(__builtin_ctz(
                                     static_cast<unsigned>(_mm256_movemask_epi8(high))));
    }
  }
  return FindScanStopPortable(data, at, size);
}

// SSE2, which every x86-64 machine has: 16 positions a step.
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

std::size_t FindScanStopSse2(const std::uint8_t* data, std::size_t from, std::size_t size) {
  constexpr std::size_t kStep = 16;
  std::size_t at = from;
  if (at == 0) {
    if (size > 1 && IsScanStop(data, 0)) return 0;
    at = 1;
  }
  const __m128i sides_difference = _mm_set1_epi8(static_cast<char>(kMagicSidesDifference));
  const __m128i second = _mm_set1_epi8(static_cast<char>(kEyeCatchSecond));
  const __m128i fold = _mm_set1_epi8(static_cast<char>(~kFirstBytesDifference));
  const __m128i middle = _mm_set1_epi8(static_cast<char>(kMagicMiddle));
  for (; at + kStep + 1 <= size; at += kStep) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at - 1));
    const __m128i firsts = _mm_cmpeq_epi8(_mm_and_si128(here, fold), middle);
    const __m128i seconds =
        _mm_or_si128(_mm_cmpeq_epi8(next, second),
                     _mm_cmpeq_epi8(_mm_xor_si128(before, next), sides_difference));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(firsts, seconds)));
    if (mask != 0) return at + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  return FindScanStopPortable(data, at, size);
}

#endif  // ZEBLIX_X86

// The kernels of one instruction set, in SweepKernel order.
struct KernelSet {
  const char* name;
  std::size_t (*find_pair_start)(const std::uint8_t*, std::size_t, std::uint8_t, std::uint8_t);
  std::size_t (*find_either_pair)(const std::uint8_t*, std::size_t, std::uint8_t, std::uint8_t);
  std::size_t (*find_scan_stop)(const std::uint8_t*, std::size_t, std::size_t);
};

#ifdef ZEBLIX_X86
constexpr KernelSet kKernelSets[] = {
    {"portable", FindPairStartPortable, FindEitherPairPortable, FindScanStopPortable},
    {    "sse2",     FindPairStartSse2,     FindEitherPairSse2,     FindScanStopSse2},
    {    "avx2",     FindPairStartAvx2,     FindEitherPairAvx2,     FindScanStopAvx2},
    {  "avx512",   FindPairStartAvx512,   FindEitherPairAvx512,   FindScanStopAvx512},
};
#else
constexpr KernelSet kKernelSets[] = {
    {"portable", FindPairStartPortable, FindEitherPairPortable, FindScanStopPortable},
};
#endif

const KernelSet& SetOf(SweepKernel kernel) {
  const auto index = static_cast<std::size_t>(kernel);
  return kKernelSets[index < std::size(kKernelSets) ? index : 0];
}

}  // namespace

SweepKernel BestSweepKernel() {
#ifdef ZEBLIX_X86
  static const SweepKernel best =
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi")
          ? SweepKernel::kAvx512
      : __builtin_cpu_supports("avx2") ? SweepKernel::kAvx2
                                       : SweepKernel::kSse2;
  return best;
#else
  return SweepKernel::kPortable;
#endif
}

bool CanRun(SweepKernel kernel) {
  return kernel <= BestSweepKernel();
}

std::size_t FindPairStart(const std::uint8_t* data, std::size_t size, std::uint8_t first,
                          std::uint8_t second, SweepKernel kernel) {
  return SetOf(kernel).find_pair_start(data, size, first, second);
}

std::size_t FindEitherPair(const std::uint8_t* data, std::size_t size, std::uint8_t a,
                           std::uint8_t b, SweepKernel kernel) {
  return SetOf(kernel).find_either_pair(data, size, a, b);
}

std::size_t FindScanStop(const std::uint8_t* data, std::size_t from, std::size_t size,
                         SweepKernel kernel) {
  return size == 0 ? 0 : SetOf(kernel).find_scan_stop(data, from, size);
}

const char* SweepKernelName(SweepKernel kernel) {
  return SetOf(kernel).name;
}
