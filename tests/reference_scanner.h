// The block scanner as the plainest reading of its rules: standard buffered input, one byte at a
// time, a seek back to just after every rejected eyecatcher, and a second pass from offset 0 for
// the old record. Slow, and obviously right; the fast scanner is held against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ReferenceState {
  std::int32_t saved_version_id = 0;
  std::int32_t loop_break = 0;
};

// One call, as LoadVersionInfo makes it: the status, with `buffer` and `offset` updated.
std::int16_t ReferenceLoadVersionInfo(const char* path, std::uint8_t* buffer, std::int64_t& offset,
                                      ReferenceState& state);

// What one scanner call handed back.
struct ScanCall {
  std::int16_t status = 0;
  std::int64_t offset = 0;
  std::int32_t saved_version_id = 0;
  std::vector<std::uint8_t> record;  // the record bytes for statuses 1 and 2, else empty

  bool operator==(const ScanCall&) const = default;
};

// Every call the per-file loop makes for the file, by the reference scanner.
std::vector<ScanCall> ReferenceScanFile(const std::string& path, std::int32_t saved_version_id);

// Every call the per-file loop makes for the file, by the utility's scanner reading `read_size`
// bytes at a time. SavedVersionID is set to `saved_version_id` first.
std::vector<ScanCall> ProductScanFile(const std::string& path, std::size_t read_size,
                                      std::int32_t saved_version_id);

std::string Describe(const std::vector<ScanCall>& calls);
