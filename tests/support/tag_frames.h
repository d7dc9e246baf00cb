// Reads back what a test wrote: the frames of an ID3v2.2/2.3 tag (without
// unsynchronisation) and the bytes between the tag and the ID3v1 trailer.
#ifndef TAGKIT_TESTS_SUPPORT_TAG_FRAMES_H_
#define TAGKIT_TESTS_SUPPORT_TAG_FRAMES_H_

#include <string>
#include <vector>

#include "test_support.h"

namespace tagkit_test {

struct RawFrame {
  std::string id;
  Bytes data;
};

// Frames in file order; empty when the file has no ID3v2 tag.
std::vector<RawFrame> ReadFrames(const Bytes& file);
// Data of every frame with the identifier, in file order.
std::vector<Bytes> FramesWithId(const Bytes& file, const std::string& id);
// The bytes after the ID3v2 tag and before an ID3v1 trailer.
Bytes AudioPart(const Bytes& file);
// The 128-byte ID3v1 trailer, or empty.
Bytes Id3v1Part(const Bytes& file);

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_TAG_FRAMES_H_
