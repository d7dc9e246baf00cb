#include "test_support.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tagkit_test {
namespace {

void RemoveTree(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir != nullptr) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string child = path + "/" + name;
      struct stat st;
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        chmod(child.c_str(), 0700);
        RemoveTree(child);
      } else {
        unlink(child.c_str());
      }
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

}  // namespace

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tagkit-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }
std::wstring TempDir::WFile(const std::string& name) const { return Widen(File(name)); }

std::wstring Widen(const std::string& utf8) {
  std::wstring out;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    std::uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += extra + 1;
  }
  return out;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) return names;
  while (dirent* entry = readdir(handle)) {
    std::string name = entry->d_name;
    struct stat st;
    if (stat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
  }
  closedir(handle);
  std::sort(names.begin(), names.end());
  return names;
}

std::string CorpusDir() {
  struct stat st;
  if (stat(TAGKIT_CORPUS_DIR, &st) == 0 && S_ISDIR(st.st_mode)) return TAGKIT_CORPUS_DIR;
  return "";
}

Bytes SyncSafe(std::uint32_t value) {
  return {static_cast<std::uint8_t>((value >> 21) & 0x7F), static_cast<std::uint8_t>((value >> 14) & 0x7F),
          static_cast<std::uint8_t>((value >> 7) & 0x7F), static_cast<std::uint8_t>(value & 0x7F)};
}

Bytes Be32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes Be24(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value)};
}

Bytes Id3v2Tag(std::uint8_t major, std::uint8_t flags, const Bytes& body) {
  return Concat({Text("ID3"), {major, 0, flags}, SyncSafe(static_cast<std::uint32_t>(body.size())), body});
}

Bytes Frame23(const std::string& id, const Bytes& data, std::uint8_t status, std::uint8_t format) {
  return Concat({Text(id), Be32(static_cast<std::uint32_t>(data.size())), {status, format}, data});
}

Bytes Frame22(const std::string& id, const Bytes& data) {
  return Concat({Text(id), Be24(static_cast<std::uint32_t>(data.size())), data});
}

Bytes Id3v1(const std::string& title, const std::string& artist, const std::string& album,
            const std::string& year, const std::string& comment, int track, int genre) {
  Bytes out(128, 0);
  auto put = [&out](std::size_t at, const std::string& text, std::size_t width) {
    std::memcpy(out.data() + at, text.data(), std::min(text.size(), width));
  };
  put(0, "TAG", 3);
  put(3, title, 30);
  put(33, artist, 30);
  put(63, album, 30);
  put(93, year, 4);
  put(97, comment, track >= 0 ? 28 : 30);
  if (track >= 0) {
    out[125] = 0;
    out[126] = static_cast<std::uint8_t>(track);
  }
  out[127] = static_cast<std::uint8_t>(genre);
  return out;
}

Bytes Audio(std::size_t size) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) {
    out[i] = (i % 417 == 0) ? 0xFF : (i % 417 == 1) ? 0xFB : static_cast<std::uint8_t>((i * 7) ^ (i >> 8));
  }
  return out;
}

namespace {

Bytes Latin1Text(const std::string& text) { return Concat({{0}, Text(text), {0}}); }

Bytes Utf16Text(const std::string& ascii) {
  Bytes out = {1, 0xFF, 0xFE};
  for (char c : ascii) out.insert(out.end(), {static_cast<std::uint8_t>(c), 0});
  out.insert(out.end(), {0, 0});
  return out;
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7);
  return out;
}

}  // namespace

Bytes RichFrames23(std::size_t picture_size) {
  return Concat({
      Frame23("TIT2", Utf16Text("Evening Light")),
      Frame23("TPE1", Utf16Text("The Sample Quartet")),
      Frame23("TALB", Utf16Text("Cafe Sessions")),
      Frame23("TCON", Latin1Text("(8)")),
      Frame23("TRCK", Latin1Text("3/12")),
      Frame23("TCOM", Utf16Text("A. Composer")),
      Frame23("TCOP", Latin1Text("2024 Sample Records")),
      Frame23("TSRC", Latin1Text("QZABC2400001")),
      Frame23("TYER", Latin1Text("2024")),
      Frame23("TDAT", Latin1Text("3110")),
      Frame23("TIME", Latin1Text("1200")),
      Frame23("TPE2", Utf16Text("Various")),
      Frame23("WOAR", Text("https://example.org/quartet")),
      Frame23("APIC", Concat({{0}, Text("image/jpeg"), {0, 3, 0}, Pattern(picture_size, 1)})),
      Frame23("UFID", Concat({Text("http://example.org/id"), {0}, Pattern(16, 2)})),
      Frame23("GEOB", Concat({{0}, Text("binary"), {0, 0}, Text("USR_MTDID"), {0},
                              Pattern(512, 3)})),
      Frame23("GEOB", Concat({{0}, Text("application/QZVLX"), {0, 0}, Text("USR_QZVLX"), {0},
                              Pattern(1024, 4)})),
  });
}

}  // namespace tagkit_test
