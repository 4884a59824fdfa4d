// Numbers are written little-endian at their full width, texts and lists with a 32-bit count
// first. Both processes are the same program on the same machine, but the reader still checks
// every count against what it holds, as it would any bytes from outside.
#include "archive/event_wire.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

enum Kind : std::uint8_t { kRecord = 1, kError, kScanned, kHolder, kEntry, kDigest, kEnd };
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

// Reads fields in order; once one does not fit, every later read fails too.
class Fields {
 public:
  explicit Fields(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool ok() const { return ok_ && bytes_.empty(); }

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

zeblix::Record GetRecord(Fields& in) {
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

Holder GetHolder(Fields& in) {
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
    Fields head({reinterpret_cast<const std::uint8_t*>(pending_.data() + at), 4});
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
  Fields in(bytes);
  const auto digests = [&] {
    Digests slots;
    const auto count = in.Get<std::uint32_t>();
    for (std::uint32_t i = 0; i < count && i < bytes.size(); ++i) {
      slots.push_back(Slot(in.Get<std::uint64_t>()));
    }
    return slots;
  };
  switch (kind) {
    case kRecord: {
      const MemberPath member = in.Texts();
      const Digests slots = digests();
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
      const Digests slots = digests();
      if (in.ok()) events_.on_scanned(member, slots);
      break;
    }
    case kHolder: {
      const Digests slots = digests();
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
