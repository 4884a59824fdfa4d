// The bytes of one content, piece by piece: the file on disk, an archive's current member, or what
// a decompressor gives. A stream keeps what it hands over, up to a bound, so that a reader that
// took the bytes for an archive wrongly can be undone and the same bytes scanned as they lie; a
// file on disk is read again from its start instead. Each byte counts once, however often it is
// handed over: in the content's digest, and against the budget of what decompression may give.
#pragma once

#include <archive.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "archive/archive_events.h"

// What one file may still cost; shared by every level of its archives.
class Budget {
 public:
  explicit Budget(const ArchiveLimits& limits) : limits_(limits) {}

  void ReadFromDisk(std::size_t bytes) { disk_ += bytes; }
  // Counts the bytes of every content handed over for the first time on `progress` too, which a
  // watcher reads: a reader that only reads the same bytes again makes none.
  void ReportTo(std::atomic<std::uint64_t>& progress) { progress_ = &progress; }
  void Progress(std::size_t bytes) {
    if (progress_ != nullptr) progress_->fetch_add(bytes, std::memory_order_relaxed);
  }

  // Counts bytes decompression gave; false once a bound is passed, remembering where.
  bool Expand(std::size_t bytes, const MemberPath& where);

  bool exceeded() const { return !message_.empty(); }
  const MemberPath& where() const { return where_; }
  const std::string& message() const { return message_; }

 private:
  const ArchiveLimits& limits_;
  std::atomic<std::uint64_t>* progress_ = nullptr;
  std::uint64_t disk_ = 0;
  std::uint64_t expanded_ = 0;
  MemberPath where_;
  std::string message_;
};

// Bytes kept from a content's first, in a buffer that is never cleared before use.
class KeptBytes {
 public:
  std::size_t size() const { return size_; }
  const std::uint8_t* data() const { return data_.get(); }
  // Room for at least `wanted` more bytes, to be filled and then counted by Grow.
  std::span<std::uint8_t> Room(std::size_t wanted);
  void Grow(std::size_t filled) { size_ += filled; }
  void Append(const void* bytes, std::size_t size);
  void Clear() { size_ = 0; }
  void Release();

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

class ContentStream {
 public:
  // What a member's stream keeps to be read again; a stream kept whole in memory (a 7-Zip archive,
  // which is read from its end, inside a stream that cannot seek) may hold more.
  static constexpr std::size_t kKeptForRewind = std::size_t{8} << 20;
  static constexpr std::size_t kKeptWhole = std::size_t{64} << 20;
  // What a file is read in at a time: a small file's whole content comes with its first read.
  static constexpr std::size_t kBlock = 128 * 1024;

  // `expands`: its bytes come from decompression and count against `budget` at `where`.
  ContentStream(Budget& budget, const MemberPath& where, bool expands);
  virtual ~ContentStream() = default;
  ContentStream(const ContentStream&) = delete;
  ContentStream& operator=(const ContentStream&) = delete;

  // The next piece: its size, 0 at the end, or -1 when reading failed.
  std::ptrdiff_t Next(const void** data);

  // Copies the next bytes into `room`, for a scan: bytes, 0 at the end, or a negative errno.
  std::ptrdiff_t Read(std::span<std::uint8_t> room);

  // The first `want` bytes, or all there are, without consuming them: the next piece handed over
  // is the first again. When reading failed, what came before the failure (failed() tells).
  std::span<const std::uint8_t> Head(std::size_t want);

  // For a source that reads into room, from its first byte: reads straight into `room` until it
  // holds `want` bytes or the content ends, keeping nothing; the bytes read, or a negative errno.
  std::ptrdiff_t ReadHead(std::span<std::uint8_t> room, std::size_t want);
  // Keeps `bytes`, what ReadHead read, as the content's first bytes, to be handed over again.
  void KeepRead(std::span<const std::uint8_t> bytes);
  bool ended() const { return ended_; }

  // Goes back to the first byte; false when that is no longer possible.
  bool Rewind();
  // From now on, what is handed over need not be read again.
  void StopKeeping() { keep_limit_ = 0; }
  // Keeps up to `limit` bytes from the first, so that the stream can be read whole from memory.
  bool KeepWhole(std::size_t limit);
  // The bytes kept, from the first: the whole content after KeepWhole succeeded.
  std::span<const std::uint8_t> kept() const;

  // Makes the digest of every byte, to be written into `slot` by Finish.
  void DigestInto(std::shared_ptr<std::string> slot, std::unique_ptr<ContentDigest> digest);
  // Reads what is left, when a digest is asked for, and writes the digest.
  void Finish();

  // A stream of a file on disk can be sought; libarchive reads 7-Zip and zip archives that way.
  virtual bool seekable() const { return false; }
  virtual std::int64_t Seek(std::int64_t offset, int whence);

  // Bytes handed over since the first, where the next piece begins.
  std::int64_t position() const { return position_; }
  bool failed() const { return error_ != 0; }
  // The reader the stream came from cannot go on to another member.
  bool fatal() const { return fatal_; }
  int error() const { return error_; }
  const std::string& message() const { return message_; }

 protected:
  // The next piece from the source: its size, 0 at the end, or -1 after Fail.
  virtual std::ptrdiff_t Pull(const void** data) = 0;
  // Starts the source again from its first byte, where it can be.
  virtual bool Restart() { return false; }
  // Gives every byte of the source to `digest` again, from the first; for a file read out of order.
  virtual bool DigestAgain(ContentDigest&) { return false; }
  // A source that reads into the caller's room (a file) is read straight into the kept bytes
  // and into the scan's window, without a copy of its own: the next bytes, 0 at the end, or -1
  // after Fail.
  virtual bool reads_into() const { return false; }
  virtual std::ptrdiff_t PullInto(std::span<std::uint8_t>) { return -1; }
  void Fail(int error, std::string message, bool fatal);
  // Forgets the kept bytes, and where the source stands: it was sought.
  void Moved(std::int64_t position);

  Budget& budget_;

 private:
  void Count(const void* data, std::size_t size);
  // Lets go of the kept bytes: the stream can no longer be handed over again from them.
  void ForgetKept();
  // Pulls the next piece; a source that reads into room is read into the kept bytes.
  std::ptrdiff_t PullAndKeep(const void** data);
  bool keeping() const { return kept_whole_ && keep_limit_ > 0; }
  bool replaying() const { return replay_at_ < kept_.size(); }

  const MemberPath& where_;
  bool expands_;
  std::int64_t position_ = 0;  // of the next byte handed over
  std::int64_t counted_ = 0;   // bytes digested and counted against the budget
  bool ended_ = false;
  bool out_of_order_ = false;  // sought: the digest is made by reading again
  KeptBytes kept_;             // from the first byte, while kept_whole_
  bool kept_whole_ = true;
  std::size_t keep_limit_ = kKeptForRewind;
  std::size_t replay_at_ = 0;  // the kept bytes before it have been handed over again
  const std::uint8_t* at_ = nullptr;
  std::size_t left_ = 0;
  int error_ = 0;
  bool fatal_ = false;
  std::string message_;
  std::shared_ptr<std::string> digest_slot_;
  std::unique_ptr<ContentDigest> digest_;
};

// The file on disk, for the outermost reader: read in large blocks, so that a small file's whole
// content comes with its first read, and the look at its first bytes costs no read of its own.
class FileStream final : public ContentStream {
 public:
  // `waits`: a pipe or device whose bytes are waited for (see FileOptions); `cancel` ends reading.
  FileStream(int fd, Budget& budget, const MemberPath& where, bool waits = false,
             const std::atomic<bool>* cancel = nullptr);

  bool seekable() const override;
  std::int64_t Seek(std::int64_t offset, int whence) override;

 private:
  std::ptrdiff_t Pull(const void** data) override;
  bool reads_into() const override { return true; }
  std::ptrdiff_t PullInto(std::span<std::uint8_t> room) override;
  bool Restart() override;
  bool DigestAgain(ContentDigest& digest) override;

  // Waits until the descriptor has bytes (or their end); false, failed, once cancelled.
  bool WaitForBytes();

  int fd_;
  bool waits_;
  const std::atomic<bool>* cancel_;
  std::int64_t read_ = 0;  // bytes read since the start, where the descriptor stands
  mutable bool probed_ = false;
  mutable bool seekable_ = false;
  mutable std::int64_t start_ = 0;         // where the file stood when it was handed over
  std::unique_ptr<std::uint8_t[]> block_;  // for libarchive's reads, made when it first reads
};

// The data of a reader's current entry, block by block, with the holes of a sparse member filled
// with zero bytes so that offsets stay true.
class MemberStream final : public ContentStream {
 public:
  // `source`: what the reader reads; a member cut short by its failure fails with it.
  MemberStream(struct archive* reader, const ContentStream& source, Budget& budget,
               const MemberPath& where, bool expands)
      : ContentStream(budget, where, expands), reader_(reader), source_(source) {}

  // The entry holds nothing: the reader found no entry at all.
  void EndsAtOnce() { empty_ = true; }

 private:
  std::ptrdiff_t Pull(const void** data) override;
  void ReadBlock();

  struct archive* reader_;
  const ContentStream& source_;
  const void* pending_ = nullptr;
  std::size_t pending_size_ = 0;
  std::int64_t hole_ = 0;
  std::int64_t position_ = 0;
  bool empty_ = false;
};

// The errno and message a reader failed with.
int ErrnoOf(struct archive* reader);
std::string MessageOf(struct archive* reader);
