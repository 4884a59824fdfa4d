#include "emit/record_fields.h"

namespace {

using Value = std::variant<std::string, std::int64_t>;

#define ZEBLIX_WORD_FIELD(field, word, member)                                              \
  {#field, RecordField::Kind::kWord,                                                        \
   [](const zeblix::Record& r) -> Value { return std::string(word(static_cast<int>(r.member))); }},
#define ZEBLIX_NUMBER_FIELD(field)        \
  {#field, RecordField::Kind::kNumber,    \
   [](const zeblix::Record& r) -> Value { return static_cast<std::int64_t>(r.field); }},
#define ZEBLIX_TEXT_FIELD(field) \
  {#field, RecordField::Kind::kText, [](const zeblix::Record& r) -> Value { return r.field; }},
#define ZEBLIX_REPORT_TEXT_FIELD(field, function) \
  {#field, RecordField::Kind::kReportText,        \
   [](const zeblix::Record& r) -> Value { return zeblix::function(r); }},

}  // namespace

const std::array<RecordField, ZEBLIX_RECORD_FIELD_COUNT> kRecordFields = {{ZEBLIX_RECORD_FIELDS(
    ZEBLIX_WORD_FIELD, ZEBLIX_NUMBER_FIELD, ZEBLIX_TEXT_FIELD, ZEBLIX_REPORT_TEXT_FIELD)}};

std::string_view FormatWord(const zeblix::Record& record) {
  return ZEBLIX_FORMAT_WORD(static_cast<int>(record.format));
}

std::string_view ByteOrderWord(const zeblix::Record& record) {
  return ZEBLIX_BYTE_ORDER_WORD(record.foreign_byte_order);
}

#define ZEBLIX_COUNT_FIELD(...) +1
static_assert(0 ZEBLIX_RECORD_FIELDS(ZEBLIX_COUNT_FIELD, ZEBLIX_COUNT_FIELD, ZEBLIX_COUNT_FIELD,
                                     ZEBLIX_COUNT_FIELD) == ZEBLIX_RECORD_FIELD_COUNT,
              "ZEBLIX_RECORD_FIELD_COUNT counts the fields of the list");
