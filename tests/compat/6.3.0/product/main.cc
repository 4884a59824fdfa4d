// A product that carries its version block: `zeblix widget` reports it.
#include <zeblix/version_block.h>

#include <cstdio>

[[gnu::used]] extern const zeblix::VersionBlock kWidgetVersion = zeblix::MakeVersionBlock({
    .company = "Acme",
    .description = "Acme Widget",
    .product_version = "1.2.3",
    .internal_name = "WIDGET",
    .copyright = "Copyright (C) 2026 Acme. All rights reserved.",
    .product_name = "widget",
    .build_number = "77",
    .patch_level = 2,
    .release_mask = zeblix::kReleaseBeta | zeblix::kReleaseRelease,
    .file_os = zeblix::OperatingSystem::kLinuxX86_64Bit,
    .file_type = zeblix::FileType::kExecutable,
});

int main() {
  std::puts("widget 1.2.3");
  return 0;
}
