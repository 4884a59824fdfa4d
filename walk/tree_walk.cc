// Entries are judged by their listed type, so a plain file costs the walk no system call: it is
// handed on by its name in the open directory, where the scan opens it. Symbolic links and entries
// of unknown type are looked at; FIFOs, sockets and devices inside a tree are passed over, and
// counted, so the walk never waits on one.
// A directory the caller takes whole (an image's layout) is not walked but handed on as one item.
//
// A directory whose listing was closed to stay within the limit is found again, when the walk
// comes back up to it, as ".." of the child it is leaving (checked by device and inode), or else
// name by name from the directory the user named.
#include "walk/tree_walk.h"

#include <fcntl.h>
#include <fnmatch.h>
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
  if (S_ISLNK(mode)) return DT_LNK;
  return DT_FIFO;  // FIFOs, sockets and devices: never read inside a tree
}

bool IsSpecial(unsigned char type) {
  return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

bool IsDotOrDotDot(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

WalkItem ErrorOf(const std::shared_ptr<const PathNode>& directory, int error) {
  return {.folder = directory->parent, .name = directory->name, .error = error};
}

}  // namespace

OpenDirectory::~OpenDirectory() {
  close(fd_);
  --live_;
}

std::string WalkItem::Path() const {
  std::vector<const PathNode*> folders;
  std::size_t size = name.size();
  for (const PathNode* node = folder.get(); node != nullptr; node = node->parent.get()) {
    folders.push_back(node);
    size += node->name.size() + 1;
  }
  std::string path;
  path.reserve(size);
  for (auto node = folders.rbegin(); node != folders.rend(); ++node) {
    path += (*node)->name;
    if (path.back() != '/') path += '/';
  }
  return path += name;
}

TreeWalk::TreeWalk(const WalkOptions& options, ReadAhead& read_ahead)
    : options_(options), read_ahead_(read_ahead) {
  options_.open_listings = std::max<std::size_t>(options_.open_listings, 1);
  for (std::string pattern : options_.exclude) {
    Exclusion exclusion;
    if (pattern.size() > 1 && pattern.back() == '/') {
      exclusion.directories_only = true;
      pattern.pop_back();
    }
    if (pattern.size() > 1 && pattern.front() == '/') {
      exclusion.anchored = true;
      pattern.erase(0, 1);
    }
    exclusion.glob = std::move(pattern);
    exclusions_.push_back(std::move(exclusion));
  }
}

void TreeWalk::Walk(const std::string& root, const Take& take) {
  struct stat status {};
  if (stat(root.c_str(), &status) != 0) {
    take({.name = root, .error = errno});
    return;
  }
  if (!S_ISDIR(status.st_mode)) {
    take({.name = root, .named = true});
    return;
  }
  if (options_.max_depth == 0) return;
  const int fd = open(root.c_str(), kDirectoryFlags);
  if (fd < 0) {
    take({.name = root, .error = errno});
    return;
  }
  root_device_ = status.st_dev;
  path_ = root;
  if (path_.back() != '/') path_ += '/';
  root_end_ = path_.size();
  EnterDirectory(fd, std::make_shared<const PathNode>(PathNode{nullptr, root}), 1, take);
  Entry entry;
  while (!levels_.empty()) {
    if (options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed)) {
      while (!levels_.empty()) PopLevel([](WalkItem&&) {});
      return;
    }
    if (NextEntry(levels_.back(), entry)) {
      TakeEntry(entry, take);
    } else {
      PopLevel(take);
    }
  }
}

bool TreeWalk::NextEntry(Level& level, Entry& entry) {
  if (level.listing == nullptr) {
    if (level.next_kept == level.kept.size()) return false;
    entry = std::move(level.kept[level.next_kept++]);
    return true;
  }
  for (;;) {
    errno = 0;
    const dirent* found = readdir(level.listing);
    if (found == nullptr) {
      level.listing_error = errno;
      return false;
    }
    if (IsDotOrDotDot(found->d_name)) continue;
    entry.name = found->d_name;
    entry.type = found->d_type;
    return true;
  }
}

void TreeWalk::TakeEntry(const Entry& entry, const Take& take) {
  Level& level = levels_.back();
  for (const WalkOptions::Skipped& skipped : options_.skip) {
    if (level.device == skipped.device && level.inode == skipped.inode &&
        entry.name == skipped.name) {
      return;
    }
  }
  const char* name = entry.name.c_str();
  unsigned char type = entry.type;
  struct stat status {};
  if (type == DT_UNKNOWN || type == DT_LNK) {
    if (fstatat(level.fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return;
    type = TypeOf(status.st_mode);
  }
  bool through_link = false;
  if (type == DT_LNK) {
    if (fstatat(level.fd, name, &status, 0) != 0) {
      // A link to nothing is no file; a loop of links is a path that cannot be examined.
      if (errno != ENOENT) take({.folder = level.node, .name = entry.name, .error = errno});
      return;
    }
    type = TypeOf(status.st_mode);
    through_link = true;
  }
  if (IsSpecial(type)) {
    ++passed_over_.special;
    return;
  }
  const bool file = type == DT_REG;
  const bool directory = type == DT_DIR && (!through_link || options_.follow_links);
  if (!file && !directory) return;
  if (!exclusions_.empty() && Excluded(entry.name, directory)) {
    ++passed_over_.excluded;
    return;
  }
  if (file) {
    if (read_ahead_.active()) read_ahead_.Hint(level.fd, name, type);
    take({.folder = level.node, .name = entry.name, .directory = Held(level)});
    return;
  }
  if (options_.max_depth >= 0 && level.depth >= options_.max_depth) return;

  const int fd = openat(level.fd, name, kDirectoryFlags | (options_.follow_links ? 0 : O_NOFOLLOW));
  auto node = std::make_shared<const PathNode>(PathNode{level.node, entry.name});
  if (fd < 0) {
    take(ErrorOf(node, errno));
    return;
  }
  const std::size_t parent_end = level.path_end;
  const std::size_t depth = levels_.size();
  path_.append(entry.name) += '/';
  EnterDirectory(fd, std::move(node), level.depth + 1, take);
  if (levels_.size() == depth) path_.resize(parent_end);
}

void TreeWalk::EnterDirectory(int fd, std::shared_ptr<const PathNode> node, int depth,
                              const Take& take) {
  const auto fail = [&](int error) {
    take(ErrorOf(node, error));
    close(fd);
  };
  struct stat status {};
  if (fstat(fd, &status) != 0) return fail(errno);
  if (levels_.empty() || status.st_dev != levels_.back().device) {
    const bool elsewhere = !levels_.empty() && status.st_dev != root_device_;
    if ((options_.one_file_system && elsewhere) || PassOver(fd, status.st_dev)) {
      close(fd);
      return;
    }
  }
  if (on_path_.count({status.st_dev, status.st_ino}) != 0) return fail(ELOOP);
  if (options_.whole_directory && options_.whole_directory(fd)) {
    take({.folder = node->parent, .name = node->name,
          .layout = std::make_shared<const OpenDirectory>(fd, held_live_)});
    return;
  }
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) return fail(errno);
  if (open_levels_ >= options_.open_listings) CloseShallowestListing();
  on_path_.insert({status.st_dev, status.st_ino});
  Level level;
  level.node = std::move(node);
  level.fd = fd;
  level.listing = listing;
  level.path_end = path_.size();
  level.depth = depth;
  level.device = status.st_dev;
  level.inode = status.st_ino;
  levels_.push_back(std::move(level));
  ++open_levels_;
}

bool TreeWalk::PassOver(int fd, dev_t device) {
  const FileSystemKind& kind = kinds_.Of(fd, device);
  if (kind.pseudo) {
    ++passed_over_.kernel;
    return true;
  }
  for (const std::string& type : options_.exclude_fs) {
    if (fnmatch(type.c_str(), kind.type.c_str(), 0) == 0) {
      ++passed_over_.excluded;
      return true;
    }
  }
  return false;
}

// A pattern matches the entry's name, or its path below the directory the user named; one that
// began with a slash only that path, and one that ended with a slash only directories.
bool TreeWalk::Excluded(const std::string& name, bool directory) {
  const std::size_t end = path_.size();
  path_ += name;
  const char* below_root = path_.c_str() + root_end_;
  const bool excluded =
      std::any_of(exclusions_.begin(), exclusions_.end(), [&](const Exclusion& exclusion) {
        if (exclusion.directories_only && !directory) return false;
        return (!exclusion.anchored && fnmatch(exclusion.glob.c_str(), name.c_str(), 0) == 0) ||
               fnmatch(exclusion.glob.c_str(), below_root, FNM_PATHNAME) == 0;
      });
  path_.resize(end);
  return excluded;
}

void TreeWalk::PopLevel(const Take& take) {
  Level& level = levels_.back();
  if (level.listing_error != 0) take(ErrorOf(level.node, level.listing_error));
  if (levels_.size() >= 2) {
    Level& parent = levels_[levels_.size() - 2];
    // Reopened even with nothing left to list, so that its own parent can be found from it.
    if (parent.fd < 0 && !Reopen(parent, level.fd) && parent.next_kept < parent.kept.size()) {
      take(ErrorOf(parent.node, ENOENT));
      parent.kept.clear();
      parent.next_kept = 0;
    }
  }
  if (level.fd >= 0) read_ahead_.Release(level.fd);
  if (level.listing != nullptr) {
    closedir(level.listing);
  } else if (level.fd >= 0) {
    close(level.fd);
  }
  if (level.fd >= 0) --open_levels_;
  on_path_.erase({level.device, level.inode});
  levels_.pop_back();
  path_.resize(levels_.empty() ? 0 : levels_.back().path_end);
  first_open_ = std::min(first_open_, levels_.size());
}

// The rest of the listing is read into memory, so that the walk later goes on in the same order.
void TreeWalk::CloseShallowestListing() {
  while (levels_[first_open_].fd < 0) ++first_open_;
  Level& level = levels_[first_open_];
  read_ahead_.Release(level.fd);
  if (level.listing != nullptr) {
    Entry entry;
    while (NextEntry(level, entry)) level.kept.push_back(std::move(entry));
    closedir(level.listing);
    level.listing = nullptr;
  } else {
    close(level.fd);
  }
  level.fd = -1;
  level.held.reset();
  --open_levels_;
  ++first_open_;
}

bool TreeWalk::Reopen(Level& level, int child_fd) {
  const auto same = [&](int fd) {
    struct stat status {};
    return fd >= 0 && fstat(fd, &status) == 0 && status.st_dev == level.device &&
           status.st_ino == level.inode;
  };
  int fd = openat(child_fd, "..", kDirectoryFlags);
  if (!same(fd)) {
    // Reached through a symbolic link: ".." is the link target's parent. Follow the names.
    if (fd >= 0) close(fd);
    fd = OpenByNames(*level.node);
    if (!same(fd)) {
      if (fd >= 0) close(fd);
      return false;
    }
  }
  level.fd = fd;
  ++open_levels_;
  first_open_ = std::min(first_open_, static_cast<std::size_t>(&level - levels_.data()));
  return true;
}

int TreeWalk::OpenByNames(const PathNode& directory) const {
  std::vector<const PathNode*> names;
  for (const PathNode* node = &directory; node != nullptr; node = node->parent.get()) {
    names.push_back(node);
  }
  int fd = open(names.back()->name.c_str(), kDirectoryFlags);
  for (auto node = names.rbegin() + 1; node != names.rend() && fd >= 0; ++node) {
    const int next = openat(fd, (*node)->name.c_str(),
                            kDirectoryFlags | (options_.follow_links ? 0 : O_NOFOLLOW));
    close(fd);
    fd = next;
  }
  return fd;
}

std::shared_ptr<const OpenDirectory> TreeWalk::Held(Level& level) {
  if (level.held != nullptr) return level.held;
  if (make_room_ && held_live_ >= options_.held_directories) make_room_();
  const int fd = fcntl(level.fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;  // the file is then opened by its whole path
  level.held = std::make_shared<const OpenDirectory>(fd, held_live_);
  return level.held;
}
