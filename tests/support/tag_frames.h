// Files for the class tests and what the class wrote into them: the frames
// of an ID3v2.2/2.3 tag (without unsynchronisation), the bytes between the
// tag and the ID3v1 trailer, and the trailer.
#ifndef TAGKIT_TESTS_SUPPORT_TAG_FRAMES_H_
#define TAGKIT_TESTS_SUPPORT_TAG_FRAMES_H_

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace tagkit_test {

using Strings = std::vector<std::wstring>;

// 10 + the tag size, or 0 without an ID3v2 tag.
std::size_t TagLength(const Bytes& file);
// Identifier and data of each frame in file order (ID3v2.4 frames with their
// extra bytes); empty without a tag.
std::vector<std::pair<std::string, Bytes>> ReadFrames(const Bytes& file);
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
  void Write(const Bytes& bytes) { WriteFile(Path(), bytes); }
  std::string Path() const { return dir_.File("song.mp3"); }
  std::wstring WPath() const { return dir_.WFile("song.mp3"); }
  Bytes Read() const { return ReadFile(Path()); }

  TempDir dir_;
};

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_TAG_FRAMES_H_
