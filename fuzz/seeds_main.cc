// Writes the made seeds into a directory: tagkit_fuzz_seeds DIR
#include <cstdio>
#include <fstream>

#include "fuzz_seeds.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  for (const auto& seed : tagkit_fuzz::MadeSeeds()) {
    std::ofstream out(std::string(argv[1]) + "/made-" + seed.first,
                      std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(seed.second.data()),
              static_cast<std::streamsize>(seed.second.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", seed.first.c_str());
      return 1;
    }
  }
  return 0;
}
