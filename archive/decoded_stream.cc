// One class a codec over its library's streaming call. Each takes any number of streams of its
// kind one after another, as its command-line tool does, and ignores what follows the last one.
#include "archive/decoded_stream.h"

#include <archive.h>
#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::string_view kCutShort = "cut short";

std::string_view Name(Codec codec) {
  switch (codec) {
    case Codec::kGzip: return "gzip";
    case Codec::kBzip2: return "bzip2";
    case Codec::kXz: return "xz";
    case Codec::kLzma: return "lzma";
    case Codec::kLzip: return "lzip";
    case Codec::kZstd: return "zstd";
  }
  return "compressed";
}

std::string MiB(std::uint64_t bytes) {
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

std::string TooMuch(std::string_view kind, std::uint64_t wanted, std::uint64_t limit) {
  std::string text = "the " + std::string(kind) + " stream asks for ";
  if (wanted != 0) text += MiB(wanted) + " ";
  return text + "of memory to decompress, more than --archive-max-memory allows a " +
         "decompressor (" + MiB(limit) + ")";
}

// A pass that took no byte and made none: more bytes may come, or the stream was cut short.
Decoder::Step Stuck(std::span<const std::uint8_t> in, bool last, std::string& problem) {
  if (!in.empty() || !last) return Decoder::Step::kGoing;
  problem = kCutShort;
  return Decoder::Step::kFailed;
}

class GzipDecoder final : public Decoder {
 public:
  GzipDecoder() {
    started_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;
  }
  ~GzipDecoder() override {
    if (started_) inflateEnd(&z_);
  }
  bool started() const { return started_; }

  Step Decode(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out, bool last,
              std::string& problem) override {
    while (!out.empty()) {
      if (between_members_) {
        // Another member may follow (gzip -dc takes them all); anything else ends the data.
        if (in.size() < 2 && !last) return Step::kGoing;
        if (in.size() < 2 || in[0] != 0x1f || in[1] != 0x8b) {
          in = in.last(0);
          return Step::kEnded;
        }
        inflateReset(&z_);
        between_members_ = false;
      }
      if (in.empty() && !last) return Step::kGoing;
      z_.next_in = const_cast<Bytef*>(in.data());
      z_.avail_in = static_cast<uInt>(std::min<std::size_t>(in.size(), UINT32_MAX));
      z_.next_out = out.data();
      z_.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size(), UINT32_MAX));
      const int status = inflate(&z_, Z_NO_FLUSH);
      const auto used = static_cast<std::size_t>(z_.next_in - in.data());
      const std::size_t made = static_cast<std::size_t>(z_.next_out - out.data());
      in = in.subspan(used);
      out = out.subspan(made);
      if (status == Z_STREAM_END) {
        between_members_ = true;
        continue;
      }
      if (status == Z_MEM_ERROR) {
        problem = std::strerror(ENOMEM);
        return Step::kFailed;
      }
      if (status != Z_OK && status != Z_BUF_ERROR) {
        problem = z_.msg != nullptr ? z_.msg : "invalid data";
        return Step::kFailed;
      }
      if (used == 0 && made == 0) return Stuck(in, last, problem);
    }
    return Step::kGoing;
  }

 private:
  z_stream z_{};
  bool started_ = false;
  bool between_members_ = false;
};

class Bzip2Decoder final : public Decoder {
 public:
  Bzip2Decoder() { started_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK; }
  ~Bzip2Decoder() override {
    if (started_) BZ2_bzDecompressEnd(&s_);
  }
  bool started() const { return started_; }

  Step Decode(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out, bool last,
              std::string& problem) override {
    while (!out.empty()) {
      if (between_streams_) {
        if (in.size() < 3 && !last) return Step::kGoing;
        if (in.size() < 3 || std::memcmp(in.data(), "BZh", 3) != 0) {
          in = in.last(0);
          return Step::kEnded;
        }
        BZ2_bzDecompressEnd(&s_);
        started_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK;
        if (!started_) {
          problem = std::strerror(ENOMEM);
          return Step::kFailed;
        }
        between_streams_ = false;
      }
      if (in.empty() && !last) return Step::kGoing;
      s_.next_in = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
      s_.avail_in = static_cast<unsigned>(std::min<std::size_t>(in.size(), UINT32_MAX));
      s_.next_out = reinterpret_cast<char*>(out.data());
      s_.avail_out = static_cast<unsigned>(std::min<std::size_t>(out.size(), UINT32_MAX));
      const int status = BZ2_bzDecompress(&s_);
      const auto used = static_cast<std::size_t>(
          reinterpret_cast<const std::uint8_t*>(s_.next_in) - in.data());
      const auto made =
          static_cast<std::size_t>(reinterpret_cast<std::uint8_t*>(s_.next_out) - out.data());
      in = in.subspan(used);
      out = out.subspan(made);
      if (status == BZ_STREAM_END) {
        between_streams_ = true;
        continue;
      }
      if (status != BZ_OK) {
        problem = status == BZ_MEM_ERROR ? std::strerror(ENOMEM) : "invalid data";
        return Step::kFailed;
      }
      if (used == 0 && made == 0) return Stuck(in, last, problem);
    }
    return Step::kGoing;
  }

 private:
  bz_stream s_{};
  bool started_ = false;
  bool between_streams_ = false;
};

// xz, and the raw LZMA of .lzma files, whose header this decoder may rewrite: a stream never
// reaches back further than the data it decoded so far, nor further than its encoder's dictionary,
// which the header only claims. So the dictionary is cut to the size the header declares, and to
// what the memory bound allows; a stream that does reach back further fails, and only then is the
// bound named (xz -dc decodes such a stream with whatever memory its header asks for).
class LzmaDecoder final : public Decoder {
 public:
  LzmaDecoder(Codec codec, std::uint64_t memory_limit)
      : codec_(codec), alone_(codec == Codec::kLzma), limit_(std::max<std::uint64_t>(memory_limit, 1)) {
    const lzma_ret status = codec == Codec::kLzma ? lzma_alone_decoder(&s_, limit_)
                            : codec == Codec::kLzip
                                ? lzma_lzip_decoder(&s_, limit_, LZMA_CONCATENATED)
                                : lzma_stream_decoder(&s_, limit_, LZMA_CONCATENATED);
    started_ = status == LZMA_OK;
  }
  ~LzmaDecoder() override { lzma_end(&s_); }
  bool started() const { return started_; }

  Step Decode(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out, bool last,
              std::string& problem) override {
    if (alone_ && header_size_ < kAloneHeader) {
      const std::size_t take = std::min(in.size(), kAloneHeader - header_size_);
      std::memcpy(header_.data() + header_size_, in.data(), take);
      header_size_ += take;
      in = in.subspan(take);
      if (header_size_ < kAloneHeader) {
        if (!last) return Step::kGoing;
        problem = kCutShort;
        return Step::kFailed;
      }
      FitDictionary();
      std::span<const std::uint8_t> header(header_.data(), kAloneHeader);
      const Step step = Code(header, out, false, problem);
      if (step != Step::kGoing) return step;
    }
    return Code(in, out, last, problem);
  }

 private:
  static constexpr std::size_t kAloneHeader = 13;
  static constexpr std::uint32_t kSmallestDictionary = 4096;
  // What liblzma's decoder takes besides its dictionary, with room to spare.
  static constexpr std::uint64_t kDecoderOverhead = std::uint64_t{1} << 20;

  void FitDictionary() {
    std::uint64_t size = 0;
    for (int i = 12; i >= 5; --i) size = size << 8 | header_[i];
    std::uint32_t dictionary = 0;
    for (int i = 4; i >= 1; --i) dictionary = dictionary << 8 | header_[i];
    claimed_ = dictionary;
    const std::uint64_t room = limit_ > kDecoderOverhead ? limit_ - kDecoderOverhead : 0;
    std::uint64_t fitted = std::min<std::uint64_t>(dictionary, room);
    if (size != UINT64_MAX) fitted = std::min(fitted, size);
    fitted = std::max<std::uint64_t>(fitted, kSmallestDictionary);
    if (fitted >= dictionary) return;
    cut_below_claim_ = fitted == room;
    for (int i = 1; i <= 4; ++i) header_[i] = static_cast<std::uint8_t>(fitted >> (8 * (i - 1)));
  }

  Step Code(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out, bool last,
            std::string& problem) {
    while (!out.empty()) {
      if (in.empty() && !last) return Step::kGoing;
      s_.next_in = in.data();
      s_.avail_in = in.size();
      s_.next_out = out.data();
      s_.avail_out = out.size();
      const lzma_ret status = lzma_code(&s_, last ? LZMA_FINISH : LZMA_RUN);
      const auto used = static_cast<std::size_t>(s_.next_in - in.data());
      const auto made = static_cast<std::size_t>(s_.next_out - out.data());
      in = in.subspan(used);
      out = out.subspan(made);
      switch (status) {
        case LZMA_OK:
          break;
        case LZMA_STREAM_END:
          in = in.last(0);
          return Step::kEnded;
        case LZMA_MEMLIMIT_ERROR:
          wanted_too_much_ = true;
          problem = TooMuch(Name(codec_), lzma_memusage(&s_), limit_);
          return Step::kFailed;
        case LZMA_MEM_ERROR:
          problem = std::strerror(ENOMEM);
          return Step::kFailed;
        case LZMA_BUF_ERROR:
          problem = kCutShort;
          return Step::kFailed;
        case LZMA_FORMAT_ERROR:
          problem = "not in the format";
          return Step::kFailed;
        default:
          if (cut_below_claim_) {
            // It reached back further than the bound let the dictionary be.
            wanted_too_much_ = true;
            problem = TooMuch("lzma", claimed_, limit_);
          } else {
            problem = "invalid data";
          }
          return Step::kFailed;
      }
      if (used == 0 && made == 0 && !last) return Step::kGoing;
    }
    return Step::kGoing;
  }

  lzma_stream s_ = LZMA_STREAM_INIT;
  Codec codec_;
  bool alone_;
  std::uint64_t limit_;
  bool started_ = false;
  std::array<std::uint8_t, kAloneHeader> header_{};
  std::size_t header_size_ = 0;
  std::uint32_t claimed_ = 0;      // the dictionary the header asked for
  bool cut_below_claim_ = false;  // the bound, not the declared size, made it smaller
};

class ZstdDecoder final : public Decoder {
 public:
  explicit ZstdDecoder(std::uint64_t memory_limit) : limit_(memory_limit), context_(ZSTD_createDCtx()) {
    if (context_ == nullptr) return;
    // The window a frame may ask for is what decoding it holds in memory.
    constexpr int kSmallestWindowLog = 10, kLargestWindowLog = 31;  // as zstd's format has them
    const int window_log = std::clamp(static_cast<int>(std::bit_width(memory_limit)) - 1,
                                      kSmallestWindowLog, kLargestWindowLog);
    ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, window_log);
  }
  ~ZstdDecoder() override { ZSTD_freeDCtx(context_); }
  bool started() const { return context_ != nullptr; }

  Step Decode(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out, bool last,
              std::string& problem) override {
    while (!out.empty()) {
      if (in.empty()) {
        if (!last) return Step::kGoing;
        if (frame_done_) return Step::kEnded;
      }
      ZSTD_inBuffer input{in.data(), in.size(), 0};
      ZSTD_outBuffer output{out.data(), out.size(), 0};
      const std::size_t status = ZSTD_decompressStream(context_, &output, &input);
      in = in.subspan(input.pos);
      out = out.subspan(output.pos);
      if (ZSTD_isError(status)) {
        if (ZSTD_getErrorCode(status) == ZSTD_error_frameParameter_windowTooLarge) {
          wanted_too_much_ = true;
          problem = TooMuch("zstd", 0, limit_);
        } else {
          problem = ZSTD_getErrorName(status);
        }
        return Step::kFailed;
      }
      frame_done_ = status == 0;
      if (input.pos == 0 && output.pos == 0 && in.empty() && last) {
        if (frame_done_) return Step::kEnded;
        problem = kCutShort;
        return Step::kFailed;
      }
      if (input.pos == 0 && output.pos == 0 && !last && in.empty()) return Step::kGoing;
    }
    return Step::kGoing;
  }

 private:
  std::uint64_t limit_;
  ZSTD_DCtx* context_;
  bool frame_done_ = false;
};

template <typename D, typename... Arguments>
std::unique_ptr<Decoder> Started(Arguments&&... arguments) {
  auto decoder = std::make_unique<D>(std::forward<Arguments>(arguments)...);
  if (!decoder->started()) return nullptr;
  return decoder;
}

}  // namespace

std::optional<Codec> CodecOf(int archive_filter) {
  switch (archive_filter) {
    case ARCHIVE_FILTER_GZIP: return Codec::kGzip;
    case ARCHIVE_FILTER_BZIP2: return Codec::kBzip2;
    case ARCHIVE_FILTER_XZ: return Codec::kXz;
    case ARCHIVE_FILTER_LZMA: return Codec::kLzma;
    case ARCHIVE_FILTER_LZIP: return Codec::kLzip;
    case ARCHIVE_FILTER_ZSTD: return Codec::kZstd;
    default: return std::nullopt;
  }
}

std::unique_ptr<Decoder> NewDecoder(Codec codec, std::uint64_t memory_limit) {
  switch (codec) {
    case Codec::kGzip: return Started<GzipDecoder>();
    case Codec::kBzip2: return Started<Bzip2Decoder>();
    case Codec::kXz:
    case Codec::kLzma:
    case Codec::kLzip: return Started<LzmaDecoder>(codec, memory_limit);
    case Codec::kZstd: return Started<ZstdDecoder>(memory_limit);
  }
  return nullptr;
}

DecodedStream::DecodedStream(ContentStream& source, Codec codec, std::uint64_t memory_limit,
                             Budget& budget, const MemberPath& where)
    : ContentStream(budget, where, /*expands=*/true),
      source_(source),
      codec_(codec),
      decoder_(NewDecoder(codec, memory_limit)) {
  if (decoder_ == nullptr) {
    pending_failure_ = std::strerror(ENOMEM);
    pending_errno_ = ENOMEM;
  }
}

std::ptrdiff_t DecodedStream::Pull(const void** data) {
  if (!pending_failure_ && !ended_) {
    if (block_ == nullptr) block_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBlock);
    const std::size_t made = Fill();
    if (made > 0) {
      gave_bytes_ = true;
      *data = block_.get();
      return static_cast<std::ptrdiff_t>(made);
    }
  }
  if (!pending_failure_) return 0;
  Fail(pending_errno_, *pending_failure_, /*fatal=*/true);
  return -1;
}

std::size_t DecodedStream::Fill() {
  std::span<std::uint8_t> out(block_.get(), kBlock);
  while (!out.empty()) {
    if (input_.empty() && !source_ended_) {
      const void* piece = nullptr;
      const std::ptrdiff_t size = source_.Next(&piece);
      if (size < 0) {
        pending_failure_ = source_.message();
        pending_errno_ = source_.error();
        break;
      }
      source_ended_ = size == 0;
      input_ = {static_cast<const std::uint8_t*>(piece), static_cast<std::size_t>(size)};
    }
    std::string problem;
    const Decoder::Step step = decoder_->Decode(input_, out, source_ended_, problem);
    if (step == Decoder::Step::kEnded) {
      ended_ = true;
      break;
    }
    if (step == Decoder::Step::kFailed) {
      wanted_too_much_ = decoder_->wanted_too_much();
      cut_short_ = problem == kCutShort;
      pending_errno_ = wanted_too_much_ ? ENOMEM : EIO;
      pending_failure_ = wanted_too_much_ ? problem
                                          : "damaged " + std::string(Name(codec_)) +
                                                " data: " + problem;
      break;
    }
  }
  return kBlock - out.size();
}
