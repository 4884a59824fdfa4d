// Fuzz entry: the field parser on any 1244 bytes. Short inputs are padded with zero bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_setup.h"
#include "scan/convert_structure.h"
#include "scan/version_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> buffer(kRecordBufferSize, 0);
  if (size > 0) std::memcpy(buffer.data(), data, size < buffer.size() ? size : buffer.size());
  const std::vector<std::uint8_t> before = buffer;
  if (ConvertStructure(buffer.data(), Trace()) == 0 && buffer != before) __builtin_trap();
  return 0;
}
