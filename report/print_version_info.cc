// Text fields are shown up to their first NUL byte and never past their width, so an old-format
// field that fills its width shows just that field, and nothing beyond the record is read.
#include "report/print_version_info.h"

#include <cstdio>
#include <cstring>

#include "log/svr_log.h"
#include "scan/version_info.h"
#include "xlat/translators.h"
#include "zeblix/byte_order.h"

namespace {

constexpr std::uint32_t kTrace = 0x402;
constexpr std::size_t kWidestTextField = VersionInfo_V6::CopyRight.width;

// Where the report's fields lie in a record of one format.
struct ReportFields {
  zeblix::FieldSlot company, description, product_version, internal_name, copyright, product_name,
      patch_level, release_mask, file_os, file_type;
  const zeblix::FieldSlot* build_number;  // the old format has none
};

constexpr zeblix::FieldSlot kV6BuildNumber = VersionInfo_V6::BuildNumber;

constexpr ReportFields kV6Fields{VersionInfo_V6::Company,
                                 VersionInfo_V6::Description,
                                 VersionInfo_V6::ProductVersion,
                                 VersionInfo_V6::InternalName,
                                 VersionInfo_V6::CopyRight,
                                 VersionInfo_V6::ProductName,
                                 VersionInfo_V6::PatchLevel,
                                 VersionInfo_V6::ReleaseMask,
                                 VersionInfo_V6::FileOS,
                                 VersionInfo_V6::FileType,
                                 &kV6BuildNumber};

constexpr ReportFields kV5Fields{VersionInfo_V5::Company,
                                 VersionInfo_V5::Description,
                                 VersionInfo_V5::ProductVersion,
                                 VersionInfo_V5::InternalName,
                                 VersionInfo_V5::CopyRight,
                                 VersionInfo_V5::ProductName,
                                 VersionInfo_V5::PatchLevel,
                                 VersionInfo_V5::ReleaseMask,
                                 VersionInfo_V5::FileOS,
                                 VersionInfo_V5::FileType,
                                 nullptr};

// A text field as a terminated string, cut at its first NUL or its width.
class FieldText {
 public:
  FieldText(const std::uint8_t* record, zeblix::FieldSlot slot) {
    const char* start = reinterpret_cast<const char*>(record + slot.offset);
    const std::size_t length = strnlen(start, slot.width);
    std::memcpy(text_, start, length);
    text_[length] = '\0';
  }
  const char* c_str() const { return text_; }

 private:
  char text_[kWidestTextField + 1];
};

std::uint16_t Number(const std::uint8_t* record, zeblix::FieldSlot slot) {
  return zeblix::LoadNative<std::uint16_t>(record + slot.offset);
}

// The translators are called just before the line that shows their text, so their traces come
// in report order.
void PrintReport(const char* name, const char* path, const std::uint8_t* record,
                 const ReportFields& fields) {
  svr_log(kTrace, name, "{\n");
  std::printf("\nQuorvantis Version Information for %s\n", path);
  std::printf("    Company            - %s\n", FieldText(record, fields.company).c_str());
  std::printf("    Description        - %s\n", FieldText(record, fields.description).c_str());
  std::printf("    Product Version    - %s\n", FieldText(record, fields.product_version).c_str());
  std::printf("    Internal Name      - %s\n", FieldText(record, fields.internal_name).c_str());
  std::printf("    Copyright          - %s\n", FieldText(record, fields.copyright).c_str());
  std::printf("    Product Name       - %s\n", FieldText(record, fields.product_name).c_str());
  std::printf("    Patch Level        - %s\n",
              XlatPatchLevel(static_cast<std::int16_t>(Number(record, fields.patch_level))));
  if (fields.build_number != nullptr) {
    std::printf("    Build Number       - %s\n", FieldText(record, *fields.build_number).c_str());
  }
  std::printf("    Release            - %s\n", XlatRelease(Number(record, fields.release_mask)));
  std::printf("    File OS            - %s\n", XlatOS(Number(record, fields.file_os)));
  std::printf("    File Type          - %s\n", XlatFileType(Number(record, fields.file_type)));
  svr_log(kTrace, name, "returning void\n");
  svr_log(kTrace, name, "}\n");
}

}  // namespace

void PrintVersionInfo_V6(const char* path, const std::uint8_t* record) {
  PrintReport("PrintVersionInfo_V6()", path, record, kV6Fields);
}

void PrintVersionInfo_V5(const char* path, const std::uint8_t* record) {
  PrintReport("PrintVersionInfo_V5()", path, record, kV5Fields);
}
