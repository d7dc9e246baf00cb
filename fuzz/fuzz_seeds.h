// Small files that reach every branch of the readers quickly: tags of both
// versions with every kind of frame the library reads, the header and frame
// flags, ID3v1 trailers, container files, and files that declare far more
// bytes than they hold.
#ifndef TAGKIT_FUZZ_FUZZ_SEEDS_H_
#define TAGKIT_FUZZ_FUZZ_SEEDS_H_

#include <string>
#include <utility>
#include <vector>

#include "fuzz_common.h"

namespace tagkit_fuzz {

std::vector<std::pair<std::string, Bytes>> MadeSeeds();

}  // namespace tagkit_fuzz

#endif  // TAGKIT_FUZZ_FUZZ_SEEDS_H_
