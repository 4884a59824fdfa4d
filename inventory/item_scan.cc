// A file's lines wait until it has been read, so that each line can carry the digests of what it
// lies in, each made as that was read whole; a content that fails midway has its records written
// without one, then the error.
#include "inventory/item_scan.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "archive/archive_scan.h"
#include "archive/event_wire.h"
#include "archive/layer_view.h"
#include "archive/layout_scan.h"
#include "text/words.h"
#include "zeblix/scan.h"

namespace {

// Every file is opened without blocking: a file found in a tree, in case a FIFO has taken its
// place since the listing; a path the user named, so that waiting for a FIFO's writer can be
// cancelled (the scan then waits for its bytes, and reads it, as a pipe is, to its end). "-" is
// standard input.
int OpenItem(const WalkItem& item, const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (item.standard_input) return fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  if (item.named || item.directory == nullptr) return open(path.c_str(), kFlags);
  return openat(item.directory->fd(), item.name.c_str(), kFlags);
}

// SHA-256 with OpenSSL's libcrypto, one for each content. Made where no C code (libarchive) lies
// between it and the item's scan, so that running out of memory can be thrown.
class Sha256 final : public ContentDigest {
 public:
  explicit Sha256(const EVP_MD* md) : md_(md), context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr || md_ == nullptr) throw std::bad_alloc();
    Reset();
  }

  void Reset() override {
    if (EVP_DigestInit_ex2(context_.get(), md_, nullptr) != 1) throw std::bad_alloc();
  }

  void Add(std::span<const std::uint8_t> bytes) override {
    EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size());
  }

  // The digest, in lower-case hex.
  std::string Finish() override {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context_.get(), digest, &size);
    return Hex(std::span(digest, size));
  }

 private:
  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  const EVP_MD* md_;
  std::unique_ptr<EVP_MD_CTX, Free> context_;
};

// The pages of a file that were not in the page cache before its scan read them, let go after
// it (--nice): a nightly scan leaves the host's working set as it found it.
class CacheKeeper {
 public:
  CacheKeeper(int fd, const struct stat& status) : fd_(fd) {
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (!S_ISREG(status.st_mode) || status.st_size <= 0) return;
    const auto size = static_cast<std::size_t>(status.st_size);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) return;  // what was cached cannot be told: all of it stays
    resident_.resize((size + page_ - 1) / page_);
    if (mincore(mapped, size, resident_.data()) != 0) resident_.clear();
    munmap(mapped, size);
  }
  ~CacheKeeper() {
    for (std::size_t page = 0; page < resident_.size();) {
      if ((resident_[page] & 1) != 0) {
        ++page;
        continue;
      }
      const std::size_t first = page;
      while (page < resident_.size() && (resident_[page] & 1) == 0) ++page;
      posix_fadvise(fd_, static_cast<off_t>(first * page_),
                    static_cast<off_t>((page - first) * page_), POSIX_FADV_DONTNEED);
    }
  }
  CacheKeeper(const CacheKeeper&) = delete;
  CacheKeeper& operator=(const CacheKeeper&) = delete;

 private:
  int fd_;
  std::size_t page_ = 4096;
  std::vector<unsigned char> resident_;
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
  // A package or image, with the digests of what it lies in.
  struct Found {
    Holder holder;
    Digests digests;
  };
  // An image the line (or package) lies in, and where in it; holder -1: none.
  struct InImage {
    int holder = -1;
    ImageLayers::Place place;
  };
  void Error(const MemberPath& member, int error, const std::string& message) {
    pending_.push_back({Pending::kError, member, {}, {}, error, message});
    records_in_content_ = 0;
  }

  // What the scan of the file tells, taken into the lines waiting to be written.
  ArchiveEvents Events();
  // The file told again from the cache, its identity unchanged; false when it must be read.
  bool FromCache();
  // Scans the open file (or layout), taking the layers the cache knows from it when `known`.
  void Scan(int fd, const struct stat& status, bool known);
  // What the cache is given to tell the layers it knows, and to keep the others.
  void AddLayerHooks(ArchiveEvents& events);
  void Known(const MemberPath& member, const Digests& digests, const std::string& digest);
  // Keeps what the file and its layers told, when the file was read whole without an error.
  void Keep(const struct stat& status, std::int64_t read_at);
  void NoteFileId(const struct stat& status) {
    file_id_ = LinePlace::FileId{static_cast<unsigned long long>(status.st_dev),
                                 static_cast<unsigned long long>(status.st_ino)};
  }
  // Forgets what a scan found, to scan the file again.
  void Reset();
  void WriteLines();
  void WriteLine(const Pending& pending, std::uint64_t line);
  // The innermost package or image (of the kind asked) the content at `member` lies in; -1 when
  // none. Of two at the same depth, the one told later; at the depth of `member` itself, only one
  // told before `before` (a holder's own holder is found so); none at `outside` or above it.
  enum class Kind { kPackage, kImage, kEither };
  int Innermost(std::span<const std::string> member, Kind kind,
                std::size_t before = std::numeric_limits<std::size_t>::max(),
                int outside = -1) const;
  // The innermost images the content at `member` lies in (all at one depth: several images may
  // share a layer), each with its place there.
  std::vector<InImage> ImagesOf(std::span<const std::string> member) const;
  // Those of them the run shows it in: those whose later layers leave it, or all of them with
  // --image-layers all; a single "none" when no image holds it.
  std::vector<InImage> ShownIn(std::span<const std::string> member) const;
  // The image a holder lies in, as one place: the innermost, whatever deletes it.
  int ImageAround(std::size_t holder) const;
  // Where the component of what lies at `member` (a holder's, `before` its own index) goes, as
  // it lies in `image`.
  Nest NestOf(std::span<const std::string> member, int image,
              std::size_t before = std::numeric_limits<std::size_t>::max()) const;
  // Tells the writer of each package and image, the innermost first, so that what lies inside
  // one is whole before it goes inside its own holder.
  void WriteHolders();
  // `subject`: the holder is what the run was about.
  void WriteHolder(std::size_t index, const std::vector<std::string>& digests, bool subject);
  LinePlace PlaceOf(const MemberPath& member, const std::vector<std::string>& digests,
                    const InImage& in, const std::string& bom_ref, std::string& path) const;
  // Where a line lies as written: in a layout, the file at its first member name.
  LinePlace Located(const MemberPath& member, std::span<const std::string> digests,
                    const std::string& bom_ref, std::string& path) const;

  const WalkItem& item_;
  const ScanSettings& settings_;
  std::uint64_t sequence_;
  std::string path_;
  ScannedItem scanned_;
  ItemLines lines_;
  std::vector<Pending> pending_;
  std::vector<Found> holders_;
  std::map<MemberPath, std::vector<std::size_t>> by_where_;  // holders_ by where they lie
  LayerEntries entries_;
  std::vector<std::optional<ImageLayers>> layers_;  // beside holders_, for images
  std::size_t records_in_content_ = 0;
  // With --cache: every event of the file, as told; the layers read whole, with their digests;
  // and whether a layer the cache knew did not read as known, so that the file is read again.
  EventLog log_;
  ArchiveEvents recording_;
  std::vector<std::pair<MemberPath, std::string>> layer_digests_;
  bool read_again_ = false;
  std::optional<LinePlace::FileId> file_id_;  // the file's, when it is one file on disk
};

int ItemScan::Innermost(std::span<const std::string> member, Kind kind, std::size_t before,
                        int outside) const {
  if (by_where_.empty()) return -1;  // most files: no path need be looked up
  const std::size_t shallowest = outside < 0 ? 0 : holders_[outside].holder.where.size() + 1;
  // From the longest prefix of the member path down, the holders there, the later first.
  for (std::size_t length = member.size() + 1; length-- > shallowest;) {
    const auto found = by_where_.find(MemberPath(member.begin(), member.begin() + length));
    if (found == by_where_.end()) continue;
    for (auto i = found->second.rbegin(); i != found->second.rend(); ++i) {
      const Holder& holder = holders_[*i].holder;
      if ((kind == Kind::kPackage && !holder.package) || (kind == Kind::kImage && !holder.image) ||
          (length == member.size() && *i >= before) || !holder.Holds(member)) {
        continue;
      }
      return static_cast<int>(*i);
    }
  }
  return -1;
}

std::vector<ItemScan::InImage> ItemScan::ImagesOf(std::span<const std::string> member) const {
  std::vector<InImage> images;
  const int innermost = Innermost(member, Kind::kImage);
  if (innermost < 0) return images;
  for (const std::size_t i : by_where_.at(holders_[innermost].holder.where)) {
    if (layers_[i] && holders_[i].holder.Holds(member)) {
      images.push_back({static_cast<int>(i), layers_[i]->PlaceOf(member)});
    }
  }
  return images;
}

std::vector<ItemScan::InImage> ItemScan::ShownIn(std::span<const std::string> member) const {
  std::vector<InImage> images = ImagesOf(member);
  if (images.empty()) return {InImage{}};
  if (!settings_.all_layers) {
    std::erase_if(images, [](const InImage& in) { return in.place.deleted_by >= 0; });
  }
  return images;
}

int ItemScan::ImageAround(std::size_t holder) const {
  return Innermost(holders_[holder].holder.where, Kind::kImage, holder);
}

Nest ItemScan::NestOf(std::span<const std::string> member, int image, std::size_t before) const {
  const int package = Innermost(member, Kind::kPackage, before, image);
  if (package >= 0) return {package, image};
  if (image >= 0) return {image, ImageAround(image)};
  return {-1, -1};
}

LinePlace ItemScan::Located(const MemberPath& member, std::span<const std::string> digests,
                            const std::string& bom_ref, std::string& path) const {
  if (item_.layout == nullptr || member.empty()) {
    LinePlace place{path_, member, settings_.host, digests, bom_ref};
    place.file_id = file_id_;
    return place;
  }
  path = path_;
  if (!path.ends_with('/')) path += '/';
  path += member.front();
  return LinePlace{path, MemberNames(member).subspan(1), settings_.host,
                   digests.empty() ? digests : digests.subspan(1), bom_ref};
}

LinePlace ItemScan::PlaceOf(const MemberPath& member, const std::vector<std::string>& digests,
                            const InImage& in, const std::string& bom_ref, std::string& path) const {
  LinePlace place = Located(member, digests, bom_ref, path);
  if (const int package = Innermost(member, Kind::kPackage); package >= 0) {
    place.package = &*holders_[package].holder.package;
  }
  if (in.holder >= 0) {
    place.image = &*holders_[in.holder].holder.image;
    place.layer = in.place.layer;
    place.deleted_by = in.place.deleted_by;
  }
  return place;
}

void ItemScan::WriteHolder(std::size_t i, const std::vector<std::string>& digests, bool subject) {
  const Holder& holder = holders_[i].holder;
  // A package lies in each image that shows it; an image in the one around it.
  std::vector<InImage> placed = {InImage{holder.image ? ImageAround(i) : -1, {}}};
  if (holder.package) placed = ShownIn(holder.where);
  for (const InImage& in : placed) {
    std::string bom_ref = "zeblix-inventory:" + std::to_string(sequence_) + ".holder" + std::to_string(i);
    if (placed.size() > 1) bom_ref += ".in" + std::to_string(in.holder);
    std::string path;
    LinePlace place = Located(holder.where, digests, bom_ref, path);
    place.nest = NestOf(holder.where, in.holder, i);
    settings_.writer->Holder(holder, place, Nest{static_cast<int>(i), in.holder}, subject, lines_);
  }
}

void ItemScan::WriteHolders() {
  std::vector<std::size_t> order(holders_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::pair(holders_[a].holder.where.size(), a) > std::pair(holders_[b].holder.where.size(), b);
  });
  const auto outermost = std::count_if(holders_.begin(), holders_.end(),
                                       [](const Found& found) { return found.holder.where.empty(); });
  // The one package or image a run was asked about is the document's subject.
  const bool one_subject = settings_.subject && sequence_ == 0 && outermost == 1;
  std::vector<std::string> digests;
  for (const std::size_t i : order) {
    digests.clear();
    for (const auto& digest : holders_[i].digests) digests.push_back(*digest);
    WriteHolder(i, digests, one_subject && holders_[i].holder.where.empty());
  }
}

void ItemScan::WriteLine(const Pending& pending, std::uint64_t line) {
  std::vector<std::string> digests;
  for (const auto& digest : pending.digests) digests.push_back(*digest);
  const std::vector<InImage> images = ImagesOf(pending.member);
  // Whiteouts are the bookkeeping of layers, not files.
  if (pending.kind == Pending::kEmpty && !images.empty() && IsWhiteoutMarker(pending.member.back())) {
    return;
  }
  std::vector<InImage> shown = ShownIn(pending.member);
  // An error is told once, whatever holds it.
  if (pending.kind == Pending::kError) shown.resize(std::min<std::size_t>(shown.size(), 1));
  if (pending.kind == Pending::kError && shown.empty()) shown.emplace_back();
  const LineWriter& writer = *settings_.writer;
  for (const InImage& in : shown) {
    std::string bom_ref = "zeblix-inventory:" + std::to_string(sequence_) + "." + std::to_string(line);
    if (shown.size() > 1) bom_ref += ".in" + std::to_string(in.holder);
    std::string path;
    LinePlace place = PlaceOf(pending.member, digests, in, bom_ref, path);
    if (!holders_.empty()) place.nest = NestOf(pending.member, in.holder);
    switch (pending.kind) {
      case Pending::kRecord:
        writer.Record(pending.record, place, lines_);
        break;
      case Pending::kEmpty:
        writer.Empty(place, lines_);
        break;
      case Pending::kError:
        writer.Error(place, pending.error, pending.message, lines_);
        if (settings_.errors_on_stderr) {
          AppendErrorMessage(place, pending.error, pending.message, scanned_.messages);
        }
        break;
    }
  }
  if (pending.kind == Pending::kRecord) ++scanned_.totals.records;
  if (pending.kind == Pending::kError) ++scanned_.totals.errors;
}

void ItemScan::WriteLines() {
  if (!entries_.complete()) {
    Error({}, E2BIG, "the image's layers hold more than " +
                         std::to_string(LayerEntries::kMostEntries) +
                         " entries: what later layers delete is not judged");
  }
  for (std::size_t i = 0; i < holders_.size(); ++i) {
    if (holders_[i].holder.image) layers_[i].emplace(holders_[i].holder, entries_);
  }
  std::uint64_t line = 0;
  for (const Pending& pending : pending_) WriteLine(pending, line++);
  WriteHolders();
  scanned_.lines = std::move(lines_.top);
  scanned_.subject = std::move(lines_.subject);
}

ArchiveEvents ItemScan::Events() {
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
      [&](const Holder& holder, const Digests& digests) {
        by_where_[holder.where].push_back(holders_.size());
        holders_.push_back({holder, digests});
        layers_.emplace_back();
      },
      [&](const MemberPath& archive, const std::string& name, ArchiveEvents::EntryKind kind) {
        entries_.Add(archive, name, kind);
      }};
  if (settings_.hash) {
    events.new_digest = [md = settings_.sha256] { return std::make_unique<Sha256>(md.get()); };
  }
  return events;
}

FileIdentity IdentityOf(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
          status.st_size,
          std::int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec,
          std::int64_t{status.st_ctim.tv_sec} * 1000000000 + status.st_ctim.tv_nsec};
}

bool ItemScan::FromCache() {
  if (settings_.cache == nullptr || item_.error != 0 || item_.layout != nullptr ||
      item_.standard_input) {
    return false;
  }
  struct stat status {};
  const bool found = item_.named || item_.directory == nullptr
                         ? stat(path_.c_str(), &status) == 0
                         : fstatat(item_.directory->fd(), item_.name.c_str(), &status, 0) == 0;
  if (!found || !S_ISREG(status.st_mode)) return false;
  const std::optional<std::string> bytes =
      settings_.cache->Lookup(IdentityOf(status), BaseName(path_));
  EventLog kept;
  if (!bytes || !kept.Read(*bytes)) return false;
  NoteFileId(status);
  kept.Tell(Events());
  return true;
}

void ItemScan::Known(const MemberPath& member, const Digests& digests, const std::string& digest) {
  const std::optional<std::string> bytes =
      digest.empty() ? std::nullopt : settings_.cache->Layer(digest);
  EventLog layer;
  if (!bytes || !layer.Read(*bytes)) {
    read_again_ = true;
    return;
  }
  layer.Tell(recording_, member, digests);
  ++scanned_.totals.cached_layers;
}

void ItemScan::AddLayerHooks(ArchiveEvents& events) {
  events.check_digest = [md = settings_.sha256] { return std::make_unique<Sha256>(md.get()); };
  events.on_layer_digest = [this](const MemberPath& member, const std::string& digest) {
    layer_digests_.emplace_back(member, digest);
  };
  events.on_known = [this](const MemberPath& member, const Digests& digests,
                           const std::string& digest) { Known(member, digests, digest); };
}

void ItemScan::Scan(int fd, const struct stat& status, bool known) {
  ArchiveEvents events = Events();
  if (settings_.cache != nullptr) {
    recording_ = log_.Recording(events);
    events = recording_;
    // Layers are known by their SHA-256: without libcrypto each is read as it is.
    if (S_ISREG(status.st_mode) && settings_.sha256 != nullptr) AddLayerHooks(events);
    if (known) {
      events.knows = [layers = settings_.cache->KnownLayers()](std::string_view digest) {
        return layers->count(digest) > 0;
      };
    }
  }
  // A pipe or device the user named is waited on for its bytes; one found in a tree never is.
  const FileOptions reading{.waits = (item_.named || item_.standard_input) && fd >= 0 &&
                                     !S_ISREG(status.st_mode)};
  if (item_.layout != nullptr) {
    ScanLayout(item_.layout->fd(), settings_.archive_limits, events);
  } else if (settings_.archives) {
    ScanPacked(fd, BaseName(path_), settings_.archive_limits, events, reading);
  } else {
    ScanFileBytes(fd, settings_.archive_limits, events, reading);
  }
}

void ItemScan::Reset() {
  pending_.clear();
  holders_.clear();
  by_where_.clear();
  entries_ = {};
  layers_.clear();
  records_in_content_ = 0;
  scanned_.totals.cached_layers = 0;
  log_ = {};
  layer_digests_.clear();
  read_again_ = false;
}

void ItemScan::Keep(const struct stat& status, std::int64_t read_at) {
  if (settings_.cache == nullptr || !S_ISREG(status.st_mode) || item_.layout != nullptr ||
      !log_.whole()) {
    return;
  }
  const std::atomic<bool>* cancel = settings_.archive_limits.cancel;
  if (cancel != nullptr && cancel->load()) return;
  for (const auto& [member, digest] : layer_digests_) {
    if (!log_.HasErrors(member)) settings_.cache->StoreLayer(digest, log_.Bytes(member));
  }
  if (!log_.HasErrors()) {
    settings_.cache->Store(IdentityOf(status), BaseName(path_), log_.Bytes(), read_at);
  }
}

ScannedItem ItemScan::Run(bool probe_wait) {
  if (FromCache()) {
    WriteLines();
    scanned_.totals.files = scanned_.totals.cached = 1;
    return std::move(scanned_);
  }
  const int fd = item_.error == 0 && item_.layout == nullptr ? OpenItem(item_, path_) : -1;
  const int open_error = item_.error != 0 ? item_.error : fd < 0 && item_.layout == nullptr ? errno : 0;
  if (open_error != 0) {
    Error({}, open_error, {});
    WriteLines();
    return std::move(scanned_);
  }
  const InsideGate inside(settings_.archive_limits.fork_gate);
  // The identity is taken before the first byte is read, and the moment it is taken before it.
  const std::int64_t read_at = settings_.cache != nullptr ? settings_.cache->Now() : 0;
  struct stat status {};
  if (fd >= 0 && fstat(fd, &status) == 0) NoteFileId(status);
  // What was cached is noted before the probe below: a probe that misses starts the kernel reading.
  std::optional<CacheKeeper> keeper;
  if (settings_.nice && fd >= 0) keeper.emplace(fd, status);
  if (probe_wait && fd >= 0 && settings_.read_ahead != nullptr && ReadAhead::ReadWouldWait(fd)) {
    settings_.read_ahead->NoteWait();
  }
  Scan(fd, status, /*known=*/true);
  if (read_again_ && lseek(fd, 0, SEEK_SET) == 0) {
    Reset();
    Scan(fd, status, /*known=*/false);
  }
  if (settings_.count_bytes && fd >= 0) {
    const off_t position = lseek(fd, 0, SEEK_CUR);
    if (position > 0) scanned_.totals.bytes = static_cast<std::uint64_t>(position);
  }
  keeper.reset();  // before the descriptor goes
  if (fd >= 0) close(fd);
  Keep(status, read_at);
  WriteLines();
  scanned_.totals.files = 1;
  return std::move(scanned_);
}

}  // namespace

namespace {

// An item whose lines could not be made: an error of its own.
ScannedItem Failed(const WalkItem& item, const ScanSettings& settings, int error,
                   std::string_view message) {
  ScannedItem failed;
  failed.totals.errors = 1;
  const LinePlace place{item.name, {}, settings.host, {}, {}};
  ItemLines lines;
  settings.writer->Error(place, error, message, lines);
  failed.lines = std::move(lines.top);
  AppendErrorMessage(place, error, message, failed.messages);
  return failed;
}

}  // namespace

std::shared_ptr<EVP_MD> FetchSha256() {
  // The default provider's: no configuration file is read for it.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
  return {EVP_MD_fetch(nullptr, "SHA256", nullptr), EVP_MD_free};
}

ScannedItem ScanItem(const WalkItem& item, const ScanSettings& settings, std::uint64_t sequence,
                     bool probe_wait) {
  try {
    return ItemScan(item, settings, sequence).Run(probe_wait);
  } catch (const std::bad_alloc&) {
    // Under a memory limit a file's lines may not fit: it becomes an error of its own.
    return Failed(item, settings, ENOMEM, {});
  } catch (const std::runtime_error& error) {
    return Failed(item, settings, ELIBACC, error.what());
  }
}
