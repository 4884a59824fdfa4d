// Field parser for the new-format block. The reader does not trust the full-width offsets: each
// field runs from its start to the next delimiter, and the next field starts one delimiter (39
// characters and a NUL) later. A field may be shorter than its width, never longer.
#include "scan/convert_structure.h"

#include <cstdint>
#include <cstring>

#include "scan/record_formats.h"
#include "zeblix/byte_order.h"

namespace {

constexpr const char* kFindDelimName = "FindDelim()";
constexpr const char* kConvertName = "ConvertStructure()";
constexpr std::uint32_t kFindDelimTrace = 0x40002;
constexpr std::uint32_t kFindDelimFailure = 0x40001;
constexpr std::uint32_t kFindDelimByteTrace = 0x80002;
constexpr std::uint32_t kConvertTrace = 0x1002;

unsigned AddressLow32(const void* position) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(position));
}

unsigned NumberField(const std::uint8_t* record, zeblix::FieldSlot slot) {
  return zeblix::LoadNative<std::uint16_t>(record + slot.offset);
}

const char* TextField(const std::uint8_t* record, zeblix::FieldSlot slot) {
  return reinterpret_cast<const char*>(record + slot.offset);
}

// One trace line per field, each with the text the trace has always shown for it.
void TraceFieldValue(std::size_t index, const std::uint8_t* record, const Trace& trace) {
  using V6 = VersionInfo_V6;
  switch (index) {
    case 0:
      trace(kConvertTrace, kConvertName, "InternalId: 0x%08X\n",
            zeblix::LoadNative<std::uint32_t>(record + V6::InternalId.offset));
      return;
    case 1:
      trace(kConvertTrace, kConvertName, "Company: %s\n", TextField(record, V6::Company));
      return;
    case 2:
      trace(kConvertTrace, kConvertName, "Description: %s\n", TextField(record, V6::Description));
      return;
    case 3:
      trace(kConvertTrace, kConvertName, "ProductVersion: %s\n",
            TextField(record, V6::ProductVersion));
      return;
    case 4:
      trace(kConvertTrace, kConvertName, "InternalName: %s\n", TextField(record, V6::InternalName));
      return;
    case 5:
      trace(kConvertTrace, kConvertName, "CopyRight: %s\n", TextField(record, V6::CopyRight));
      return;
    case 6:
      trace(kConvertTrace, kConvertName, "ProductName: %s\n", TextField(record, V6::ProductName));
      return;
    case 7:
      trace(kConvertTrace, kConvertName, "BuildNumber: %s\n", TextField(record, V6::BuildNumber));
      return;
    case 8:
      trace(kConvertTrace, kConvertName, "PatchLevel: %d (0x%04X)\n",
            NumberField(record, V6::PatchLevel), NumberField(record, V6::PatchLevel));
      return;
    case 9:
      trace(kConvertTrace, kConvertName, "ReleaseMask: %d (0x%04X)\n",
            NumberField(record, V6::ReleaseMask), NumberField(record, V6::ReleaseMask));
      return;
    case 10:
      trace(kConvertTrace, kConvertName, "FileOS: %d (0x%04X)\n", NumberField(record, V6::FileOS),
            NumberField(record, V6::FileOS));
      return;
    default:
      trace(kConvertTrace, kConvertName, "FileType: %d (0x%04X)\n",
            NumberField(record, V6::FileType), NumberField(record, V6::FileType));
      return;
  }
}

}  // namespace

const std::uint8_t* FindDelim(const std::uint8_t* start, const char* delimiter,
                              std::int32_t fieldSize, const Trace& trace) {
  const bool trace_bytes = trace.selects(kFindDelimByteTrace);
  trace(kFindDelimTrace, kFindDelimName, "{\n");
  trace(kFindDelimTrace, kFindDelimName, "Field size: %d\n", fieldSize);
  const auto length = static_cast<std::int32_t>(std::strlen(delimiter));
  const std::int32_t limit = length + fieldSize;
  trace(kFindDelimTrace, kFindDelimName, "Max length to search: %d\n", limit);

  std::int32_t matched = 0;
  std::int32_t scanned = 0;
  for (const std::uint8_t* p = start;; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (trace_bytes && byte != 0)
      trace(kFindDelimByteTrace, kFindDelimName, "Check char: %c\n", byte);
    if (byte == static_cast<unsigned char>(delimiter[matched])) {
      ++matched;
      trace(kFindDelimTrace, kFindDelimName, "Char %c (%X)\n", byte, byte);
    } else {
      if (trace_bytes) trace(kFindDelimByteTrace, kFindDelimName, "Does not match the Delimiter\n");
      matched = (byte == static_cast<unsigned char>(delimiter[0])) ? 1 : 0;
    }
    if (trace_bytes) trace(kFindDelimByteTrace, kFindDelimName, "i: %d\n", matched);
    if (matched == length) {
      const std::uint8_t* found = p - length + 1;
      trace(kFindDelimTrace, kFindDelimName, "We found the Delimiter\n");
      trace(kFindDelimTrace, kFindDelimName, "returning 0x%08X\n", AddressLow32(found));
      trace(kFindDelimTrace, kFindDelimName, "}\n");
      return found;
    }
    ++scanned;
    if (trace_bytes) trace(kFindDelimByteTrace, kFindDelimName, "Var: %d\n", scanned);
    if (scanned >= limit) {
      trace(kFindDelimFailure, kFindDelimName, "Return because of size overflow (%d)\n", scanned);
      trace(kFindDelimTrace, kFindDelimName, "returning %d\n", 0);
      trace(kFindDelimTrace, kFindDelimName, "}\n");
      return nullptr;
    }
  }
}

int ConvertStructure(std::uint8_t* buffer, const Trace& trace) {
  trace(kConvertTrace, kConvertName, "{\n");
  std::uint8_t record[VersionInfo_V6::kSize] = {};
  trace(kConvertTrace, kConvertName, "Version Info structure resetted\n");

  const char* delimiter = zeblix::kDelimiterText.data();
  const std::uint8_t* cursor = buffer + zeblix::kEyeCatchSize;
  for (std::size_t index = 0; index < zeblix::kFieldSlots.size(); ++index) {
    const zeblix::FieldSlot slot = zeblix::kFieldSlots[index];
    const std::uint8_t* end =
        FindDelim(cursor, delimiter, static_cast<std::int32_t>(slot.width), trace);
    if (end == nullptr) {
      trace(kConvertTrace, kConvertName, "returning %d\n", 0);
      trace(kConvertTrace, kConvertName, "}\n");
      return 0;
    }
    const auto length = static_cast<std::size_t>(end - cursor);
    std::memcpy(record + slot.offset, cursor, length);
    if (index == 0) {
      trace(kConvertTrace, kConvertName, "length of first field: %d\n", static_cast<int>(length));
    } else {
      trace(kConvertTrace, kConvertName, "length of field: %d\n", static_cast<int>(length));
    }
    TraceFieldValue(index, record, trace);
    cursor = end + zeblix::kDelimiterSize;
  }

  std::memcpy(buffer, record, sizeof record);
  trace(kConvertTrace, kConvertName, "returning %d\n", 1);
  trace(kConvertTrace, kConvertName, "}\n");
  return 1;
}
