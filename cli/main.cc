// zeblix: reports the version blocks compiled into product files.
#include <cstring>

#include "cli/argument_walk.h"
#include "data/own_version_block.h"

int main(int argc, char** argv) {
  // A copy of the utility's own block; taking it keeps the block in the image.
  unsigned char own_record[zeblix::kBlockSize];
  std::memcpy(own_record, V_ZEBLIX.data(), sizeof own_record);
  return WalkArguments(argc, argv);
}
