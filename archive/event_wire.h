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
#include <string_view>
#include <vector>

#include "archive/archive_events.h"

class WireFields;

class EventWriter {
 public:
  // Writes to `fd`, in pieces of a few KiB, at least every few tenths of a second.
  explicit EventWriter(int fd) : fd_(fd) {}

  // Callbacks that write here, present where `like`'s are; new_digest is `like`'s own.
  ArchiveEvents Events(const ArchiveEvents& like);
  // Writes the digests made and the end; false when the pipe would not take them.
  bool Finish();

 private:
  void AddLayerEvents(const ArchiveEvents& like, ArchiveEvents& events);
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
  void TellLayer(std::uint8_t kind, WireFields& in);
  Digests DigestSlots(WireFields& in);
  std::shared_ptr<std::string> Slot(std::uint64_t id);

  const ArchiveEvents& events_;
  std::string pending_;
  std::map<std::uint64_t, std::shared_ptr<std::string>> slots_;
  bool ended_ = false;
  bool broken_ = false;
};

// A scan's events kept in order, to be told again later: what a cache holds of a file, or of one
// image layer. Digests are kept as their values: the scan is over when the bytes are made.
class EventLog {
 public:
  // Callbacks that keep each event, then tell it to `next`'s; the rest are `next`'s own.
  ArchiveEvents Recording(const ArchiveEvents& next);

  // What one log may keep, roughly: a file that tells more is not kept whole (whole() is false).
  static constexpr std::size_t kMostKeptBytes = std::size_t{64} << 20;

  // Whether every event told was kept.
  bool whole() const { return kept_bytes_ <= kMostKeptBytes; }
  // Whether an error was told at or under `root`.
  bool HasErrors(const MemberPath& root = {}) const;
  // The events at or under `root`, their member paths from below it, as bytes.
  std::string Bytes(const MemberPath& root = {}) const;
  // Takes the events `bytes` hold, in place of any kept; false, keeping none, when they do not
  // read whole.
  bool Read(std::string_view bytes);
  // Tells the events kept to `events`, each under `root`; `root_digests` are those of `root`
  // itself (the file's, then one for each name), which stand before the kept ones.
  void Tell(const ArchiveEvents& events, const MemberPath& root = {},
            const Digests& root_digests = {}) const;

 private:
  enum class Kind : std::uint8_t { kRecord = 1, kError, kScanned, kHolder, kEntry };
  struct Event {
    Kind kind;
    MemberPath member;  // the archive's, for an entry; the holder's where, for a holder
    Digests digests;
    zeblix::Record record = {};
    int error = 0;
    std::string text = {};  // an error's message, or an entry's name
    ArchiveEvents::EntryKind entry_kind = ArchiveEvents::EntryKind::kFile;
    Holder holder = {};
  };
  static bool Under(const MemberPath& member, const MemberPath& root);
  void Keep(Event&& event);
  std::string EventBytes(const Event& event, std::size_t skipped) const;

  std::vector<Event> events_;
  std::size_t kept_bytes_ = 0;
};
