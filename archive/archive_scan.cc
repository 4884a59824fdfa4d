// Each archive is a libarchive reader. The file's reader reads the descriptor; a member's reader
// reads its parent's current entry block by block, so an archive inside an archive is opened on
// the outer member's stream. A member whose content libarchive takes for no archive (its "raw"
// format, the last resort of every bid, never the one that makes a file an archive) is scanned as
// it streams by; a compressed one decompressed. A file or member whose first bytes match no
// archive's (executables, libraries, data) is scanned without asking libarchive at all.
#include "archive/archive_scan.h"

#include "archive/archive_signatures.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

namespace {

constexpr std::size_t kFileBlock = 128 * 1024;
// What a member's reader may consume before it finds its first header, kept to be scanned again
// should it find no archive there.
constexpr std::size_t kKeptForRewind = std::size_t{4} << 20;
constexpr std::array<std::uint8_t, 4> kElfMagic = {0x7f, 'E', 'L', 'F'};
constexpr std::uint8_t kZeros[64 * 1024] = {};

bool IsElf(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kElfMagic.size() &&
         std::memcmp(bytes.data(), kElfMagic.data(), kElfMagic.size()) == 0;
}

// What the first piece of a member of `member_size` bytes (-1: unknown) says of an archive; a
// piece too short to tell is a "maybe".
Signature MemberSignature(const void* first, std::size_t size, std::int64_t member_size) {
  const std::span bytes(static_cast<const std::uint8_t*>(first), size);
  if (IsElf(bytes)) return Signature::kNone;
  constexpr std::size_t kIsoEnd = kIsoSignatureAt + kIsoSignatureSize;
  const bool whole = member_size >= 0 && static_cast<std::uint64_t>(member_size) <= size;
  if (size >= kIsoEnd) return SignatureOf(bytes, bytes.subspan(kIsoSignatureAt));
  const Signature signature = SignatureOf(bytes, {});
  if (signature == Signature::kNone && !whole &&
      (size < kLeadingBytes || member_size < 0 || static_cast<std::size_t>(member_size) >= kIsoEnd)) {
    return Signature::kWeak;
  }
  return signature;
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

// libarchive found no archive, nor compression, in the bytes it was given.
bool NoArchiveFound(struct archive* reader) {
  const char* message = archive_error_string(reader);
  return message != nullptr && std::strcmp(message, "Unrecognized archive format") == 0;
}

struct ArchiveFree {
  void operator()(struct archive* reader) const { archive_read_free(reader); }
};
using Reader = std::unique_ptr<struct archive, ArchiveFree>;

// A reader for every format and compression that makes a file an archive, and "raw" for the
// content that is none of them.
Reader NewReader() {
  Reader reader(archive_read_new());
  if (reader == nullptr) return reader;
  struct archive* a = reader.get();
  for (const auto support :
       {archive_read_support_filter_gzip, archive_read_support_filter_bzip2,
        archive_read_support_filter_xz, archive_read_support_filter_lzma,
        archive_read_support_filter_zstd, archive_read_support_filter_lz4,
        archive_read_support_filter_compress, archive_read_support_filter_rpm,
        archive_read_support_format_tar, archive_read_support_format_cpio,
        archive_read_support_format_zip, archive_read_support_format_7zip,
        archive_read_support_format_ar, archive_read_support_format_iso9660,
        archive_read_support_format_raw}) {
    support(a);
  }
  return reader;
}

bool Compressed(struct archive* reader) {
  for (int i = 0; i < archive_filter_count(reader); ++i) {
    if (archive_filter_code(reader, i) != ARCHIVE_FILTER_NONE) return true;
  }
  return false;
}

bool IsArBookkeeping(struct archive* reader, struct archive_entry* entry) {
  if ((archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_AR) return false;
  const char* name = archive_entry_pathname(entry);
  return name != nullptr && (std::strcmp(name, "/") == 0 || std::strcmp(name, "//") == 0 ||
                             std::strcmp(name, "/SYM64/") == 0 ||
                             std::strcmp(name, "__.SYMDEF") == 0);
}

std::string NameOf(struct archive_entry* entry) {
  if (const char* name = archive_entry_pathname(entry)) return name;
  if (const char* name = archive_entry_pathname_utf8(entry)) return name;
  return {};
}

// What one file may still cost; shared by every level of its archives.
class Budget {
 public:
  explicit Budget(const ArchiveLimits& limits) : limits_(limits) {}

  void ReadFromDisk(std::size_t bytes) { disk_ += bytes; }

  // Counts bytes a member expanded to; false once a bound is passed, remembering where.
  bool Expand(std::size_t bytes, const MemberPath& where) {
    if (exceeded()) return false;
    expanded_ += bytes;
    if (expanded_ > limits_.max_bytes) {
      Exceed(where, "the archive expands beyond --archive-max-bytes (" +
                        std::to_string(limits_.max_bytes) + " bytes)");
    } else if (limits_.max_ratio != 0 && expanded_ > ArchiveLimits::kRatioFrom &&
               expanded_ / limits_.max_ratio > std::max<std::uint64_t>(disk_, 1)) {
      Exceed(where, "the archive expands more than --archive-max-ratio (" +
                        std::to_string(limits_.max_ratio) + ") times the bytes read");
    }
    return !exceeded();
  }

  bool exceeded() const { return !message_.empty(); }
  const MemberPath& where() const { return where_; }
  const std::string& message() const { return message_; }

 private:
  void Exceed(const MemberPath& where, std::string message) {
    where_ = where;
    message_ = std::move(message);
  }

  const ArchiveLimits& limits_;
  std::uint64_t disk_ = 0;
  std::uint64_t expanded_ = 0;
  MemberPath where_;
  std::string message_;
};

// The file on disk, for the outermost reader.
struct FileSource {
  int fd;
  Budget& budget;
  std::unique_ptr<std::uint8_t[]> block = std::make_unique<std::uint8_t[]>(kFileBlock);
  int error = 0;
};

la_ssize_t ReadFile(struct archive* reader, void* opaque, const void** buffer) {
  auto& file = *static_cast<FileSource*>(opaque);
  ssize_t got;
  do {
    got = read(file.fd, file.block.get(), kFileBlock);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    file.error = errno;
    archive_set_error(reader, errno, "%s", std::strerror(errno));
    return ARCHIVE_FATAL;
  }
  file.budget.ReadFromDisk(static_cast<std::size_t>(got));
  *buffer = file.block.get();
  return got;
}

la_int64_t SeekFile(struct archive*, void* opaque, la_int64_t offset, int whence) {
  const off_t to = lseek(static_cast<FileSource*>(opaque)->fd, offset, whence);
  return to < 0 ? ARCHIVE_FATAL : to;
}

la_int64_t SkipFile(struct archive*, void* opaque, la_int64_t request) {
  const int fd = static_cast<FileSource*>(opaque)->fd;
  const off_t from = lseek(fd, 0, SEEK_CUR);
  const off_t to = from < 0 ? -1 : lseek(fd, request, SEEK_CUR);
  return to < 0 ? 0 : to - from;
}

// The data of a reader's current entry, block by block, with the holes of a sparse member filled
// with zero bytes so that offsets stay true. The first block may be looked at and handed over
// again.
class MemberStream {
 public:
  MemberStream(struct archive* reader, Budget& budget, const MemberPath& where, bool expands)
      : reader_(reader), budget_(budget), where_(where), expands_(expands) {}

  // The next piece: its size, 0 at the end, or -1 when reading failed.
  std::ptrdiff_t Next(const void** data) {
    if (rewound_) {
      rewound_ = false;
      if (!kept_.empty()) {
        *data = kept_.data();
        return static_cast<std::ptrdiff_t>(kept_.size());
      }
    }
    if (!peeked_) Fetch();
    peeked_ = false;
    if (size_ < 0) return size_;
    if (keeping_) Keep();
    *data = data_;
    return size_;
  }

  // From now on keeps a copy of every piece handed over, up to `limit` bytes, so that a reader
  // that takes them for an archive, wrongly, can be undone.
  void StartKeeping(std::size_t limit) {
    keeping_ = true;
    keep_limit_ = limit;
  }

  // Stops keeping, and lets go of what was kept.
  void StopKeeping() {
    keeping_ = false;
    std::string().swap(kept_);
  }

  // Hands the kept pieces over again, then goes on where the stream stands; false when more was
  // read than could be kept.
  bool Rewind() {
    keeping_ = false;
    if (kept_too_much_) return false;
    rewound_ = true;
    left_ = 0;
    return true;
  }

  // The first piece, which the next call of Next hands over again.
  std::ptrdiff_t Peek(const void** data) {
    const std::ptrdiff_t size = Next(data);
    peeked_ = true;
    return size;
  }

  // Copies the next bytes into `room`, for a scan: bytes, 0 at the end, or a negative errno.
  std::ptrdiff_t Read(std::span<std::uint8_t> room) {
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

  bool failed() const { return error_ != 0; }
  // The reader it came from cannot go on to another member.
  bool fatal() const { return fatal_; }
  int error() const { return error_; }
  const std::string& message() const { return message_; }

 private:
  void Fetch() {
    if (hole_ == 0 && pending_ == nullptr) ReadBlock();
    if (size_ < 0) return;
    if (hole_ > 0) {
      size_ = static_cast<std::ptrdiff_t>(std::min<std::int64_t>(hole_, sizeof kZeros));
      data_ = kZeros;
      hole_ -= size_;
    } else if (pending_ != nullptr) {
      data_ = pending_;
      size_ = static_cast<std::ptrdiff_t>(pending_size_);
      pending_ = nullptr;
    } else {
      size_ = 0;
      return;
    }
    position_ += size_;
    if (expands_ && !budget_.Expand(static_cast<std::size_t>(size_), where_)) {
      Fail(EFBIG, budget_.message(), /*fatal=*/true);
    }
  }

  void ReadBlock() {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    const int status = archive_read_data_block(reader_, &block, &size, &offset);
    if (status == ARCHIVE_EOF) return;
    // A warning here is a member whose data did not check out (a bad CRC); the archive goes on.
    if (status <= ARCHIVE_WARN) {
      return Fail(ErrnoOf(reader_), MessageOf(reader_), status == ARCHIVE_FATAL);
    }
    hole_ = std::max<std::int64_t>(offset - position_, 0);
    pending_ = size > 0 ? block : kZeros;  // an empty block is no end
    pending_size_ = size;
  }

  void Keep() {
    if (size_ <= 0) return;
    if (kept_.size() + static_cast<std::size_t>(size_) > keep_limit_) {
      kept_too_much_ = true;
      keeping_ = false;
      return;
    }
    kept_.append(static_cast<const char*>(data_), static_cast<std::size_t>(size_));
  }

  void Fail(int error, std::string message, bool fatal) {
    error_ = error;
    message_ = std::move(message);
    fatal_ = fatal;
    size_ = -1;
  }

  struct archive* reader_;
  Budget& budget_;
  const MemberPath& where_;
  bool expands_;  // its bytes are counted against the budget
  const void* data_ = nullptr;
  std::ptrdiff_t size_ = 0;
  bool peeked_ = false;
  const void* pending_ = nullptr;
  std::size_t pending_size_ = 0;
  std::int64_t hole_ = 0;
  std::int64_t position_ = 0;
  const std::uint8_t* at_ = nullptr;
  std::size_t left_ = 0;
  int error_ = 0;
  bool fatal_ = false;
  std::string message_;
  bool keeping_ = false;
  bool kept_too_much_ = false;
  std::size_t keep_limit_ = 0;
  std::string kept_;
  bool rewound_ = false;  // the kept pieces are the next to be handed over
};

la_ssize_t ReadMember(struct archive* reader, void* opaque, const void** buffer) {
  auto& stream = *static_cast<MemberStream*>(opaque);
  const std::ptrdiff_t size = stream.Next(buffer);
  if (size < 0) {
    archive_set_error(reader, stream.error(), "%s", stream.message().c_str());
    return ARCHIVE_FATAL;
  }
  return size;
}

// The scan of one file on disk and the archives inside it.
class PackedScan {
 public:
  PackedScan(std::string_view file_name, const ArchiveLimits& limits, const ArchiveEvents& events)
      : file_name_(file_name), limits_(limits), events_(events), budget_(limits) {}

  Budget& budget() { return budget_; }

  // Reads an opened archive whose first header has been asked for: every regular member.
  void ReadMembers(struct archive* reader, int status, struct archive_entry* entry,
                   MemberPath& where, int depth);

  // What a reader of unknown content holds, once its first header has been asked for: members,
  // or its own bytes, decompressed when it was compressed.
  void ScanContent(struct archive* reader, int status, struct archive_entry* entry,
                   MemberPath& where, int depth);

  // The bytes of `stream`.
  void ScanPlain(MemberStream& stream, const MemberPath& where);

  void Report(const MemberPath& where, int error, const std::string& message) {
    if (!budget_.exceeded()) events_.on_error(where, error, message);
  }

 private:
  bool ScanMember(struct archive* parent, MemberPath& where, int depth, std::int64_t member_size);

  std::string file_name_;
  const ArchiveLimits& limits_;
  const ArchiveEvents& events_;
  Budget budget_;
};

void PackedScan::ReadMembers(struct archive* reader, int status, struct archive_entry* entry,
                             MemberPath& where, int depth) {
  bool resynchronising = false;
  for (; status != ARCHIVE_EOF && !budget_.exceeded();
       status = archive_read_next_header(reader, &entry)) {
    // A damaged header: libarchive looks for the next good one, and says so once a header until
    // it finds it.
    if (status == ARCHIVE_RETRY) {
      if (!resynchronising) Report(where, ErrnoOf(reader), MessageOf(reader));
      resynchronising = true;
      continue;
    }
    resynchronising = false;
    if (status < ARCHIVE_WARN) {
      Report(where, ErrnoOf(reader), MessageOf(reader));
      if (status == ARCHIVE_FATAL) return;
      continue;
    }
    // Members of an ar archive may carry no file type; any other kind is no file.
    const auto type = archive_entry_filetype(entry);
    if (type != AE_IFREG && type != 0) continue;
    // A hard link in a tar names a member already seen and holds no data of its own; the symbol
    // and name tables of an ar archive are its own bookkeeping.
    if (archive_entry_hardlink(entry) != nullptr && archive_entry_size(entry) == 0) continue;
    if (IsArBookkeeping(reader, entry)) continue;
    where.push_back(NameOf(entry));
    bool readable = true;
    if (archive_entry_is_encrypted(entry)) {
      Report(where, ENOTSUP, "the member is encrypted");
    } else {
      readable = ScanMember(reader, where, depth,
                            archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1);
    }
    where.pop_back();
    // A stream cannot be read past a member whose data failed.
    if (!readable) return;
  }
}

bool PackedScan::ScanMember(struct archive* parent, MemberPath& where, int depth,
                            std::int64_t member_size) {
  MemberStream stream(parent, budget_, where, /*expands=*/true);
  const void* first = nullptr;
  const std::ptrdiff_t size = stream.Peek(&first);
  if (size < 0) {
    Report(where, stream.error(), stream.message());
    return !stream.fatal();
  }
  if (size == 0) {
    if (events_.on_scanned) events_.on_scanned(where);
    return true;
  }
  const Signature signature =
      MemberSignature(first, static_cast<std::size_t>(size), member_size);
  if (signature == Signature::kNone) {
    ScanPlain(stream, where);
    return !stream.fatal();
  }

  Reader reader = NewReader();
  if (reader == nullptr) {
    Report(where, ENOMEM, std::strerror(ENOMEM));
    return false;
  }
  archive_read_set_read_callback(reader.get(), ReadMember);
  archive_read_set_callback_data(reader.get(), &stream);
  stream.StartKeeping(kKeptForRewind);
  struct archive_entry* entry = nullptr;
  const int opened = archive_read_open1(reader.get());
  const int status = opened == ARCHIVE_OK ? archive_read_next_header(reader.get(), &entry) : opened;
  // What only looked like an archive (and holds no member), or holds none after all, is scanned
  // as it lies.
  const bool guessed_wrong = signature == Signature::kWeak && status == ARCHIVE_EOF;
  if ((status < ARCHIVE_WARN || guessed_wrong) && !stream.fatal()) {
    if ((signature == Signature::kWeak || NoArchiveFound(reader.get())) && stream.Rewind()) {
      reader.reset();
      ScanPlain(stream, where);
      return !stream.fatal();
    }
    Report(where, ErrnoOf(reader.get()), MessageOf(reader.get()));
    return !stream.fatal();
  }
  stream.StopKeeping();
  ScanContent(reader.get(), status, entry, where, depth + 1);
  return !stream.fatal();
}

void PackedScan::ScanContent(struct archive* reader, int status, struct archive_entry* entry,
                             MemberPath& where, int depth) {
  if (status < ARCHIVE_WARN) return Report(where, ErrnoOf(reader), MessageOf(reader));
  if (status == ARCHIVE_EOF || archive_format(reader) != ARCHIVE_FORMAT_RAW) {
    if (depth > limits_.depth) {
      return Report(where, ELOOP,
                    "an archive nested deeper than --archive-depth (" +
                        std::to_string(limits_.depth) + ")");
    }
    return ReadMembers(reader, status, entry, where, depth);
  }
  const bool compressed = Compressed(reader);
  if (compressed) where.push_back(DecompressedName(where.empty() ? file_name_ : where.back()));
  MemberStream stream(reader, budget_, where, /*expands=*/compressed);
  ScanPlain(stream, where);
  if (compressed) where.pop_back();
}

void PackedScan::ScanPlain(MemberStream& stream, const MemberPath& where) {
  const std::error_code error = zeblix::ScanStream(
      [&](std::span<std::uint8_t> room) {
        const std::ptrdiff_t got = stream.Read(room);
        if (got > 0 && events_.on_bytes) events_.on_bytes(room.first(static_cast<std::size_t>(got)));
        return got;
      },
      [&](const zeblix::Record& record) { events_.on_record(where, record); });
  if (error) {
    Report(where, error.value(), stream.failed() ? stream.message() : error.message());
  } else if (events_.on_scanned) {
    events_.on_scanned(where);
  }
}

// The file's own bytes, from its start, as the library scans a file.
int ScanOwnBytes(int fd, const ArchiveEvents& events) {
  return lseek(fd, 0, SEEK_SET) < 0 ? errno : ScanFileBytes(fd, events);
}

// What the first bytes of a file on disk, and those where an ISO 9660 image names itself, say of
// an archive.
Signature FileSignature(int fd, std::int64_t size) {
  std::array<std::uint8_t, kLeadingBytes> head{};
  const ssize_t got = pread(fd, head.data(), head.size(), 0);
  if (got < 0) return Signature::kNone;  // the scan that follows tells the error
  const std::span leading(head.data(), static_cast<std::size_t>(got));
  if (IsElf(leading)) return Signature::kNone;
  std::array<std::uint8_t, kIsoSignatureSize> iso{};
  std::span<const std::uint8_t> at_iso;
  if (size >= static_cast<std::int64_t>(kIsoSignatureAt + kIsoSignatureSize) &&
      pread(fd, iso.data(), iso.size(), kIsoSignatureAt) == static_cast<ssize_t>(iso.size())) {
    at_iso = iso;
  }
  return SignatureOf(leading, at_iso);
}

}  // namespace

int ScanPacked(int fd, std::string_view name, const ArchiveLimits& limits,
               const ArchiveEvents& events) {
  struct stat status {};
  const bool seekable = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  const Signature signature =
      seekable && status.st_size > 0 ? FileSignature(fd, status.st_size) : Signature::kWeak;
  if (seekable && (status.st_size == 0 || signature == Signature::kNone)) {
    return ScanOwnBytes(fd, events);
  }

  PackedScan scan(name, limits, events);
  FileSource file{fd, scan.budget()};
  Reader reader = NewReader();
  if (reader == nullptr) return ENOMEM;
  archive_read_set_read_callback(reader.get(), ReadFile);
  archive_read_set_callback_data(reader.get(), &file);
  if (seekable) {
    archive_read_set_seek_callback(reader.get(), SeekFile);
    archive_read_set_skip_callback(reader.get(), SkipFile);
  }
  MemberPath where;
  struct archive_entry* entry = nullptr;
  const int opened = archive_read_open1(reader.get());
  const int first = opened == ARCHIVE_OK ? archive_read_next_header(reader.get(), &entry) : opened;
  if (file.error != 0) return file.error;
  // A file that holds no archive, or only looked like one, is scanned as it lies; one that
  // surely is an archive but cannot be read is an error.
  const bool unreadable = first < ARCHIVE_WARN || (signature == Signature::kWeak &&
                                                   first == ARCHIVE_EOF);
  const bool plain = first == ARCHIVE_OK && archive_format(reader.get()) == ARCHIVE_FORMAT_RAW &&
                     !Compressed(reader.get());
  if (seekable && (plain || (unreadable && (signature == Signature::kWeak ||
                                            NoArchiveFound(reader.get()))))) {
    return ScanOwnBytes(fd, events);
  }
  scan.ScanContent(reader.get(), first, entry, where, 1);
  if (file.error != 0) return file.error;
  if (scan.budget().exceeded()) {
    events.on_error(scan.budget().where(), EFBIG, scan.budget().message());
  }
  return 0;
}

int ScanFileBytes(int fd, const ArchiveEvents& events) {
  const MemberPath none;
  const auto record = [&](const zeblix::Record& found) { events.on_record(none, found); };
  std::error_code error;
  if (events.on_bytes) {
    error = zeblix::ScanStream(
        [&](std::span<std::uint8_t> room) -> std::ptrdiff_t {
          ssize_t got;
          do {
            got = read(fd, room.data(), room.size());
          } while (got < 0 && errno == EINTR);
          if (got < 0) return -errno;
          events.on_bytes(room.first(static_cast<std::size_t>(got)));
          return got;
        },
        record);
  } else {
    error = zeblix::ScanDescriptor(fd, record);
  }
  if (!error && events.on_scanned) events.on_scanned(none);
  return error.value();
}

std::string DecompressedName(const std::string& name) {
  static constexpr std::array<std::string_view, 9> kSuffixes = {
      ".gz", ".bz2", ".xz", ".lzma", ".zst", ".lz4", ".Z", ".z", ".lz"};
  const std::size_t slash = name.rfind('/');
  const std::string_view base =
      std::string_view(name).substr(slash == std::string::npos ? 0 : slash + 1);
  for (const std::string_view suffix : kSuffixes) {
    if (base.size() > suffix.size() && base.ends_with(suffix)) {
      return name.substr(0, name.size() - suffix.size());
    }
  }
  return name;
}
