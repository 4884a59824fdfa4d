// The bytes of one content, piece by piece: the file on disk, an archive's current member, or what
// a decompressor gives. A stream keeps what it hands over, up to a bound, so that a reader that
// took the bytes for an archive wrongly can be undone and the same bytes scanned as they lie; a
// file on disk is read again from its start instead. Each byte counts once, however often it is
// handed over: in the content's digest, and against the budget of what decompression may give.
#pragma once

#include <archive.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "archive/archive_scan.h"

// What one file may still cost; shared by every level of its archives.
class Budget {
 public:
  explicit Budget(const ArchiveLimits& limits) : limits_(limits) {}

  void ReadFromDisk(std::size_t bytes) { disk_ += bytes; }

  // Counts bytes decompression gave; false once a bound is passed, remembering where.
  bool Expand(std::size_t bytes, const MemberPath& where);

  bool exceeded() const { return !message_.empty(); }
  const MemberPath& where() const { return where_; }
  const std::string& message() const { return message_; }

 private:
  const ArchiveLimits& limits_;
  std::uint64_t disk_ = 0;
  std::uint64_t expanded_ = 0;
  MemberPath where_;
  std::string message_;
};

class ContentStream {
 public:
  // What a member's stream keeps to be read again; a stream kept whole in memory (a 7-Zip archive,
  // which is read from its end, inside a stream that cannot seek) may hold more.
  static constexpr std::size_t kKeptForRewind = std::size_t{8} << 20;
  static constexpr std::size_t kKeptWhole = std::size_t{64} << 20;

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
  // is the first again. Empty when reading failed.
  std::span<const std::uint8_t> Head(std::size_t want);

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
  void Fail(int error, std::string message, bool fatal);
  // Forgets the kept bytes, and where the source stands: it was sought.
  void Moved(std::int64_t position);

  Budget& budget_;

 private:
  void Count(const void* data, std::size_t size);

  const MemberPath& where_;
  bool expands_;
  std::int64_t position_ = 0;  // of the next byte handed over
  std::int64_t counted_ = 0;   // bytes digested and counted against the budget
  bool ended_ = false;
  bool out_of_order_ = false;  // sought: the digest is made by reading again
  std::string kept_;           // from the first byte, while kept_whole_
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
  FileStream(int fd, Budget& budget, const MemberPath& where);

  bool seekable() const override;
  std::int64_t Seek(std::int64_t offset, int whence) override;

 private:
  std::ptrdiff_t Pull(const void** data) override;
  bool Restart() override;
  bool DigestAgain(ContentDigest& digest) override;

  static constexpr std::size_t kBlock = 128 * 1024;
  int fd_;
  std::int64_t read_ = 0;  // bytes read since the start, where the descriptor stands
  mutable bool probed_ = false;
  mutable bool seekable_ = false;
  mutable std::int64_t start_ = 0;  // where the file stood when it was handed over
  std::unique_ptr<std::uint8_t[]> block_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBlock);
};

// The data of a reader's current entry, block by block, with the holes of a sparse member filled
// with zero bytes so that offsets stay true.
class MemberStream final : public ContentStream {
 public:
  MemberStream(struct archive* reader, Budget& budget, const MemberPath& where, bool expands)
      : ContentStream(budget, where, expands), reader_(reader) {}

  // The entry holds nothing: the reader found no entry at all.
  void EndsAtOnce() { empty_ = true; }

 private:
  std::ptrdiff_t Pull(const void** data) override;
  void ReadBlock();

  struct archive* reader_;
  const void* pending_ = nullptr;
  std::size_t pending_size_ = 0;
  std::int64_t hole_ = 0;
  std::int64_t position_ = 0;
  bool empty_ = false;
};

// The errno and message a reader failed with.
int ErrnoOf(struct archive* reader);
std::string MessageOf(struct archive* reader);
