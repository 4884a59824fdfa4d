// The dollar-sign cut applied to the text fields of an accepted record.
#include "scan/version_info.h"

#include <cstring>

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
