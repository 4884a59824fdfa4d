// The shared scan values and the dollar-sign cut applied to accepted text fields.
#include "scan/version_info.h"

#include <cstring>

#include "log/svr_log.h"

std::int32_t SavedVersionID = 0;
std::int32_t LoopBreak = 0;

void Zap(std::uint8_t* field, std::size_t width) {
  constexpr std::uint32_t kZapTrace = 0x1002;
  svr_log(kZapTrace, "Zap()", "{\n");
  if (void* dollar = std::memchr(field, '$', width); dollar != nullptr) {
    *static_cast<std::uint8_t*>(dollar) = 0;
  }
  svr_log(kZapTrace, "Zap()", "returning void\n");
  svr_log(kZapTrace, "Zap()", "}\n");
}

void ZapTextFields(std::uint8_t* record, const ZappedFields& fields) {
  for (const zeblix::FieldSlot slot : fields) Zap(record + slot.offset, slot.width);
}
