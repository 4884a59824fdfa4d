// The reference scanner and the call-by-call runs of both scanners over one file.
#include "tests/reference_scanner.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "scan/convert_structure.h"
#include "scan/load_version_info.h"
#include "scan/version_info.h"

namespace {

constexpr std::size_t kBlock = 1244;
constexpr std::size_t kOldRecord = 392;
constexpr std::size_t kPattern = 40;
const char kEyeCatch[kPattern] = "QuorvantisXZEBLIXzeblixXQuorvantis61100";  // 39 characters, NUL

std::int16_t Close(std::FILE* file, std::int16_t status) {
  std::fclose(file);
  return status;
}

void ZapAll(std::uint8_t* record, const ZappedFields& fields) {
  for (const auto& slot : fields) {
    if (void* dollar = std::memchr(record + slot.offset, '$', slot.width)) {
      *static_cast<std::uint8_t*>(dollar) = 0;
    }
  }
}

std::int16_t ReferenceOldFormat(std::FILE* file, std::uint8_t* buffer, ReferenceState& state) {
  std::fseek(file, 0, SEEK_SET);
  std::uint32_t window = 0;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    window = (window << 8) | static_cast<std::uint32_t>(c);
    if (window != 0xCCAA11DD && window != 0xDD11AACC) continue;
    fseeko(file, ftello(file) - 4, SEEK_SET);
    if (std::fread(buffer, 1, kOldRecord, file) < kOldRecord) return Close(file, -1);
    std::uint16_t release;
    std::memcpy(&release, buffer + 386, sizeof release);
    state.saved_version_id = release > 100 ? 2 : 1;
    ZapAll(buffer, kZappedFieldsV5);
    return Close(file, 2);
  }
  return Close(file, 0);
}

}  // namespace

std::int16_t ReferenceLoadVersionInfo(const char* path, std::uint8_t* buffer, std::int64_t& offset,
                                      ReferenceState& state) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return -1;
  fseeko(file, offset, SEEK_SET);
  std::size_t j = 0;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte != static_cast<unsigned char>(kEyeCatch[j])) {
      j = (byte == static_cast<unsigned char>(kEyeCatch[0])) ? 1 : 0;
      continue;
    }
    if (++j < kPattern) continue;
    // Forty bytes matched: read the candidate from its first byte.
    const std::int64_t after = ftello(file);
    fseeko(file, after - static_cast<std::int64_t>(kPattern), SEEK_SET);
    std::size_t length = 0;
    for (int d; length < kBlock && (d = std::fgetc(file)) != EOF;) {
      buffer[length++] = static_cast<std::uint8_t>(d);
    }
    std::memset(buffer + length, 0, kBlock - length);
    j = 0;
    std::uint32_t id = 0;
    if (ConvertStructure(buffer, Trace()) == 1) std::memcpy(&id, buffer + 40, sizeof id);
    if (id != 0xDD22AACC && id != 0xCCAA22DD) {
      fseeko(file, after, SEEK_SET);
      continue;
    }
    state.saved_version_id = (id == 0xDD22AACC) ? 1 : 2;
    ZapAll(buffer, kZappedFieldsV6);
    offset = ftello(file);
    return Close(file, 1);
  }
  offset = -1;
  if (state.loop_break == 1) return Close(file, 99);
  return ReferenceOldFormat(file, buffer, state);
}

namespace {

ScanCall Snapshot(std::int16_t status, std::int64_t offset, std::int32_t saved,
                  const std::uint8_t* buffer) {
  ScanCall call{status, offset, saved, {}};
  if (status == 1) call.record.assign(buffer, buffer + kBlock);
  if (status == 2) call.record.assign(buffer, buffer + kOldRecord);
  return call;
}

bool LastCall(std::int16_t status, std::int64_t offset) {
  return status == 0 || status == -1 || offset == -1;
}

}  // namespace

std::vector<ScanCall> ReferenceScanFile(const std::string& path, std::int32_t saved_version_id) {
  std::vector<ScanCall> calls;
  std::vector<std::uint8_t> buffer(kBlock);
  ReferenceState state{saved_version_id, 0};
  std::int64_t offset = 0;
  for (;;) {
    const std::int16_t status =
        ReferenceLoadVersionInfo(path.c_str(), buffer.data(), offset, state);
    calls.push_back(Snapshot(status, offset, state.saved_version_id, buffer.data()));
    if (status == 1) state.loop_break = 1;
    if (LastCall(status, offset)) return calls;
  }
}

std::vector<ScanCall> ProductScanFile(const std::string& path, std::size_t read_size,
                                      std::int32_t saved_version_id) {
  std::vector<ScanCall> calls;
  std::vector<std::uint8_t> buffer(kBlock);
  ScanSession session(read_size);
  SavedVersionID = saved_version_id;
  LoopBreak = 0;
  std::int64_t offset = 0;
  for (;;) {
    const ScanStatus status = LoadVersionInfo(path.c_str(), buffer.data(), offset, session);
    calls.push_back(Snapshot(status, offset, SavedVersionID, buffer.data()));
    if (status == kScanFoundV6) LoopBreak = 1;
    if (LastCall(status, offset)) return calls;
  }
}

std::string Describe(const std::vector<ScanCall>& calls) {
  std::ostringstream text;
  for (const ScanCall& call : calls) {
    text << "(status " << call.status << ", offset " << call.offset << ", byte order "
         << call.saved_version_id << ", record " << call.record.size() << " bytes) ";
  }
  return text.str();
}
