// The recursive walk of zeblix-inventory. It streams: what it holds is one open directory per
// level of the path it is on, never the tree's list. Items come in walk order: the paths in the
// order given, and inside a directory its entries in the order the system lists them, each
// subdirectory walked where it is met.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scan/read_ahead.h"

struct WalkOptions {
  bool follow_links = false;     // descend through symbolic links to directories
  int max_depth = -1;            // levels below a named directory; -1: no limit
  bool one_file_system = false;  // stay on the named directory's file system
};

// A directory the walk has listed, held open while files found in it wait to be scanned, so that
// each is opened by its one name there rather than by its whole path.
class OpenDirectory {
 public:
  explicit OpenDirectory(int fd) : fd_(fd) {}
  ~OpenDirectory();
  OpenDirectory(const OpenDirectory&) = delete;
  OpenDirectory& operator=(const OpenDirectory&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// One thing the walk found: a file to scan, or a path that could not be examined.
struct WalkItem {
  std::string path = {};
  std::shared_ptr<const OpenDirectory> directory = nullptr;  // a file found in this directory
  std::size_t name_at = 0;                                   // where its name starts in `path`
  bool named = false;  // a path given by the user: scanned by its path, whatever it is
  int error = 0;       // errno: the path could not be examined or listed

  const char* name() const { return path.c_str() + name_at; }
};

class TreeWalk {
 public:
  TreeWalk(const WalkOptions& options, ReadAhead& read_ahead)
      : options_(options), read_ahead_(read_ahead) {}

  // Hands every item under `root` to `take`, in walk order.
  void Walk(const std::string& root, const std::function<void(WalkItem&&)>& take);

 private:
  // A directory on the path the walk is on.
  struct Level {
    DIR* directory;
    std::shared_ptr<const OpenDirectory> held;  // its descriptor, for the files found in it
    std::string prefix;                         // the directory's path and a slash
    int depth;  // of the entries listed here: 1 directly inside a named directory
    dev_t device;
    ino_t inode;
  };

  void WalkDirectory(int fd, const std::string& path, const std::function<void(WalkItem&&)>& take);
  void TakeEntry(Level& level, const char* name, unsigned char type,
                 const std::function<void(WalkItem&&)>& take);
  void PushLevel(DIR* directory, std::string prefix, int depth, const struct stat& status);
  bool OnPath(dev_t device, ino_t inode) const;

  WalkOptions options_;
  ReadAhead& read_ahead_;
  std::vector<Level> levels_;
  dev_t root_device_ = 0;
};
