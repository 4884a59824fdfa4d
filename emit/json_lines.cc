// JSON Lines: objects built with nlohmann::ordered_json, so keys keep the order of the schema.
#include <string>

#include "emit/json_text.h"
#include "emit/line_writer.h"
#include "emit/purl.h"
#include "emit/record_fields.h"
#include "text/version_key.h"

namespace {

Json MemberList(MemberNames member) {
  Json names = Json::array();
  for (const std::string& name : member) names.push_back(JsonText(name));
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

Json LayerObject(const LinePlace& place) {
  Json layer{
      {"index", place.layer}
  };
  if (const std::string_view digest = place.layer_digest(); !digest.empty()) {
    layer["digest"] = std::string(digest);
  }
  if (place.deleted_by >= 0) layer["deleted_by"] = place.deleted_by;
  return layer;
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
  if (place.layer >= 0) object["layer"] = LayerObject(place);
  if (const std::string purl = ImagePurl(image); !purl.empty()) object["purl"] = purl;
  return object;
}

// The digests of the file and of each member around the line, as stored; null where one could
// not be made.
void AddHolderDigests(Json& line, const LinePlace& place) {
  if (place.member.empty() || place.digests.empty()) return;
  const auto known = [](const std::string& digest) {
    return digest.empty() ? Json() : Json(digest);
  };
  line["file_sha256"] = known(place.digests.front());
  Json members = Json::array();
  for (const std::string& digest : place.digests.subspan(1)) members.push_back(known(digest));
  line["member_sha256"] = std::move(members);
}

// The start of every line: where the record or error lies, on which host, and its digests.
Json PlaceObject(const LinePlace& place) {
  Json line;
  line["path"] = JsonText(place.path);
  if (!place.member.empty()) line["member"] = MemberList(place.member);
  line["host"] = JsonText(place.host);
  if (place.file_id) {
    line["device"] = place.file_id->device;
    line["inode"] = place.file_id->inode;
  }
  if (const auto sha256 = place.sha256()) line["sha256"] = std::string(*sha256);
  if (place.package != nullptr) line["package"] = PackageObject(*place.package);
  if (place.image != nullptr) line["image"] = ImageObject(place);
  AddHolderDigests(line, place);
  return line;
}

Json FieldJson(const RecordField& field, const zeblix::Record& record) {
  auto value = field.value(record);
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  std::string& text = std::get<std::string>(value);
  return field.kind == RecordField::Kind::kText ? JsonText(text) : Json(std::move(text));
}

void AppendLine(const Json& line, std::string& out) {
  out += Dumped(line);
  out += '\n';
}

class JsonLinesWriter final : public FlatLineWriter {
 public:
  void Record(const zeblix::Record& record, const LinePlace& place, ItemLines& out) const override {
    Json line = PlaceObject(place);
    for (const RecordField& field : kRecordFields) {
      line[std::string(field.name)] = FieldJson(field, record);
      // A version's key follows it, where there is a version.
      if (field.name == "product_version" && !record.product_version.empty()) {
        line["product_version_key"] = VersionKey(record.product_version);
      }
    }
    AppendLine(line, out.top);
  }

  void Empty(const LinePlace& place, ItemLines& out) const override {
    Json line = PlaceObject(place);
    line["records"] = 0;
    AppendLine(line, out.top);
  }

  void Error(const LinePlace& place, int error, std::string_view message,
             ItemLines& out) const override {
    Json line = PlaceObject(place);
    line["error"] = JsonText(ErrorText(error, message));
    line["errno"] = error;
    AppendLine(line, out.top);
  }
};

}  // namespace

std::unique_ptr<LineWriter> MakeJsonLinesWriter() {
  return std::make_unique<JsonLinesWriter>();
}
