// A stream counts and digests each byte when it first hands it over: bytes handed over again after
// a rewind, and bytes of a file read again from its start, are neither counted nor digested twice.
#include "archive/content_stream.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kLeastRead = 4096;
constexpr std::uint8_t kZeros[64 * 1024] = {};

}  // namespace

bool Budget::Expand(std::size_t bytes, const MemberPath& where) {
  if (exceeded()) return false;
  expanded_ += bytes;
  const auto exceed = [&](std::string message) {
    where_ = where;
    message_ = std::move(message);
  };
  if (expanded_ > limits_.max_bytes) {
    exceed("the archive expands beyond --archive-max-bytes (" + std::to_string(limits_.max_bytes) +
           " bytes)");
  } else if (limits_.max_ratio != 0 && expanded_ > ArchiveLimits::kRatioFrom &&
             expanded_ / limits_.max_ratio > std::max<std::uint64_t>(disk_, 1)) {
    exceed("the archive expands more than --archive-max-ratio (" +
           std::to_string(limits_.max_ratio) + ") times the bytes read");
  }
  return !exceeded();
}

int ErrnoOf(struct archive* reader) {
  const int error = archive_errno(reader);
  return error > 0 ? error : EIO;
}

std::string MessageOf(struct archive* reader) {
  if (const char* message = archive_error_string(reader)) return message;
  const char* format = archive_format_name(reader);
  return format != nullptr ? std::string("damaged ") + format + " data" : "damaged archive";
}

ContentStream::ContentStream(Budget& budget, const MemberPath& where, bool expands)
    : budget_(budget), where_(where), expands_(expands) {}

void KeptBytes::Append(const void* bytes, std::size_t size) {
  std::memcpy(Room(size).data(), bytes, size);
  Grow(size);
}

std::span<std::uint8_t> KeptBytes::Room(std::size_t wanted) {
  if (capacity_ - size_ < wanted) {
    const std::size_t capacity = std::max(size_ + wanted, 2 * capacity_);
    auto data = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
  }
  return {data_.get() + size_, capacity_ - size_};
}

void KeptBytes::Release() {
  data_.reset();
  size_ = capacity_ = 0;
}

std::ptrdiff_t ContentStream::Next(const void** data) {
  // What was kept before a failure is still handed over again.
  if (replaying()) {
    *data = kept_.data() + replay_at_;
    const std::size_t size = kept_.size() - replay_at_;
    replay_at_ = kept_.size();
    position_ += static_cast<std::int64_t>(size);
    return static_cast<std::ptrdiff_t>(size);
  }
  if (error_ != 0) return -1;
  if (ended_) return 0;
  if (keep_limit_ == 0 && kept_whole_) {
    ForgetKept();
  }
  const std::ptrdiff_t size = PullAndKeep(data);
  if (size <= 0) {
    ended_ = size == 0;
    return size;
  }
  Count(*data, static_cast<std::size_t>(size));
  if (error_ != 0) return -1;
  position_ += size;
  return size;
}

void ContentStream::ForgetKept() {
  kept_.Release();
  kept_whole_ = false;
  replay_at_ = 0;
}

std::ptrdiff_t ContentStream::PullAndKeep(const void** data) {
  const std::size_t room_left = keeping() ? keep_limit_ - kept_.size() : 0;
  if (reads_into() && room_left > 0) {
    // A block at first; after it, what room is left, so that the read that finds the end of a
    // small file does not move what was kept.
    const std::span<std::uint8_t> room =
        kept_.Room(std::min(kept_.size() == 0 ? kBlock : kLeastRead, room_left));
    const std::ptrdiff_t size = PullInto(room.first(std::min(room.size(), room_left)));
    if (size <= 0) return size;
    *data = room.data();
    kept_.Grow(static_cast<std::size_t>(size));
    replay_at_ = kept_.size();
    return size;
  }
  const std::ptrdiff_t size = Pull(data);
  if (size <= 0 || !kept_whole_) return size;
  if (static_cast<std::size_t>(size) <= room_left) {
    kept_.Append(*data, static_cast<std::size_t>(size));
    replay_at_ = kept_.size();
  } else {
    ForgetKept();
  }
  return size;
}

void ContentStream::Count(const void* data, std::size_t size) {
  const std::int64_t end = position_ + static_cast<std::int64_t>(size);
  if (end <= counted_) return;
  const auto from = static_cast<std::size_t>(std::max<std::int64_t>(counted_ - position_, 0));
  counted_ = end;
  budget_.Progress(size - from);
  if (digest_ != nullptr && !out_of_order_) {
    digest_->Add({static_cast<const std::uint8_t*>(data) + from, size - from});
  }
  if (expands_ && !budget_.Expand(size - from, where_)) Fail(EFBIG, budget_.message(), true);
}

std::ptrdiff_t ContentStream::Read(std::span<std::uint8_t> room) {
  // Once nothing is kept or left to hand over again, a file is read straight into the room.
  if (left_ == 0 && reads_into() && !keeping() && !replaying() && !ended_ && error_ == 0) {
    if (kept_whole_) {
      ForgetKept();
    }
    const std::ptrdiff_t size = PullInto(room);
    if (size <= 0) {
      ended_ = size == 0;
      return size < 0 ? -error_ : 0;
    }
    Count(room.data(), static_cast<std::size_t>(size));
    position_ += size;
    return error_ != 0 ? -error_ : size;
  }
  if (left_ == 0) {
    const void* data = nullptr;
    const std::ptrdiff_t size = Next(&data);
    if (size <= 0) return size < 0 ? -error_ : 0;
    at_ = static_cast<const std::uint8_t*>(data);
    left_ = static_cast<std::size_t>(size);
  }
  const std::size_t take = std::min(room.size(), left_);
  std::memcpy(room.data(), at_, take);
  at_ += take;
  left_ -= take;
  return static_cast<std::ptrdiff_t>(take);
}

std::span<const std::uint8_t> ContentStream::Head(std::size_t want) {
  assert(keep_limit_ >= want && "the head is looked at before keeping stops");
  if (!Rewind()) return {};
  while (kept_whole_ && kept_.size() < want && !ended_ && error_ == 0) {
    const void* data = nullptr;
    if (Next(&data) <= 0) break;
  }
  if (!Rewind() || !kept_whole_) return {};
  return {kept_.data(), std::min(want, kept_.size())};
}

std::ptrdiff_t ContentStream::ReadHead(std::span<std::uint8_t> room, std::size_t want) {
  assert(reads_into() && position_ == 0 && "a head is read from the first byte");
  ForgetKept();
  keep_limit_ = 0;
  std::size_t filled = 0;
  while (filled < std::min(want, room.size()) && !ended_) {
    const std::ptrdiff_t size = PullInto(room.subspan(filled));
    if (size < 0) return -error_;
    ended_ = size == 0;
    Count(room.data() + filled, static_cast<std::size_t>(size));
    position_ += size;
    filled += static_cast<std::size_t>(size);
  }
  return static_cast<std::ptrdiff_t>(filled);
}

void ContentStream::KeepRead(std::span<const std::uint8_t> bytes) {
  kept_.Clear();
  kept_.Append(bytes.data(), bytes.size());
  kept_whole_ = true;
  keep_limit_ = kKeptForRewind;
  replay_at_ = 0;
  position_ = 0;
}

bool ContentStream::Rewind() {
  left_ = 0;
  if (kept_whole_ && position_ <= static_cast<std::int64_t>(kept_.size())) {
    replay_at_ = 0;
    position_ = 0;
    return true;
  }
  if (error_ != 0 || !Restart()) return false;
  kept_.Clear();
  kept_whole_ = true;
  replay_at_ = 0;
  position_ = 0;
  ended_ = false;
  return true;
}

bool ContentStream::KeepWhole(std::size_t limit) {
  keep_limit_ = std::max(keep_limit_, limit);
  if (!Rewind()) return false;
  const void* data = nullptr;
  std::ptrdiff_t size;
  while ((size = Next(&data)) > 0) {
  }
  return size == 0 && kept_whole_ && Rewind();
}

std::span<const std::uint8_t> ContentStream::kept() const {
  return {kept_.data(), kept_.size()};
}

void ContentStream::DigestInto(std::shared_ptr<std::string> slot,
                               std::unique_ptr<ContentDigest> digest) {
  digest_slot_ = std::move(slot);
  digest_ = std::move(digest);
  // The bytes a look at the content has read already are still kept.
  if (!kept_whole_ || kept_.size() < static_cast<std::size_t>(counted_)) {
    out_of_order_ = counted_ > 0;
    return;
  }
  digest_->Add(kept().first(static_cast<std::size_t>(counted_)));
}

void ContentStream::Finish() {
  if (digest_ == nullptr || error_ != 0) return;
  if (!out_of_order_) {
    const void* data = nullptr;
    std::ptrdiff_t size;
    while ((size = Next(&data)) > 0) {
    }
    if (size < 0) return;
  } else {
    // Bytes were digested in the order a reader asked for them: the file is digested again.
    digest_->Reset();
    if (!DigestAgain(*digest_)) return;
  }
  *digest_slot_ = digest_->Finish();
}

std::int64_t ContentStream::Seek(std::int64_t, int) {
  return -1;
}

void ContentStream::Fail(int error, std::string message, bool fatal) {
  error_ = error;
  message_ = std::move(message);
  fatal_ = fatal;
}

void ContentStream::Moved(std::int64_t position) {
  ForgetKept();
  left_ = 0;
  ended_ = false;
  out_of_order_ = true;
  position_ = position;
}

FileStream::FileStream(int fd, Budget& budget, const MemberPath& where, bool waits,
                       const std::atomic<bool>* cancel)
    : ContentStream(budget, where, /*expands=*/false), fd_(fd), waits_(waits), cancel_(cancel) {}

bool FileStream::WaitForBytes() {
  constexpr int kLookEveryMs = 100;
  for (;;) {
    if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) {
      Fail(ECANCELED, std::strerror(ECANCELED), /*fatal=*/true);
      return false;
    }
    if (!waits_) return true;
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, kLookEveryMs) != 0) return true;  // bytes, their end, or an error to read
  }
}

bool FileStream::seekable() const {
  // Asked only of files that may be archives, so that a plain file costs no more system calls.
  if (!probed_) {
    probed_ = true;
    struct stat status {};
    const off_t at =
        fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) ? lseek(fd_, 0, SEEK_CUR) : -1;
    seekable_ = at >= 0;
    start_ = seekable_ ? at - read_ : 0;
  }
  return seekable_;
}

std::ptrdiff_t FileStream::PullInto(std::span<std::uint8_t> room) {
  if (!WaitForBytes()) return -1;
  ssize_t got;
  for (;;) {
    got = read(fd_, room.data(), room.size());
    if (got >= 0 || (errno != EINTR && (errno != EAGAIN || !waits_))) break;
    // A descriptor opened not to block at its open has nothing yet: wait for it again.
    if (errno == EAGAIN && !WaitForBytes()) return -1;
  }
  if (got < 0) {
    Fail(errno, std::strerror(errno), /*fatal=*/true);
    return -1;
  }
  read_ += got;
  budget_.ReadFromDisk(static_cast<std::size_t>(got));
  return got;
}

std::ptrdiff_t FileStream::Pull(const void** data) {
  if (block_ == nullptr) block_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBlock);
  *data = block_.get();
  return PullInto({block_.get(), kBlock});
}

bool FileStream::Restart() {
  if (!seekable() || lseek(fd_, start_, SEEK_SET) != start_) return false;
  read_ = 0;
  return true;
}

std::int64_t FileStream::Seek(std::int64_t offset, int whence) {
  if (!seekable()) return -1;
  const off_t base = whence == SEEK_SET ? start_ : whence == SEEK_CUR ? start_ + position() : 0;
  const off_t to = lseek(fd_, base + offset, whence == SEEK_END ? SEEK_END : SEEK_SET);
  if (to < start_) return -1;
  read_ = to - start_;
  Moved(to - start_);
  return to - start_;
}

bool FileStream::DigestAgain(ContentDigest& digest) {
  if (!seekable()) return false;
  if (block_ == nullptr) block_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBlock);
  for (off_t at = start_;;) {
    const ssize_t got = pread(fd_, block_.get(), kBlock, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    digest.Add({block_.get(), static_cast<std::size_t>(got)});
    at += got;
  }
}

std::ptrdiff_t MemberStream::Pull(const void** data) {
  if (empty_) return 0;
  if (hole_ == 0 && pending_ == nullptr) ReadBlock();
  if (failed()) return -1;
  std::ptrdiff_t size = 0;
  if (hole_ > 0) {
    size = static_cast<std::ptrdiff_t>(std::min<std::int64_t>(hole_, sizeof kZeros));
    *data = kZeros;
    hole_ -= size;
  } else if (pending_ != nullptr) {
    *data = pending_;
    size = static_cast<std::ptrdiff_t>(pending_size_);
    pending_ = nullptr;
  }
  position_ += size;
  return size;
}

void MemberStream::ReadBlock() {
  const void* block = nullptr;
  std::size_t size = 0;
  la_int64_t offset = 0;
  const int status = archive_read_data_block(reader_, &block, &size, &offset);
  if (status == ARCHIVE_EOF) return;
  // A warning here is a member whose data did not check out (a bad CRC); the archive goes on.
  if (status <= ARCHIVE_WARN && source_.failed()) {
    return Fail(source_.error(), source_.message(), /*fatal=*/true);
  }
  if (status <= ARCHIVE_WARN) {
    return Fail(ErrnoOf(reader_), MessageOf(reader_), status == ARCHIVE_FATAL);
  }
  hole_ = std::max<std::int64_t>(offset - position_, 0);
  pending_ = size > 0 ? block : kZeros;  // an empty block is no end
  pending_size_ = size;
}
