// The dollar-sign cut applied to the text fields of an accepted record.
#include "scan/record_formats.h"

#include <cstring>

namespace {

// The magic as the code holds it, scrambled; the empty assembler statement keeps the compiler
// from folding it back into the magic's own bytes.
constexpr std::uint32_t kScramble = 0x5A5A5A5A;
constexpr std::uint32_t kScrambledMagic = 0xDD11AACC ^ kScramble;

}  // namespace

std::uint32_t VersionInfo_V5::Magic() {
  std::uint32_t scrambled = kScrambledMagic;
  asm("" : "+r"(scrambled));
  return scrambled ^ kScramble;
}

void Zap(std::uint8_t* field, std::size_t width, const Trace& trace) {
  constexpr std::uint32_t kZapTrace = 0x1002;
  trace(kZapTrace, "Zap()", "{\n");
  if (void* dollar = std::memchr(field, '$', width); dollar != nullptr) {
    *static_cast<std::uint8_t*>(dollar) = 0;
  }
  trace(kZapTrace, "Zap()", "returning void\n");
  trace(kZapTrace, "Zap()", "}\n");
}

void ZapTextFields(std::uint8_t* record, const ZappedFields& fields, const Trace& trace) {
  for (const zeblix::FieldSlot slot : fields) Zap(record + slot.offset, slot.width, trace);
}
