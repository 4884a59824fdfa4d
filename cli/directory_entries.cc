// Entries come from the look-ahead queue first, so the order is the listing's whether or not the
// read-ahead was on, or came on half-way through the directory.
#include "cli/directory_entries.h"

const char* DirectoryEntries::Next() {
  if (read_ahead_.active()) ListAhead();
  if (ahead_.empty()) {
    const dirent* entry = readdir(directory_);
    return entry == nullptr ? nullptr : entry->d_name;
  }
  current_ = std::move(ahead_.front());
  ahead_.pop_front();
  return current_.c_str();
}

void DirectoryEntries::ListAhead() {
  while (!listed_all_ && ahead_.size() < ReadAhead::kFiles) {
    const dirent* entry = readdir(directory_);
    if (entry == nullptr) {
      listed_all_ = true;
      return;
    }
    ahead_.emplace_back(entry->d_name);
    read_ahead_.Hint(dirfd(directory_), entry->d_name, entry->d_type);
  }
}
