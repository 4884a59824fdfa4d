// Text fields are shown up to their first NUL byte and never past their width, so an old-format
// field that fills its width shows just that field, and nothing beyond the record is read.
#include "report/print_version_info.h"

#include <cstdio>
#include <string_view>

#include "log/svr_log.h"
#include "scan/version_info.h"
#include "xlat/translators.h"

namespace {

constexpr std::uint32_t kTrace = 0x402;
constexpr std::size_t kWidestTextField = VersionInfo_V6::CopyRight.width;

// A text field as a terminated string, cut at its first NUL or its width.
class TerminatedText {
 public:
  TerminatedText(const std::uint8_t* record, zeblix::FieldSlot slot) {
    const std::string_view text = FieldText(record, slot);
    text.copy(text_, text.size());
    text_[text.size()] = '\0';
  }
  const char* c_str() const { return text_; }

 private:
  char text_[kWidestTextField + 1];
};

// The translators are called just before the line that shows their text, so their traces come
// in report order.
void PrintReport(const char* name, const char* path, const std::uint8_t* record,
                 const RecordFields& fields) {
  svr_log(kTrace, name, "{\n");
  std::printf("\nQuorvantis Version Information for %s\n", path);
  std::printf("    Company            - %s\n", TerminatedText(record, fields.company).c_str());
  std::printf("    Description        - %s\n", TerminatedText(record, fields.description).c_str());
  std::printf("    Product Version    - %s\n",
              TerminatedText(record, fields.product_version).c_str());
  std::printf("    Internal Name      - %s\n",
              TerminatedText(record, fields.internal_name).c_str());
  std::printf("    Copyright          - %s\n", TerminatedText(record, fields.copyright).c_str());
  std::printf("    Product Name       - %s\n", TerminatedText(record, fields.product_name).c_str());
  std::printf("    Patch Level        - %s\n",
              XlatPatchLevel(static_cast<std::int16_t>(FieldNumber(record, fields.patch_level))));
  if (fields.build_number != nullptr) {
    std::printf("    Build Number       - %s\n",
                TerminatedText(record, *fields.build_number).c_str());
  }
  std::printf("    Release            - %s\n",
              XlatRelease(FieldNumber(record, fields.release_mask)));
  std::printf("    File OS            - %s\n", XlatOS(FieldNumber(record, fields.file_os)));
  std::printf("    File Type          - %s\n", XlatFileType(FieldNumber(record, fields.file_type)));
  svr_log(kTrace, name, "returning void\n");
  svr_log(kTrace, name, "}\n");
}

}  // namespace

void PrintVersionInfo_V6(const char* path, const std::uint8_t* record) {
  PrintReport("PrintVersionInfo_V6()", path, record, kRecordFieldsV6);
}

void PrintVersionInfo_V5(const char* path, const std::uint8_t* record) {
  PrintReport("PrintVersionInfo_V5()", path, record, kRecordFieldsV5);
}
