// The recursive walk of zeblix-inventory. It streams, and what it holds grows with the depth of
// the path it is on, never with the square of it: one path buffer, grown and cut back as the walk
// goes down and up, and a bounded number of open directory listings (a level whose listing had
// to be closed keeps its remaining entries and is reopened when the walk comes back to it).
// Items come in walk order: the paths in the order given, and inside a directory its entries in
// the order the system lists them, each subdirectory walked where it is met. The order is the
// same whatever the limits on open files.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <set>
#include <utility>
#include <vector>

#include "walk/file_system_kinds.h"
#include "walk/read_ahead.h"

struct WalkOptions {
  bool follow_links = false;              // descend through symbolic links to directories
  int max_depth = -1;                     // levels below a named directory; -1: no limit
  bool one_file_system = false;           // stay on the named directory's file system
  std::vector<std::string> exclude;       // globs: a path below a named directory, or a name
  std::vector<std::string> exclude_fs;    // globs: file system types not entered
  std::size_t open_listings = 32;         // directory listings open at once, at least 1
  std::size_t held_directories = 64;      // directories held open for files waiting to be scanned
  // A file never handed on, named by its directory and its name there: the run's own output.
  struct Skipped {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
  };
  std::vector<Skipped> skip = {};
  // Set from any thread, ends the walk at the next entry.
  const std::atomic<bool>* cancel = nullptr;
  // Whether an open directory is one item rather than a tree to walk (an image's layout, read
  // as its tar would be); none: every directory is walked.
  std::function<bool(int fd)> whole_directory = nullptr;
};

// A directory's place in the tree. The paths of files waiting to be scanned share these, so a
// deep path is held once, not once a file.
struct PathNode {
  std::shared_ptr<const PathNode> parent;  // none for a directory the user named
  std::string name;                        // that directory's path as named, or the entry name
};

// A directory the walk has listed, held open while files found in it wait to be scanned, so that
// each is opened by its one name there: a path of any length can be opened that way.
class OpenDirectory {
 public:
  OpenDirectory(int fd, std::atomic<std::size_t>& live) : fd_(fd), live_(live) { ++live_; }
  ~OpenDirectory();
  OpenDirectory(const OpenDirectory&) = delete;
  OpenDirectory& operator=(const OpenDirectory&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
  std::atomic<std::size_t>& live_;
};

// One thing the walk found: a file to scan, or a path that could not be examined.
struct WalkItem {
  std::shared_ptr<const PathNode> folder = nullptr;  // the directory it lies in; none: named
  std::string name = {};  // the entry's name, or the path as the user named it
  std::shared_ptr<const OpenDirectory> directory = nullptr;  // `folder`, open
  bool named = false;  // a path given by the user: scanned by its path, whatever it is
  bool standard_input = false;  // "-": the bytes of standard input
  int error = 0;       // errno: the path could not be examined or listed
  // A directory taken whole (WalkOptions::whole_directory), open: scanned as one item.
  std::shared_ptr<const OpenDirectory> layout = nullptr;

  // The whole path: the folders' names joined by slashes, then the name.
  std::string Path() const;
};

// What the walk passed over, and why; the summary line tells it.
struct PassedOver {
  std::size_t kernel = 0;    // directories on the kernel's pseudo file systems
  std::size_t excluded = 0;  // paths excluded by --exclude or --exclude-fs
  std::size_t special = 0;   // FIFOs, sockets and devices found in a tree, never read
};

class TreeWalk {
 public:
  using Take = std::function<void(WalkItem&&)>;

  TreeWalk(const WalkOptions& options, ReadAhead& read_ahead);

  // Called when the files waiting to be scanned hold as many directories open as they may; it
  // must have every item taken so far scanned and let go.
  void OnDirectoriesHeld(std::function<void()> make_room) { make_room_ = std::move(make_room); }

  // Hands every item under `root` to `take`, in walk order.
  void Walk(const std::string& root, const Take& take);

  const PassedOver& passed_over() const { return passed_over_; }

 private:
  struct Exclusion {
    std::string glob;
    bool anchored = false;          // matches only the path below the named directory
    bool directories_only = false;  // matches only directories
  };
  struct Entry {
    std::string name;
    unsigned char type = DT_UNKNOWN;
  };
  // A directory on the path the walk is on.
  struct Level {
    std::shared_ptr<const PathNode> node;
    int fd = -1;              // the directory, while open
    DIR* listing = nullptr;   // its listing, while it is read from the system
    std::vector<Entry> kept;  // the rest of its listing, once that had to be closed
    std::size_t next_kept = 0;
    int listing_error = 0;  // a failed read of the listing, told after the entries before it
    std::shared_ptr<const OpenDirectory> held;  // for the files found in it
    std::size_t path_end = 0;                   // its path and a slash in path_, up to here
    int depth = 0;  // of the entries listed here: 1 directly inside a named directory
    dev_t device = 0;
    ino_t inode = 0;
  };

  bool NextEntry(Level& level, Entry& entry);
  void TakeEntry(const Entry& entry, const Take& take);
  void EnterDirectory(int fd, std::shared_ptr<const PathNode> node, int depth, const Take& take);
  bool PassOver(int fd, dev_t device);
  bool Excluded(const std::string& name, bool directory);
  void PopLevel(const Take& take);
  void CloseShallowestListing();
  bool Reopen(Level& level, int child_fd);
  int OpenByNames(const PathNode& directory) const;
  std::shared_ptr<const OpenDirectory> Held(Level& level);

  WalkOptions options_;
  std::vector<Exclusion> exclusions_;
  ReadAhead& read_ahead_;
  std::function<void()> make_room_;
  std::vector<Level> levels_;
  std::string path_;  // the path of the deepest level and a slash
  std::size_t root_end_ = 0;
  std::size_t open_levels_ = 0;
  std::size_t first_open_ = 0;  // no level before this one is open
  std::set<std::pair<dev_t, ino_t>> on_path_;  // every level's device and inode, for loops
  dev_t root_device_ = 0;
  FileSystemKinds kinds_;
  PassedOver passed_over_;
  std::atomic<std::size_t> held_live_ = 0;
};
