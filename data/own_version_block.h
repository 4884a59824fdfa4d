// The version block zeblix carries about itself, so that `zeblix zeblix` reports the utility.
#pragma once

#include "zeblix/version_block.h"

extern const zeblix::VersionBlock V_ZEBLIX;
