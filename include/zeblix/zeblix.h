/* The zeblix scanning library, for C and any language with a foreign-function interface.
 *
 *   #include <zeblix/zeblix.h>
 *
 *   static int print(const struct zeblix_record *r, void *user) {
 *     printf("%s %s (%s)\n", r->product_name, r->product_version, r->os_text);
 *     return 0;  // non-zero stops the scan
 *   }
 *   int error = zeblix_scan_file("/opt/acme/bin/widget", print, NULL);
 *   if (error != 0) fprintf(stderr, "widget: %s\n", strerror(error));
 *
 * A file yields exactly the records that the zeblix utility reports for it, in the same order.
 * Calls share nothing and may run at once on any threads. Link with -lzeblix (pkg-config zeblix).
 */
#ifndef ZEBLIX_ZEBLIX_H
#define ZEBLIX_ZEBLIX_H

#include <stddef.h>
#include <stdint.h>

/* Only what this header declares is exported from the shared library. */
#if defined(__GNUC__)
#define ZEBLIX_API __attribute__((visibility("default")))
#else
#define ZEBLIX_API
#endif

/* The release, written here only: the build reads it from these three lines. */
#define ZEBLIX_VERSION_MAJOR 6
#define ZEBLIX_VERSION_MINOR 3
#define ZEBLIX_VERSION_PATCH 0
#define ZEBLIX_VERSION_NUMBER \
  (ZEBLIX_VERSION_MAJOR * 10000 + ZEBLIX_VERSION_MINOR * 100 + ZEBLIX_VERSION_PATCH)
#define ZEBLIX_STRINGIFY_(x) #x
#define ZEBLIX_STRINGIFY(x) ZEBLIX_STRINGIFY_(x)
/* The three as "MAJOR.MINOR.PATCH". */
#define ZEBLIX_VERSION_STRING                                                \
  ZEBLIX_STRINGIFY(ZEBLIX_VERSION_MAJOR) "." ZEBLIX_STRINGIFY(ZEBLIX_VERSION_MINOR) "." \
      ZEBLIX_STRINGIFY(ZEBLIX_VERSION_PATCH)

#ifdef __cplusplus
extern "C" {
#endif

/* One version record. Every pointer is valid only during the callback that receives it. Text
 * fields are NUL-terminated bytes, cut at a dollar sign, without character-set conversion. */
struct zeblix_record {
  int format;             /* 6: new-format block; 5: old-format record */
  int64_t offset;         /* the record's first byte in the file */
  int foreign_byte_order; /* 1 when written on a machine of the other byte order */
  const char *company;
  const char *description;
  const char *product_version;
  const char *internal_name;
  const char *copyright;
  const char *product_name;
  const char *build_number; /* empty in an old-format record */
  int16_t patch_level;      /* numbers in this machine's byte order */
  uint16_t release_mask;
  uint16_t file_os;
  uint16_t file_type;
  const char *patch_level_text; /* the words the zeblix report prints for the numbers */
  const char *release_text;
  const char *os_text;
  const char *file_type_text;
};

/* Called once per record, in file order; a non-zero return stops the scan. */
typedef int (*zeblix_record_fn)(const struct zeblix_record *record, void *user);

/* Scans the file at path (a pipe or device is read to its end). Returns 0 when the whole file was
 * read or the callback stopped the scan, otherwise the errno of the failure: of the open, of a
 * read, ENOMEM, or EINVAL for a null path or callback. */
ZEBLIX_API int zeblix_scan_file(const char *path, zeblix_record_fn on_record, void *user);

/* Scans the open descriptor fd from where it stands to its end; offsets count from there, and
 * the descriptor stays open. Returns 0, or the errno of a failed read, EBADF for a negative
 * descriptor, or ENOMEM. */
ZEBLIX_API int zeblix_scan_fd(int fd, zeblix_record_fn on_record, void *user);

/* Hands over the next bytes of a stream: places at most size bytes at buffer and returns how
 * many, 0 at the end, or a negative errno when reading failed. Any number at a time will do. */
typedef int64_t (*zeblix_read_fn)(void *source, void *buffer, size_t size);

/* Scans the bytes read(source, ...) hands over, each once, in constant memory; offsets count from
 * the first. The records are those of the same bytes in a file, whatever the sizes of the pieces.
 * Returns 0 at the end of the stream or when the callback stopped the scan, the reader's errno
 * when it failed, ENOMEM, or EINVAL for a null reader or callback. */
ZEBLIX_API int zeblix_scan_read(zeblix_read_fn read, void *source, zeblix_record_fn on_record,
                                void *user);

/* Scans size bytes at data as the contents of a file. Returns 0, ENOMEM, or EINVAL for a null
 * callback or null data with a size. */
ZEBLIX_API int zeblix_scan_bytes(const void *data, size_t size, zeblix_record_fn on_record,
                                 void *user);

/* The library's version, "MAJOR.MINOR.PATCH", which may be newer than the header's. */
ZEBLIX_API const char *zeblix_version(void);

#ifdef __cplusplus
}
#endif

#endif /* ZEBLIX_ZEBLIX_H */
