// What a scan tells, carried from the process that reads an archive to the one that asked: every
// event as a frame (its size, its kind, its fields), and at the end the digests, which are made
// only once their contents were read whole. A digest's slot is named by its address in the process
// that made it; a slot made before the reader's process began has the same address in both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>

#include "archive/archive_events.h"

class EventWriter {
 public:
  // Writes to `fd`, in pieces of a few KiB, at least every few tenths of a second.
  explicit EventWriter(int fd) : fd_(fd) {}

  // Callbacks that write here, present where `like`'s are; new_digest is `like`'s own.
  ArchiveEvents Events(const ArchiveEvents& like);
  // Writes the digests made and the end; false when the pipe would not take them.
  bool Finish();

 private:
  void Frame(std::uint8_t kind, const std::string& fields);
  void Flush();
  std::string DigestIds(const Digests& digests);

  int fd_;
  bool broken_ = false;
  std::string pending_;
  std::int64_t flushed_at_ = 0;  // milliseconds on the monotonic clock
  std::map<std::uintptr_t, std::shared_ptr<std::string>> slots_;
};

class EventReader {
 public:
  // Tells `events` what the frames hold; `known` are slots the asking process made before.
  EventReader(const ArchiveEvents& events, const Digests& known);

  // Takes bytes from the pipe, telling the frames made whole; false once a frame did not read.
  bool Take(std::span<const std::uint8_t> bytes);
  // The writer finished: every event and digest came.
  bool ended() const { return ended_; }

 private:
  bool Tell(std::uint8_t kind, std::span<const std::uint8_t> fields);
  std::shared_ptr<std::string> Slot(std::uint64_t id);

  const ArchiveEvents& events_;
  std::string pending_;
  std::map<std::uint64_t, std::shared_ptr<std::string>> slots_;
  bool ended_ = false;
  bool broken_ = false;
};
