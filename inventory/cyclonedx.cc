// Components are built with nlohmann::ordered_json from text made valid UTF-8 first, so the
// writer never meets a byte it cannot write; the exact bytes ride along in base64 properties.
#include "inventory/cyclonedx.h"

#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "text/text_forms.h"
#include "text/version_key.h"

namespace {

using Json = nlohmann::ordered_json;

bool IsUtf8(std::string_view bytes) {
  return ValidUtf8(bytes) == bytes;
}

// The purl project's canonical form, as its own library writes it: each part percent-encoded as
// JavaScript's encodeURIComponent does (upper-case hex), keeping also the marks in `kept`.
void AppendPurlPart(std::string_view text, std::string_view kept, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  static constexpr std::string_view kUnreserved = "-_.!~*'()";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 && byte < 0x80) {
      out += c;
    } else if (kUnreserved.find(c) != std::string_view::npos ||
               kept.find(c) != std::string_view::npos) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
}

// A qualifier's value, as URLSearchParams writes it, with a blank as %20.
void AppendQualifierValue(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((std::isalnum(byte) != 0 && byte < 0x80) || c == '*' || c == '-' || c == '.' || c == '_') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
}

// A name or version as the purl library reads it back: without blanks around it.
std::string_view WithoutBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\n\v\f\r";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A namespace's segments without empty ones, as the purl library reads them back.
std::string NamespacePath(std::string_view text) {
  std::string path;
  while (!text.empty()) {
    const std::size_t slash = text.find('/');
    const std::string_view segment = text.substr(0, slash);
    text = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
    if (segment.empty()) continue;
    if (!path.empty()) path += '/';
    path += segment;
  }
  return path;
}

// pkg:TYPE/NAMESPACE/NAME@VERSION, the parts canonical; false when the name is empty.
bool AppendPurlHead(std::string_view type, std::string_view namespace_part, std::string_view name,
                    std::string_view version, std::string& purl) {
  name = WithoutBlanks(name);
  version = WithoutBlanks(version);
  if (name.empty()) return false;
  purl = "pkg:" + std::string(type) + "/";
  if (const std::string path = NamespacePath(namespace_part); !path.empty()) {
    AppendPurlPart(path, ":/", purl);
    purl += '/';
  }
  AppendPurlPart(name, {}, purl);
  if (!version.empty()) {
    purl += '@';
    AppendPurlPart(version, ":+", purl);
  }
  return true;
}

// One CPE 2.3 formatted-string value.
std::string CpeValue(std::string_view text) {
  if (text.empty()) return "*";
  static constexpr char kHex[] = "0123456789abcdef";
  std::string value;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 'A' && byte <= 'Z') {
      value += static_cast<char>(byte - 'A' + 'a');
    } else if ((byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || c == '_' ||
               c == '.' || c == '-') {
      value += c;
    } else if (c == ' ') {
      value += '_';
    } else if (byte > 0x20 && byte < 0x7f) {
      value += '\\';
      value += c;
    } else {
      value += "\\%";
      value += kHex[byte >> 4];
      value += kHex[byte & 15];
    }
  }
  return value;
}

// The innermost name of a place: its last member, or the file's own name.
std::string_view InnermostName(const LinePlace& place) {
  const std::string_view whole = place.member.empty() ? place.path : place.member.back();
  const std::size_t slash = whole.rfind('/');
  return slash == std::string_view::npos ? whole : whole.substr(slash + 1);
}

void AddProperty(Json& properties, std::string_view name, std::string_view value) {
  properties.push_back(Json{
      { "name", std::string("zeblix:") + std::string(name)},
      {"value",                           ValidUtf8(value)}
  });
}

// A text property, with its exact bytes beside it when they are not UTF-8.
void AddTextProperty(Json& properties, std::string_view name, std::string_view bytes) {
  AddProperty(properties, name, bytes);
  if (!IsUtf8(bytes)) AddProperty(properties, std::string(name) + ":base64", Base64(bytes));
}

// The exact bytes of standard fields that had to be made valid UTF-8.
void AddBytesOfField(Json& properties, std::string_view field, std::string_view bytes) {
  if (!IsUtf8(bytes)) AddProperty(properties, std::string(field) + ":base64", Base64(bytes));
}

// The layer of its image a component lies in, and the later layer that deletes it.
void AddLayerProperties(Json& properties, const LinePlace& place) {
  if (place.image == nullptr || place.layer < 0) return;
  AddProperty(properties, "image_layer", std::to_string(place.layer));
  const auto& digests = place.image->layer_digests;
  if (static_cast<std::size_t>(place.layer) < digests.size() && !digests[place.layer].empty()) {
    AddProperty(properties, "image_layer_digest", digests[place.layer]);
  }
  if (place.deleted_by >= 0) {
    AddProperty(properties, "image_layer_deleted_by", std::to_string(place.deleted_by));
  }
}

void AddCommonPlace(Json& component, Json& properties, const LinePlace& place,
                    std::optional<std::int64_t> offset) {
  if (const auto sha256 = place.sha256()) {
    component["hashes"] = Json::array({
        Json{{"alg", "SHA-256"}, {"content", std::string(*sha256)}}
    });
  }
  const std::string location = Location(place.path, place.member);
  Json occurrence{
      {"location", ValidUtf8(location)}
  };
  if (offset) occurrence["offset"] = *offset;
  component["evidence"] = Json{
      {"occurrences", Json::array({occurrence})}
  };
  AddBytesOfField(properties, "location", location);
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
  out += component.dump();
}

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

std::string Purl(std::string_view namespace_part, std::string_view name, std::string_view version) {
  std::string purl;
  if (!AppendPurlHead("generic", namespace_part, name, version, purl)) return {};
  return purl;
}

namespace {

// Appends a qualifier; they must come in the order of their keys, as the canonical form has them.
void AppendQualifier(std::string_view key, std::string_view value, std::string& purl) {
  value = WithoutBlanks(value);
  if (value.empty()) return;
  purl += purl.find('?') == std::string::npos ? '?' : '&';
  purl += key;
  purl += '=';
  AppendQualifierValue(value, purl);
}

// A reference's repository and tag: "registry/repo:tag", "repo@sha256:...", or a bare tag.
std::pair<std::string_view, std::string_view> RepositoryAndTag(std::string_view reference) {
  if (const std::size_t at = reference.find('@'); at != std::string_view::npos) {
    return {reference.substr(0, at), {}};
  }
  const std::size_t colon = reference.rfind(':');
  const std::size_t slash = reference.rfind('/');
  if (colon != std::string_view::npos && (slash == std::string_view::npos || colon > slash)) {
    return {reference.substr(0, colon), reference.substr(colon + 1)};
  }
  return {slash == std::string_view::npos ? std::string_view() : reference, {}};
}

std::string Lowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

std::string PackagePurl(const PackageIdentity& package) {
  // Debian's names are case-insensitive, RPM's are not; namespaces are lower case in both.
  const bool deb = package.type == PackageIdentity::Type::kDeb;
  std::string purl;
  if (!AppendPurlHead(TypeName(package.type), Lowered(package.vendor),
                      deb ? Lowered(package.name) : package.name, package.version, purl)) {
    return {};
  }
  AppendQualifier("arch", package.architecture, purl);
  AppendQualifier("epoch", package.epoch, purl);
  return purl;
}

std::string ImagePurl(const ImageIdentity& image) {
  // Registries and the oci type name an image by its manifest's digest, which a saved image
  // does not always hold.
  if (image.manifest.empty()) return {};
  for (const std::string& tag : image.tags) {
    const auto [repository, version_tag] = RepositoryAndTag(tag);
    if (repository.empty()) continue;
    const std::size_t slash = repository.rfind('/');
    std::string purl;
    const std::string_view name =
        slash == std::string_view::npos ? repository : repository.substr(slash + 1);
    if (!AppendPurlHead("oci", {}, Lowered(name), image.manifest, purl)) continue;
    AppendQualifier("arch", image.architecture, purl);
    if (slash != std::string_view::npos) AppendQualifier("repository_url", repository, purl);
    AppendQualifier("tag", version_tag, purl);
    return purl;
  }
  return {};
}

std::string Cpe(std::string_view vendor, std::string_view product, std::string_view version) {
  return "cpe:2.3:a:" + CpeValue(vendor) + ":" + CpeValue(product) + ":" + CpeValue(version) +
         ":*:*:*:*:*:*:*";
}

std::string RandomSerialNumber() {
  std::array<unsigned char, 16> bytes{};
  if (getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    // No entropy to be had: the time and the process still tell runs apart.
    const auto seed = static_cast<unsigned long long>(std::time(nullptr)) ^ getpid();
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = (seed >> (i % 8 * 8)) & 0xFF;
  }
  bytes[6] = (bytes[6] & 0x0F) | 0x40;  // version 4: random
  bytes[8] = (bytes[8] & 0x3F) | 0x80;  // the RFC 4122 variant
  char text[48];
  std::snprintf(text, sizeof text,
                "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7],
                bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14],
                bytes[15]);
  return text;
}

std::string BomHead() {
  const Json head{
      {   "bomFormat",            "CycloneDX"},
      { "specVersion",                  "1.6"},
      {"serialNumber", RandomSerialNumber()},
      {     "version",                      1}
  };
  std::string text = head.dump();
  text.pop_back();  // the closing brace: the components follow
  return text + ",\"components\":[";
}

std::string BomTail(std::string_view tool_version, std::string_view subject) {
  const Json tool{
      {    "type",                "application"},
      {"supplier", Json{{"name", "Quorvantis"}}},
      {    "name",           "zeblix-inventory"},
      { "version",    std::string(tool_version)}
  };
  Json metadata{
      {"timestamp", Timestamp()},
      {    "tools", Json{{"components", Json::array({tool})}}}
  };
  std::string text = metadata.dump();
  if (!subject.empty()) {
    text.pop_back();
    text += ",\"component\":";
    text += subject;
    text += '}';
  }
  return "\n],\"metadata\":" + text + "}\n";
}

void AppendRecordComponent(const zeblix::Record& r, const LinePlace& place, std::string& out) {
  static constexpr std::array<const char*, 5> kTypes = {"file", "application", "library", "library",
                                                        "device-driver"};
  const std::string_view name = !r.product_name.empty()    ? std::string_view(r.product_name)
                                : !r.internal_name.empty() ? std::string_view(r.internal_name)
                                                           : InnermostName(place);
  Json component{
      {   "type", kTypes[r.file_type < kTypes.size() ? r.file_type : 0]},
      {"bom-ref",                            std::string(place.bom_ref)}
  };
  if (!r.company.empty())
    component["supplier"] = Json{
        {"name", ValidUtf8(r.company)}
    };
  component["name"] = ValidUtf8(name);
  if (!r.product_version.empty()) component["version"] = ValidUtf8(r.product_version);
  if (!r.description.empty()) component["description"] = ValidUtf8(r.description);
  if (!r.copyright.empty()) component["copyright"] = ValidUtf8(r.copyright);
  component["cpe"] = Cpe(ValidUtf8(r.company), ValidUtf8(name), ValidUtf8(r.product_version));
  if (std::string purl = Purl(ValidUtf8(r.company), ValidUtf8(name), ValidUtf8(r.product_version));
      !purl.empty()) {
    component["purl"] = std::move(purl);
  }
  Json properties = Json::array();
  AddProperty(properties, "format", r.format == zeblix::Format::kV6 ? "V6" : "V5");
  if (!r.product_version.empty()) {
    AddProperty(properties, "product_version_key", VersionKey(r.product_version));
  }
  AddProperty(properties, "byte_order", r.foreign_byte_order ? "foreign" : "native");
  AddTextProperty(properties, "internal_name", r.internal_name);
  AddTextProperty(properties, "build_number", r.build_number);
  AddProperty(properties, "patch_level", zeblix::PatchLevelText(r));
  AddProperty(properties, "release", zeblix::ReleaseText(r));
  AddProperty(properties, "file_os", zeblix::OsText(r));
  AddProperty(properties, "file_type", zeblix::FileTypeText(r));
  AddBytesOfField(properties, "company", r.company);
  AddBytesOfField(properties, "product_name", r.product_name);
  AddBytesOfField(properties, "product_version", r.product_version);
  AddBytesOfField(properties, "description", r.description);
  AddBytesOfField(properties, "copyright", r.copyright);
  AddCommonPlace(component, properties, place, r.offset);
  component["properties"] = std::move(properties);
  AppendComponent(component, out);
}

void AppendFileComponent(const LinePlace& place, std::string& out) {
  Json component{
      {   "type",                          "file"},
      {"bom-ref",      std::string(place.bom_ref)},
      {   "name", ValidUtf8(InnermostName(place))}
  };
  Json properties = Json::array();
  AddProperty(properties, "records", "0");
  AddCommonPlace(component, properties, place, std::nullopt);
  component["properties"] = std::move(properties);
  AppendComponent(component, out);
}

void AppendHolderComponent(const Holder& holder, const LinePlace& place, std::string_view children,
                           std::string& out, std::string* subject) {
  Json component;
  Json properties = Json::array();
  if (const auto& package = holder.package) {
    component = Json{
        {   "type",                  "library"},
        {"bom-ref", std::string(place.bom_ref)},
        {   "name",               package->name},
        {"version",            package->version}
    };
    if (const auto sha256 = place.sha256()) {
      component["hashes"] = Json::array({
          Json{{"alg", "SHA-256"}, {"content", std::string(*sha256)}}
      });
    }
    component["purl"] = PackagePurl(*package);
    AddProperty(properties, "package_type", TypeName(package->type));
    AddProperty(properties, "architecture", package->architecture);
    if (!package->epoch.empty()) AddProperty(properties, "epoch", package->epoch);
  } else {
    const ImageIdentity& image = *holder.image;
    const std::string_view first = image.tags.empty() ? std::string_view() : image.tags.front();
    const std::string_view repository = RepositoryAndTag(first).first;
    // An image is named by its manifest where the file holds it, else by its config.
    const std::string& named_by = image.manifest.empty() ? image.digest : image.manifest;
    component = Json{
        {   "type",                                              "container"},
        {"bom-ref",                             std::string(place.bom_ref)},
        {   "name", repository.empty() ? image.digest : std::string(repository)},
        {"version",                                               named_by}
    };
    component["hashes"] = Json::array({
        Json{{"alg", "SHA-256"}, {"content", named_by.substr(named_by.find(':') + 1)}}
    });
    if (const std::string purl = ImagePurl(image); !purl.empty()) component["purl"] = purl;
    AddProperty(properties, "image_id", image.digest);
    if (!image.architecture.empty()) AddProperty(properties, "image_architecture", image.architecture);
    if (!image.os.empty()) AddProperty(properties, "image_os", image.os);
    for (const std::string& tag : image.tags) AddProperty(properties, "image_tag", tag);
  }
  const std::string location = Location(place.path, place.member);
  component["evidence"] = Json{
      {"occurrences", Json::array({Json{{"location", ValidUtf8(location)}}})}
  };
  AddBytesOfField(properties, "location", location);
  AddTextProperty(properties, "host", place.host);
  component["properties"] = std::move(properties);
  if (subject != nullptr) {
    *subject = component.dump();
    out += children;
    return;
  }
  std::string text = component.dump();
  if (!children.empty()) {
    text.pop_back();
    text += ",\"components\":[";
    text += children.substr(kComponentSeparator.size());
    text += "]}";
  }
  out += kComponentSeparator;
  out += text;
}
