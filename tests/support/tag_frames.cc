#include "tag_frames.h"

#include <cstring>

namespace tagkit_test {

std::size_t TagLength(const Bytes& file) {
  if (file.size() < 10 || std::memcmp(file.data(), "ID3", 3) != 0) return 0;
  return 10 + ((std::size_t{file[6]} << 21) | (std::size_t{file[7]} << 14) |
               (std::size_t{file[8]} << 7) | file[9]);
}

std::vector<std::pair<std::string, Bytes>> ReadFrames(const Bytes& file) {
  std::vector<std::pair<std::string, Bytes>> frames;
  const std::size_t end = TagLength(file);
  if (end == 0 || end > file.size()) return frames;
  const bool v22 = file[3] == 2;
  const bool v24 = file[3] == 4;
  const std::size_t header = v22 ? 6 : 10;
  // Plain big-endian, or with 7 bits per byte (sync-safe).
  auto number = [&file](std::size_t at, int bytes, int bits = 8) {
    std::size_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << bits) | file[at + i];
    return value;
  };
  std::size_t at = 10;
  if (!v22 && (file[5] & 0x40) != 0 && at + 4 <= end) {  // extended header
    at += v24 ? number(at, 4, 7) : 4 + number(at, 4);
  }
  while (at + header <= end && file[at] != 0) {
    const std::size_t size = v22 ? number(at + 3, 3) : number(at + 4, 4, v24 ? 7 : 8);
    if (at + header + size > end) break;
    frames.emplace_back(std::string(file.begin() + at, file.begin() + at + (v22 ? 3 : 4)),
                        Bytes(file.begin() + at + header, file.begin() + at + header + size));
    at += header + size;
  }
  return frames;
}

std::vector<Bytes> FramesWithId(const Bytes& file, const std::string& id) {
  std::vector<Bytes> out;
  for (const auto& frame : ReadFrames(file)) {
    if (frame.first == id) out.push_back(frame.second);
  }
  return out;
}

Bytes AudioPart(const Bytes& file) {
  const std::size_t begin = TagLength(file);
  const std::size_t end = file.size() - Id3v1Part(file).size();
  return begin > end ? Bytes() : Bytes(file.begin() + begin, file.begin() + end);
}

Bytes Id3v1Part(const Bytes& file) {
  if (file.size() < 128 || std::memcmp(file.data() + file.size() - 128, "TAG", 3) != 0) return {};
  return Bytes(file.end() - 128, file.end());
}

const Bytes& TagAudio() {
  static const Bytes audio = Audio(3000);
  return audio;
}

Bytes TaggedFile(int major, const Bytes& frames, const Bytes& v1) {
  return Concat({Id3v2Tag(static_cast<std::uint8_t>(major), 0, Concat({frames, Bytes(64, 0)})),
                 TagAudio(), v1});
}

}  // namespace tagkit_test
