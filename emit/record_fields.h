// A record's fields as the lines write them, made from the one list of their names and kinds
// (<zeblix/record_fields.h>): JSON Lines and CSV write every one under its name, CycloneDX the
// words of the codes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "zeblix/record_fields.h"
#include "zeblix/scan.h"

struct RecordField {
  enum class Kind { kWord, kNumber, kText, kReportText };
  std::string_view name;
  Kind kind;
  // The field's value in a record: text (its bytes as they are) or a number.
  std::variant<std::string, std::int64_t> (*value)(const zeblix::Record& record);
};

extern const std::array<RecordField, ZEBLIX_RECORD_FIELD_COUNT> kRecordFields;

// The record's format ("V6" or "V5") and byte order ("native" or "foreign") as words.
std::string_view FormatWord(const zeblix::Record& record);
std::string_view ByteOrderWord(const zeblix::Record& record);
