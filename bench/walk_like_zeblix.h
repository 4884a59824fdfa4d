// The walk of the benchmark's own programs, the same as zeblix's: every argument that is not a
// directory is one file; a directory stands for the regular files directly inside it. Files are
// named by their whole path, each looked at with stat(2).
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <string>

template <typename Visit>
void ForEachFileLikeZeblix(int argc, char** argv, Visit visit) {
  for (int i = 1; i < argc; ++i) {
    struct stat status {};
    if (stat(argv[i], &status) != 0) continue;
    if (!S_ISDIR(status.st_mode)) {
      visit(std::string(argv[i]));
      continue;
    }
    DIR* directory = opendir(argv[i]);
    if (directory == nullptr) continue;
    const std::string prefix = std::string(argv[i]) + "/";
    while (const dirent* entry = readdir(directory)) {
      const std::string path = prefix + entry->d_name;
      if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) visit(path);
    }
    closedir(directory);
  }
}
