// The four translators: each swaps a foreign value, then looks it up or spells it out.
#include "xlat/translators.h"

#include <cstdio>
#include <cstring>

#include "log/svr_log.h"
#include "scan/version_info.h"
#include "xlat/code_tables.h"
#include "zeblix/byte_order.h"

namespace {

constexpr std::uint32_t kTrace = 0x402;
// The longest text written into a 50-byte buffer has 32 characters.
constexpr std::size_t kCodeTextSize = 50;
// All seven release texts together have 51 characters.
constexpr std::size_t kReleaseTextSize = 128;

struct ReleaseBit {
  std::uint16_t bit;
  const char* text;
};

// Only the first three texts end with a blank; the others have always run together.
constexpr ReleaseBit kReleaseBits[] = {
    {0x01,            "Debug "},
    {0x02,            "Alpha "},
    {0x04,             "Beta "},
    {0x08,           "Release"},
    {0x10,              "Demo"},
    {0x20, "Customer specific"},
    {0x40,            "Update"},
};

// The value as the record's writer meant it.
std::uint16_t InWritersOrder(std::uint16_t value, const char* name, const char* swap_line) {
  if (SavedVersionID != kForeignByteOrder) return value;
  svr_log(kTrace, name, "%s", swap_line);
  return SWAP2(value);
}

// Copies the table's text for a code it knows (1 and up); false for any other code.
template <std::size_t Size, std::size_t Rows>
bool CopyKnownText(char (&out)[Size], const std::array<CodeText, Rows>& table, std::uint16_t code) {
  if (code < 1 || code >= Rows) return false;
  std::snprintf(out, Size, "%s", table[code].text);
  return true;
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
  static char szTemp[kCodeTextSize];
  svr_log(kTrace, kName, "{\n");
  const auto level = static_cast<std::int16_t>(
      InWritersOrder(static_cast<std::uint16_t>(value), kName, "Swap PatchLevel\n"));
  if (level < 0) {
    std::snprintf(szTemp, sizeof szTemp, "not set");
  } else {
    std::snprintf(szTemp, sizeof szTemp, "%d", level);
  }
  return ReturnText(kName, szTemp);
}

const char* XlatFileType(std::uint16_t value) {
  constexpr const char* kName = "XlatFileType()";
  static char szTemp[kCodeTextSize];
  svr_log(kTrace, kName, "{\n");
  const std::uint16_t code = InWritersOrder(value, kName, "Swap FileType\n");
  if (!CopyKnownText(szTemp, FileTypes, code)) {
    std::snprintf(szTemp, sizeof szTemp, ZEBLIX_UNKNOWN_FILE_TYPE, code);
  }
  return ReturnText(kName, szTemp);
}

const char* XlatOS(std::uint16_t value) {
  constexpr const char* kName = "XlatOS()";
  static char szTemp[kCodeTextSize];
  svr_log(kTrace, kName, "{\n");
  const std::uint16_t code = InWritersOrder(value, kName, "Swap OS\n");
  if (CopyKnownText(szTemp, OSTypes, code)) return ReturnText(kName, szTemp);
  std::snprintf(szTemp, sizeof szTemp, ZEBLIX_UNKNOWN_OS, code);
  // An unknown code has always been traced by the address of its text, not the text.
  svr_log(kTrace, kName, "returning 0x%08X\n",
          static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(szTemp)));
  svr_log(kTrace, kName, "}\n");
  return szTemp;
}

const char* XlatRelease(std::uint16_t value) {
  constexpr const char* kName = "XlatRelease()";
  static char work[kReleaseTextSize];
  svr_log(kTrace, kName, "{\n");
  const std::uint16_t mask = InWritersOrder(value, kName, "Swap Release mask\n");
  work[0] = '\0';
  for (const ReleaseBit& release : kReleaseBits) {
    if ((mask & release.bit) != 0)
      std::strncat(work, release.text, sizeof work - std::strlen(work) - 1);
  }
  return ReturnText(kName, work);
}
