// The C face: each Record is lent to the C callback as a zeblix_record whose pointers stay valid
// for the call. Nothing escapes as an exception; every failure is an errno value.
#include <cerrno>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include "zeblix/scan.h"
#include "zeblix/zeblix.h"

namespace {

constexpr const char* kVersion = ZEBLIX_VERSION_STRING;

// A C callback as a C++ one: the record's texts live in this frame for the call.
zeblix::Callback Adapt(zeblix_record_fn on_record, void* user) {
  return [on_record, user](const zeblix::Record& record) {
    const std::string patch_level = zeblix::PatchLevelText(record);
    const std::string release = zeblix::ReleaseText(record);
    const std::string os = zeblix::OsText(record);
    const std::string file_type = zeblix::FileTypeText(record);
    const zeblix_record view{
        static_cast<int>(record.format),
        record.offset,
        record.foreign_byte_order ? 1 : 0,
        record.company.c_str(),
        record.description.c_str(),
        record.product_version.c_str(),
        record.internal_name.c_str(),
        record.copyright.c_str(),
        record.product_name.c_str(),
        record.build_number.c_str(),
        record.patch_level,
        record.release_mask,
        record.file_os,
        record.file_type,
        patch_level.c_str(),
        release.c_str(),
        os.c_str(),
        file_type.c_str(),
    };
    return on_record(&view, user) != 0 ? zeblix::Control::kStop : zeblix::Control::kContinue;
  };
}

template <typename Scan>
int ErrnoOf(Scan scan) {
  try {
    return scan().value();
  } catch (...) {
    return ENOMEM;
  }
}

}  // namespace

extern "C" int zeblix_scan_file(const char* path, zeblix_record_fn on_record, void* user) {
  if (path == nullptr || on_record == nullptr) return EINVAL;
  return ErrnoOf([&] { return zeblix::ScanFile(path, Adapt(on_record, user)); });
}

extern "C" int zeblix_scan_fd(int fd, zeblix_record_fn on_record, void* user) {
  if (on_record == nullptr) return EINVAL;
  return ErrnoOf([&] { return zeblix::ScanDescriptor(fd, Adapt(on_record, user)); });
}

extern "C" int zeblix_scan_read(zeblix_read_fn read, void* source, zeblix_record_fn on_record,
                                void* user) {
  if (read == nullptr || on_record == nullptr) return EINVAL;
  const auto reader = [read, source](std::span<std::uint8_t> room) -> std::ptrdiff_t {
    return read(source, room.data(), room.size());
  };
  return ErrnoOf([&] { return zeblix::ScanStream(reader, Adapt(on_record, user)); });
}

extern "C" int zeblix_scan_bytes(const void* data, size_t size, zeblix_record_fn on_record,
                                 void* user) {
  if (on_record == nullptr || (data == nullptr && size > 0)) return EINVAL;
  const std::span bytes(static_cast<const std::uint8_t*>(data), size);
  return ErrnoOf([&] { return zeblix::ScanBytes(bytes, Adapt(on_record, user)); });
}

extern "C" const char* zeblix_version(void) {
  return kVersion;
}
