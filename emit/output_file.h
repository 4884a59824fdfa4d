// A tool's -o FILE, as careful tools write one. A regular file (or one yet to be made) is written
// beside itself under a hidden name, and renamed onto it once whole: a reader never sees half of
// it, and a run that fails, or is stopped, leaves it as it was, with its mode and owner kept. What
// is not a regular file is written through, as sort -o does: a device, a FIFO, /dev/stdout and
// /dev/fd/N, a symbolic link (its target is written, by the same rules), and a file with other
// hard links, written in place so that the links stay one file.
#pragma once

#include <cstdio>
#include <string>

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens what `target` names for writing; false, with errno set, when it cannot be.
  bool Open(const std::string& target);
  std::FILE* stream() const { return stream_; }
  // The hidden file written while the output is not yet in place; empty when written through.
  const std::string& hidden() const { return hidden_; }

  // Puts the whole output in place; false, with errno set, when it cannot be.
  bool Commit();

 private:
  bool OpenHidden(const std::string& target, bool replaces);
  bool OpenThrough(const std::string& target);
  void Abandon();

  std::string target_;
  std::string hidden_;
  std::FILE* stream_ = nullptr;
};
