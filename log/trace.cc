// The one place a Trace formats: only when its mask is selected.
#include "log/trace.h"

void Trace::operator()(std::uint32_t mask, const char* name, const char* format, ...) const {
  if (!selects(mask)) return;
  std::va_list args;
  va_start(args, format);
  write_(mask, name, format, args);
  va_end(args);
}
