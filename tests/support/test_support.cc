#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

#include <zlib.h>

#include "tlx_internal.h"

namespace tagkit_test {
namespace {

namespace fs = std::filesystem;

// Paths in the tests are UTF-8 on every platform.
fs::path PathOf(const std::string& utf8) {
#if defined(_WIN32)
  return fs::path(Widen(utf8));
#else
  return fs::path(utf8);
#endif
}

std::string Utf8Of(const fs::path& path) {
#if defined(_WIN32)
  const std::wstring wide = path.wstring();
  std::string out = tlx_internal::WideToUtf8(wide.data(), wide.size());
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
#else
  return path.string();
#endif
}

void RemoveTree(const fs::path& path) {
  std::error_code ignored;
  // Read-only entries (a test may leave some) must not keep the tree alive.
  for (fs::recursive_directory_iterator it(path, ignored), end; !ignored && it != end;
       it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path, ignored);
}

}  // namespace

TempDir::TempDir() {
  std::error_code error;
#if defined(_WIN32)
  fs::path root = fs::temp_directory_path(error);
#else
  const char* base = std::getenv("TMPDIR");
  fs::path root = base && *base ? fs::path(base) : fs::path("/tmp");
#endif
  if (error) throw std::runtime_error("no temporary directory");
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof(name), "tagkit-test-%08x", static_cast<unsigned>(random()));
    fs::path candidate = root / name;
    if (fs::create_directory(candidate, error)) {
      path_ = Utf8Of(candidate);
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() { RemoveTree(PathOf(path_)); }

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }
std::wstring TempDir::WFile(const std::string& name) const { return Widen(File(name)); }

std::wstring Widen(const std::string& utf8) {
  return tlx_internal::Utf8ToWide(utf8.data(), utf8.size());
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(PathOf(path), ignored);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (fs::directory_iterator it(PathOf(dir), ignored), end; !ignored && it != end;
       it.increment(ignored)) {
    if (it->is_regular_file(ignored)) names.push_back(Utf8Of(it->path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string CorpusDir() {
  std::error_code ignored;
  std::string dir = TAGKIT_CORPUS_DIR;
#if defined(_WIN32)
  // A build made on POSIX and run under Wine: the POSIX root is drive Z:.
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
#endif
  if (fs::is_directory(PathOf(dir), ignored)) return dir;
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

Bytes Frame24(const std::string& id, const Bytes& data, std::uint8_t status, std::uint8_t format) {
  return Concat({Text(id), SyncSafe(static_cast<std::uint32_t>(data.size())), {status, format}, data});
}

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress(out.data(), &size, data.data(), static_cast<uLong>(data.size())) != Z_OK) {
    throw std::runtime_error("compress failed");
  }
  out.resize(size);
  return out;
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

bool MakeDir(const std::string& path) {
  std::error_code error;
  return fs::create_directory(PathOf(path), error);
}

void SetEnv(const std::string& name, const std::string& value) {
#if defined(_WIN32)
  _wputenv_s(Widen(name).c_str(), Widen(value).c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

void UnsetEnv(const std::string& name) {
#if defined(_WIN32)
  _wputenv_s(Widen(name).c_str(), L"");  // an empty value removes it
#else
  unsetenv(name.c_str());
#endif
}

const char* TempDirVariable() {
#if defined(_WIN32)
  return "TMP";
#else
  return "TMPDIR";
#endif
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
