// zeblix-inventory's records as one CycloneDX 1.6 JSON document, for the tools that watch
// software inventories for vulnerabilities and licences. The document is written as the walk goes:
// a head, one component a line, a tail; nothing of it is held in memory but the components inside
// one item's packages and images, which are nested in theirs.
//
// Standard fields must be Unicode, so text whose bytes are not UTF-8 goes into them with U+FFFD in
// place of each bad sequence, and exactly, as base64, into a "zeblix:...:base64" property.
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <optional>

#include "emit/json_text.h"
#include "emit/line_writer.h"
#include "emit/purl.h"
#include "emit/record_fields.h"
#include "text/text_forms.h"
#include "text/version_key.h"
#include "text/words.h"

namespace {

// The list separator every component begins with; the document's first drops it.
constexpr std::string_view kComponentSeparator = ",\n";

// The innermost name of a place: its last member, or the file's own name.
std::string_view InnermostName(const LinePlace& place) {
  return BaseName(place.member.empty() ? place.path : std::string_view(place.member.back()));
}

void AddProperty(Json& properties, std::string_view name, std::string_view value) {
  properties.push_back(Json{
      { "name", std::string("zeblix:") + std::string(name)},
      {"value",                           ValidUtf8(value)}
  });
}

// The exact bytes of a text that had to be made valid UTF-8, as a property of its own.
void AddBytesOf(Json& properties, std::string_view name, std::string_view bytes) {
  if (!IsUtf8(bytes)) AddProperty(properties, std::string(name) + ":base64", Base64(bytes));
}

// A text property, with its exact bytes beside it when they are not UTF-8.
void AddTextProperty(Json& properties, std::string_view name, std::string_view bytes) {
  AddProperty(properties, name, bytes);
  AddBytesOf(properties, name, bytes);
}

// The layer of its image a component lies in, and the later layer that deletes it.
void AddLayerProperties(Json& properties, const LinePlace& place) {
  if (place.image == nullptr || place.layer < 0) return;
  AddProperty(properties, "image_layer", std::to_string(place.layer));
  if (const std::string_view digest = place.layer_digest(); !digest.empty()) {
    AddProperty(properties, "image_layer_digest", digest);
  }
  if (place.deleted_by >= 0) {
    AddProperty(properties, "image_layer_deleted_by", std::to_string(place.deleted_by));
  }
}

Json Sha256Hashes(std::string_view digest) {
  return Json::array({
      Json{{"alg", "SHA-256"}, {"content", std::string(digest)}}
  });
}

Json Evidence(std::string_view location, std::optional<std::int64_t> offset) {
  Json occurrence{
      {"location", ValidUtf8(location)}
  };
  if (offset) occurrence["offset"] = *offset;
  return Json{
      {"occurrences", Json::array({occurrence})}
  };
}

void AddCommonPlace(Json& component, Json& properties, const LinePlace& place,
                    std::optional<std::int64_t> offset) {
  if (const auto sha256 = place.sha256()) component["hashes"] = Sha256Hashes(*sha256);
  const std::string location = Location(place.path, place.member);
  component["evidence"] = Evidence(location, offset);
  AddBytesOf(properties, "location", location);
  AddTextProperty(properties, "host", place.host);
  AddLayerProperties(properties, place);
  // What holds the content, as stored: the file, and each member around it.
  if (!place.member.empty() && !place.digests.empty()) {
    AddProperty(properties, "file_sha256", place.digests.front());
    AddProperty(properties, "member_sha256", JoinNames(place.digests.subspan(1)));
  }
}

void AppendComponent(const Json& component, std::string& out) {
  out += kComponentSeparator;
  out += Dumped(component);
}

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// A random RFC 4122 serial number, urn:uuid:...
std::string RandomSerialNumber() {
  std::array<unsigned char, 16> bytes{};
  if (getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    // No entropy to be had: the time and the process still tell runs apart.
    const auto seed = static_cast<unsigned long long>(std::time(nullptr)) ^ getpid();
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = (seed >> (i % 8 * 8)) & 0xFF;
  }
  bytes[6] = (bytes[6] & 0x0F) | 0x40;  // version 4: random
  bytes[8] = (bytes[8] & 0x3F) | 0x80;  // the RFC 4122 variant
  const std::string hex = Hex(bytes);
  return "urn:uuid:" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20);
}

// The record's own facts beyond the standard fields, and the exact bytes of those fields.
Json RecordProperties(const zeblix::Record& r) {
  Json properties = Json::array();
  AddProperty(properties, "format", FormatWord(r));
  if (!r.product_version.empty()) {
    AddProperty(properties, "product_version_key", VersionKey(r.product_version));
  }
  AddProperty(properties, "byte_order", ByteOrderWord(r));
  AddTextProperty(properties, "internal_name", r.internal_name);
  AddTextProperty(properties, "build_number", r.build_number);
  AddProperty(properties, "patch_level", zeblix::PatchLevelText(r));
  AddProperty(properties, "release", zeblix::ReleaseText(r));
  AddProperty(properties, "file_os", zeblix::OsText(r));
  AddProperty(properties, "file_type", zeblix::FileTypeText(r));
  AddBytesOf(properties, "company", r.company);
  AddBytesOf(properties, "product_name", r.product_name);
  AddBytesOf(properties, "product_version", r.product_version);
  AddBytesOf(properties, "description", r.description);
  AddBytesOf(properties, "copyright", r.copyright);
  return properties;
}

Json RecordComponent(const zeblix::Record& r, const LinePlace& place) {
  static constexpr std::array<const char*, 5> kTypes = {"file", "application", "library", "library",
                                                        "device-driver"};
  const std::string_view name = !r.product_name.empty()    ? std::string_view(r.product_name)
                                : !r.internal_name.empty() ? std::string_view(r.internal_name)
                                                           : InnermostName(place);
  Json component{
      {   "type", kTypes[r.file_type < kTypes.size() ? r.file_type : 0]},
      {"bom-ref",                            std::string(place.bom_ref)}
  };
  if (!r.company.empty()) component["supplier"] = Json{{"name", ValidUtf8(r.company)}};
  component["name"] = ValidUtf8(name);
  if (!r.product_version.empty()) component["version"] = ValidUtf8(r.product_version);
  if (!r.description.empty()) component["description"] = ValidUtf8(r.description);
  if (!r.copyright.empty()) component["copyright"] = ValidUtf8(r.copyright);
  component["cpe"] = Cpe(ValidUtf8(r.company), ValidUtf8(name), ValidUtf8(r.product_version));
  if (std::string purl = Purl(ValidUtf8(r.company), ValidUtf8(name), ValidUtf8(r.product_version));
      !purl.empty()) {
    component["purl"] = std::move(purl);
  }
  return component;
}

Json PackageComponent(const PackageIdentity& package, const LinePlace& place, Json& properties) {
  Json component{
      {   "type",                  "library"},
      {"bom-ref", std::string(place.bom_ref)},
      {   "name",                package.name},
      {"version",             package.version}
  };
  if (const auto sha256 = place.sha256()) component["hashes"] = Sha256Hashes(*sha256);
  component["purl"] = PackagePurl(package);
  AddProperty(properties, "package_type", TypeName(package.type));
  AddProperty(properties, "architecture", package.architecture);
  if (!package.epoch.empty()) AddProperty(properties, "epoch", package.epoch);
  return component;
}

Json ImageComponent(const ImageIdentity& image, const LinePlace& place, Json& properties) {
  const std::string_view first = image.tags.empty() ? std::string_view() : image.tags.front();
  const std::string_view repository = RepositoryAndTag(first).first;
  // An image is named by its manifest where the file holds it, else by its config.
  const std::string& named_by = image.manifest.empty() ? image.digest : image.manifest;
  Json component{
      {   "type",                                                  "container"},
      {"bom-ref",                                 std::string(place.bom_ref)},
      {   "name", repository.empty() ? image.digest : std::string(repository)},
      {"version",                                                   named_by}
  };
  component["hashes"] = Sha256Hashes(std::string_view(named_by).substr(named_by.find(':') + 1));
  if (const std::string purl = ImagePurl(image); !purl.empty()) component["purl"] = purl;
  AddProperty(properties, "image_id", image.digest);
  if (!image.architecture.empty()) AddProperty(properties, "image_architecture", image.architecture);
  if (!image.os.empty()) AddProperty(properties, "image_os", image.os);
  for (const std::string& tag : image.tags) AddProperty(properties, "image_tag", tag);
  return component;
}

// A component's JSON text with the components inside it (each after kComponentSeparator).
std::string WithChildren(const Json& component, std::string_view children) {
  std::string text = Dumped(component);
  if (!children.empty()) {
    text.pop_back();
    text += ",\"components\":[";
    text += children.substr(kComponentSeparator.size());
    text += "]}";
  }
  return text;
}

class CycloneDxWriter final : public LineWriter {
 public:
  std::string Begin() override {
    const Json head{
        {   "bomFormat",            "CycloneDX"},
        { "specVersion",                  "1.6"},
        {"serialNumber", RandomSerialNumber()},
        {     "version",                      1}
    };
    std::string text = Dumped(head);
    text.pop_back();  // the closing brace: the components follow
    return text + ",\"components\":[";
  }

  void Record(const zeblix::Record& r, const LinePlace& place, ItemLines& out) const override {
    Json component = RecordComponent(r, place);
    Json properties = RecordProperties(r);
    AddCommonPlace(component, properties, place, r.offset);
    component["properties"] = std::move(properties);
    AppendComponent(component, out.At(place.nest));
  }

  void Empty(const LinePlace& place, ItemLines& out) const override {
    Json component{
        {   "type",                          "file"},
        {"bom-ref",      std::string(place.bom_ref)},
        {   "name", ValidUtf8(InnermostName(place))}
    };
    Json properties = Json::array();
    AddProperty(properties, "records", "0");
    AddCommonPlace(component, properties, place, std::nullopt);
    component["properties"] = std::move(properties);
    AppendComponent(component, out.At(place.nest));
  }

  // A document has no place for errors: standard error tells them.
  void Error(const LinePlace&, int, std::string_view, ItemLines&) const override {}
  bool WritesErrors() const override { return false; }

  void Holder(const ::Holder& holder, const LinePlace& place, Nest own, bool subject,
              ItemLines& out) const override {
    Json properties = Json::array();
    Json component = holder.package ? PackageComponent(*holder.package, place, properties)
                                     : ImageComponent(*holder.image, place, properties);
    const std::string location = Location(place.path, place.member);
    component["evidence"] = Evidence(location, std::nullopt);
    AddBytesOf(properties, "location", location);
    AddTextProperty(properties, "host", place.host);
    component["properties"] = std::move(properties);
    std::string children = std::move(out.nested[own]);
    out.nested.erase(own);
    std::string& target = out.At(place.nest);
    if (subject) {
      out.subject = Dumped(component);
      target += children;
      return;
    }
    target += kComponentSeparator;
    target += WithChildren(component, children);
  }

  std::string_view Next(std::string_view lines) override {
    // The document's first component follows the list's opening, not another component.
    if (!wrote_component_ && !lines.empty()) {
      lines.remove_prefix(kComponentSeparator.size());
      wrote_component_ = true;
    }
    return lines;
  }

  std::string End(std::string_view tool_version, std::string_view subject) override {
    const Json tool{
        {    "type",                "application"},
        {"supplier", Json{{"name", "Quorvantis"}}},
        {    "name",           "zeblix-inventory"},
        { "version",    std::string(tool_version)}
    };
    const Json metadata{
        {"timestamp", Timestamp()},
        {    "tools", Json{{"components", Json::array({tool})}}}
    };
    std::string text = Dumped(metadata);
    if (!subject.empty()) {
      text.pop_back();
      text += ",\"component\":";
      text += subject;
      text += '}';
    }
    return "\n],\"metadata\":" + text + "}\n";
  }

 private:
  bool wrote_component_ = false;
};

}  // namespace

std::unique_ptr<LineWriter> MakeCycloneDxWriter() {
  return std::make_unique<CycloneDxWriter>();
}
