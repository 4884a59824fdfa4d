// The diagnostic trace. SVRLOG is read once, on the first call, and holds a mask whose two low bits
// select the level (1 failures and notices, 2 trace) and whose other bits select components. A
// message is written to standard error, prefixed by the caller's trace name, only when its own mask
// shares a level bit and a component bit with SVRLOG.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "log/trace.h"

// Trace state, filled in by the first call of svr_log or svr_log_selects.
extern std::uint8_t svr_loginit_flag;
extern std::uint64_t svr_logint;
extern std::uint64_t svr_logmode;
extern std::uint64_t svr_logcomponent;

// Level bits of a message mask.
inline constexpr std::uint32_t kLogLevelMask = 0x3;

// Parses SVRLOG text exactly as strtoul with base 0 does: optional sign, 0x/0 prefixes, stops at
// the first character that does not fit, all bits set on overflow.
std::uint64_t svr_parse_logint(const char* text);

// True when a message with this mask would be written under the given SVRLOG value.
constexpr bool svr_mask_selected(std::uint32_t mask, std::uint64_t logint) {
  return (mask & logint & kLogLevelMask) != 0 &&
         (mask & logint & ~std::uint64_t{kLogLevelMask}) != 0;
}

// Reads SVRLOG (once) and writes the enabling line when it is set.
void svr_log_init();

// Sets the trace state from SVRLOG's text, or from its absence (nullptr), as svr_log_init does.
void svr_log_init_from(const char* value);

// True when a message with this mask would be written now. Hot loops call this once, outside the
// loop, so that a trace that is off costs nothing per byte.
inline bool svr_log_selects(std::uint32_t mask) {
  if (svr_loginit_flag == 0) svr_log_init();
  return svr_mask_selected(mask, svr_logint);
}

// Writes "name: message" to standard error when the mask is selected, and flushes. The message
// carries its own line end; arguments are never treated as formats.
void svr_log(std::uint32_t mask, const char* name, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// svr_log with the message's arguments in a va_list.
void svr_vlog(std::uint32_t mask, const char* name, const char* format, std::va_list args)
    __attribute__((format(printf, 3, 0)));

// The SVRLOG trace as a Trace, for the scanning engine.
Trace SvrTrace();
