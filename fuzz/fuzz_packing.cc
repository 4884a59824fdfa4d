// Fuzz entry: nothing is lost by packing. The input is a few files (split at "\n--\n") and a choice
// of archive format and compression; libarchive's own writer packs the files, and the lines found
// in each member of the packed bytes must be those found in the same file on its own, each file
// read as a member of a plain tar so that both sides stream it alike.
#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_scan.h"
#include "fuzz/fuzz_setup.h"
#include "zeblix/scan.h"

namespace {

using Lines = std::map<MemberPath, std::vector<std::string>>;

constexpr std::array kFormats = {ARCHIVE_FORMAT_TAR_USTAR,  ARCHIVE_FORMAT_TAR_PAX_RESTRICTED,
                                 ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FORMAT_CPIO_SVR4_NOCRC,
                                 ARCHIVE_FORMAT_CPIO_POSIX, ARCHIVE_FORMAT_ZIP,
                                 ARCHIVE_FORMAT_7ZIP,       ARCHIVE_FORMAT_AR_GNU,
                                 ARCHIVE_FORMAT_ISO9660};
constexpr std::array kFilters = {ARCHIVE_FILTER_NONE, ARCHIVE_FILTER_GZIP,     ARCHIVE_FILTER_BZIP2,
                                 ARCHIVE_FILTER_XZ,   ARCHIVE_FILTER_LZMA,     ARCHIVE_FILTER_ZSTD,
                                 ARCHIVE_FILTER_LZ4,  ARCHIVE_FILTER_COMPRESS, ARCHIVE_FILTER_LZIP};

// The files packed in `format` with `filter`, or empty when the writer will not have them.
std::string Pack(const std::vector<std::string_view>& files, int format, int filter) {
  struct archive* writer = archive_write_new();
  std::size_t room = std::size_t{1} << 20;
  for (const std::string_view file : files) room += 2 * file.size();
  std::string packed(room, '\0');
  std::size_t used = 0;
  bool written =
      archive_write_set_format(writer, format) == ARCHIVE_OK &&
      archive_write_add_filter(writer, filter) == ARCHIVE_OK &&
      archive_write_open_memory(writer, packed.data(), packed.size(), &used) == ARCHIVE_OK;
  for (std::size_t i = 0; written && i < files.size(); ++i) {
    struct archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, ("f" + std::to_string(i)).c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(files[i].size()));
    written = archive_write_header(writer, entry) == ARCHIVE_OK &&
              (files[i].empty() || archive_write_data(writer, files[i].data(), files[i].size()) ==
                                       static_cast<la_ssize_t>(files[i].size()));
    archive_entry_free(entry);
  }
  written = archive_write_close(writer) == ARCHIVE_OK && written;
  archive_write_free(writer);
  packed.resize(written ? used : 0);
  return packed;
}

// Every line of the packed bytes, by member path, each as its record's fields or its kind.
Lines LinesOf(const std::string& packed) {
  Lines lines;
  const int fd = MemoryFile(reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size());
  ArchiveLimits limits;
  limits.depth = 4;
  limits.max_memory = std::uint64_t{64} << 20;
  limits.own_process = false;  // found here, where the fuzzer sees it
  limits.max_bytes = std::uint64_t{64} << 20;
  limits.max_ratio = 0;  // the two sides read different numbers of bytes from the disk
  const ArchiveEvents events{
      [&](const MemberPath& member, const Digests&, const zeblix::Record& record) {
        lines[member].push_back(std::to_string(record.offset) + record.company +
                                record.product_name + record.product_version);
      },
      [&](const MemberPath& member, int, const std::string&) { lines[member].push_back("error"); },
      [&](const MemberPath& member, const Digests&) { lines[member].push_back("scanned"); },
      nullptr, nullptr, nullptr};
  ScanPacked(fd, "packed", limits, events);
  close(fd);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int format = kFormats[data[0] % kFormats.size()];
  const int filter = kFilters[data[1] % kFilters.size()];
  std::vector<std::string_view> files;
  std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  constexpr std::string_view kSeparator = "\n--\n";
  for (std::size_t cut; files.size() < 8 && (cut = rest.find(kSeparator)) != rest.npos;) {
    files.push_back(rest.substr(0, cut));
    rest.remove_prefix(cut + kSeparator.size());
  }
  files.push_back(rest);

  const std::string packed = Pack(files, format, filter);
  if (packed.empty()) return 0;
  Lines expected;
  for (std::size_t i = 0; i < files.size(); ++i) {
    for (auto& [member, lines] : LinesOf(Pack({files[i]}, ARCHIVE_FORMAT_TAR_USTAR, 0))) {
      MemberPath renamed = member;
      if (!renamed.empty()) renamed[0] = "f" + std::to_string(i);
      expected[renamed] = lines;
    }
  }
  if (LinesOf(packed) != expected) __builtin_trap();
  return 0;
}
