// Writes the fuzz seed corpus, one folder per entry, with the test-side block writer: valid blocks
// in both byte orders, damaged and hidden blocks, old records, and near misses.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/block_writer.h"

namespace {

using namespace testdata;

void Write(const std::string& path, const std::string& bytes) {
  if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
}

std::vector<std::string> FileSeeds() {
  BlockFields fields;
  BlockFields bad_id;
  bad_id.internal_id = 0x12345678;
  BlockFields dollars;
  dollars.company = "Ac$me";
  dollars.build_number = "12$34";
  const std::string native = FullWidthBlock(fields, NativeOrder());
  const std::string foreign = FullWidthBlock(fields, ForeignOrder());
  const std::string compact = CompactBlock(RawFields(fields, NativeOrder()));
  const std::string old_native = OldRecord(OldFields{}, NativeOrder());
  const std::string old_foreign = OldRecord(OldFields{}, ForeignOrder());
  return {
      native,
      Filler(7) + native + foreign,
      compact + compact,
      FullWidthBlock(bad_id, NativeOrder()) + native,
      FullWidthBlock(dollars, ForeignOrder()),
      "QuorvantisXZEBLIXzeblixX" + native,
      native.substr(0, 1000) + old_native,
      Filler(3) + old_foreign,
      old_native.substr(0, 391),
      EyeCatcher() + DelimiterText() + EyeCatcher(),
      Number32(0xDD11AACC, NativeOrder()) + Number32(0xDD11AACC, ForeignOrder()),
      std::string("Qu") + "\xAA\x11\xAA" + "QQuuQ\x11",
  };
}

std::vector<std::string> ParserSeeds() {
  std::vector<std::string> seeds;
  for (const std::string& file : FileSeeds()) {
    if (file.compare(0, EyeCatcher().size(), EyeCatcher()) == 0)
      seeds.push_back(file.substr(0, 1244));
  }
  std::vector<std::string> raw = RawFields(BlockFields{}, NativeOrder());
  raw[2] = DelimiterText().substr(0, 17);
  seeds.push_back(CompactBlock(raw));
  return seeds;
}

void WriteFolder(const std::string& folder, const std::vector<std::string>& seeds,
                 bool traced_too) {
  mkdir(folder.c_str(), 0755);
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    // The file entry reads its first byte as the trace switch: even for off, odd for on.
    Write(folder + "/" + std::to_string(i), seeds[i]);
    if (traced_too) Write(folder + "/" + std::to_string(i) + "-traced", "\x01" + seeds[i]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SEED_DIR\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  mkdir(root.c_str(), 0755);
  std::vector<std::string> file_seeds;
  for (const std::string& seed : FileSeeds()) file_seeds.push_back(std::string(1, '\0') + seed);
  WriteFolder(root + "/file", file_seeds, true);
  WriteFolder(root + "/library", FileSeeds(), false);
  std::vector<std::string> odd_texts = FileSeeds();
  BlockFields odd;
  odd.company = "\xff\xfe\x80 not UTF-8";
  odd.description = "caf\xc3\xa9 \"quoted\" \\ \x01\x1f";
  odd_texts.push_back("path\xff\n\t\"x" + FullWidthBlock(odd, NativeOrder()));
  WriteFolder(root + "/inventory_line", odd_texts, false);
  WriteFolder(root + "/parser", ParserSeeds(), false);
  // Packing: a format and a compression, then files split at "\n--\n": blocks, zeros before a
  // block, a block cut short, nothing, and bytes that begin like a packed stream.
  const std::string block = FullWidthBlock(BlockFields{}, NativeOrder());
  const std::string files = block + "\n--\n" + std::string(512, '\0') + block + "\n--\n" +
                            block.substr(0, 700) + "\n--\n\n--\n" + "\x1f\x8b\x08" + block +
                            "\n--\nPK\x03\x04" + block + "\n--\n7z\xbc\xaf\x27\x1c" + block;
  std::vector<std::string> packings;
  for (char choice = 0; choice < 9; ++choice) packings.push_back({choice, choice, 0});
  for (std::string& packing : packings) packing = packing.substr(0, 2) + files;
  WriteFolder(root + "/packing", packings, false);
  WriteFolder(root + "/svrlog",
              {"0x102", "-1", "", "0x", "258", "0xffffffff", "  +0X1002zz",
               "99999999999999999999999", std::string(700, '7') + "%s%n"},
              false);
  return 0;
}
