// Numbers are written little-endian at their full width, texts and lists with a 32-bit count
// first. Both processes are the same program on the same machine, but the reader still checks
// every count against what it holds, as it would any bytes from outside.
#include "archive/event_wire.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

enum Kind : std::uint8_t {
  kRecord = 1, kError, kScanned, kHolder, kEntry, kDigest, kEnd, kKnown, kLayerDigest
};
constexpr std::size_t kFlushAt = 64 * 1024;
constexpr std::int64_t kFlushEveryMs = 100;
constexpr std::size_t kFrameHead = 5;  // a 32-bit size, then the kind

std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

template <typename T>
void Put(std::string& out, T value) {
  for (std::size_t i = 0; i < sizeof value; ++i) {
    out += static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i) & 0xff);
  }
}

void PutText(std::string& out, std::string_view text) {
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(text.size()));
  out += text;
}

void PutTexts(std::string& out, std::span<const std::string> texts) {
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(texts.size()));
  for (const std::string& text : texts) PutText(out, text);
}

void PutRecord(std::string& out, const zeblix::Record& r) {
  Put<std::uint8_t>(out, static_cast<std::uint8_t>(r.format));
  Put<std::int64_t>(out, r.offset);
  Put<std::uint8_t>(out, r.foreign_byte_order);
  for (const std::string* text : {&r.company, &r.description, &r.product_version, &r.internal_name,
                                  &r.copyright, &r.product_name, &r.build_number}) {
    PutText(out, *text);
  }
  Put<std::uint16_t>(out, static_cast<std::uint16_t>(r.patch_level));
  Put<std::uint16_t>(out, r.release_mask);
  Put<std::uint16_t>(out, r.file_os);
  Put<std::uint16_t>(out, r.file_type);
}

void PutHolder(std::string& out, const Holder& holder) {
  Put<std::uint8_t>(out, holder.package.has_value());
  if (const auto& p = holder.package) {
    Put<std::uint8_t>(out, static_cast<std::uint8_t>(p->type));
    for (const std::string* text : {&p->name, &p->version, &p->architecture, &p->epoch, &p->vendor}) {
      PutText(out, *text);
    }
  }
  Put<std::uint8_t>(out, holder.image.has_value());
  if (const auto& i = holder.image) {
    for (const std::string* text : {&i->digest, &i->manifest, &i->architecture, &i->os}) {
      PutText(out, *text);
    }
    PutTexts(out, i->tags);
    PutTexts(out, i->layer_digests);
  }
  PutTexts(out, holder.where);
  PutTexts(out, holder.within);
}

}  // namespace

// Reads fields in order; once one does not fit, every later read fails too.
class WireFields {
 public:
  explicit WireFields(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool ok() const { return ok_ && bytes_.empty(); }
  bool failed() const { return !ok_; }

  template <typename T>
  T Get() {
    std::uint64_t value = 0;
    if (!Have(sizeof(T))) return T{};
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= std::uint64_t{bytes_[i]} << (8 * i);
    bytes_ = bytes_.subspan(sizeof(T));
    return static_cast<T>(value);
  }
  std::string Text() {
    const auto size = Get<std::uint32_t>();
    if (!Have(size)) return {};
    std::string text(reinterpret_cast<const char*>(bytes_.data()), size);
    bytes_ = bytes_.subspan(size);
    return text;
  }
  std::vector<std::string> Texts() {
    const auto count = Get<std::uint32_t>();
    std::vector<std::string> texts;
    // Each text takes at least its count's four bytes.
    if (!Have(std::size_t{count} * 4)) return texts;
    for (std::uint32_t i = 0; i < count && ok_; ++i) texts.push_back(Text());
    return texts;
  }

 private:
  bool Have(std::size_t size) {
    ok_ = ok_ && size <= bytes_.size();
    return ok_;
  }
  std::span<const std::uint8_t> bytes_;
  bool ok_ = true;
};

namespace {

zeblix::Record GetRecord(WireFields& in) {
  zeblix::Record r;
  r.format = static_cast<zeblix::Format>(in.Get<std::uint8_t>());
  r.offset = in.Get<std::int64_t>();
  r.foreign_byte_order = in.Get<std::uint8_t>() != 0;
  for (std::string* text : {&r.company, &r.description, &r.product_version, &r.internal_name,
                            &r.copyright, &r.product_name, &r.build_number}) {
    *text = in.Text();
  }
  r.patch_level = static_cast<std::int16_t>(in.Get<std::uint16_t>());
  r.release_mask = in.Get<std::uint16_t>();
  r.file_os = in.Get<std::uint16_t>();
  r.file_type = in.Get<std::uint16_t>();
  return r;
}

Holder GetHolder(WireFields& in) {
  Holder holder;
  if (in.Get<std::uint8_t>() != 0) {
    PackageIdentity& p = holder.package.emplace();
    p.type = in.Get<std::uint8_t>() == 0 ? PackageIdentity::Type::kDeb : PackageIdentity::Type::kRpm;
    for (std::string* text : {&p.name, &p.version, &p.architecture, &p.epoch, &p.vendor}) {
      *text = in.Text();
    }
  }
  if (in.Get<std::uint8_t>() != 0) {
    ImageIdentity& i = holder.image.emplace();
    for (std::string* text : {&i.digest, &i.manifest, &i.architecture, &i.os}) *text = in.Text();
    i.tags = in.Texts();
    i.layer_digests = in.Texts();
  }
  holder.where = in.Texts();
  holder.within = in.Texts();
  return holder;
}

}  // namespace

ArchiveEvents EventWriter::Events(const ArchiveEvents& like) {
  ArchiveEvents events;
  events.on_record = [this](const MemberPath& member, const Digests& digests,
                            const zeblix::Record& record) {
    std::string fields;
    PutTexts(fields, member);
    fields += DigestIds(digests);
    PutRecord(fields, record);
    Frame(kRecord, fields);
  };
  events.on_error = [this](const MemberPath& member, int error, const std::string& message) {
    std::string fields;
    PutTexts(fields, member);
    Put<std::int32_t>(fields, error);
    PutText(fields, message);
    Frame(kError, fields);
  };
  events.on_scanned = [this](const MemberPath& member, const Digests& digests) {
    std::string fields;
    PutTexts(fields, member);
    fields += DigestIds(digests);
    Frame(kScanned, fields);
  };
  events.new_digest = like.new_digest;
  AddLayerEvents(like, events);
  if (like.on_holder) {
    events.on_holder = [this](const Holder& holder, const Digests& digests) {
      std::string fields;
      fields += DigestIds(digests);
      PutHolder(fields, holder);
      Frame(kHolder, fields);
    };
  }
  if (like.on_entry) {
    events.on_entry = [this](const MemberPath& archive, const std::string& name,
                             ArchiveEvents::EntryKind kind) {
      std::string fields;
      PutTexts(fields, archive);
      PutText(fields, name);
      Put<std::uint8_t>(fields, static_cast<std::uint8_t>(kind));
      Frame(kEntry, fields);
    };
  }
  return events;
}

void EventWriter::AddLayerEvents(const ArchiveEvents& like, ArchiveEvents& events) {
  events.check_digest = like.check_digest;
  events.knows = like.knows;
  if (like.on_known) {
    events.on_known = [this](const MemberPath& member, const Digests& digests,
                             const std::string& digest) {
      std::string fields;
      PutTexts(fields, member);
      fields += DigestIds(digests);
      PutText(fields, digest);
      Frame(kKnown, fields);
    };
  }
  if (like.on_layer_digest) {
    events.on_layer_digest = [this](const MemberPath& member, const std::string& digest) {
      std::string fields;
      PutTexts(fields, member);
      PutText(fields, digest);
      Frame(kLayerDigest, fields);
    };
  }
}

std::string EventWriter::DigestIds(const Digests& digests) {
  std::string ids;
  Put<std::uint32_t>(ids, static_cast<std::uint32_t>(digests.size()));
  for (const auto& slot : digests) {
    const auto id = reinterpret_cast<std::uintptr_t>(slot.get());
    slots_.emplace(id, slot);
    Put<std::uint64_t>(ids, id);
  }
  return ids;
}

void EventWriter::Frame(std::uint8_t kind, const std::string& fields) {
  Put<std::uint32_t>(pending_, static_cast<std::uint32_t>(fields.size() + 1));
  Put<std::uint8_t>(pending_, kind);
  pending_ += fields;
  // Lines told before a reader is stopped are kept: they leave often enough.
  if (pending_.size() >= kFlushAt || NowMs() - flushed_at_ >= kFlushEveryMs) Flush();
}

void EventWriter::Flush() {
  std::size_t at = 0;
  while (at < pending_.size() && !broken_) {
    const ssize_t wrote = write(fd_, pending_.data() + at, pending_.size() - at);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) broken_ = true;
    at += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
  }
  pending_.clear();
  flushed_at_ = NowMs();
}

bool EventWriter::Finish() {
  for (const auto& [id, slot] : slots_) {
    std::string fields;
    Put<std::uint64_t>(fields, id);
    PutText(fields, *slot);
    Frame(kDigest, fields);
  }
  Frame(kEnd, {});
  Flush();
  return !broken_;
}

Digests EventReader::DigestSlots(WireFields& in) {
  Digests slots;
  const auto count = in.Get<std::uint32_t>();
  for (std::uint32_t i = 0; i < count && !in.failed(); ++i) {
    slots.push_back(Slot(in.Get<std::uint64_t>()));
  }
  return slots;
}

void EventReader::TellLayer(std::uint8_t kind, WireFields& in) {
  const MemberPath member = in.Texts();
  const Digests slots = kind == kKnown ? DigestSlots(in) : Digests();
  const std::string digest = in.Text();
  if (!in.ok()) return;
  if (kind == kKnown && events_.on_known) events_.on_known(member, slots, digest);
  if (kind == kLayerDigest && events_.on_layer_digest) events_.on_layer_digest(member, digest);
}

EventReader::EventReader(const ArchiveEvents& events, const Digests& known) : events_(events) {
  for (const auto& slot : known) slots_.emplace(reinterpret_cast<std::uintptr_t>(slot.get()), slot);
}

std::shared_ptr<std::string> EventReader::Slot(std::uint64_t id) {
  auto& slot = slots_[id];
  if (slot == nullptr) slot = std::make_shared<std::string>();
  return slot;
}

bool EventReader::Take(std::span<const std::uint8_t> bytes) {
  pending_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::size_t at = 0;
  while (!broken_ && pending_.size() - at >= kFrameHead) {
    WireFields head({reinterpret_cast<const std::uint8_t*>(pending_.data() + at), 4});
    const auto size = head.Get<std::uint32_t>();
    if (size == 0) broken_ = true;
    if (broken_ || pending_.size() - at - 4 < size) break;
    const auto* frame = reinterpret_cast<const std::uint8_t*>(pending_.data() + at + 4);
    broken_ = !Tell(frame[0], {frame + 1, size - 1});
    at += 4 + size;
  }
  pending_.erase(0, at);
  return !broken_;
}

bool EventReader::Tell(std::uint8_t kind, std::span<const std::uint8_t> bytes) {
  WireFields in(bytes);
  switch (kind) {
    case kRecord: {
      const MemberPath member = in.Texts();
      const Digests slots = DigestSlots(in);
      const zeblix::Record record = GetRecord(in);
      if (in.ok()) events_.on_record(member, slots, record);
      break;
    }
    case kError: {
      const MemberPath member = in.Texts();
      const auto error = in.Get<std::int32_t>();
      const std::string message = in.Text();
      if (in.ok()) events_.on_error(member, error, message);
      break;
    }
    case kScanned: {
      const MemberPath member = in.Texts();
      const Digests slots = DigestSlots(in);
      if (in.ok()) events_.on_scanned(member, slots);
      break;
    }
    case kHolder: {
      const Digests slots = DigestSlots(in);
      const Holder holder = GetHolder(in);
      if (in.ok() && events_.on_holder) events_.on_holder(holder, slots);
      break;
    }
    case kEntry: {
      const MemberPath archive = in.Texts();
      const std::string name = in.Text();
      const auto entry_kind = static_cast<ArchiveEvents::EntryKind>(in.Get<std::uint8_t>());
      if (in.ok() && events_.on_entry) events_.on_entry(archive, name, entry_kind);
      break;
    }
    case kKnown:
    case kLayerDigest:
      TellLayer(kind, in);
      break;
    case kDigest: {
      const auto id = in.Get<std::uint64_t>();
      std::string value = in.Text();
      if (in.ok()) *Slot(id) = std::move(value);
      break;
    }
    case kEnd:
      ended_ = in.ok();
      break;
    default:
      return false;
  }
  return in.ok();
}

namespace {

// A log's digests as their values, or the values as new slots.
void PutDigestValues(std::string& out, const Digests& digests) {
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(digests.size()));
  for (const auto& slot : digests) PutText(out, *slot);
}

Digests GetDigestValues(WireFields& in) {
  Digests digests;
  for (std::string& value : in.Texts()) {
    digests.push_back(std::make_shared<std::string>(std::move(value)));
  }
  return digests;
}

// What follows the first `skipped` of a path, or of a list of digests.
template <typename List>
List From(const List& list, std::size_t skipped) {
  return List(list.begin() + static_cast<std::ptrdiff_t>(skipped), list.end());
}

MemberPath Joined(const MemberPath& root, const MemberPath& relative) {
  MemberPath path = root;
  path.insert(path.end(), relative.begin(), relative.end());
  return path;
}

// A kept event's digests under `root`: `root`'s own first (when it has any), then the kept ones
// below it.
Digests Rooted(const Digests& root_digests, const Digests& kept, bool rooted) {
  if (!rooted || kept.empty()) return kept;
  Digests digests = root_digests;
  digests.insert(digests.end(), kept.begin() + 1, kept.end());
  return digests;
}

}  // namespace

ArchiveEvents EventLog::Recording(const ArchiveEvents& next) {
  ArchiveEvents events = next;
  events.on_record = [this, next](const MemberPath& member, const Digests& digests,
                                  const zeblix::Record& record) {
    Keep({Kind::kRecord, member, digests, record});
    next.on_record(member, digests, record);
  };
  events.on_error = [this, next](const MemberPath& member, int error, const std::string& message) {
    Keep({Kind::kError, member, {}, {}, error, message});
    next.on_error(member, error, message);
  };
  events.on_scanned = [this, next](const MemberPath& member, const Digests& digests) {
    Keep({Kind::kScanned, member, digests, {}});
    next.on_scanned(member, digests);
  };
  if (next.on_holder) {
    events.on_holder = [this, next](const Holder& holder, const Digests& digests) {
      Keep({.kind = Kind::kHolder, .member = holder.where, .digests = digests, .holder = holder});
      next.on_holder(holder, digests);
    };
  }
  if (next.on_entry) {
    events.on_entry = [this, next](const MemberPath& archive, const std::string& name,
                                   ArchiveEvents::EntryKind kind) {
      Keep({.kind = Kind::kEntry, .member = archive, .digests = {}, .text = name,
            .entry_kind = kind});
      next.on_entry(archive, name, kind);
    };
  }
  return events;
}

void EventLog::Keep(Event&& event) {
  // A path's names, a record's texts and an entry's name are most of an event.
  constexpr std::size_t kFixed = 64;
  std::size_t size = kFixed + event.text.size() + sizeof(zeblix::Record);
  for (const std::string& name : event.member) size += name.size() + kFixed;
  kept_bytes_ += size;
  if (whole()) events_.push_back(std::move(event));
}

bool EventLog::Under(const MemberPath& member, const MemberPath& root) {
  return member.size() >= root.size() && std::equal(root.begin(), root.end(), member.begin());
}

bool EventLog::HasErrors(const MemberPath& root) const {
  return std::any_of(events_.begin(), events_.end(), [&](const Event& event) {
    return event.kind == Kind::kError && Under(event.member, root);
  });
}

std::string EventLog::EventBytes(const Event& event, std::size_t skipped) const {
  std::string fields;
  Put<std::uint8_t>(fields, static_cast<std::uint8_t>(event.kind));
  PutTexts(fields, From(event.member, skipped));
  PutDigestValues(fields, event.digests.empty() ? event.digests : From(event.digests, skipped));
  switch (event.kind) {
    case Kind::kRecord:
      PutRecord(fields, event.record);
      break;
    case Kind::kError:
      Put<std::int32_t>(fields, event.error);
      PutText(fields, event.text);
      break;
    case Kind::kScanned:
      break;
    case Kind::kHolder: {
      Holder holder = event.holder;
      holder.where = From(holder.where, skipped);
      PutHolder(fields, holder);
      break;
    }
    case Kind::kEntry:
      PutText(fields, event.text);
      Put<std::uint8_t>(fields, static_cast<std::uint8_t>(event.entry_kind));
      break;
  }
  std::string frame;
  PutText(frame, fields);
  return frame;
}

std::string EventLog::Bytes(const MemberPath& root) const {
  std::string bytes;
  for (const Event& event : events_) {
    if (Under(event.member, root)) bytes += EventBytes(event, root.size());
  }
  PutText(bytes, {});  // the end: an empty frame
  return bytes;
}

bool EventLog::Read(std::string_view bytes) {
  std::vector<Event> events;
  WireFields frames({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  for (std::string frame = frames.Text(); !frame.empty(); frame = frames.Text()) {
    WireFields in({reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size()});
    Event event{static_cast<Kind>(in.Get<std::uint8_t>()), in.Texts(), {}};
    event.digests = GetDigestValues(in);
    switch (event.kind) {
      case Kind::kRecord:
        event.record = GetRecord(in);
        break;
      case Kind::kError:
        event.error = in.Get<std::int32_t>();
        event.text = in.Text();
        break;
      case Kind::kScanned:
        break;
      case Kind::kHolder:
        event.holder = GetHolder(in);
        break;
      case Kind::kEntry:
        event.text = in.Text();
        event.entry_kind = static_cast<ArchiveEvents::EntryKind>(in.Get<std::uint8_t>());
        break;
      default:
        return false;
    }
    if (!in.ok()) return false;
    events.push_back(std::move(event));
  }
  if (!frames.ok()) return false;  // cut short, or bytes after the end
  events_ = std::move(events);
  return true;
}

void EventLog::Tell(const ArchiveEvents& events, const MemberPath& root,
                    const Digests& root_digests) const {
  const bool rooted = !root.empty();
  for (const Event& event : events_) {
    const MemberPath member = Joined(root, event.member);
    const Digests digests = Rooted(root_digests, event.digests, rooted);
    switch (event.kind) {
      case Kind::kRecord:
        events.on_record(member, digests, event.record);
        break;
      case Kind::kError:
        events.on_error(member, event.error, event.text);
        break;
      case Kind::kScanned:
        events.on_scanned(member, digests);
        break;
      case Kind::kHolder:
        if (events.on_holder) {
          Holder holder = event.holder;
          holder.where = Joined(root, holder.where);
          events.on_holder(holder, digests);
        }
        break;
      case Kind::kEntry:
        if (events.on_entry) events.on_entry(member, event.text, event.entry_kind);
        break;
    }
  }
}
