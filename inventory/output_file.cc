#include "inventory/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

// The hidden file's name, for a signal's handler to remove: only async-signal-safe calls there.
char hidden_name[4096];

void RemoveAndDie(int signal) {
  if (hidden_name[0] != '\0') unlink(hidden_name);
  std::signal(signal, SIG_DFL);
  raise(signal);
}

void RemoveOnSignals(bool remove) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    std::signal(signal, remove ? RemoveAndDie : SIG_DFL);
  }
}

}  // namespace

OutputFile::~OutputFile() {
  Abandon();
}

bool OutputFile::Open(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string hidden = directory + "." + base + ".XXXXXX";
  if (hidden.size() >= sizeof hidden_name) {
    errno = ENAMETOOLONG;
    return false;
  }
  const int fd = mkstemp(hidden.data());
  if (fd < 0) return false;
  // The file put in place keeps the mode and owner of the one it replaces.
  struct stat replaced {};
  if (stat(target.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
    fchmod(fd, replaced.st_mode & 07777);
    if (replaced.st_uid != geteuid() || replaced.st_gid != getegid()) {
      (void)!fchown(fd, replaced.st_uid, replaced.st_gid);
    }
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  stream_ = fdopen(fd, "w");
  if (stream_ == nullptr) {
    const int error = errno;
    close(fd);
    unlink(hidden.c_str());
    errno = error;
    return false;
  }
  target_ = target;
  hidden_ = std::move(hidden);
  std::memcpy(hidden_name, hidden_.c_str(), hidden_.size() + 1);
  RemoveOnSignals(true);
  return true;
}

bool OutputFile::Commit() {
  const bool written = std::fflush(stream_) == 0 && fsync(fileno(stream_)) == 0;
  const int error = errno;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!written || !closed || std::rename(hidden_.c_str(), target_.c_str()) != 0) {
    const int why = !written ? error : errno;
    Abandon();
    errno = why;
    return false;
  }
  hidden_.clear();
  hidden_name[0] = '\0';
  RemoveOnSignals(false);
  return true;
}

void OutputFile::Abandon() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (hidden_.empty()) return;
  RemoveOnSignals(false);
  unlink(hidden_.c_str());
  hidden_.clear();
  hidden_name[0] = '\0';
}
