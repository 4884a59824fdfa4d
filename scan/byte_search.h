// Fast sweeps over a read buffer for the only places where a version block or an old record can
// begin. Between such places the block search has no partial match and traces nothing, so the
// exact byte-at-a-time rule needs to run only around them.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes the sweeps look for: an eyecatcher begins "Qu"; an old-format magic (CC AA 11 DD, or
// DD 11 AA CC) holds 0x11 between 0xAA and 0xDD, in either byte order.
inline constexpr std::uint8_t kEyeCatchFirst = 'Q';
inline constexpr std::uint8_t kEyeCatchSecond = 'u';
inline constexpr std::uint8_t kMagicMiddle = 0x11;
inline constexpr std::uint8_t kMagicNeighbour = 0xAA;
inline constexpr std::uint8_t kMagicOuter = 0xDD;
// Whichever side each stands on, the two bytes around a magic's 0x11 differ in these bits.
inline constexpr std::uint8_t kMagicSidesDifference = kMagicNeighbour ^ kMagicOuter;
// 'Q' and 0x11 differ in one bit only, so one masked compare finds both.
inline constexpr std::uint8_t kFirstBytesDifference = kEyeCatchFirst ^ kMagicMiddle;
static_assert((kFirstBytesDifference & (kFirstBytesDifference - 1)) == 0);

// The machine's vector units decide which kernel sweeps; each gives the same answers. Each
// instruction set here includes the ones before it; kAvx512 needs AVX-512BW and AVX-512VBMI.
enum class SweepKernel { kPortable, kSse2, kAvx2, kAvx512 };

// The best kernel this machine runs, chosen once.
SweepKernel BestSweepKernel();

// True when this machine can run the kernel.
bool CanRun(SweepKernel kernel);

// The first index k in [0, size) with data[k] == first and either data[k + 1] == second or k the
// last index (a pair that the next read may complete). Returns size when there is none.
std::size_t FindPairStart(const std::uint8_t* data, std::size_t size, std::uint8_t first,
                          std::uint8_t second, SweepKernel kernel = BestSweepKernel());

// The first index k in [0, size - 1) with (data[k], data[k + 1]) equal to (a, b) or to (b, a).
// Returns size when there is none.
std::size_t FindEitherPair(const std::uint8_t* data, std::size_t size, std::uint8_t a,
                           std::uint8_t b, SweepKernel kernel = BestSweepKernel());

// One sweep for both formats: the first index k in [from, size - 1) where data[k] is 'Q' or 0x11
// and either data[k + 1] is 'u', or k > 0 and data[k - 1] ^ data[k + 1] is 0xAA ^ 0xDD. Every "Qu"
// and every 0x11 of a magic is such a place, and a few other places are too (the caller looks
// closer). Returns size - 1 when there is none: the last byte's neighbour is not known yet.
std::size_t FindScanStop(const std::uint8_t* data, std::size_t from, std::size_t size,
                         SweepKernel kernel = BestSweepKernel());

// The kernel's name: "portable", "sse2", "avx2" or "avx512".
const char* SweepKernelName(SweepKernel kernel = BestSweepKernel());
