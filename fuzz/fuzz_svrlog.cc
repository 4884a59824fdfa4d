// Fuzz entry: the SVRLOG parse and the trace line on arbitrary text, of any length.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_setup.h"
#include "log/svr_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string value = text.c_str();  // the environment holds text up to the first NUL
  svr_log_init_from(value.c_str());
  const std::uint64_t expected = std::strtoul(value.c_str(), nullptr, 0);
  if (svr_logint != expected || svr_logmode != (expected & 3) ||
      svr_logcomponent != (expected & ~std::uint64_t{3})) {
    __builtin_trap();
  }
  SetTrace(~std::uint64_t{0});
  svr_log(0x402, "Fuzz()", "%s\n", value.c_str());
  svr_log(0x402, value.c_str(), "%d %s%%\n", static_cast<int>(size), value.c_str());
  return 0;
}
