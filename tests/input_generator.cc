// The random product files: a sequence of pieces, each a block, a damaged block, a partial
// eyecatcher or delimiter, an old record, a lone magic or noise.
#include "tests/input_generator.h"

using namespace testdata;

std::string InputGenerator::File() {
  std::string file;
  const int pieces = Between(1, 10);
  for (int i = 0; i < pieces; ++i) file += Piece();
  if (Between(0, 3) == 0) file.resize(Between(0, static_cast<int>(file.size())));
  return file;
}

// Bytes that begin or continue an eyecatcher or a magic come often.
char InputGenerator::NoisyByte() {
  static const char kLikely[] = {'Q', 'u', 'o', 'X', 'Z', '\xAA', '\x11', '\xCC', '\xDD', '\0'};
  if (Between(0, 3) == 0) return kLikely[Between(0, sizeof kLikely - 1)];
  return static_cast<char>(Between(0, 255));
}

std::string InputGenerator::Noise(int max) {
  std::string bytes(static_cast<std::size_t>(Between(0, max)), '\0');
  for (char& byte : bytes) byte = NoisyByte();
  return bytes;
}

BlockFields InputGenerator::RandomFields() {
  BlockFields fields;
  fields.company = Noise(6) + "$" + Noise(3);
  fields.build_number = Noise(8);
  fields.file_os = static_cast<std::uint16_t>(Between(0, 0xFFFF));
  fields.release_mask = static_cast<std::uint16_t>(Between(0, 0xFFFF));
  return fields;
}

Order InputGenerator::AnyOrder() {
  return Between(0, 1) == 0 ? Order::kLittle : Order::kBig;
}

std::string InputGenerator::Damaged(std::string block) {
  block[static_cast<std::size_t>(Between(0, static_cast<int>(block.size()) - 1))] = NoisyByte();
  return block;
}

std::string InputGenerator::Piece() {
  switch (Between(0, 11)) {
    case 0:
      return FullWidthBlock(RandomFields(), AnyOrder());
    case 1: {
      std::vector<std::string> raw = RawFields(RandomFields(), AnyOrder());
      raw[static_cast<std::size_t>(Between(1, 7))] = Noise(60);  // sometimes too long
      return CompactBlock(raw);
    }
    case 2:
      return Damaged(FullWidthBlock(RandomFields(), AnyOrder()));
    case 3:
      return EyeCatcher();
    case 4:
      return "QuorvantisXZEBLIXzeblixX" + FullWidthBlock(RandomFields(), AnyOrder());
    case 5:
      return EyeCatcher().substr(0, static_cast<std::size_t>(Between(1, 39)));
    case 6: {
      OldFields old;
      old.release_mask = static_cast<std::uint16_t>(Between(0, 0xFFFF));
      return OldRecord(old, AnyOrder());
    }
    case 7:
      return Number32(0xDD11AACC, AnyOrder());
    case 8:
      return DelimiterText().substr(0, static_cast<std::size_t>(Between(1, 39)));
    case 9: {
      BlockFields bad = RandomFields();
      bad.internal_id = static_cast<std::uint32_t>(Between(0, 1 << 30));
      return CompactBlock(RawFields(bad, AnyOrder()));
    }
    default:
      return Noise(3000);
  }
}
