// The C++ face of the engine: a scan holds its source for every call, so each byte is read once,
// and every record the engine accepts becomes a Record with its numbers in this machine's order.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "scan/record_search.h"
#include "scan/record_formats.h"
#include "xlat/code_text.h"
#include "zeblix/byte_order.h"
#include "zeblix/scan.h"

namespace zeblix {

namespace {

constexpr std::int64_t kEndOfFile = -1;

Record MakeRecord(ScanStatus status, const std::uint8_t* buffer, const ScanContext& context) {
  const bool v6 = status == kScanFoundV6;
  const RecordFields& layout = v6 ? kRecordFieldsV6 : kRecordFieldsV5;
  const bool foreign = context.saved_version_id == kForeignByteOrder;
  const auto number = [&](FieldSlot slot) {
    const std::uint16_t stored = FieldNumber(buffer, slot);
    return foreign ? ByteSwap(stored) : stored;
  };
  const auto text = [&](FieldSlot slot) { return std::string(FieldText(buffer, slot)); };
  Record record;
  record.format = v6 ? Format::kV6 : Format::kV5;
  record.offset = context.record_offset;
  record.foreign_byte_order = foreign;
  record.company = text(layout.company);
  record.description = text(layout.description);
  record.product_version = text(layout.product_version);
  record.internal_name = text(layout.internal_name);
  record.copyright = text(layout.copyright);
  record.product_name = text(layout.product_name);
  if (layout.build_number != nullptr) record.build_number = text(*layout.build_number);
  record.patch_level = static_cast<std::int16_t>(number(layout.patch_level));
  record.release_mask = number(layout.release_mask);
  record.file_os = number(layout.file_os);
  record.file_type = number(layout.file_type);
  return record;
}

std::error_code ErrorOf(int error) {
  return {error, std::generic_category()};
}

// The per-file loop of the engine over a held source: every record in file order, until the end
// of the file or the callback's stop.
std::error_code ScanHeld(ScanSession& session, const Callback& on_record) {
  std::uint8_t buffer[kRecordBufferSize];
  ScanContext context;
  std::int64_t offset = 0;
  for (;;) {
    const ScanStatus status = FindNextRecord(session, buffer, offset, context);
    if (status == kScanFoundV6 || status == kScanFoundV5) {
      if (on_record(MakeRecord(status, buffer, context)) == Control::kStop) {
        session.End(/*more_to_come=*/false);
        return {};
      }
      if (status == kScanFoundV6) context.loop_break = 1;
    }
    if (offset == kEndOfFile) break;
  }
  return ErrorOf(session.read_error());
}

// A fresh session, handed its source by `hold` (which may fail with an errno), scanned to the end.
// No exception escapes: running out of memory is ENOMEM.
template <typename Hold>
std::error_code ScanSource(const Callback& on_record, Hold hold) {
  try {
    const auto session = std::unique_ptr<ScanSession>(new (std::nothrow) ScanSession());
    if (session == nullptr || !session->allocated()) return ErrorOf(ENOMEM);
    if (const int error = hold(*session); error != 0) return ErrorOf(error);
    return ScanHeld(*session, on_record);
  } catch (const std::bad_alloc&) {
    return ErrorOf(ENOMEM);
  }
}

}  // namespace

std::string PatchLevelText(const Record& record) {
  CodeTextBuffer text;
  WritePatchLevelText(record.patch_level, text);
  return text;
}

std::string ReleaseText(const Record& record) {
  ReleaseTextBuffer text;
  WriteReleaseText(record.release_mask, text);
  return text;
}

std::string OsText(const Record& record) {
  CodeTextBuffer text;
  WriteOsText(record.file_os, text);
  return text;
}

std::string FileTypeText(const Record& record) {
  CodeTextBuffer text;
  WriteFileTypeText(record.file_type, text);
  return text;
}

std::error_code ScanFile(std::string_view path, const Callback& on_record) {
  return ScanSource(on_record, [&](ScanSession& session) {
    const int fd = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno;
    session.Hold(fd);
    return 0;
  });
}

std::error_code ScanDescriptor(int fd, const Callback& on_record) {
  if (fd < 0) return ErrorOf(EBADF);
  return ScanSource(on_record, [&](ScanSession& session) {
    session.Hold(fd, /*lent=*/true);
    return 0;
  });
}

std::error_code ScanStream(Reader read, const Callback& on_record) {
  if (!read) return ErrorOf(EINVAL);
  const auto call = [](void* source, std::uint8_t* into, std::size_t room) -> std::ptrdiff_t {
    return (*static_cast<Reader*>(source))(std::span(into, room));
  };
  return ScanSource(on_record, [&](ScanSession& session) {
    session.Hold(ByteReader{call, &read});
    return 0;
  });
}

std::error_code ScanBytes(std::span<const std::uint8_t> bytes, const Callback& on_record) {
  return ScanSource(on_record, [&](ScanSession& session) {
    session.Hold(bytes);
    return 0;
  });
}

}  // namespace zeblix
