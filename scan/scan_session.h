// What the block scanner keeps for one file between its calls: the read buffer, the magic watch,
// and, for a pipe or device, the open stream itself. A regular file is opened and closed in every
// call and read from the resume offset; a stream cannot be opened again or sought, so it stays
// open from one call to the next and is read on from where the last call stopped, which is the
// resume offset that call handed back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/file_window.h"
#include "scan/magic_watch.h"

class ScanSession {
 public:
  static constexpr std::size_t kDefaultReadSize = 256 * 1024;

  explicit ScanSession(std::size_t read_size = kDefaultReadSize);
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  // False when the read buffer could not be allocated.
  bool allocated() const { return window_.allocated(); }

  // Opens the file for one call and places the window at `offset`; a stream held from the last
  // call goes on where it stopped. False when the file cannot be opened.
  bool Begin(const char* path, std::int64_t offset);

  // Ends a call. A stream stays open when the caller will come back for more.
  void End(bool more_to_come);

  // Has the magic watch seen every byte of the file from offset 0, reading the file again from
  // its start when this call began later.
  void WatchWholeFile();

  FileWindow& window() { return window_; }
  const MagicWatch& watch() const { return watch_; }

 private:
  void Close();

  FileWindow window_;
  MagicWatch watch_;
  int fd_ = -1;
  bool stream_ = false;
};
