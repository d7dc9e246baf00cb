#include "tag_inspect.h"

namespace tagkit_test {

std::size_t TagLength(const Bytes& file) {
  if (file.size() < 10 || file[0] != 'I' || file[1] != 'D' || file[2] != '3') return 0;
  std::size_t size = (std::size_t{file[6]} << 21) | (std::size_t{file[7]} << 14) |
                     (std::size_t{file[8]} << 7) | file[9];
  return 10 + size;
}

std::string V1Text(const Bytes& trailer, std::size_t offset) {
  std::string text;
  for (std::size_t i = offset; i < offset + 30 && i < trailer.size() && trailer[i] != 0; ++i) {
    text.push_back(static_cast<char>(trailer[i]));
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

Bytes Utf16Le(const std::string& utf8) {
  Bytes out;
  for (wchar_t c : Widen(utf8)) {
    std::uint32_t cp = static_cast<std::uint32_t>(c);
    auto unit = [&out](std::uint32_t u) {
      out.push_back(static_cast<std::uint8_t>(u & 0xFF));
      out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

}  // namespace tagkit_test
