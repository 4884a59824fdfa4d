// The trace facility. Messages are formatted into a 512-byte buffer and lines composed into a
// 640-byte one; a longer message or line is formatted again into a buffer of its exact size, so a
// long path is traced whole and nothing is written outside a buffer.
#include "log/svr_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

std::uint8_t svr_loginit_flag = 0;
std::uint64_t svr_logint = 0;
std::uint64_t svr_logmode = 0;
std::uint64_t svr_logcomponent = 0;

namespace {

constexpr std::size_t kMessageBufferSize = 512;
constexpr std::size_t kLineBufferSize = 640;

}  // namespace

std::uint64_t svr_parse_logint(const char* text) {
  // unsigned long is 64 bits on every platform we build for; the static_assert keeps it honest.
  static_assert(sizeof(unsigned long) == sizeof(std::uint64_t));
  return std::strtoul(text, nullptr, 0);
}

void svr_log_init() {
  svr_log_init_from(std::getenv("SVRLOG"));
}

void svr_log_init_from(const char* value) {
  if (value != nullptr) {
    svr_logint = svr_parse_logint(value);
    std::fprintf(stderr, "ZEBLIX logging enabled: SVRLOG = 0x%08x\n",
                 static_cast<unsigned>(svr_logint & 0xFFFFFFFFu));
    std::fflush(stderr);
  } else {
    svr_logint = 0;
  }
  svr_logmode = svr_logint & kLogLevelMask;
  svr_logcomponent = svr_logint & ~std::uint64_t{kLogLevelMask};
  svr_loginit_flag = 1;
}

void svr_log(std::uint32_t mask, const char* name, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  svr_vlog(mask, name, format, args);
  va_end(args);
}

void svr_vlog(std::uint32_t mask, const char* name, const char* format, std::va_list args) {
  if (!svr_log_selects(mask)) return;

  char message[kMessageBufferSize];
  std::vector<char> long_message;
  const char* text = message;
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(message, sizeof message, format, args);
  if (length >= static_cast<int>(sizeof message)) {
    long_message.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(long_message.data(), long_message.size(), format, again);
    text = long_message.data();
  }
  va_end(again);
  if (length < 0) return;

  char line[kLineBufferSize];
  std::vector<char> long_line;
  const char* out = line;
  int line_length = std::snprintf(line, sizeof line, "%s: %s", name, text);
  if (line_length >= static_cast<int>(sizeof line)) {
    long_line.resize(static_cast<std::size_t>(line_length) + 1);
    std::snprintf(long_line.data(), long_line.size(), "%s: %s", name, text);
    out = long_line.data();
  }
  if (line_length < 0) return;
  std::fwrite(out, 1, static_cast<std::size_t>(line_length), stderr);
  std::fflush(stderr);
}

Trace SvrTrace() {
  return Trace(svr_log_selects, svr_vlog);
}
