// The search for the eyecatcher follows one rule, byte by byte (see eyecatch_search.h), so a
// partial match can run into a real eyecatcher and hide it; that is how blocks have always been
// found, and the positions reported depend on it.
//
// Two loops follow that rule. The traced one takes every byte in turn and tells each step. The
// fast one, used when those per-byte lines are off, sweeps whole buffers.
#include "scan/load_version_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "log/svr_log.h"
#include "scan/convert_structure.h"
#include "scan/eyecatch_search.h"
#include "scan/scanner_trace.h"
#include "zeblix/byte_order.h"

using namespace scanner_trace;

namespace {

constexpr std::size_t kPatternSize = kEyeCatchPatternSize;
using Pattern = EyeCatchPattern;

enum class SearchEnd { kCandidate, kEndOfFile };

// The rule, one byte at a time, with every per-byte trace line. On kCandidate the window's head
// is just past the 40 matched bytes.
SearchEnd SearchTraced(FileWindow& window, const Pattern& pattern, std::size_t& matched) {
  for (;;) {
    if (window.head() == window.size() && !window.Refill(matched)) return SearchEnd::kEndOfFile;
    const std::uint8_t byte = window.bytes()[window.head()];
    window.set_head(window.head() + 1);
    if (byte == pattern[matched]) {
      ++matched;
      if (byte != 0) {
        svr_log(kMatchTrace, kName, "Char %c (0x%X)\n", byte, byte);
        svr_log(kMatchTrace, kName, "j: %d\n", static_cast<int>(matched));
      }
      if (matched == kPatternSize) return SearchEnd::kCandidate;
    } else {
      svr_log(kByteTrace, kName, "Does not match the EyeCatcher: (0x%X)\n", byte);
      matched = (byte == pattern[0]) ? 1 : 0;
      if (matched == 1) svr_log(kMatchTrace, kName, "j: %d\n", 1);
    }
    svr_log(kByteTrace, kName, "loop\n");
  }
}

// The same rule without traces, a buffer at a time.
SearchEnd SearchFast(FileWindow& window, const Pattern& pattern, std::size_t& matched) {
  for (;;) {
    if (window.head() == window.size() && !window.Refill(matched)) return SearchEnd::kEndOfFile;
    window.set_head(SweepForEyeCatch(window.bytes(), window.size(), window.head(), pattern, matched,
                                     window.watch(), window.base()));
    if (matched == kPatternSize) return SearchEnd::kCandidate;
  }
}

// Copies up to a whole block from the candidate's first byte into the buffer; bytes the file
// does not have are zero. Returns the window index of the candidate's first byte.
std::size_t ReadCandidate(FileWindow& window, std::uint8_t* buffer, std::size_t& length) {
  const std::size_t start = window.Gather(window.head() - kPatternSize, kRecordBufferSize);
  length = std::min(kRecordBufferSize, window.size() - start);
  std::memcpy(buffer, window.bytes() + start, length);
  std::memset(buffer + length, 0, kRecordBufferSize - length);
  if (svr_log_selects(kReadingTrace)) {
    for (std::size_t i = 0; i < length; ++i) {
      if (buffer[i] != 0) {
        svr_log(kReadingTrace, kName, "Reading Version Info (%c, %X)\n", buffer[i], buffer[i]);
      }
    }
  }
  return start;
}

// The search goes on right after a rejected candidate's eyecatcher.
void ResumeAfterEyeCatch(FileWindow& window, std::size_t start) {
  window.set_head(start + kPatternSize);
  svr_log(kReadingTrace, kName, "read further at offset %d\n",
          Low32(window.OffsetAt(window.head())));
  svr_log(kByteTrace, kName, "loop\n");
}

// Judges the block read at the candidate: true, with SavedVersionID set, when it parses and its
// InternalId tells a byte order.
bool AcceptCandidate(FileWindow& window, std::uint8_t* buffer) {
  svr_log(kTrace, kName, "We found the EyeCatcher\n");
  const std::int64_t start_offset = window.OffsetAt(window.head() - kPatternSize);
  svr_log(kTrace, kName, "offset: %d (%X)\n", Low32(start_offset), Low32Hex(start_offset));
  std::size_t length = 0;
  const std::size_t start = ReadCandidate(window, buffer, length);
  if (ConvertStructure(buffer) == 0) {
    ResumeAfterEyeCatch(window, start);
    return false;
  }
  constexpr std::uint32_t kFlipped = zeblix::ByteSwap(zeblix::kInternalId);
  const auto id = zeblix::LoadNative<std::uint32_t>(buffer + VersionInfo_V6::InternalId.offset);
  svr_log(kTrace, kName, "Compare: %X with %X (flipped: %X)\n", id, zeblix::kInternalId, kFlipped);
  svr_log(kTrace, kName, "InternalID: %X \n", id);
  if (id == zeblix::kInternalId) {
    svr_log(kTrace, kName, "Internal ID is same byte order\n");
    SavedVersionID = kSameByteOrder;
  } else if (id == kFlipped) {
    svr_log(kTrace, kName, "Internal ID is foreign byte order\n");
    SavedVersionID = kForeignByteOrder;
  } else {
    svr_log(kTrace, kName, "Problems reading the Internal ID\n");
    ResumeAfterEyeCatch(window, start);
    return false;
  }
  window.set_head(start + length);
  return true;
}

}  // namespace

ScanStatus LoadVersionInfo(const char* path, std::uint8_t* buffer, std::int64_t& offset,
                           ScanSession& session) {
  svr_log(kTrace, kName, "{\n");
  if (!session.Begin(path, offset)) {
    std::printf("Unable to Open %s\n", path);
    svr_log(kOpenFailure, kName, "Unable to Open %s\n", path);
    return TraceReturn(kScanUnreadable);
  }
  const Pattern pattern = ComposeEyeCatch();
  svr_log(kTrace, kName, "EyeCatch = %s\n", reinterpret_cast<const char*>(pattern.data()));
  svr_log(kTrace, kName, "sizeof(EyeCatch) = %d\n", static_cast<int>(pattern.size()));
  svr_log(kTrace, kName, "begin at offset: %d\n", Low32(offset));

  const bool trace_bytes = svr_log_selects(kMatchTrace) || svr_log_selects(kByteTrace);
  const auto search = trace_bytes ? SearchTraced : SearchFast;
  FileWindow& window = session.window();
  std::size_t matched = 0;
  while (search(window, pattern, matched) == SearchEnd::kCandidate) {
    if (AcceptCandidate(window, buffer)) {
      ZapTextFields(buffer, kZappedFieldsV6);
      offset = window.OffsetAt(window.head());
      session.End(/*more_to_come=*/true);
      return TraceReturn(kScanFoundV6);
    }
    matched = 0;
  }

  offset = -1;
  if (LoopBreak == 1) {
    session.End(/*more_to_come=*/false);
    return TraceReturn(kScanEndAfterReport);
  }
  return LoadVersionInfo_V5(session, buffer);
}
