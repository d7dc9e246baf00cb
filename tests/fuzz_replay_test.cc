// Replays every seed and regression file through the four fuzz entry points
// without a fuzzing engine: the shared corpus, tests/data (files that once
// broke an invariant) and the made seeds. An entry point aborts on a broken
// invariant, and the sanitizer build reports what it finds.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fuzz_common.h"
#include "fuzz_seeds.h"
#include "test_support.h"

namespace {

struct Input {
  std::string name;
  tagkit_test::Bytes bytes;
};

const std::vector<Input>& Inputs() {
  static const std::vector<Input> inputs = [] {
    std::vector<Input> all;
    auto add = [&all](const std::string& dir, const std::string& label) {
      for (const std::string& name : tagkit_test::ListDir(dir)) {
        if (name.rfind("README", 0) != 0) all.push_back({label + "/" + name, tagkit_test::ReadFile(dir + "/" + name)});
      }
    };
    const std::string corpus = tagkit_test::CorpusDir();
    if (!corpus.empty()) {
      for (const char* sub : {"mutagen", "taglib"}) add(corpus + "/" + sub, sub);
    }
    const std::size_t before = all.size();
    add(std::string(TAGKIT_SOURCE_DIR) + "/tests/data", "tests/data");
    EXPECT_GT(all.size(), before) << "no regression files";
    for (auto& seed : tagkit_fuzz::MadeSeeds()) all.push_back({"made/" + seed.first, std::move(seed.second)});
    EXPECT_GT(all.size(), before + 10) << "too few made seeds";
    return all;
  }();
  return inputs;
}

void Replay(int (*entry)(const std::uint8_t*, std::size_t)) {
  for (const Input& input : Inputs()) {
    SCOPED_TRACE(input.name);
    tagkit_fuzz::SetInputName(input.name);
    EXPECT_EQ(0, entry(input.bytes.data(), input.bytes.size()));
  }
}

TEST(FuzzReplay, ClassRead) { Replay(TagkitFuzzClassRead); }
TEST(FuzzReplay, ClassWrite) { Replay(TagkitFuzzClassWrite); }
TEST(FuzzReplay, EngineRead) { Replay(TagkitFuzzEngineRead); }
TEST(FuzzReplay, Container) { Replay(TagkitFuzzContainer); }

// Every prefix of a made seed: truncation is where readers most often go
// wrong, and the cut points here are in every structure at once.
TEST(FuzzReplay, TruncatedSeeds) {
  for (const auto& seed : tagkit_fuzz::MadeSeeds()) {
    const tagkit_fuzz::Bytes& bytes = seed.second;
    for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 4) {
      tagkit_fuzz::SetInputName("made/" + seed.first + " cut at " + std::to_string(cut));
      TagkitFuzzClassRead(bytes.data(), cut);
      TagkitFuzzEngineRead(bytes.data(), cut);
      TagkitFuzzContainer(bytes.data(), cut);
    }
  }
}

}  // namespace
