// The utility's scanner, as the report sees it: the two version record formats, the scan statuses
// and the dollar-sign cut (record_formats.h), and the two values the scanner shares with the
// report: the byte order of the record last found and whether a new-format report has been
// printed for the current file.
#pragma once

#include <cstdint>

#include "scan/record_formats.h"

// The utility's process-wide values, defined with its own scanner call (load_version_info.h);
// the engine keeps them per scan instead (ScanContext) and never includes this header.
// SavedVersionID is never reset between files; LoopBreak is 1 once a new-format report was
// printed for the current file, which ends the scan at the end of the file.
extern std::int32_t SavedVersionID;
extern std::int32_t LoopBreak;
