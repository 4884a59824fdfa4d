#include "report/load_print_version_info.h"

#include "log/svr_log.h"

std::int16_t LoadPrintVersionInfo(const char* path) {
  (void)path;
  svr_log(0x402, "LoadPrintVersionInfo()", "{\n");
  svr_log(0x402, "LoadPrintVersionInfo()", "returning %d\n", 0);
  svr_log(0x402, "LoadPrintVersionInfo()", "}\n");
  return 0;
}
