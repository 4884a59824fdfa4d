// JSON objects are built with nlohmann::ordered_json, so keys keep the order of the schema;
// simdjson tells valid UTF-8 from other bytes.
#include "inventory/record_lines.h"

#include <simdjson.h>

#include <array>
#include <nlohmann/json.hpp>
#include <system_error>

namespace {

using Json = nlohmann::ordered_json;

// The columns, in order; a record fills all but the last two, an error only path, member, host and
// those.
constexpr std::array<const char*, 23> kColumns = {"path",
                                                  "member",
                                                  "host",
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
                                                  "errno"};

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

std::string CsvMember(MemberNames member) {
  std::string joined;
  for (const std::string& name : member) {
    if (!joined.empty()) joined += kCsvMemberSeparator;
    joined += name;
  }
  return joined;
}

// The start of every line: where the record or error lies, and on which host.
void AddPlace(Json& line, std::string_view path, MemberNames member, std::string_view host) {
  line["path"] = Text(path);
  if (!member.empty()) line["member"] = MemberList(member);
  line["host"] = Text(host);
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

void AppendCsvRow(const std::array<std::string, kColumns.size()>& fields, std::string& out) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    AppendCsvField(fields[i], out);
  }
  out += "\r\n";
}

}  // namespace

std::string CsvHeader() {
  std::string header;
  std::array<std::string, kColumns.size()> names;
  for (std::size_t i = 0; i < kColumns.size(); ++i) names[i] = kColumns[i];
  AppendCsvRow(names, header);
  return header;
}

void AppendRecordLine(OutputFormat format, const zeblix::Record& r, std::string_view path,
                      MemberNames member, std::string_view host, std::string& out) {
  const char* format_name = r.format == zeblix::Format::kV6 ? "V6" : "V5";
  const char* byte_order = r.foreign_byte_order ? "foreign" : "native";
  if (format == OutputFormat::kCsv) {
    AppendCsvRow({std::string(path),
                  CsvMember(member),
                  std::string(host),
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
                  zeblix::FileTypeText(r),
                  "",
                  ""},
                 out);
    return;
  }
  Json line;
  AddPlace(line, path, member, host);
  line["format"] = format_name;
  line["offset"] = r.offset;
  line["byte_order"] = byte_order;
  line["company"] = Text(r.company);
  line["description"] = Text(r.description);
  line["product_version"] = Text(r.product_version);
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

void AppendErrorLine(OutputFormat format, std::string_view path, MemberNames member,
                     std::string_view host, int error, std::string_view message,
                     std::string& out) {
  const std::string text =
      message.empty() ? std::generic_category().message(error) : std::string(message);
  if (format == OutputFormat::kCsv) {
    std::array<std::string, kColumns.size()> fields;
    fields[0] = path;
    fields[1] = CsvMember(member);
    fields[2] = host;
    fields[kColumns.size() - 2] = text;
    fields[kColumns.size() - 1] = std::to_string(error);
    AppendCsvRow(fields, out);
    return;
  }
  Json line;
  AddPlace(line, path, member, host);
  line["error"] = Text(text);
  line["errno"] = error;
  AppendJson(line, out);
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
