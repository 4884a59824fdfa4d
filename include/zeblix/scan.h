// Reading the version records of product files from a program.
//
//   #include <zeblix/scan.h>
//
//   std::error_code error = zeblix::ScanFile("/opt/acme/bin/widget", [](const zeblix::Record& r) {
//     std::printf("%s %s (%s)\n", r.product_name.c_str(), r.product_version.c_str(),
//                 zeblix::OsText(r).c_str());
//   });
//   if (error) std::fprintf(stderr, "widget: %s\n", error.message().c_str());
//
// A file yields exactly the records that the zeblix utility reports for it, in the same order:
// every valid new-format block, or, in a file without one, the first old-format record. Scans
// share nothing, so any number may run at once, on any threads. Nothing is thrown for a file that
// cannot be read; the error comes back as a value.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "zeblix/zeblix.h"

namespace zeblix {

// The two formats: a new-format block found by its eyecatcher, or an old 392-byte record.
enum class Format { kV6 = 6, kV5 = 5 };

// One version record as its writer meant it.
struct Record {
  Format format = Format::kV6;
  std::int64_t offset = 0;          // the record's first byte: its eyecatcher's, or its magic's
  bool foreign_byte_order = false;  // written on a machine of the other byte order
  // Text fields: the bytes the report shows, cut at a dollar sign and at NUL, without any
  // character-set conversion (they need not be UTF-8).
  std::string company;
  std::string description;
  std::string product_version;
  std::string internal_name;
  std::string copyright;
  std::string product_name;
  std::string build_number;  // empty in an old record, which has none
  // Numbers, already in this machine's byte order.
  std::int16_t patch_level = 0;
  std::uint16_t release_mask = 0;
  std::uint16_t file_os = 0;
  std::uint16_t file_type = 0;

  bool operator==(const Record&) const = default;
};

// The words the report prints for the numbers: "not set" or the level; the release bits' texts;
// the operating system's and the file type's names, or "Unknown ... (code)".
ZEBLIX_API std::string PatchLevelText(const Record& record);
ZEBLIX_API std::string ReleaseText(const Record& record);
ZEBLIX_API std::string OsText(const Record& record);
ZEBLIX_API std::string FileTypeText(const Record& record);

// What a callback may tell the scan after a record.
enum class Control { kContinue, kStop };

// A callable taking `const Record&` that returns nothing, or a Control.
template <typename F>
concept RecordHandler = std::invocable<F&, const Record&> &&
    (std::is_void_v<std::invoke_result_t<F&, const Record&>> ||
     std::same_as<std::invoke_result_t<F&, const Record&>, Control>);

// Receives each record in file order. A handler that returns Control::kStop ends the scan early;
// one that returns nothing lets it go on.
class Callback {
 public:
  template <RecordHandler F>
  Callback(F&& on_record)  // lambdas convert implicitly
      : call_([f = std::forward<F>(on_record)](const Record& record) mutable {
          if constexpr (std::is_void_v<std::invoke_result_t<F&, const Record&>>) {
            f(record);
            return Control::kContinue;
          } else {
            return f(record);
          }
        }) {}

  Control operator()(const Record& record) const { return call_(record); }

 private:
  std::function<Control(const Record&)> call_;
};

// Scans the file at `path` (a pipe or device is read to its end). Returns no error when the whole
// file was read, or when the callback stopped the scan; otherwise the errno of what failed
// (std::generic_category): the open, a read, or ENOMEM. Records found before a failed read have
// been handed over.
ZEBLIX_API std::error_code ScanFile(std::string_view path, const Callback& on_record);

// Scans an open descriptor from where it stands to its end; offsets count from there. The
// descriptor stays open. Errors as for ScanFile, but for the open; EBADF for a negative one.
ZEBLIX_API std::error_code ScanDescriptor(int fd, const Callback& on_record);

// Hands over the next bytes of a stream: fills the start of `room` and returns how many bytes
// it placed, 0 at the end of the stream, or a negative errno when reading failed. It may hand
// over any number of bytes at a time, one included.
using Reader = std::function<std::ptrdiff_t(std::span<std::uint8_t> room)>;

// Scans the bytes `read` hands over (from a decompressor, a socket, an archive member), each
// once, in constant memory; offsets count from the first. The records are those ScanBytes gives
// for the same bytes, whatever the sizes of the pieces. Returns no error at the end of the stream
// or when the callback stopped the scan; the reader's errno when it failed (records before the
// failure have been handed over); ENOMEM; or EINVAL for an empty reader.
ZEBLIX_API std::error_code ScanStream(Reader read, const Callback& on_record);

// Scans bytes in memory as the contents of a file; offsets count from bytes[0]. Fails only with
// ENOMEM.
ZEBLIX_API std::error_code ScanBytes(std::span<const std::uint8_t> bytes,
                                     const Callback& on_record);

}  // namespace zeblix
