/* Prints the version records of each file named, in the layout of the zeblix report, with the
 * C interface of libzeblix. */
#include <zeblix/zeblix.h>

#include <stdio.h>
#include <string.h>

static int print(const struct zeblix_record *r, void *user) {
  printf("\nQuorvantis Version Information for %s\n", (const char *)user);
  printf("    Company            - %s\n", r->company);
  printf("    Description        - %s\n", r->description);
  printf("    Product Version    - %s\n", r->product_version);
  printf("    Internal Name      - %s\n", r->internal_name);
  printf("    Copyright          - %s\n", r->copyright);
  printf("    Product Name       - %s\n", r->product_name);
  printf("    Patch Level        - %s\n", r->patch_level_text);
  if (r->format == 6) printf("    Build Number       - %s\n", r->build_number);
  printf("    Release            - %s\n", r->release_text);
  printf("    File OS            - %s\n", r->os_text);
  printf("    File Type          - %s\n", r->file_type_text);
  return 0;
}

int main(int argc, char **argv) {
  int status = 0;
  int i;
  for (i = 1; i < argc; ++i) {
    int error = zeblix_scan_file(argv[i], print, argv[i]);
    if (error != 0) {
      fprintf(stderr, "%s: %s\n", argv[i], strerror(error));
      status = 1;
    }
  }
  return status;
}
