// C and assembler leave the numbers to the target's compiler and assembler, so that a cross build
// gets the target's byte order; raw bytes take the order asked for. Texts are written with octal
// escapes for every byte that is not printable ASCII, so any bytes survive any toolchain.
#include "block/block_output.h"

#include <cstdio>
#include <string_view>

namespace {

struct Name {
  std::uint16_t code;
  const char* constant;
};

#define ZEBLIX_OS_NAME_(code, name, text) {code, "ZEBLIX_OS_" #name},
#define ZEBLIX_FILE_TYPE_NAME_(code, name, text) {code, "ZEBLIX_FILE_TYPE_" #name},
#define ZEBLIX_RELEASE_NAME_(code, name, text) {code, "ZEBLIX_RELEASE_" #name},
constexpr Name kOsNames[] = {ZEBLIX_OS_LIST(ZEBLIX_OS_NAME_)};
constexpr Name kFileTypeNames[] = {ZEBLIX_FILE_TYPE_LIST(ZEBLIX_FILE_TYPE_NAME_)};
constexpr Name kReleaseNames[] = {ZEBLIX_RELEASE_LIST(ZEBLIX_RELEASE_NAME_)};

// A code as the constant that names it, or as a number.
template <std::size_t N>
std::string CodeName(std::uint16_t code, const Name (&names)[N]) {
  for (const Name& name : names) {
    if (name.code == code) return name.constant;
  }
  return std::to_string(code);
}

std::string ReleaseNames(std::uint16_t mask) {
  std::string names;
  for (const Name& name : kReleaseNames) {
    if ((mask & name.code) == 0) continue;
    if (!names.empty()) names += " | ";
    names += name.constant;
    mask = static_cast<std::uint16_t>(mask & ~name.code);
  }
  if (mask != 0 || names.empty()) names += (names.empty() ? "" : " | ") + std::to_string(mask);
  return names;
}

// A quoted string for C or GNU as: printable ASCII as it is (but quotes, backslashes and question
// marks, which could start a trigraph), every other byte as a three-digit octal escape.
std::string Quoted(std::string_view bytes) {
  std::string quoted = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\' && c != '?') {
      quoted += c;
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\%03o", byte);
      quoted += escape;
    }
  }
  return quoted + "\"";
}

std::string CSource(const BlockRequest& r) {
  std::string text =
      "/* A zeblix version block, written by zeblix-block. */\n"
      "#include <zeblix/version_block.h>\n\n"
      "ZEBLIX_VERSION_BLOCK(" +
      r.symbol + ",\n";
  for (const std::string& field : r.texts) text += "                     " + Quoted(field) + ",\n";
  text += "                     " + std::to_string(r.patch_level) + ",\n";
  text += "                     " + ReleaseNames(r.release_mask) + ",\n";
  text += "                     " + CodeName(r.file_os, kOsNames) + ",\n";
  text += "                     " + CodeName(r.file_type, kFileTypeNames) + ");\n";
  return text;
}

// GNU as for ELF targets: the texts as bytes, the numbers as the target's words, in a section of
// its own that the linker keeps ("R") and --gc-sections does not drop.
std::string Assembler(const BlockRequest& r) {
  const zeblix::VersionBlock block = LayOutBlock(r, std::endian::native);
  const std::string& s = r.symbol;
  std::string text =
      "/* A zeblix version block, written by zeblix-block. */\n"
      "\t.section .rodata." +
      s +
      ",\"aR\",%progbits\n"
      "\t.globl " +
      s + "\n\t.type " + s + ", %object\n\t.size " + s + ", " + std::to_string(zeblix::kBlockSize) +
      "\n\t.balign 4\n" + s + ":\n";
  const auto bytes = [&](std::size_t from, std::size_t to) {
    for (std::size_t at = from; at < to; at += 64) {
      const std::size_t end = std::min(to, at + 64);
      text +=
          "\t.ascii " + Quoted({reinterpret_cast<const char*>(block.data()) + at, end - at}) + "\n";
    }
  };
  const std::pair<zeblix::FieldSlot, unsigned long> numbers[] = {
      { zeblix::kInternalIdSlot,                       zeblix::kInternalId},
      { zeblix::kPatchLevelSlot, static_cast<std::uint16_t>(r.patch_level)},
      {zeblix::kReleaseMaskSlot,                            r.release_mask},
      {     zeblix::kFileOsSlot,                                 r.file_os},
      {   zeblix::kFileTypeSlot,                               r.file_type},
  };
  std::size_t at = 0;
  for (const auto& [slot, value] : numbers) {
    bytes(at, slot.offset);
    text += "\t." + std::to_string(slot.width) + "byte " + std::to_string(value) + "\n";
    at = slot.offset + slot.width;
  }
  bytes(at, zeblix::kBlockSize);
  return text + "\t.section .note.GNU-stack,\"\",%progbits\n";
}

}  // namespace

std::string BlockText(const BlockRequest& request) {
  switch (request.format) {
    case BlockFormat::kC:
      return CSource(request);
    case BlockFormat::kAsm:
      return Assembler(request);
    case BlockFormat::kRaw:
      break;
  }
  const zeblix::VersionBlock block = LayOutBlock(request, request.byte_order);
  return {reinterpret_cast<const char*>(block.data()), block.size()};
}
