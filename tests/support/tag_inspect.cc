#include "tag_inspect.h"

#include <cstdio>
#include <cstdlib>

namespace tagkit_test {

Bytes Enc0(const std::string& text) { return Concat({{0}, Text(text), {0}}); }

Bytes Enc1(const std::string& utf8) {
  Bytes out = {1, 0xFF, 0xFE};
  auto unit = [&out](std::uint32_t u) { out.insert(out.end(), {std::uint8_t(u), std::uint8_t(u >> 8)}); };
  for (wchar_t c : Widen(utf8)) {
    const std::uint32_t cp = static_cast<std::uint32_t>(c);
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  out.insert(out.end(), {0, 0});
  return out;
}

std::string V1Text(const Bytes& file, std::size_t offset, std::size_t width) {
  const Bytes trailer = Id3v1Part(file);
  std::string text;
  for (std::size_t i = offset; i < offset + width && i < trailer.size() && trailer[i] != 0; ++i) {
    text.push_back(static_cast<char>(trailer[i]));
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7);
  return out;
}

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) out += {kDigits[b >> 4], kDigits[b & 15]};
  return out;
}

std::string MutagenPython() {
#if !defined(_WIN32)
  // Debian's interpreter first: another python3 on the PATH may lack the
  // distribution's packages.
  for (const char* python : {"/usr/bin/python3", "python3"}) {
    const std::string probe = std::string(python) + " -c 'import mutagen.id3' >/dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return python;
  }
#endif
  return "";
}

std::vector<std::string> RunPython(const std::string& python, const std::string& script, const std::string& file) {
  std::vector<std::string> lines;
#if !defined(_WIN32)
  TempDir dir;
  WriteFile(dir.File("script.py"), Text(script));
  FILE* pipe = popen((python + " '" + dir.File("script.py") + "' '" + file + "' 2>&1").c_str(), "r");
  if (pipe == nullptr) return lines;
  std::string line;
  for (int c; (c = std::fgetc(pipe)) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
    } else {
      lines.push_back(line);
      line.clear();
    }
  }
  pclose(pipe);
#else
  (void)python, (void)script, (void)file;  // no independent reader there
#endif
  return lines;
}

}  // namespace tagkit_test
