/* A zeblix version block in a product, for `zeblix` to report: 1244 bytes of initialised data.
 *
 *   offset size  content                      offset size  content
 *        0   40  eyecatcher                      936   40  ProductName, text
 *       40    4  InternalId 0xDD22AACC          1016   20  BuildNumber, text
 *       84   40  Company, text                  1076    2  PatchLevel, signed
 *      164   40  Description, text              1118    2  ReleaseMask, bit set
 *      244   20  ProductVersion, text           1160    2  FileOS, code
 *      304   40  InternalName, text             1202    2  FileType, code
 *      384  512  CopyRight, text
 *
 * and every field is followed by the 40-byte delimiter (39 characters and a NUL). Texts are
 * NUL-padded; numbers are in the byte order of the machine the product is built for.
 *
 * In C (C89 and later) and C++ (C++98 and later), once at file scope, with string literals and
 * numbers:
 *
 *   #include <zeblix/version_block.h>
 *   ZEBLIX_VERSION_BLOCK(widget_version, "Acme", "Acme Widget", "1.2.3", "WIDGET",
 *                        "Copyright (C) Acme", "widget", "77", 2,
 *                        ZEBLIX_RELEASE_BETA | ZEBLIX_RELEASE_RELEASE,
 *                        ZEBLIX_OS_LINUX_X86_64BIT, ZEBLIX_FILE_TYPE_EXECUTABLE);
 *
 * defines `widget_version` with external linkage, marked so that the compiler and the linker keep
 * it through -O2, -flto, --gc-sections and strip (GCC and Clang: `used`, `retain` where the
 * target is ELF and the compiler has it, and on Windows a pointer to it in a section the linker
 * always keeps). Where a compiler has none of these, reference the symbol from the program, or
 * ask the linker for it (-u widget_version; MSVC: /INCLUDE:widget_version). An object or static
 * library built with -flto holds compiler code, not the block's bytes, until it is linked: build
 * the file holding the block with -ffat-lto-objects (or -fno-lto) for the object itself to be
 * read. A text longer than its field (in C++, as long), or a number out of its range, fails to
 * compile, naming the field. The tool zeblix-block writes the same for other toolchains, and
 * checks what a compiler cannot (dollar signs, which cut the reported text, and the delimiter
 * text).
 *
 * C++20 code may instead build the block with zeblix::MakeVersionBlock, below, which checks
 * everything at compile time.
 */
#ifndef ZEBLIX_VERSION_BLOCK_H
#define ZEBLIX_VERSION_BLOCK_H

#include "zeblix/version_codes.h"

#define ZEBLIX_CONSTANT_(prefix, code, name) ZEBLIX_##prefix##_##name = code,
#define ZEBLIX_FILE_TYPE_CONSTANT_(code, name, text) ZEBLIX_CONSTANT_(FILE_TYPE, code, name)
#define ZEBLIX_OS_CONSTANT_(code, name, text) ZEBLIX_CONSTANT_(OS, code, name)
#define ZEBLIX_RELEASE_CONSTANT_(code, name, text) ZEBLIX_CONSTANT_(RELEASE, code, name)

/* The codes, named as ZEBLIX_FILE_TYPE_EXECUTABLE, ZEBLIX_OS_LINUX_X86_64BIT, ZEBLIX_RELEASE_BETA;
 * each list's last name only closes it. */
enum zeblix_file_type { ZEBLIX_FILE_TYPE_LIST(ZEBLIX_FILE_TYPE_CONSTANT_) ZEBLIX_FILE_TYPE_END_ };
enum zeblix_os { ZEBLIX_OS_LIST(ZEBLIX_OS_CONSTANT_) ZEBLIX_OS_END_ };
enum zeblix_release { ZEBLIX_RELEASE_LIST(ZEBLIX_RELEASE_CONSTANT_) ZEBLIX_RELEASE_END_ };

/* The block as the compiler lays it out: every member lies at its natural alignment, so there is
 * no padding, and the numbers take the target's byte order. */
struct zeblix_version_block {
  char eyecatcher[40];
  unsigned int internal_id;
  char delimiter_1[40];
  char company[40];
  char delimiter_2[40];
  char description[40];
  char delimiter_3[40];
  char product_version[20];
  char delimiter_4[40];
  char internal_name[40];
  char delimiter_5[40];
  char copyright[512];
  char delimiter_6[40];
  char product_name[40];
  char delimiter_7[40];
  char build_number[20];
  char delimiter_8[40];
  short patch_level;
  char delimiter_9[40];
  unsigned short release_mask;
  char delimiter_10[40];
  unsigned short file_os;
  char delimiter_11[40];
  unsigned short file_type;
  char delimiter_12[40];
};
typedef char zeblix_version_block_is_1244_bytes[
    sizeof(struct zeblix_version_block) == 1244 && sizeof(unsigned int) == 4 ? 1 : -1];

#if defined(__GNUC__) || defined(__clang__)
#if defined(__has_attribute) && defined(__ELF__)
#if __has_attribute(retain)
#define ZEBLIX_KEEP __attribute__((used, retain))
#endif
#endif
#ifndef ZEBLIX_KEEP
#define ZEBLIX_KEEP __attribute__((used))
#endif
#else
#define ZEBLIX_KEEP
#endif

/* A PE linker drops unreferenced data under --gc-sections whatever marks it, but always keeps the
 * unwind data sections: a pointer to the block there keeps the block. Nothing reads it: the
 * unwinder reaches .xdata only through .pdata's entries. */
#if (defined(__GNUC__) || defined(__clang__)) && (defined(_WIN32) || defined(__CYGWIN__))
#define ZEBLIX_KEEP_ON_WINDOWS_(symbol)                                               \
  __attribute__((section(".xdata$zeblix"), used)) static const void* const        \
      symbol##_kept_by_the_linker = &symbol;
#else
#define ZEBLIX_KEEP_ON_WINDOWS_(symbol)
#endif

#define ZEBLIX_DELIMITER_ "ZEBLIXQuorvantisXZEBLIXzeblixQuorvantis"

/* Fails to compile, naming the field, when a text is longer than its field. C++ keeps the NUL of
 * a string literal in the array it initialises, so there a text is one byte shorter than its
 * field at most (for full width, use zeblix-block's assembler or raw bytes, or MakeVersionBlock). */
#ifdef __cplusplus
#define ZEBLIX_ROOM_(width) (width)
#else
#define ZEBLIX_ROOM_(width) ((width) + 1)
#endif
#define ZEBLIX_FITS_(check, text, width) \
  typedef char check[sizeof(text) <= ZEBLIX_ROOM_(width) ? 1 : -1];
/* Fails to compile, naming the field, when a number lies outside what its field holds. */
#define ZEBLIX_IN_RANGE_(check, number, low, high) \
  typedef char check[((number) >= (low) && (number) <= (high)) ? 1 : -1];

#define ZEBLIX_VERSION_BLOCK(symbol, company, description, product_version, internal_name,      \
                             copyright, product_name, build_number, patch_level, release_mask,  \
                             file_os, file_type)                                                \
  ZEBLIX_FITS_(symbol##_company_is_longer_than_its_field, company, 40)                          \
  ZEBLIX_FITS_(symbol##_description_is_longer_than_its_field, description, 40)                  \
  ZEBLIX_FITS_(symbol##_product_version_is_longer_than_its_field, product_version, 20)          \
  ZEBLIX_FITS_(symbol##_internal_name_is_longer_than_its_field, internal_name, 40)              \
  ZEBLIX_FITS_(symbol##_copyright_is_longer_than_its_field, copyright, 512)                     \
  ZEBLIX_FITS_(symbol##_product_name_is_longer_than_its_field, product_name, 40)                \
  ZEBLIX_FITS_(symbol##_build_number_is_longer_than_its_field, build_number, 20)                \
  ZEBLIX_IN_RANGE_(symbol##_patch_level_is_not_from_minus_32768_to_32767, patch_level, -32768L,  \
                   32767L)                                                                      \
  ZEBLIX_IN_RANGE_(symbol##_release_mask_is_not_from_0_to_65535, release_mask, 0L, 65535L)       \
  ZEBLIX_IN_RANGE_(symbol##_file_os_is_not_from_0_to_65535, file_os, 0L, 65535L)                 \
  ZEBLIX_IN_RANGE_(symbol##_file_type_is_not_from_0_to_65535, file_type, 0L, 65535L)             \
  extern const struct zeblix_version_block symbol;                                              \
  ZEBLIX_KEEP const struct zeblix_version_block symbol = {                                      \
      "QuorvantisXZEBLIX" "zeblixXQuorvantis61100", 0xDD22AACCu, ZEBLIX_DELIMITER_,             \
      company, ZEBLIX_DELIMITER_, description, ZEBLIX_DELIMITER_,                               \
      product_version, ZEBLIX_DELIMITER_, internal_name, ZEBLIX_DELIMITER_,                     \
      copyright, ZEBLIX_DELIMITER_, product_name, ZEBLIX_DELIMITER_,                            \
      build_number, ZEBLIX_DELIMITER_, (short)(patch_level), ZEBLIX_DELIMITER_,                 \
      (unsigned short)(release_mask), ZEBLIX_DELIMITER_, (unsigned short)(file_os),             \
      ZEBLIX_DELIMITER_, (unsigned short)(file_type), ZEBLIX_DELIMITER_};                     \
  ZEBLIX_KEEP_ON_WINDOWS_(symbol) typedef char symbol##_is_a_version_block

#if defined(__cplusplus) && __cplusplus >= 201103L
// C++11 and later: the codes as C++ names, for MakeVersionBlock below.
#include <cstdint>

#if __cplusplus >= 201703L
#define ZEBLIX_INLINE_ inline
#else
#define ZEBLIX_INLINE_
#endif

namespace zeblix {

// Release mask bits; a product ORs those that apply.
ZEBLIX_INLINE_ constexpr std::uint16_t kReleaseDebug = 0x01;
ZEBLIX_INLINE_ constexpr std::uint16_t kReleaseAlpha = 0x02;
ZEBLIX_INLINE_ constexpr std::uint16_t kReleaseBeta = 0x04;
ZEBLIX_INLINE_ constexpr std::uint16_t kReleaseRelease = 0x08;
ZEBLIX_INLINE_ constexpr std::uint16_t kReleaseDemo = 0x10;
ZEBLIX_INLINE_ constexpr std::uint16_t kReleaseCustomerSpecific = 0x20;
ZEBLIX_INLINE_ constexpr std::uint16_t kReleaseUpdate = 0x40;

enum class FileType : std::uint16_t {
  kExecutable = 1,
  kDynamicLinkLibrary = 2,
  kStaticLinkLibrary = 3,
  kDeviceDriver = 4,
};

enum class OperatingSystem : std::uint16_t {
  kWindows16Bit = 1,
  kWindows32Bit = 2,
  kDos = 3,
  kOs2_16Bit = 4,
  kOs2Pm16Bit = 5,
  kOs2_32Bit = 6,
  kOs2Pm32Bit = 7,
  kMacintosh = 8,
  kIbmOs400 = 9,
  kHpHpux = 10,
  kIbmAix = 11,
  kAttGis = 12,
  kDigitalUnix = 13,
  kSunSolaris = 14,
  kCompaqTru64 = 15,
  kSinixRm = 16,
  kScoUnixware = 17,
  kIbmOpenEdition = 18,
  kLinuxX86 = 19,
  kLinuxAlphaAxp = 20,
  kIbmS390Unix = 21,
  kHpHpux10_20 = 22,
  kHpHpux11 = 23,
  kHpHpux11_64Bit = 24,
  kIbmAix4 = 25,
  kIbmAix4Alternate = 26,
  kIbmAix4_3 = 27,
  kIbmAix4_3_64Bit = 28,
  kIbmAix4_4 = 29,
  kIbmAix4_4_64Bit = 30,
  kSunSolaris7 = 31,
  kSunSolaris7_64Bit = 32,
  kSunSolaris8 = 33,
  kSunSolaris8_64Bit = 34,
  kReliantUnix64Bit = 35,
  kScoUnixware7 = 36,
  kWindows64Bit = 37,
  kSiemensBs2000 = 38,
  kFujitsuIclDrsNx = 39,
  kFujitsuIclDrsNxMPlus = 40,
  kPelorinSystem = 41,
  kLinuxS390 = 42,
  kIbmAix5 = 43,
  kIbmMvs = 44,
  kWindows2000 = 45,
  kWindowsNtAxp = 46,
  kIbmAix5L_5_1_64Bit = 47,
  kCompaqTru64Unix5 = 48,
  kLinuxS390_64Bit = 49,
  kLinuxItanium64Bit = 50,
  kSunSolaris9_64Bit = 51,
  kWindowsXpItanium64Bit = 52,
  kIbmAix5L_5_1_32Bit = 53,
  kLinuxX86Ng = 54,
  kLinuxS390Ng = 55,
  kHpUx11Itanium64Bit = 56,
  kIbmMainframeVse = 57,
  kLinuxX86_64Bit = 58,
  kOpenVmsAlpha = 59,
  kOpenVmsItanium = 60,
  kSunSolaris10 = 61,
  kSunSolaris9_32Bit = 62,
  kIbmMainframeVmCms = 63,
  kLinuxIa64Ng = 64,
  kWindowsVista = 65,
  kWindowsVista64Bit = 66,
  kIbmMainframeVseCics = 67,
  kSolaris10X86_64Bit = 68,
  kHpUx11Itanium32Bit = 69,
  kWindowsVisualStudio2008 = 70,
  kWindowsVisualStudio2008_64Bit = 71,
  kAix6_1_64Bit = 72,
  kAix6_1_32Bit = 73,
  kWindowsVisualStudio2012 = 74,
  kWindowsVisualStudio2012_64Bit = 75,
  kSunSolaris10_64Bit = 76,
  kMacOsX = 77,
  kMacOsX64Bit = 78,
  kWindowsVisualStudio2015 = 79,
  kWindowsVisualStudio2015_64Bit = 80,
};

}  // namespace zeblix
#endif /* C++11 */

#if defined(__cplusplus) && __cplusplus >= 202002L
// C++20: zeblix::MakeVersionBlock builds the same block at compile time, checking every field.
// The layout once more:
//
//   offset size  content                      offset size  content
//        0   40  eyecatcher                      936   40  ProductName, text
//       40    4  InternalId 0xDD22AACC          1016   20  BuildNumber, text
//       84   40  Company, text                  1076    2  PatchLevel, signed
//      164   40  Description, text              1118    2  ReleaseMask, bit set
//      244   20  ProductVersion, text           1160    2  FileOS, code
//      304   40  InternalName, text             1202    2  FileType, code
//      384  512  CopyRight, text
//
// and every field is followed by the 40-byte delimiter (39 characters and a NUL). Texts are
// NUL-padded; numbers are in the byte order of the machine the product is built for.
//
//   #include <zeblix/version_block.h>
//   [[gnu::used]] extern const zeblix::VersionBlock kProductVersion = zeblix::MakeVersionBlock({
//       .company = "Acme", .description = "Acme Widget", .product_version = "1.2.3",
//       .internal_name = "WIDGET", .copyright = "Copyright (C) Acme", .product_name = "widget",
//       .build_number = "77", .patch_level = 2,
//       .release_mask = zeblix::kReleaseBeta | zeblix::kReleaseRelease,
//       .file_os = zeblix::OperatingSystem::kLinuxX86_64Bit,
//       .file_type = zeblix::FileType::kExecutable});
//
// A text that does not fit its field, holds the delimiter text, a dollar sign (which cuts the
// reported text) or a NUL byte, or would hide the delimiter that closes it, fails to compile.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zeblix/byte_order.h"

namespace zeblix {

inline constexpr std::size_t kBlockSize = 1244;
inline constexpr std::size_t kEyeCatchSize = 40;
inline constexpr std::size_t kDelimiterSize = 40;

// The eyecatcher is kept in two parts so that a program holding this header does not hold the
// whole eyecatcher anywhere but in its blocks.
inline constexpr std::string_view kEyeCatchHead = "QuorvantisXZEBLIX";
inline constexpr std::string_view kEyeCatchTail = "zeblixXQuorvantis61100";
inline constexpr std::string_view kDelimiterText = "ZEBLIXQuorvantisXZEBLIXzeblixQuorvantis";
static_assert(kEyeCatchHead.size() + kEyeCatchTail.size() + 1 == kEyeCatchSize);
static_assert(kDelimiterText.size() + 1 == kDelimiterSize);

// InternalId as written; read back reversed it marks a block from a machine of the other order.
inline constexpr std::uint32_t kInternalId = 0xDD22AACC;

// Where a field lies in a block laid out at full width, and in the parsed record.
struct FieldSlot {
  std::size_t offset;
  std::size_t width;
};

inline constexpr FieldSlot kInternalIdSlot{40, 4};
inline constexpr FieldSlot kCompanySlot{84, 40};
inline constexpr FieldSlot kDescriptionSlot{164, 40};
inline constexpr FieldSlot kProductVersionSlot{244, 20};
inline constexpr FieldSlot kInternalNameSlot{304, 40};
inline constexpr FieldSlot kCopyRightSlot{384, 512};
inline constexpr FieldSlot kProductNameSlot{936, 40};
inline constexpr FieldSlot kBuildNumberSlot{1016, 20};
inline constexpr FieldSlot kPatchLevelSlot{1076, 2};
inline constexpr FieldSlot kReleaseMaskSlot{1118, 2};
inline constexpr FieldSlot kFileOsSlot{1160, 2};
inline constexpr FieldSlot kFileTypeSlot{1202, 2};

// The twelve fields in block order.
inline constexpr std::array<FieldSlot, 12> kFieldSlots = {
    kInternalIdSlot,   kCompanySlot,     kDescriptionSlot, kProductVersionSlot,
    kInternalNameSlot, kCopyRightSlot,   kProductNameSlot, kBuildNumberSlot,
    kPatchLevelSlot,   kReleaseMaskSlot, kFileOsSlot,      kFileTypeSlot};

// Each field starts one delimiter after the end of the field before it, and the last delimiter
// ends the block.
constexpr bool SlotsAreContiguous() {
  std::size_t next = kEyeCatchSize;
  for (const FieldSlot& slot : kFieldSlots) {
    if (slot.offset != next) return false;
    next = slot.offset + slot.width + kDelimiterSize;
  }
  return next == kBlockSize;
}
static_assert(SlotsAreContiguous());

// The values a product gives; unnamed texts stay empty.
struct VersionFields {
  std::string_view company;
  std::string_view description;
  std::string_view product_version;
  std::string_view internal_name;
  std::string_view copyright;
  std::string_view product_name;
  std::string_view build_number;
  std::int16_t patch_level = 0;
  std::uint16_t release_mask = 0;
  OperatingSystem file_os = OperatingSystem::kLinuxX86_64Bit;
  FileType file_type = FileType::kExecutable;
};

using VersionBlock = std::array<unsigned char, kBlockSize>;

namespace detail {

// Never defined: reaching one of these while a block is built at compile time stops the build,
// and the compiler names the function, which names the fault.
void field_text_is_longer_than_its_field();
void field_text_holds_the_delimiter_text();
void field_text_holds_a_dollar_sign();
void field_text_holds_a_nul_byte();
void field_text_hides_its_closing_delimiter();

// The delimiter search of a reader (usable at run time too): a plain left-to-right match whose
// restart only looks at the byte that broke the match. Returns where the delimiter closing the
// field was found, or -1.
constexpr long FindClosingDelimiter(const VersionBlock& block, std::size_t start,
                                    std::size_t width) {
  const std::size_t length = kDelimiterText.size();
  std::size_t matched = 0;
  for (std::size_t scanned = 0; scanned < width + length; ++scanned) {
    const char byte = static_cast<char>(block[start + scanned]);
    if (byte == kDelimiterText[matched]) {
      ++matched;
    } else {
      matched = (byte == kDelimiterText[0]) ? 1 : 0;
    }
    if (matched == length) return static_cast<long>(start + scanned + 1 - length);
  }
  return -1;
}

consteval void PlaceText(VersionBlock& block, FieldSlot slot, std::string_view text,
                         bool cut_at_dollar) {
  if (text.size() > slot.width) field_text_is_longer_than_its_field();
  if (text.find(kDelimiterText) != std::string_view::npos) field_text_holds_the_delimiter_text();
  if (cut_at_dollar && text.find('$') != std::string_view::npos) field_text_holds_a_dollar_sign();
  if (text.find('\0') != std::string_view::npos) field_text_holds_a_nul_byte();
  for (std::size_t i = 0; i < text.size(); ++i) {
    block[slot.offset + i] = static_cast<unsigned char>(text[i]);
  }
}

consteval void PlaceDelimiters(VersionBlock& block) {
  for (const FieldSlot& slot : kFieldSlots) {
    for (std::size_t i = 0; i < kDelimiterText.size(); ++i) {
      block[slot.offset + slot.width + i] = static_cast<unsigned char>(kDelimiterText[i]);
    }
  }
}

consteval void CheckEveryFieldIsClosed(const VersionBlock& block) {
  for (const FieldSlot& slot : kFieldSlots) {
    if (FindClosingDelimiter(block, slot.offset, slot.width) !=
        static_cast<long>(slot.offset + slot.width)) {
      field_text_hides_its_closing_delimiter();
    }
  }
}

}  // namespace detail

// Lays out a complete block, every field at full width, in the byte order of the target.
consteval VersionBlock MakeVersionBlock(const VersionFields& fields) {
  VersionBlock block{};
  for (std::size_t i = 0; i < kEyeCatchHead.size(); ++i) {
    block[i] = static_cast<unsigned char>(kEyeCatchHead[i]);
  }
  for (std::size_t i = 0; i < kEyeCatchTail.size(); ++i) {
    block[kEyeCatchHead.size() + i] = static_cast<unsigned char>(kEyeCatchTail[i]);
  }
  detail::PlaceDelimiters(block);
  StoreInOrder<std::uint32_t>(&block[kInternalIdSlot.offset], kInternalId, std::endian::native);
  detail::PlaceText(block, kCompanySlot, fields.company, true);
  detail::PlaceText(block, kDescriptionSlot, fields.description, true);
  detail::PlaceText(block, kProductVersionSlot, fields.product_version, true);
  detail::PlaceText(block, kInternalNameSlot, fields.internal_name, true);
  detail::PlaceText(block, kCopyRightSlot, fields.copyright, true);
  detail::PlaceText(block, kProductNameSlot, fields.product_name, true);
  detail::PlaceText(block, kBuildNumberSlot, fields.build_number, false);
  StoreInOrder<std::uint16_t>(&block[kPatchLevelSlot.offset],
                              static_cast<std::uint16_t>(fields.patch_level), std::endian::native);
  StoreInOrder<std::uint16_t>(&block[kReleaseMaskSlot.offset], fields.release_mask,
                              std::endian::native);
  StoreInOrder<std::uint16_t>(&block[kFileOsSlot.offset],
                              static_cast<std::uint16_t>(fields.file_os), std::endian::native);
  StoreInOrder<std::uint16_t>(&block[kFileTypeSlot.offset],
                              static_cast<std::uint16_t>(fields.file_type), std::endian::native);
  detail::CheckEveryFieldIsClosed(block);
  return block;
}

}  // namespace zeblix

#endif /* C++20 */

#if defined(__cplusplus) && __cplusplus >= 201103L && __cplusplus < 202002L
// Below C++20 the block cannot be built at compile time: these names exist so that code written
// for MakeVersionBlock says what it needs, rather than meeting an unknown name.
#include <array>

namespace zeblix {

struct VersionFields {
  const char* company;
  const char* description;
  const char* product_version;
  const char* internal_name;
  const char* copyright;
  const char* product_name;
  const char* build_number;
  std::int16_t patch_level;
  std::uint16_t release_mask;
  OperatingSystem file_os;
  FileType file_type;
};

typedef std::array<unsigned char, 1244> VersionBlock;

template <int kNeedsCpp20 = 0>
VersionBlock MakeVersionBlock(const VersionFields&) {
  static_assert(kNeedsCpp20 != 0,
                "zeblix::MakeVersionBlock builds the block at compile time and needs C++20: "
                "compile this file with -std=c++20 (CMake: target_compile_features(TARGET "
                "PRIVATE cxx_std_20)), or write the block with ZEBLIX_VERSION_BLOCK");
  return VersionBlock();
}

}  // namespace zeblix
#endif /* C++11 to C++17 */
#endif /* ZEBLIX_VERSION_BLOCK_H */
