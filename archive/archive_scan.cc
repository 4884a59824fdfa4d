// Each layer of a content is read by a libarchive reader of its own: a compressed stream by a
// reader of that one filter, whose output is a content again; an archive by a reader of every
// format, whose members are contents again. A layer is taken for what its first bytes promise only
// once it keeps the promise: a compressed stream once it gives its first bytes, an archive once it
// shows a member. Until then what the archive tells is held back; should it fail instead, that is
// dropped, and its bytes are read again and scanned as they lie. A content whose first bytes
// promise nothing (executables, libraries, data) is scanned without asking libarchive at all.
#include "archive/archive_scan.h"

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "archive/archive_signatures.h"
#include "archive/content_stream.h"
#include "archive/decoded_stream.h"
#include "archive/reader_process.h"
#include "text/words.h"

namespace {

// The bytes a look at a content needs: a tar header, and where an ISO 9660 image names itself.
constexpr std::size_t kHeadBytes = kIsoSignatureAt + kIsoSignatureSize;
// Compressed streams inside one another, with no archive between them.
constexpr int kMostFiltersInARow = 4;

struct ArchiveFree {
  void operator()(struct archive* reader) const { archive_read_free(reader); }
};
using Reader = std::unique_ptr<struct archive, ArchiveFree>;

// A stream that fails ends there for libarchive, which so keeps every member it read whole
// before; the failure stays on the stream, for the scan to tell once the archive is read.
la_ssize_t ReadStream(struct archive*, void* opaque, const void** buffer) {
  auto& stream = *static_cast<ContentStream*>(opaque);
  return std::max<std::ptrdiff_t>(stream.Next(buffer), 0);
}

la_int64_t SeekStream(struct archive*, void* opaque, la_int64_t offset, int whence) {
  const std::int64_t to = static_cast<ContentStream*>(opaque)->Seek(offset, whence);
  return to < 0 ? ARCHIVE_FATAL : to;
}

la_int64_t SkipStream(struct archive*, void* opaque, la_int64_t request) {
  auto& stream = *static_cast<ContentStream*>(opaque);
  const std::int64_t from = stream.position();
  const std::int64_t to = stream.Seek(request, SEEK_CUR);
  return to < 0 ? 0 : to - from;
}

// What the readers know of each compression: libarchive's bidder for it, and its name in an
// error when it does not decompress.
struct Filter {
  int code;
  int (*support)(struct archive*);
  const char* damaged;
};

// clang-format off
constexpr Filter kFilters[] = {
    {ARCHIVE_FILTER_GZIP,     archive_read_support_filter_gzip,     "damaged gzip data"},
    {ARCHIVE_FILTER_BZIP2,    archive_read_support_filter_bzip2,    "damaged bzip2 data"},
    {ARCHIVE_FILTER_XZ,       archive_read_support_filter_xz,       "damaged xz data"},
    {ARCHIVE_FILTER_LZMA,     archive_read_support_filter_lzma,     "damaged lzma data"},
    {ARCHIVE_FILTER_ZSTD,     archive_read_support_filter_zstd,     "damaged zstd data"},
    {ARCHIVE_FILTER_LZ4,      archive_read_support_filter_lz4,      "damaged lz4 data"},
    {ARCHIVE_FILTER_LZIP,     archive_read_support_filter_lzip,     "damaged lzip data"},
    {ARCHIVE_FILTER_UU,       archive_read_support_filter_uu,       "damaged uuencoded data"},
    {ARCHIVE_FILTER_COMPRESS, archive_read_support_filter_compress, "damaged compress (.Z) data"},
    {ARCHIVE_FILTER_RPM,      archive_read_support_filter_rpm,      "damaged RPM package"},
};
// clang-format on

const Filter& FilterOf(int code) {
  for (const Filter& filter : kFilters) {
    if (filter.code == code) return filter;
  }
  assert(false && "every filter the signatures name is in the table");
  return kFilters[0];
}

// A reader of one filter, whose output is read as raw data; or (filter 0) of every archive format.
// An imposed filter reads just one layer, where bidding would stack a second stream of the same
// kind found inside; but only bidding checks that the bytes are such a stream at all.
Reader NewReader(int filter, bool impose = false) {
  Reader reader(archive_read_new());
  if (reader == nullptr) return reader;
  struct archive* a = reader.get();
  if (filter != 0) {
    if (impose) {
      archive_read_append_filter(a, filter);
    } else {
      FilterOf(filter).support(a);
    }
    // Raw takes any bytes but none; "empty" takes none, so a stream that decompresses to nothing
    // is told from one that does not decompress.
    archive_read_support_format_raw(a);
    archive_read_support_format_empty(a);
    return reader;
  }
  for (const auto support : {archive_read_support_format_tar, archive_read_support_format_cpio,
                             archive_read_support_format_zip, archive_read_support_format_7zip,
                             archive_read_support_format_ar, archive_read_support_format_iso9660}) {
    support(a);
  }
  return reader;
}

// Opens `reader` on the stream, or on its bytes kept whole in memory.
int Open(struct archive* reader, ContentStream& stream, std::span<const std::uint8_t> whole) {
  if (!whole.empty()) return archive_read_open_memory(reader, whole.data(), whole.size());
  archive_read_set_read_callback(reader, ReadStream);
  archive_read_set_callback_data(reader, &stream);
  if (stream.seekable()) {
    archive_read_set_seek_callback(reader, SeekStream);
    archive_read_set_skip_callback(reader, SkipStream);
  }
  return archive_read_open1(reader);
}

// A compressed stream, read from its first byte by a reader that checks its header, holds nothing.
bool DecompressesToNothing(ContentStream& stream, int filter) {
  if (!stream.Rewind()) return false;
  const Reader check = NewReader(filter);
  if (check == nullptr) return false;
  struct archive_entry* entry = nullptr;
  return Open(check.get(), stream, {}) == ARCHIVE_OK &&
         archive_read_next_header(check.get(), &entry) == ARCHIVE_EOF &&
         archive_filter_count(check.get()) >= 2;
}

// Members of zip and 7-Zip archives are decompressed; those of the others are slices of it.
bool MembersExpand(struct archive* reader) {
  const int base = archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK;
  return base == ARCHIVE_FORMAT_ZIP || base == ARCHIVE_FORMAT_7ZIP;
}

bool IsArBookkeeping(struct archive* reader, struct archive_entry* entry) {
  if ((archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_AR) return false;
  const char* name = archive_entry_pathname(entry);
  return name != nullptr &&
         (std::strcmp(name, "/") == 0 || std::strcmp(name, "//") == 0 ||
          std::strcmp(name, "/SYM64/") == 0 || std::strcmp(name, "__.SYMDEF") == 0);
}

// An entry that holds no content of its own: a directory, a link, a device; a hard link in a tar
// (it names a member already seen); an ar archive's symbol and name tables.
bool HoldsNoContent(struct archive* reader, struct archive_entry* entry) {
  const auto type = archive_entry_filetype(entry);  // members of an ar archive may carry none
  return (type != AE_IFREG && type != 0) ||
         (archive_entry_hardlink(entry) != nullptr && archive_entry_size(entry) == 0) ||
         IsArBookkeeping(reader, entry);
}

ArchiveEvents::EntryKind KindOf(struct archive_entry* entry) {
  const auto type = archive_entry_filetype(entry);
  if (type == AE_IFDIR) return ArchiveEvents::EntryKind::kDirectory;
  if ((type == AE_IFREG || type == 0) && archive_entry_hardlink(entry) == nullptr) {
    return ArchiveEvents::EntryKind::kFile;
  }
  return ArchiveEvents::EntryKind::kOther;
}

std::string NameOf(struct archive_entry* entry) {
  if (const char* name = archive_entry_pathname(entry)) return name;
  if (const char* name = archive_entry_pathname_utf8(entry)) return name;
  return {};
}

// Why a layer failed.
struct Failure {
  int error = 0;
  std::string message;
};

// What a scan tells, held back while an archive has not yet shown a member.
class Outbox {
 public:
  explicit Outbox(const ArchiveEvents& events) : events_(&events) {}
  // From now on, what is told goes to `events` (a reader's process tells its parent).
  void Redirect(const ArchiveEvents& events) { events_ = &events; }

  void Record(const MemberPath& member, const Digests& digests, const zeblix::Record& record) {
    Send({Event::kRecord, member, digests, record, 0, {}});
  }
  void Error(const MemberPath& member, int error, const std::string& message) {
    Send({Event::kError, member, {}, {}, error, message});
  }
  void Scanned(const MemberPath& member, const Digests& digests) {
    Send({Event::kScanned, member, digests, {}, 0, {}});
  }
  void Holds(Holder holder, const Digests& digests) {
    Send({Event::kHolder, {}, digests, {}, 0, {}, std::make_shared<const Holder>(std::move(holder))});
  }
  void Entry(const MemberPath& archive, const std::string& name, ArchiveEvents::EntryKind kind) {
    Send({Event::kEntry, archive, {}, {}, static_cast<int>(kind), name});
  }
  void Known(const MemberPath& member, const Digests& digests, const std::string& digest) {
    Send({Event::kKnown, member, digests, {}, 0, digest});
  }
  void LayerDigest(const MemberPath& member, const std::string& digest) {
    Send({Event::kLayerDigest, member, {}, {}, 0, digest});
  }

  // Holds what is told from now on, until it is released (to the hold before, or out) or dropped.
  void Hold() { held_.emplace_back(); }
  void Release() {
    std::vector<Event> events = std::move(held_.back());
    held_.pop_back();
    for (Event& event : events) Send(std::move(event));
  }
  void Drop() { held_.pop_back(); }

  struct Event {
    enum Kind { kRecord, kError, kScanned, kHolder, kEntry, kKnown, kLayerDigest } kind;
    MemberPath member;
    Digests digests;
    zeblix::Record record;
    int error;
    std::string message;
    std::shared_ptr<const Holder> holder = nullptr;
  };
  // The records and contents the innermost hold has so far, to be told again for another name
  // of the same content: with the name at `depth` of their member paths replaced by `name`.
  std::vector<Event> Contents() const {
    std::vector<Event> events;
    for (const Event& event : held_.back()) {
      if (event.kind == Event::kRecord || event.kind == Event::kScanned) events.push_back(event);
    }
    return events;
  }
  void TellAgain(std::vector<Event> events, std::size_t depth, const std::string& name) {
    for (Event& event : events) {
      event.member[depth] = name;
      Send(std::move(event));
    }
  }

  // How many events have been told, held ones too.
  std::uint64_t told() const { return told_; }

 private:
  void Send(Event&& event) {
    ++told_;
    if (!held_.empty()) return held_.back().push_back(std::move(event));
    switch (event.kind) {
      case Event::kRecord:
        return events_->on_record(event.member, event.digests, event.record);
      case Event::kError:
        return events_->on_error(event.member, event.error, event.message);
      case Event::kScanned:
        return events_->on_scanned(event.member, event.digests);
      case Event::kHolder:
        return events_->on_holder(*event.holder, event.digests);
      case Event::kEntry:
        return events_->on_entry(event.member, event.message,
                                 static_cast<ArchiveEvents::EntryKind>(event.error));
      case Event::kKnown:
        return events_->on_known(event.member, event.digests, event.message);
      case Event::kLayerDigest:
        return events_->on_layer_digest(event.member, event.message);
    }
  }

  const ArchiveEvents* events_;
  std::vector<std::vector<Event>> held_;
  std::uint64_t told_ = 0;
};

// What each member of an archive gave, by name, for the hard links that name it later; as many as
// memory may hold for a file.
using Contents = std::map<std::string, std::vector<Outbox::Event>>;
constexpr std::size_t kMostRemembered = 100000;

// A hard link to a member read before: that member's content, under the link's name.
const Contents::value_type* HardLinked(struct archive_entry* entry, const Contents& contents) {
  const char* target = archive_entry_hardlink(entry);
  if (target == nullptr || archive_entry_size(entry) != 0) return nullptr;
  const auto found = contents.find(target);
  return found == contents.end() ? nullptr : &*found;
}

// What an archive's members say it is: a .deb (its first member debian-binary, its control file in
// the control tarball), or an image (its manifests, which may come last).
class MemberBookkeeping {
 public:
  // `control`: where a .deb's control file is to be kept, when this archive is its control
  // tarball.
  MemberBookkeeping(struct archive* reader, std::string* control)
      : reader_(reader), control_(control) {}

  // What of a member to keep: its bytes, and (for a .deb's control tarball) its control file.
  struct Wish {
    std::string* bytes = nullptr;
    std::string* control = nullptr;
  };
  Wish Before(struct archive_entry* entry, const std::string& name) {
    book_.Saw(name);
    // The format is known once the first header has been read.
    const bool ar = (archive_format(reader_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_AR;
    if (++members_ == 1 && ar && name == "debian-binary") deb_ = true;
    if (deb_ && name.starts_with("control.tar")) return {.control = &deb_control_};
    if (control_ != nullptr && (name == "control" || name == "./control")) return {.bytes = control_};
    const std::int64_t size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
    image_member_ = book_.Wants(name, size);
    return {.bytes = image_member_ ? &kept_ : nullptr};
  }
  void After(const std::string& name) {
    if (image_member_ && !book_.Keep(name, kept_)) spent_ = true;
    image_member_ = false;
  }
  // A member told under another name: a hard link, or a symbolic link to one.
  void SawLink(struct archive_entry* entry, const std::string& name) {
    if (archive_entry_hardlink(entry) != nullptr) return book_.Saw(name);
    if (const char* target = archive_entry_symlink(entry)) book_.SawLink(name, target);
  }

  // The package or images the archive at `where` is, and what did not read.
  std::vector<Holder> Holders(const MemberPath& where, std::vector<std::string>& problems) const {
    std::vector<Holder> holders = book_.Images(problems);
    if (spent_ && holders.empty()) problems.push_back("an image's manifests are too large to read");
    if (deb_) {
      std::string problem = deb_control_.size() > kMostBookkeepingBytes
                                ? "the package's control file is larger than 1 MiB"
                                : "the package has no control file";
      auto package = deb_control_.empty() || deb_control_.size() > kMostBookkeepingBytes
                         ? std::nullopt
                         : ReadDebControl(deb_control_, problem);
      if (package) {
        holders.emplace_back().package = std::move(package);
      } else {
        problems.push_back(std::move(problem));
      }
    }
    for (Holder& holder : holders) holder.where = where;
    return holders;
  }

 private:
  struct archive* reader_;
  std::string* control_;
  std::size_t members_ = 0;
  bool deb_ = false;
  std::string deb_control_;
  ImageBookkeeping book_;
  bool image_member_ = false;
  bool spent_ = false;
  std::string kept_;
};

// The scan of one file on disk and the archives inside it.
class PackedScan {
 public:
  PackedScan(std::string_view file_name, const ArchiveLimits& limits, const ArchiveEvents& events)
      : file_name_(file_name), limits_(limits), events_(&events), budget_(limits), outbox_(events) {}

  // Scans the file: through its archives, or (`as_it_lies`) only its own bytes; `waits` for the
  // bytes of a pipe or device.
  void Run(int fd, bool as_it_lies, bool waits);
  // The file is an image's layer: its archive's entries are told.
  void TakeAsLayer(bool layer) { in_layer_ = layer && events_->on_entry; }

 private:
  // Scans a file that looks packed, in a reader's process of its own where the limits ask.
  void ScanPackedFile(FileStream& file);
  // Reads what is left of the file for its digest, and tells a bound that was passed.
  void Finish(FileStream& file);
  // A name on the member path while one content is scanned, with the slot of its digest; none
  // when there is no name.
  class Named {
   public:
    Named(PackedScan& scan, ContentStream& stream, std::optional<std::string> name);
    ~Named();
    Named(const Named&) = delete;
    Named& operator=(const Named&) = delete;

   private:
    PackedScan& scan_;
    bool named_;
  };

  // `decompressed`: the content is what a compressed stream gave, named as gunzip would name it
  // when it is scanned as it lies; `archives`: the archives around it; `filters`: the compressed
  // streams around it since the innermost archive.
  void ScanContent(ContentStream& stream, bool decompressed, int archives, int filters);
  void ScanCompressed(ContentStream& stream, Packing packing, bool decompressed, int archives,
                      int filters);
  // A compression decoded here, not by libarchive.
  void ScanDecoded(ContentStream& stream, Codec codec, Packing packing, bool decompressed,
                   int archives, int filters);
  void ScanArchive(ContentStream& stream, Packing packing, bool decompressed, int archives);
  // Reads the members of an open archive; false, with why, when it failed before it showed one.
  bool ReadMembers(struct archive* reader, ContentStream& stream, int archives, Failure& failure);
  // What one pass over an archive's members keeps.
  struct MemberPass {
    struct archive* reader;
    ContentStream& stream;
    int archives;
    Failure& failure;  // why the archive failed before it showed a member
    MemberBookkeeping book;
    bool lists_entries;
    Contents contents = {};
    bool shown = false;  // a member has been shown: the archive is one
    bool resynchronising = false;
  };
  // The archive has shown a member: what was held back is told, and its bytes need not be kept.
  void Show(MemberPass& pass);
  // A header that did not read; false when the pass ends there.
  bool HeaderFailed(MemberPass& pass, int status);
  // Takes the member of the header just read; false when the archive cannot be read past it.
  bool TakeMember(MemberPass& pass, struct archive_entry* entry);
  // Scans the current member, keeping what `wish` asks of it; its stream's failure, if any.
  std::optional<Failure> ScanMember(struct archive* reader, const ContentStream& source,
                                    std::string name, int archives, MemberBookkeeping::Wish wish,
                                    bool& fatal);
  // Reads a layer the asker knows only to check its bytes against `layer`, its named digest,
  // and tells it known; a layer that does not read whole, or not as named, is told with no digest.
  std::optional<Failure> CheckKnownLayer(ContentStream& stream, std::string name,
                                         const std::string& layer, bool& fatal);
  // The slot the digest of the named member's bytes as stored will be in, once it is read.
  std::shared_ptr<std::string> CheckDigest(ContentStream& stream);
  // Tells the packages and images an archive's members showed it to be.
  void TellHolders(const MemberBookkeeping& book);
  // An RPM's identity, from its headers before its payload is read; nullopt, with why, when they
  // do not read.
  std::optional<Holder> RpmHolder(ContentStream& stream, std::string& problem);
  // Scans the content as it lies, after a reader failed on it; a failure is told after its
  // records when the bytes were surely packed.
  void FallBack(ContentStream& stream, Packing packing, bool decompressed, const Failure& failure);
  void ScanAsItLies(ContentStream& stream, bool decompressed, const Failure* failure = nullptr);
  void ScanPlain(ContentStream& stream);
  // Scans a file as it lies, its first bytes read straight into the scan's window, unless they
  // look packed: then false, with them kept to be read again.
  bool ScanUnlessPacked(ContentStream& file);
  // Tells that no reader could be made: libarchive is not there to be loaded, or memory ran out.
  void ReportNoReader() {
    if (archive_version_number() == 0) return Report(ELIBACC, "libarchive could not be loaded");
    Report(ENOMEM, std::strerror(ENOMEM));
  }
  // Tells an error of the content being scanned.
  void Report(int error, const std::string& message) {
    if (!budget_.exceeded()) outbox_.Error(where_, error, message);
  }
  // The name of a decompressed content: its compressed member's (or file's) without the suffix.
  std::optional<std::string> NameIf(bool decompressed) const {
    if (!decompressed) return std::nullopt;
    return DecompressedName(where_.empty() ? file_name_ : where_.back());
  }

  std::string file_name_;
  const ArchiveLimits& limits_;
  const ArchiveEvents* events_;
  Budget budget_;
  Outbox outbox_;
  MemberPath where_;
  Digests digests_;  // the file's, then one for each name on where_; none without a digest
  // Where the control file goes while a .deb's control tarball is scanned.
  std::string* control_wanted_ = nullptr;
  // The member being scanned may be an image's layer, whose archive's entries are listed.
  bool in_layer_ = false;
};

PackedScan::Named::Named(PackedScan& scan, ContentStream& stream, std::optional<std::string> name)
    : scan_(scan), named_(name.has_value()) {
  if (!named_) return;
  scan_.where_.push_back(std::move(*name));
  if (!scan_.events_->new_digest) return;
  scan_.digests_.push_back(std::make_shared<std::string>());
  stream.DigestInto(scan_.digests_.back(), scan_.events_->new_digest());
}

PackedScan::Named::~Named() {
  if (!named_) return;
  scan_.where_.pop_back();
  if (scan_.events_->new_digest) scan_.digests_.pop_back();
}

void PackedScan::Run(int fd, bool as_it_lies, bool waits) {
  FileStream file(fd, budget_, where_, waits, limits_.cancel);
  if (events_->new_digest) {
    digests_.push_back(std::make_shared<std::string>());
    file.DigestInto(digests_.back(), events_->new_digest());
  }
  if (as_it_lies) {
    ScanAsItLies(file, /*decompressed=*/false);
  } else if (!ScanUnlessPacked(file)) {
    return ScanPackedFile(file);
  }
  Finish(file);
}

void PackedScan::Finish(FileStream& file) {
  file.Finish();
  if (budget_.exceeded()) events_->on_error(budget_.where(), EFBIG, budget_.message());
}

void PackedScan::ScanPackedFile(FileStream& file) {
  const auto scan = [&] {
    ScanContent(file, /*decompressed=*/false, 0, 0);
    Finish(file);
  };
  if (!limits_.own_process) return scan();
  // Loaded here, where it is loaded when first needed: the copy finds it whole.
  archive_version_number();
  const ReaderBounds bounds{limits_.max_memory, limits_.most_stalled_seconds, limits_.cancel,
                            limits_.fork_gate};
  const ReaderOutcome outcome = RunReaderProcess(
      bounds, *events_, digests_,
      [&](const ArchiveEvents& events, std::atomic<std::uint64_t>& progress) {
        events_ = &events;
        outbox_.Redirect(events);
        budget_.ReportTo(progress);
        scan();
      });
  if (outcome.end == ReaderOutcome::End::kNotStarted) return scan();
  if (outcome.end != ReaderOutcome::End::kFinished) {
    events_->on_error({}, outcome.error, outcome.message);
  }
}

// What the first bytes of a content say.
Packing PackingOfHead(std::span<const std::uint8_t> head) {
  return PackingOf(head,
                   head.size() > kIsoSignatureAt ? head.subspan(kIsoSignatureAt) : head.first(0));
}

void PackedScan::ScanContent(ContentStream& stream, bool decompressed, int archives, int filters) {
  const std::span<const std::uint8_t> head = stream.Head(kHeadBytes);
  // A content that failed after its first bytes is read up to the failure.
  if (stream.failed() && head.empty()) {
    const Named named(*this, stream, NameIf(decompressed));
    return Report(stream.error(), stream.message());
  }
  const Packing packing = PackingOfHead(head);
  if (packing.signature == Signature::kNone) return ScanAsItLies(stream, decompressed);
  if (packing.filter != 0) {
    return ScanCompressed(stream, packing, decompressed, archives, filters);
  }
  ScanArchive(stream, packing, decompressed, archives);
}

void PackedScan::ScanCompressed(ContentStream& stream, Packing packing, bool decompressed,
                                int archives, int filters) {
  if (filters == kMostFiltersInARow) {
    const Named named(*this, stream, NameIf(decompressed));
    return Report(ELOOP,
                  "compressed more than " + std::to_string(kMostFiltersInARow) + " times over");
  }
  std::string rpm_problem;
  const bool rpm = packing.filter == ARCHIVE_FILTER_RPM && events_->on_holder;
  const std::optional<Holder> rpm_holder = rpm ? RpmHolder(stream, rpm_problem) : std::nullopt;
  if (const std::optional<Codec> codec = CodecOf(packing.filter)) {
    return ScanDecoded(stream, *codec, packing, decompressed, archives, filters);
  }
  // Compress cannot be imposed (libarchive 3.6 crashes); such a stream inside one is rare.
  const bool impose = packing.filter != ARCHIVE_FILTER_COMPRESS;
  Reader reader = NewReader(packing.filter, impose);
  if (reader == nullptr) return ReportNoReader();
  struct archive_entry* entry = nullptr;
  int status = Open(reader.get(), stream, {});
  if (status == ARCHIVE_OK) status = archive_read_next_header(reader.get(), &entry);
  // An imposed filter that gives nothing may have been none: libarchive's bidding tells.
  if (status == ARCHIVE_EOF && impose && !DecompressesToNothing(stream, packing.filter)) {
    status = ARCHIVE_FATAL;
  }
  if (archive_filter_count(reader.get()) < 2) status = ARCHIVE_FATAL;  // beside its own: none
  // Every RPM has a payload; one that gives none had headers claiming the bytes that hold it.
  if (status == ARCHIVE_EOF && packing.filter == ARCHIVE_FILTER_RPM) status = ARCHIVE_FATAL;
  MemberStream decompressed_bytes(reader.get(), stream, budget_, where_, /*expands=*/true);
  if (status == ARCHIVE_EOF) decompressed_bytes.EndsAtOnce();  // it decompresses to nothing
  const bool gave = status >= ARCHIVE_WARN && !decompressed_bytes.Head(kHeadBytes).empty();
  if (status < ARCHIVE_WARN || (decompressed_bytes.failed() && !gave)) {
    const Failure failure = decompressed_bytes.failed()
                                ? Failure{decompressed_bytes.error(), decompressed_bytes.message()}
                                : Failure{ErrnoOf(reader.get()), FilterOf(packing.filter).damaged};
    reader.reset();
    return FallBack(stream, packing, decompressed, failure);
  }
  stream.StopKeeping();
  if (rpm_holder) outbox_.Holds(*rpm_holder, digests_);
  if (rpm && !rpm_holder && !stream.failed()) Report(EINVAL, rpm_problem);
  ScanContent(decompressed_bytes, /*decompressed=*/true, archives, filters + 1);
  decompressed_bytes.Finish();
  if (stream.failed()) Report(stream.error(), stream.message());
}

void PackedScan::ScanDecoded(ContentStream& stream, Codec codec, Packing packing,
                             bool decompressed, int archives, int filters) {
  DecodedStream decoded(stream, codec, limits_.DecoderMemory(), budget_, where_);
  decoded.Head(kHeadBytes);
  if (decoded.refused()) {
    if (decoded.surely_this_codec()) packing.signature = Signature::kStrong;
    return FallBack(stream, packing, decompressed, {decoded.error(), decoded.message()});
  }
  stream.StopKeeping();
  ScanContent(decoded, /*decompressed=*/true, archives, filters + 1);
  decoded.Finish();
}

void PackedScan::ScanArchive(ContentStream& stream, Packing packing, bool decompressed,
                             int archives) {
  if (archives == limits_.depth) {
    const Named named(*this, stream, NameIf(decompressed));
    return Report(ELOOP, "an archive nested deeper than --archive-depth (" +
                             std::to_string(limits_.depth) + ")");
  }
  // An archive read from its end is read from memory where its stream cannot seek.
  std::span<const std::uint8_t> whole;
  if (packing.from_end && !stream.seekable()) {
    if (!stream.KeepWhole(ContentStream::kKeptWhole)) {
      const Named named(*this, stream, NameIf(decompressed));
      if (stream.failed()) return Report(stream.error(), stream.message());
      return Report(EFBIG,
                    "a 7-Zip archive inside another, or in a pipe, is read in memory, and "
                    "this one is larger than " +
                        std::to_string(ContentStream::kKeptWhole >> 20) + " MiB");
    }
    whole = stream.kept();
  }
  Reader reader = NewReader(0);
  if (reader == nullptr) return ReportNoReader();
  const std::uint64_t told_before = outbox_.told();
  Failure failure;
  const bool shown = Open(reader.get(), stream, whole) == ARCHIVE_OK
                         ? ReadMembers(reader.get(), stream, archives + 1, failure)
                         : (failure = {ErrnoOf(reader.get()), MessageOf(reader.get())}, false);
  if (!shown) {
    reader.reset();
    return FallBack(stream, packing, decompressed, failure);
  }
  // An archive of directories and links alone is still named once.
  if (outbox_.told() == told_before) outbox_.Scanned(where_, digests_);
  // Told once: by the member it cut short, or else here.
  const bool told = failure.error == stream.error() && failure.message == stream.message();
  if (stream.failed() && !told) Report(stream.error(), stream.message());
}

bool PackedScan::ReadMembers(struct archive* reader, ContentStream& stream, int archives,
                             Failure& failure) {
  outbox_.Hold();
  // The members of an image's layer are listed, for what later layers delete.
  MemberPass pass{reader, stream, archives, failure,
                  MemberBookkeeping(reader, std::exchange(control_wanted_, nullptr)),
                  std::exchange(in_layer_, false)};
  struct archive_entry* entry = nullptr;
  while (!budget_.exceeded()) {
    const int status = archive_read_next_header(reader, &entry);
    if (status == ARCHIVE_EOF) break;
    if (status == ARCHIVE_RETRY || status < ARCHIVE_WARN) {
      if (!HeaderFailed(pass, status)) break;
      continue;
    }
    pass.resynchronising = false;
    if (!TakeMember(pass, entry)) break;
  }
  if (events_->on_holder && pass.shown) TellHolders(pass.book);
  if (!pass.shown) outbox_.Drop();
  return pass.shown;
}

void PackedScan::Show(MemberPass& pass) {
  if (pass.shown) return;
  pass.shown = true;
  pass.stream.StopKeeping();
  outbox_.Release();
}

bool PackedScan::HeaderFailed(MemberPass& pass, int status) {
  if (!pass.shown) {
    pass.failure = {ErrnoOf(pass.reader), MessageOf(pass.reader)};
    return false;
  }
  // A damaged header: libarchive looks for the next good one; said once until it finds it.
  if (!pass.resynchronising) Report(ErrnoOf(pass.reader), MessageOf(pass.reader));
  pass.resynchronising = status == ARCHIVE_RETRY;
  return status != ARCHIVE_FATAL;
}

bool PackedScan::TakeMember(MemberPass& pass, struct archive_entry* entry) {
  const std::string name = NameOf(entry);
  if (pass.lists_entries) outbox_.Entry(where_, name, KindOf(entry));
  if (const auto* seen = HardLinked(entry, pass.contents)) {
    Show(pass);
    if (events_->on_holder) pass.book.SawLink(entry, name);
    outbox_.TellAgain(seen->second, where_.size(), name);
    return true;
  }
  if (HoldsNoContent(pass.reader, entry)) {
    Show(pass);
    if (events_->on_holder) pass.book.SawLink(entry, name);
    return true;
  }
  if (archive_entry_is_encrypted(entry)) {
    Show(pass);
    where_.push_back(name);
    Report(ENOTSUP, "the member is encrypted");
    where_.pop_back();
    return true;
  }
  bool fatal = false;
  outbox_.Hold();
  const MemberBookkeeping::Wish wish =
      events_->on_holder ? pass.book.Before(entry, name) : MemberBookkeeping::Wish{};
  const std::optional<Failure> member_failure =
      ScanMember(pass.reader, pass.stream, name, pass.archives, wish, fatal);
  if (events_->on_holder) pass.book.After(name);
  if (pass.contents.size() < kMostRemembered) pass.contents.emplace(name, outbox_.Contents());
  outbox_.Release();
  if (!member_failure) {
    Show(pass);
  } else if (pass.failure.error == 0) {
    pass.failure = *member_failure;
  }
  // A stream cannot be read past a member whose data failed.
  return !fatal;
}

std::shared_ptr<std::string> PackedScan::CheckDigest(ContentStream& stream) {
  if (events_->new_digest) return digests_.back();  // the member's own, made anyway
  auto slot = std::make_shared<std::string>();
  stream.DigestInto(slot, events_->check_digest());
  return slot;
}

std::optional<Failure> PackedScan::CheckKnownLayer(ContentStream& stream, std::string name,
                                                   const std::string& layer, bool& fatal) {
  const Named named(*this, stream, std::move(name));
  const std::shared_ptr<std::string> digest = CheckDigest(stream);
  stream.Finish();
  fatal = stream.fatal();
  const bool checked = !stream.failed() && "sha256:" + *digest == layer;
  outbox_.Known(where_, digests_, checked ? layer : std::string());
  if (!stream.failed()) return std::nullopt;
  return Failure{stream.error(), stream.message()};
}

void PackedScan::TellHolders(const MemberBookkeeping& book) {
  std::vector<std::string> problems;
  for (Holder& holder : book.Holders(where_, problems)) outbox_.Holds(std::move(holder), digests_);
  for (const std::string& problem : problems) Report(EINVAL, problem);
}

std::optional<Holder> PackedScan::RpmHolder(ContentStream& stream, std::string& problem) {
  std::size_t want = 0;
  for (;;) {
    const std::span<const std::uint8_t> head = stream.Head(want);
    if (stream.failed()) return std::nullopt;
    const std::optional<std::size_t> need = RpmHeadersSize(head, problem);
    if (!need) return std::nullopt;
    if (*need <= head.size()) {
      std::optional<PackageIdentity> package = ReadRpmHeaders(head.first(*need), problem);
      if (!package) return std::nullopt;
      Holder holder;
      holder.package = std::move(package);
      holder.where = where_;
      return holder;
    }
    if (head.size() < want) {
      problem = "RPM package: it ends within its headers";
      return std::nullopt;
    }
    want = *need;
  }
}

std::optional<Failure> PackedScan::ScanMember(struct archive* reader, const ContentStream& source,
                                              std::string name, int archives,
                                              MemberBookkeeping::Wish wish, bool& fatal) {
  MemberStream stream(reader, source, budget_, where_, MembersExpand(reader));
  if (wish.bytes != nullptr) {
    // Bookkeeping past its bound shows one byte more than the bound; the member is then scanned
    // as any other.
    // Bookkeeping cut short by a failure would tell a wrong identity: none is kept.
    const std::span<const std::uint8_t> head = stream.Head(kMostBookkeepingBytes + 1);
    if (!stream.failed()) wish.bytes->assign(head.begin(), head.end());
  }
  // A layer the asker keeps is known by its digest: its bytes are only checked against it.
  const std::string layer = events_->check_digest ? NamedDigest(name) : "";
  if (!layer.empty() && events_->knows && events_->knows(layer)) {
    return CheckKnownLayer(stream, std::move(name), layer, fatal);
  }
  std::string* const outer_control = std::exchange(control_wanted_, wish.control);
  const bool outer_layer = std::exchange(in_layer_, events_->on_entry && IsImageBlobName(name));
  {
    const Named named(*this, stream, std::move(name));
    const std::shared_ptr<std::string> digest = layer.empty() ? nullptr : CheckDigest(stream);
    ScanContent(stream, /*decompressed=*/false, archives, 0);
    stream.Finish();
    if (digest != nullptr && !stream.failed()) outbox_.LayerDigest(where_, "sha256:" + *digest);
  }
  control_wanted_ = outer_control;
  in_layer_ = outer_layer;
  fatal = stream.fatal();
  if (!stream.failed()) return std::nullopt;
  return Failure{stream.error(), stream.message()};
}

void PackedScan::FallBack(ContentStream& stream, Packing packing, bool decompressed,
                          const Failure& failure) {
  if (budget_.exceeded()) return;
  // A stream that failed is scanned as far as it went, and its failure told after.
  if (!stream.Rewind()) {
    const Named named(*this, stream, NameIf(decompressed));
    if (stream.failed()) return Report(stream.error(), stream.message());
    return Report(failure.error != 0 ? failure.error : EIO,
                  (failure.message.empty() ? std::string("damaged archive") : failure.message) +
                      "; and it was too long to be read again as it lies (over " +
                      std::to_string(ContentStream::kKeptForRewind >> 20) +
                      " MiB before the archive failed)");
  }
  const bool sure = packing.signature == Signature::kStrong && failure.error != 0 && !stream.failed();
  ScanAsItLies(stream, decompressed, sure ? &failure : nullptr);
}

void PackedScan::ScanAsItLies(ContentStream& stream, bool decompressed, const Failure* failure) {
  const Named named(*this, stream, NameIf(decompressed));
  stream.StopKeeping();
  ScanPlain(stream);
  if (failure != nullptr) Report(failure->error, failure->message);
}

void PackedScan::ScanPlain(ContentStream& stream) {
  const std::error_code error = zeblix::ScanStream(
      [&](std::span<std::uint8_t> room) { return stream.Read(room); },
      [&](const zeblix::Record& record) { outbox_.Record(where_, digests_, record); });
  if (error) {
    Report(error.value(), stream.failed() ? stream.message() : error.message());
  } else {
    outbox_.Scanned(where_, digests_);
  }
}

bool PackedScan::ScanUnlessPacked(ContentStream& file) {
  bool first = true;
  bool packed = false;
  const std::error_code error = zeblix::ScanStream(
      [&](std::span<std::uint8_t> room) -> std::ptrdiff_t {
        if (!first) return file.Read(room);
        first = false;
        const std::ptrdiff_t size = file.ReadHead(room, kHeadBytes);
        if (size < 0) return size;
        const auto head = room.first(static_cast<std::size_t>(size));
        const bool seen = head.size() >= kHeadBytes || file.ended();
        if (seen && PackingOfHead(head).signature == Signature::kNone) return size;
        // Nothing was scanned yet: the bytes go the archives' way instead.
        file.KeepRead(head);
        packed = true;
        return -ECANCELED;
      },
      [&](const zeblix::Record& record) { outbox_.Record(where_, digests_, record); });
  if (packed) return false;
  if (error) {
    Report(error.value(), file.failed() ? file.message() : error.message());
  } else {
    outbox_.Scanned(where_, digests_);
  }
  return true;
}

}  // namespace

void ScanPacked(int fd, std::string_view name, const ArchiveLimits& limits,
                const ArchiveEvents& events, FileOptions options) {
  PackedScan scan(name, limits, events);
  scan.TakeAsLayer(options.layer);
  scan.Run(fd, /*as_it_lies=*/false, options.waits);
}

void ScanFileBytes(int fd, const ArchiveLimits& limits, const ArchiveEvents& events,
                   FileOptions options) {
  PackedScan({}, limits, events).Run(fd, /*as_it_lies=*/true, options.waits);
}

std::string DecompressedName(const std::string& name) {
  static constexpr std::array<std::string_view, 9> kSuffixes = {
      ".gz", ".bz2", ".xz", ".lzma", ".zst", ".lz4", ".Z", ".z", ".lz"};
  // An RPM's payload is named as rpm2cpio's output is.
  static constexpr std::string_view kRpm = ".rpm";
  const std::string_view base = BaseName(name);
  for (const std::string_view suffix : kSuffixes) {
    if (base.size() > suffix.size() && base.ends_with(suffix)) {
      return name.substr(0, name.size() - suffix.size());
    }
  }
  if (base.size() > kRpm.size() && base.ends_with(kRpm)) {
    return name.substr(0, name.size() - kRpm.size()) + ".cpio";
  }
  return name;
}
