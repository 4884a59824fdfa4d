// The common compressions are decoded here, with their own libraries (zlib, libbz2, liblzma for
// xz, lzma and lzip, libzstd), rather than by libarchive's filters, for what those do not give: every byte decoded
// before a stream breaks off is handed over, as gzip -dc and xz -dc give it (libarchive drops its
// last block); the memory a stream's header asks for is bounded by us, and asking for more is an
// error that names the bound; and a stream the decoder refuses at once is told apart from one that
// broke later, so that its bytes can be scanned as they lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "archive/content_stream.h"

enum class Codec { kGzip, kBzip2, kXz, kLzma, kLzip, kZstd };

// The codec decoded here for a libarchive filter (ARCHIVE_FILTER_*); none for the others, which
// libarchive's own filters decode.
std::optional<Codec> CodecOf(int archive_filter);

// What one codec does: decodes the bytes of `in` into `out`, moving both on.
class Decoder {
 public:
  enum class Step { kGoing, kEnded, kFailed };
  virtual ~Decoder() = default;
  // `last`: no bytes follow `in`. kEnded once a stream (and any streams concatenated after it)
  // ended; kFailed with `problem` set.
  virtual Step Decode(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out, bool last,
                      std::string& problem) = 0;
  // The failure was the memory the stream asks for, not its bytes.
  bool wanted_too_much() const { return wanted_too_much_; }

 protected:
  bool wanted_too_much_ = false;
};

// A decoder of `codec` whose memory is bounded by `memory_limit` bytes; nullptr when its library
// cannot even start one.
std::unique_ptr<Decoder> NewDecoder(Codec codec, std::uint64_t memory_limit);

// The decoded bytes of `source`. It gives what it decoded before a failure first, then fails
// (a fatal failure: nothing can be read past it).
class DecodedStream final : public ContentStream {
 public:
  DecodedStream(ContentStream& source, Codec codec, std::uint64_t memory_limit, Budget& budget,
                const MemberPath& where);

  // The decoder refused the stream before it gave a byte: not this codec's, or damaged at once.
  bool refused() const { return failed() && !gave_bytes_; }
  // The bytes surely are this codec's: the failure was the memory the stream's header asked
  // for, or the end of bytes that the decoder took for its own until then.
  bool surely_this_codec() const { return wanted_too_much_ || cut_short_; }

 private:
  std::ptrdiff_t Pull(const void** data) override;
  // Decodes into the block until it is full, the source ends, or decoding fails.
  std::size_t Fill();

  ContentStream& source_;
  Codec codec_;
  std::unique_ptr<Decoder> decoder_;
  std::unique_ptr<std::uint8_t[]> block_;
  std::span<const std::uint8_t> input_;
  bool source_ended_ = false;
  bool ended_ = false;
  bool gave_bytes_ = false;
  bool wanted_too_much_ = false;
  bool cut_short_ = false;
  std::optional<std::string> pending_failure_;  // told once the bytes before it were handed over
  int pending_errno_ = 0;
};
