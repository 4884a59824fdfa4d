// Opening a file for each scanner call, and holding a stream open from one call to the next.
#include "scan/scan_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ScanSession::ScanSession(std::size_t read_size, const FileFacts& facts)
    : window_(read_size), facts_(facts) {}

ScanSession::~ScanSession() {
  Close();
}

bool ScanSession::Open(const char* path, std::int64_t offset) {
  if (held_) return true;
  Close();
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
  fd_ = facts_.name_in_dir != nullptr ? openat(facts_.dir_fd, facts_.name_in_dir, kFlags)
                                      : open(path, kFlags);
  if (fd_ < 0) return false;
  if (facts_.regular) {
    OpenRegular(offset, facts_.waits != nullptr && !facts_.waits->seen());
    return true;
  }
  struct stat status {};
  if (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
    // A stream is read from its first byte, so that the watch sees all of it.
    Hold(fd_);
    window_.SkipTo(offset);
    return true;
  }
  OpenRegular(offset, false);
  return true;
}

void ScanSession::OpenRegular(std::int64_t offset, bool probe_wait) {
  // A later call of a regular file needs no watch: the old format is looked for only when a call
  // from offset 0 finds no block.
  if (offset > 0) lseek(fd_, offset, SEEK_SET);
  watch_.Restart(offset);
  window_.Reset(fd_, offset, offset > 0 ? nullptr : &watch_);
  window_.ExpectEnd(facts_.size);
  if (offset == 0 && probe_wait) window_.ProbeWait();
}

void ScanSession::Hold(int fd, bool lent) {
  fd_ = fd;
  held_ = true;
  lent_ = lent;
  watch_.Restart(0);
  window_.Reset(fd, 0, &watch_);
}

template <typename Source>
void ScanSession::HoldWithoutDescriptor(Source source) {
  Close();
  held_ = true;
  watch_.Restart(0);
  window_.Reset(source, &watch_);
}

void ScanSession::Hold(std::span<const std::uint8_t> bytes) {
  HoldWithoutDescriptor(bytes);
}

void ScanSession::Hold(ByteReader reader) {
  HoldWithoutDescriptor(reader);
}

void ScanSession::End(bool more_to_come) {
  if (window_.waited() && facts_.waits != nullptr) facts_.waits->Note();
  if (!(held_ && more_to_come)) Close();
}

void ScanSession::WatchWholeFile() {
  if (!watch_.StartedAt(0)) {
    // Only a regular file can get here: a held source is watched from its first byte.
    lseek(fd_, 0, SEEK_SET);
    watch_.Restart(0);
    window_.Reset(fd_, 0, &watch_);
    window_.ExpectEnd(facts_.size);
  }
  window_.Drain();
}

void ScanSession::Close() {
  if (fd_ >= 0 && !lent_) close(fd_);
  fd_ = -1;
  held_ = false;
  lent_ = false;
}
