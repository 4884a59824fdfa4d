// Opening a file for each scanner call, and holding a stream open from one call to the next.
#include "scan/scan_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ScanSession::ScanSession(std::size_t read_size) : window_(read_size) {}

ScanSession::~ScanSession() {
  Close();
}

bool ScanSession::Begin(const char* path, std::int64_t offset) {
  if (fd_ >= 0 && stream_) return true;
  Close();
  fd_ = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) return false;
  struct stat status {};
  stream_ = fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode);
  if (stream_ || offset <= 0) {
    // A stream is read from its first byte, so that the watch sees all of it.
    watch_.Restart(0);
    window_.Reset(fd_, 0, &watch_);
    window_.SkipTo(offset);
    return true;
  }
  // A later call of a regular file needs no watch: the old format is looked for only when a call
  // from offset 0 finds no block.
  lseek(fd_, offset, SEEK_SET);
  watch_.Restart(offset);
  window_.Reset(fd_, offset, nullptr);
  return true;
}

void ScanSession::End(bool more_to_come) {
  if (!(stream_ && more_to_come)) Close();
}

void ScanSession::WatchWholeFile() {
  if (!watch_.StartedAt(0)) {
    // Only a regular file can get here: a stream is watched from its first byte.
    lseek(fd_, 0, SEEK_SET);
    watch_.Restart(0);
    window_.Reset(fd_, 0, &watch_);
  }
  window_.Drain();
}

void ScanSession::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  stream_ = false;
}
