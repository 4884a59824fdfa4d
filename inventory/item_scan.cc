// A file's lines wait until it has been read, so that each line can carry the digests of what it
// lies in, each made as that was read whole; a content that fails midway has its records written
// without one, then the error.
#include "inventory/item_scan.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "inventory/cyclonedx.h"
#include "zeblix/scan.h"

namespace {

// A file found in a tree is opened without blocking, in case a FIFO has taken its place since
// the listing; a path the user named is read whatever it is, as a pipe is, to its end; "-" is
// standard input.
int OpenItem(const WalkItem& item, const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
  if (item.standard_input) return fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  if (item.named || item.directory == nullptr) return open(path.c_str(), kFlags);
  return openat(item.directory->fd(), item.name.c_str(), kFlags | O_NONBLOCK);
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// SHA-256 with OpenSSL's libcrypto, one for each content. Made where no C code (libarchive) lies
// between it and the item's scan, so that running out of memory can be thrown.
class Sha256 final : public ContentDigest {
 public:
  Sha256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr) throw std::bad_alloc();
    Reset();
  }

  void Reset() override {
    if (EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
  }

  void Add(std::span<const std::uint8_t> bytes) override {
    EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size());
  }

  // The digest, in lower-case hex.
  std::string Finish() override {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context_.get(), digest, &size);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) (hex += kHex[digest[i] >> 4]) += kHex[digest[i] & 15];
    return hex;
  }

 private:
  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> context_;
};

class ItemScan {
 public:
  ItemScan(const WalkItem& item, const ScanSettings& settings, std::uint64_t sequence)
      : item_(item), settings_(settings), sequence_(sequence), path_(item.Path()) {}

  ScannedItem Run(bool probe_wait);

 private:
  // A line waits until the file has been read: the digests it carries are filled in as the
  // contents it lies in are read whole.
  struct Pending {
    enum Kind { kRecord, kEmpty, kError } kind;
    MemberPath member;
    Digests digests;
    zeblix::Record record;
    int error = 0;
    std::string message;
  };

  void Error(const MemberPath& member, int error, const std::string& message) {
    pending_.push_back({Pending::kError, member, {}, {}, error, message});
    records_in_content_ = 0;
  }

  void WriteLines();
  // The innermost package or image (of the kind asked) the content at `member` lies in; -1 when
  // none. Of two at the same depth, the one told later; at the depth of `member` itself, only one
  // told before `before` (a holder's own holder is found so).
  enum class Kind { kPackage, kImage, kEither };
  int Innermost(std::span<const std::string> member, Kind kind,
                std::size_t before = std::numeric_limits<std::size_t>::max()) const;
  // Puts each package's and image's component, holding `children`, inside its own holder's.
  void NestHolders(std::vector<std::string>& children);

  const WalkItem& item_;
  const ScanSettings& settings_;
  std::uint64_t sequence_;
  std::string path_;
  ScannedItem scanned_;
  std::vector<Pending> pending_;
  std::vector<Holder> holders_;
  std::map<MemberPath, std::vector<std::size_t>> by_where_;  // holders_ by where they lie
  std::size_t records_in_content_ = 0;
};

int ItemScan::Innermost(std::span<const std::string> member, Kind kind, std::size_t before) const {
  if (by_where_.empty()) return -1;  // most files: no path need be looked up
  // From the longest prefix of the member path down, the holders there, the later first.
  for (std::size_t length = member.size() + 1; length-- > 0;) {
    const auto found = by_where_.find(MemberPath(member.begin(), member.begin() + length));
    if (found == by_where_.end()) continue;
    for (auto i = found->second.rbegin(); i != found->second.rend(); ++i) {
      const Holder& holder = holders_[*i];
      if ((kind == Kind::kPackage && !holder.package) || (kind == Kind::kImage && !holder.image) ||
          (length == member.size() && *i >= before) || !holder.Holds(member)) {
        continue;
      }
      return static_cast<int>(*i);
    }
  }
  return -1;
}

void ItemScan::NestHolders(std::vector<std::string>& children) {
  std::vector<std::size_t> order(holders_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  // The innermost first, so that each is whole before it goes inside its own holder.
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::pair(holders_[a].where.size(), a) > std::pair(holders_[b].where.size(), b);
  });
  std::vector<int> parents(holders_.size());
  std::size_t outermost = 0;
  for (std::size_t i = 0; i < holders_.size(); ++i) {
    parents[i] = Innermost(holders_[i].where, Kind::kEither, i);
    if (parents[i] < 0) ++outermost;
  }
  for (const std::size_t i : order) {
    const Holder& holder = holders_[i];
    const std::string bom_ref =
        "zeblix-inventory:" + std::to_string(sequence_) + ".holder" + std::to_string(i);
    LinePlace place{path_, holder.where, settings_.host, {}, bom_ref};
    std::string& out = parents[i] < 0 ? scanned_.lines : children[parents[i]];
    // The one package or image a run was asked about is the document's subject.
    const bool subject = settings_.subject && sequence_ == 0 && parents[i] < 0 &&
                         outermost == 1 && holder.where.empty();
    AppendHolderComponent(holder, place, children[i], out, subject ? &scanned_.subject : nullptr);
  }
}

void ItemScan::WriteLines() {
  // CycloneDX nests each component inside its package's or image's.
  const bool nested = settings_.format == OutputFormat::kCycloneDx && !holders_.empty();
  std::vector<std::string> children(nested ? holders_.size() : 0);
  std::uint64_t line = 0;
  std::vector<std::string> digests;
  for (const Pending& pending : pending_) {
    digests.clear();
    for (const auto& digest : pending.digests) digests.push_back(*digest);
    const std::string bom_ref =
        "zeblix-inventory:" + std::to_string(sequence_) + "." + std::to_string(line++);
    LinePlace place{path_, pending.member, settings_.host, digests, bom_ref};
    if (const int package = Innermost(pending.member, Kind::kPackage); package >= 0) {
      place.package = &*holders_[package].package;
    }
    if (const int image = Innermost(pending.member, Kind::kImage); image >= 0) {
      place.image = &*holders_[image].image;
    }
    const int holder = nested ? Innermost(pending.member, Kind::kEither) : -1;
    std::string& out = holder >= 0 ? children[holder] : scanned_.lines;
    switch (pending.kind) {
      case Pending::kRecord:
        AppendRecordLine(settings_.format, pending.record, place, out);
        ++scanned_.totals.records;
        break;
      case Pending::kEmpty:
        AppendEmptyLine(settings_.format, place, out);
        break;
      case Pending::kError:
        if (settings_.format != OutputFormat::kCycloneDx) {
          AppendErrorLine(settings_.format, place, pending.error, pending.message, out);
        }
        if (settings_.errors_on_stderr) {
          AppendErrorMessage(place, pending.error, pending.message, scanned_.messages);
        }
        ++scanned_.totals.errors;
        break;
    }
  }
  if (nested) NestHolders(children);
}

ScannedItem ItemScan::Run(bool probe_wait) {
  const int fd = item_.error == 0 ? OpenItem(item_, path_) : -1;
  const int open_error = item_.error != 0 ? item_.error : fd < 0 ? errno : 0;
  if (open_error != 0) {
    Error({}, open_error, {});
    WriteLines();
    return std::move(scanned_);
  }
  if (probe_wait && settings_.read_ahead != nullptr && ReadAhead::ReadWouldWait(fd)) {
    settings_.read_ahead->NoteWait();
  }
  ArchiveEvents events{
      [&](const MemberPath& member, const Digests& digests, const zeblix::Record& record) {
        pending_.push_back({Pending::kRecord, member, digests, record, 0, {}});
        ++records_in_content_;
      },
      [&](const MemberPath& member, int error, const std::string& message) {
        Error(member, error, message);
      },
      [&](const MemberPath& member, const Digests& digests) {
        // Contents are told one after another: a content that held records has its lines.
        if (records_in_content_ == 0 && settings_.empty) {
          pending_.push_back({Pending::kEmpty, member, digests, {}, 0, {}});
        }
        records_in_content_ = 0;
      },
      nullptr,
      [&](const Holder& holder) {
        by_where_[holder.where].push_back(holders_.size());
        holders_.push_back(holder);
      }};
  if (settings_.hash) events.new_digest = [] { return std::make_unique<Sha256>(); };
  if (settings_.archives) {
    ScanPacked(fd, BaseName(path_), settings_.archive_limits, events);
  } else {
    ScanFileBytes(fd, events);
  }
  if (settings_.count_bytes) {
    const off_t position = lseek(fd, 0, SEEK_CUR);
    if (position > 0) scanned_.totals.bytes = static_cast<std::uint64_t>(position);
  }
  close(fd);
  WriteLines();
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
    const LinePlace place{item.name, {}, settings.host, {}, {}};
    if (settings.format != OutputFormat::kCycloneDx) {
      AppendErrorLine(settings.format, place, ENOMEM, {}, failed.lines);
    }
    AppendErrorMessage(place, ENOMEM, {}, failed.messages);
    return failed;
  }
}
