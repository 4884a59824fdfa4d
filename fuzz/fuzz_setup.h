// What the fuzz entries share: the trace state is set directly rather than read from the
// environment. Reports and traces are thrown away by the runner (libFuzzer's -close_fd_mask=3,
// or the replay's own redirection).
#pragma once

#include <cstdint>

#include "log/svr_log.h"

// Sets the trace as SVRLOG would with this value.
inline void SetTrace(std::uint64_t logint) {
  svr_loginit_flag = 1;
  svr_logint = logint;
  svr_logmode = logint & 3;
  svr_logcomponent = logint & ~std::uint64_t{3};
}
