// Trace name, masks and helpers shared by the block scanner and its old-format fallback, whose
// lines continue the scanner's own trace.
#pragma once

#include <cstdint>

#include "log/trace.h"
#include "scan/record_formats.h"

namespace scanner_trace {

inline constexpr const char* kName = "LoadVersionInfo()";
inline constexpr std::uint32_t kTrace = 0x202;
inline constexpr std::uint32_t kOpenFailure = 0x201;
inline constexpr std::uint32_t kReadingTrace = 0x10002;
inline constexpr std::uint32_t kReadFailure = 0x10001;
inline constexpr std::uint32_t kMatchTrace = 0x20002;
inline constexpr std::uint32_t kByteTrace = 0x80002;

// Offsets are 64-bit; the trace shows their low 32 bits.
inline int Low32(std::int64_t offset) {
  return static_cast<int>(static_cast<std::uint32_t>(offset));
}
inline unsigned Low32Hex(std::int64_t offset) {
  return static_cast<std::uint32_t>(offset);
}

// The closing lines of a scanner call.
inline ScanStatus TraceReturn(const Trace& trace, ScanStatus status) {
  trace(kTrace, kName, "returning %d\n", status);
  trace(kTrace, kName, "}\n");
  return status;
}

}  // namespace scanner_trace
