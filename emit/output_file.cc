// The hidden file's name is kept where a signal's handler can remove it with async-signal-safe
// calls only.
#include "emit/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

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
  // Past the file size limit a write fails with EFBIG, and the output is abandoned as any other.
  std::signal(SIGXFSZ, remove ? SIG_IGN : SIG_DFL);
}

// Names that stand for a descriptor or a device however they resolve: written through.
bool NamesADescriptor(const std::string& target) {
  return target.starts_with("/dev/") || target.starts_with("/proc/");
}

}  // namespace

OutputFile::~OutputFile() {
  Abandon();
}

bool OutputFile::Open(const std::string& target) {
  if (NamesADescriptor(target)) return OpenThrough(target);
  struct stat status {};
  if (lstat(target.c_str(), &status) != 0) {
    return errno == ENOENT && OpenHidden(target, /*replaces=*/false);
  }
  std::string path = target;
  if (S_ISLNK(status.st_mode)) {
    // The link stays: what it leads to is written, by the same rules.
    char* resolved = realpath(target.c_str(), nullptr);
    if (resolved == nullptr || stat(resolved, &status) != 0) {
      std::free(resolved);
      return OpenThrough(target);
    }
    path = resolved;
    std::free(resolved);
  }
  if (!S_ISREG(status.st_mode) || status.st_nlink > 1) return OpenThrough(path);
  return OpenHidden(path, /*replaces=*/true);
}

bool OutputFile::OpenThrough(const std::string& target) {
  const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return false;
  stream_ = fdopen(fd, "w");
  if (stream_ == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  target_ = target;
  return true;
}

bool OutputFile::OpenHidden(const std::string& target, bool replaces) {
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
  if (replaces && stat(target.c_str(), &replaced) == 0) {
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
  bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  // Only a file is made durable; a pipe or terminal has nothing to sync.
  if (written && !hidden_.empty()) written = fsync(fileno(stream_)) == 0;
  const int error = errno;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!written || !closed ||
      (!hidden_.empty() && std::rename(hidden_.c_str(), target_.c_str()) != 0)) {
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
