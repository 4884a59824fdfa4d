// Where an operation's trace lines go. The scanning engine writes its lines through a Trace, so
// that the same code serves the utility, whose lines go to the SVRLOG trace, and the library,
// whose scans trace nothing: a default Trace selects no mask and never formats a line.
#pragma once

#include <cstdarg>
#include <cstdint>

class Trace {
 public:
  using Selects = bool (*)(std::uint32_t mask);
  using Write = void (*)(std::uint32_t mask, const char* name, const char* format,
                         std::va_list args);

  // A trace that writes nothing.
  constexpr Trace() = default;
  constexpr Trace(Selects selects, Write write) : selects_(selects), write_(write) {}

  // True when a line with this mask would be written. Hot loops ask once, outside the loop.
  bool selects(std::uint32_t mask) const { return selects_ != nullptr && selects_(mask); }

  // Writes "name: message" when the mask is selected; the message carries its own line end.
  void operator()(std::uint32_t mask, const char* name, const char* format, ...) const
      __attribute__((format(printf, 4, 5)));

 private:
  Selects selects_ = nullptr;
  Write write_ = nullptr;
};
