// The forms zeblix-block writes a block in.
#pragma once

#include <string>

#include "block/block_request.h"

// The block as C source for <zeblix/version_block.h>, as GNU assembler, or as raw bytes.
std::string BlockText(const BlockRequest& request);
