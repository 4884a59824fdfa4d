// What zeblix-block is asked to write: the fields of one version block, checked as the reader will
// read them, and the form to write it in.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>

#include "zeblix/version_block.h"

enum class BlockFormat { kC, kAsm, kRaw };

// The seven texts, in block order, with the option that names each.
struct TextField {
  const char* option;
  zeblix::FieldSlot slot;
  bool cut_at_dollar;  // the reader cuts this text at a dollar sign
};
inline constexpr std::array<TextField, 7> kTextFields = {
    {
     {"company", zeblix::kCompanySlot, true},
     {"description", zeblix::kDescriptionSlot, true},
     {"product-version", zeblix::kProductVersionSlot, true},
     {"internal-name", zeblix::kInternalNameSlot, true},
     {"copyright", zeblix::kCopyRightSlot, true},
     {"product-name", zeblix::kProductNameSlot, true},
     {"build-number", zeblix::kBuildNumberSlot, false},
     }
};

struct BlockRequest {
  std::array<std::string, kTextFields.size()> texts;
  std::int16_t patch_level = 0;
  std::uint16_t release_mask = 0;
  std::uint16_t file_os = ZEBLIX_OS_LINUX_X86_64BIT;
  std::uint16_t file_type = ZEBLIX_FILE_TYPE_EXECUTABLE;
  BlockFormat format = BlockFormat::kC;
  std::endian byte_order = std::endian::native;  // of the raw bytes
  bool byte_order_given = false;
  std::string symbol = "zeblix_version_block";
  std::string output;  // empty: standard output
};

enum class RequestOutcome { kWrite, kHelp, kVersion, kRefused };

// Fills `request` from the command line and checks every field; on kRefused, `message` names the
// option and what is wrong with its value.
RequestOutcome ParseBlockRequest(int argc, char** argv, BlockRequest& request,
                                 std::string& message);

// The block as the reader will find it, in `order`.
zeblix::VersionBlock LayOutBlock(const BlockRequest& request, std::endian order);

// The text of --help.
extern const char* const kBlockUsage;
