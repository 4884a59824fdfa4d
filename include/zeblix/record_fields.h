/* The fields of a version record as every zeblix output names them, in their order: the JSON keys
 * and CSV columns of zeblix-inventory and the fields of Python's zeblix.Record. C89 and C++.
 *
 * ZEBLIX_RECORD_FIELDS(WORD, NUMBER, TEXT, REPORT_TEXT) calls the macro of each field's kind with
 * the field's name:
 *   WORD(name, word, member)      a code as a word: word(member), member an int of
 *                                 struct zeblix_record (and of zeblix::Record, cast to int)
 *   NUMBER(name)                  a number, the member of the same name
 *   TEXT(name)                    the bytes of a text field, the member of the same name
 *   REPORT_TEXT(name, function)   the words zeblix's report prints for a number: the member of
 *                                 the same name in C, zeblix::function(record) in C++
 *
 *   #define NAME(name, ...) #name,
 *   static const char *const names[] = {ZEBLIX_RECORD_FIELDS(NAME, NAME, NAME, NAME)};
 */
#ifndef ZEBLIX_RECORD_FIELDS_H
#define ZEBLIX_RECORD_FIELDS_H

#define ZEBLIX_RECORD_FIELDS(WORD, NUMBER, TEXT, REPORT_TEXT) \
  WORD(format, ZEBLIX_FORMAT_WORD, format)                    \
  NUMBER(offset)                                              \
  WORD(byte_order, ZEBLIX_BYTE_ORDER_WORD, foreign_byte_order) \
  TEXT(company)                                               \
  TEXT(description)                                           \
  TEXT(product_version)                                       \
  TEXT(internal_name)                                         \
  TEXT(copyright)                                             \
  TEXT(product_name)                                          \
  TEXT(build_number)                                          \
  NUMBER(patch_level)                                         \
  NUMBER(release_mask)                                        \
  NUMBER(file_os)                                             \
  NUMBER(file_type)                                           \
  REPORT_TEXT(patch_level_text, PatchLevelText)               \
  REPORT_TEXT(release_text, ReleaseText)                      \
  REPORT_TEXT(os_text, OsText)                                \
  REPORT_TEXT(file_type_text, FileTypeText)

/* How many fields there are. */
#define ZEBLIX_RECORD_FIELD_COUNT 18

/* The words of the two codes: the record's format (6 or 5) and whether it was written on a
 * machine of the other byte order (non-zero) or of this one. */
#define ZEBLIX_FORMAT_WORD(format) ((format) == 5 ? "V5" : "V6")
#define ZEBLIX_BYTE_ORDER_WORD(foreign) ((foreign) ? "foreign" : "native")

#endif /* ZEBLIX_RECORD_FIELDS_H */
