// A directory's entry names in the order the system lists them. While the read-ahead is on, the
// listing is read up to ReadAhead::kFiles entries ahead of the walk and the files among them are
// hinted as they are read; each entry is still examined only when its turn comes.
#pragma once

#include <dirent.h>

#include <deque>
#include <string>

#include "walk/read_ahead.h"

class DirectoryEntries {
 public:
  DirectoryEntries(DIR* directory, ReadAhead& read_ahead)
      : directory_(directory), read_ahead_(read_ahead) {}

  // The next entry's name, valid until the next call; nullptr after the last.
  const char* Next();

 private:
  void ListAhead();

  DIR* directory_;
  ReadAhead& read_ahead_;
  std::deque<std::string> ahead_;
  std::string current_;
  bool listed_all_ = false;
};
