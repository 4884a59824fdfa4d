// Entries are judged by their listed type, so a plain file costs the walk no system call: it is
// handed on by its name in the open directory, where the scan opens it. Symbolic links and entries
// of unknown type are looked at; FIFOs and devices inside a tree are passed over, so the walk
// never waits on one. A socket is opened like a file, and so reported as a file that cannot be.
#include "inventory/tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_CLOEXEC | O_DIRECTORY;

unsigned char TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return DT_REG;
  if (S_ISDIR(mode)) return DT_DIR;
  if (S_ISSOCK(mode)) return DT_SOCK;
  if (S_ISLNK(mode)) return DT_LNK;
  return DT_UNKNOWN;  // FIFOs and devices: never read inside a tree
}

}  // namespace

OpenDirectory::~OpenDirectory() {
  close(fd_);
}

void TreeWalk::Walk(const std::string& root, const std::function<void(WalkItem&&)>& take) {
  struct stat status {};
  if (stat(root.c_str(), &status) != 0) {
    take({.path = root, .error = errno});
    return;
  }
  if (!S_ISDIR(status.st_mode)) {
    take({.path = root, .named = true});
    return;
  }
  if (options_.max_depth == 0) return;
  const int fd = open(root.c_str(), kDirectoryFlags);
  if (fd < 0) {
    take({.path = root, .error = errno});
    return;
  }
  root_device_ = status.st_dev;
  WalkDirectory(fd, root, take);
}

void TreeWalk::WalkDirectory(int fd, const std::string& path,
                             const std::function<void(WalkItem&&)>& take) {
  struct stat status {};
  DIR* directory = fstat(fd, &status) == 0 ? fdopendir(fd) : nullptr;
  if (directory == nullptr) {
    take({.path = path, .error = errno});
    close(fd);
    return;
  }
  PushLevel(directory, path.back() == '/' ? path : path + "/", 1, status);
  while (!levels_.empty()) {
    Level& level = levels_.back();
    errno = 0;
    const dirent* entry = readdir(level.directory);
    if (entry == nullptr) {
      if (errno != 0) take({.path = level.prefix, .error = errno});
      closedir(level.directory);
      levels_.pop_back();
      continue;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    TakeEntry(level, entry->d_name, entry->d_type, take);
  }
}

void TreeWalk::TakeEntry(Level& level, const char* name, unsigned char type,
                         const std::function<void(WalkItem&&)>& take) {
  const std::string path = level.prefix + name;
  const int dir_fd = dirfd(level.directory);
  struct stat status {};
  if (type == DT_UNKNOWN || type == DT_LNK) {
    if (fstatat(dir_fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return;
    type = TypeOf(status.st_mode);
  }
  bool through_link = false;
  if (type == DT_LNK) {
    if (fstatat(dir_fd, name, &status, 0) != 0) {
      // A link to nothing is no file; a loop of links is a path that cannot be examined.
      if (errno != ENOENT) take({.path = path, .error = errno});
      return;
    }
    type = TypeOf(status.st_mode);
    through_link = true;
  }
  if (type == DT_REG || type == DT_SOCK) {
    if (read_ahead_.active()) read_ahead_.Hint(dir_fd, name, type);
    take({.path = path, .directory = level.held, .name_at = level.prefix.size()});
    return;
  }
  if (type != DT_DIR || (through_link && !options_.follow_links)) return;
  if (options_.max_depth >= 0 && level.depth >= options_.max_depth) return;

  const int fd = openat(dir_fd, name, kDirectoryFlags | (options_.follow_links ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    take({.path = path, .error = errno});
    return;
  }
  if (fstat(fd, &status) != 0 || (options_.one_file_system && status.st_dev != root_device_)) {
    close(fd);
    return;
  }
  if (OnPath(status.st_dev, status.st_ino)) {
    close(fd);
    take({.path = path, .error = ELOOP});
    return;
  }
  DIR* directory = fdopendir(fd);
  if (directory == nullptr) {
    take({.path = path, .error = errno});
    close(fd);
    return;
  }
  PushLevel(directory, path + "/", level.depth + 1, status);
}

// The listing and a second descriptor of the same directory, which lives on while files found
// in it wait to be scanned; the listing is closed when it ends.
void TreeWalk::PushLevel(DIR* directory, std::string prefix, int depth, const struct stat& status) {
  const int held = fcntl(dirfd(directory), F_DUPFD_CLOEXEC, 0);
  levels_.push_back({directory, held >= 0 ? std::make_shared<const OpenDirectory>(held) : nullptr,
                     std::move(prefix), depth, status.st_dev, status.st_ino});
}

bool TreeWalk::OnPath(dev_t device, ino_t inode) const {
  return std::any_of(levels_.begin(), levels_.end(), [&](const Level& level) {
    return level.device == device && level.inode == inode;
  });
}
