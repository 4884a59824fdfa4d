// Magic numbers are those each format's own definition fixes; a tar of the oldest kind has
// none, and is told by the checksum of its first header, as tar readers tell it.
#include "archive/archive_signatures.h"

#include <archive.h>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

struct Magic {
  std::size_t offset;
  std::string_view bytes;
  Signature strength;
  int filter;  // the libarchive filter of a compressed stream; 0 for an archive
};

using namespace std::string_view_literals;

constexpr Signature kStrong = Signature::kStrong;
constexpr Signature kWeak = Signature::kWeak;

constexpr std::string_view k7Zip = "7z\xbc\xaf\x27\x1c"sv;

// clang-format off
constexpr std::array kMagics = {
    Magic{0,   "\x1f\x8b\x08"sv, kStrong, ARCHIVE_FILTER_GZIP},  // gzip, deflated
    Magic{0,   "\xfd" "7zXZ\0"sv, kStrong, ARCHIVE_FILTER_XZ},  // xz
    Magic{0,   "\x28\xb5\x2f\xfd"sv, kStrong, ARCHIVE_FILTER_ZSTD},  // zstd
    Magic{0,   "\x04\x22\x4d\x18"sv, kStrong, ARCHIVE_FILTER_LZ4},  // lz4
    Magic{0,   "PK\x03\x04"sv, kStrong, 0},  // zip, jar, apk
    Magic{0,   "PK\x05\x06"sv, kStrong, 0},  // zip, empty
    Magic{0,   "PK\x07\x08"sv, kStrong, 0},  // zip, spanned
    Magic{0,   k7Zip, kStrong, 0},  // 7-Zip
    Magic{0,   "!<arch>\n"sv, kStrong, 0},  // ar, and so .deb
    Magic{0,   "!<thin>\n"sv, kStrong, 0},  // ar, thin
    Magic{0,   "\xed\xab\xee\xdb"sv, kStrong, ARCHIVE_FILTER_RPM},  // RPM
    Magic{0,   "07070"sv, kStrong, 0},  // cpio, portable and new
    Magic{257, "ustar"sv, kStrong, 0},  // tar, POSIX and GNU
    Magic{0,   "LZIP"sv, kStrong, ARCHIVE_FILTER_LZIP},  // lzip
    Magic{0,   "begin "sv, kWeak, ARCHIVE_FILTER_UU},  // uuencoded
    Magic{0,   "begin-base64 "sv, kWeak, ARCHIVE_FILTER_UU},  // base64, as uuencode -m writes it
    Magic{0,   "\x1f\x8b"sv, kWeak, ARCHIVE_FILTER_GZIP},  // gzip
    Magic{0,   "\x1f\x9d"sv, kWeak, ARCHIVE_FILTER_COMPRESS},  // compress
    Magic{0,   "BZh"sv, kWeak, ARCHIVE_FILTER_BZIP2},  // bzip2
    Magic{0,   "\x02\x21\x4c\x18"sv, kWeak, ARCHIVE_FILTER_LZ4},  // lz4, legacy
    Magic{0,   "PK"sv, kWeak, 0},  // zip of another kind
    Magic{0,   "\x71\xc7"sv, kWeak, 0},  // cpio, binary
    Magic{0,   "\xc7\x71"sv, kWeak, 0},  // cpio, binary, the other byte order
};
// clang-format on

bool StartsWith(std::span<const std::uint8_t> bytes, const Magic& magic) {
  return bytes.size() >= magic.offset + magic.bytes.size() &&
         std::equal(magic.bytes.begin(), magic.bytes.end(), bytes.begin() + magic.offset,
                    [](char expected, std::uint8_t byte) {
                      return static_cast<std::uint8_t>(expected) == byte;
                    });
}

// A 512-byte header whose checksum field (octal, at 148) is the sum of its bytes with that field
// counted as blanks, summed as unsigned or as signed bytes; or a block of zeros, an empty tar.
bool TarHeader(std::span<const std::uint8_t> head) {
  constexpr std::size_t kHeader = 512, kSumAt = 148, kSumSize = 8;
  if (head.size() < kHeader) return false;
  if (std::all_of(head.begin(), head.begin() + kHeader, [](std::uint8_t b) { return b == 0; })) {
    return true;
  }
  long stored = 0;
  bool digits = false;
  for (std::size_t i = kSumAt; i < kSumAt + kSumSize; ++i) {
    if (head[i] >= '0' && head[i] <= '7') {
      stored = stored * 8 + (head[i] - '0');
      digits = true;
    } else if (digits || (head[i] != ' ' && head[i] != 0)) {
      break;
    }
  }
  if (!digits) return false;
  long unsigned_sum = 0, signed_sum = 0;
  for (std::size_t i = 0; i < kHeader; ++i) {
    const bool in_field = i >= kSumAt && i < kSumAt + kSumSize;
    const std::uint8_t byte = in_field ? ' ' : head[i];
    unsigned_sum += byte;
    signed_sum += static_cast<std::int8_t>(byte);
  }
  return stored == unsigned_sum || stored == signed_sum;
}

// The header of a raw LZMA stream: properties below 225, a dictionary of 2^n or 3 * 2^n bytes
// (or all ones, which xz also takes), and a range coder that starts with a zero byte.
bool LzmaHeader(std::span<const std::uint8_t> head) {
  constexpr std::size_t kHeader = 14;
  if (head.size() < kHeader || head[0] > 224 || head[13] != 0) return false;
  const std::uint32_t dictionary =
      head[1] | head[2] << 8 | head[3] << 16 | static_cast<std::uint32_t>(head[4]) << 24;
  const std::uint32_t without_top = dictionary & (dictionary - 1);
  return dictionary == UINT32_MAX ||
         (dictionary != 0 && (without_top == 0 || (without_top & (without_top - 1)) == 0));
}

bool SkippableFrame(std::span<const std::uint8_t> head) {
  return head.size() >= 4 && (head[0] & 0xf0) == 0x50 && head[1] == 0x2a && head[2] == 0x4d &&
         head[3] == 0x18;
}

}  // namespace

Packing PackingOf(std::span<const std::uint8_t> head, std::span<const std::uint8_t> iso) {
  constexpr std::array<std::uint8_t, 4> kElf = {0x7f, 'E', 'L', 'F'};
  if (head.size() >= kElf.size() && std::equal(kElf.begin(), kElf.end(), head.begin())) return {};
  // Strong magics come first in the table: the first that matches is the surest.
  for (const Magic& magic : kMagics) {
    if (StartsWith(head, magic)) return {magic.strength, magic.filter, magic.bytes == k7Zip};
  }
  constexpr std::string_view kIso = "CD001";
  if (iso.size() >= kIso.size() && std::equal(kIso.begin(), kIso.end(), iso.begin())) {
    return {Signature::kStrong, 0};
  }
  if (TarHeader(head)) return {Signature::kWeak, 0};
  if (LzmaHeader(head)) return {Signature::kWeak, ARCHIVE_FILTER_LZMA};
  if (SkippableFrame(head)) return {Signature::kWeak, ARCHIVE_FILTER_ZSTD};
  return {};
}
