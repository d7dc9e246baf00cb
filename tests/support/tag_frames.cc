#include "tag_frames.h"

#include <cstring>

namespace tagkit_test {
namespace {

std::size_t TagEnd(const Bytes& file) {
  if (file.size() < 10 || std::memcmp(file.data(), "ID3", 3) != 0) return 0;
  std::size_t size = (std::size_t(file[6] & 0x7F) << 21) | (std::size_t(file[7] & 0x7F) << 14) |
                     (std::size_t(file[8] & 0x7F) << 7) | std::size_t(file[9] & 0x7F);
  return 10 + size;
}

}  // namespace

std::vector<RawFrame> ReadFrames(const Bytes& file) {
  std::vector<RawFrame> frames;
  std::size_t end = TagEnd(file);
  if (end == 0 || end > file.size()) return frames;
  const int major = file[3];
  const std::size_t header = major == 2 ? 6 : 10;
  const std::size_t idLength = major == 2 ? 3 : 4;
  std::size_t at = 10;
  if (major == 3 && (file[5] & 0x40) != 0 && at + 4 <= end) {
    at += 4 + ((std::size_t(file[at]) << 24) | (std::size_t(file[at + 1]) << 16) |
               (std::size_t(file[at + 2]) << 8) | std::size_t(file[at + 3]));
  }
  while (at + header <= end && file[at] != 0) {
    RawFrame frame;
    frame.id.assign(file.begin() + at, file.begin() + at + idLength);
    std::size_t size = major == 2 ? (std::size_t(file[at + 3]) << 16) | (std::size_t(file[at + 4]) << 8) |
                                        std::size_t(file[at + 5])
                                  : (std::size_t(file[at + 4]) << 24) | (std::size_t(file[at + 5]) << 16) |
                                        (std::size_t(file[at + 6]) << 8) | std::size_t(file[at + 7]);
    if (at + header + size > end) break;
    frame.data.assign(file.begin() + at + header, file.begin() + at + header + size);
    frames.push_back(frame);
    at += header + size;
  }
  return frames;
}

std::vector<Bytes> FramesWithId(const Bytes& file, const std::string& id) {
  std::vector<Bytes> out;
  for (const RawFrame& frame : ReadFrames(file)) {
    if (frame.id == id) out.push_back(frame.data);
  }
  return out;
}

Bytes AudioPart(const Bytes& file) {
  std::size_t begin = TagEnd(file);
  std::size_t end = file.size();
  if (end >= 128 && std::memcmp(file.data() + end - 128, "TAG", 3) == 0) end -= 128;
  if (begin > end) return Bytes();
  return Bytes(file.begin() + begin, file.begin() + end);
}

Bytes Id3v1Part(const Bytes& file) {
  if (file.size() >= 128 && std::memcmp(file.data() + file.size() - 128, "TAG", 3) == 0) {
    return Bytes(file.end() - 128, file.end());
  }
  return Bytes();
}

const Bytes& TagAudio() {
  static const Bytes audio = Audio(3000);
  return audio;
}

Bytes TaggedFile(int major, const Bytes& frames, const Bytes& v1) {
  return Concat({Id3v2Tag(static_cast<std::uint8_t>(major), 0, Concat({frames, Bytes(64, 0)})), TagAudio(), v1});
}

}  // namespace tagkit_test
