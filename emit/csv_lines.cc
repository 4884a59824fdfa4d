// RFC 4180 CSV, one header row, every line with the same columns; every field's bytes as they are.
#include <algorithm>
#include <array>
#include <string>

#include "emit/line_writer.h"
#include "emit/purl.h"
#include "emit/record_fields.h"
#include "text/version_key.h"

namespace {

// The columns, in order: where a line lies, a record's fields, an error, the record count of a
// file without any, the digests of what holds the line's content as stored, the package and the
// image around it; then those added later, at the end, so that readers by position keep working.
constexpr std::array<std::string_view, 45> kColumns = {
    "path", "member", "host", "sha256",
#define ZEBLIX_COLUMN(field, ...) #field,
    ZEBLIX_RECORD_FIELDS(ZEBLIX_COLUMN, ZEBLIX_COLUMN, ZEBLIX_COLUMN, ZEBLIX_COLUMN)
#undef ZEBLIX_COLUMN
    "error", "errno", "records", "file_sha256", "member_sha256", "package_type", "package_name",
    "package_version", "package_architecture", "package_epoch", "package_purl", "image_digest",
    "image_tags", "image_purl", "image_manifest", "image_architecture", "image_os", "image_layer",
    "image_layer_digest", "image_layer_deleted_by", "product_version_key", "device", "inode"};

consteval std::size_t Column(std::string_view name) {
  const auto found = std::find(kColumns.begin(), kColumns.end(), name);
  if (found == kColumns.end()) throw "no such column";
  return static_cast<std::size_t>(found - kColumns.begin());
}

using Row = std::array<std::string, kColumns.size()>;

// Tags are words, so a blank parts them in one field.
constexpr std::string_view kTagSeparator = " ";

void FillPackage(const PackageIdentity& package, Row& row) {
  row[Column("package_type")] = TypeName(package.type);
  row[Column("package_name")] = package.name;
  row[Column("package_version")] = package.version;
  row[Column("package_architecture")] = package.architecture;
  row[Column("package_epoch")] = package.epoch;
  row[Column("package_purl")] = PackagePurl(package);
}

void FillImage(const LinePlace& place, Row& row) {
  const ImageIdentity& image = *place.image;
  row[Column("image_digest")] = image.digest;
  std::string& tags = row[Column("image_tags")];
  for (const std::string& tag : image.tags) {
    if (&tag != image.tags.data()) tags += kTagSeparator;
    tags += tag;
  }
  row[Column("image_purl")] = ImagePurl(image);
  row[Column("image_manifest")] = image.manifest;
  row[Column("image_architecture")] = image.architecture;
  row[Column("image_os")] = image.os;
  if (place.layer >= 0) row[Column("image_layer")] = std::to_string(place.layer);
  row[Column("image_layer_digest")] = place.layer_digest();
  if (place.deleted_by >= 0) row[Column("image_layer_deleted_by")] = std::to_string(place.deleted_by);
}

Row PlaceRow(const LinePlace& place) {
  Row row;
  row[Column("path")] = place.path;
  row[Column("member")] = JoinNames(place.member);
  row[Column("host")] = place.host;
  row[Column("sha256")] = place.sha256().value_or("");
  if (place.file_id) {
    row[Column("device")] = std::to_string(place.file_id->device);
    row[Column("inode")] = std::to_string(place.file_id->inode);
  }
  if (!place.member.empty() && !place.digests.empty()) {
    row[Column("file_sha256")] = place.digests.front();
    row[Column("member_sha256")] = JoinNames(place.digests.subspan(1));
  }
  if (place.package != nullptr) FillPackage(*place.package, row);
  if (place.image != nullptr) FillImage(place, row);
  return row;
}

// A field holding a comma, a quote or a line break is quoted, its quotes doubled.
void AppendField(std::string_view field, std::string& out) {
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

template <typename Fields>
void AppendRow(const Fields& fields, std::string& out) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    AppendField(fields[i], out);
  }
  out += "\r\n";
}

std::string FieldText(const RecordField& field, const zeblix::Record& record) {
  auto value = field.value(record);
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  return std::get<std::string>(std::move(value));
}

// The columns of a record's fields follow "sha256" in the list's order.
constexpr std::size_t kFirstFieldColumn = Column("sha256") + 1;
static_assert(kColumns[kFirstFieldColumn + ZEBLIX_RECORD_FIELD_COUNT] == "error");

class CsvWriter final : public FlatLineWriter {
 public:
  std::string Begin() override {
    std::string header;
    AppendRow(kColumns, header);
    return header;
  }

  void Record(const zeblix::Record& record, const LinePlace& place, ItemLines& out) const override {
    Row row = PlaceRow(place);
    for (std::size_t i = 0; i < kRecordFields.size(); ++i) {
      row[kFirstFieldColumn + i] = FieldText(kRecordFields[i], record);
    }
    row[Column("product_version_key")] = VersionKey(record.product_version);
    AppendRow(row, out.top);
  }

  void Empty(const LinePlace& place, ItemLines& out) const override {
    Row row = PlaceRow(place);
    row[Column("records")] = "0";
    AppendRow(row, out.top);
  }

  void Error(const LinePlace& place, int error, std::string_view message,
             ItemLines& out) const override {
    Row row = PlaceRow(place);
    row[Column("error")] = ErrorText(error, message);
    row[Column("errno")] = std::to_string(error);
    AppendRow(row, out.top);
  }
};

}  // namespace

std::unique_ptr<LineWriter> MakeCsvWriter() {
  return std::make_unique<CsvWriter>();
}
