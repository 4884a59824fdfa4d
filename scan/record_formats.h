// The two version record formats as they lie in the record buffer, the scan statuses, and the
// dollar-sign cut of text fields: what every scan works with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "log/trace.h"
#include "zeblix/byte_order.h"
#include "zeblix/version_block.h"

// The record buffer holds one record of either format; it is sized for the larger.
inline constexpr std::size_t kRecordBufferSize = zeblix::kBlockSize;

// New-format record: the parsed block, each field at its full-width block offset with zero bytes
// after it; the eyecatcher and delimiter slots are zero.
struct VersionInfo_V6 {
  static constexpr std::size_t kSize = zeblix::kBlockSize;
  static constexpr zeblix::FieldSlot InternalId = zeblix::kInternalIdSlot;
  static constexpr zeblix::FieldSlot Company = zeblix::kCompanySlot;
  static constexpr zeblix::FieldSlot Description = zeblix::kDescriptionSlot;
  static constexpr zeblix::FieldSlot ProductVersion = zeblix::kProductVersionSlot;
  static constexpr zeblix::FieldSlot InternalName = zeblix::kInternalNameSlot;
  static constexpr zeblix::FieldSlot CopyRight = zeblix::kCopyRightSlot;
  static constexpr zeblix::FieldSlot ProductName = zeblix::kProductNameSlot;
  static constexpr zeblix::FieldSlot BuildNumber = zeblix::kBuildNumberSlot;
  static constexpr zeblix::FieldSlot PatchLevel = zeblix::kPatchLevelSlot;
  static constexpr zeblix::FieldSlot ReleaseMask = zeblix::kReleaseMaskSlot;
  static constexpr zeblix::FieldSlot FileOS = zeblix::kFileOsSlot;
  static constexpr zeblix::FieldSlot FileType = zeblix::kFileTypeSlot;
};

// Old-format record, 392 bytes, the same in the file and in memory. Numbers are in the writer's
// byte order; text fields end at a NUL, a dollar sign or their width.
struct VersionInfo_V5 {
  static constexpr std::size_t kSize = 392;
  static constexpr zeblix::FieldSlot VersionID{0, 4};
  static constexpr zeblix::FieldSlot Company{4, 40};
  static constexpr zeblix::FieldSlot Description{44, 80};
  static constexpr zeblix::FieldSlot ProductVersion{124, 20};
  static constexpr zeblix::FieldSlot InternalName{144, 80};
  static constexpr zeblix::FieldSlot CopyRight{224, 80};
  static constexpr zeblix::FieldSlot ProductName{304, 80};
  static constexpr zeblix::FieldSlot PatchLevel{384, 2};
  static constexpr zeblix::FieldSlot ReleaseMask{386, 2};
  static constexpr zeblix::FieldSlot FileOS{388, 2};
  static constexpr zeblix::FieldSlot FileType{390, 2};
  // The magic, found in either byte order. The engine's code never holds its bytes as they are:
  // an object or library of ours would otherwise read as an old-format record of its own.
  static std::uint32_t Magic();
  static std::uint32_t MagicReversed() { return __builtin_bswap32(Magic()); }
  // A release mask above this, read in this machine's order, marks a foreign record.
  static constexpr std::uint16_t kMaxNativeReleaseMask = 100;
};
static_assert(VersionInfo_V5::FileType.offset + VersionInfo_V5::FileType.width ==
              VersionInfo_V5::kSize);
static_assert(VersionInfo_V5::kSize <= kRecordBufferSize);

// Where the fields a report shows lie in a record of each format.
struct RecordFields {
  zeblix::FieldSlot company, description, product_version, internal_name, copyright, product_name,
      patch_level, release_mask, file_os, file_type;
  const zeblix::FieldSlot* build_number;  // the old format has none
};
inline constexpr RecordFields kRecordFieldsV6{
    VersionInfo_V6::Company,      VersionInfo_V6::Description, VersionInfo_V6::ProductVersion,
    VersionInfo_V6::InternalName, VersionInfo_V6::CopyRight,   VersionInfo_V6::ProductName,
    VersionInfo_V6::PatchLevel,   VersionInfo_V6::ReleaseMask, VersionInfo_V6::FileOS,
    VersionInfo_V6::FileType,     &VersionInfo_V6::BuildNumber};
inline constexpr RecordFields kRecordFieldsV5{VersionInfo_V5::Company,
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

// What one call of the block scanner found.
enum ScanStatus : std::int16_t {
  kScanUnreadable = -1,     // the file cannot be opened, or an old record cannot be read whole
  kScanNothing = 0,         // end of file: no block, no old record
  kScanFoundV6 = 1,         // a new-format record is in the buffer
  kScanFoundV5 = 2,         // an old-format record is in the buffer
  kScanEndAfterReport = 99  // end of file after a new-format report for this file
};

// Byte order of the record last accepted: 0 none yet, then one of these.
inline constexpr std::int32_t kSameByteOrder = 1;
inline constexpr std::int32_t kForeignByteOrder = 2;

// Cuts a text field at its first dollar sign within width bytes, even one after a NUL byte.
void Zap(std::uint8_t* field, std::size_t width, const Trace& trace);

// The six text fields cut at a dollar sign when a record is accepted; BuildNumber is not one.
using ZappedFields = std::array<zeblix::FieldSlot, 6>;
inline constexpr ZappedFields kZappedFieldsV6 = {
    VersionInfo_V6::Company,      VersionInfo_V6::Description, VersionInfo_V6::ProductVersion,
    VersionInfo_V6::InternalName, VersionInfo_V6::CopyRight,   VersionInfo_V6::ProductName};
inline constexpr ZappedFields kZappedFieldsV5 = {
    VersionInfo_V5::Company,      VersionInfo_V5::Description, VersionInfo_V5::ProductVersion,
    VersionInfo_V5::InternalName, VersionInfo_V5::CopyRight,   VersionInfo_V5::ProductName};
void ZapTextFields(std::uint8_t* record, const ZappedFields& fields, const Trace& trace);

// A text field as the report shows it: up to its first NUL byte, and never past its width.
inline std::string_view FieldText(const std::uint8_t* record, zeblix::FieldSlot slot) {
  const char* start = reinterpret_cast<const char*>(record + slot.offset);
  return {start, strnlen(start, slot.width)};
}

// A 16-bit field as stored, in this machine's byte order.
inline std::uint16_t FieldNumber(const std::uint8_t* record, zeblix::FieldSlot slot) {
  return zeblix::LoadNative<std::uint16_t>(record + slot.offset);
}
