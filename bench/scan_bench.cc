// Micro-benchmarks of the in-memory scan, free of the page cache's noise: the eyecatcher sweep and
// the magic watch that together cover a file without a block, against the byte-at-a-time rule.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "scan/byte_search.h"
#include "scan/eyecatch_search.h"
#include "scan/magic_watch.h"

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;  // one read's worth, as the scanner sees it

std::vector<std::uint8_t> RandomBytes() {
  std::mt19937_64 random(42);
  std::vector<std::uint8_t> bytes(kBufferSize);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

// A quarter of the bytes start an eyecatcher or a magic, and every 64th pair is "Qu".
std::vector<std::uint8_t> NearMissBytes() {
  std::vector<std::uint8_t> bytes = RandomBytes();
  for (std::size_t i = 0; i < bytes.size(); i += 4) bytes[i] = (i % 8 == 0) ? 'Q' : 0x11;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 64) {
    bytes[i] = 'Q';
    bytes[i + 1] = 'u';
  }
  return bytes;
}

// One sweep serves the block search and the magic watch, as it does for a file without a block.
void SweepAndWatch(benchmark::State& state, const std::vector<std::uint8_t>& bytes) {
  const EyeCatchPattern pattern = ComposeEyeCatch();
  MagicWatch watch;
  for (auto _ : state) {
    std::size_t matched = 0;
    watch.Restart(0);
    for (std::size_t at = 0; at < bytes.size();) {
      at = SweepForEyeCatch(bytes.data(), bytes.size(), at, pattern, matched, &watch, 0);
      matched = 0;
    }
    watch.Examine(bytes.data(), 0, bytes.size(), static_cast<std::int64_t>(bytes.size()), true);
    benchmark::DoNotOptimize(matched);
    benchmark::DoNotOptimize(watch.found());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
  state.SetLabel(SweepKernelName());
}

// The rule as written: every byte steps the match counter and then the magic window.
void ByteAtATime(benchmark::State& state, const std::vector<std::uint8_t>& bytes) {
  const EyeCatchPattern pattern = ComposeEyeCatch();
  for (auto _ : state) {
    std::size_t matched = 0;
    std::size_t candidates = 0;
    for (const std::uint8_t byte : bytes) {
      if (byte == pattern[matched]) {
        if (++matched == pattern.size()) {
          ++candidates;
          matched = 0;
        }
      } else {
        matched = (byte == pattern[0]) ? 1 : 0;
      }
    }
    std::uint32_t window = 0;
    bool found = false;
    for (const std::uint8_t byte : bytes) {
      window = (window << 8) | byte;
      if (window == 0xDD11AACC || window == 0xCCAA11DD) {
        found = true;
        break;
      }
    }
    benchmark::DoNotOptimize(candidates);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_ScanRandom(benchmark::State& state) {
  SweepAndWatch(state, RandomBytes());
}
void BM_ScanNearMisses(benchmark::State& state) {
  SweepAndWatch(state, NearMissBytes());
}
void BM_ByteAtATimeRandom(benchmark::State& state) {
  ByteAtATime(state, RandomBytes());
}
void BM_ByteAtATimeNearMisses(benchmark::State& state) {
  ByteAtATime(state, NearMissBytes());
}

BENCHMARK(BM_ScanRandom);
BENCHMARK(BM_ScanNearMisses);
BENCHMARK(BM_ByteAtATimeRandom);
BENCHMARK(BM_ByteAtATimeNearMisses);

}  // namespace

BENCHMARK_MAIN();
