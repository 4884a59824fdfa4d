// --output FILE: the document is written beside FILE, under a hidden name, and renamed onto it
// once whole, so that a reader never sees half a document, and a run that fails (or is stopped)
// leaves FILE as it was.
#pragma once

#include <cstdio>
#include <string>

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the hidden file beside `target`, with the mode a new file would have; false, with
  // errno set, when it cannot be made.
  bool Open(const std::string& target);
  std::FILE* stream() const { return stream_; }

  // Puts the whole document in place; false, with errno set, when it cannot be.
  bool Commit();

 private:
  void Abandon();

  std::string target_;
  std::string hidden_;
  std::FILE* stream_ = nullptr;
};
