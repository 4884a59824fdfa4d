// A whole zeblix-inventory run: the paths named (and those read from --files-from) walked in
// order, their files scanned on the jobs asked for, the lines written to standard output.
#pragma once

#include <string_view>

#include "inventory/options.h"

// Returns the exit status: 0 when every file was read, 1 when some could not be (or the lines
// could not all be written, or the output could not be made), 2 when the list of --files-from
// cannot be opened.
// `tool_version` is the version a CycloneDX document names the tool by.
int RunInventory(const Options& options, std::string_view tool_version);
