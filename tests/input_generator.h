// Random product files for the tests that hold two scanners against each other: random bytes rich
// in the bytes that start an eyecatcher or a magic, valid and damaged blocks in either byte order,
// hiding prefixes, old records, and files cut at any length. The same seed gives the same files.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "tests/block_writer.h"

class InputGenerator {
 public:
  explicit InputGenerator(std::uint64_t seed) : random_(seed) {}

  std::string File();
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

 private:
  char NoisyByte();
  std::string Noise(int max);
  testdata::BlockFields RandomFields();
  testdata::Order AnyOrder();
  std::string Damaged(std::string block);
  std::string Piece();

  std::mt19937_64 random_;
};
