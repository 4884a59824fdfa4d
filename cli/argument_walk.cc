// The argument and directory walk. Each argument fills three names: the mask (the argument, or the
// name under which a directory is opened), the path (the prefix put before each entry name) and
// the full name handed on for a directory entry. The names grow with the path, so an argument or
// entry of any length is handed on whole.
//
// File types are judged by single mode bits, as the walk always has: the directory bit alone makes
// a directory (so a block device or socket argument is opened as one), and the regular-file bit
// alone makes a file worth scanning inside a directory (so a socket entry is handed on).
#include "cli/argument_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "cli/directory_entries.h"
#include "log/svr_log.h"
#include "report/load_print_version_info.h"

namespace {

constexpr std::uint32_t kMainTrace = 0x102;
constexpr const char* kMainName = "main()";
constexpr unsigned kDirectoryBit = 0x4000;
constexpr unsigned kRegularFileBit = 0x8000;
constexpr const char* kCurrentDirectory = ".";

struct WalkNames {
  std::string mask;
  std::string path;
  std::string full_name;
};

// The file status the walk judges a name by, looked up from `dir_fd` (AT_FDCWD: the working
// directory); what it learns is handed on with the file, so that the scanner need not ask again.
bool StatFile(int dir_fd, const char* name, unsigned& mode, FileFacts& facts) {
  struct stat status {};
  if (fstatat(dir_fd, name, &status, 0) != 0) return false;
  mode = status.st_mode;
  facts.regular = S_ISREG(status.st_mode);
  facts.size = status.st_size;
  return true;
}

// An argument that cannot be examined: keep what can still be opened as a directory.
void NarrowUnknownPath(WalkNames& names) {
  svr_log(kMainTrace, kMainName, "Can not stat file (%s)\n", names.path.c_str());
  const std::size_t slash = names.path.rfind('/');
  if (slash == std::string::npos) {
    names.path.clear();
  } else if (slash + 1 == names.path.size()) {
    names.mask = names.path + ".";
    svr_log(kMainTrace, kMainName, "File mask (%s)\n", names.mask.c_str());
  } else {
    names.path.resize(slash + 1);
  }
}

void PrepareDirectory(WalkNames& names) {
  svr_log(kMainTrace, kMainName, "path (%s) is directory\n", names.path.c_str());
  if (names.path == "/") {
    names.mask = names.path + ".";
    svr_log(kMainTrace, kMainName, " File mask(%s) \n", names.mask.c_str());
    return;
  }
  names.mask = names.path + "/.";
  svr_log(kMainTrace, kMainName, " File mask(%s) \n", names.mask.c_str());
  if (names.path.back() != '/') {
    names.path += '/';
    svr_log(kMainTrace, kMainName, " path mask(%s) \n", names.path.c_str());
  }
}

void ScanDirectoryEntries(WalkNames& names, ReadAhead& read_ahead) {
  svr_log(kMainTrace, kMainName, "Finished File mask (%s)\n", names.mask.c_str());
  DIR* directory = opendir(names.mask.c_str());
  if (directory == nullptr) return;
  DirectoryEntries entries(directory, read_ahead);
  while (const char* entry = entries.Next()) {
    svr_log(kMainTrace, kMainName, "reading dir entry ...\n");
    if (!names.path.empty()) {
      names.full_name = names.path + entry;
      svr_log(kMainTrace, kMainName, "Filename and path (%s)\n", names.full_name.c_str());
    } else {
      names.full_name = entry;
      svr_log(kMainTrace, kMainName, "Filename (%s)\n", names.full_name.c_str());
    }
    // The entry is looked up in the open directory: one name, not the whole path again.
    unsigned mode = 0;
    FileFacts facts{.waits = &read_ahead, .dir_fd = dirfd(directory), .name_in_dir = entry};
    if (!StatFile(facts.dir_fd, entry, mode, facts) || (mode & kRegularFileBit) == 0) continue;
    svr_log(kMainTrace, kMainName, " (%s) is regular file\n", names.full_name.c_str());
    svr_log(kMainTrace, kMainName, "processing file %s\n", names.full_name.c_str());
    LoadPrintVersionInfo(names.full_name.c_str(), facts);
  }
  read_ahead.Release(dirfd(directory));
  closedir(directory);
}

void WalkOneArgument(const char* argument, int argument_index, bool from_command_line,
                     ReadAhead& read_ahead) {
  WalkNames names;
  names.mask = argument;
  if (from_command_line) {
    svr_log(kMainTrace, kMainName, "Using argv[%d] = %s\n", argument_index, argument);
  }
  svr_log(kMainTrace, kMainName, "Files to search: %s\n", names.mask.c_str());
  names.path = names.mask;
  svr_log(kMainTrace, kMainName, "path so far: %s\n", names.path.c_str());

  unsigned mode = 0;
  FileFacts facts{.waits = &read_ahead};
  if (!StatFile(AT_FDCWD, names.path.c_str(), mode, facts)) {
    NarrowUnknownPath(names);
  } else if ((mode & kDirectoryBit) != 0) {
    PrepareDirectory(names);
  } else {
    svr_log(kMainTrace, kMainName, "path (%s) is file\n", names.path.c_str());
    svr_log(kMainTrace, kMainName, "Finished File mask (%s)\n", names.mask.c_str());
    svr_log(kMainTrace, kMainName, "Load single file (%s)\n", names.mask.c_str());
    LoadPrintVersionInfo(names.mask.c_str(), facts);
    return;
  }
  ScanDirectoryEntries(names, read_ahead);
}

// Once reads wait for the disk, the arguments still to come are asked for too.
void HintArgumentsAhead(char** argv, int from, int count, int& hinted_until,
                        ReadAhead& read_ahead) {
  const int until = std::min(count, from + static_cast<int>(ReadAhead::kFiles));
  for (hinted_until = std::max(hinted_until, from); hinted_until < until; ++hinted_until) {
    read_ahead.Hint(AT_FDCWD, argv[hinted_until + 1], DT_UNKNOWN);
  }
}

}  // namespace

int WalkArguments(int argc, char** argv) {
  ReadAhead read_ahead;
  return WalkArguments(argc, argv, read_ahead);
}

int WalkArguments(int argc, char** argv, ReadAhead& read_ahead) {
  svr_log(kMainTrace, kMainName, "{\n");
  const bool no_argument = (argc == 1);
  const int count = no_argument ? 1 : argc - 1;
  int hinted_until = 0;
  for (int index = 0; index < count; ++index) {
    if (read_ahead.active() && !no_argument) {
      HintArgumentsAhead(argv, index + 1, count, hinted_until, read_ahead);
    }
    // With no argument the walk covers the current directory, and says so.
    const char* argument = no_argument ? kCurrentDirectory : argv[index + 1];
    svr_log(kMainTrace, kMainName, "Loop index %d\n", index);
    svr_log(kMainTrace, kMainName, "Processing Argument %s\n", argument);
    WalkOneArgument(argument, index + 1, !no_argument, read_ahead);
  }
  svr_log(kMainTrace, kMainName, "returning %d\n", 0);
  svr_log(kMainTrace, kMainName, "}\n");
  return 0;
}
