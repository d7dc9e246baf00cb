// Reads back what a test wrote: the frames of an ID3v2.2/2.3 tag (without
// unsynchronisation) and the bytes between the tag and the ID3v1 trailer.
#ifndef TAGKIT_TESTS_SUPPORT_TAG_FRAMES_H_
#define TAGKIT_TESTS_SUPPORT_TAG_FRAMES_H_

#include <string>
#include <vector>

#include <gtest/gtest.h>

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

// An ID3v2 tag of the major version (2 or 3) with the frames and 64 bytes of
// padding, then TagAudio(), then v1.
Bytes TaggedFile(int major, const Bytes& frames, const Bytes& v1 = Bytes());
const Bytes& TagAudio();

// A test that works on one file, song.mp3, in its own directory.
class SongFileTest : public ::testing::Test {
 protected:
  void Write(const Bytes& bytes) { WriteFile(dir_.File("song.mp3"), bytes); }
  std::wstring WPath() const { return dir_.WFile("song.mp3"); }
  Bytes Read() const { return ReadFile(dir_.File("song.mp3")); }

  TempDir dir_;
};

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_TAG_FRAMES_H_
