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
#include <sys/stat.h>

#include <string>

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

bool StatMode(const std::string& name, unsigned& mode) {
  struct stat status {};
  if (stat(name.c_str(), &status) != 0) return false;
  mode = status.st_mode;
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

void ScanDirectoryEntries(WalkNames& names) {
  svr_log(kMainTrace, kMainName, "Finished File mask (%s)\n", names.mask.c_str());
  DIR* directory = opendir(names.mask.c_str());
  if (directory == nullptr) return;
  while (const dirent* entry = readdir(directory)) {
    svr_log(kMainTrace, kMainName, "reading dir entry ...\n");
    if (!names.path.empty()) {
      names.full_name = names.path + entry->d_name;
      svr_log(kMainTrace, kMainName, "Filename and path (%s)\n", names.full_name.c_str());
    } else {
      names.full_name = entry->d_name;
      svr_log(kMainTrace, kMainName, "Filename (%s)\n", names.full_name.c_str());
    }
    unsigned mode = 0;
    if (!StatMode(names.full_name, mode) || (mode & kRegularFileBit) == 0) continue;
    svr_log(kMainTrace, kMainName, " (%s) is regular file\n", names.full_name.c_str());
    svr_log(kMainTrace, kMainName, "processing file %s\n", names.full_name.c_str());
    LoadPrintVersionInfo(names.full_name.c_str());
  }
  closedir(directory);
}

void WalkOneArgument(const char* argument, int argument_index, bool from_command_line) {
  WalkNames names;
  names.mask = argument;
  if (from_command_line) {
    svr_log(kMainTrace, kMainName, "Using argv[%d] = %s\n", argument_index, argument);
  }
  svr_log(kMainTrace, kMainName, "Files to search: %s\n", names.mask.c_str());
  names.path = names.mask;
  svr_log(kMainTrace, kMainName, "path so far: %s\n", names.path.c_str());

  unsigned mode = 0;
  if (!StatMode(names.path, mode)) {
    NarrowUnknownPath(names);
  } else if ((mode & kDirectoryBit) != 0) {
    PrepareDirectory(names);
  } else {
    svr_log(kMainTrace, kMainName, "path (%s) is file\n", names.path.c_str());
    svr_log(kMainTrace, kMainName, "Finished File mask (%s)\n", names.mask.c_str());
    svr_log(kMainTrace, kMainName, "Load single file (%s)\n", names.mask.c_str());
    LoadPrintVersionInfo(names.mask.c_str());
    return;
  }
  ScanDirectoryEntries(names);
}

}  // namespace

int WalkArguments(int argc, char** argv) {
  svr_log(kMainTrace, kMainName, "{\n");
  const bool no_argument = (argc == 1);
  const int count = no_argument ? 1 : argc - 1;
  for (int index = 0; index < count; ++index) {
    // With no argument the walk covers the current directory, and says so.
    const char* argument = no_argument ? kCurrentDirectory : argv[index + 1];
    svr_log(kMainTrace, kMainName, "Loop index %d\n", index);
    svr_log(kMainTrace, kMainName, "Processing Argument %s\n", argument);
    WalkOneArgument(argument, index + 1, !no_argument);
  }
  svr_log(kMainTrace, kMainName, "returning %d\n", 0);
  svr_log(kMainTrace, kMainName, "}\n");
  return 0;
}
