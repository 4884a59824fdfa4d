// Prints the version records of each file named, in the layout of the zeblix report, with the
// C++ interface of libzeblix.
#include <zeblix/scan.h>

#include <cstdio>

namespace {

void Print(const char* path, const zeblix::Record& r) {
  std::printf("\nQuorvantis Version Information for %s\n", path);
  std::printf("    Company            - %s\n", r.company.c_str());
  std::printf("    Description        - %s\n", r.description.c_str());
  std::printf("    Product Version    - %s\n", r.product_version.c_str());
  std::printf("    Internal Name      - %s\n", r.internal_name.c_str());
  std::printf("    Copyright          - %s\n", r.copyright.c_str());
  std::printf("    Product Name       - %s\n", r.product_name.c_str());
  std::printf("    Patch Level        - %s\n", zeblix::PatchLevelText(r).c_str());
  if (r.format == zeblix::Format::kV6) {
    std::printf("    Build Number       - %s\n", r.build_number.c_str());
  }
  std::printf("    Release            - %s\n", zeblix::ReleaseText(r).c_str());
  std::printf("    File OS            - %s\n", zeblix::OsText(r).c_str());
  std::printf("    File Type          - %s\n", zeblix::FileTypeText(r).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const char* path = argv[i];
    const std::error_code error =
        zeblix::ScanFile(path, [path](const zeblix::Record& r) { Print(path, r); });
    if (error) {
      std::fprintf(stderr, "%s: %s\n", path, error.message().c_str());
      status = 1;
    }
  }
  return status;
}
