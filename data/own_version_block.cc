// The utility's own version block. It is initialised data of the image and the only place where
// the whole eyecatcher stands in the built executable.
#include "data/own_version_block.h"

#include "zeblix/zeblix.h"

[[gnu::used]] extern const zeblix::VersionBlock V_ZEBLIX = zeblix::MakeVersionBlock({
    .company = "Quorvantis",
    .description = "Quorvantis Version Utility",
    .product_version = ZEBLIX_VERSION_STRING,
    .internal_name = "ZEBLIX",
    .copyright = "Copyright (C) Quorvantis. All rights reserved.",
    .product_name = "zeblix",
    .build_number = "0",
    .patch_level = 0,
    .release_mask = zeblix::kReleaseRelease,
    .file_os = zeblix::OperatingSystem::kLinuxX86_64Bit,
    .file_type = zeblix::FileType::kExecutable,
});
