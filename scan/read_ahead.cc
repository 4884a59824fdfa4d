// Hints are open, posix_fadvise(WILLNEED), close. A directory entry listed as a regular file is
// opened without looking first; any other that may lead to one (a symbolic link, or an entry of
// unknown type) is looked at first, so that no device is ever opened, and a FIFO that replaced a
// file since the listing is opened without blocking.
#include "scan/read_ahead.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

void ReadAhead::Hint(int dir_fd, const char* name, unsigned char type) {
  if (type != DT_REG) {
    struct stat status {};
    if ((type != DT_LNK && type != DT_UNKNOWN) || fstatat(dir_fd, name, &status, 0) != 0 ||
        !S_ISREG(status.st_mode)) {
      return;
    }
  }
  const int fd = openat(dir_fd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  posix_fadvise(fd, 0, kHintBytes, POSIX_FADV_WILLNEED);
  close(fd);
}

bool ReadAhead::ReadWouldWait(int fd) {
  char byte;
  iovec piece{&byte, 1};
  return preadv2(fd, &piece, 1, 0, RWF_NOWAIT) < 0 && errno == EAGAIN;
}
