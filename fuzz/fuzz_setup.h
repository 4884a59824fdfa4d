// What the fuzz entries share: the trace state is set directly rather than read from the
// environment, and inputs become files in memory. Reports and traces are thrown away by the runner (libFuzzer's -close_fd_mask=3,
// or the replay's own redirection).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "log/svr_log.h"

// Sets the trace as SVRLOG would with this value.
inline void SetTrace(std::uint64_t logint) {
  svr_loginit_flag = 1;
  svr_logint = logint;
  svr_logmode = logint & 3;
  svr_logcomponent = logint & ~std::uint64_t{3};
}

// A file in memory holding the input, read from its first byte, for the entries that scan files;
// the caller closes it.
inline int MemoryFile(const std::uint8_t* data, std::size_t size) {
  const int fd = memfd_create("zeblix-fuzz", MFD_CLOEXEC);
  if (fd < 0) __builtin_trap();
  for (std::size_t written = 0; written < size;) {
    const ssize_t got = write(fd, data + written, size - written);
    if (got <= 0) __builtin_trap();
    written += static_cast<std::size_t>(got);
  }
  if (lseek(fd, 0, SEEK_SET) != 0) __builtin_trap();
  return fd;
}
