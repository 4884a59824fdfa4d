// The search for the eyecatcher follows one rule, byte by byte (see eyecatch_search.h), so a
// partial match can run into a real eyecatcher and hide it; that is how blocks have always been
// found, and the positions reported depend on it.
//
// Two loops follow that rule. The traced one takes every byte in turn and tells each step. The
// fast one, used when those per-byte lines are off, sweeps whole buffers.
#include "scan/record_search.h"

#include <algorithm>
#include <cstring>

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
SearchEnd SearchTraced(FileWindow& window, const Pattern& pattern, std::size_t& matched,
                       const Trace& trace) {
  for (;;) {
    if (window.head() == window.size() && !window.Refill(matched)) return SearchEnd::kEndOfFile;
    const std::uint8_t byte = window.bytes()[window.head()];
    window.set_head(window.head() + 1);
    if (byte == pattern[matched]) {
      ++matched;
      if (byte != 0) {
        trace(kMatchTrace, kName, "Char %c (0x%X)\n", byte, byte);
        trace(kMatchTrace, kName, "j: %d\n", static_cast<int>(matched));
      }
      if (matched == kPatternSize) return SearchEnd::kCandidate;
    } else {
      trace(kByteTrace, kName, "Does not match the EyeCatcher: (0x%X)\n", byte);
      matched = (byte == pattern[0]) ? 1 : 0;
      if (matched == 1) trace(kMatchTrace, kName, "j: %d\n", 1);
    }
    trace(kByteTrace, kName, "loop\n");
  }
}

// The same rule without traces, a buffer at a time.
SearchEnd SearchFast(FileWindow& window, const Pattern& pattern, std::size_t& matched,
                     const Trace&) {
  for (;;) {
    if (window.head() == window.size() && !window.Refill(matched)) return SearchEnd::kEndOfFile;
    window.set_head(SweepForEyeCatch(window.bytes(), window.size(), window.head(), pattern, matched,
                                     window.watch(), window.base()));
    if (matched == kPatternSize) return SearchEnd::kCandidate;
  }
}

// Copies up to a whole block from the candidate's first byte into the buffer; bytes the file
// does not have are zero. Returns the window index of the candidate's first byte.
std::size_t ReadCandidate(FileWindow& window, std::uint8_t* buffer, std::size_t& length,
                          const Trace& trace) {
  const std::size_t start = window.Gather(window.head() - kPatternSize, kRecordBufferSize);
  length = std::min(kRecordBufferSize, window.size() - start);
  std::memcpy(buffer, window.bytes() + start, length);
  std::memset(buffer + length, 0, kRecordBufferSize - length);
  if (trace.selects(kReadingTrace)) {
    for (std::size_t i = 0; i < length; ++i) {
      if (buffer[i] != 0) {
        trace(kReadingTrace, kName, "Reading Version Info (%c, %X)\n", buffer[i], buffer[i]);
      }
    }
  }
  return start;
}

// The search goes on right after a rejected candidate's eyecatcher.
void ResumeAfterEyeCatch(FileWindow& window, std::size_t start, const Trace& trace) {
  window.set_head(start + kPatternSize);
  trace(kReadingTrace, kName, "read further at offset %d\n", Low32(window.OffsetAt(window.head())));
  trace(kByteTrace, kName, "loop\n");
}

// Judges the block read at the candidate: true, with the scan's byte order set, when it parses
// and its InternalId tells a byte order.
bool AcceptCandidate(FileWindow& window, std::uint8_t* buffer, ScanContext& context) {
  const Trace& trace = context.trace;
  trace(kTrace, kName, "We found the EyeCatcher\n");
  const std::int64_t start_offset = window.OffsetAt(window.head() - kPatternSize);
  trace(kTrace, kName, "offset: %d (%X)\n", Low32(start_offset), Low32Hex(start_offset));
  std::size_t length = 0;
  const std::size_t start = ReadCandidate(window, buffer, length, trace);
  if (ConvertStructure(buffer, trace) == 0) {
    ResumeAfterEyeCatch(window, start, trace);
    return false;
  }
  constexpr std::uint32_t kFlipped = zeblix::ByteSwap(zeblix::kInternalId);
  const auto id = zeblix::LoadNative<std::uint32_t>(buffer + VersionInfo_V6::InternalId.offset);
  trace(kTrace, kName, "Compare: %X with %X (flipped: %X)\n", id, zeblix::kInternalId, kFlipped);
  trace(kTrace, kName, "InternalID: %X \n", id);
  if (id == zeblix::kInternalId) {
    trace(kTrace, kName, "Internal ID is same byte order\n");
    context.saved_version_id = kSameByteOrder;
  } else if (id == kFlipped) {
    trace(kTrace, kName, "Internal ID is foreign byte order\n");
    context.saved_version_id = kForeignByteOrder;
  } else {
    trace(kTrace, kName, "Problems reading the Internal ID\n");
    ResumeAfterEyeCatch(window, start, trace);
    return false;
  }
  context.record_offset = start_offset;
  window.set_head(start + length);
  return true;
}

}  // namespace

ScanStatus FindNextRecord(ScanSession& session, std::uint8_t* buffer, std::int64_t& offset,
                          ScanContext& context) {
  const Trace& trace = context.trace;
  const Pattern pattern = ComposeEyeCatch();
  trace(kTrace, kName, "EyeCatch = %s\n", reinterpret_cast<const char*>(pattern.data()));
  trace(kTrace, kName, "sizeof(EyeCatch) = %d\n", static_cast<int>(pattern.size()));
  trace(kTrace, kName, "begin at offset: %d\n", Low32(offset));

  const bool trace_bytes = trace.selects(kMatchTrace) || trace.selects(kByteTrace);
  const auto search = trace_bytes ? SearchTraced : SearchFast;
  FileWindow& window = session.window();
  std::size_t matched = 0;
  while (search(window, pattern, matched, trace) == SearchEnd::kCandidate) {
    if (AcceptCandidate(window, buffer, context)) {
      ZapTextFields(buffer, kZappedFieldsV6, trace);
      offset = window.OffsetAt(window.head());
      session.End(/*more_to_come=*/true);
      return TraceReturn(trace, kScanFoundV6);
    }
    matched = 0;
  }

  offset = -1;
  if (context.loop_break == 1) {
    session.End(/*more_to_come=*/false);
    return TraceReturn(trace, kScanEndAfterReport);
  }
  return LoadVersionInfo_V5(session, buffer, context);
}
