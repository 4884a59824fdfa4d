// libarchive, loaded when first needed.
#include <archive.h>
#include <archive_entry.h>

#include "loader/lazy_library.h"

// clang-format off
#define ZEBLIX_LIBARCHIVE(X) \
  X(__LA_MODE_T, archive_entry_filetype, (struct archive_entry* p0), (p0)) \
  X(const char*, archive_entry_hardlink, (struct archive_entry* p0), (p0)) \
  X(int, archive_entry_is_encrypted, (struct archive_entry* p0), (p0)) \
  X(const char*, archive_entry_pathname, (struct archive_entry* p0), (p0)) \
  X(const char*, archive_entry_pathname_utf8, (struct archive_entry* p0), (p0)) \
  X(la_int64_t, archive_entry_size, (struct archive_entry* p0), (p0)) \
  X(int, archive_entry_size_is_set, (struct archive_entry* p0), (p0)) \
  X(const char*, archive_entry_symlink, (struct archive_entry* p0), (p0)) \
  X(int, archive_errno, (struct archive* p0), (p0)) \
  X(const char*, archive_error_string, (struct archive* p0), (p0)) \
  X(int, archive_filter_count, (struct archive* p0), (p0)) \
  X(int, archive_filter_code, (struct archive* p0, int p1), (p0, p1)) \
  X(int, archive_format, (struct archive* p0), (p0)) \
  X(const char*, archive_format_name, (struct archive* p0), (p0)) \
  X(int, archive_read_append_filter, (struct archive* p0, int p1), (p0, p1)) \
  X(int, archive_read_data_block, \
    (struct archive* p0, const void** p1, size_t* p2, la_int64_t* p3), (p0, p1, p2, p3)) \
  X(int, archive_read_free, (struct archive* p0), (p0)) \
  X(struct archive*, archive_read_new, (void), ()) \
  X(int, archive_read_next_header, (struct archive* p0, struct archive_entry** p1), (p0, p1)) \
  X(int, archive_read_open1, (struct archive* p0), (p0)) \
  X(int, archive_read_open_memory, (struct archive* p0, const void* p1, size_t p2), (p0, p1, p2)) \
  X(int, archive_read_set_callback_data, (struct archive* p0, void* p1), (p0, p1)) \
  X(int, archive_read_set_read_callback, (struct archive* p0, archive_read_callback* p1), (p0, p1)) \
  X(int, archive_read_set_seek_callback, (struct archive* p0, archive_seek_callback* p1), (p0, p1)) \
  X(int, archive_read_set_skip_callback, (struct archive* p0, archive_skip_callback* p1), (p0, p1)) \
  X(int, archive_read_support_filter_bzip2, (struct archive* p0), (p0)) \
  X(int, archive_read_support_filter_compress, (struct archive* p0), (p0)) \
  X(int, archive_read_support_filter_gzip, (struct archive* p0), (p0)) \
  X(int, archive_read_support_filter_lz4, (struct archive* p0), (p0)) \
  X(int, archive_read_support_filter_lzip, (struct archive* p0), (p0)) \
  X(int, archive_read_support_filter_lzma, (struct archive* p0), (p0)) \
  X(int, archive_read_support_filter_rpm, (struct archive* p0), (p0)) \
  X(int, archive_read_support_filter_uu, (struct archive* p0), (p0)) \
  X(int, archive_read_support_filter_xz, (struct archive* p0), (p0)) \
  X(int, archive_read_support_filter_zstd, (struct archive* p0), (p0)) \
  X(int, archive_read_support_format_7zip, (struct archive* p0), (p0)) \
  X(int, archive_read_support_format_ar, (struct archive* p0), (p0)) \
  X(int, archive_read_support_format_cpio, (struct archive* p0), (p0)) \
  X(int, archive_read_support_format_empty, (struct archive* p0), (p0)) \
  X(int, archive_read_support_format_iso9660, (struct archive* p0), (p0)) \
  X(int, archive_read_support_format_raw, (struct archive* p0), (p0)) \
  X(int, archive_read_support_format_tar, (struct archive* p0), (p0)) \
  X(int, archive_read_support_format_zip, (struct archive* p0), (p0)) \
  X(int, archive_version_number, (void), ())
// clang-format on

namespace {

// What a function gives when libarchive cannot be loaded: no reader is made, and nothing else
// is called.
template <typename Result>
Result Unloaded() {
  return static_cast<Result>(0);
}

}  // namespace

ZEBLIX_LAZY_LIBRARY("libarchive.so.13", ZEBLIX_LIBARCHIVE)
