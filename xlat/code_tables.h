// The vocabulary of the report: file types and operating systems, indexed by their codes, from the
// one list of codes and words (zeblix/version_codes.h). Row 0 of each table is the text used for a
// code the table does not know.
#pragma once

#include <array>
#include <cstdint>

#include "zeblix/version_codes.h"

struct CodeText {
  std::uint16_t code;
  const char* text;
};

#define ZEBLIX_UNKNOWN_FILE_TYPE "Unknown file type (%d)"
#define ZEBLIX_UNKNOWN_OS "Unknown operating system (%d)"

#define ZEBLIX_CODE_ROW(code, name, text) {code, text},
#define ZEBLIX_COUNT_ROW(code, name, text) +1

inline constexpr std::array<CodeText, 1 ZEBLIX_FILE_TYPE_LIST(ZEBLIX_COUNT_ROW)> FileTypes = {{
    {0, ZEBLIX_UNKNOWN_FILE_TYPE},
    ZEBLIX_FILE_TYPE_LIST(ZEBLIX_CODE_ROW)
}};

inline constexpr std::array<CodeText, 1 ZEBLIX_OS_LIST(ZEBLIX_COUNT_ROW)> OSTypes = {{
    {0, ZEBLIX_UNKNOWN_OS},
    ZEBLIX_OS_LIST(ZEBLIX_CODE_ROW)
}};

// Each table is indexed by the code itself.
template <std::size_t N>
constexpr bool RowsAreIndexedByCode(const std::array<CodeText, N>& table) {
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i].code != i) return false;
  }
  return true;
}
static_assert(RowsAreIndexedByCode(FileTypes));
static_assert(RowsAreIndexedByCode(OSTypes));
