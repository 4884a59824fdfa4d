// The four translators: each swaps a foreign value, then writes its text into a buffer of its own.
#include "xlat/translators.h"

#include <cstdint>

#include "log/svr_log.h"
#include "scan/version_info.h"
#include "xlat/code_text.h"
#include "zeblix/byte_order.h"

namespace {

constexpr std::uint32_t kTrace = 0x402;

// The value as the record's writer meant it.
std::uint16_t InWritersOrder(std::uint16_t value, const char* name, const char* swap_line) {
  if (SavedVersionID != kForeignByteOrder) return value;
  svr_log(kTrace, name, "%s", swap_line);
  return SWAP2(value);
}

const char* ReturnText(const char* name, const char* text) {
  svr_log(kTrace, name, "returning \"%s\"\n", text);
  svr_log(kTrace, name, "}\n");
  return text;
}

}  // namespace

std::uint16_t SWAP2(std::uint16_t value) {
  return zeblix::ByteSwap(value);
}

const char* XlatPatchLevel(std::int16_t value) {
  constexpr const char* kName = "XlatPatchLevel()";
  static CodeTextBuffer szTemp;
  svr_log(kTrace, kName, "{\n");
  const auto level = static_cast<std::int16_t>(
      InWritersOrder(static_cast<std::uint16_t>(value), kName, "Swap PatchLevel\n"));
  WritePatchLevelText(level, szTemp);
  return ReturnText(kName, szTemp);
}

const char* XlatFileType(std::uint16_t value) {
  constexpr const char* kName = "XlatFileType()";
  static CodeTextBuffer szTemp;
  svr_log(kTrace, kName, "{\n");
  WriteFileTypeText(InWritersOrder(value, kName, "Swap FileType\n"), szTemp);
  return ReturnText(kName, szTemp);
}

const char* XlatOS(std::uint16_t value) {
  constexpr const char* kName = "XlatOS()";
  static CodeTextBuffer szTemp;
  svr_log(kTrace, kName, "{\n");
  const std::uint16_t code = InWritersOrder(value, kName, "Swap OS\n");
  WriteOsText(code, szTemp);
  if (IsKnownOs(code)) return ReturnText(kName, szTemp);
  // An unknown code has always been traced by the address of its text, not the text.
  svr_log(kTrace, kName, "returning 0x%08X\n",
          static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(szTemp)));
  svr_log(kTrace, kName, "}\n");
  return szTemp;
}

const char* XlatRelease(std::uint16_t value) {
  constexpr const char* kName = "XlatRelease()";
  static ReleaseTextBuffer work;
  svr_log(kTrace, kName, "{\n");
  WriteReleaseText(InWritersOrder(value, kName, "Swap Release mask\n"), work);
  return ReturnText(kName, work);
}
