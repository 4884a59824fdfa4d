// JSON objects are built with nlohmann::ordered_json, so keys keep the order of the schema;
// simdjson tells valid UTF-8 from other bytes.
#include "inventory/record_lines.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <system_error>

#include "inventory/cyclonedx.h"
#include "text/text_forms.h"
#include "text/version_key.h"

namespace {

using Json = nlohmann::ordered_json;

// The columns, in order: where a line lies, a record's fields, an error, the record count of a
// file without any, and the digests of what holds the line's content, as stored.
constexpr std::array<const char*, 45> kColumns = {"path",
                                                  "member",
                                                  "host",
                                                  "sha256",
                                                  "format",
                                                  "offset",
                                                  "byte_order",
                                                  "company",
                                                  "description",
                                                  "product_version",
                                                  "internal_name",
                                                  "copyright",
                                                  "product_name",
                                                  "build_number",
                                                  "patch_level",
                                                  "release_mask",
                                                  "file_os",
                                                  "file_type",
                                                  "patch_level_text",
                                                  "release_text",
                                                  "os_text",
                                                  "file_type_text",
                                                  "error",
                                                  "errno",
                                                  "records",
                                                  "file_sha256",
                                                  "member_sha256",
                                                  "package_type",
                                                  "package_name",
                                                  "package_version",
                                                  "package_architecture",
                                                  "package_epoch",
                                                  "package_purl",
                                                  "image_digest",
                                                  "image_tags",
                                                  "image_purl",
                                                  "image_manifest",
                                                  "image_architecture",
                                                  "image_os",
                                                  "image_layer",
                                                  "image_layer_digest",
                                                  "image_layer_deleted_by",
                                                  "product_version_key",
                                                  "device",
                                                  "inode"};
using CsvRow = std::array<std::string, kColumns.size()>;
constexpr std::size_t kFirstRecordColumn = 4;  // "format": the columns a record fills begin here
constexpr std::size_t kErrorColumn = 22;
constexpr std::size_t kRecordsColumn = 24;
constexpr std::size_t kFileSha256Column = 25;
constexpr std::size_t kPackageColumn = 27;
constexpr std::size_t kImageColumn = 33;
constexpr std::size_t kVersionKeyColumn = 42;
constexpr std::size_t kDeviceColumn = 43;
// Tags are words, so a blank parts them in one field.
constexpr std::string_view kTagSeparator = " ";

Json Text(std::string_view bytes) {
  if (simdjson::validate_utf8(bytes.data(), bytes.size())) return std::string(bytes);
  return Json{
      {"bytes", Base64(bytes)}
  };
}

Json MemberList(MemberNames member) {
  Json names = Json::array();
  for (const std::string& name : member) names.push_back(Text(name));
  return names;
}

Json PackageObject(const PackageIdentity& package) {
  Json object{
      {        "type", std::string(TypeName(package.type))},
      {        "name",                        package.name},
      {     "version",                     package.version},
      {"architecture",                package.architecture}
  };
  if (!package.epoch.empty()) object["epoch"] = package.epoch;
  object["purl"] = PackagePurl(package);
  return object;
}

// The digest of the layer a line lies in, when the image's bookkeeping gives it.
std::string_view LayerDigest(const LinePlace& place) {
  const auto& digests = place.image->layer_digests;
  if (place.layer < 0 || static_cast<std::size_t>(place.layer) >= digests.size()) return {};
  return digests[place.layer];
}

Json ImageObject(const LinePlace& place) {
  const ImageIdentity& image = *place.image;
  Json object{
      {"digest", image.digest}
  };
  if (!image.manifest.empty()) object["manifest"] = image.manifest;
  object["tags"] = image.tags;
  if (!image.architecture.empty()) object["architecture"] = image.architecture;
  if (!image.os.empty()) object["os"] = image.os;
  if (place.layer >= 0) {
    Json layer{
        {"index", place.layer}
    };
    if (const std::string_view digest = LayerDigest(place); !digest.empty()) {
      layer["digest"] = std::string(digest);
    }
    if (place.deleted_by >= 0) layer["deleted_by"] = place.deleted_by;
    object["layer"] = std::move(layer);
  }
  if (const std::string purl = ImagePurl(image); !purl.empty()) object["purl"] = purl;
  return object;
}

void AppendName(std::string_view name, std::string& out) {
  for (const char c : name) {
    if (c == '!') out += '!';
    out += c;
  }
}

// The start of every line: where the record or error lies, on which host, and its digests.
void AddPlace(Json& line, const LinePlace& place) {
  line["path"] = Text(place.path);
  if (!place.member.empty()) line["member"] = MemberList(place.member);
  line["host"] = Text(place.host);
  if (place.file_id) {
    line["device"] = place.file_id->device;
    line["inode"] = place.file_id->inode;
  }
  if (const auto sha256 = place.sha256()) line["sha256"] = std::string(*sha256);
  if (place.package != nullptr) line["package"] = PackageObject(*place.package);
  if (place.image != nullptr) line["image"] = ImageObject(place);
  if (place.member.empty() || place.digests.empty()) return;
  const auto known = [](const std::string& digest) {
    return digest.empty() ? Json() : Json(digest);
  };
  line["file_sha256"] = known(place.digests.front());
  Json members = Json::array();
  for (const std::string& digest : place.digests.subspan(1)) members.push_back(known(digest));
  line["member_sha256"] = std::move(members);
}

CsvRow CsvPlace(const LinePlace& place) {
  CsvRow fields;
  fields[0] = place.path;
  fields[1] = JoinNames(place.member);
  fields[2] = place.host;
  fields[3] = place.sha256().value_or("");
  if (place.file_id) {
    fields[kDeviceColumn] = std::to_string(place.file_id->device);
    fields[kDeviceColumn + 1] = std::to_string(place.file_id->inode);
  }
  if (!place.member.empty() && !place.digests.empty()) {
    fields[kFileSha256Column] = place.digests.front();
    fields[kFileSha256Column + 1] = JoinNames(place.digests.subspan(1));
  }
  if (const PackageIdentity* package = place.package) {
    const std::array<std::string, 6> columns = {std::string(TypeName(package->type)),
                                                package->name,
                                                package->version,
                                                package->architecture,
                                                package->epoch,
                                                PackagePurl(*package)};
    std::copy(columns.begin(), columns.end(), fields.begin() + kPackageColumn);
  }
  if (const ImageIdentity* image = place.image) {
    fields[kImageColumn] = image->digest;
    for (const std::string& tag : image->tags) {
      if (&tag != image->tags.data()) fields[kImageColumn + 1] += kTagSeparator;
      fields[kImageColumn + 1] += tag;
    }
    fields[kImageColumn + 2] = ImagePurl(*image);
    fields[kImageColumn + 3] = image->manifest;
    fields[kImageColumn + 4] = image->architecture;
    fields[kImageColumn + 5] = image->os;
    if (place.layer >= 0) fields[kImageColumn + 6] = std::to_string(place.layer);
    fields[kImageColumn + 7] = LayerDigest(place);
    if (place.deleted_by >= 0) fields[kImageColumn + 8] = std::to_string(place.deleted_by);
  }
  return fields;
}

void AppendJson(const Json& object, std::string& out) {
  out += object.dump();
  out += '\n';
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its quotes doubled.
void AppendCsvField(std::string_view field, std::string& out) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendCsvRow(const CsvRow& fields, std::string& out) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    AppendCsvField(fields[i], out);
  }
  out += "\r\n";
}

}  // namespace

std::string CsvHeader() {
  std::string header;
  CsvRow names;
  for (std::size_t i = 0; i < kColumns.size(); ++i) names[i] = kColumns[i];
  AppendCsvRow(names, header);
  return header;
}

void AppendRecordLine(OutputFormat format, const zeblix::Record& r, const LinePlace& place,
                      std::string& out) {
  if (format == OutputFormat::kCycloneDx) return AppendRecordComponent(r, place, out);
  const char* format_name = r.format == zeblix::Format::kV6 ? "V6" : "V5";
  const char* byte_order = r.foreign_byte_order ? "foreign" : "native";
  if (format == OutputFormat::kCsv) {
    CsvRow fields = CsvPlace(place);
    const std::array<std::string, kErrorColumn - kFirstRecordColumn> record = {
        format_name,
        std::to_string(r.offset),
        byte_order,
        r.company,
        r.description,
        r.product_version,
        r.internal_name,
        r.copyright,
        r.product_name,
        r.build_number,
        std::to_string(r.patch_level),
        std::to_string(r.release_mask),
        std::to_string(r.file_os),
        std::to_string(r.file_type),
        zeblix::PatchLevelText(r),
        zeblix::ReleaseText(r),
        zeblix::OsText(r),
        zeblix::FileTypeText(r)};
    std::copy(record.begin(), record.end(), fields.begin() + kFirstRecordColumn);
    fields[kVersionKeyColumn] = VersionKey(r.product_version);
    AppendCsvRow(fields, out);
    return;
  }
  Json line;
  AddPlace(line, place);
  line["format"] = format_name;
  line["offset"] = r.offset;
  line["byte_order"] = byte_order;
  line["company"] = Text(r.company);
  line["description"] = Text(r.description);
  line["product_version"] = Text(r.product_version);
  if (!r.product_version.empty()) line["product_version_key"] = VersionKey(r.product_version);
  line["internal_name"] = Text(r.internal_name);
  line["copyright"] = Text(r.copyright);
  line["product_name"] = Text(r.product_name);
  line["build_number"] = Text(r.build_number);
  line["patch_level"] = r.patch_level;
  line["release_mask"] = r.release_mask;
  line["file_os"] = r.file_os;
  line["file_type"] = r.file_type;
  line["patch_level_text"] = zeblix::PatchLevelText(r);
  line["release_text"] = zeblix::ReleaseText(r);
  line["os_text"] = zeblix::OsText(r);
  line["file_type_text"] = zeblix::FileTypeText(r);
  AppendJson(line, out);
}

void AppendEmptyLine(OutputFormat format, const LinePlace& place, std::string& out) {
  if (format == OutputFormat::kCycloneDx) return AppendFileComponent(place, out);
  if (format == OutputFormat::kCsv) {
    CsvRow fields = CsvPlace(place);
    fields[kRecordsColumn] = "0";
    AppendCsvRow(fields, out);
    return;
  }
  Json line;
  AddPlace(line, place);
  line["records"] = 0;
  AppendJson(line, out);
}

void AppendErrorLine(OutputFormat format, const LinePlace& place, int error,
                     std::string_view message, std::string& out) {
  const std::string text =
      message.empty() ? std::generic_category().message(error) : std::string(message);
  if (format == OutputFormat::kCsv) {
    CsvRow fields = CsvPlace(place);
    fields[kErrorColumn] = text;
    fields[kErrorColumn + 1] = std::to_string(error);
    AppendCsvRow(fields, out);
    return;
  }
  Json line;
  AddPlace(line, place);
  line["error"] = Text(text);
  line["errno"] = error;
  AppendJson(line, out);
}

void AppendErrorMessage(const LinePlace& place, int error, std::string_view message,
                        std::string& out) {
  const std::string text =
      message.empty() ? std::generic_category().message(error) : std::string(message);
  out += "zeblix-inventory: ";
  out += TerminalText(Location(place.path, place.member));
  out += ": ";
  out += TerminalText(text);
  out += '\n';
}

std::string JoinNames(MemberNames names) {
  std::string joined;
  for (const std::string& name : names) {
    if (&name != names.data()) joined += kMemberSeparator;
    AppendName(name, joined);
  }
  return joined;
}

std::string Location(std::string_view path, MemberNames member) {
  std::string location;
  AppendName(path, location);
  for (const std::string& name : member) {
    location += kMemberSeparator;
    AppendName(name, location);
  }
  return location;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (left > 1) group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (left > 2) group |= static_cast<std::uint8_t>(bytes[i + 2]);
    text += kDigits[(group >> 18) & 63];
    text += kDigits[(group >> 12) & 63];
    text += left > 1 ? kDigits[(group >> 6) & 63] : '=';
    text += left > 2 ? kDigits[group & 63] : '=';
  }
  return text;
}
