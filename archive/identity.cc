// Control files are read as deb822 paragraphs, RPM headers by their index of tags, image
// bookkeeping with nlohmann-json (without exceptions: a document that does not parse is a value).
#include "archive/identity.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "text/words.h"

namespace {

using Json = nlohmann::json;

// Names, versions, architectures and tags are words of printable ASCII, as Debian policy, RPM
// and image references all have them; anything else is not an identity to match by.
bool IsWord(std::string_view text) {
  return !text.empty() && text.size() <= kMostIdentityText &&
         std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

// The blanks around a control file's values (a line's own end is a newline).
constexpr std::string_view kFieldBlanks = " \t\r";

// Checks one field of an identity, naming it in the problem.
bool Check(std::string_view field, std::string_view value, std::string& problem) {
  if (value.empty()) {
    problem = "has no " + std::string(field);
  } else if (!IsWord(value)) {
    problem = "has a " + std::string(field) + " that is not a word of printable ASCII (at most " +
              std::to_string(kMostIdentityText) + " bytes)";
  }
  return problem.empty();
}

// A vendor's purl namespace: the distributions' own names, lower case ("red hat" is redhat).
std::string VendorNamespace(std::string_view vendor) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 13> kKnown = {{
      {"debian", "debian"},
      {"ubuntu", "ubuntu"},
      {"opensuse", "opensuse"},
      {"suse", "suse"},
      {"fedora", "fedora"},
      {"red hat", "redhat"},
      {"centos", "centos"},
      {"rocky", "rocky"},
      {"almalinux", "almalinux"},
      {"amazon", "amazon"},
      {"oracle", "oracle"},
      {"openmandriva", "openmandriva"},
      {"mageia", "mageia"},
  }};
  const std::string lower = Lowered(Trimmed(vendor, kFieldBlanks));
  // Matched by their first words only: "Red Hat, Inc.", "Fedora Project", "SUSE LLC".
  for (const auto& [said, name] : kKnown) {
    if (lower.starts_with(said) && (lower.size() == said.size() || lower[said.size()] == ' ' ||
                                    lower[said.size()] == ',')) {
      return std::string(name);
    }
  }
  // Another vendor is named as it names itself; one that is not a line of printable ASCII is
  // not named at all, rather than guessed.
  const bool printable = std::all_of(lower.begin(), lower.end(), [](char c) { return c >= ' ' && c < 0x7f; });
  return printable && lower.size() <= kMostIdentityText ? lower : std::string();
}

}  // namespace

bool Holder::Holds(std::span<const std::string> member) const {
  if (member.size() < where.size() || !std::equal(where.begin(), where.end(), member.begin())) {
    return false;
  }
  return !image || LayerOf(member) >= 0;
}

int Holder::LayerOf(std::span<const std::string> member) const {
  if (member.size() <= where.size() || !std::equal(where.begin(), where.end(), member.begin())) {
    return -1;
  }
  for (std::size_t i = within.size(); i-- > 0;) {
    if (within[i] == member[where.size()]) return static_cast<int>(i);
  }
  return -1;
}

std::string_view TypeName(PackageIdentity::Type type) {
  return type == PackageIdentity::Type::kDeb ? "deb" : "rpm";
}

std::optional<PackageIdentity> ReadDebControl(std::string_view control, std::string& problem) {
  // The first paragraph's fields, by lower-case name; continuation lines are not needed.
  std::map<std::string, std::string_view> fields;
  bool begun = false;
  while (!control.empty()) {
    const std::size_t end = control.find('\n');
    const std::string_view line = control.substr(0, end);
    control = end == std::string_view::npos ? std::string_view() : control.substr(end + 1);
    if (Trimmed(line, kFieldBlanks).empty()) {
      if (begun) break;
      continue;
    }
    begun = true;
    if (line.front() == ' ' || line.front() == '\t' || line.front() == '#') continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      problem = "the package's control file: a line is neither a field nor its continuation";
      return std::nullopt;
    }
    const std::string name = Lowered(line.substr(0, colon));
    if (!fields.emplace(name, Trimmed(line.substr(colon + 1), kFieldBlanks)).second) {
      problem = "the package's control file gives the field " +
                std::string(line.substr(0, colon)) + " twice";
      return std::nullopt;
    }
  }
  PackageIdentity package;
  package.type = PackageIdentity::Type::kDeb;
  package.name = fields["package"];
  package.version = fields["version"];
  package.architecture = fields["architecture"];
  std::string why;
  if (!Check("Package field", package.name, why) || !Check("Version field", package.version, why) ||
      !Check("Architecture field", package.architecture, why)) {
    problem = "the package's control file " + why;
    return std::nullopt;
  }
  // A package without an Origin is taken to be its distribution's own, as Debian's and
  // Ubuntu's archives leave the field out; one with an Origin is its origin's.
  if (fields.contains("origin")) {
    package.vendor = VendorNamespace(fields["origin"]);
  } else {
    package.vendor = Lowered(fields["maintainer"]).find("ubuntu") != std::string::npos ? "ubuntu"
                                                                                 : "debian";
  }
  return package;
}

namespace {

// An RPM: a lead, then a signature header (padded to 8 bytes), then the header proper; each
// header is a magic, a count of index entries and the size of its data, the entries, the data.
constexpr std::size_t kRpmLead = 96;
constexpr std::size_t kHeaderIntro = 16;
constexpr std::size_t kIndexEntry = 16;
constexpr std::uint32_t kMostTags = 0xffff;
constexpr std::array<std::uint8_t, 4> kLeadMagic = {0xed, 0xab, 0xee, 0xdb};
constexpr std::array<std::uint8_t, 4> kHeaderMagic = {0x8e, 0xad, 0xe8, 0x01};

enum RpmTag : std::uint32_t {
  kName = 1000,
  kVersion = 1001,
  kRelease = 1002,
  kEpoch = 1003,
  kVendor = 1011,
  kArch = 1022,
};
enum RpmType : std::uint32_t { kInt32 = 4, kString = 6, kStringArray = 8, kI18nString = 9 };

std::uint32_t BigEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

bool MagicAt(std::span<const std::uint8_t> bytes, std::size_t at,
             const std::array<std::uint8_t, 4>& magic) {
  return bytes.size() >= at + magic.size() && std::equal(magic.begin(), magic.end(), &bytes[at]);
}

// The size of the header at `at`, when its intro is there: 0 when it is not yet; nullopt when
// it is not a header.
std::optional<std::size_t> HeaderSize(std::span<const std::uint8_t> bytes, std::size_t at,
                                      std::string& problem) {
  if (bytes.size() < at + kHeaderIntro) return 0;
  if (!MagicAt(bytes, at, kHeaderMagic)) {
    problem = "RPM package: a header does not begin with its magic";
    return std::nullopt;
  }
  const std::uint32_t tags = BigEndian32(bytes, at + 8);
  const std::uint32_t data = BigEndian32(bytes, at + 12);
  if (tags > kMostTags || data > kMostRpmHeaderBytes) {
    problem = "RPM package: its headers are larger than " +
              std::to_string(kMostRpmHeaderBytes >> 20) + " MiB";
    return std::nullopt;
  }
  return kHeaderIntro + std::size_t{tags} * kIndexEntry + data;
}

// A string the index entry points at, within the header's data.
std::optional<std::string_view> StringAt(std::span<const std::uint8_t> data, std::uint32_t offset) {
  if (offset >= data.size()) return std::nullopt;
  const auto* begin = reinterpret_cast<const char*>(data.data()) + offset;
  const std::string_view rest(begin, data.size() - offset);
  const std::size_t end = rest.find('\0');
  if (end == std::string_view::npos) return std::nullopt;
  return rest.substr(0, end);
}

}  // namespace

std::optional<std::size_t> RpmHeadersSize(std::span<const std::uint8_t> head,
                                          std::string& problem) {
  if (head.size() < kRpmLead + kHeaderIntro) return kRpmLead + kHeaderIntro;
  if (!MagicAt(head, 0, kLeadMagic)) {
    problem = "RPM package: its lead does not begin with the RPM magic";
    return std::nullopt;
  }
  const std::optional<std::size_t> signature = HeaderSize(head, kRpmLead, problem);
  if (!signature) return std::nullopt;
  const std::size_t header_at = kRpmLead + (*signature + 7) / 8 * 8;
  const std::optional<std::size_t> header = HeaderSize(head, header_at, problem);
  if (!header) return std::nullopt;
  // What is asked for next never passes the bound, not even the next header's intro.
  if (header_at + std::max(*header, kHeaderIntro) > kMostRpmHeaderBytes) {
    problem = "RPM package: its headers are larger than " +
              std::to_string(kMostRpmHeaderBytes >> 20) + " MiB";
    return std::nullopt;
  }
  return header_at + std::max(*header, kHeaderIntro);
}

std::optional<PackageIdentity> ReadRpmHeaders(std::span<const std::uint8_t> bytes,
                                              std::string& problem) {
  const std::optional<std::size_t> size = RpmHeadersSize(bytes, problem);
  if (!size) return std::nullopt;
  if (*size > bytes.size()) {
    problem = "RPM package: it ends within its headers";
    return std::nullopt;
  }
  const std::size_t signature = *HeaderSize(bytes, kRpmLead, problem);
  const std::size_t at = kRpmLead + (signature + 7) / 8 * 8;
  const std::uint32_t tags = BigEndian32(bytes, at + 8);
  const auto index = bytes.subspan(at + kHeaderIntro, std::size_t{tags} * kIndexEntry);
  const auto data = bytes.subspan(at + kHeaderIntro + index.size(), BigEndian32(bytes, at + 12));
  std::map<std::uint32_t, std::string_view> texts;
  std::optional<std::uint32_t> epoch;
  for (std::size_t entry = 0; entry < index.size(); entry += kIndexEntry) {
    const std::uint32_t tag = BigEndian32(index, entry);
    const std::uint32_t type = BigEndian32(index, entry + 4);
    const std::uint32_t offset = BigEndian32(index, entry + 8);
    if (tag == kEpoch && type == kInt32 && offset <= data.size() && data.size() - offset >= 4) {
      epoch = BigEndian32(data, offset);
    } else if (type == kString || type == kI18nString || type == kStringArray) {
      if (const auto text = StringAt(data, offset)) texts.emplace(tag, *text);
    }
  }
  // A source package's lead says so; its arch tag names the machine it was built on.
  const bool source = bytes[7] == 1;
  PackageIdentity package;
  package.type = PackageIdentity::Type::kRpm;
  package.name = texts[kName];
  package.version = texts[kVersion];
  package.architecture = source ? "src" : std::string(texts[kArch]);
  if (epoch) package.epoch = std::to_string(*epoch);
  package.vendor = VendorNamespace(texts[kVendor]);
  std::string why;
  if (!Check("name tag", package.name, why) || !Check("version tag", package.version, why) ||
      !Check("release tag", texts[kRelease], why) || !Check("arch tag", package.architecture, why)) {
    problem = "RPM package: its header " + why;
    return std::nullopt;
  }
  package.version += '-';
  package.version += texts[kRelease];
  return package;
}

namespace {

// Bookkeeping kept for one archive, and the names of members that may be layers.
constexpr std::size_t kMostBookkeepingKept = std::size_t{16} << 20;
constexpr std::size_t kMostLayerNames = 100000;
constexpr std::size_t kMostImageTags = 256;
// An index may name indexes (one for each platform); no deeper than this.
constexpr int kDeepestIndex = 4;
constexpr std::size_t kMostSteps = 10000;
// Links followed from a name an image gives to the member that holds the bytes.
constexpr int kMostLinks = 8;
constexpr std::string_view kReferenceName = "org.opencontainers.image.ref.name";
constexpr std::string_view kContainerdName = "io.containerd.image.name";

std::string_view WithoutDotSlash(std::string_view name) {
  while (name.starts_with("./")) name.remove_prefix(2);
  while (name.starts_with('/')) name.remove_prefix(1);
  return name;
}

bool IsHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// "sha256:<hex>" from a digest, or from a blob's name (blobs/sha256/<hex>, <hex>.json); empty
// when it is neither.
std::string DigestOf(std::string_view text) {
  if (text.starts_with("sha256:")) text.remove_prefix(7);
  if (text.starts_with("blobs/sha256/")) text.remove_prefix(13);
  if (text.ends_with(".json")) text.remove_suffix(5);
  return text.size() == 64 && IsHex(text) ? "sha256:" + std::string(text) : std::string();
}

std::string BlobName(std::string_view digest) {
  return "blobs/sha256/" + std::string(digest.substr(7));
}

// The path a link's target names, from the archive's root: "a/b" and "../c" give "c".
std::string Resolved(std::string_view link, std::string_view target) {
  std::vector<std::string_view> parts;
  if (!target.starts_with('/')) {
    for (std::string_view rest = link; rest.find('/') != std::string_view::npos;) {
      parts.push_back(rest.substr(0, rest.find('/')));
      rest.remove_prefix(rest.find('/') + 1);
    }
  }
  while (!target.empty()) {
    const std::size_t slash = target.find('/');
    const std::string_view part = target.substr(0, slash);
    target = slash == std::string_view::npos ? std::string_view() : target.substr(slash + 1);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
  }
  std::string path;
  for (const std::string_view part : parts) (path += path.empty() ? "" : "/") += part;
  return path;
}

const Json* Member(const Json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

std::string StringMember(const Json& object, std::string_view key) {
  const Json* value = Member(object, key);
  return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

// A word from the JSON, or nothing: an architecture, an OS.
std::string WordMember(const Json& object, std::string_view key) {
  std::string word = StringMember(object, key);
  return IsWord(word) ? word : std::string();
}

// The strings of an array, each checked to be a word; what is not goes into `problems`.
std::vector<std::string> Words(const Json* array, std::string_view what,
                               std::vector<std::string>& problems) {
  std::vector<std::string> words;
  if (array == nullptr || !array->is_array()) return words;
  for (const Json& item : *array) {
    if (item.is_string() && IsWord(item.get_ref<const std::string&>()) && words.size() < kMostImageTags) {
      words.push_back(item.get<std::string>());
    } else {
      problems.push_back(std::string(what) + ": a name that is not a word of printable ASCII");
    }
  }
  return words;
}

// The image's name in a problem: its first tag, or its digest.
std::string NameOfImage(const ImageIdentity& image) {
  return "the image " + (image.tags.empty() ? image.digest : image.tags.front());
}

// Adds an image, or its tags to the same image told before: the same manifest, or for saved
// images, which have none, the same config.
void AddImage(std::vector<Holder>& images, ImageIdentity identity, std::vector<std::string> within) {
  for (Holder& image : images) {
    if (image.image->digest != identity.digest || image.image->manifest != identity.manifest ||
        image.within != within) {
      continue;
    }
    for (std::string& tag : identity.tags) {
      auto& tags = image.image->tags;
      if (std::find(tags.begin(), tags.end(), tag) == tags.end()) tags.push_back(std::move(tag));
    }
    return;
  }
  Holder image;
  image.image = std::move(identity);
  image.within = std::move(within);
  images.push_back(std::move(image));
}

}  // namespace

bool IsImageBlobName(std::string_view name) {
  name = WithoutDotSlash(name);
  if (name.starts_with("blobs/") || name.ends_with("/layer.tar")) return true;
  const std::string_view base = BaseName(name);
  const std::string_view stem = base.substr(0, base.find('.'));
  return stem.size() == 64 && IsHex(stem);
}

std::string NamedDigest(std::string_view name) {
  name = WithoutDotSlash(name);
  if (name.starts_with("blobs/sha256/")) {
    name.remove_prefix(13);
  } else if (name.ends_with(".tar") && name.find('/') == std::string_view::npos) {
    name.remove_suffix(4);
  } else {
    return {};
  }
  return name.size() == 64 && IsHex(name) ? "sha256:" + std::string(name) : std::string();
}

bool ImageBookkeeping::Wants(std::string_view name, std::int64_t size) const {
  if (size > static_cast<std::int64_t>(kMostBookkeepingBytes)) return false;
  name = WithoutDotSlash(name);
  if (name == "manifest.json" || name == "index.json") return true;
  // Manifests and configs are small blobs; layers are seldom that small, and are not JSON.
  return size > 0 && !DigestOf(name).empty();
}

bool ImageBookkeeping::Keep(std::string_view name, std::string_view bytes) {
  const std::string_view text = Trimmed(bytes);
  if (bytes.size() > kMostBookkeepingBytes) return false;
  if (!text.starts_with('{') && !text.starts_with('[')) return true;
  if (kept_bytes_ + bytes.size() > kMostBookkeepingKept) return false;
  kept_bytes_ += bytes.size();
  kept_.insert_or_assign(std::string(WithoutDotSlash(name)), std::string(bytes));
  return true;
}

void ImageBookkeeping::Saw(std::string_view name) {
  if (IsImageBlobName(name) && names_.size() < kMostLayerNames) {
    names_.emplace(std::string(WithoutDotSlash(name)), std::string(name));
  }
}

void ImageBookkeeping::SawLink(std::string_view name, std::string_view target) {
  const std::string_view plain = WithoutDotSlash(name);
  if (IsImageBlobName(plain) && links_.size() < kMostLayerNames) {
    links_.emplace(std::string(plain), Resolved(plain, target));
  }
}

std::string ImageBookkeeping::MemberNamed(std::string_view name) const {
  std::string plain(WithoutDotSlash(name));
  for (int hops = 0; hops <= kMostLinks; ++hops) {
    if (const auto found = names_.find(plain); found != names_.end()) return found->second;
    const auto link = links_.find(plain);
    if (link == links_.end()) break;
    plain = link->second;
  }
  return {};
}

bool ImageBookkeeping::LayerNames(const std::vector<std::string>& layers, const std::string& image,
                                  std::vector<std::string>& names,
                                  std::vector<std::string>& problems) const {
  for (const std::string& layer : layers) {
    std::string name = MemberNamed(layer);
    if (name.empty()) {
      problems.push_back(image + " names a layer the archive does not hold: " + layer);
      return false;
    }
    names.push_back(std::move(name));
  }
  return true;
}

bool ImageBookkeeping::ReadConfig(const std::string& digest, std::string_view name,
                                  ImageIdentity& image, std::vector<std::string>& problems) const {
  const auto kept = kept_.find(WithoutDotSlash(name));
  if (kept == kept_.end()) {
    if (!MemberNamed(name).empty()) return true;  // there, but too large to keep
    problems.push_back(NameOfImage(image) + " names a config the archive does not hold: " +
                       std::string(name));
    return false;
  }
  const Json config = Json::parse(kept->second, nullptr, /*allow_exceptions=*/false);
  image.digest = digest;
  image.architecture = WordMember(config, "architecture");
  image.os = WordMember(config, "os");
  if (const Json* rootfs = Member(config, "rootfs")) {
    std::vector<std::string> ignored;
    for (const std::string& id : Words(Member(*rootfs, "diff_ids"), "config", ignored)) {
      image.layer_digests.push_back(DigestOf(id));
    }
  }
  return true;
}

std::vector<Holder> ImageBookkeeping::Images(std::vector<std::string>& problems) const {
  const auto manifest = kept_.find("manifest.json");
  const auto index = kept_.find("index.json");
  if (manifest == kept_.end()) {
    return index == kept_.end() ? std::vector<Holder>() : LayoutImages(index->second, problems);
  }
  // Docker since version 25 saves both: manifest.json has the tags, index.json the manifests.
  std::vector<Holder> images = SavedImages(manifest->second, problems);
  if (index == kept_.end()) return images;
  std::vector<std::string> ignored;
  for (const Holder& laid : LayoutImages(index->second, ignored)) {
    for (Holder& image : images) {
      if (image.image->digest == laid.image->digest && image.image->manifest.empty()) {
        image.image->manifest = laid.image->manifest;
      }
    }
  }
  return images;
}

std::vector<Holder> ImageBookkeeping::SavedImages(const std::string& manifest,
                                                  std::vector<std::string>& problems) const {
  std::vector<Holder> images;
  // Other tools' manifest.json (a web app's, a browser extension's) are not images.
  const Json saved = Json::parse(manifest, nullptr, /*allow_exceptions=*/false);
  if (!saved.is_array()) return images;
  for (const Json& entry : saved) {
    if (Member(entry, "Config") == nullptr) continue;
    const std::string config = StringMember(entry, "Config");
    ImageIdentity image;
    image.digest = DigestOf(config);
    if (image.digest.empty()) {
      problems.push_back("manifest.json: an image's Config does not name a sha256 digest");
      continue;
    }
    image.tags = Words(Member(entry, "RepoTags"), "manifest.json", problems);
    const std::vector<std::string> layers = Words(Member(entry, "Layers"), "manifest.json", problems);
    std::vector<std::string> within;
    if (!ReadConfig(image.digest, config, image, problems) ||
        !LayerNames(layers, NameOfImage(image), within, problems)) {
      continue;
    }
    // A layer's digest is its diff ID from the config, or its blob's name.
    if (image.layer_digests.size() != layers.size()) {
      image.layer_digests.clear();
      for (const std::string& layer : layers) image.layer_digests.push_back(DigestOf(layer));
    }
    AddImage(images, std::move(image), std::move(within));
  }
  return images;
}

// The names an index gives the image a descriptor leads to: the tags of the indexes above it,
// and the descriptor's own name.
std::vector<std::string> TagsOf(const Json* annotations, std::vector<std::string> tags) {
  const std::string name = annotations == nullptr ? std::string()
                           : !StringMember(*annotations, kContainerdName).empty()
                               ? StringMember(*annotations, kContainerdName)
                               : StringMember(*annotations, kReferenceName);
  if (IsWord(name) && std::find(tags.begin(), tags.end(), name) == tags.end()) tags.push_back(name);
  return tags;
}

bool ImageBookkeeping::ReadManifest(const Json& manifest, const Json& descriptor,
                                    ImageIdentity& image, std::vector<std::string>& within,
                                    std::vector<std::string>& problems) const {
  const Json* config = Member(manifest, "config");
  image.digest = config == nullptr ? std::string() : DigestOf(StringMember(*config, "digest"));
  if (image.digest.empty()) {
    problems.push_back("an image manifest names no sha256 config");
    return false;
  }
  std::vector<std::string> layers;
  if (const Json* list = Member(manifest, "layers"); list != nullptr && list->is_array()) {
    for (const Json& layer : *list) {
      const std::string layer_digest = DigestOf(StringMember(layer, "digest"));
      if (layer_digest.empty()) continue;
      layers.push_back(BlobName(layer_digest));
      image.layer_digests.push_back(layer_digest);
    }
  }
  const std::vector<std::string> layer_digests = image.layer_digests;
  if (!ReadConfig(image.digest, BlobName(image.digest), image, problems) ||
      !LayerNames(layers, NameOfImage(image), within, problems)) {
    return false;
  }
  image.layer_digests = layer_digests;  // the blobs', not the config's diff IDs
  if (const Json* platform = Member(descriptor, "platform")) {
    if (image.architecture.empty()) image.architecture = WordMember(*platform, "architecture");
    if (image.os.empty()) image.os = WordMember(*platform, "os");
  }
  return true;
}

std::vector<Holder> ImageBookkeeping::LayoutImages(const std::string& index,
                                                   std::vector<std::string>& problems) const {
  std::vector<Holder> images;
  // Each descriptor, with the names its index gave the images it leads to, and its depth.
  struct Step {
    Json descriptor;
    std::vector<std::string> tags;
    int depth;
  };
  std::vector<Step> steps;
  const auto add_descriptors = [&](const Json& document, const std::vector<std::string>& tags,
                                   int depth) {
    const Json* manifests = Member(document, "manifests");
    if (manifests == nullptr || !manifests->is_array()) return;
    for (const Json& descriptor : *manifests) steps.push_back({descriptor, tags, depth});
  };
  add_descriptors(Json::parse(index, nullptr, /*allow_exceptions=*/false), {}, 0);
  for (std::size_t i = 0; i < steps.size() && i < kMostSteps; ++i) {
    const Step step = steps[i];  // steps may grow below
    const Json* annotations = Member(step.descriptor, "annotations");
    // Attestations ride along in an index; they are not images.
    if (annotations != nullptr && Member(*annotations, "vnd.docker.reference.type") != nullptr) {
      continue;
    }
    ImageIdentity image;
    image.tags = TagsOf(annotations, step.tags);
    image.manifest = DigestOf(StringMember(step.descriptor, "digest"));
    const auto blob = image.manifest.empty() ? kept_.end() : kept_.find(BlobName(image.manifest));
    if (blob == kept_.end()) {
      problems.push_back("index.json names a manifest the layout does not hold");
      continue;
    }
    const Json document = Json::parse(blob->second, nullptr, /*allow_exceptions=*/false);
    if (Member(document, "manifests") != nullptr) {
      if (step.depth < kDeepestIndex) add_descriptors(document, image.tags, step.depth + 1);
      continue;
    }
    std::vector<std::string> within;
    if (ReadManifest(document, step.descriptor, image, within, problems)) {
      AddImage(images, std::move(image), std::move(within));
    }
  }
  return images;
}
