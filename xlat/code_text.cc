// The report's words for patch levels, release bits, operating systems and file types.
#include "xlat/code_text.h"

#include <cstdio>
#include <cstring>

#include "xlat/code_tables.h"

namespace {

struct ReleaseBit {
  std::uint16_t bit;
  const char* text;
};

#define ZEBLIX_RELEASE_ROW(bit, name, text) {bit, text},
constexpr ReleaseBit kReleaseBits[] = {ZEBLIX_RELEASE_LIST(ZEBLIX_RELEASE_ROW)};

// Copies the table's text for a code it knows (1 and up); false for any other code.
template <std::size_t Rows>
bool CopyKnownText(const std::array<CodeText, Rows>& table, std::uint16_t code,
                   CodeTextBuffer& out) {
  if (code < 1 || code >= Rows) return false;
  std::snprintf(out, sizeof out, "%s", table[code].text);
  return true;
}

}  // namespace

void WritePatchLevelText(std::int16_t level, CodeTextBuffer& out) {
  if (level < 0) {
    std::snprintf(out, sizeof out, "not set");
  } else {
    std::snprintf(out, sizeof out, "%d", level);
  }
}

void WriteFileTypeText(std::uint16_t code, CodeTextBuffer& out) {
  if (!CopyKnownText(FileTypes, code, out)) {
    std::snprintf(out, sizeof out, ZEBLIX_UNKNOWN_FILE_TYPE, code);
  }
}

bool IsKnownOs(std::uint16_t code) {
  return code >= 1 && code < OSTypes.size();
}

void WriteOsText(std::uint16_t code, CodeTextBuffer& out) {
  if (!CopyKnownText(OSTypes, code, out)) {
    std::snprintf(out, sizeof out, ZEBLIX_UNKNOWN_OS, code);
  }
}

void WriteReleaseText(std::uint16_t mask, ReleaseTextBuffer& out) {
  out[0] = '\0';
  for (const ReleaseBit& release : kReleaseBits) {
    if ((mask & release.bit) != 0)
      std::strncat(out, release.text, sizeof out - std::strlen(out) - 1);
  }
}
