// A file's bytes (or a member's) are one content: its records wait until it has been read whole,
// so that each line can carry the digest of the whole; a content that fails midway has its records
// written without one, then the error.
#include "inventory/item_scan.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "zeblix/scan.h"

namespace {

// A file found in a tree is opened without blocking, in case a FIFO has taken its place since
// the listing; a path the user named is read whatever it is, as a pipe is, to its end.
int OpenItem(const WalkItem& item, const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
  if (item.named || item.directory == nullptr) return open(path.c_str(), kFlags);
  return openat(item.directory->fd(), item.name.c_str(), kFlags | O_NONBLOCK);
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// SHA-256 with OpenSSL's libcrypto, restarted for every content.
class Sha256 {
 public:
  void Add(std::span<const std::uint8_t> bytes) {
    Start();
    EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size());
  }

  // The digest of everything added since the last one, in lower-case hex.
  std::string Finish() {
    Start();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context_.get(), digest, &size);
    started_ = false;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) (hex += kHex[digest[i] >> 4]) += kHex[digest[i] & 15];
    return hex;
  }

  void Drop() { started_ = false; }

 private:
  void Start() {
    if (started_) return;
    if (context_ == nullptr) context_.reset(EVP_MD_CTX_new());
    if (context_ == nullptr || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
      throw std::bad_alloc();
    }
    started_ = true;
  }

  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> context_;
  bool started_ = false;
};

class ItemScan {
 public:
  ItemScan(const WalkItem& item, const ScanSettings& settings, std::uint64_t sequence)
      : item_(item), settings_(settings), sequence_(sequence), path_(item.Path()) {}

  ScannedItem Run(bool probe_wait);

 private:
  LinePlace Place(MemberNames member, const std::optional<std::string>& sha256) {
    bom_ref_ = "zeblix-inventory:" + std::to_string(sequence_) + "." + std::to_string(lines_++);
    return {path_, member, settings_.host, sha256, bom_ref_};
  }

  void Record(const MemberPath& member, const zeblix::Record& record) {
    if (pending_.empty()) pending_member_ = member;
    pending_.push_back(record);
  }

  void Scanned(const MemberPath& member) {
    const std::optional<std::string> sha256 =
        settings_.hash ? std::optional(hash_.Finish()) : std::nullopt;
    if (pending_.empty() && settings_.empty) {
      AppendEmptyLine(settings_.format, Place(member, sha256), scanned_.lines);
    }
    WritePending(sha256);
  }

  void Error(const MemberPath& member, int error, const std::string& message) {
    hash_.Drop();
    WritePending(std::nullopt);
    std::string& out =
        settings_.format == OutputFormat::kCycloneDx ? scanned_.messages : scanned_.lines;
    AppendErrorLine(settings_.format, Place(member, std::nullopt), error, message, out);
    ++scanned_.totals.errors;
  }

  void WritePending(const std::optional<std::string>& sha256) {
    for (const zeblix::Record& record : pending_) {
      AppendRecordLine(settings_.format, record, Place(pending_member_, sha256), scanned_.lines);
    }
    scanned_.totals.records += pending_.size();
    pending_.clear();
  }

  const WalkItem& item_;
  const ScanSettings& settings_;
  std::uint64_t sequence_;
  std::string path_;
  ScannedItem scanned_;
  std::vector<zeblix::Record> pending_;
  MemberPath pending_member_;
  Sha256 hash_;
  std::uint64_t lines_ = 0;
  std::string bom_ref_;
};

ScannedItem ItemScan::Run(bool probe_wait) {
  const int fd = item_.error == 0 ? OpenItem(item_, path_) : -1;
  const int open_error = item_.error != 0 ? item_.error : fd < 0 ? errno : 0;
  if (open_error != 0) {
    Error({}, open_error, {});
    return std::move(scanned_);
  }
  if (probe_wait && settings_.read_ahead != nullptr && ReadAhead::ReadWouldWait(fd)) {
    settings_.read_ahead->NoteWait();
  }
  ArchiveEvents events{
      [&](const MemberPath& member, const zeblix::Record& record) { Record(member, record); },
      [&](const MemberPath& member, int error, const std::string& message) {
        Error(member, error, message);
      },
      nullptr, [&](const MemberPath& member) { Scanned(member); }};
  if (settings_.hash) events.on_bytes = [&](std::span<const std::uint8_t> bytes) { hash_.Add(bytes); };
  const int error = settings_.archives
                        ? ScanPacked(fd, BaseName(path_), settings_.archive_limits, events)
                        : ScanFileBytes(fd, events);
  if (error != 0) Error({}, error, {});
  if (settings_.count_bytes) {
    const off_t position = lseek(fd, 0, SEEK_CUR);
    if (position > 0) scanned_.totals.bytes = static_cast<std::uint64_t>(position);
  }
  close(fd);
  scanned_.totals.files = 1;
  return std::move(scanned_);
}

}  // namespace

ScannedItem ScanItem(const WalkItem& item, const ScanSettings& settings, std::uint64_t sequence,
                     bool probe_wait) {
  try {
    return ItemScan(item, settings, sequence).Run(probe_wait);
  } catch (const std::bad_alloc&) {
    // Under a memory limit a file's lines may not fit: it becomes an error of its own.
    ScannedItem failed;
    failed.totals.errors = 1;
    AppendErrorLine(settings.format, {item.name, {}, settings.host, std::nullopt, {}}, ENOMEM, {},
                    settings.format == OutputFormat::kCycloneDx ? failed.messages : failed.lines);
    return failed;
  }
}
