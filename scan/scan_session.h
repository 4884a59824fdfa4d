// What the block scanner keeps for one file between its calls: the read buffer, the magic watch,
// and the source of the bytes. The utility opens a regular file in every call and reads it from
// the resume offset. A stream (a pipe or device) cannot be opened again or sought, so it stays
// open from one call to the next and is read on from where the last call stopped, which is the
// resume offset that call handed back; the library holds every source that way, so that each byte
// is read once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "scan/disk_waits.h"
#include "scan/file_window.h"
#include "scan/magic_watch.h"

// What the walk learnt of a file before handing it on. Without it, the scanner learns the same
// from a status call after the open, and the end of the file from a read that returns nothing.
struct FileFacts {
  bool regular = false;
  std::int64_t size = 0;            // 0 is not trusted: proc files show 0 and hold bytes
  DiskWaits* waits = nullptr;  // told when a read of the file had to wait for the disk
  // The file's name in the open directory it was listed in, so that opening it looks up one name
  // instead of the whole path; nullptr opens the path.
  int dir_fd = -1;
  const char* name_in_dir = nullptr;
};

class ScanSession {
 public:
  static constexpr std::size_t kDefaultReadSize = 256 * 1024;

  explicit ScanSession(std::size_t read_size = kDefaultReadSize, const FileFacts& facts = {});
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  // False when the read buffer could not be allocated.
  bool allocated() const { return window_.allocated(); }

  // Opens the file for one call and places the window at `offset`; a source held from the last
  // call goes on where it stopped. False, with errno set, when the file cannot be opened.
  bool Open(const char* path, std::int64_t offset);

  // Holds an open descriptor, bytes in memory, or a reader, for every call of one scan, read once
  // from where they stand. The session closes the descriptor unless it is only lent.
  void Hold(int fd, bool lent = false);
  void Hold(std::span<const std::uint8_t> bytes);
  void Hold(ByteReader reader);

  // Ends a call. A held source stays open when the caller will come back for more.
  void End(bool more_to_come);

  // Has the magic watch seen every byte of the file from offset 0, reading the file again from
  // its start when this call began later.
  void WatchWholeFile();

  // The errno of a read that failed and ended the file early, or 0.
  int read_error() const { return window_.read_error(); }

  FileWindow& window() { return window_; }
  const MagicWatch& watch() const { return watch_; }

 private:
  void Close();
  // Holds bytes in memory or a reader: sources read once from their first byte, with no
  // descriptor of their own.
  template <typename Source>
  void HoldWithoutDescriptor(Source source);
  void OpenRegular(std::int64_t offset, bool probe_wait);

  FileWindow window_;
  MagicWatch watch_;
  FileFacts facts_;
  int fd_ = -1;
  bool held_ = false;
  bool lent_ = false;
};
